#include <gtest/gtest.h>

#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QVBoxLayout>
#include <array>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/CatalogText.h"
#include "app/FieldValidator.h"
#include "config/Config.h"
#include "support/RecordingDialogs.h"

using rszorvik::catalogText;
using rszorvik::FieldValidator;
using rszorvik::config::Config;
using rszorvik::test::RecordingDialogs;
using Field = FieldValidator::Field;

namespace {

struct FieldInfo {
    Field field;
    bool onOutputTab;
    const char* errorKey;
    const std::string& (Config::*read)() const;
    void (Config::*write)(std::string);
    std::string before;  // what the record holds before the field is left
};

const std::array<FieldInfo, 8> kFields{{
    {Field::EveryXValues, true, "error.edit.everyXValues", &Config::getEveryXValues, &Config::setEveryXValues,
     "5"},
    {Field::DecimalPlaces, false, "error.decimal.places", &Config::getDecimalPlaces,
     &Config::setDecimalPlaces, "3"},
    {Field::MathOperand, false, "error.math.operand", &Config::getMathOperand, &Config::setMathOperand, "4"},
    {Field::EditNumCharacters, false, "error.edit.numCharacters", &Config::getEditNumCharacters,
     &Config::setEditNumCharacters, "6"},
    {Field::RemoveCharacters, false, "error.edit.removeCharacters", &Config::getRemoveCharacters,
     &Config::setRemoveCharacters, "x"},
    {Field::RequestCommand, false, "error.request.command", &Config::getRequestCommand,
     &Config::setRequestCommand, "P"},
    {Field::RequestInterval, false, "error.request.interval", &Config::getRequestInterval,
     &Config::setRequestInterval, "500"},
    {Field::RequestHotKey, false, "error.request.hotkey", &Config::getRequestHotKey,
     &Config::setRequestHotKey, "F9"},
}};

const FieldInfo& info(Field field) {
    for (const auto& i : kFields)
        if (i.field == field) return i;
    throw std::logic_error("no such field");
}

// A window with the two tabs the fields live on, a neighbour field on each, and the validators.
struct Form {
    QApplication& app = rszorvik::test::guiApplication();
    Config config;
    bool closing = false;
    QTabWidget tabs;
    QWidget* output = new QWidget;
    QWidget* processing = new QWidget;
    std::map<Field, QLineEdit*> fields;
    std::vector<FieldValidator*> validators;

    Form() {
        auto* outputLayout = new QVBoxLayout(output);
        auto* processingLayout = new QVBoxLayout(processing);
        for (const auto& i : kFields) {
            (config.*i.write)(i.before);
            QWidget* page = i.onOutputTab ? output : processing;
            auto* edit = new QLineEdit(QString::fromStdString(i.before), page);
            (i.onOutputTab ? outputLayout : processingLayout)->addWidget(edit);
            fields[i.field] = edit;
            validators.push_back(new FieldValidator(
                i.field, edit, config, &tabs, page, [this] { return closing; }, &tabs));
        }
        outputLayout->addWidget(new QLineEdit(output));
        processingLayout->addWidget(new QLineEdit(processing));
        tabs.addTab(processing, QStringLiteral("Processing"));
        tabs.addTab(output, QStringLiteral("Output"));
        tabs.show();
        tabs.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&tabs));
    }
    QWidget* pageOf(Field field) { return info(field).onOutputTab ? output : processing; }
};

enum class Leave { ByTab, ToOtherPage };

struct Case {
    const char* what;
    Field field;
    const char* typed;  // UTF-8
    Leave leave;
    bool closing;
    bool accepted;
    std::string stored;  // what the record holds when accepted
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.what;
}

