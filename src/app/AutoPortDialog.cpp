#include "app/AutoPortDialog.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QPointer>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>
#include <chrono>
#include <utility>

#include "app/CatalogText.h"
#include "app/QtExecutor.h"
#include "util/FriendlyPortUtil.h"

namespace rszorvik {

// The worker's view for as long as the worker lives: it may end after the dialog is gone (a cancelled probe
// finishes its current open or close), and then its last reports go nowhere.
class AutoPortDialog::Relay : public worker::AutoPortWorkerView {
  public:
    explicit Relay(AutoPortDialog* dialog) : dialog(dialog) {}
    void setButtonToCancel() override {
        if (dialog) dialog->setButtonToCancel();
    }
    void setButtonToClose() override {
        if (dialog) dialog->setButtonToClose();
    }
    void setPort(const std::string& name) override {
        if (dialog) dialog->setPort(name);
    }
    void update(const std::string& text, std::optional<Style> style) override {
        if (dialog) dialog->update(text, style);
    }

  private:
    QPointer<AutoPortDialog> dialog;  // all calls come on the GUI thread, where the dialog is deleted
};

AutoPortDialog::AutoPortDialog(QWidget* owner, SelectPort selectPort)
    : QDialog(owner), selectPort(std::move(selectPort)), relay(std::make_shared<Relay>(this)) {
    setObjectName(QStringLiteral("AutoPortDialog"));
    setWindowTitle(catalogText("AutoPortDialog.this.title"));
    setModal(true);

    auto* dialogPane = new QWidget(this);
    dialogPane->setObjectName(QStringLiteral("dialogPane"));
    textPane1 = new QTextEdit(dialogPane);
    textPane1->setObjectName(QStringLiteral("textPane1"));
    textPane1->setReadOnly(true);
    // Room for the start line, a few ports and the verdict without scrolling.
    const QFontMetrics metrics(textPane1->font());
    textPane1->setMinimumSize(metrics.horizontalAdvance(QLatin1Char('x')) * 50, metrics.lineSpacing() * 10);

    auto* buttonBar = new QDialogButtonBox(dialogPane);
    buttonBar->setObjectName(QStringLiteral("buttonBar"));
    okButton = buttonBar->addButton(QStringLiteral("OK"), QDialogButtonBox::ActionRole);
    okButton->setObjectName(QStringLiteral("okButton"));
    connect(okButton, &QPushButton::clicked, this, &AutoPortDialog::okButtonActionPerformed);

    auto* pane = new QVBoxLayout(dialogPane);
    pane->addWidget(textPane1, 1);
    pane->addWidget(buttonBar);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(dialogPane);
}

AutoPortDialog::~AutoPortDialog() {
    cancelWorker();
    // Probing stops at its next interruptible pause; a port is never left open behind a closed dialog, and
    // no probe outlives the program.
    if (worker) worker->awaitEnd(std::chrono::seconds(3));
}

void AutoPortDialog::start(std::vector<std::string> ports) {
    setButtonToCancel();
    // The deleter keeps the relay alive for as long as the worker may report to it.
    worker = std::shared_ptr<worker::AutoPortWorker>(
        new worker::AutoPortWorker(QtExecutor::instance(), *relay, std::move(ports)),
        [keep = relay](worker::AutoPortWorker* w) { delete w; });
    worker->execute();
}

void AutoPortDialog::setButtonToCancel() {
    okButton->setText(catalogText("AutoPortDialog.cancelButton.text"));
}

void AutoPortDialog::setButtonToClose() {
    okButton->setText(catalogText("AutoPortDialog.closeButton.text"));
}

void AutoPortDialog::setPort(const std::string& name) {
    if (name.empty() || !selectPort) return;
    selectPort(util::FriendlyPortUtil::getFriendlyPortName(name));
}

void AutoPortDialog::update(const std::string& text, std::optional<Style> style) {
    QTextCharFormat format;
    if (style) format.setFontWeight(QFont::Bold);
    if (style == Style::ALERT) format.setForeground(QColor(0xc0, 0x1c, 0x28));
    QTextCursor cursor(textPane1->document());
    cursor.movePosition(QTextCursor::End);
    const QString line = QString::fromStdString(text);
    cursor.insertText(textPane1->document()->isEmpty() ? line : QLatin1Char('\n') + line, format);
    textPane1->setTextCursor(cursor);
    textPane1->ensureCursorVisible();
}

void AutoPortDialog::okButtonActionPerformed() {
    if (worker && !worker->isDone()) {
        cancelWorker();
        setButtonToClose();
    } else {
        close();
    }
}

void AutoPortDialog::cancelWorker() {
    if (worker && !worker->isDone()) worker->cancel(true);
}

void AutoPortDialog::closeEvent(QCloseEvent* event) {
    cancelWorker();
    QDialog::closeEvent(event);
}

void AutoPortDialog::reject() {
    // Escape closes the dialog like the title bar does: probing must not go on unseen.
    cancelWorker();
    QDialog::reject();
}

}  // namespace rszorvik
