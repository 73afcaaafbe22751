#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <cstddef>
#include <functional>
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
class SettingsStorage;

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

    QTabWidget* tabbedPane() const { return tabPane; }
    EventLog* eventLog() const { return eventLogView; }
    QComboBox* getPortList() const { return portList; }
    bool isClosing() const { return closing; }

    QLabel* statusLabel() const { return statusJLabel; }
    QSystemTrayIcon* trayIcon() const { return trayIconItem; }
    bool isConnected() const { return connectedState; }

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
    // Where the window keeps its settings, and how it ends the program (with the exit status). Without a
    // storage (the controls on their own) nothing is saved and closing only closes.
    void attachStorage(SettingsStorage& storage, std::function<void(int)> exitProgram);

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
    // The status line says that the run waits for the unplugged instrument, or that it reads again.
    void waitingForInstrument(bool waiting, const std::string& port) override;
    // The status line text; the newest text wins when several arrive within one event-loop turn.
    void setText(const std::string& text);
    // A problem of the start as its dialog; GUI thread.
    void startProblem(const std::string& key, const std::string& message) override;
    // Shown after the status text until it is taken away or the next start; GUI thread.
    void setNotice(const std::string& text) override;

    // How the next output runs put out their values (the platform's keyboard unless set; tests and
    // benchmarks record the keys instead).
    void setOutputOptions(worker::OutputRun::Options options) { outputOptions = std::move(options); }
    // The window runs on the virtual instrument of a demo: the status line says what to do, and the
    // instrument closing its port is the demo's end, not a lost connection.
    void setDemo(bool isDemo);
    // Starts output as the start button does (the automatic start at launch); nothing while it runs.
    void startOutput() {
        if (!run) startStopJButtonActionPerformed();
    }
    // The window's display went away, so it cannot close as usual: ends the run at once (naming the
    // values not typed on standard error), saves what changed, and leaves the process to end.
    void endForLostDisplay();

    // Lines that may wait to be shown before the event log leaves further ones out (see
    // OutputRun::Options::maxLinesWaitingToShow); set options with a bound of their own to change it.
    static constexpr std::size_t kMaxLinesWaitingToShow = 256;

  protected:
    void changeEvent(QEvent* event) override;
    // Closing while output runs stops it first; the window closes once the port is closed. Then the
    // settings are saved and the program ends with status 0.
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
    void overrideCapsLockCheckBoxItemStateChanged();
    void valueLogCheckBoxActionPerformed();
    void valueLogButtonActionPerformed();
    void importSettingsButtonActionPerformed();
    void exportSettingsButtonActionPerformed();
    void startStopJButtonActionPerformed();
    void requestButtonActionPerformed();
    void reconnectCheckBoxItemStateChanged();
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
    // The status line's text while nothing runs.
    QString idleStatusText() const;
    void applyStatusText();
    // The delay field's rule: false (after the error and the field reset to 20) for a text other than
    // empty or 0..1000. `later` posts the reset, as a caret move must not change the text it reports.
    bool checkDelay(bool later);
    void selectPort(const QString& shown);
    // The request command field shows the preset's command where it has no own one.
    void showPresetRequestCommand();
    // Asks for the value log's file; false when the user cancelled.
    bool chooseValueLog();
    // Saves the settings when they changed since the last save; a failure goes to the event log.
    void saveNecessary();
    // The window was closed: save and end the program.
    void thisWindowClosed();
    void exitWith(int status);
    void showTrayWindowState();

    QWidget* buildStartTab();
    QWidget* buildInputTab();
    QWidget* buildProcessingTab();
    QWidget* buildOutputTab();
    QWidget* buildSettingsTab();
    QWidget* buildAboutTab();
    void createValidators();
    void connectSignals();

    config::Config& settings;
    std::vector<std::string> portNames;
    bool closing = false;
    bool connectedState = false;
    // Set while the running look adds or removes tabs: those tab changes are not the user's.
    bool rearranging = false;
    // The division warning is shown once per program run.
    bool mathRoundingErrorWarningDisplayed = false;
    // The delay text last checked, so that a caret move within the same text does not report it again.
    QString checkedDelay;
    int currentTabIndex = 0;
    QWidget* currentPage = nullptr;
    std::array<TabInfo, kTabCount> tabs{};

    QTabWidget* tabPane = nullptr;
    QLabel* statusJLabel = nullptr;
    EventLog* eventLogView = nullptr;
    QTextBrowser* aboutPane = nullptr;

    QPushButton* startStopJButton = nullptr;
    QPushButton* requestButton = nullptr;  // shown while output runs

    QComboBox* portList = nullptr;
    QComboBox* instrumentBox = nullptr;
    QComboBox* bitRateBox = nullptr;
    QComboBox* dataBitsBox = nullptr;
    QComboBox* stopBitsBox = nullptr;
    QComboBox* parityBox = nullptr;
    QComboBox* inputTerminatorBox = nullptr;
    QComboBox* flowControlBox = nullptr;
    QPushButton* autoButton = nullptr;
    QPushButton* defaultButton = nullptr;
    QPushButton* refreshPortsButton = nullptr;
    QPushButton* customizeButton = nullptr;
    QCheckBox* reconnectCheckBox = nullptr;
    QLineEdit* requestCommandTextField = nullptr;
    QLineEdit* requestIntervalTextField = nullptr;
    QLineEdit* requestHotKeyTextField = nullptr;

    QComboBox* mathOperationBox = nullptr;
    QLineEdit* mathOperandTextField = nullptr;
    QLineEdit* decimalTextField = nullptr;
    QComboBox* roundingMethodBox = nullptr;
    QComboBox* editOperationComboBox = nullptr;
    QComboBox* editPositionComboBox = nullptr;
    QLineEdit* editNumCharactersTextField = nullptr;
    QLineEdit* removeCharactersTextField = nullptr;
    QCheckBox* ignoreDuplicatesCheckBox = nullptr;
    QPushButton* adjustIgnoreButton = nullptr;

    QComboBox* decimalSeparatorBox = nullptr;
    QComboBox* outputTerminatorBox = nullptr;
    QComboBox* soundComboBox = nullptr;
    QComboBox* keyboardTypeBox = nullptr;
    QComboBox* startWithBox = nullptr;
    QLineEdit* delayTextField = nullptr;
    QComboBox* outputTerminatorBox2 = nullptr;
    QLineEdit* everyXValuesTextField = nullptr;
    QCheckBox* overrideCapsLockCheckBox = nullptr;

    QButtonGroup* connectButtonGroup = nullptr;
    QRadioButton* manualConnectButton = nullptr;
    QRadioButton* autoConnectButton = nullptr;
    QCheckBox* minimizeToTrayCheckBox = nullptr;
    QCheckBox* notifyWhenMinimizedToTrayCheckBox = nullptr;
    QCheckBox* checkForUpdatesCheckBox = nullptr;
    QCheckBox* abortAutoStartCheckBox = nullptr;
    QPushButton* importSettingsButton = nullptr;
    QPushButton* exportSettingsButton = nullptr;
    QCheckBox* valueLogCheckBox = nullptr;
    QLineEdit* valueLogTextField = nullptr;
    QPushButton* valueLogButton = nullptr;

    // The free-text fields reach the record only through these (children of the window).
    std::vector<FieldValidator*> validators;

    SettingsStorage* storage = nullptr;
    std::function<void(int)> exitProgram;
    // The program is ending: no closing save any more (an accepted import must not be overwritten).
    bool exitRequested = false;

    worker::OutputRun::Options outputOptions;
    bool demo = false;
    bool demoOver = false;  // the demo's instrument has sent its last value
    // From start until the worker's end handler has reported the disconnection.
    std::unique_ptr<worker::OutputRun> run;
    bool closeAfterStop = false;

    QSystemTrayIcon* trayIconItem = nullptr;
    bool trayListening = false;

    std::mutex statusMutex;
    QString statusText;         // guarded by statusMutex
    QString statusNotice;       // GUI thread
    bool statusPosted = false;  // guarded by statusMutex
};

}  // namespace rszorvik
