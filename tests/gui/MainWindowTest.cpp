#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QKeySequence>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBrowser>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "WindowUnderTest.h"
#include "app/CatalogKeys.h"
#include "app/RevareRiDevFrame2.h"
#include "app/Texts.h"
#include "base/SystemProperties.h"
#include "serial/PlatformSupport.h"
#include "support/RecordingDialogs.h"

namespace rszorvik {
namespace {

using config::Config;
using namespace config::ConfigHelper;

// A record in which every choice differs from its default, so a box that shows the default or the wrong
// setting is caught.
Config unusualRecord() {
    Config config;
    config.setInstrument(Instrument::values()[5]);
    config.setBitRate(BitRates::BR_1200);
    config.setDataBits(DataBits::LN_7BITS);
    config.setStopBits(StopBits::ST_2BITS);
    config.setParity(Parity::EVEN);
    config.setInputTerminator(10);
    config.setHandshake(Handshake::CTS_RTS);
    config.setMathOperation(MathOperation::DIVIDE);
    config.setRoundingMethod(RoundingMethod::FLOOR);
    config.setEditOperation(EditOperation::KEEP);
    config.setEditPosition(EditPosition::LAST);
    config.setDecimalSeparator(DecimalSeparator::COMMA);
    config.setOutputTerminator(OutputTerminator::TAB);
    config.setSound(Sound::COWBELL);
    config.setKeyboardType(KeyboardType::GERMAN);
    config.setStartWith(StartWith::F3);
    config.setOutputTerminator2(OutputTerminator::SPACE);
    return config;
}

using Window = test::WindowUnderTest;

QStringList itemTexts(const QComboBox& box) {
    QStringList texts;
    for (int i = 0; i < box.count(); ++i)
        texts << box.itemText(i);
    return texts;
}

template <class E>
QStringList labelsOf() {
    QStringList labels;
    for (const E& constant : E::values())
        labels << texts::label(constant);
    return labels;
}

template <class I>
QStringList indexLabelsOf() {
    QStringList labels;
    for (int i = 0; i < I::kCount; ++i)
        labels << texts::indexLabel<I>(i);
    return labels;
}

TEST(MainWindowTest, SevenTabsInOrderWithTitlesAndMnemonics) {
    struct Row {
        const char* page;
        const char* title;
        const char* mnemonic;
    };
    const std::vector<Row> rows{
        {"panel1", "panel1.tab.title", "StartTabMnemonic"},
        {"inputPanel", "inputPanel.tab.title", "InputTabMnemonic"},
        {"processingPanel", "processingPanel.tab.title", "ProcessTabMnemonic"},
        {"outputPanel", "outputPanel.tab.title", "OutputTabMnemonic"},
        {"settingsPanel", "settingsPanel.tab.title", "SettingsTabMnemonic"},
        {"eventLogPanel", "eventLogPanel.tab.title", "EventLogTabMnemonic"},
        {"aboutPanel", "aboutPanel.tab.title", "AboutTabMnemonic"},
    };
    for (const auto language : {texts::Language::German, texts::Language::English}) {
        SCOPED_TRACE(language == texts::Language::German ? "German" : "English");
        texts::setLanguage(language);
        Config config;
        Window window(config);
        QTabWidget* tabs = window.frame.tabbedPane();
        ASSERT_EQ(tabs->count(), static_cast<int>(rows.size()));
        std::set<int> keys{
            QKeySequence::mnemonic(window.find<QPushButton>("startStopJButton")->text())[0].toCombined()};
        for (int i = 0; i < tabs->count(); ++i) {
            SCOPED_TRACE(rows[i].page);
            const auto frameKey = [](const char* key) { return std::string("RevareRiDevFrame2.") + key; };
            EXPECT_EQ(tabs->widget(i)->objectName(), QString::fromLatin1(rows[i].page));
            const QString mnemonic = texts::app(frameKey(rows[i].mnemonic));
            ASSERT_FALSE(mnemonic.isEmpty());
            const QKeySequence shortcut = QKeySequence::mnemonic(tabs->tabText(i));
            ASSERT_EQ(shortcut.count(), 1);
            EXPECT_EQ(shortcut,
                      QKeySequence(QKeyCombination(Qt::ALT, Qt::Key(mnemonic.front().toUpper().unicode()))));
            EXPECT_EQ(QString(tabs->tabText(i)).remove(QLatin1Char('&')),
                      texts::app(frameKey(rows[i].title)));
            // Two tabs (or a tab and the start button) on one key would leave one of them out of reach.
            EXPECT_TRUE(keys.insert(shortcut[0].toCombined()).second) << tabs->tabText(i).toStdString();
        }
    }
    texts::setLanguage(texts::Language::German);
}

TEST(MainWindowTest, EveryBoxListsItsChoicesInOrderAndShowsTheRecord) {
    struct Row {
        const char* box;
        QStringList items;
        int selected;
    };
    Config config = unusualRecord();
    const std::vector<Row> rows{
        {"instrumentBox", labelsOf<Instrument>(), 5},
        {"bitRateBox", indexLabelsOf<BitRates>(), BitRates::BR_1200},
        {"dataBitsBox", indexLabelsOf<DataBits>(), DataBits::LN_7BITS},
        {"stopBitsBox", indexLabelsOf<StopBits>(), StopBits::ST_2BITS},
        {"parityBox", indexLabelsOf<Parity>(), Parity::EVEN},
        {"inputTerminatorBox", labelsOf<InputTerminator>(), InputTerminator(InputTerminator::LF).ordinal()},
        {"flowControlBox", indexLabelsOf<Handshake>(), Handshake::CTS_RTS},
        {"mathOperationBox", labelsOf<MathOperation>(), MathOperation(MathOperation::DIVIDE).ordinal()},
        {"roundingMethodBox", labelsOf<RoundingMethod>(), RoundingMethod(RoundingMethod::FLOOR).ordinal()},
        {"editOperationComboBox", labelsOf<EditOperation>(), EditOperation(EditOperation::KEEP).ordinal()},
        {"editPositionComboBox", labelsOf<EditPosition>(), EditPosition(EditPosition::LAST).ordinal()},
        {"decimalSeparatorBox", labelsOf<DecimalSeparator>(),
         DecimalSeparator(DecimalSeparator::COMMA).ordinal()},
        {"outputTerminatorBox", labelsOf<OutputTerminator>(),
         OutputTerminator(OutputTerminator::TAB).ordinal()},
        {"soundComboBox", labelsOf<Sound>(), Sound(Sound::COWBELL).ordinal()},
        {"keyboardTypeBox", labelsOf<KeyboardType>(), KeyboardType(KeyboardType::GERMAN).ordinal()},
        {"startWithBox", labelsOf<StartWith>(), StartWith(StartWith::F3).ordinal()},
        {"outputTerminatorBox2", labelsOf<OutputTerminator>(),
         OutputTerminator(OutputTerminator::SPACE).ordinal()},
    };
    Window window(config);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.box);
        const auto* box = window.find<QComboBox>(row.box);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(itemTexts(*box), row.items);
        EXPECT_EQ(box->currentIndex(), row.selected);
    }
}

