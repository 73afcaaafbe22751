#include "app/RevareRiDevFrame2.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <optional>

#include "app/DecimalSeparatorBox.h"
#include "app/EventLog.h"
#include "app/FieldValidator.h"
#include "app/JLabelHtml.h"
#include "app/LinkRunner.h"
#include "app/Texts.h"
#include "base/SystemProperties.h"
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
    : QMainWindow(parent), config_(config), ports_(std::move(ports)) {
    setObjectName(QStringLiteral("RevareRiDevFrame2"));
    setWindowTitle(QStringLiteral("Vexlune zorvik"));
    initComponents();
}

RevareRiDevFrame2::~RevareRiDevFrame2() = default;

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
    tabbedPane_ = named(new QTabWidget, "tabbedPane");
    tabbedPane_->setUsesScrollButtons(false);

    eventLog_ = new EventLog;
    tabs_ = {{
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
    auto* logLayout = new QVBoxLayout(tabs_[EventLogTab].page);
    logLayout->addWidget(eventLog_);

    for (const TabInfo& tab : tabs_) {
        const QString mnemonic = text(tab.mnemonicKey);
        const QString title = text(tab.titleKey);
        tabbedPane_->addTab(tab.page, mnemonic.isEmpty() ? title : withMnemonic(title, mnemonic.front()));
    }

    statusJLabel_ = new JLabelHtml;
    statusJLabel_->setObjectName(QStringLiteral("statusJLabel"));
    statusJLabel_->setText(frameText("statusJLabel.text"));
    statusBar()->addWidget(statusJLabel_, 1);
    statusBar()->setSizeGripEnabled(true);

    setCentralWidget(tabbedPane_);
    createValidators();
    connectSignals();
}

QWidget* RevareRiDevFrame2::buildStartTab() {
    auto* page = named(new QWidget, "panel1");
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(80, 80, 80, 80);
    startStopJButton_ =
        named(new QPushButton(withMnemonic(frameText("startStopJButton.text"), QLatin1Char('T'))),
              "startStopJButton");
    startStopJButton_->setToolTip(frameText("startStopJButton.toolTipText"));
    startStopJButton_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    QFont font = startStopJButton_->font();
    font.setPointSizeF(font.pointSizeF() * 1.6);
    font.setBold(true);
    startStopJButton_->setFont(font);
    layout->addWidget(startStopJButton_);
    return page;
}

QWidget* RevareRiDevFrame2::buildInputTab() {
    auto* page = named(new QWidget, "inputPanel");
    auto* form = newForm(page);

    portList_ = comboBox("portList", "portList.toolTipText");
    // Room for a friendly name such as "/dev/ttyUSB0: FT232R USB UART - FTDI".
    portList_->setMinimumContentsLength(53);
    portList_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    for (const std::string& port : ports_)
        portList_->addItem(QString::fromStdString(port));
    if (!ports_.empty()) {
        const QString friendly =
            QString::fromStdString(util::FriendlyPortUtil::getFriendlyPortName(config_.getPort()));
        int index = portList_->findText(friendly);
        if (index < 0) index = portList_->findText(QString::fromStdString(config_.getPort()));
        if (index >= 0) portList_->setCurrentIndex(index);
    }
    form->addRow(caption("label2", "label2.text", portList_), portList_);

    instrumentBox_ = comboBox("instrumentBox", "instrumentBox.toolTipText");
    for (const Instrument& instrument : Instrument::values()) {
        instrumentBox_->addItem(texts::label(instrument));
        if (instrument.getInstrumentType() == InstrumentType::TEXT) {
            // Text presets (barcode readers) stand apart in the list, as their tooltip says.
            QFont italic = instrumentBox_->font();
            italic.setItalic(true);
            instrumentBox_->setItemData(instrumentBox_->count() - 1, italic, Qt::FontRole);
        }
    }
    instrumentBox_->setCurrentIndex(config_.getInstrument().value_or(Instrument::getDefault()).ordinal());
    instrumentBox_->setMaxVisibleItems(20);
    form->addRow(caption("deviceLabel", "deviceLabel.text", instrumentBox_), instrumentBox_);
    form->addRow(separator("separator2"));

    bitRateBox_ = comboBox("bitRateBox", "bitRateBox.toolTipText");
    fillIndexed<BitRates>(bitRateBox_, config_.getBitRate());
    form->addRow(caption("label3", "label3.text", bitRateBox_), bitRateBox_);
    dataBitsBox_ = comboBox("dataBitsBox", std::nullopt);
    fillIndexed<DataBits>(dataBitsBox_, config_.getDataBits());
    form->addRow(caption("label6", "label6.text", dataBitsBox_), dataBitsBox_);
    stopBitsBox_ = comboBox("stopBitsBox", std::nullopt);
    fillIndexed<StopBits>(stopBitsBox_, config_.getStopBits());
    form->addRow(caption("label7", "label7.text", stopBitsBox_), stopBitsBox_);
    parityBox_ = comboBox("parityBox", std::nullopt);
    fillIndexed<Parity>(parityBox_, config_.getParity());
    form->addRow(caption("label8", "label8.text", parityBox_), parityBox_);

    inputTerminatorBox_ = comboBox("inputTerminatorBox", "inputTerminatorBox.toolTipText");
    inputTerminatorBox_->setEditable(true);
    inputTerminatorBox_->setInsertPolicy(QComboBox::NoInsert);
    inputTerminatorBox_->setMinimumContentsLength(
        static_cast<int>(frameText("inputTerminatorBox.prototypeDisplayValue").size()));
    inputTerminatorBox_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    for (const InputTerminator& terminator : InputTerminator::values())
        inputTerminatorBox_->addItem(texts::label(terminator), terminator.getDecimal());
    showInputTerminator(*inputTerminatorBox_, config_.getInputTerminator());
    form->addRow(caption("label9", "label9.text", inputTerminatorBox_), inputTerminatorBox_);

    flowControlBox_ = comboBox("flowControlBox", "flowControlBox.toolTipText");
    fillIndexed<Handshake>(flowControlBox_, config_.getHandshake());
    form->addRow(caption("label36", "label36.text", flowControlBox_), flowControlBox_);
    form->addRow(separator("separator3"));

    autoButton_ = button("autoButton", "autoButton.text", "autoButton.toolTipText");
    form->addRow(caption("label10", "label10.text", autoButton_), autoButton_);
    defaultButton_ = button("defaultButton", "defaultButton.text", "defaultButton.toolTipText");
    form->addRow(caption("label14", "label14.text", defaultButton_), defaultButton_);
    form->addRow(separator("separator4"));

    refreshPortsButton_ =
        button("refreshPortsButton", "refreshPortsButton.text", "refreshPortsButton.toolTipText");
    customizeButton_ = button("customizeButton", "customizeButton.text", "customizeButton.toolTipText");
    form->addRow(row({refreshPortsButton_, customizeButton_}));
    sameWidth({bitRateBox_, dataBitsBox_, stopBitsBox_, parityBox_, inputTerminatorBox_, flowControlBox_});
    sameWidth({autoButton_, defaultButton_});
    return page;
}

QWidget* RevareRiDevFrame2::buildProcessingTab() {
    auto* page = named(new QWidget, "processingPanel");
    auto* form = newForm(page);

    mathOperationBox_ = comboBox("mathOperationBox", "mathOperationBox.toolTipText");
    fill(mathOperationBox_, config_.getMathOperation());
    form->addRow(caption("label24", "label24.text", mathOperationBox_), mathOperationBox_);
    mathOperandTextField_ =
        textField("mathOperandTextField", "mathOperandTextField.toolTipText", config_.getMathOperand(), 12);
    form->addRow(caption("label25", "label25.text", mathOperandTextField_), mathOperandTextField_);
    decimalTextField_ =
        textField("decimalTextField", "decimalTextField.toolTipText", config_.getDecimalPlaces(), 2);
    form->addRow(caption("label15", "label15.text", decimalTextField_), decimalTextField_);
    roundingMethodBox_ = comboBox("roundingMethodBox", "roundingMethodBox.toolTipText");
    fill(roundingMethodBox_, config_.getRoundingMethod());
    form->addRow(caption("label16", "label16.text", roundingMethodBox_), roundingMethodBox_);
    form->addRow(separator("separator5"));

    // "Remove | Keep  the  first | last  N  characters" reads as one sentence.
    editOperationComboBox_ = comboBox("editOperationComboBox", std::nullopt);
    fill(editOperationComboBox_, config_.getEditOperation());
    editPositionComboBox_ = comboBox("editPositionComboBox", std::nullopt);
    fill(editPositionComboBox_, config_.getEditPosition());
    editNumCharactersTextField_ =
        textField("editNumCharactersTextField", "editNumCharactersTextField.toolTipText",
                  config_.getEditNumCharacters(), 2);
    form->addRow(caption("label22", "label22.text", editOperationComboBox_),
                 row({editOperationComboBox_, named(new QLabel(frameText("label29.text")), "label29"),
                      editPositionComboBox_, editNumCharactersTextField_,
                      named(new QLabel(frameText("label30.text")), "label30")}));

    removeCharactersTextField_ =
        textField("removeCharactersTextField", "removeCharactersTextField.toolTipText",
                  config_.getRemoveCharacters(), 12);
    form->addRow(caption("label31", "label31.text", removeCharactersTextField_),
                 row({removeCharactersTextField_, named(new QLabel(frameText("label32.text")), "label32")}));
    form->addRow(separator("separator8"));

    ignoreDuplicatesCheckBox_ =
        checkBox("ignoreDuplicatesCheckBox", "ignoreDuplicatesCheckBox.text", config_.ignoreDuplicates);
    adjustIgnoreButton_ = button("adjustIgnoreButton", "adjustIgnoreButton.text", std::nullopt);
    form->addRow(row({ignoreDuplicatesCheckBox_, adjustIgnoreButton_}));
    sameWidth({mathOperationBox_, roundingMethodBox_});
    return page;
}

QWidget* RevareRiDevFrame2::buildOutputTab() {
    auto* page = named(new QWidget, "outputPanel");
    auto* form = newForm(page);

    decimalSeparatorBox_ = new DecimalSeparatorBox(config_, page);
    decimalSeparatorBox_->setToolTip(frameText("decimalSeparatorBox.toolTipText"));
    form->addRow(caption("label4", "label4.text", decimalSeparatorBox_), decimalSeparatorBox_);
    outputTerminatorBox_ = comboBox("outputTerminatorBox", "outputTerminatorBox.toolTipText");
    fill(outputTerminatorBox_, config_.getOutputTerminator());
    form->addRow(caption("label5", "label5.text", outputTerminatorBox_), outputTerminatorBox_);
    soundComboBox_ = comboBox("soundComboBox", "soundComboBox.toolTipText");
    fill(soundComboBox_, config_.getSound());
    form->addRow(caption("label17", "label17.text", soundComboBox_),
                 row({soundComboBox_, named(new QLabel(frameText("label18.text")), "label18")}));
    form->addRow(separator("separator1"));

    keyboardTypeBox_ = comboBox("keyboardTypeBox", "keyboardTypeBox.toolTipText");
    fill(keyboardTypeBox_, config_.getKeyboardType());
    form->addRow(caption("label23", "label23.text", keyboardTypeBox_), keyboardTypeBox_);
    startWithBox_ = comboBox("startWithBox", "startWithBox.toolTipText");
    fill(startWithBox_, config_.getStartWith());
    form->addRow(caption("label12", "label12.text_2", startWithBox_), startWithBox_);
    delayTextField_ = textField("delayTextField", "delayTextField.toolTipText", config_.getDelay(), 4);
    form->addRow(caption("label26", "label26.text", delayTextField_),
                 row({delayTextField_, named(new QLabel(frameText("label27.text")), "label27")}));
    outputTerminatorBox2_ = comboBox("outputTerminatorBox2", "outputTerminatorBox2.toolTipText");
    fill(outputTerminatorBox2_, config_.getOutputTerminator2());
    everyXValuesTextField_ =
        textField("everyXValuesTextField", "everyXValuesTextField.toolTipText", config_.getEveryXValues(), 2);
    form->addRow(caption("label33", "label33.text", outputTerminatorBox2_),
                 row({outputTerminatorBox2_, named(new QLabel(frameText("label34.text")), "label34"),
                      everyXValuesTextField_, named(new QLabel(frameText("label35.text")), "label35")}));
    sameWidth({decimalSeparatorBox_, outputTerminatorBox_, soundComboBox_, keyboardTypeBox_, startWithBox_,
               outputTerminatorBox2_});
    return page;
}

QWidget* RevareRiDevFrame2::buildSettingsTab() {
    auto* page = named(new QWidget, "settingsPanel");
    auto* form = newForm(page);

    manualConnectButton_ =
        named(new QRadioButton(frameText("manualConnectButton.text")), "manualConnectButton");
    manualConnectButton_->setToolTip(frameText("manualConnectButton.toolTipText"));
    autoConnectButton_ = named(new QRadioButton(frameText("autoConnectButton.text")), "autoConnectButton");
    autoConnectButton_->setToolTip(frameText("autoConnectButton.toolTipText"));
    connectButtonGroup_ = named(new QButtonGroup(page), "connectButtonGroup");
    connectButtonGroup_->addButton(manualConnectButton_);
    connectButtonGroup_->addButton(autoConnectButton_);
    (config_.getConnect() == Connect::AUTO ? autoConnectButton_ : manualConnectButton_)->setChecked(true);
    form->addRow(caption("label13", "label13.text", manualConnectButton_), manualConnectButton_);
    form->addRow(QString(), autoConnectButton_);
    // Belongs to the automatic start, so it stands with it.
    abortAutoStartCheckBox_ = checkBox("abortAutoStartCheckBox", "abortAutoStartCheckBox.text",
                                       config_.abortAutoStartWhenPrevPortNotAvailable);
    abortAutoStartCheckBox_->setToolTip(frameText("abortAutoStartCheckBox.toolTipText"));
    form->addRow(QString(), abortAutoStartCheckBox_);
    form->addRow(separator("separator6"));

    minimizeToTrayCheckBox_ =
        checkBox("minimizeToTrayCheckBox", "minimizeToTrayCheckBox.text", config_.minimizeToTray);
    notifyWhenMinimizedToTrayCheckBox_ =
        checkBox("notifyWhenMinimizedToTrayCheckBox", "notifyWhenMinimizedToTrayCheckBox.text",
                 config_.notifyWhenMinimizedToTray);
    form->addRow(caption("label28", "label28.text", minimizeToTrayCheckBox_), minimizeToTrayCheckBox_);
    form->addRow(QString(), notifyWhenMinimizedToTrayCheckBox_);
    form->addRow(separator("separator7"));

    checkForUpdatesCheckBox_ =
        checkBox("checkForUpdatesCheckBox", "checkForUpdatesCheckBox.text", config_.checkForUpdates);
    auto* updates = named(new QLabel(QStringLiteral("Updates:")), "label1");
    updates->setBuddy(checkForUpdatesCheckBox_);
    form->addRow(updates, checkForUpdatesCheckBox_);

    importSettingsButton_ =
        button("importSettingsButton", "importSettingsButton.text", "importSettingsButton.toolTipText");
    exportSettingsButton_ =
        button("exportSettingsButton", "exportSettingsButton.text", "exportSettingsButton.toolTipText");
    form->addItem(new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Expanding));
    form->addRow(row({importSettingsButton_, exportSettingsButton_}));
    return page;
}

