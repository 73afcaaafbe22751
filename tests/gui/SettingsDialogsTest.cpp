#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/CatalogText.h"
#include "app/CustomRegExDialog.h"
#include "app/DecimalSeparatorBox.h"
#include "app/Dialogs.h"
#include "app/IgnoreDialog.h"
#include "app/Texts.h"
#include "base/MessageFormat.h"
#include "config/Config.h"
#include "config/ConfigHelper.h"
#include "config/Instrument.h"
#include "prefs/Preferences.h"
#include "support/RecordingDialogs.h"

using rszorvik::catalogText;
using rszorvik::CustomRegExDialog;
using rszorvik::DecimalSeparatorBox;
using rszorvik::IgnoreDialog;
using rszorvik::config::Config;
using rszorvik::config::ConfigHelper::DecimalSeparator;
using rszorvik::config::ConfigHelper::Instrument;
using rszorvik::test::RecordingDialogs;
using Icon = rszorvik::Dialogs::Icon;

namespace {

enum class Press { Ok, Cancel, CloseWindow };

template <class T>
T* child(QWidget& parent, const char* name) {
    T* widget = parent.findChild<T*>(QString::fromUtf8(name));
    if (!widget) throw std::logic_error(std::string("no control ") + name);
    return widget;
}

// Presses the button or closes the window; true when the dialog closed.
bool finish(QDialog& dialog, Press press) {
    dialog.show();
    if (press == Press::CloseWindow)
        dialog.close();
    else
        child<QPushButton>(dialog, press == Press::Ok ? "okButton" : "cancelButton")->click();
    QCoreApplication::processEvents();
    return !dialog.isVisible();
}

void expectOneError(const RecordingDialogs& dialogs, const QString& text, const char* what) {
    const auto messages = dialogs.messages();
    ASSERT_EQ(messages.size(), 1u) << what;
    EXPECT_EQ(messages[0].text, text) << what;
    EXPECT_EQ(messages[0].title, catalogText("error")) << what;
}

void expectOneError(const RecordingDialogs& dialogs, const char* key, const char* what) {
    expectOneError(dialogs, catalogText(key), what);
}

// ---- duplicate filter settings ----

struct IgnoreCase {
    const char* what;
    std::optional<const char*> timeLimit;  // typed; none: left as opened
    std::optional<const char*> difference;
    Press press;
    bool refused;  // error shown, dialog still open
    const char* resultTimeLimit;
    const char* resultDifference;
};

void PrintTo(const IgnoreCase& c, std::ostream* os) {
    *os << c.what;
}

class IgnoreDialogTest : public testing::TestWithParam<IgnoreCase> {};

TEST_P(IgnoreDialogTest, TakesOnlyAcceptableValues) {
    const IgnoreCase& c = GetParam();
    rszorvik::test::guiApplication();
    RecordingDialogs dialogs;
    Config config;
    config.setIgnoreTimeLimit("300");
    config.setIgnoreDifference("0.2");
    IgnoreDialog dialog(nullptr, config);
    auto* timeField = child<QLineEdit>(dialog, "ignoreTimeLimitTextField");
    auto* differenceField = child<QLineEdit>(dialog, "ignoreDifferenceTextField");
    EXPECT_EQ(timeField->text(), QStringLiteral("300"));
    EXPECT_EQ(differenceField->text(), QStringLiteral("0.2"));
    if (c.timeLimit) timeField->setText(QString::fromUtf8(*c.timeLimit));
    if (c.difference) differenceField->setText(QString::fromUtf8(*c.difference));

    EXPECT_EQ(finish(dialog, c.press), !c.refused) << c.what;
    if (c.refused)
        expectOneError(dialogs, "ignore.error", c.what);
    else
        EXPECT_TRUE(dialogs.calls.empty()) << c.what;
    EXPECT_EQ(dialog.getIgnoreTimeLimit(), QString::fromUtf8(c.resultTimeLimit)) << c.what;
    EXPECT_EQ(dialog.getIgnoreDifference(), QString::fromUtf8(c.resultDifference)) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, IgnoreDialogTest,
    testing::Values(IgnoreCase{"decimal comma", "250", "0,5", Press::Ok, false, "250", "0.5"},
                    IgnoreCase{"time limit 0", "0", {}, Press::Ok, true, "300", "0.2"},
                    IgnoreCase{"time limit -5", "-5", {}, Press::Ok, true, "300", "0.2"},
                    IgnoreCase{"time limit beyond 32 bits", "4294967296", {}, Press::Ok, true, "300", "0.2"},
                    IgnoreCase{"time limit not a number", "1s", {}, Press::Ok, true, "300", "0.2"},
                    IgnoreCase{"difference 0", {}, "0", Press::Ok, true, "300", "0.2"},
                    IgnoreCase{"difference 0,0", {}, "0,0", Press::Ok, true, "300", "0.2"},
                    IgnoreCase{"difference negative", {}, "-1", Press::Ok, true, "300", "0.2"},
                    IgnoreCase{"two decimal commas", {}, "1,2,3", Press::Ok, true, "300", "0.2"},
                    IgnoreCase{"both empty switch the filter off", "", "", Press::Ok, false, "", ""},
                    IgnoreCase{"unchanged", {}, {}, Press::Ok, false, "300", "0.2"},
                    IgnoreCase{"cancel after editing", "10", "7", Press::Cancel, false, "300", "0.2"},
                    IgnoreCase{"window closed after editing", "10", "7", Press::CloseWindow, false, "300",
                               "0.2"}));

// ---- custom expression ----

const char* const kBasePattern = R"(([-+]?\s*[0-9]*[\.,]?[0-9]+))";
const char* const kOpened = R"(W:\s*(\d+))";

// The longest expression the settings file keeps, and one character more.
const std::string kLongest = "(" + std::string(rszorvik::prefs::Preferences::MAX_VALUE_LENGTH - 2, 'a') + ")";
const std::string kTooLong = "(" + std::string(rszorvik::prefs::Preferences::MAX_VALUE_LENGTH - 1, 'a') + ")";

struct RegExCase {
    const char* what;
    std::optional<std::string> typed;
    Press press;
    bool refused;
    std::string result;
    const char* error = "invalid.expression";  // the refusal's text, filled with the length limit
};

void PrintTo(const RegExCase& c, std::ostream* os) {
    *os << c.what;
}

class CustomRegExDialogTest : public testing::TestWithParam<RegExCase> {};

TEST_P(CustomRegExDialogTest, TakesOnlyAValidExpression) {
    const RegExCase& c = GetParam();
    rszorvik::test::guiApplication();
    RecordingDialogs dialogs;
    CustomRegExDialog dialog(nullptr, QString::fromUtf8(kOpened));
    auto* area = child<QPlainTextEdit>(dialog, "regExTextArea");
    EXPECT_EQ(area->toPlainText(), QString::fromUtf8(kOpened));
    if (c.typed) area->setPlainText(QString::fromStdString(*c.typed));

    EXPECT_EQ(finish(dialog, c.press), !c.refused) << c.what;
    const std::string limit = std::to_string(rszorvik::prefs::Preferences::MAX_VALUE_LENGTH);
    if (c.refused)
        expectOneError(dialogs,
                       QString::fromStdString(
                           rszorvik::base::formatMessage(catalogText(c.error).toStdString(), {limit})),
                       c.what);
    else
        EXPECT_TRUE(dialogs.calls.empty()) << c.what;
    EXPECT_EQ(dialog.getRegEx(), QString::fromStdString(c.result)) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, CustomRegExDialogTest,
    testing::Values(RegExCase{"opened and cancelled", {}, Press::Cancel, false, kOpened},
                    RegExCase{"opened and confirmed", {}, Press::Ok, false, kOpened},
                    RegExCase{"base pattern", kBasePattern, Press::Ok, false, kBasePattern},
                    RegExCase{"base pattern without parentheses", R"([-+]?\s*[0-9]*[\.,]?[0-9]+)", Press::Ok,
                              true, kOpened},
                    RegExCase{"does not compile", "([0-9]+", Press::Ok, true, kOpened},
                    RegExCase{"closing parenthesis first", R"(x\)([0-9]+))", Press::Ok, false,
                              R"(x\)([0-9]+))"},
                    RegExCase{"unescaped closing parenthesis first", "a)(b", Press::Ok, true, kOpened},
                    RegExCase{"cleared: preset pattern again", "", Press::Ok, false, ""},
                    RegExCase{"edited, then cancelled", "(x)", Press::Cancel, false, kOpened},
                    RegExCase{"edited, then window closed", "(x)", Press::CloseWindow, false, kOpened},
                    RegExCase{"as long as the settings keep", kLongest, Press::Ok, false, kLongest},
                    RegExCase{"longer than the settings keep", kTooLong, Press::Ok, true, kOpened,
                              "expression.too.long"}));

// ---- message boxes ----

// Names, paths and error texts come from outside: a port named like a link must not become one.
TEST(MessageBoxes, ShowTheirTextAsPlainText) {
    rszorvik::test::guiApplication();
    const QString hostile =
        QStringLiteral("Cannot open <a href=\"file:///etc/passwd\">COM1</a>: <b>busy</b>");
    const std::vector<std::pair<const char*, std::function<void(rszorvik::QtDialogs&)>>> boxes{
        {"message",
         [&](rszorvik::QtDialogs& d) { d.message(nullptr, hostile, QStringLiteral("t"), Icon::Error); }},
        {"question", [&](rszorvik::QtDialogs& d) {
             d.ask(nullptr, hostile, QStringLiteral("t"), rszorvik::Dialogs::Buttons::OkCancel,
                   Icon::Question);
         }}};
    for (const auto& [what, show] : boxes) {
        std::optional<Qt::TextFormat> format;
        QString shown;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            format = box->textFormat();
            if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
                shown = label->textFormat() == Qt::PlainText ? label->text() : QString();
            box->reject();
        });
        rszorvik::QtDialogs dialogs;
        show(dialogs);
        ASSERT_TRUE(format.has_value()) << what << ": no box";
        EXPECT_EQ(*format, Qt::PlainText) << what;
        EXPECT_EQ(shown, hostile) << what;
    }
}

