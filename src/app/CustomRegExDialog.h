#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;

namespace rszorvik {

// Lets the operator type an own extraction expression that replaces the preset's. OK accepts only an
// expression the settings accept (the empty text brings the preset's expression back); the result changes
// only then.
class CustomRegExDialog : public QDialog {
  public:
    CustomRegExDialog(QWidget* owner, QString regEx);

    QString getRegEx() const { return regEx; }

  private:
    void okButtonActionPerformed();

    QString regEx;
    QPlainTextEdit* regExTextArea;
};

}  // namespace rszorvik
