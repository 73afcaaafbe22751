#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTextBlock>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "WindowUnderTest.h"
#include "app/AutoPortDialog.h"
#include "app/EventLog.h"
#include "app/RevareRiDevFrame2.h"
#include "app/Texts.h"
#include "base/MessageFormat.h"
#include "base/SystemProperties.h"
#include "support/PseudoTerminal.h"
#include "support/RecordingDialogs.h"
#include "support/RecordingKeyInjector.h"
#include "support/SerialTestSupport.h"
#include "worker/DataLine.h"
#include "worker/SoundBot.h"
#include "worker/WeightWorker.h"

namespace rszorvik {
namespace {

using config::Config;
using namespace config::ConfigHelper;
using std::chrono::milliseconds;
using Style = EventLog::Style;
using Kind = test::RecordingDialogs::Kind;

using Window = test::WindowUnderTest;

std::vector<QString> texts(const std::vector<test::RecordingDialogs::Call>& calls) {
    std::vector<QString> result;
    for (const auto& call : calls)
        result.push_back(call.text);
    return result;
}

// A rendered line as one text: each run tagged with the first letter of its style.
QString tagged(const std::vector<EventLog::Run>& runs) {
    QString result;
    for (const auto& run : runs)
        result += QStringLiteral("[%1]").arg(QLatin1Char(EventLog::styleName(run.style)[0])) + run.text;
    return result;
}

TEST(MainWindowBehaviourTest, DataLineRendering) {
    struct Row {
        const char* raw;
        const char* value;
        const char* expected;  // after the time prefix; %1 stands for the prefix itself
    };
    const std::vector<Row> rows{
        {"ST,+00012.5 kg\r\n", "12.5", "[r]%1[i]ST,+000[t]12.5[i] kg<13><10>\n"},
        // Found with the other decimal separator, highlighted as it stands in the raw text.
        {"ST,+12,5 kg\r", "12.5", "[r]%1[i]ST,+[t]12,5[i] kg<13>\n"},
        {"N 3.75\r", "3,75", "[r]%1[i]N [t]3.75[i]<13>\n"},
        // A control character before the value: the line did not start where it should.
        {"\x02 12.5\r", "12.5", "[u]%1<2> 12.5<13>\n"},
        {"\n12.5\r", "12.5", "[u]%1<10>12.5<13>\n"},
        // Not in the raw text at all (the value was transformed beyond recognition).
        {"12.5\r", "25", "[u]%112.5<13>\n"},
        // No value: the whole line is ignored.
        {"ST,+12.5 kg\r", "", "[i]%1ST,+12.5 kg<13>\n"},
        {"\r", "", "[i]%1<13>\n"},
    };
    const auto instant = std::chrono::sys_days{std::chrono::year{2026} / 3 / 14} + std::chrono::hours{7} +
                         std::chrono::minutes{5} + std::chrono::seconds{9} + milliseconds{999};
    const QString prefix =
        EventLog::timePrefix(QDateTime::fromMSecsSinceEpoch(
                                 std::chrono::duration_cast<milliseconds>(instant.time_since_epoch()).count())
                                 .time());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.raw);
        const worker::DataLine line(row.raw, row.value, 1, instant, false);
        EXPECT_EQ(tagged(RevareRiDevFrame2::renderDataLine(line)),
                  QString::fromLatin1(row.expected).replace(QStringLiteral("%1"), prefix));
    }
}

TEST(MainWindowBehaviourTest, LinesFromAnotherThreadReachLogAndCounterInOrder) {
    test::RecordingDialogs dialogs;
    Config config;
    Window window(config);
    const int count = 300;
    std::thread sender([&] {
        for (int i = 1; i <= count; ++i)
            window.frame.update(worker::DataLine(std::to_string(i) + "\r", std::to_string(i), i,
                                                 std::chrono::system_clock::now(), false));
    });
    sender.join();
    const QString last = texts::app("line.count") + QString::number(count);
    ASSERT_TRUE(
        test::waitFor([&] { return window.frame.statusLabel()->text() == last; }, milliseconds(5000)));
    window.settle();
    const QTextDocument* log = window.frame.eventLog()->document();
    ASSERT_EQ(log->blockCount(), count);
    for (int i = 0; i < count; ++i)
        ASSERT_TRUE(log->findBlockByNumber(i).text().endsWith(QStringLiteral(" %1<13>").arg(i + 1))) << i;
}

