#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "config/Config.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTextBrowser;
class QUrl;

namespace rszorvik {

class EventLog;
class FieldValidator;

// The main window: every setting of the record on seven tabs, the start button, the event log and the
// about page. Each control carries its name as Qt object name, so tests and the screenshot tool find it.
class RevareRiDevFrame2 : public QMainWindow {
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

    // A tab title with its mnemonic marked for Qt ("&Input"); a mnemonic the title lacks is appended.
    static QString withMnemonic(QString title, QChar mnemonic);
    // Shows a stored input terminator code: its entry, or the bare number when no entry has that code.
    static void showInputTerminator(QComboBox& box, int code);

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
    int currentTabIndex_ = 0;
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

  public:
    // Shows a text in the status line (the update check reports there).
    void setStatusText(const QString& text);
};

}  // namespace rszorvik
