#pragma once

#include <QString>
#include <memory>

class QDialog;
class QFileDialog;
class QMessageBox;
class QWidget;

namespace rszorvik {

// Every modal interaction of the window (message boxes, questions, file choosers and the window's own
// dialogs) goes through this seam, so tests can record each call and answer it from a script instead of
// blocking on a modal dialog.
class Dialogs {
  public:
    enum class Icon { Plain, Information, Warning, Error, Question };
    enum class Buttons { YesNo, OkCancel };

    virtual ~Dialogs() = default;

    virtual void message(QWidget* parent, const QString& text, const QString& title, Icon icon) = 0;
    // True when the user chose Yes or OK; closing the question counts as No or Cancel.
    virtual bool ask(QWidget* parent, const QString& text, const QString& title, Buttons buttons,
                     Icon icon) = 0;
    // The chosen file, or an empty text when the user cancelled.
    virtual QString chooseSaveFile(QWidget* parent, const QString& title, const QString& proposedPath) = 0;
    virtual QString chooseOpenFile(QWidget* parent, const QString& title) = 0;
    // Shows one of the window's own dialogs modally and returns its result (QDialog::Accepted/Rejected).
    virtual int exec(QDialog& dialog) = 0;

    // The seam in force for the process: the Qt dialogs unless a test installed its own.
    static Dialogs& current();
    // Installs `dialogs` (not owned) for the process; nullptr goes back to the Qt dialogs.
    static void install(Dialogs* dialogs);
};

// The real dialogs.
class QtDialogs : public Dialogs {
  public:
    void message(QWidget* parent, const QString& text, const QString& title, Icon icon) override;
    bool ask(QWidget* parent, const QString& text, const QString& title, Buttons buttons, Icon icon) override;
    QString chooseSaveFile(QWidget* parent, const QString& title, const QString& proposedPath) override;
    QString chooseOpenFile(QWidget* parent, const QString& title) override;
    int exec(QDialog& dialog) override;

    // The dialogs ask(), chooseSaveFile() and chooseOpenFile() show, not yet shown: the pictures of the
    // documentation take them from here.
    static std::unique_ptr<QMessageBox> questionBox(QWidget* parent, const QString& text,
                                                    const QString& title, Buttons buttons, Icon icon);
    static std::unique_ptr<QFileDialog> saveFileDialog(QWidget* parent, const QString& title,
                                                       const QString& proposedPath);
    static std::unique_ptr<QFileDialog> openFileDialog(QWidget* parent, const QString& title);
};

}  // namespace rszorvik