TEST(MainWindowBehaviourTest, DelayRuleOnEveryChange) {
    struct Row {
        QString typed;
        bool refused;  // the error, then the field and the setting at 20
        std::string stored;
    };
    const std::vector<Row> rows{
        {QStringLiteral("1001"), true, "20"}, {QStringLiteral("-1"), true, "20"},
        {QStringLiteral("x"), true, "20"},    {QString(), false, ""},
        {QStringLiteral("0"), false, "0"},    {QStringLiteral("1000"), false, "1000"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.typed.toStdString());
        test::RecordingDialogs dialogs;
        Config config;
        config.setDelay("7");
        Window window(config);
        auto* field = window.find<QLineEdit>("delayTextField");
        field->selectAll();
        QTest::keyClicks(field, row.typed);
        if (row.typed.isEmpty()) QTest::keyClick(field, Qt::Key_Backspace);
        // Moving the caret reports the same text again: no second error.
        field->setCursorPosition(0);
        window.settle();
        ASSERT_EQ(dialogs.messages().size(), row.refused ? 1U : 0U);
        if (row.refused) {
            EXPECT_EQ(dialogs.messages()[0].text, texts::app("error.intercharacter.delay"));
            EXPECT_EQ(dialogs.messages()[0].title, texts::app("error"));
        }
        EXPECT_EQ(field->text().toStdString(), row.stored);
        EXPECT_EQ(config.getDelay(), row.stored);
    }
}

