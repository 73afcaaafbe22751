#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/EventLog.h"
#include "config/Config.h"
#include "worker/DataLine.h"
#include "worker/OutputRun.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSystemTrayIcon;
class QTabWidget;
class QTextBrowser;
class QUrl;

namespace rszorvik {

class FieldValidator;

// The main window: every setting of the record on seven tabs, the start button, the event log and the
// about page. Each control carries its name as Qt object name, so tests and the screenshot tool find it.
// It is also the view of its output run: the view methods may be called from any thread and hand their
// work to the GUI thread.
class RevareRiDevFrame2 : public QMainWindow, public worker::OutputRunView {
    Q_OBJECT

  public:
    // The tabs in their order when all are shown.
    enum Tab { StartTab, InputTab, ProcessingTab, OutputTab, SettingsTab, EventLogTab, AboutTab, kTabCount };

    // config: the settings record the controls show and change; it outlives the window.
    // ports: the ports to offer, by friendly name where one is known; empty when there is none.
    RevareRiDevFrame2(config::Config& config, std::vector<std::string> ports, QWidget* parent = nullptr);
    ~RevareRiDevFrame2() override;

    QTabWidget* tabbedPane() const { return tabbedPane_; }
    EventLog* eventLog() const { return eventLog_; }
    QComboBox* getPortList() const { return portList_; }
    bool isClosing() const { return closing_; }

    QLabel* statusLabel() const { return statusJLabel_; }
    QSystemTrayIcon* trayIcon() const { return trayIcon_; }
    bool isConnected() const { return connected_; }

    // A tab title with its mnemonic marked for Qt ("&Input"); a mnemonic the title lacks is appended.
    static QString withMnemonic(QString title, QChar mnemonic);
    // Shows a stored input terminator code: its entry, or the bare number when no entry has that code.
    static void showInputTerminator(QComboBox& box, int code);
    // The serial ports as the port box lists them: the friendly name where the driver is known, else the
    // plain name. Throws when the serial library cannot list its ports.
    static std::vector<std::string> discoverPorts();
    // How the log shows a received line: time prefix, the value highlighted where it stands in the raw
    // text, the whole line as "unknown" when the value cannot be placed, as "ignored" when it has none.
    static std::vector<EventLog::Run> renderDataLine(const worker::DataLine& line);

    // Copies every control into the settings record, checking the free-text fields on the way.
    void updateConfigFromTabs();
    // Hides the window into the system tray while it is minimised; nothing where there is no tray.
    void addMinimizeToTraySupport();
    void removeMinimizeToTraySupport();

    // The worker's view; any thread.
    void logEvent(const std::string& text) override;
    void logImportantEvent(const std::string& text) override;
    // Switches between the idle and the running look, always later on the GUI thread.
    void setConnectedInGUI(bool connected) override;
    // Shows the line in the log and its number in the status line.
    void update(const worker::DataLine& line) override;
    // A modal warning; GUI thread only.
    void warn(const std::string& text) override;
    // The status line text; the newest text wins when several arrive within one event-loop turn.
    void setText(const std::string& text);
    // A problem of the start as its dialog; GUI thread.
    void startProblem(const std::string& key, const std::string& message) override;

    // How the next output runs put out their values (the platform's keyboard unless set; tests and
    // benchmarks record the keys instead).
    void setOutputOptions(worker::OutputRun::Options options) { outputOptions_ = std::move(options); }
    // Starts output as the start button does (the automatic start at launch); nothing while it runs.
    void startOutput() {
        if (!run_) startStopJButtonActionPerformed();
    }

  protected:
    void changeEvent(QEvent* event) override;
    // Closing while output runs stops it first; the window closes once the port is closed.
    void closeEvent(QCloseEvent* event) override;

  private Q_SLOTS:
    void portListItemStateChanged();
    void instrumentBoxItemStateChanged();
    void bitRateBoxItemStateChanged();
    void dataBitsBoxItemStateChanged();
    void stopBitsBoxItemStateChanged();
    void parityBoxItemStateChanged();
    void inputTerminatorBoxItemStateChanged();
    void flowcontrolBoxItemStateChanged();
    void autoButtonActionPerformed();
    void defaultButtonActionPerformed();
    void refreshPortsButtonActionPerformed();
    void customizeButtonActionPerformed();
    void mathOperationBoxItemStateChanged();
    void roundingMethodBoxItemStateChanged();
    void editOperationComboBoxItemStateChanged();
    void editPositionComboBoxItemStateChanged();
    void ignoreDuplicatesCheckBoxActionPerformed();
    void adjustIgnoreButtonActionPerformed();
    void decimalSeparatorBoxItemStateChanged();
    void outputTerminatorBoxItemStateChanged();
    void soundComboBoxItemStateChanged();
    void keyboardTypeBoxItemStateChanged();
    void startWithBoxItemStateChanged();
    void delayTextFieldCaretUpdate();
    void outputTerminatorBox2ItemStateChanged();
    void connectButtonActionPerformed();
    void minimizeToTrayCheckBoxItemStateChanged();
    void notifyWhenMinimizedToTrayCheckBoxItemStateChanged();
    void checkForUpdatesCheckBoxItemStateChanged();
    void abortAutoStartCheckBoxItemStateChanged();
    void importSettingsButtonActionPerformed();
    void exportSettingsButtonActionPerformed();
    void startStopJButtonActionPerformed();
    void aboutPaneHyperlinkUpdate(const QUrl& link);
    void tabbedPaneStateChanged(int index);