TEST(MainWindowTest, InputTerminatorShowsItsEntryOrTheBareNumber) {
    struct Row {
        int code;
        int index;
        QString shown;
    };
    const std::vector<Row> rows{
        {13, 2, QStringLiteral("13 <CR>")}, {4, 0, QStringLiteral("4 <EOT>")}, {7, -1, QStringLiteral("7")},
        {0, -1, QStringLiteral("0")},       {255, -1, QStringLiteral("255")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        Config config;
        config.setInputTerminator(row.code);
        Window window(config);
        const auto* box = window.find<QComboBox>("inputTerminatorBox");
        EXPECT_TRUE(box->isEditable());
        EXPECT_EQ(box->currentIndex(), row.index);
        EXPECT_EQ(box->currentText(), row.shown);
        // Building the window must not change the setting it shows.
        EXPECT_EQ(config.getInputTerminator(), row.code);
    }
}

TEST(MainWindowTest, PortListOffersThePortsAndSelectsTheRecordsPort) {
    struct Row {
        std::vector<std::string> ports;
        std::string port;
        int index;
    };
    const std::vector<Row> rows{
        {{}, "", -1},
        {{}, "/dev/ttyS0", -1},
        {{"/dev/ttyS0", "/dev/ttyUSB0"}, "/dev/ttyUSB0", 1},
        {{"/dev/ttyS0", "/dev/ttyUSB0"}, "/dev/ttyS0", 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.port);
        Config config;
        config.setPort(row.port);
        Window window(config, row.ports);
        const QComboBox* box = window.frame.getPortList();
        EXPECT_EQ(box->count(), static_cast<int>(row.ports.size()));
        EXPECT_EQ(box->currentIndex(), row.index);
        EXPECT_EQ(config.getPort(), row.port);
    }
}

TEST(MainWindowTest, EveryControlCarriesItsName) {
    const char* const names[] = {"tabbedPane",
                                 "statusJLabel",
                                 "panel1",
                                 "startStopJButton",
                                 "inputPanel",
                                 "label2",
                                 "portList",
                                 "deviceLabel",
                                 "instrumentBox",
                                 "label3",
                                 "bitRateBox",
                                 "label6",
                                 "dataBitsBox",
                                 "label7",
                                 "stopBitsBox",
                                 "label8",
                                 "parityBox",
                                 "label9",
                                 "inputTerminatorBox",
                                 "label36",
                                 "flowControlBox",
                                 "label10",
                                 "autoButton",
                                 "label14",
                                 "defaultButton",
                                 "refreshPortsButton",
                                 "customizeButton",
                                 "separator2",
                                 "separator3",
                                 "separator4",
                                 "processingPanel",
                                 "label24",
                                 "mathOperationBox",
                                 "label25",
                                 "mathOperandTextField",
                                 "label15",
                                 "decimalTextField",
                                 "label16",
                                 "roundingMethodBox",
                                 "label22",
                                 "editOperationComboBox",
                                 "label29",
                                 "editPositionComboBox",
                                 "label30",
                                 "editNumCharactersTextField",
                                 "label31",
                                 "label32",
                                 "removeCharactersTextField",
                                 "ignoreDuplicatesCheckBox",
                                 "adjustIgnoreButton",
                                 "separator5",
                                 "separator8",
                                 "outputPanel",
                                 "label4",
                                 "decimalSeparatorBox",
                                 "label5",
                                 "outputTerminatorBox",
                                 "label17",
                                 "label18",
                                 "soundComboBox",
                                 "label23",
                                 "keyboardTypeBox",
                                 "label12",
                                 "startWithBox",
                                 "label26",
                                 "label27",
                                 "delayTextField",
                                 "label33",
                                 "outputTerminatorBox2",
                                 "label34",
                                 "label35",
                                 "everyXValuesTextField",
                                 "overrideCapsLockCheckBox",
                                 "separator1",
                                 "settingsPanel",
                                 "label13",
                                 "manualConnectButton",
                                 "autoConnectButton",
                                 "label28",
                                 "minimizeToTrayCheckBox",
                                 "notifyWhenMinimizedToTrayCheckBox",
                                 "label1",
                                 "checkForUpdatesCheckBox",
                                 "abortAutoStartCheckBox",
                                 "importSettingsButton",
                                 "exportSettingsButton",
                                 "separator6",
                                 "separator7",
                                 "valueLogLabel",
                                 "valueLogCheckBox",
                                 "valueLogTextField",
                                 "valueLogButton",
                                 "separator9",
                                 "eventLogPanel",
                                 "eventLog",
                                 "aboutPanel",
                                 "aboutPane"};
    Config config;
    Window window(config);
    for (const char* name : names)
        EXPECT_NE(window.find<QObject>(name), nullptr) << name;
}

TEST(MainWindowTest, ChoosingAnEntryWritesItsSetting) {
    struct Row {
        const char* box;
        int index;
        std::function<int(const Config&)> stored;
    };
    const std::vector<Row> rows{
        {"instrumentBox", 7, [](const Config& c) { return c.getInstrument()->ordinal(); }},
        {"bitRateBox", 2, [](const Config& c) { return c.getBitRate(); }},
        {"dataBitsBox", 0, [](const Config& c) { return c.getDataBits(); }},
        {"stopBitsBox", 1, [](const Config& c) { return c.getStopBits(); }},
        {"parityBox", 4, [](const Config& c) { return c.getParity(); }},
        {"flowControlBox", 1, [](const Config& c) { return c.getHandshake(); }},
        {"mathOperationBox", 1, [](const Config& c) { return c.getMathOperation().ordinal(); }},
        {"roundingMethodBox", 6, [](const Config& c) { return c.getRoundingMethod().ordinal(); }},
        {"editOperationComboBox", 1, [](const Config& c) { return c.getEditOperation().ordinal(); }},
        {"editPositionComboBox", 1, [](const Config& c) { return c.getEditPosition().ordinal(); }},
        {"decimalSeparatorBox", 1, [](const Config& c) { return c.getDecimalSeparator().ordinal(); }},
        {"outputTerminatorBox", 8, [](const Config& c) { return c.getOutputTerminator().ordinal(); }},
        {"soundComboBox", 3, [](const Config& c) { return c.getSound().ordinal(); }},
        {"keyboardTypeBox", 2, [](const Config& c) { return c.getKeyboardType().ordinal(); }},
        {"startWithBox", 9, [](const Config& c) { return c.getStartWith().ordinal(); }},
        {"outputTerminatorBox2", 10, [](const Config& c) { return c.getOutputTerminator2().ordinal(); }},
    };
    Config config;
    Window window(config);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.box);
        window.find<QComboBox>(row.box)->setCurrentIndex(row.index);
        EXPECT_EQ(row.stored(config), row.index);
    }
}

