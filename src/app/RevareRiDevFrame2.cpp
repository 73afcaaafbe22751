#include "app/RevareRiDevFrame2.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTextBrowser>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <iostream>
#include <optional>

#include "app/AutoPortDialog.h"
#include "app/CustomRegExDialog.h"
#include "app/DecimalSeparatorBox.h"
#include "app/Dialogs.h"
#include "app/EventLog.h"
#include "app/FieldValidator.h"
#include "app/IgnoreDialog.h"
#include "app/JLabelHtml.h"
#include "app/LinkRunner.h"
#include "app/QtExecutor.h"
#include "app/SettingsStorage.h"
#include "app/StartUp.h"
#include "app/Texts.h"
#include "base/MessageFormat.h"
#include "base/SystemProperties.h"
#include "serial/PlatformSupport.h"
#include "serial/SerialPortLocal.h"
#include "util/FriendlyPortUtil.h"

namespace rszorvik {
namespace {

using namespace config::ConfigHelper;
using config::Config;

QString text(std::string_view key) {
    return texts::app(key);
}

QString frameText(std::string_view name) {
    return texts::app(std::string("RevareRiDevFrame2.") + std::string(name));
}

template <class W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* caption(const char* name, std::string_view key, QWidget* buddy) {
    auto* label = named(new QLabel(frameText(key)), name);
    label->setBuddy(buddy);
    return label;
}

QFrame* separator(const char* name) {
    auto* line = named(new QFrame, name);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QFormLayout* newForm(QWidget* page) {
    auto* form = new QFormLayout(page);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    form->setRowWrapPolicy(QFormLayout::DontWrapRows);
    return form;
}

// A row of widgets that keeps its natural width and leaves the rest of the line empty.
QHBoxLayout* row(std::initializer_list<QWidget*> widgets) {
    auto* layout = new QHBoxLayout;
    for (QWidget* widget : widgets)
        layout->addWidget(widget);
    layout->addStretch(1);
    return layout;
}

QComboBox* comboBox(const char* name, std::optional<std::string_view> toolTipKey) {
    auto* box = named(new QComboBox, name);
    if (toolTipKey) box->setToolTip(frameText(*toolTipKey));
    return box;
}

// Fills the box from a named enumeration, in its order, and selects the constant.
template <class E>
void fill(QComboBox* box, E selected) {
    for (const E& constant : E::values())
        box->addItem(texts::label(constant));
    box->setCurrentIndex(selected.ordinal());
}

// Fills the box from an index enumeration and selects the index (nothing for an index out of range).
template <class I>
void fillIndexed(QComboBox* box, int index) {
    for (int i = 0; i < I::kCount; ++i)
        box->addItem(texts::indexLabel<I>(i));
    box->setCurrentIndex(I::valid(index) ? index : -1);
}

template <class E>
std::optional<E> selected(const QComboBox* box) {
    const int index = box->currentIndex();
    if (index < 0 || index >= static_cast<int>(E::kCount)) return std::nullopt;
    return E::values()[static_cast<std::size_t>(index)];
}

QLineEdit* textField(const char* name, std::string_view toolTipKey, const std::string& value, int digits) {
    auto* field = named(new QLineEdit(QString::fromStdString(value)), name);
    field->setToolTip(frameText(toolTipKey));
    if (digits > 0) {
        // Wide enough for the longest accepted entry, measured in the field's own font.
        const QFontMetrics metrics(field->font());
        field->setMaximumWidth(metrics.horizontalAdvance(QString(digits + 3, QLatin1Char('0'))));
    }
    return field;
}

QPushButton* button(const char* name, std::string_view textKey, std::optional<std::string_view> toolTipKey) {
    auto* result = named(new QPushButton(frameText(textKey)), name);
    if (toolTipKey) result->setToolTip(frameText(*toolTipKey));
    return result;
}

QCheckBox* checkBox(const char* name, std::string_view textKey, bool checked) {
    auto* box = named(new QCheckBox(frameText(textKey)), name);
    box->setChecked(checked);
    return box;
}

// Controls of one group line up when they share the width of the widest.
void sameWidth(std::initializer_list<QWidget*> widgets) {
    int width = 0;
    for (const QWidget* widget : widgets)
        width = std::max(width, widget->sizeHint().width());
    for (QWidget* widget : widgets)
        widget->setMinimumWidth(width);
}

QString html(const QString& plain) {
    return plain.toHtmlEscaped();
}

}  // namespace

RevareRiDevFrame2::RevareRiDevFrame2(Config& config, std::vector<std::string> ports, QWidget* parent)
    : QMainWindow(parent), settings(config), portNames(std::move(ports)) {
    setObjectName(QStringLiteral("RevareRiDevFrame2"));
    setWindowTitle(QStringLiteral("Vexlune zorvik"));
    initComponents();
}

RevareRiDevFrame2::~RevareRiDevFrame2() {
    if (!run) return;
    // The worker reports to the run until its end handler is through: wait for that, within reason.
    run->stop();
    const QDeadlineTimer deadline(5000);
    while (run && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

QString RevareRiDevFrame2::withMnemonic(QString title, QChar mnemonic) {
    title.replace(QLatin1Char('&'), QStringLiteral("&&"));
    const qsizetype at = title.indexOf(mnemonic, 0, Qt::CaseInsensitive);
    if (at < 0) return title + QStringLiteral(" (&") + mnemonic.toUpper() + QLatin1Char(')');
    title.insert(at, QLatin1Char('&'));
    return title;
}

void RevareRiDevFrame2::showInputTerminator(QComboBox& box, int code) {
    if (const auto entry = InputTerminator::itemFromDecimal(code)) {
        box.setCurrentIndex(entry->ordinal());
    } else {
        box.setCurrentIndex(-1);
        box.setEditText(QString::number(code));
    }
}

void RevareRiDevFrame2::initComponents() {
    tabPane = named(new QTabWidget, "tabbedPane");
    tabPane->setUsesScrollButtons(false);

    eventLogView = new EventLog;
    tabs = {{
        {buildStartTab(), "RevareRiDevFrame2.panel1.tab.title", "RevareRiDevFrame2.StartTabMnemonic"},
        {buildInputTab(), "RevareRiDevFrame2.inputPanel.tab.title", "RevareRiDevFrame2.InputTabMnemonic"},
        {buildProcessingTab(), "RevareRiDevFrame2.processingPanel.tab.title",
         "RevareRiDevFrame2.ProcessTabMnemonic"},
        {buildOutputTab(), "RevareRiDevFrame2.outputPanel.tab.title", "RevareRiDevFrame2.OutputTabMnemonic"},
        {buildSettingsTab(), "RevareRiDevFrame2.settingsPanel.tab.title",
         "RevareRiDevFrame2.SettingsTabMnemonic"},
        {named(new QWidget, "eventLogPanel"), "RevareRiDevFrame2.eventLogPanel.tab.title",
         "RevareRiDevFrame2.EventLogTabMnemonic"},
        {buildAboutTab(), "RevareRiDevFrame2.aboutPanel.tab.title", "RevareRiDevFrame2.AboutTabMnemonic"},
    }};
    auto* logLayout = new QVBoxLayout(tabs[EventLogTab].page);
    logLayout->addWidget(eventLogView);

    for (const TabInfo& tab : tabs)
        tabPane->addTab(tab.page, tabTitle(tab));
    currentPage = tabPane->currentWidget();

    statusJLabel = new JLabelHtml;
    statusJLabel->setObjectName(QStringLiteral("statusJLabel"));
    statusJLabel->setText(frameText("statusJLabel.text"));
    statusBar()->addWidget(statusJLabel, 1);
    statusBar()->setSizeGripEnabled(true);

    setCentralWidget(tabPane);
    checkedDelay = delayTextField->text();
    createValidators();
    connectSignals();
}

QWidget* RevareRiDevFrame2::buildStartTab() {
    auto* page = named(new QWidget, "panel1");
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(80, 80, 80, 80);
    startStopJButton =
        named(new QPushButton(withMnemonic(frameText("startStopJButton.text"), QLatin1Char('T'))),
              "startStopJButton");
    startStopJButton->setToolTip(frameText("startStopJButton.toolTipText"));
    startStopJButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    QFont font = startStopJButton->font();
    font.setPointSizeF(font.pointSizeF() * 1.6);
    font.setBold(true);
    startStopJButton->setFont(font);
    layout->addWidget(startStopJButton);
    requestButton = named(new QPushButton(withMnemonic(frameText("requestButton.text"), QLatin1Char('R'))),
                          "requestButton");
    requestButton->setToolTip(frameText("requestButton.toolTipText"));
    requestButton->setVisible(false);
    layout->addWidget(requestButton, 0, Qt::AlignHCenter);
    return page;
}

QWidget* RevareRiDevFrame2::buildInputTab() {
    auto* page = named(new QWidget, "inputPanel");
    auto* form = newForm(page);

    portList = comboBox("portList", "portList.toolTipText");
    // Room for a friendly name such as "/dev/ttyUSB0: FT232R USB UART - FTDI".
    portList->setMinimumContentsLength(53);
    portList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    for (const std::string& port : portNames)
        portList->addItem(QString::fromStdString(port));
    if (!portNames.empty()) {
        const QString friendly =
            QString::fromStdString(util::FriendlyPortUtil::getFriendlyPortName(settings.getPort()));
        int index = portList->findText(friendly);
        if (index < 0) index = portList->findText(QString::fromStdString(settings.getPort()));
        if (index >= 0) portList->setCurrentIndex(index);
    }
    form->addRow(caption("label2", "label2.text", portList), portList);

    instrumentBox = comboBox("instrumentBox", "instrumentBox.toolTipText");
    for (const Instrument& instrument : Instrument::values()) {
        instrumentBox->addItem(texts::label(instrument));
        if (instrument.getInstrumentType() == InstrumentType::TEXT) {
            // Text presets (barcode readers) stand apart in the list, as their tooltip says.
            QFont italic = instrumentBox->font();
            italic.setItalic(true);
            instrumentBox->setItemData(instrumentBox->count() - 1, italic, Qt::FontRole);
        }
    }
    instrumentBox->setCurrentIndex(settings.getInstrument().value_or(Instrument::getDefault()).ordinal());
    instrumentBox->setMaxVisibleItems(20);
    form->addRow(caption("deviceLabel", "deviceLabel.text", instrumentBox), instrumentBox);
    form->addRow(separator("separator2"));

    bitRateBox = comboBox("bitRateBox", "bitRateBox.toolTipText");
    fillIndexed<BitRates>(bitRateBox, settings.getBitRate());
    form->addRow(caption("label3", "label3.text", bitRateBox), bitRateBox);
    dataBitsBox = comboBox("dataBitsBox", std::nullopt);
    fillIndexed<DataBits>(dataBitsBox, settings.getDataBits());
    form->addRow(caption("label6", "label6.text", dataBitsBox), dataBitsBox);
    stopBitsBox = comboBox("stopBitsBox", std::nullopt);
    fillIndexed<StopBits>(stopBitsBox, settings.getStopBits());
    form->addRow(caption("label7", "label7.text", stopBitsBox), stopBitsBox);
    parityBox = comboBox("parityBox", std::nullopt);
    fillIndexed<Parity>(parityBox, settings.getParity());
    form->addRow(caption("label8", "label8.text", parityBox), parityBox);

    inputTerminatorBox = comboBox("inputTerminatorBox", "inputTerminatorBox.toolTipText");
    inputTerminatorBox->setEditable(true);
    inputTerminatorBox->setInsertPolicy(QComboBox::NoInsert);
    inputTerminatorBox->setMinimumContentsLength(
        static_cast<int>(frameText("inputTerminatorBox.prototypeDisplayValue").size()));
    inputTerminatorBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    for (const InputTerminator& terminator : InputTerminator::values())
        inputTerminatorBox->addItem(texts::label(terminator), terminator.getDecimal());
    showInputTerminator(*inputTerminatorBox, settings.getInputTerminator());
    form->addRow(caption("label9", "label9.text", inputTerminatorBox), inputTerminatorBox);

    flowControlBox = comboBox("flowControlBox", "flowControlBox.toolTipText");
    fillIndexed<Handshake>(flowControlBox, settings.getHandshake());
    form->addRow(caption("label36", "label36.text", flowControlBox), flowControlBox);
    reconnectCheckBox = checkBox("reconnectCheckBox", "reconnectCheckBox.text", settings.getReconnect());
    reconnectCheckBox->setToolTip(frameText("reconnectCheckBox.toolTipText"));
    form->addRow(caption("reconnectLabel", "reconnectLabel.text", reconnectCheckBox), reconnectCheckBox);
    form->addRow(separator("separator3"));

    requestCommandTextField = textField("requestCommandTextField", "requestCommandTextField.toolTipText",
                                        settings.getRequestCommand(), 16);
    showPresetRequestCommand();
    form->addRow(caption("requestCommandLabel", "requestCommandLabel.text", requestCommandTextField),
                 requestCommandTextField);
    requestIntervalTextField = textField("requestIntervalTextField", "requestIntervalTextField.toolTipText",
                                         settings.getRequestInterval(), 8);
    form->addRow(caption("requestIntervalLabel", "requestIntervalLabel.text", requestIntervalTextField),
                 row({requestIntervalTextField, named(new QLabel(frameText("requestIntervalUnitLabel.text")),
                                                      "requestIntervalUnitLabel")}));
    requestHotKeyTextField = textField("requestHotKeyTextField", "requestHotKeyTextField.toolTipText",
                                       settings.getRequestHotKey(), 16);
    form->addRow(caption("requestHotKeyLabel", "requestHotKeyLabel.text", requestHotKeyTextField),
                 requestHotKeyTextField);
    form->addRow(separator("separator9"));

    autoButton = button("autoButton", "autoButton.text", "autoButton.toolTipText");
    form->addRow(caption("label10", "label10.text", autoButton), autoButton);
    defaultButton = button("defaultButton", "defaultButton.text", "defaultButton.toolTipText");
    form->addRow(caption("label14", "label14.text", defaultButton), defaultButton);
    form->addRow(separator("separator4"));

    refreshPortsButton =
        button("refreshPortsButton", "refreshPortsButton.text", "refreshPortsButton.toolTipText");
    customizeButton = button("customizeButton", "customizeButton.text", "customizeButton.toolTipText");
    form->addRow(row({refreshPortsButton, customizeButton}));
    sameWidth({bitRateBox, dataBitsBox, stopBitsBox, parityBox, inputTerminatorBox, flowControlBox});
    sameWidth({autoButton, defaultButton});
    return page;
}

QWidget* RevareRiDevFrame2::buildProcessingTab() {
    auto* page = named(new QWidget, "processingPanel");
    auto* form = newForm(page);

    mathOperationBox = comboBox("mathOperationBox", "mathOperationBox.toolTipText");
    fill(mathOperationBox, settings.getMathOperation());
    form->addRow(caption("label24", "label24.text", mathOperationBox), mathOperationBox);
    mathOperandTextField =
        textField("mathOperandTextField", "mathOperandTextField.toolTipText", settings.getMathOperand(), 12);
    form->addRow(caption("label25", "label25.text", mathOperandTextField), mathOperandTextField);
    decimalTextField =
        textField("decimalTextField", "decimalTextField.toolTipText", settings.getDecimalPlaces(), 2);
    form->addRow(caption("label15", "label15.text", decimalTextField), decimalTextField);
    roundingMethodBox = comboBox("roundingMethodBox", "roundingMethodBox.toolTipText");
    fill(roundingMethodBox, settings.getRoundingMethod());
    form->addRow(caption("label16", "label16.text", roundingMethodBox), roundingMethodBox);
    form->addRow(separator("separator5"));

    // "Remove | Keep  the  first | last  N  characters" reads as one sentence.
    editOperationComboBox = comboBox("editOperationComboBox", std::nullopt);
    fill(editOperationComboBox, settings.getEditOperation());
    editPositionComboBox = comboBox("editPositionComboBox", std::nullopt);
    fill(editPositionComboBox, settings.getEditPosition());
    editNumCharactersTextField =
        textField("editNumCharactersTextField", "editNumCharactersTextField.toolTipText",
                  settings.getEditNumCharacters(), 2);
    form->addRow(caption("label22", "label22.text", editOperationComboBox),
                 row({editOperationComboBox, named(new QLabel(frameText("label29.text")), "label29"),
                      editPositionComboBox, editNumCharactersTextField,
                      named(new QLabel(frameText("label30.text")), "label30")}));

    removeCharactersTextField =
        textField("removeCharactersTextField", "removeCharactersTextField.toolTipText",
                  settings.getRemoveCharacters(), 12);
    form->addRow(caption("label31", "label31.text", removeCharactersTextField),
                 row({removeCharactersTextField, named(new QLabel(frameText("label32.text")), "label32")}));
    form->addRow(separator("separator8"));

    ignoreDuplicatesCheckBox =
        checkBox("ignoreDuplicatesCheckBox", "ignoreDuplicatesCheckBox.text", settings.ignoreDuplicates);
    adjustIgnoreButton = button("adjustIgnoreButton", "adjustIgnoreButton.text", std::nullopt);
    form->addRow(row({ignoreDuplicatesCheckBox, adjustIgnoreButton}));
    sameWidth({mathOperationBox, roundingMethodBox});
    return page;
}

QWidget* RevareRiDevFrame2::buildOutputTab() {
    auto* page = named(new QWidget, "outputPanel");
    auto* form = newForm(page);

    decimalSeparatorBox = new DecimalSeparatorBox(settings, page);
    decimalSeparatorBox->setToolTip(frameText("decimalSeparatorBox.toolTipText"));
    form->addRow(caption("label4", "label4.text", decimalSeparatorBox), decimalSeparatorBox);
    outputTerminatorBox = comboBox("outputTerminatorBox", "outputTerminatorBox.toolTipText");
    fill(outputTerminatorBox, settings.getOutputTerminator());
    form->addRow(caption("label5", "label5.text", outputTerminatorBox), outputTerminatorBox);
    soundComboBox = comboBox("soundComboBox", "soundComboBox.toolTipText");
    fill(soundComboBox, settings.getSound());
    form->addRow(caption("label17", "label17.text", soundComboBox),
                 row({soundComboBox, named(new QLabel(frameText("label18.text")), "label18")}));
    form->addRow(separator("separator1"));

    keyboardTypeBox = comboBox("keyboardTypeBox", "keyboardTypeBox.toolTipText");
    fill(keyboardTypeBox, settings.getKeyboardType());
    form->addRow(caption("label23", "label23.text", keyboardTypeBox), keyboardTypeBox);
    startWithBox = comboBox("startWithBox", "startWithBox.toolTipText");
    fill(startWithBox, settings.getStartWith());
    form->addRow(caption("label12", "label12.text_2", startWithBox), startWithBox);
    delayTextField = textField("delayTextField", "delayTextField.toolTipText", settings.getDelay(), 4);
    form->addRow(caption("label26", "label26.text", delayTextField),
                 row({delayTextField, named(new QLabel(frameText("label27.text")), "label27")}));
    outputTerminatorBox2 = comboBox("outputTerminatorBox2", "outputTerminatorBox2.toolTipText");
    fill(outputTerminatorBox2, settings.getOutputTerminator2());
    everyXValuesTextField = textField("everyXValuesTextField", "everyXValuesTextField.toolTipText",
                                      settings.getEveryXValues(), 2);
    form->addRow(caption("label33", "label33.text", outputTerminatorBox2),
                 row({outputTerminatorBox2, named(new QLabel(frameText("label34.text")), "label34"),
                      everyXValuesTextField, named(new QLabel(frameText("label35.text")), "label35")}));
    overrideCapsLockCheckBox =
        checkBox("overrideCapsLockCheckBox", "overrideCapsLockCheckBox.text", settings.getOverrideCapsLock());
    overrideCapsLockCheckBox->setToolTip(frameText("overrideCapsLockCheckBox.toolTipText"));
    form->addRow(QString(), overrideCapsLockCheckBox);
    sameWidth({decimalSeparatorBox, outputTerminatorBox, soundComboBox, keyboardTypeBox, startWithBox,
               outputTerminatorBox2});
    return page;
}

QWidget* RevareRiDevFrame2::buildSettingsTab() {
    auto* page = named(new QWidget, "settingsPanel");
    auto* form = newForm(page);

    manualConnectButton =
        named(new QRadioButton(frameText("manualConnectButton.text")), "manualConnectButton");
    manualConnectButton->setToolTip(frameText("manualConnectButton.toolTipText"));
    autoConnectButton = named(new QRadioButton(frameText("autoConnectButton.text")), "autoConnectButton");
    autoConnectButton->setToolTip(frameText("autoConnectButton.toolTipText"));
    connectButtonGroup = named(new QButtonGroup(page), "connectButtonGroup");
    connectButtonGroup->addButton(manualConnectButton);
    connectButtonGroup->addButton(autoConnectButton);
    (settings.getConnect() == Connect::AUTO ? autoConnectButton : manualConnectButton)->setChecked(true);
    form->addRow(caption("label13", "label13.text", manualConnectButton), manualConnectButton);
    form->addRow(QString(), autoConnectButton);
    // Belongs to the automatic start, so it stands with it.
    abortAutoStartCheckBox = checkBox("abortAutoStartCheckBox", "abortAutoStartCheckBox.text",
                                      settings.abortAutoStartWhenPrevPortNotAvailable);
    abortAutoStartCheckBox->setToolTip(frameText("abortAutoStartCheckBox.toolTipText"));
    form->addRow(QString(), abortAutoStartCheckBox);
    form->addRow(separator("separator6"));

    minimizeToTrayCheckBox =
        checkBox("minimizeToTrayCheckBox", "minimizeToTrayCheckBox.text", settings.minimizeToTray);
    notifyWhenMinimizedToTrayCheckBox =
        checkBox("notifyWhenMinimizedToTrayCheckBox", "notifyWhenMinimizedToTrayCheckBox.text",
                 settings.notifyWhenMinimizedToTray);
    form->addRow(caption("label28", "label28.text", minimizeToTrayCheckBox), minimizeToTrayCheckBox);
    form->addRow(QString(), notifyWhenMinimizedToTrayCheckBox);
    form->addRow(separator("separator7"));

    // The file stays in the field while the box is off, so that switching the log on again needs no new
    // choice; only the box decides whether the setting names it.
    valueLogCheckBox = checkBox("valueLogCheckBox", "valueLogCheckBox.text", !settings.getValueLog().empty());
    valueLogCheckBox->setToolTip(frameText("valueLogCheckBox.toolTipText"));
    form->addRow(caption("valueLogLabel", "valueLogLabel.text", valueLogCheckBox), valueLogCheckBox);
    valueLogTextField =
        textField("valueLogTextField", "valueLogTextField.toolTipText", settings.getValueLog(), 0);
    valueLogTextField->setReadOnly(true);
    valueLogTextField->setMinimumWidth(QFontMetrics(valueLogTextField->font()).averageCharWidth() * 40);
    valueLogButton = button("valueLogButton", "valueLogButton.text", "valueLogButton.toolTipText");
    form->addRow(QString(), row({valueLogTextField, valueLogButton}));
    form->addRow(separator("separator9"));

    checkForUpdatesCheckBox =
        checkBox("checkForUpdatesCheckBox", "checkForUpdatesCheckBox.text", settings.checkForUpdates);
    auto* updates = named(new QLabel(frameText("label1.text")), "label1");
    updates->setBuddy(checkForUpdatesCheckBox);
    form->addRow(updates, checkForUpdatesCheckBox);

    importSettingsButton =
        button("importSettingsButton", "importSettingsButton.text", "importSettingsButton.toolTipText");
    exportSettingsButton =
        button("exportSettingsButton", "exportSettingsButton.text", "exportSettingsButton.toolTipText");
    // Alt+M and Alt+X, letters no tab uses in either language, so the page works without a mouse.
    importSettingsButton->setText(withMnemonic(frameText("importSettingsButton.text"), QLatin1Char('M')));
    exportSettingsButton->setText(withMnemonic(frameText("exportSettingsButton.text"), QLatin1Char('X')));
    form->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding));
    form->addRow(row({importSettingsButton, exportSettingsButton}));
    return page;
}

QWidget* RevareRiDevFrame2::buildAboutTab() {
    auto* page = named(new QWidget, "aboutPanel");
    auto* layout = new QVBoxLayout(page);
    aboutPane = named(new QTextBrowser, "aboutPane");
    // Links go to the browser through our own handler, never inside the pane.
    aboutPane->setOpenLinks(false);
    aboutPane->setOpenExternalLinks(false);

    const QString language =
        texts::language() == texts::Language::German ? QStringLiteral("DE") : QStringLiteral("EN");
    // The system the program runs on, which support needs to know, not the one the serial library's
    // properties name.
    const QString version = QStringLiteral("Version %1 %2 %3")
                                .arg(QString::fromStdString(base::SystemProperties::get("VERSION", "")),
                                     language, QString::fromStdString(Zivaraze::runningPlatform().shown()));
    QString about = frameText("aboutPane.text");
    const QString versionParagraph = QStringLiteral("<p>") + html(version) + QStringLiteral("</p>");
    const qsizetype body = about.indexOf(QStringLiteral("<body>"), 0, Qt::CaseInsensitive);
    if (body >= 0) {
        about.insert(body + 6, versionParagraph);
    } else {
        about.prepend(versionParagraph);
    }
    aboutPane->setHtml(about);
    aboutPane->verticalScrollBar()->setValue(0);
    layout->addWidget(aboutPane);
    return page;
}

void RevareRiDevFrame2::createValidators() {
    using Field = FieldValidator::Field;
    const auto isClosing = [this] { return closing; };
    const auto add = [&](Field which, QLineEdit* field, Tab tab) {
        validators.push_back(
            new FieldValidator(which, field, settings, tabPane, tabs[tab].page, isClosing, this));
    };
    // The order in which copying the controls runs them.
    add(Field::EveryXValues, everyXValuesTextField, OutputTab);
    add(Field::DecimalPlaces, decimalTextField, ProcessingTab);
    add(Field::MathOperand, mathOperandTextField, ProcessingTab);
    add(Field::EditNumCharacters, editNumCharactersTextField, ProcessingTab);
    add(Field::RemoveCharacters, removeCharactersTextField, ProcessingTab);
    add(Field::RequestCommand, requestCommandTextField, InputTab);
    add(Field::RequestInterval, requestIntervalTextField, InputTab);
    add(Field::RequestHotKey, requestHotKeyTextField, InputTab);
}

void RevareRiDevFrame2::connectSignals() {
    using Self = RevareRiDevFrame2;
    const auto onSelect = [this](QComboBox* box, void (Self::*slot)()) {
        connect(box, &QComboBox::currentIndexChanged, this, slot);
    };
    const auto onClick = [this](QAbstractButton* source, void (Self::*slot)()) {
        connect(source, &QAbstractButton::clicked, this, slot);
    };
    onSelect(portList, &Self::portListItemStateChanged);
    onSelect(instrumentBox, &Self::instrumentBoxItemStateChanged);
    onSelect(bitRateBox, &Self::bitRateBoxItemStateChanged);
    onSelect(dataBitsBox, &Self::dataBitsBoxItemStateChanged);
    onSelect(stopBitsBox, &Self::stopBitsBoxItemStateChanged);
    onSelect(parityBox, &Self::parityBoxItemStateChanged);
    onSelect(inputTerminatorBox, &Self::inputTerminatorBoxItemStateChanged);
    connect(inputTerminatorBox->lineEdit(), &QLineEdit::editingFinished, this,
            &Self::inputTerminatorBoxItemStateChanged);
    onSelect(flowControlBox, &Self::flowcontrolBoxItemStateChanged);
    onClick(autoButton, &Self::autoButtonActionPerformed);
    onClick(defaultButton, &Self::defaultButtonActionPerformed);
    onClick(refreshPortsButton, &Self::refreshPortsButtonActionPerformed);
    onClick(customizeButton, &Self::customizeButtonActionPerformed);
    onClick(reconnectCheckBox, &Self::reconnectCheckBoxItemStateChanged);

    onSelect(mathOperationBox, &Self::mathOperationBoxItemStateChanged);
    onSelect(roundingMethodBox, &Self::roundingMethodBoxItemStateChanged);
    onSelect(editOperationComboBox, &Self::editOperationComboBoxItemStateChanged);
    onSelect(editPositionComboBox, &Self::editPositionComboBoxItemStateChanged);
    onClick(ignoreDuplicatesCheckBox, &Self::ignoreDuplicatesCheckBoxActionPerformed);
    onClick(adjustIgnoreButton, &Self::adjustIgnoreButtonActionPerformed);

    onSelect(decimalSeparatorBox, &Self::decimalSeparatorBoxItemStateChanged);
    onSelect(outputTerminatorBox, &Self::outputTerminatorBoxItemStateChanged);
    onSelect(soundComboBox, &Self::soundComboBoxItemStateChanged);
    onSelect(keyboardTypeBox, &Self::keyboardTypeBoxItemStateChanged);
    onSelect(startWithBox, &Self::startWithBoxItemStateChanged);
    // A text set by the program may leave the caret where it was; it is checked all the same.
    connect(delayTextField, &QLineEdit::cursorPositionChanged, this, &Self::delayTextFieldCaretUpdate);
    connect(delayTextField, &QLineEdit::textChanged, this, &Self::delayTextFieldCaretUpdate);
    onSelect(outputTerminatorBox2, &Self::outputTerminatorBox2ItemStateChanged);

    onClick(manualConnectButton, &Self::connectButtonActionPerformed);
    onClick(autoConnectButton, &Self::connectButtonActionPerformed);
    onClick(minimizeToTrayCheckBox, &Self::minimizeToTrayCheckBoxItemStateChanged);
    onClick(notifyWhenMinimizedToTrayCheckBox, &Self::notifyWhenMinimizedToTrayCheckBoxItemStateChanged);
    onClick(checkForUpdatesCheckBox, &Self::checkForUpdatesCheckBoxItemStateChanged);
    onClick(abortAutoStartCheckBox, &Self::abortAutoStartCheckBoxItemStateChanged);
    onClick(overrideCapsLockCheckBox, &Self::overrideCapsLockCheckBoxItemStateChanged);
    onClick(valueLogCheckBox, &Self::valueLogCheckBoxActionPerformed);
    onClick(valueLogButton, &Self::valueLogButtonActionPerformed);
    onClick(importSettingsButton, &Self::importSettingsButtonActionPerformed);
    onClick(exportSettingsButton, &Self::exportSettingsButtonActionPerformed);

    onClick(startStopJButton, &Self::startStopJButtonActionPerformed);
    onClick(requestButton, &Self::requestButtonActionPerformed);
    connect(aboutPane, &QTextBrowser::anchorClicked, this, &Self::aboutPaneHyperlinkUpdate);
    connect(tabPane, &QTabWidget::currentChanged, this, &Self::tabbedPaneStateChanged);
}

// --- Reactions. Each writes the setting its control shows. ---

void RevareRiDevFrame2::portListItemStateChanged() {
    if (portList->currentIndex() < 0) return;
    settings.setPort(util::FriendlyPortUtil::getUnfriendlyPortName(portList->currentText().toStdString()));
}

void RevareRiDevFrame2::instrumentBoxItemStateChanged() {
    const auto instrument = selected<Instrument>(instrumentBox);
    if (!instrument) return;
    const bool changed = settings.getInstrument().value_or(Instrument::getDefault()) != *instrument;
    settings.setInstrument(*instrument);
    showPresetRequestCommand();
    // An own expression was written for the previous instrument; it rarely fits the new one.
    if (!changed || settings.getCustomRegEx().empty()) return;
    instrumentBox->hidePopup();
    if (Dialogs::current().ask(this, text("drop.custom.expression"), text("confirm"), Dialogs::Buttons::YesNo,
                               Dialogs::Icon::Question))
        settings.setCustomRegEx({});
}

void RevareRiDevFrame2::bitRateBoxItemStateChanged() {
    if (bitRateBox->currentIndex() >= 0) settings.setBitRate(bitRateBox->currentIndex());
}

void RevareRiDevFrame2::dataBitsBoxItemStateChanged() {
    if (dataBitsBox->currentIndex() >= 0) settings.setDataBits(dataBitsBox->currentIndex());
}

void RevareRiDevFrame2::stopBitsBoxItemStateChanged() {
    if (stopBitsBox->currentIndex() >= 0) settings.setStopBits(stopBitsBox->currentIndex());
}

void RevareRiDevFrame2::parityBoxItemStateChanged() {
    if (parityBox->currentIndex() >= 0) settings.setParity(parityBox->currentIndex());
}

void RevareRiDevFrame2::inputTerminatorBoxItemStateChanged() {
    // An entry stands for its code; typed text is a code of its own when it is a number 0 to 255.
    const QString shown = inputTerminatorBox->currentText();
    const int entry = inputTerminatorBox->findText(shown);
    if (entry >= 0) {
        settings.setInputTerminator(inputTerminatorBox->itemData(entry).toInt());
        return;
    }
    const auto code = config::parseDecimalInteger(shown.toStdString());
    if (code && InputTerminator::valid(*code)) {
        settings.setInputTerminator(*code);
        return;
    }
    if (closing) return;
    Dialogs::current().message(this, text("terminator.must.be.between.0.and.255"), text("error"),
                               Dialogs::Icon::Plain);
    const QSignalBlocker blocker(inputTerminatorBox);
    showInputTerminator(*inputTerminatorBox, settings.getInputTerminator());
}

void RevareRiDevFrame2::flowcontrolBoxItemStateChanged() {
    if (flowControlBox->currentIndex() >= 0) settings.setHandshake(flowControlBox->currentIndex());
}

void RevareRiDevFrame2::autoButtonActionPerformed() {
    // The detection opens ports by their plain names.
    std::vector<std::string> names;
    names.reserve(portNames.size());
    for (const std::string& port : portNames)
        names.push_back(util::FriendlyPortUtil::getUnfriendlyPortName(port));
    AutoPortDialog dialog(this,
                          [this](const std::string& port) { selectPort(QString::fromStdString(port)); });
    dialog.start(std::move(names));
    Dialogs::current().exec(dialog);
}

void RevareRiDevFrame2::selectPort(const QString& shown) {
    int index = portList->findText(shown);
    if (index < 0)
        index = portList->findText(
            QString::fromStdString(util::FriendlyPortUtil::getUnfriendlyPortName(shown.toStdString())));
    if (index >= 0) portList->setCurrentIndex(index);
}

void RevareRiDevFrame2::defaultButtonActionPerformed() {
    const Instrument instrument = selected<Instrument>(instrumentBox).value_or(Instrument::getDefault());
    if (const auto message = instrument.getDefaultMessage())
        Dialogs::current().message(this, QString::fromStdString(*message), text("info"),
                                   Dialogs::Icon::Information);
    // Every preset carries serial settings; the boxes' own handlers store them.
    const Config defaults = instrument.getDefaultConfig();
    bitRateBox->setCurrentIndex(defaults.getBitRate());
    dataBitsBox->setCurrentIndex(defaults.getDataBits());
    stopBitsBox->setCurrentIndex(defaults.getStopBits());
    parityBox->setCurrentIndex(defaults.getParity());
    flowControlBox->setCurrentIndex(defaults.getHandshake());
    showInputTerminator(*inputTerminatorBox, defaults.getInputTerminator());
    inputTerminatorBoxItemStateChanged();
}

std::vector<std::string> RevareRiDevFrame2::discoverPorts() {
    std::vector<std::string> shown = friendlyPortList();
    std::erase(shown, std::string());
    return shown;
}

void RevareRiDevFrame2::refreshPortsButtonActionPerformed() {
    try {
        portNames = discoverPorts();
    } catch (const std::exception& e) {
        Dialogs::current().message(this, text("error.listing.available.ports") + QString::fromUtf8(e.what()),
                                   text("error"), Dialogs::Icon::Error);
        return;
    }
    {
        // The port in use stays selected when it is still there; the handler runs once at the end.
        const QSignalBlocker blocker(portList);
        portList->clear();
        for (const std::string& port : portNames)
            portList->addItem(QString::fromStdString(port));
    }
    if (portNames.empty()) {
        Dialogs::current().message(this, text("no.rs.232.port.found.on.your.system.program.will.now.exit"),
                                   text("error"), Dialogs::Icon::Error);
        return;
    }
    {
        const QSignalBlocker blocker(portList);
        portList->setCurrentIndex(0);
        selectPort(QString::fromStdString(util::FriendlyPortUtil::getFriendlyPortName(settings.getPort())));
    }
    portListItemStateChanged();
}

void RevareRiDevFrame2::customizeButtonActionPerformed() {
    CustomRegExDialog dialog(this, QString::fromStdString(settings.getCustomRegEx()));
    Dialogs::current().exec(dialog);
    const std::string regEx = dialog.getRegEx().toStdString();
    if (regEx != settings.getCustomRegEx()) settings.setCustomRegEx(regEx);
}

void RevareRiDevFrame2::mathOperationBoxItemStateChanged() {
    const auto operation = selected<MathOperation>(mathOperationBox);
    if (!operation) return;
    settings.setMathOperation(*operation);
    if (*operation == MathOperation::NONE) mathOperandTextField->clear();
}

void RevareRiDevFrame2::roundingMethodBoxItemStateChanged() {
    if (const auto method = selected<RoundingMethod>(roundingMethodBox)) settings.setRoundingMethod(*method);
}

void RevareRiDevFrame2::editOperationComboBoxItemStateChanged() {
    if (const auto operation = selected<EditOperation>(editOperationComboBox))
        settings.setEditOperation(*operation);
}

void RevareRiDevFrame2::editPositionComboBoxItemStateChanged() {
    if (const auto position = selected<EditPosition>(editPositionComboBox))
        settings.setEditPosition(*position);
}

void RevareRiDevFrame2::ignoreDuplicatesCheckBoxActionPerformed() {
    settings.ignoreDuplicates = ignoreDuplicatesCheckBox->isChecked();
}

void RevareRiDevFrame2::adjustIgnoreButtonActionPerformed() {
    IgnoreDialog dialog(this, settings);
    Dialogs::current().exec(dialog);
    const std::string timeLimit = dialog.getIgnoreTimeLimit().toStdString();
    const std::string difference = dialog.getIgnoreDifference().toStdString();
    if (timeLimit != settings.getIgnoreTimeLimit()) settings.setIgnoreTimeLimit(timeLimit);
    if (difference != settings.getIgnoreDifference()) settings.setIgnoreDifference(difference);
}

void RevareRiDevFrame2::decimalSeparatorBoxItemStateChanged() {
    if (const auto separator = selected<DecimalSeparator>(decimalSeparatorBox))
        settings.setDecimalSeparator(*separator);
}

void RevareRiDevFrame2::outputTerminatorBoxItemStateChanged() {
    if (const auto key = selected<OutputTerminator>(outputTerminatorBox)) settings.setOutputTerminator(*key);
}

void RevareRiDevFrame2::soundComboBoxItemStateChanged() {
    if (const auto sound = selected<Sound>(soundComboBox)) settings.setSound(*sound);
}

void RevareRiDevFrame2::keyboardTypeBoxItemStateChanged() {
    const auto type = selected<KeyboardType>(keyboardTypeBox);
    if (!type) return;
    settings.setKeyboardType(*type);
    // Alt codes are several key strokes per character; without a pause between them many applications
    // drop some.
    if (*type != KeyboardType::ALL || settings.getDelayAsInt() >= 3) return;
    keyboardTypeBox->hidePopup();
    Dialogs::current().message(this, text("info.delay.keyboard.all"), text("info"),
                               Dialogs::Icon::Information);
    QMetaObject::invokeMethod(
        delayTextField, [field = delayTextField] { field->setText(QStringLiteral("3")); },
        Qt::QueuedConnection);
}

void RevareRiDevFrame2::startWithBoxItemStateChanged() {
    if (const auto key = selected<StartWith>(startWithBox)) settings.setStartWith(*key);
}

bool RevareRiDevFrame2::checkDelay(bool later) {
    const QString shown = delayTextField->text();
    const std::string delay = shown.toStdString();
    if (delay.empty() || Delay::valid(delay)) {
        settings.setDelay(delay);
        return true;
    }
    Dialogs::current().message(this, text("error.intercharacter.delay"), text("error"), Dialogs::Icon::Error);
    const auto reset = [field = delayTextField] {
        field->setText(QString::fromStdString(Delay::getDefault()));
    };
    if (later) {
        QMetaObject::invokeMethod(delayTextField, reset, Qt::QueuedConnection);
    } else {
        reset();
    }
    return false;
}

void RevareRiDevFrame2::delayTextFieldCaretUpdate() {
    // Every caret move reports the text, and a typed character moves the caret as well: one report each.
    const QString shown = delayTextField->text();
    if (shown == checkedDelay) return;
    checkedDelay = shown;
    // A minus sign alone is a number being typed; copying the controls refuses it if it stays.
    if (shown == QStringLiteral("-")) return;
    checkDelay(true);
}

void RevareRiDevFrame2::outputTerminatorBox2ItemStateChanged() {
    if (const auto key = selected<OutputTerminator>(outputTerminatorBox2))
        settings.setOutputTerminator2(*key);
}

void RevareRiDevFrame2::connectButtonActionPerformed() {
    settings.setConnect(autoConnectButton->isChecked() ? Connect::AUTO : Connect::MANUAL);
    if (settings.getConnect() == Connect::MANUAL) removeMinimizeToTraySupport();
}

void RevareRiDevFrame2::minimizeToTrayCheckBoxItemStateChanged() {
    settings.minimizeToTray = minimizeToTrayCheckBox->isChecked();
}

void RevareRiDevFrame2::notifyWhenMinimizedToTrayCheckBoxItemStateChanged() {
    settings.notifyWhenMinimizedToTray = notifyWhenMinimizedToTrayCheckBox->isChecked();
}

void RevareRiDevFrame2::checkForUpdatesCheckBoxItemStateChanged() {
    settings.checkForUpdates = checkForUpdatesCheckBox->isChecked();
}

void RevareRiDevFrame2::abortAutoStartCheckBoxItemStateChanged() {
    settings.abortAutoStartWhenPrevPortNotAvailable = abortAutoStartCheckBox->isChecked();
}

void RevareRiDevFrame2::overrideCapsLockCheckBoxItemStateChanged() {
    settings.setOverrideCapsLock(overrideCapsLockCheckBox->isChecked());
}

void RevareRiDevFrame2::valueLogCheckBoxActionPerformed() {
    // Switched on without a file: the file is chosen now, or the log stays off.
    if (valueLogCheckBox->isChecked() && valueLogTextField->text().isEmpty() && !closing && !chooseValueLog())
        valueLogCheckBox->setChecked(false);
    settings.setValueLog(valueLogCheckBox->isChecked() ? valueLogTextField->text().toStdString()
                                                       : std::string());
}

void RevareRiDevFrame2::valueLogButtonActionPerformed() {
    if (!chooseValueLog()) return;
    valueLogCheckBox->setChecked(true);
    valueLogCheckBoxActionPerformed();
}

bool RevareRiDevFrame2::chooseValueLog() {
    const QString shown = valueLogTextField->text();
    const QString proposed =
        shown.isEmpty() ? QDir::home().filePath(QStringLiteral("zorvik-values.csv")) : shown;
    const QString chosen =
        Dialogs::current().chooseSaveFile(this, frameText("valueLogCheckBox.text"), proposed);
    if (chosen.isEmpty()) return false;
    const QString file = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(chosen).absoluteFilePath()));
    if (!config::ConfigHelper::ValueLog::valid(file.toStdString())) {
        Dialogs::current().message(
            this,
            text("invalid.setting") +
                QString::fromStdString(config::ConfigHelper::ValueLog::refusal(file.toStdString())),
            text("error"), Dialogs::Icon::Plain);
        return false;
    }
    valueLogTextField->setText(file);
    return true;
}