QWidget* RevareRiDevFrame2::buildAboutTab() {
    auto* page = named(new QWidget, "aboutPanel");
    auto* layout = new QVBoxLayout(page);
    aboutPane_ = named(new QTextBrowser, "aboutPane");
    // Links go to the browser through our own handler, never inside the pane.
    aboutPane_->setOpenLinks(false);
    aboutPane_->setOpenExternalLinks(false);

    const QString language =
        texts::language() == texts::Language::German ? QStringLiteral("DE") : QStringLiteral("EN");
    const QString version =
        QStringLiteral("Version %1 %2 %3 %4")
            .arg(QString::fromStdString(base::SystemProperties::get("VERSION", "")), language,
                 QString::fromStdString(base::SystemProperties::get("ZSP_OSNAME", "")),
                 QString::fromStdString(base::SystemProperties::get("ZSP_OSARCH", "")));
    QString about = frameText("aboutPane.text");
    const QString versionParagraph = QStringLiteral("<p>") + html(version) + QStringLiteral("</p>");
    const qsizetype body = about.indexOf(QStringLiteral("<body>"), 0, Qt::CaseInsensitive);
    if (body >= 0) {
        about.insert(body + 6, versionParagraph);
    } else {
        about.prepend(versionParagraph);
    }
    aboutPane_->setHtml(about);
    aboutPane_->verticalScrollBar()->setValue(0);
    layout->addWidget(aboutPane_);
    return page;
}