// ---- decimal separator box ----

TEST(DecimalSeparatorBox, FollowsTheTypeOfThePreset) {
    rszorvik::test::guiApplication();
    Config config;
    config.setDecimalSeparator(DecimalSeparator::COMMA);
    config.setInstrument(Instrument::BARCODE);
    {
        DecimalSeparatorBox box(config, nullptr);
        EXPECT_EQ(box.objectName(), QStringLiteral("decimalSeparatorBox"));
        ASSERT_EQ(box.count(), static_cast<int>(DecimalSeparator::values().size()));
        for (DecimalSeparator separator : DecimalSeparator::values())
            EXPECT_EQ(box.itemText(separator.ordinal()), rszorvik::texts::label(separator));
        EXPECT_EQ(box.currentIndex(), DecimalSeparator(DecimalSeparator::COMMA).ordinal());
        EXPECT_FALSE(box.isEnabled()) << "a stored text preset";

        const std::vector<std::pair<Instrument, bool>> presets{
            {Instrument::GENERIC, true},        {Instrument::BARCODE_ALPHA, false},
            {Instrument::BARCODE_ALPHA, false}, {Instrument::SARTORIUS, true},
            {Instrument::METTLER_SICS, true},   {Instrument::BARCODE, false}};
        for (const auto& [preset, enabled] : presets) {
            config.setInstrument(preset);
            EXPECT_EQ(box.isEnabled(), enabled) << preset.name();
        }
    }
    // The box has gone; the record must not call it any more.
    config.setInstrument(Instrument::GENERIC);
}

}  // namespace