void RevareRiDevFrame2::importSettingsButtonActionPerformed() {
    if (!storage) return;
    Dialogs& dialogs = Dialogs::current();
    const QString chosen = dialogs.chooseOpenFile(this, frameText("importSettingsButton.text"));
    if (chosen.isEmpty()) return;
    try {
        storage->importFrom(QFileInfo(chosen).filesystemFilePath());
    } catch (const std::exception& e) {
        dialogs.message(this, text("import.failed") + QString::fromStdString(e.what()), text("error"),
                        Dialogs::Icon::Plain);
        return;
    }
    // The window still shows its own settings: only a new start reads the imported ones, and the closing
    // save must not put the old ones back over them.
    if (dialogs.ask(this, text("apply.imported.settings.and.exit"), text("restart.required"),
                    Dialogs::Buttons::OkCancel, Dialogs::Icon::Question))
        exitWith(4);
}

void RevareRiDevFrame2::exportSettingsButtonActionPerformed() {
    if (!storage) return;
    Dialogs& dialogs = Dialogs::current();
    const QString chosen =
        dialogs.chooseSaveFile(this, frameText("exportSettingsButton.text"), QStringLiteral("zorvik.xml"));
    if (chosen.isEmpty()) return;
    const std::filesystem::path file = QFileInfo(chosen).filesystemFilePath();
    std::error_code ec;
    if (std::filesystem::exists(file, ec) &&
        !dialogs.ask(this, text("file.already.exists.overwrite"), text("overwrite"),
                     Dialogs::Buttons::OkCancel, Dialogs::Icon::Question)) {
        dialogs.message(this, text("export.failed") + text("cancelled.by.user"), text("error"),
                        Dialogs::Icon::Plain);
        return;
    }
    // The export holds what the store holds, so the settings shown are saved first.
    try {
        updateConfigFromTabs();
        storage->saveEverything();
        storage->exportTo(file);
    } catch (const std::exception& e) {
        dialogs.message(this, text("export.failed") + QString::fromStdString(e.what()), text("error"),
                        Dialogs::Icon::Plain);
        return;
    }
    dialogs.message(this, text("configuration.exported.to.file.n") + chosen, text("export.successful"),
                    Dialogs::Icon::Information);
}