TEST(MainWindowBehaviourTest, KeyboardTypeAllNeedsAPauseBetweenKeys) {
    struct Row {
        std::string delay;
        KeyboardType type;
        bool informed;
        std::string after;
    };
    const std::vector<Row> rows{
        {"0", KeyboardType::ALL, true, "3"},     {"2", KeyboardType::ALL, true, "3"},
        {"3", KeyboardType::ALL, false, "3"},    {"", KeyboardType::ALL, false, ""},
        {"0", KeyboardType::GERMAN, false, "0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.delay + " " + row.type.label());
        test::RecordingDialogs dialogs;
        Config config;
        config.setDelay(row.delay);
        Window window(config);
        window.find<QComboBox>("keyboardTypeBox")->setCurrentIndex(row.type.ordinal());
        window.settle();
        EXPECT_EQ(config.getKeyboardType(), row.type);
        ASSERT_EQ(dialogs.messages().size(), row.informed ? 1U : 0U);
        if (row.informed) {
            EXPECT_EQ(dialogs.messages()[0].text, texts::app("info.delay.keyboard.all"));
            EXPECT_EQ(dialogs.messages()[0].title, texts::app("info"));
        }
        EXPECT_EQ(window.find<QLineEdit>("delayTextField")->text().toStdString(), row.after);
        EXPECT_EQ(config.getDelay(), row.after);
    }
}

TEST(MainWindowBehaviourTest, InstrumentChangeAsksAboutTheOwnExpression) {
    struct Row {
        const char* name;
        std::string regEx;
        bool change;  // choose another instrument; otherwise copy the unchanged controls
        std::optional<bool> answer;
        std::string kept;
    };
    const std::vector<Row> rows{
        {"no own expression", "", true, std::nullopt, ""},
        {"yes empties it", "(\\d+)", true, true, ""},
        {"no keeps it", "(\\d+)", true, false, "(\\d+)"},
        {"same instrument", "(\\d+)", false, std::nullopt, "(\\d+)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::RecordingDialogs dialogs;
        if (row.answer) dialogs.answers.push_back(*row.answer);
        Config config;
        config.setCustomRegEx(row.regEx);
        Window window(config);
        if (row.change) {
            window.find<QComboBox>("instrumentBox")
                ->setCurrentIndex(Instrument(Instrument::SARTORIUS).ordinal());
            EXPECT_EQ(config.getInstrument(), Instrument::SARTORIUS);
        } else {
            window.frame.updateConfigFromTabs();
        }
        std::vector<QString> questions;
        for (const auto& call : dialogs.calls)
            if (call.kind == Kind::Question) questions.push_back(call.text + QLatin1Char('|') + call.title);
        EXPECT_EQ(questions, row.answer ? std::vector<QString>{texts::app("drop.custom.expression") +
                                                               QLatin1Char('|') + texts::app("confirm")}
                                        : std::vector<QString>{});
        EXPECT_EQ(config.getCustomRegEx(), row.kept);
    }
}

TEST(MainWindowBehaviourTest, CopyingTheControlsChecksTheFieldsInOrder) {
    test::RecordingDialogs dialogs;
    Config config;
    Window window(config);
    window.find<QComboBox>("mathOperationBox")
        ->setCurrentIndex(MathOperation(MathOperation::MULTIPLY).ordinal());
    // Filled in reverse order, so the order of the reports is the copying's own.
    const char* const fields[] = {"removeCharactersTextField", "editNumCharactersTextField",
                                  "mathOperandTextField", "decimalTextField", "everyXValuesTextField"};
    // No field accepts a character above code 255.
    for (const char* name : fields)
        window.find<QLineEdit>(name)->setText(QStringLiteral("x\u20ac"));
    {
        // Out of range, but not yet reported by the field itself.
        auto* delay = window.find<QLineEdit>("delayTextField");
        const QSignalBlocker quiet(delay);
        delay->setText(QStringLiteral("5000"));
    }
    window.frame.updateConfigFromTabs();
    window.settle();
    const std::vector<QString> expected{
        texts::app("error.intercharacter.delay"), texts::app("error.edit.everyXValues"),
        texts::app("error.decimal.places"),       texts::app("error.math.operand"),
        texts::app("error.edit.numCharacters"),   texts::app("error.edit.removeCharacters")};
    EXPECT_EQ(texts(dialogs.messages()), expected);
    // The refused operand left an operation without operand: the box goes back to none.
    EXPECT_EQ(window.find<QComboBox>("mathOperationBox")->currentIndex(),
              MathOperation(MathOperation::NONE).ordinal());
    EXPECT_EQ(config.getMathOperation(), MathOperation::NONE);
    EXPECT_EQ(window.find<QLineEdit>("delayTextField")->text(), QStringLiteral("20"));
}

TEST(MainWindowBehaviourTest, NoneEmptiesTheOperand) {
    test::RecordingDialogs dialogs;
    Config config;
    config.setMathOperation(MathOperation::MULTIPLY);
    config.setMathOperand("2.5");
    Window window(config);
    auto* operand = window.find<QLineEdit>("mathOperandTextField");
    ASSERT_EQ(operand->text(), QStringLiteral("2.5"));
    window.find<QComboBox>("mathOperationBox")->setCurrentIndex(MathOperation(MathOperation::NONE).ordinal());
    EXPECT_TRUE(operand->text().isEmpty());
    EXPECT_EQ(config.getMathOperation(), MathOperation::NONE);
}

TEST(MainWindowBehaviourTest, DivisionWithoutDecimalPlacesIsWarnedOncePerRun) {
    test::RecordingDialogs dialogs;
    Config config;
    config.setMathOperation(MathOperation::DIVIDE);
    config.setMathOperand("4");
    Window window(config);
    QTabWidget* tabs = window.frame.tabbedPane();
    const auto page = [&](const char* name) { return window.find<QWidget>(name); };
    const QString warning =
        texts::app("please.enter.number.of.decimal.places.for.rounding.or.disable.division");
    for (const char* next : {"processingPanel", "panel1"}) {
        tabs->setCurrentWidget(page(next));
        window.settle();
    }
    ASSERT_EQ(texts(dialogs.messages()), std::vector<QString>{warning});
    EXPECT_EQ(dialogs.messages()[0].title, texts::app("error"));
    // The warning brought the processing page back to the front.
    EXPECT_EQ(tabs->currentWidget(), page("processingPanel"));
    // Leaving the settings pages again, the processing page twice, does not warn again.
    for (const char* next :
         {"outputPanel", "inputPanel", "processingPanel", "aboutPanel", "processingPanel", "panel1"}) {
        tabs->setCurrentWidget(page(next));
        window.settle();
    }
    EXPECT_EQ(dialogs.messages().size(), 1U);
}

TEST(MainWindowBehaviourTest, RunningShowsOnlyStartLogAndAbout) {
    test::RecordingDialogs dialogs;
    for (const auto language : {texts::Language::German, texts::Language::English}) {
        texts::setLanguage(language);
        // Settings that warn when the controls are copied: the switch must not copy them.
        Config config;
        config.setMathOperation(MathOperation::DIVIDE);
        config.setMathOperand("4");
        Window window(config);
        QTabWidget* tabs = window.frame.tabbedPane();
        // The about page moves when the tabs before it go and come back.
        tabs->setCurrentWidget(window.find<QWidget>("aboutPanel"));
        auto* button = window.find<QPushButton>("startStopJButton");
        QStringList idle;
        for (int i = 0; i < tabs->count(); ++i)
            idle << tabs->widget(i)->objectName() + QLatin1Char('=') + tabs->tabText(i);
        const QString idleButton = button->text();
        const auto mnemonic = [](const QString& text) { return QKeySequence::mnemonic(text); };

        window.frame.setConnectedInGUI(true);
        EXPECT_FALSE(window.frame.isConnected());  // posted, not done at once
        window.settle();
        EXPECT_TRUE(window.frame.isConnected());
        QStringList running;
        for (int i = 0; i < tabs->count(); ++i)
            running << tabs->widget(i)->objectName();
        EXPECT_EQ(running, (QStringList{QStringLiteral("panel1"), QStringLiteral("eventLogPanel"),
                                        QStringLiteral("aboutPanel")}));
        EXPECT_EQ(QString(button->text()).remove(QLatin1Char('&')),
                  texts::app("RevareRiDevFrame2.startStopJButton.textStop"));
        EXPECT_EQ(mnemonic(button->text()), QKeySequence(Qt::ALT | Qt::Key_P));
        EXPECT_EQ(window.frame.statusLabel()->text(), texts::app("switch.to.target.application"));
        // The request button comes with the running look; without a request command it cannot be used.
        auto* request = window.find<QPushButton>("requestButton");
        EXPECT_FALSE(request->isHidden());
        EXPECT_FALSE(request->isEnabled());
        EXPECT_EQ(mnemonic(request->text()), QKeySequence(Qt::ALT | Qt::Key_R));

        window.frame.setConnectedInGUI(false);
        window.settle();
        QStringList back;
        for (int i = 0; i < tabs->count(); ++i)
            back << tabs->widget(i)->objectName() + QLatin1Char('=') + tabs->tabText(i);
        EXPECT_EQ(back, idle);
        EXPECT_EQ(button->text(), idleButton);
        EXPECT_EQ(mnemonic(button->text()), QKeySequence(Qt::ALT | Qt::Key_T));
        EXPECT_EQ(window.frame.statusLabel()->text(), texts::app("RevareRiDevFrame2.statusJLabel.text"));
        EXPECT_EQ(tabs->currentWidget(), window.find<QWidget>("aboutPanel"));
        EXPECT_TRUE(window.find<QPushButton>("requestButton")->isHidden());
        // Moving the tabs is not the user leaving a page: nothing was copied or reported meanwhile.
        EXPECT_TRUE(dialogs.calls.empty());
    }
    texts::setLanguage(texts::Language::German);
}

TEST(MainWindowBehaviourTest, DialogResultsReachTheSettings) {
    test::RecordingDialogs dialogs;
    Config config;
    config.setCustomRegEx("(\\d+)");
    config.setIgnoreTimeLimit("500");
    // Ports that do not exist: the detection started by the dialog finds nothing by itself.
    Window window(config, {"/dev/ttyZZ0", "/dev/ttyZZ1"});

    // The expression dialog: OK with a new expression, then Cancel after typing another.
    const auto typeExpression = [](const QString& expression, const char* button) {
        return [expression, button](QDialog& dialog) {
            dialog.findChild<QPlainTextEdit*>(QStringLiteral("regExTextArea"))->setPlainText(expression);
            dialog.findChild<QPushButton*>(QString::fromLatin1(button))->click();
            return dialog.result();
        };
    };
    dialogs.dialogScripts.push_back(typeExpression(QStringLiteral("([0-9]+)kg"), "okButton"));
    window.find<QPushButton>("customizeButton")->click();
    EXPECT_EQ(config.getCustomRegEx(), "([0-9]+)kg");
    dialogs.dialogScripts.push_back(typeExpression(QStringLiteral("x"), "cancelButton"));
    window.find<QPushButton>("customizeButton")->click();
    EXPECT_EQ(config.getCustomRegEx(), "([0-9]+)kg");

    // The duplicate dialog.
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        dialog.findChild<QLineEdit*>(QStringLiteral("ignoreTimeLimitTextField"))
            ->setText(QStringLiteral("750"));
        dialog.findChild<QLineEdit*>(QStringLiteral("ignoreDifferenceTextField"))
            ->setText(QStringLiteral("0.2"));
        for (auto* button : dialog.findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("OK")) button->click();
        return dialog.result();
    });
    window.find<QPushButton>("adjustIgnoreButton")->click();
    EXPECT_EQ(config.getIgnoreTimeLimit(), "750");
    EXPECT_EQ(config.getIgnoreDifference(), "0.2");

    // Port detection: the port it reports is selected in the port box and stored.
    dialogs.dialogScripts.push_back([](QDialog& dialog) {
        dynamic_cast<AutoPortDialog&>(dialog).setPort("/dev/ttyZZ1");
        dialog.reject();
        return dialog.result();
    });
    window.find<QPushButton>("autoButton")->click();
    EXPECT_EQ(window.frame.getPortList()->currentText(), QStringLiteral("/dev/ttyZZ1"));
    EXPECT_EQ(config.getPort(), "/dev/ttyZZ1");
    EXPECT_TRUE(dialogs.messages().empty());
}