// Types the text key by key, also characters that have no key of their own on a US keyboard.
void type(QWidget* widget, const QString& text) {
    for (QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

class FieldValidatorTest : public testing::TestWithParam<Case> {};

TEST_P(FieldValidatorTest, LeavingTheFieldStoresOrRefuses) {
    const Case& c = GetParam();
    const FieldInfo& i = info(c.field);
    RecordingDialogs dialogs;
    Form form;
    form.closing = c.closing;
    QLineEdit* edit = form.fields[c.field];
    QWidget* home = form.pageOf(c.field);
    QWidget* elsewhere = home == form.output ? form.processing : form.output;
    form.tabs.setCurrentWidget(home);
    edit->setFocus();
    ASSERT_TRUE(edit->hasFocus()) << c.what;
    edit->clear();
    type(edit, QString::fromUtf8(c.typed));

    if (c.leave == Leave::ByTab) {
        QTest::keyClick(edit, Qt::Key_Tab);
    } else {
        QTabBar* bar = form.tabs.tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(form.tabs.indexOf(elsewhere)).center());
    }
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();

    const auto messages = dialogs.messages();
    if (c.accepted) {
        EXPECT_EQ((form.config.*i.read)(), c.stored) << c.what;
        EXPECT_TRUE(messages.empty()) << c.what;
        EXPECT_FALSE(edit->hasFocus()) << c.what;
        EXPECT_EQ(edit->text(), QString::fromUtf8(c.typed)) << c.what;
        return;
    }
    EXPECT_EQ((form.config.*i.read)(), i.before) << c.what;
    if (c.closing) {
        EXPECT_TRUE(messages.empty()) << c.what;
        EXPECT_EQ(edit->text(), QString::fromUtf8(c.typed)) << c.what;
        return;
    }
    ASSERT_EQ(messages.size(), 1u) << c.what;
    EXPECT_EQ(messages[0].text, catalogText(i.errorKey)) << c.what;
    EXPECT_EQ(messages[0].title, catalogText("error")) << c.what;
    EXPECT_TRUE(edit->text().isEmpty()) << c.what;
    EXPECT_EQ(form.tabs.currentWidget(), home) << c.what;
    EXPECT_TRUE(edit->hasFocus()) << c.what;
    // The emptied field is acceptable: leaving it again stores the empty text without a second report.
    QTest::keyClick(edit, Qt::Key_Tab);
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.messages().size(), 1u) << c.what;
    EXPECT_EQ((form.config.*i.read)(), "") << c.what;
}

constexpr Leave kTab = Leave::ByTab;
constexpr Leave kPage = Leave::ToOtherPage;

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, FieldValidatorTest,
    testing::Values(
        Case{"every X: 1", Field::EveryXValues, "1", kTab, false, false, ""},
        Case{"every X: 100", Field::EveryXValues, "100", kTab, false, false, ""},
        Case{"every X: 2", Field::EveryXValues, "2", kTab, false, true, "2"},
        Case{"every X: 99", Field::EveryXValues, "99", kTab, false, true, "99"},
        Case{"every X: empty", Field::EveryXValues, "", kTab, false, true, ""},
        Case{"every X: 1, then the other tab", Field::EveryXValues, "1", kPage, false, false, ""},
        Case{"every X: 1 while closing", Field::EveryXValues, "1", kTab, true, false, ""},
        Case{"every X: 7, then the other tab", Field::EveryXValues, "7", kPage, false, true, "7"},
        Case{"decimals: 0", Field::DecimalPlaces, "0", kTab, false, true, "0"},
        Case{"decimals: 7", Field::DecimalPlaces, "7", kTab, false, true, "7"},
        Case{"decimals: 8", Field::DecimalPlaces, "8", kTab, false, false, ""},
        Case{"decimals: -1", Field::DecimalPlaces, "-1", kTab, false, false, ""},
        Case{"operand: 2,5 stored with a point", Field::MathOperand, "2,5", kTab, false, true, "2.5"},
        Case{"operand: 0", Field::MathOperand, "0", kTab, false, false, ""},
        // Every zero would make a division fail on every value, not only the text "0".
        Case{"operand: 0.0", Field::MathOperand, "0.0", kTab, false, false, ""},
        Case{"operand: 00", Field::MathOperand, "00", kTab, false, false, ""},
        Case{"operand: -0", Field::MathOperand, "-0", kTab, false, false, ""},
        Case{"operand: 0,0", Field::MathOperand, "0,0", kTab, false, false, ""},
        Case{"operand: 1e3", Field::MathOperand, "1e3", kTab, false, true, "1e3"},
        Case{"operand: abc, then the other tab", Field::MathOperand, "abc", kPage, false, false, ""},
        Case{"characters: 0", Field::EditNumCharacters, "0", kTab, false, false, ""},
        Case{"characters: 1", Field::EditNumCharacters, "1", kTab, false, true, "1"},
        Case{"characters: 99", Field::EditNumCharacters, "99", kTab, false, true, "99"},
        Case{"remove: Latin-1 letter", Field::RemoveCharacters, "\xc3\xa9", kTab, false, true, "\xc3\xa9"},
        Case{"remove: euro sign", Field::RemoveCharacters, "a\xe2\x82\xac", kTab, false, false, ""},
        Case{"remove: euro sign while closing", Field::RemoveCharacters, "\xe2\x82\xac", kPage, true, false,
             ""},
        Case{"request: SI CR LF", Field::RequestCommand, "SI<13><10>", kTab, false, true, "SI<13><10>"},
        Case{"request: euro sign", Field::RequestCommand, "\xe2\x82\xac", kTab, false, false, ""},
        Case{"request every: 49", Field::RequestInterval, "49", kTab, false, false, ""},
        Case{"request every: 0", Field::RequestInterval, "0", kTab, false, true, "0"},
        Case{"hot key: R alone", Field::RequestHotKey, "R", kTab, false, false, ""},
        Case{"hot key: Ctrl+Alt+R", Field::RequestHotKey, "Ctrl+Alt+R", kTab, false, true, "Ctrl+Alt+R"}));

}  // namespace