  private:
    struct TabInfo {
        QWidget* page;
        std::string_view titleKey;
        std::string_view mnemonicKey;
    };

    void initComponents();
    QString tabTitle(const TabInfo& tab) const;
    void showRunning(bool running);
    void applyStatusText();
    // The delay field's rule: false (after the error and the field reset to 20) for a text other than
    // empty or 0..1000. `later` posts the reset, as a caret move must not change the text it reports.
    bool checkDelay(bool later);
    void selectPort(const QString& shown);
    void showTrayWindowState();

    QWidget* buildStartTab();
    QWidget* buildInputTab();
    QWidget* buildProcessingTab();
    QWidget* buildOutputTab();
    QWidget* buildSettingsTab();
    QWidget* buildAboutTab();
    void createValidators();
    void connectSignals();

    config::Config& config_;
    std::vector<std::string> ports_;
    bool closing_ = false;
    bool connected_ = false;
    // Set while the running look adds or removes tabs: those tab changes are not the user's.
    bool rearranging_ = false;
    // The division warning is shown once per program run.
    bool mathRoundingErrorWarningDisplayed_ = false;
    // The delay text last checked, so that a caret move within the same text does not report it again.
    QString checkedDelay_;
    int currentTabIndex_ = 0;
    QWidget* currentPage_ = nullptr;
    std::array<TabInfo, kTabCount> tabs_{};

    QTabWidget* tabbedPane_ = nullptr;
    QLabel* statusJLabel_ = nullptr;
    EventLog* eventLog_ = nullptr;
    QTextBrowser* aboutPane_ = nullptr;

    QPushButton* startStopJButton_ = nullptr;

    QComboBox* portList_ = nullptr;
    QComboBox* instrumentBox_ = nullptr;
    QComboBox* bitRateBox_ = nullptr;
    QComboBox* dataBitsBox_ = nullptr;
    QComboBox* stopBitsBox_ = nullptr;
    QComboBox* parityBox_ = nullptr;
    QComboBox* inputTerminatorBox_ = nullptr;
    QComboBox* flowControlBox_ = nullptr;
    QPushButton* autoButton_ = nullptr;
    QPushButton* defaultButton_ = nullptr;
    QPushButton* refreshPortsButton_ = nullptr;
    QPushButton* customizeButton_ = nullptr;

    QComboBox* mathOperationBox_ = nullptr;
    QLineEdit* mathOperandTextField_ = nullptr;
    QLineEdit* decimalTextField_ = nullptr;
    QComboBox* roundingMethodBox_ = nullptr;
    QComboBox* editOperationComboBox_ = nullptr;
    QComboBox* editPositionComboBox_ = nullptr;
    QLineEdit* editNumCharactersTextField_ = nullptr;
    QLineEdit* removeCharactersTextField_ = nullptr;
    QCheckBox* ignoreDuplicatesCheckBox_ = nullptr;
    QPushButton* adjustIgnoreButton_ = nullptr;

    QComboBox* decimalSeparatorBox_ = nullptr;
    QComboBox* outputTerminatorBox_ = nullptr;
    QComboBox* soundComboBox_ = nullptr;
    QComboBox* keyboardTypeBox_ = nullptr;
    QComboBox* startWithBox_ = nullptr;
    QLineEdit* delayTextField_ = nullptr;
    QComboBox* outputTerminatorBox2_ = nullptr;
    QLineEdit* everyXValuesTextField_ = nullptr;

    QButtonGroup* connectButtonGroup_ = nullptr;
    QRadioButton* manualConnectButton_ = nullptr;
    QRadioButton* autoConnectButton_ = nullptr;
    QCheckBox* minimizeToTrayCheckBox_ = nullptr;
    QCheckBox* notifyWhenMinimizedToTrayCheckBox_ = nullptr;
    QCheckBox* checkForUpdatesCheckBox_ = nullptr;
    QCheckBox* abortAutoStartCheckBox_ = nullptr;
    QPushButton* importSettingsButton_ = nullptr;
    QPushButton* exportSettingsButton_ = nullptr;

    // The five free-text fields reach the record only through these (children of the window).
    std::vector<FieldValidator*> validators_;

    worker::OutputRun::Options outputOptions_;
    // From start until the worker's end handler has reported the disconnection.
    std::unique_ptr<worker::OutputRun> run_;
    bool closeAfterStop_ = false;

    QSystemTrayIcon* trayIcon_ = nullptr;
    bool trayListening_ = false;

    std::mutex statusMutex_;
    QString statusText_;         // guarded by statusMutex_
    bool statusPosted_ = false;  // guarded by statusMutex_
};

}  // namespace rszorvik