// The log goes on with a file chosen for it, and off by its box, which keeps the file for switching it
// on again; a chooser left with Cancel changes nothing.
TEST(MainWindowTest, TheValueLogIsSwitchedOnWithItsFile) {
    struct Step {
        const char* name;
        const char* control;
        std::optional<QString> chosen;  // what the chooser answers; none: no chooser expected
        bool on;
        const char* shown;
    };
    const Step steps[] = {
        {"onWithoutAFileCancelled", "valueLogCheckBox", QString(), false, ""},
        {"onWithAFile", "valueLogCheckBox", QStringLiteral("/tmp/lab/values.csv"), true,
         "/tmp/lab/values.csv"},
        {"offKeepsTheFile", "valueLogCheckBox", std::nullopt, false, "/tmp/lab/values.csv"},
        {"onAgainWithoutAsking", "valueLogCheckBox", std::nullopt, true, "/tmp/lab/values.csv"},
        {"anotherFile", "valueLogButton", QStringLiteral("/tmp/lab/../other.csv"), true, "/tmp/other.csv"},
        {"anotherFileCancelled", "valueLogButton", QString(), true, "/tmp/other.csv"},
        {"aFileWhileOff", "valueLogCheckBox", std::nullopt, false, "/tmp/other.csv"},
        {"aFileSwitchesItOn", "valueLogButton", QStringLiteral("/tmp/third.csv"), true, "/tmp/third.csv"},
    };
    test::RecordingDialogs dialogs;
    Config config;
    Window window(config);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        dialogs.calls.clear();
        if (step.chosen) dialogs.files.push_back(*step.chosen);
        window.find<QAbstractButton>(step.control)->click();
        EXPECT_EQ(dialogs.calls.size(), step.chosen ? 1U : 0U);
        EXPECT_EQ(window.find<QCheckBox>("valueLogCheckBox")->isChecked(), step.on);
        EXPECT_EQ(window.find<QLineEdit>("valueLogTextField")->text(), QString::fromLatin1(step.shown));
        EXPECT_EQ(config.getValueLog(), step.on ? step.shown : "");
    }
    auto* capsLock = window.find<QCheckBox>("overrideCapsLockCheckBox");
    ASSERT_TRUE(capsLock->isChecked());
    capsLock->click();
    EXPECT_FALSE(config.getOverrideCapsLock());
}