void RevareRiDevFrame2::startStopJButtonActionPerformed() {
    if (connectedState) {
        // The worker's end handler closes the port and reports the disconnection; the run goes then.
        if (run) run->stop();
        return;
    }
    // A run whose port is opening, or whose end is on its way, is not started again.
    if (run) return;
    updateConfigFromTabs();
    setNotice({});
    worker::OutputRun::Options options = outputOptions;
    options.demo = demo;
    if (options.maxLinesWaitingToShow == 0) options.maxLinesWaitingToShow = kMaxLinesWaitingToShow;
    run = std::make_unique<worker::OutputRun>(settings, *this, QtExecutor::instance(), std::move(options));
    if (!run->start()) run.reset();
}

void RevareRiDevFrame2::requestButtonActionPerformed() {
    if (run) run->request();
}

void RevareRiDevFrame2::reconnectCheckBoxItemStateChanged() {
    settings.setReconnect(reconnectCheckBox->isChecked());
}

void RevareRiDevFrame2::showPresetRequestCommand() {
    const Instrument preset = settings.getInstrument().value_or(Instrument::getDefault());
    const std::string command = RequestCommand::toText(preset.getDataCommand());
    requestCommandTextField->setPlaceholderText(command.empty() ? text("request.command.none")
                                                                : QString::fromStdString(command));
}