void RevareRiDevFrame2::createValidators() {
    using Field = FieldValidator::Field;
    const auto isClosing = [this] { return closing_; };
    const auto add = [&](Field which, QLineEdit* field, Tab tab) {
        validators_.push_back(
            new FieldValidator(which, field, config_, tabbedPane_, tabs_[tab].page, isClosing, this));
    };
    // The order in which copying the controls runs them.
    add(Field::EveryXValues, everyXValuesTextField_, OutputTab);
    add(Field::DecimalPlaces, decimalTextField_, ProcessingTab);
    add(Field::MathOperand, mathOperandTextField_, ProcessingTab);
    add(Field::EditNumCharacters, editNumCharactersTextField_, ProcessingTab);
    add(Field::RemoveCharacters, removeCharactersTextField_, ProcessingTab);
}

void RevareRiDevFrame2::connectSignals() {
    using Self = RevareRiDevFrame2;
    const auto onSelect = [this](QComboBox* box, void (Self::*slot)()) {
        connect(box, &QComboBox::currentIndexChanged, this, slot);
    };
    const auto onClick = [this](QAbstractButton* source, void (Self::*slot)()) {
        connect(source, &QAbstractButton::clicked, this, slot);
    };
    onSelect(portList_, &Self::portListItemStateChanged);
    onSelect(instrumentBox_, &Self::instrumentBoxItemStateChanged);
    onSelect(bitRateBox_, &Self::bitRateBoxItemStateChanged);
    onSelect(dataBitsBox_, &Self::dataBitsBoxItemStateChanged);
    onSelect(stopBitsBox_, &Self::stopBitsBoxItemStateChanged);
    onSelect(parityBox_, &Self::parityBoxItemStateChanged);
    onSelect(inputTerminatorBox_, &Self::inputTerminatorBoxItemStateChanged);
    connect(inputTerminatorBox_->lineEdit(), &QLineEdit::editingFinished, this,
            &Self::inputTerminatorBoxItemStateChanged);
    onSelect(flowControlBox_, &Self::flowcontrolBoxItemStateChanged);
    onClick(autoButton_, &Self::autoButtonActionPerformed);
    onClick(defaultButton_, &Self::defaultButtonActionPerformed);
    onClick(refreshPortsButton_, &Self::refreshPortsButtonActionPerformed);
    onClick(customizeButton_, &Self::customizeButtonActionPerformed);

    onSelect(mathOperationBox_, &Self::mathOperationBoxItemStateChanged);
    onSelect(roundingMethodBox_, &Self::roundingMethodBoxItemStateChanged);
    onSelect(editOperationComboBox_, &Self::editOperationComboBoxItemStateChanged);
    onSelect(editPositionComboBox_, &Self::editPositionComboBoxItemStateChanged);
    onClick(ignoreDuplicatesCheckBox_, &Self::ignoreDuplicatesCheckBoxActionPerformed);
    onClick(adjustIgnoreButton_, &Self::adjustIgnoreButtonActionPerformed);

    onSelect(decimalSeparatorBox_, &Self::decimalSeparatorBoxItemStateChanged);
    onSelect(outputTerminatorBox_, &Self::outputTerminatorBoxItemStateChanged);
    onSelect(soundComboBox_, &Self::soundComboBoxItemStateChanged);
    onSelect(keyboardTypeBox_, &Self::keyboardTypeBoxItemStateChanged);
    onSelect(startWithBox_, &Self::startWithBoxItemStateChanged);
    connect(delayTextField_, &QLineEdit::cursorPositionChanged, this, &Self::delayTextFieldCaretUpdate);
    onSelect(outputTerminatorBox2_, &Self::outputTerminatorBox2ItemStateChanged);

    onClick(manualConnectButton_, &Self::connectButtonActionPerformed);
    onClick(autoConnectButton_, &Self::connectButtonActionPerformed);
    onClick(minimizeToTrayCheckBox_, &Self::minimizeToTrayCheckBoxItemStateChanged);
    onClick(notifyWhenMinimizedToTrayCheckBox_, &Self::notifyWhenMinimizedToTrayCheckBoxItemStateChanged);
    onClick(checkForUpdatesCheckBox_, &Self::checkForUpdatesCheckBoxItemStateChanged);
    onClick(abortAutoStartCheckBox_, &Self::abortAutoStartCheckBoxItemStateChanged);
    onClick(importSettingsButton_, &Self::importSettingsButtonActionPerformed);
    onClick(exportSettingsButton_, &Self::exportSettingsButtonActionPerformed);

    onClick(startStopJButton_, &Self::startStopJButtonActionPerformed);
    connect(aboutPane_, &QTextBrowser::anchorClicked, this, &Self::aboutPaneHyperlinkUpdate);
    connect(tabbedPane_, &QTabWidget::currentChanged, this, &Self::tabbedPaneStateChanged);
}

