#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/CatalogText.h"
#include "app/CustomRegExDialog.h"
#include "app/DecimalSeparatorBox.h"
#include "app/IgnoreDialog.h"
#include "app/Texts.h"
#include "config/Config.h"
#include "config/ConfigHelper.h"
#include "config/Instrument.h"
#include "support/RecordingDialogs.h"

using rszorvik::catalogText;
using rszorvik::CustomRegExDialog;
using rszorvik::DecimalSeparatorBox;
using rszorvik::IgnoreDialog;
using rszorvik::config::Config;
using rszorvik::config::ConfigHelper::DecimalSeparator;
using rszorvik::config::ConfigHelper::Instrument;
using rszorvik::test::RecordingDialogs;

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

void expectOneError(const RecordingDialogs& dialogs, const char* key, const char* what) {
    const auto messages = dialogs.messages();
    ASSERT_EQ(messages.size(), 1u) << what;
    EXPECT_EQ(messages[0].text, catalogText(key)) << what;
    EXPECT_EQ(messages[0].title, catalogText("error")) << what;
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

struct RegExCase {
    const char* what;
    std::optional<const char*> typed;
    Press press;
    bool refused;
    const char* result;
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
    if (c.typed) area->setPlainText(QString::fromUtf8(*c.typed));

    EXPECT_EQ(finish(dialog, c.press), !c.refused) << c.what;
    if (c.refused)
        expectOneError(dialogs, "invalid.expression", c.what);
    else
        EXPECT_TRUE(dialogs.calls.empty()) << c.what;
    EXPECT_EQ(dialog.getRegEx(), QString::fromUtf8(c.result)) << c.what;
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
                    RegExCase{"edited, then window closed", "(x)", Press::CloseWindow, false, kOpened}));

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