void RevareRiDevFrame2::startProblem(const std::string& key, const std::string& message) {
    const QString shown = text(key) + QString::fromStdString(message);
    Dialogs::Icon icon = Dialogs::Icon::Error;
    QString title = text("error");
    if (key == "please.turn.off.caps.lock" || key == "caps.lock.on.letters.kept") {
        icon = Dialogs::Icon::Warning;
        title = text("warning");
    } else if (key == "error.while.initializing.sound.output") {
        icon = Dialogs::Icon::Plain;
        title = text("sound.output.error");
    } else if (key == "invalid.setting") {
        icon = Dialogs::Icon::Plain;
    }
    Dialogs::current().message(this, shown, title, icon);
}

void RevareRiDevFrame2::aboutPaneHyperlinkUpdate(const QUrl& link) {
    LinkRunner::open(link.toString());
}

void RevareRiDevFrame2::tabbedPaneStateChanged(int index) {
    currentTabIndex = index;
    QWidget* left = currentPage;
    currentPage = tabPane->widget(index);
    if (rearranging) return;
    // Leaving a page of settings (or the about page) copies the controls, so a refused field is reported
    // while its page is still in mind, and stores what changed.
    for (const Tab tab : {InputTab, ProcessingTab, OutputTab, AboutTab})
        if (left == tabs[tab].page) {
            updateConfigFromTabs();
            saveNecessary();
            return;
        }
}