TEST(MainWindowBehaviourTest, PortRefreshListsTheCurrentPortsAndKeepsTheChosenOne) {
    test::RecordingDialogs dialogs;
    base::SystemProperties::set("SERIAL_PORT_LIST", "/dev/ttyZA0;/dev/ttyZA1;/dev/ttyZA2");
    Config config;
    config.setPort("/dev/ttyZA1");
    Window window(config, {"/dev/ttyOLD"});
    window.find<QPushButton>("refreshPortsButton")->click();
    QComboBox* box = window.frame.getPortList();
    QStringList shown;
    for (int i = 0; i < box->count(); ++i)
        shown << box->itemText(i);
    EXPECT_EQ(shown, (QStringList{QStringLiteral("/dev/ttyZA0"), QStringLiteral("/dev/ttyZA1"),
                                  QStringLiteral("/dev/ttyZA2")}));
    EXPECT_EQ(box->currentText(), QStringLiteral("/dev/ttyZA1"));
    EXPECT_EQ(config.getPort(), "/dev/ttyZA1");
    EXPECT_TRUE(dialogs.messages().empty());
    base::SystemProperties::set("SERIAL_PORT_LIST", "");
}

std::vector<QString> tabNames(const QTabWidget& tabs) {
    std::vector<QString> names;
    for (int i = 0; i < tabs.count(); ++i)
        names.push_back(tabs.widget(i)->objectName());
    return names;
}