TEST(MainWindowTest, TypedInputTerminatorIsStoredWhenItIsAByte) {
    struct Row {
        QString typed;
        int stored;
        bool refused;  // the message, and the box shows the setting again
    };
    const std::vector<Row> rows{{QStringLiteral("7"), 7, false},   {QStringLiteral("10 <LF>"), 10, false},
                                {QStringLiteral("0"), 0, false},   {QStringLiteral("255"), 255, false},
                                {QStringLiteral("256"), 13, true}, {QStringLiteral("-1"), 13, true},
                                {QStringLiteral("x"), 13, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed.toStdString());
        test::RecordingDialogs dialogs;
        Config config;
        config.setInputTerminator(13);
        Window window(config);
        auto* box = window.find<QComboBox>("inputTerminatorBox");
        QLineEdit* edit = box->lineEdit();
        edit->setText(row.typed);
        Q_EMIT edit->editingFinished();
        EXPECT_EQ(config.getInputTerminator(), row.stored);
        ASSERT_EQ(dialogs.messages().size(), row.refused ? 1U : 0U);
        if (!row.refused) continue;
        EXPECT_EQ(dialogs.messages()[0].text, texts::app("terminator.must.be.between.0.and.255"));
        EXPECT_EQ(dialogs.messages()[0].title, texts::app("error"));
        EXPECT_EQ(box->currentText(), QStringLiteral("13 <CR>"));
    }
}

