#include "app/Dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace rszorvik {

namespace {

Dialogs* installed = nullptr;

QMessageBox::Icon toQt(Dialogs::Icon icon) {
    switch (icon) {
        case Dialogs::Icon::Information:
            return QMessageBox::Information;
        case Dialogs::Icon::Warning:
            return QMessageBox::Warning;
        case Dialogs::Icon::Error:
            return QMessageBox::Critical;
        case Dialogs::Icon::Question:
            return QMessageBox::Question;
        case Dialogs::Icon::Plain:
            break;
    }
    return QMessageBox::NoIcon;
}

// A text holds names, paths and error messages from outside (a port may be called "<a href=...>"): Qt
// would guess rich text from a tag and make it a live link.
void showsPlainText(QMessageBox& box) {
    box.setTextFormat(Qt::PlainText);
}

}  // namespace

Dialogs& Dialogs::current() {
    static QtDialogs qtDialogs;
    return installed ? *installed : qtDialogs;
}

void Dialogs::install(Dialogs* dialogs) {
    installed = dialogs;
}

void QtDialogs::message(QWidget* parent, const QString& text, const QString& title, Icon icon) {
    QMessageBox box(toQt(icon), title, text, QMessageBox::Ok, parent);
    showsPlainText(box);
    box.exec();
}

bool QtDialogs::ask(QWidget* parent, const QString& text, const QString& title, Buttons buttons, Icon icon) {
    const auto yes = buttons == Buttons::YesNo ? QMessageBox::Yes : QMessageBox::Ok;
    const auto no = buttons == Buttons::YesNo ? QMessageBox::No : QMessageBox::Cancel;
    QMessageBox box(toQt(icon), title, text, yes | no, parent);
    showsPlainText(box);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    return box.exec() == yes;
}

QString QtDialogs::chooseSaveFile(QWidget* parent, const QString& title, const QString& proposedPath) {
    // The overwrite question is the caller's, with its own texts.
    return QFileDialog::getSaveFileName(parent, title, proposedPath, QString(), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

QString QtDialogs::chooseOpenFile(QWidget* parent, const QString& title) {
    return QFileDialog::getOpenFileName(parent, title);
}

int QtDialogs::exec(QDialog& dialog) {
    return dialog.exec();
}

}  // namespace rszorvik