// --- Reactions. Each writes the setting its control shows; the rest of the behaviour joins later. ---

void RevareRiDevFrame2::portListItemStateChanged() {
    if (portList_->currentIndex() < 0) return;
    config_.setPort(util::FriendlyPortUtil::getUnfriendlyPortName(portList_->currentText().toStdString()));
}

void RevareRiDevFrame2::instrumentBoxItemStateChanged() {
    if (const auto instrument = selected<Instrument>(instrumentBox_)) config_.setInstrument(*instrument);
}

void RevareRiDevFrame2::bitRateBoxItemStateChanged() {
    if (bitRateBox_->currentIndex() >= 0) config_.setBitRate(bitRateBox_->currentIndex());
}

void RevareRiDevFrame2::dataBitsBoxItemStateChanged() {
    if (dataBitsBox_->currentIndex() >= 0) config_.setDataBits(dataBitsBox_->currentIndex());
}

void RevareRiDevFrame2::stopBitsBoxItemStateChanged() {
    if (stopBitsBox_->currentIndex() >= 0) config_.setStopBits(stopBitsBox_->currentIndex());
}

void RevareRiDevFrame2::parityBoxItemStateChanged() {
    if (parityBox_->currentIndex() >= 0) config_.setParity(parityBox_->currentIndex());
}