TEST(MainWindowBehaviourTest, StartProblemsShowTheirDialogAndLeaveTheWindowUsable) {
    using Options = worker::OutputRun::Options;
    using Icon = Dialogs::Icon;
    struct Row {
        const char* name;
        bool portOpens;
        Sound sound;
        std::function<void(Options&)> fault;
        const char* key;
        QString message;
        const char* titleKey;
        Icon icon;
        std::function<void(Config&)> arrange = [](Config&) {};
    };
    const std::vector<Row> rows{
        {"port cannot be opened",
         false,
         Sound::NONE,
         [](Options&) {},
         "error.opening.port",
         {},
         "error",
         Icon::Error},
        {"keyboard output cannot start", true, Sound::NONE,
         [](Options& o) {
             o.injector = []() -> std::unique_ptr<platform::KeyInjector> {
                 throw std::runtime_error("no keyboard here");
             };
         },
         "error.initializing.keyboard.output", QStringLiteral("no keyboard here"), "error", Icon::Error},
        {"sound cannot start", true, Sound::COWBELL,
         [](Options& o) {
             o.sound = [](Sound) -> std::unique_ptr<worker::SoundBot> {
                 throw std::runtime_error("no sound here");
             };
         },
         "error.while.initializing.sound.output", QStringLiteral("no sound here"), "sound.output.error",
         Icon::Plain},
        {"caps lock on",
         true,
         Sound::NONE,
         [](Options& o) { o.capsLockOn = [] { return true; }; },
         "caps.lock.on.letters.kept",
         {},
         "warning",
         Icon::Warning},
        {"caps lock on, not overridden",
         true,
         Sound::NONE,
         [](Options& o) { o.capsLockOn = [] { return true; }; },
         "please.turn.off.caps.lock",
         {},
         "warning",
         Icon::Warning,
         [](Config& c) { c.setOverrideCapsLock(false); }},
        {"value log cannot be opened", true, Sound::NONE, [](Options&) {}, "error.opening.value.log",
         QStringLiteral("/zorvik-no-such-folder/values.csv: ") +
             QString::fromStdString(std::generic_category().message(ENOENT)),
         "error", Icon::Error, [](Config& c) { c.setValueLog("/zorvik-no-such-folder/values.csv"); }},
    };
    test::selectApplicationPlatform();
    const std::vector<QString> all{QStringLiteral("panel1"),          QStringLiteral("inputPanel"),
                                   QStringLiteral("processingPanel"), QStringLiteral("outputPanel"),
                                   QStringLiteral("settingsPanel"),   QStringLiteral("eventLogPanel"),
                                   QStringLiteral("aboutPanel")};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::RecordingDialogs dialogs;
        test::Pty pty;  // a port that opens and stays quiet
        const std::string port = row.portOpens ? pty.path() : "/dev/zorvik-no-such-port";
        Config config;
        config.setPort(port);
        config.setSound(row.sound);
        row.arrange(config);
        const bool starts = row.portOpens && config.getValueLog().empty();
        Window window(config, {port});
        Options options;
        options.injector = [] { return std::make_unique<test::RecordingKeyInjector>(); };
        options.capsLockOn = [] { return false; };
        row.fault(options);
        window.frame.setOutputOptions(options);
        auto* start = window.find<QPushButton>("startStopJButton");

        // Twice: a failed start leaves the window as it was, ready for the next attempt.
        for (int attempt = 0; attempt < (starts ? 1 : 2); ++attempt) {
            dialogs.calls.clear();
            start->click();
            if (starts) {
                ASSERT_TRUE(test::waitFor([&] { return window.frame.isConnected(); }, milliseconds(5000)));
            }
            window.settle();
            ASSERT_EQ(dialogs.messages().size(), 1U);
            const auto shown = dialogs.messages()[0];
            EXPECT_TRUE(shown.text.startsWith(texts::app(row.key))) << shown.text.toStdString();
            if (!row.message.isEmpty()) {
                EXPECT_EQ(shown.text, texts::app(row.key) + row.message);
            }
            EXPECT_EQ(shown.title, texts::app(row.titleKey));
            EXPECT_EQ(shown.icon, row.icon);
        }
        if (starts) {
            EXPECT_EQ(tabNames(*window.frame.tabbedPane()).size(), 3U);
            start->click();  // Stop
            ASSERT_TRUE(test::waitFor([&] { return !window.frame.isConnected(); }, milliseconds(5000)));
        }
        window.settle();
        EXPECT_FALSE(window.frame.isConnected());
        EXPECT_EQ(tabNames(*window.frame.tabbedPane()), all);
        EXPECT_EQ(QString(start->text()).remove(QLatin1Char('&')),
                  texts::app("RevareRiDevFrame2.startStopJButton.text"));
    }
}

