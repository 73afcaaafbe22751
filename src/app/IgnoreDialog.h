#pragma once

#include <QDialog>
#include <QString>

#include "config/Config.h"

class QLineEdit;

namespace rszorvik {

// The two settings of the duplicate filter: the time limit in milliseconds and the tolerance. The results
// start as the record's values and change only by an OK with acceptable texts; empty texts switch the
// respective criterion off.
class IgnoreDialog : public QDialog {
  public:
    IgnoreDialog(QWidget* owner, const config::Config& config);

    QString getIgnoreTimeLimit() const { return ignoreTimeLimit; }
    QString getIgnoreDifference() const { return ignoreDifference; }

  private:
    void okButtonActionPerformed();

    QString ignoreTimeLimit;
    QString ignoreDifference;
    QLineEdit* ignoreTimeLimitTextField;
    QLineEdit* ignoreDifferenceTextField;
};

}  // namespace rszorvik