void RevareRiDevFrame2::attachStorage(SettingsStorage& settingsStorage, std::function<void(int)> exit) {
    storage = &settingsStorage;
    exitProgram = std::move(exit);
}

void RevareRiDevFrame2::saveNecessary() {
    if (!storage) return;
    try {
        storage->saveIfChanged();
    } catch (const std::exception& e) {
        // The window stays usable; the next autosave or the closing save tries again.
        logImportantEvent((text("autosave.error") + QString::fromStdString(e.what())).toStdString());
    }
}

void RevareRiDevFrame2::thisWindowClosed() {
    if (!storage || exitRequested) return;
    closing = true;
    updateConfigFromTabs();
    try {
        storage->save();
    } catch (const std::exception& e) {
        Dialogs::current().message(this,
                                   text("access.error.while.saving.settings") + QStringLiteral("\n\n") +
                                       QString::fromStdString(e.what()),
                                   text("error"), Dialogs::Icon::Error);
    }
    exitWith(0);
}

void RevareRiDevFrame2::endForLostDisplay() {
    closing = true;
    exitRequested = true;
    if (run) {
        const auto left = run->endNow(std::chrono::seconds(5));
        if (!left.empty()) std::cerr << "zorvik: " << worker::OutputRun::notTypedText(left) << std::endl;
    }
    // The controls are not read again: a field they would refuse would want a dialog.
    if (!storage) return;
    try {
        storage->save();
    } catch (const std::exception& e) {
        std::cerr << "zorvik: " << text("access.error.while.saving.settings").toStdString() << ' ' << e.what()
                  << std::endl;
    }
}

