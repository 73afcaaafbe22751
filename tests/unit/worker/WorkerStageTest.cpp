#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "base/BigDecimal.h"
#include "config/Config.h"
#include "worker/Editor.h"
#include "worker/Remover.h"
#include "worker/WorkerStage.h"

using rszorvik::base::BigDecimal;
using rszorvik::config::Config;
using rszorvik::worker::DataLine;
using rszorvik::worker::Editor;
using rszorvik::worker::LineFailure;
using rszorvik::worker::Remover;
using rszorvik::worker::WorkerSetupError;
using rszorvik::worker::WorkerStage;
using EditOperation = Config::EditOperation;
using EditPosition = Config::EditPosition;
using Instrument = Config::Instrument;
using Settings = std::function<void(Config&)>;

namespace {

Config preset(Instrument instrument, const Settings& settings = {}) {
    Config config = instrument.getDefaultConfig();
    config.setInstrument(instrument);
    if (settings) settings(config);
    return config;
}

Settings expression(const char* pattern) {
    return [pattern](Config& c) { c.setCustomRegEx(pattern); };
}

// The value of one line, or "!" and the failure message.
std::string run(const Config& config, const std::string& raw) {
    WorkerStage stage(config);
    auto outcome = stage.process({DataLine::textFromBytes(raw), false}, DataLine::Instant{});
    if (const auto* failure = std::get_if<LineFailure>(&outcome)) return "!" + failure->message;
    return std::get<DataLine>(outcome).getProcessedData();
}

}  // namespace

TEST(EditorTest, KeepsOrRemovesCharactersAtEitherEnd) {
    struct Row {
        const char* text;
        EditOperation operation;
        EditPosition position;
        int n;
        const char* expected;
    };
    const std::vector<Row> rows = {
        {"+012.50", EditOperation::REMOVE, EditPosition::FIRST, 1, "012.50"},
        {"+012.50", EditOperation::KEEP, EditPosition::LAST, 3, ".50"},
        {"+012.50", EditOperation::KEEP, EditPosition::FIRST, 4, "+012"},
        {"+012.50", EditOperation::REMOVE, EditPosition::LAST, 2, "+012."},
        {"123", EditOperation::KEEP, EditPosition::FIRST, 10, "123"},
        {"123", EditOperation::KEEP, EditPosition::LAST, 10, "123"},
        {"123", EditOperation::REMOVE, EditPosition::LAST, 10, ""},
        {"123", EditOperation::REMOVE, EditPosition::FIRST, 3, ""},
        {"123", EditOperation::KEEP, EditPosition::FIRST, -2, "123"},
        // Characters, not bytes: a received 0xB0 is one character.
        {"\u00b0C12", EditOperation::REMOVE, EditPosition::FIRST, 1, "C12"},
        {"12\u00b0C", EditOperation::KEEP, EditPosition::LAST, 2, "\u00b0C"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Editor(row.operation, row.position, row.n).edit(row.text), row.expected)
            << row.text << " " << row.operation << " " << row.position << " " << row.n;
    }
}

TEST(RemoverTest, DropsEveryCharacterOfTheSet) {
    const std::vector<std::array<const char*, 3>> rows = {
        {"gk", "kg12.5g k", "12.5 "},
        {"", "12.5kg", "12.5kg"},
        {".", "1.2.5", "125"},
        {"\u00b0", "21\u00b0C", "21C"},
        {"\u00b0", "\u00c2\u00b0", "\u00c2"},
        {"\u20ac", "3\u20ac5", "35"},
    };
    for (const auto& [set, text, expected] : rows)
        EXPECT_EQ(Remover(std::string(set)).removeCharacters(text), expected) << set << " / " << text;
}