// The request controls on the Input tab reach the settings the run uses: the button sends the preset's
// command to the instrument, the answer is taken like any line, and the status line follows an unplug.
TEST(MainWindowBehaviourTest, RequestAndReconnectControlsReachTheRun) {
    test::selectApplicationPlatform();
    test::RecordingDialogs dialogs;
    test::Pty pty;
    Config config;
    config.setPort(pty.path());
    config.setInstrument(Instrument::METTLER_SICS);
    config.setInputTerminator(10);
    Window window(config, {pty.path()});
    worker::OutputRun::Options options;
    options.injector = [] { return std::make_unique<test::RecordingKeyInjector>(); };
    options.capsLockOn = [] { return false; };
    window.frame.setOutputOptions(options);

    auto* command = window.find<QLineEdit>("requestCommandTextField");
    EXPECT_EQ(command->placeholderText(), QStringLiteral("SI<13><10>"));
    window.find<QCheckBox>("reconnectCheckBox")->click();
    window.find<QLineEdit>("requestIntervalTextField")->setText(QStringLiteral("60000"));
    window.frame.updateConfigFromTabs();
    EXPECT_TRUE(config.getReconnect());
    EXPECT_EQ(config.getRequestInterval(), "60000");

    window.find<QPushButton>("startStopJButton")->click();
    ASSERT_TRUE(test::waitFor([&] { return window.frame.isConnected(); }, milliseconds(5000)));
    window.settle();
    auto* request = window.find<QPushButton>("requestButton");
    ASSERT_TRUE(request->isEnabled());
    request->click();
    EXPECT_EQ(pty.receive(4), "SI\r\n");
    pty.send("S S       12.5 g\r\n");
    ASSERT_TRUE(test::waitFor(
        [&] {
            window.settle();
            return window.frame.statusLabel()->text() == texts::app("line.count") + QStringLiteral("1");
        },
        milliseconds(5000)));

    // The instrument goes away: the run waits for it and says so in the status line.
    pty.closeMaster();
    const QString waiting = QString::fromStdString(
        base::formatMessage(texts::app("waiting.for.instrument").toStdString(), {pty.path()}));
    EXPECT_TRUE(test::waitFor(
        [&] {
            window.settle();
            return window.frame.statusLabel()->text() == waiting;
        },
        milliseconds(5000)));
    EXPECT_TRUE(window.frame.isConnected());
    window.find<QPushButton>("startStopJButton")->click();
    ASSERT_TRUE(test::waitFor(
        [&] {
            window.settle();
            return !window.frame.isConnected();
        },
        milliseconds(5000)));
}