void RevareRiDevFrame2::exitWith(int status) {
    exitRequested = true;
    if (exitProgram) exitProgram(status);
}

void RevareRiDevFrame2::updateConfigFromTabs() {
    portListItemStateChanged();
    instrumentBoxItemStateChanged();
    bitRateBoxItemStateChanged();
    dataBitsBoxItemStateChanged();
    stopBitsBoxItemStateChanged();
    parityBoxItemStateChanged();
    inputTerminatorBoxItemStateChanged();
    flowcontrolBoxItemStateChanged();
    connectButtonActionPerformed();
    keyboardTypeBoxItemStateChanged();
    checkedDelay = delayTextField->text();
    checkDelay(false);

    const auto validate = [this](FieldValidator::Field which) {
        validators[static_cast<std::size_t>(which)]->shouldYieldFocus();
    };
    using Field = FieldValidator::Field;
    decimalSeparatorBoxItemStateChanged();
    startWithBoxItemStateChanged();
    outputTerminatorBoxItemStateChanged();
    outputTerminatorBox2ItemStateChanged();
    validate(Field::EveryXValues);
    roundingMethodBoxItemStateChanged();
    validate(Field::DecimalPlaces);
    mathOperationBoxItemStateChanged();
    validate(Field::MathOperand);
    soundComboBoxItemStateChanged();
    editOperationComboBoxItemStateChanged();
    editPositionComboBoxItemStateChanged();
    validate(Field::EditNumCharacters);
    validate(Field::RemoveCharacters);
    reconnectCheckBoxItemStateChanged();
    validate(Field::RequestCommand);
    validate(Field::RequestInterval);
    validate(Field::RequestHotKey);

    // An operation without operand would do nothing: say so in the box.
    if (selected<MathOperation>(mathOperationBox) != MathOperation::NONE &&
        mathOperandTextField->text().isEmpty())
        mathOperationBox->setCurrentIndex(MathOperation(MathOperation::NONE).ordinal());

    if (selected<MathOperation>(mathOperationBox) == MathOperation::DIVIDE &&
        decimalTextField->text().isEmpty() && !mathRoundingErrorWarningDisplayed && !closing) {
        // Marked at once: copying may run again before the warning is up.
        mathRoundingErrorWarningDisplayed = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                tabPane->setCurrentWidget(tabs[ProcessingTab].page);
                decimalTextField->setFocus();
                Dialogs::current().message(
                    this, text("please.enter.number.of.decimal.places.for.rounding.or.disable.division"),
                    text("error"), Dialogs::Icon::Error);
            },
            Qt::QueuedConnection);
    }

    minimizeToTrayCheckBoxItemStateChanged();
    notifyWhenMinimizedToTrayCheckBoxItemStateChanged();
    checkForUpdatesCheckBoxItemStateChanged();
    abortAutoStartCheckBoxItemStateChanged();
    overrideCapsLockCheckBoxItemStateChanged();
    valueLogCheckBoxActionPerformed();
}