void RevareRiDevFrame2::inputTerminatorBoxItemStateChanged() {
    // An entry stands for its code; typed text is a code of its own when it is a number 0 to 255.
    const QString shown = inputTerminatorBox_->currentText();
    const int entry = inputTerminatorBox_->findText(shown);
    if (entry >= 0) {
        config_.setInputTerminator(inputTerminatorBox_->itemData(entry).toInt());
        return;
    }
    const auto code = config::parseDecimalInteger(shown.toStdString());
    if (code && InputTerminator::valid(*code)) config_.setInputTerminator(*code);
}

void RevareRiDevFrame2::flowcontrolBoxItemStateChanged() {
    if (flowControlBox_->currentIndex() >= 0) config_.setHandshake(flowControlBox_->currentIndex());
}

void RevareRiDevFrame2::autoButtonActionPerformed() {}

void RevareRiDevFrame2::defaultButtonActionPerformed() {}

void RevareRiDevFrame2::refreshPortsButtonActionPerformed() {}

void RevareRiDevFrame2::customizeButtonActionPerformed() {}

void RevareRiDevFrame2::mathOperationBoxItemStateChanged() {
    const auto operation = selected<MathOperation>(mathOperationBox_);
    if (!operation) return;
    config_.setMathOperation(*operation);
    if (*operation == MathOperation::NONE) mathOperandTextField_->clear();
}