// The instrument leaves while the window reads it: a lost connection, in red; in the demo, the virtual
// instrument's planned end, said as such in the log and the status line, which also told what to do.
TEST(MainWindowBehaviourTest, AnInstrumentThatLeavesEndsTheRunAsALossOrAsTheDemosEnd) {
    struct Row {
        const char* name;
        bool demo;
        const char* idleKey;     // the status line before the start
        const char* runningKey;  // and while output runs
        const char* endedKey;    // and after the instrument left
    };
    const std::vector<Row> rows{
        {"an instrument", false, "RevareRiDevFrame2.statusJLabel.text", "switch.to.target.application",
         "RevareRiDevFrame2.statusJLabel.text"},
        {"the demo", true, "demo.status", "demo.running", "demo.ended.status"},
    };
    test::selectApplicationPlatform();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::RecordingDialogs dialogs;
        test::Pty pty;
        Config config;
        config.setPort(pty.path());
        Window window(config, {pty.path()});
        worker::OutputRun::Options options;
        options.injector = [] { return std::make_unique<test::RecordingKeyInjector>(); };
        options.capsLockOn = [] { return false; };
        window.frame.setOutputOptions(options);
        window.frame.setDemo(row.demo);
        QLabel* status = window.frame.statusLabel();
        EXPECT_EQ(status->text(), texts::app(row.idleKey));

        window.find<QPushButton>("startStopJButton")->click();
        ASSERT_TRUE(test::waitFor([&] { return window.frame.isConnected(); }, milliseconds(5000)));
        window.settle();
        EXPECT_EQ(status->text(), texts::app(row.runningKey));
        pty.closeMaster();
        ASSERT_TRUE(test::waitFor([&] { return !window.frame.isConnected(); }, milliseconds(5000)));
        window.settle();

        EventLog* log = window.frame.eventLog();
        const QTextBlock last = log->document()->lastBlock();
        const QString lost = QString::fromStdString(
            worker::WeightWorker::text("execution.exception") +
            base::formatMessage(worker::WeightWorker::text("port.lost"), {pty.path()}));
        const QString demoEnded = QString::fromStdString(
            base::formatMessage(worker::WeightWorker::text("demo.ended"), {pty.path()}));
        EXPECT_EQ(last.text().mid(9), row.demo ? demoEnded : lost);
        const Style style = row.demo ? Style::Regular : Style::Important;
        EXPECT_EQ(last.begin().fragment().charFormat().foreground(), log->format(style).foreground());
        EXPECT_FALSE(log->toPlainText().contains(row.demo ? lost : demoEnded));
        EXPECT_EQ(status->text(), texts::app(row.endedKey));
        EXPECT_TRUE(dialogs.messages().empty());
    }
}

