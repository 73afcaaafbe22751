#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "worker/AutoPortWorker.h"

class QPushButton;
class QTextEdit;

namespace rszorvik {

// Shows the progress of a port detection and lets the operator cancel it. The button reads "OK" until
// start(), Cancel while the ports are probed and Close once probing has ended or was cancelled (in the
// window's language). The port
// found is handed to `selectPort` as the entry to select in the owner's port box (its friendly name when
// the port list knows it) as soon as probing ends.
class AutoPortDialog : public QDialog, public worker::AutoPortWorkerView {
  public:
    using SelectPort = std::function<void(const std::string&)>;

    AutoPortDialog(QWidget* owner, SelectPort selectPort);
    // Cancels a detection that is still running.
    ~AutoPortDialog() override;
    AutoPortDialog(const AutoPortDialog&) = delete;
    AutoPortDialog& operator=(const AutoPortDialog&) = delete;

    // Starts probing `ports` in that order; call once, before the dialog is shown.
    void start(std::vector<std::string> ports);

    void setButtonToCancel() override;
    void setButtonToClose() override;
    void setPort(const std::string& name) override;
    void update(const std::string& text, std::optional<Style> style) override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    class Relay;
    void okButtonActionPerformed();
    void cancelWorker();

    const SelectPort selectPort;
    QPushButton* okButton;
    QTextEdit* textPane1;
    std::shared_ptr<Relay> relay;
    std::shared_ptr<worker::AutoPortWorker> worker;
};

}  // namespace rszorvik