TEST(WorkerStageTest, NumberAndTextPresetsFromLineToValue) {
    struct Row {
        const char* name;
        Config config;
        std::string raw;
        std::string expected;  // "!" + message for a failed line
    };
    const auto comma = [](Config& c) { c.setDecimalSeparator(Config::DecimalSeparator::COMMA); };
    const auto text = Instrument::BARCODE_ALPHA_COMPLETE;
    const std::vector<Row> rows = {
        {"A&D", preset(Instrument::AND), "ST, +00012.34 kg\r\n", "12.34"},
        {"A&D comma", preset(Instrument::AND, comma), "ST, +00012.34 kg\r\n", "12,34"},
        {"A&D comma input", preset(Instrument::AND, comma), "US, -00012,45 g\r\n", "-12,45"},
        {"A&D no match", preset(Instrument::AND), "ST, 12345,67 kg\r\n", ""},
        {"terminator only", preset(Instrument::GENERIC), "\n", ""},
        {"minus, blank, number", preset(Instrument::GENERIC), "- 7.5\r\n", "-7.5"},
        {"whitespace inside", preset(Instrument::GENERIC, expression("([-0-9.\\s]+)")), "1 2 .\t5\r\n",
         "12.5"},
        {"rounding and math",
         preset(Instrument::GENERIC,
                [](Config& c) {
                    c.setDecimalPlaces("1");
                    c.setMathOperation(Config::MathOperation::MULTIPLY);
                    c.setMathOperand("1.5");
                }),
         "2.5\r\n", "3.8"},
        {"removal before formatting",
         preset(Instrument::GENERIC,
                [](Config& c) {
                    c.setCustomRegEx("([0-9.]+kg)");
                    c.setRemoveCharacters("gk");
                }),
         "12.5kg\r\n", "12.5"},
        {"edit before formatting",
         preset(Instrument::GENERIC,
                [](Config& c) {
                    c.setCustomRegEx("(\\S+)");
                    c.setEditNumCharacters("2");
                }),
         "ST-1.5\r\n", "-1.5"},
        {"edit leaves nothing",
         preset(Instrument::GENERIC,
                [](Config& c) {
                    c.setEditPosition(EditPosition::LAST);
                    c.setEditNumCharacters("10");
                }),
         "123\r\n", ""},
        {"removal leaves only whitespace",
         preset(Instrument::GENERIC,
                [](Config& c) {
                    c.setCustomRegEx("([a-z ]+)");
                    c.setRemoveCharacters("abc");
                }),
         "ab c\r\n", ""},
        // A group that did not take part gives a line without value, for both kinds of worker.
        {"group not taking part", preset(Instrument::GENERIC, expression("(?:A(\\d+)|B(\\d+))")), "B12\r\n",
         ""},
        {"group taking part", preset(Instrument::GENERIC, expression("(?:A(\\d+)|B(\\d+))")), "A12\r\n",
         "12"},
        {"text group not taking part", preset(text, expression("(?:A(\\d+)|B)")), "B\r", ""},
        {"not a number", preset(Instrument::GENERIC, expression("([-0-9.,]+)")), "1,234.5\r\n",
         "!Error [WW]: Character array contains more than one decimal point."},
        {"trailing minus", preset(Instrument::GENERIC, expression("([0-9.-]+)")), "12-\r\n",
         "!Error [WW]: No digits found."},
        {"group beyond the expression", preset(Instrument::GENERIC, expression("\\d+")), "12\r\n",
         "!Error [WW]: No group 1"},
        {"group beyond, no match", preset(Instrument::GENERIC, expression("\\d+")), "ab\r\n", ""},
        // Text presets: group 1, whitespace kept, no number formatting.
        {"text whitespace stays", preset(text), " AB 12 \r", " AB 12 "},
        {"text not formatted", preset(text), "12,50\r", "12,50"},
        {"text group 1", preset(text, expression("(A)(B)")), "AB\r", "A"},
        {"text edit and removal",
         preset(text,
                [](Config& c) {
                    c.setEditNumCharacters("1");
                    c.setRemoveCharacters("-");
                }),
         "#A-B-C\r", "ABC"},
        {"text received byte", preset(text, expression("([^\\r]+)")),
         "21\xb0"
         "C\r",
         "21\u00b0C"},
        {"no preset at all: the default one", Config(), "ST, +12.50\r\n", "12.50"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(run(row.config, row.raw), row.expected) << row.name;
}

TEST(WorkerStageTest, EveryPresetExtractsTheValueOfItsSampleLines) {
    for (const Instrument instrument : Instrument::values()) {
        for (const auto& [line, expected] : instrument.getTestStrings()) {
            const std::string value = run(preset(instrument), line);
            if (WorkerStage::kindFor(preset(instrument)) == WorkerStage::Kind::TEXT) {
                EXPECT_EQ(value, expected) << instrument.name() << ": " << line;
                continue;
            }
            ASSERT_EQ(value.empty(), expected.empty())
                << instrument.name() << ": " << line << " gave " << value;
            if (expected.empty()) continue;
            std::string plain = expected;
            std::erase(plain, ' ');
            std::replace(plain.begin(), plain.end(), ',', '.');
            EXPECT_EQ(BigDecimal::parse(value).compareTo(BigDecimal::parse(plain)), 0)
                << instrument.name() << ": " << line << " gave " << value;
        }
    }
}

TEST(WorkerStageTest, ARunawayExpressionFailsItsLineInsteadOfHanging) {
    WorkerStage stage(preset(Instrument::GENERIC, expression("(\\d+)+$")));
    auto outcome = stage.process({std::string(36, '1') + "b\n", false}, DataLine::Instant{});
    const auto* failure = std::get_if<LineFailure>(&outcome);
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->count, 1);
    EXPECT_EQ(failure->message.rfind("Error [WW]: ", 0), 0u) << failure->message;
    outcome = stage.process({"12\n", true}, DataLine::Instant{});  // the next line as usual
    ASSERT_TRUE(std::holds_alternative<DataLine>(outcome));
    EXPECT_EQ(std::get<DataLine>(outcome).getCount(), 2);
    EXPECT_EQ(std::get<DataLine>(outcome).getProcessedData(), "12");
    EXPECT_TRUE(std::get<DataLine>(outcome).isError());
}

TEST(WorkerStageTest, SettingsThatCannotDriveAWorkerFailAtStart) {
    const auto math = [](Config::MathOperation operation, const char* operand) {
        return [=](Config& c) {
            c.setMathOperation(operation);
            c.setMathOperand(operand);
        };
    };
    EXPECT_THROW(WorkerStage{preset(Instrument::GENERIC, expression("(12"))}, WorkerSetupError);
    EXPECT_THROW(WorkerStage{preset(Instrument::GENERIC, math(Config::MathOperation::MULTIPLY, "1.5x"))},
                 WorkerSetupError);
    // Division without decimal places is off, so its operand is never read.
    EXPECT_NO_THROW(WorkerStage{preset(Instrument::GENERIC, math(Config::MathOperation::DIVIDE, "x"))});
}