// Stop interrupts the typing at once. The values still waiting are named in the log and dropped: the
// next start, perhaps on another instrument, types only what it receives itself.
TEST(MainWindowBehaviourTest, StopNamesTheValuesNotTypedAndTheNextStartTypesNoneOfThem) {
    test::selectApplicationPlatform();
    test::RecordingDialogs dialogs;
    test::Pty pty;
    Config config;
    config.setPort(pty.path());
    config.setInstrument(Instrument::GENERIC);
    config.setInputTerminator(13);
    config.setDelay("1");
    config.setOutputTerminator(OutputTerminator::NONE);
    Window window(config, {pty.path()});
    // The first run's keys stop at their first pause until Stop; each injector lives as long as its run.
    std::mutex gate;
    std::unique_lock held(gate);
    test::RecordingKeyInjector* injector = nullptr;
    worker::OutputRun::Options options;
    options.capsLockOn = [] { return false; };
    options.injector = [&] {
        auto made = std::make_unique<test::RecordingKeyInjector>();
        if (injector == nullptr) made->onPause([&gate] { std::lock_guard pass(gate); });
        injector = made.get();
        return made;
    };
    window.frame.setOutputOptions(options);
    auto* button = window.find<QPushButton>("startStopJButton");
    const auto toggle = [&](bool connected) {
        button->click();
        ASSERT_TRUE(
            test::waitFor([&] { return window.frame.isConnected() == connected; }, milliseconds(5000)));
    };

    toggle(true);
    pty.send("1\r2\r3\r");
    ASSERT_TRUE(test::waitFor(
        [&] { return window.frame.statusLabel()->text() == texts::app("line.count") + QStringLiteral("3"); },
        milliseconds(5000)));
    ASSERT_TRUE(injector->waitForKeys("+49"));
    button->click();  // Stop
    held.unlock();
    ASSERT_TRUE(test::waitFor([&] { return !window.frame.isConnected(); }, milliseconds(5000)));
    window.settle();
    const QString log = window.frame.eventLog()->toPlainText();
    EXPECT_TRUE(log.contains(QString::fromStdString(worker::WeightWorker::text("values.not.typed")) +
                             QStringLiteral(" \"2\", \"3\"")))
        << log.toStdString();

    toggle(true);
    pty.send("4\r");
    EXPECT_TRUE(injector->waitForKeys("+52 -52")) << injector->keys();
    toggle(false);
}

}  // namespace
}  // namespace rszorvik