void RevareRiDevFrame2::roundingMethodBoxItemStateChanged() {
    if (const auto method = selected<RoundingMethod>(roundingMethodBox_)) config_.setRoundingMethod(*method);
}

void RevareRiDevFrame2::editOperationComboBoxItemStateChanged() {
    if (const auto operation = selected<EditOperation>(editOperationComboBox_))
        config_.setEditOperation(*operation);
}

void RevareRiDevFrame2::editPositionComboBoxItemStateChanged() {
    if (const auto position = selected<EditPosition>(editPositionComboBox_))
        config_.setEditPosition(*position);
}

void RevareRiDevFrame2::ignoreDuplicatesCheckBoxActionPerformed() {
    config_.ignoreDuplicates = ignoreDuplicatesCheckBox_->isChecked();
}

void RevareRiDevFrame2::adjustIgnoreButtonActionPerformed() {}

void RevareRiDevFrame2::decimalSeparatorBoxItemStateChanged() {
    if (const auto separator = selected<DecimalSeparator>(decimalSeparatorBox_))
        config_.setDecimalSeparator(*separator);
}

void RevareRiDevFrame2::outputTerminatorBoxItemStateChanged() {
    if (const auto key = selected<OutputTerminator>(outputTerminatorBox_)) config_.setOutputTerminator(*key);
}