// The About page names the program's version, the language and the system it runs on, as support needs
// them: not the platform the serial library's properties choose its module for.
TEST(MainWindowTest, AboutNamesTheVersionAndTheRunningSystem) {
    base::SystemProperties::setProgramProperties();
    const QString platform = QString::fromStdString(Zivaraze::runningPlatform().shown());
    ASSERT_FALSE(platform.isEmpty());
    for (const auto& [language, code] :
         {std::pair{texts::Language::German, "DE"}, std::pair{texts::Language::English, "EN"}}) {
        texts::setLanguage(language);
        Config config;
        Window window(config);
        const QString about = window.find<QTextBrowser>("aboutPane")->toPlainText();
        EXPECT_EQ(about.section(QLatin1Char('\n'), 0, 0),
                  QStringLiteral("Version %1 %2 %3")
                      .arg(QString::fromStdString(base::SystemProperties::programVersion()),
                           QString::fromLatin1(code), platform));
        EXPECT_FALSE(about.contains(QStringLiteral("Windows"))) << about.toStdString();
    }
    texts::setLanguage(texts::Language::German);
}

TEST(MainWindowCatalogTest, BothLanguagesHoldEveryKeyWithAText) {
    const auto& keys = appCatalogKeys();
    EXPECT_EQ(std::set<std::string_view>(keys.begin(), keys.end()).size(), keys.size())
        << "a key listed twice";
    for (const char* file : {"rszorvik.zorvik.properties", "rszorvik.zorvik_de.properties"}) {
        SCOPED_TRACE(file);
        const auto texts = texts::catalogFile(file);
        ASSERT_FALSE(texts.empty());
        for (std::string_view key : keys) {
            const auto it = texts.find(key);
            ASSERT_NE(it, texts.end()) << key;
            EXPECT_FALSE(it->second.empty()) << key;
        }
    }
}

// The English pictures of the documentation must not show German list entries.
TEST(MainWindowCatalogTest, EnglishTextsComeFromTheBaseFilesOnly) {
    struct Row {
        QString shown;
        std::string_view key;
    };
    texts::setLanguage(texts::Language::English);
    const std::vector<Row> rows{
        {texts::label(MathOperation(MathOperation::NONE)), "math.none"},
        {texts::label(EditPosition(EditPosition::FIRST)), "edit.first"},
        {texts::label(Instrument::getDefault()), *Instrument::getDefault().getLabelKey()},
    };
    const QString inputTab = texts::app("RevareRiDevFrame2.inputPanel.tab.title");
    texts::setLanguage(texts::Language::German);
    const auto base = texts::catalogFile(std::string(kBundleName) + ".properties");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        EXPECT_EQ(row.shown.toStdString(), base.at(std::string(row.key)));
        EXPECT_NE(row.shown, texts::config(row.key));
    }
    EXPECT_EQ(inputTab.toStdString(),
              texts::catalogFile("rszorvik.zorvik.properties").at("RevareRiDevFrame2.inputPanel.tab.title"));
}

}  // namespace
}  // namespace rszorvik
