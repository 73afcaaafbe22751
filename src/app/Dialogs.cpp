#include "app/Dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QTreeView>

namespace rszorvik {

namespace {

Dialogs* installed = nullptr;

// Qt's own chooser gives its columns fixed widths, which cut off the file types; each column takes the
// width of its contents, the name the rest. A desktop's native chooser has no such view and is left alone.
void fitColumns(QFileDialog& dialog) {
    auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    if (view == nullptr) return;
    view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    view->header()->setSectionResizeMode(0, QHeaderView::Stretch);
}

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

std::unique_ptr<QMessageBox> QtDialogs::questionBox(QWidget* parent, const QString& text,
                                                    const QString& title, Buttons buttons, Icon icon) {
    const auto yes = buttons == Buttons::YesNo ? QMessageBox::Yes : QMessageBox::Ok;
    const auto no = buttons == Buttons::YesNo ? QMessageBox::No : QMessageBox::Cancel;
    auto box = std::make_unique<QMessageBox>(toQt(icon), title, text, yes | no, parent);
    showsPlainText(*box);
    box->setDefaultButton(yes);
    box->setEscapeButton(no);
    return box;
}

bool QtDialogs::ask(QWidget* parent, const QString& text, const QString& title, Buttons buttons, Icon icon) {
    const auto box = questionBox(parent, text, title, buttons, icon);
    const auto yes = buttons == Buttons::YesNo ? QMessageBox::Yes : QMessageBox::Ok;
    return box->exec() == yes;
}

std::unique_ptr<QFileDialog> QtDialogs::saveFileDialog(QWidget* parent, const QString& title,
                                                       const QString& proposedPath) {
    auto dialog = std::make_unique<QFileDialog>(parent, title, proposedPath);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    // The overwrite question is the caller's, with its own texts.
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    fitColumns(*dialog);
    return dialog;
}

std::unique_ptr<QFileDialog> QtDialogs::openFileDialog(QWidget* parent, const QString& title) {
    auto dialog = std::make_unique<QFileDialog>(parent, title);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    fitColumns(*dialog);
    return dialog;
}

namespace {

QString chosen(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles().value(0);
}

}  // namespace

QString QtDialogs::chooseSaveFile(QWidget* parent, const QString& title, const QString& proposedPath) {
    return chosen(*saveFileDialog(parent, title, proposedPath));
}

QString QtDialogs::chooseOpenFile(QWidget* parent, const QString& title) {
    return chosen(*openFileDialog(parent, title));
}

int QtDialogs::exec(QDialog& dialog) {
    return dialog.exec();
}

}  // namespace rszorvik