void RevareRiDevFrame2::soundComboBoxItemStateChanged() {
    if (const auto sound = selected<Sound>(soundComboBox_)) config_.setSound(*sound);
}

void RevareRiDevFrame2::keyboardTypeBoxItemStateChanged() {
    if (const auto type = selected<KeyboardType>(keyboardTypeBox_)) config_.setKeyboardType(*type);
}

void RevareRiDevFrame2::startWithBoxItemStateChanged() {
    if (const auto key = selected<StartWith>(startWithBox_)) config_.setStartWith(*key);
}

void RevareRiDevFrame2::delayTextFieldCaretUpdate() {
    const std::string delay = delayTextField_->text().toStdString();
    if (delay.empty() || Delay::valid(delay)) config_.setDelay(delay);
}

void RevareRiDevFrame2::outputTerminatorBox2ItemStateChanged() {
    if (const auto key = selected<OutputTerminator>(outputTerminatorBox2_))
        config_.setOutputTerminator2(*key);
}

void RevareRiDevFrame2::connectButtonActionPerformed() {
    config_.setConnect(autoConnectButton_->isChecked() ? Connect::AUTO : Connect::MANUAL);
}

void RevareRiDevFrame2::minimizeToTrayCheckBoxItemStateChanged() {
    config_.minimizeToTray = minimizeToTrayCheckBox_->isChecked();
}

void RevareRiDevFrame2::notifyWhenMinimizedToTrayCheckBoxItemStateChanged() {
    config_.notifyWhenMinimizedToTray = notifyWhenMinimizedToTrayCheckBox_->isChecked();
}

void RevareRiDevFrame2::checkForUpdatesCheckBoxItemStateChanged() {
    config_.checkForUpdates = checkForUpdatesCheckBox_->isChecked();
}

void RevareRiDevFrame2::abortAutoStartCheckBoxItemStateChanged() {
    config_.abortAutoStartWhenPrevPortNotAvailable = abortAutoStartCheckBox_->isChecked();
}

void RevareRiDevFrame2::importSettingsButtonActionPerformed() {}

void RevareRiDevFrame2::exportSettingsButtonActionPerformed() {}

void RevareRiDevFrame2::startStopJButtonActionPerformed() {}

void RevareRiDevFrame2::aboutPaneHyperlinkUpdate(const QUrl& link) {
    LinkRunner::open(link.toString());
}

void RevareRiDevFrame2::tabbedPaneStateChanged(int index) {
    currentTabIndex_ = index;
}

void RevareRiDevFrame2::setStatusText(const QString& text) {
    statusJLabel_->setText(text);
}

}  // namespace rszorvik