// --- The worker's view. ---

void RevareRiDevFrame2::logEvent(const std::string& message) {
    eventLogView->logLine(QString::fromStdString(message), EventLog::Style::Regular);
}

void RevareRiDevFrame2::logImportantEvent(const std::string& message) {
    eventLogView->logLine(QString::fromStdString(message), EventLog::Style::Important);
}

void RevareRiDevFrame2::warn(const std::string& message) {
    Dialogs::current().message(this, QString::fromStdString(message), text("warning"),
                               Dialogs::Icon::Warning);
}

void RevareRiDevFrame2::waitingForInstrument(bool waiting, const std::string& port) {
    // `demo` is set before any run starts, so reading it here races with nothing.
    const QString running = demo ? text("demo.running") : text("switch.to.target.application");
    setText(waiting ? base::formatMessage(text("waiting.for.instrument").toStdString(), {port})
                    : running.toStdString());
}

void RevareRiDevFrame2::setConnectedInGUI(bool connected) {
    QMetaObject::invokeMethod(
        this, [this, connected] { showRunning(connected); }, Qt::QueuedConnection);
}

void RevareRiDevFrame2::setText(const std::string& message) {
    {
        const std::lock_guard lock(statusMutex);
        statusText = QString::fromStdString(message);
        if (statusPosted) return;
        statusPosted = true;
    }
    QMetaObject::invokeMethod(
        this, [this] { applyStatusText(); }, Qt::QueuedConnection);
}

void RevareRiDevFrame2::applyStatusText() {
    QString shown;
    {
        const std::lock_guard lock(statusMutex);
        shown = statusText;
        statusPosted = false;
    }
    if (!statusNotice.isEmpty()) shown += QStringLiteral(" \u2013 ") + statusNotice;
    statusJLabel->setText(shown);
}

void RevareRiDevFrame2::setNotice(const std::string& notice) {
    statusNotice = QString::fromStdString(notice);
    applyStatusText();
}

void RevareRiDevFrame2::update(const worker::DataLine& line) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, line] { update(line); }, Qt::QueuedConnection);
        return;
    }
    eventLogView->appendLater(renderDataLine(line));
    setText((text("line.count") + QString::number(line.getCount())).toStdString());
}

std::vector<EventLog::Run> RevareRiDevFrame2::renderDataLine(const worker::DataLine& line) {
    using Style = EventLog::Style;
    const auto local = std::chrono::floor<std::chrono::seconds>(line.getDateTime());
    const std::chrono::hh_mm_ss clock(local - std::chrono::floor<std::chrono::days>(local));
    const QString prefix = EventLog::timePrefix(QTime(static_cast<int>(clock.hours().count()),
                                                      static_cast<int>(clock.minutes().count()),
                                                      static_cast<int>(clock.seconds().count())));
    const QString shown = QString::fromStdString(line.getRawData());
    const QString value = QString::fromStdString(line.getProcessedData());
    const QString newline(QLatin1Char('\n'));
    if (value.isEmpty()) return {{prefix + shown + newline, Style::Ignored}};

    qsizetype at = shown.indexOf(value);
    if (at < 0) at = shown.indexOf(QString(value).replace(QLatin1Char(','), QLatin1Char('.')));
    if (at < 0) at = shown.indexOf(QString(value).replace(QLatin1Char('.'), QLatin1Char(',')));
    // A made-visible control character ahead of the value: the line did not start where it should.
    if (at < 0 || shown.left(at).contains(QLatin1Char('<')))
        return {{prefix + shown + newline, Style::Unknown}};
    return {{prefix, Style::Regular},
            {shown.left(at), Style::Ignored},
            {shown.mid(at, value.size()), Style::Typed},
            {shown.mid(at + value.size()) + newline, Style::Ignored}};
}

// --- Running look and tray. ---

QString RevareRiDevFrame2::tabTitle(const TabInfo& tab) const {
    const QString mnemonic = text(tab.mnemonicKey);
    const QString title = text(tab.titleKey);
    return mnemonic.isEmpty() ? title : withMnemonic(title, mnemonic.front());
}

void RevareRiDevFrame2::showRunning(bool running) {
    connectedState = running;
    rearranging = true;
    // The settings cannot change under a running output: their four tabs go while it runs.
    if (running) {
        for (const Tab tab : {InputTab, ProcessingTab, OutputTab, SettingsTab}) {
            const int index = tabPane->indexOf(tabs[tab].page);
            if (index >= 0) tabPane->removeTab(index);
        }
    } else {
        for (const Tab tab : {SettingsTab, OutputTab, ProcessingTab, InputTab})
            if (tabPane->indexOf(tabs[tab].page) < 0)
                tabPane->insertTab(1, tabs[tab].page, tabTitle(tabs[tab]));
    }
    rearranging = false;
    currentTabIndex = tabPane->currentIndex();
    currentPage = tabPane->currentWidget();
    startStopJButton->setText(running ? withMnemonic(frameText("startStopJButton.textStop"), QLatin1Char('P'))
                                      : withMnemonic(frameText("startStopJButton.text"), QLatin1Char('T')));
    // A reading can be asked for while output runs, when there is a command to ask with.
    requestButton->setVisible(running);
    requestButton->setEnabled(running && !settings.getRequestBytes().empty());
    if (!running && run && run->demoEnded()) demoOver = true;
    const QString runningText = demo ? text("demo.running") : text("switch.to.target.application");
    setText((running ? runningText : idleStatusText()).toStdString());
    if (running) return;
    // The worker's end handler is through (this runs in a task it posted): the run can go, and with it
    // the values it did not type, which are named rather than typed by some later run.
    if (run) {
        const auto left = run->endTyping();
        if (!left.empty() && closeAfterStop)
            std::cerr << "zorvik: " << worker::OutputRun::notTypedText(left) << std::endl;
    }
    run.reset();
    if (closeAfterStop) {
        closeAfterStop = false;
        close();
    }
}

QString RevareRiDevFrame2::idleStatusText() const {
    if (demoOver) return text("demo.ended.status");
    return demo ? text("demo.status") : frameText("statusJLabel.text");
}

void RevareRiDevFrame2::setDemo(bool isDemo) {
    demo = isDemo;
    if (!connectedState) statusJLabel->setText(idleStatusText());
}

void RevareRiDevFrame2::addMinimizeToTraySupport() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    if (!trayIconItem) {
        const QIcon icon =
            windowIcon().isNull() ? style()->standardIcon(QStyle::SP_ComputerIcon) : windowIcon();
        trayIconItem = new QSystemTrayIcon(icon, this);
        trayIconItem->setObjectName(QStringLiteral("trayIcon"));
        trayIconItem->setToolTip(QStringLiteral("zorvik"));
        connect(trayIconItem, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason != QSystemTrayIcon::DoubleClick) return;
                    showNormal();
                    activateWindow();
                });
    }
    trayListening = true;
}

void RevareRiDevFrame2::removeMinimizeToTraySupport() {
    trayListening = false;
}

void RevareRiDevFrame2::closeEvent(QCloseEvent* event) {
    if (!run) {
        // Saved while the window is still up, so that a failure's dialog has it as parent.
        thisWindowClosed();
        QMainWindow::closeEvent(event);
        return;
    }
    closeAfterStop = true;
    run->stop();
    event->ignore();
}

void RevareRiDevFrame2::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && trayListening && trayIconItem)
        // Hiding or showing from inside the state change confuses some window managers: do it next turn.
        QMetaObject::invokeMethod(
            this, [this] { showTrayWindowState(); }, Qt::QueuedConnection);
}

void RevareRiDevFrame2::showTrayWindowState() {
    if (!trayListening || !trayIconItem) return;
    if (windowState() & Qt::WindowMinimized) {
        if (!isVisible()) return;
        trayIconItem->show();
        hide();
        if (settings.notifyWhenMinimizedToTray)
            trayIconItem->showMessage(QStringLiteral("zorvik"), text("minimized.to.system.tray"));
    } else {
        trayIconItem->hide();
        show();
    }
}

}  // namespace rszorvik
