#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "base/BigDecimal.h"
#include "config/Config.h"
#include "worker/DataLine.h"
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
using InstrumentType = rszorvik::config::ConfigHelper::InstrumentType;

namespace {

Config preset(Instrument instrument) {
    Config config = instrument.getDefaultConfig();
    config.setInstrument(instrument);
    return config;
}

// The value of one line, or the failure message prefixed with "!".
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
        {"123", EditOperation::REMOVE, EditPosition::FIRST, 10, ""},
        {"123", EditOperation::REMOVE, EditPosition::FIRST, 3, ""},
        {"123", EditOperation::KEEP, EditPosition::LAST, 3, "123"},
        {"123", EditOperation::REMOVE, EditPosition::FIRST, 0, "123"},
        {"123", EditOperation::KEEP, EditPosition::FIRST, -2, "123"},
        {"", EditOperation::KEEP, EditPosition::FIRST, 2, ""},
        // Characters, not bytes: a received 0xB0 is one character.
        {"\u00b0C12", EditOperation::REMOVE, EditPosition::FIRST, 1, "C12"},
        {"12\u00b0C", EditOperation::KEEP, EditPosition::LAST, 2, "\u00b0C"},
        {"12\u00b0C", EditOperation::REMOVE, EditPosition::LAST, 2, "12"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Editor(row.operation, row.position, row.n).edit(row.text), row.expected)
            << row.text << " " << row.operation << " " << row.position << " " << row.n;
    }
}

TEST(RemoverTest, DropsEveryCharacterOfTheSet) {
    struct Row {
        const char* set;
        const char* text;
        const char* expected;
    };
    const std::vector<Row> rows = {
        {"gk", "12.5kg", "12.5"},       {"gk", "kg12.5g k", "12.5 "},
        {"", "12.5kg", "12.5kg"},       {".", "1.2.5", "125"},
        {"\u00b0", "21\u00b0C", "21C"}, {"\u00b0", "\u00c2\u00b0", "\u00c2"},
        {"\u20ac", "3\u20ac5", "35"},   {"abc", "", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Remover(std::string(row.set)).removeCharacters(row.text), row.expected)
            << row.set << " / " << row.text;
}

TEST(WorkerStageTest, NumberPresetsExtractEditAndFormat) {
    struct Row {
        const char* name;
        Instrument instrument;
        std::function<void(Config&)> settings;
        std::string raw;
        std::string expected;  // "!" + message for a failed line
    };
    const auto none = [](Config&) {};
    const auto comma = [](Config& c) { c.setDecimalSeparator(Config::DecimalSeparator::COMMA); };
    const auto custom = [](const char* expression) {
        return [expression](Config& c) { c.setCustomRegEx(expression); };
    };
    const std::vector<Row> rows = {
        {"A&D", Instrument::AND, none, "ST, +00012.34 kg\r\n", "12.34"},
        {"A&D comma", Instrument::AND, comma, "ST, +00012.34 kg\r\n", "12,34"},
        {"A&D negative comma input", Instrument::AND, none, "US, -00012,45 g\r\n", "-12.45"},
        {"A&D negative comma output", Instrument::AND, comma, "US, -00012,45 g\r\n", "-12,45"},
        {"A&D no match", Instrument::AND, none, "ST, 12345,67 kg\r\n", ""},
        {"terminator only", Instrument::GENERIC, none, "\n", ""},
        {"generic", Instrument::GENERIC, none, "  12.5 g\r\n", "12.5"},
        {"whitespace after the minus", Instrument::GENERIC, none, "- 7.5\r\n", "-7.5"},
        {"whitespace inside", Instrument::GENERIC, custom("([-0-9.\\s]+)"), "1 2 .\t5\r\n", "12.5"},
        {"received bytes before", Instrument::GENERIC, none, "\xb0\xff 3.5\r\n", "3.5"},
        {"rounding half up", Instrument::GENERIC, [](Config& c) { c.setDecimalPlaces("2"); }, "12.345\r\n",
         "12.35"},
        {"rounding floor", Instrument::GENERIC,
         [](Config& c) {
             c.setDecimalPlaces("2");
             c.setRoundingMethod(Config::RoundingMethod::FLOOR);
         },
         "12.345\r\n", "12.34"},
        {"multiply", Instrument::GENERIC,
         [](Config& c) {
             c.setMathOperation(Config::MathOperation::MULTIPLY);
             c.setMathOperand("1.5");
         },
         "2.5\r\n", "3.75"},
        {"remove characters", Instrument::GENERIC,
         [](Config& c) {
             c.setCustomRegEx("([0-9.]+kg)");
             c.setRemoveCharacters("gk");
         },
         "12.5kg\r\n", "12.5"},
        {"keep more than there is", Instrument::GENERIC,
         [](Config& c) {
             c.setEditOperation(EditOperation::KEEP);
             c.setEditNumCharacters("10");
         },
         "123\r\n", "123"},
        {"remove more than there is", Instrument::GENERIC,
         [](Config& c) {
             c.setEditOperation(EditOperation::REMOVE);
             c.setEditPosition(EditPosition::LAST);
             c.setEditNumCharacters("10");
         },
         "123\r\n", ""},
        {"edit before formatting", Instrument::GENERIC,
         [](Config& c) {
             c.setCustomRegEx("(\\S+)");
             c.setEditNumCharacters("2");
         },
         "ST-1.5\r\n", "-1.5"},
        {"removal leaves only whitespace", Instrument::GENERIC,
         [](Config& c) {
             c.setCustomRegEx("([a-z ]+)");
             c.setRemoveCharacters("abc");
         },
         "ab c\r\n", ""},
        {"group not taking part", Instrument::GENERIC, custom("(?:A(\\d+)|B(\\d+))"), "B12\r\n", ""},
        {"group taking part", Instrument::GENERIC, custom("(?:A(\\d+)|B(\\d+))"), "A12\r\n", "12"},
        {"empty group", Instrument::GENERIC, custom("X(\\d*)"), "X\r\n", ""},
        {"not a number", Instrument::GENERIC, custom("([-0-9.,]+)"), "1,234.5\r\n",
         "!Error [WW]: Character array contains more than one decimal point."},
        {"letters", Instrument::GENERIC, custom("W:(\\S+)"), "W:abc\r\n",
         "!Error [WW]: Character a is neither a decimal digit number, decimal point, nor \"e\" notation "
         "exponential mark."},
        {"trailing minus", Instrument::GENERIC, custom("([0-9.-]+)"), "12-\r\n",
         "!Error [WW]: No digits found."},
        {"group beyond the expression", Instrument::GENERIC, custom("\\d+"), "12\r\n",
         "!Error [WW]: No group 1"},
        {"group beyond, no match", Instrument::GENERIC, custom("\\d+"), "ab\r\n", ""},
    };
    for (const auto& row : rows) {
        Config config = preset(row.instrument);
        row.settings(config);
        EXPECT_EQ(run(config, row.raw), row.expected) << row.name;
    }
}

TEST(WorkerStageTest, TextPresetsTakeGroupOneAsExtracted) {
    struct Row {
        const char* name;
        Instrument instrument;
        std::function<void(Config&)> settings;
        std::string raw;
        std::string expected;
    };
    const auto none = [](Config&) {};
    const std::vector<Row> rows = {
        {"whitespace stays", Instrument::BARCODE_ALPHA_COMPLETE, none, " AB 12 \r", " AB 12 "},
        {"no number formatting", Instrument::BARCODE_ALPHA_COMPLETE, none, "12,50\r", "12,50"},
        {"first match", Instrument::BARCODE_ALPHA, none,
         "\xb0"
         "AB-12\r",
         "AB"},
        {"group 1 of a custom expression", Instrument::BARCODE_ALPHA_COMPLETE,
         [](Config& c) { c.setCustomRegEx("(A)(B)"); }, "AB\r", "A"},
        {"edit and removal", Instrument::BARCODE_ALPHA_COMPLETE,
         [](Config& c) {
             c.setEditNumCharacters("1");
             c.setRemoveCharacters("-");
         },
         "#A-B-C\r", "ABC"},
        {"received byte in the value", Instrument::BARCODE_ALPHA_COMPLETE,
         [](Config& c) { c.setCustomRegEx("([^\\r]+)"); },
         "21\xb0"
         "C\r",
         "21\u00b0C"},
        {"group not taking part", Instrument::BARCODE_ALPHA_COMPLETE,
         [](Config& c) { c.setCustomRegEx("(?:A(\\d+)|B)"); }, "B\r", ""},
    };
    for (const auto& row : rows) {
        Config config = preset(row.instrument);
        row.settings(config);
        EXPECT_EQ(WorkerStage::kindFor(config), WorkerStage::Kind::TEXT) << row.name;
        EXPECT_EQ(run(config, row.raw), row.expected) << row.name;
    }
}

TEST(WorkerStageTest, EveryPresetExtractsTheValueOfItsSampleLines) {
    for (const Instrument instrument : Instrument::values()) {
        const Config config = preset(instrument);
        for (const auto& [line, expected] : instrument.getTestStrings()) {
            const std::string value = run(config, line);
            if (instrument.getInstrumentType() == InstrumentType::TEXT) {
                EXPECT_EQ(value, expected) << instrument.name() << ": " << line;
                continue;
            }
            ASSERT_EQ(value.empty(), expected.empty())
                << instrument.name() << ": " << line << " gave " << value;
            if (expected.empty()) continue;
            std::string plain = expected;
            std::erase_if(plain, [](char c) { return c == ' '; });
            std::replace(plain.begin(), plain.end(), ',', '.');
            EXPECT_EQ(BigDecimal::parse(value).compareTo(BigDecimal::parse(plain)), 0)
                << instrument.name() << ": " << line << " gave " << value;
        }
    }
}

TEST(WorkerStageTest, AFailedLineUsesUpItsNumberAndTheRestGoOn) {
    Config config = preset(Instrument::GENERIC);
    config.setCustomRegEx("([^\\r\\n]+)");
    WorkerStage stage(config);
    const auto t0 = DataLine::Instant(std::chrono::seconds(1'700'000'000));
    const std::vector<std::pair<std::string, bool>> lines = {
        {"1\n", false}, {"2\n", true}, {"x\n", false}, {"\n", false}, {"4\n", false}};
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto instant = t0 + std::chrono::milliseconds(i);
        auto outcome = stage.process({lines[i].first, lines[i].second}, instant);
        if (const auto* failure = std::get_if<LineFailure>(&outcome)) {
            seen.push_back(std::to_string(failure->count) + " failed");
            continue;
        }
        const auto& line = std::get<DataLine>(outcome);
        EXPECT_EQ(line.getInstant(), instant);
        EXPECT_EQ(line.getRawData(), DataLine::transformControlChars(lines[i].first));
        seen.push_back(std::to_string(line.getCount()) + " " + line.getProcessedData() +
                       (line.isError() ? " error" : ""));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"1 1", "2 2 error", "3 failed", "4 ", "5 4"}));
    EXPECT_EQ(stage.getCount(), 5);
}

TEST(WorkerStageTest, ARunawayExpressionFailsItsLineInsteadOfHanging) {
    Config config = preset(Instrument::GENERIC);
    config.setCustomRegEx("(\\d+)+$");
    WorkerStage stage(config);
    auto outcome = stage.process({std::string(36, '1') + "b\n", false}, DataLine::Instant{});
    const auto* failure = std::get_if<LineFailure>(&outcome);
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->count, 1);
    EXPECT_EQ(failure->message.rfind("Error [WW]: ", 0), 0u) << failure->message;
    // The next line is processed as usual.
    outcome = stage.process({"12\n", false}, DataLine::Instant{});
    ASSERT_TRUE(std::holds_alternative<DataLine>(outcome));
    EXPECT_EQ(std::get<DataLine>(outcome).getCount(), 2);
    EXPECT_EQ(std::get<DataLine>(outcome).getProcessedData(), "12");
}

TEST(WorkerStageTest, SettingsThatCannotDriveAWorkerFailAtStart) {
    struct Row {
        const char* name;
        std::function<void(Config&)> settings;
        bool fails;
    };
    const std::vector<Row> rows = {
        {"expression does not compile", [](Config& c) { c.setCustomRegEx("(12"); }, true},
        {"operand not a number",
         [](Config& c) {
             c.setMathOperation(Config::MathOperation::MULTIPLY);
             c.setMathOperand("1.5x");
         },
         true},
        {"division without places is off, its operand unread",
         [](Config& c) {
             c.setMathOperation(Config::MathOperation::DIVIDE);
             c.setMathOperand("x");
         },
         false},
        {"operand unread while math is off", [](Config& c) { c.setMathOperand("x"); }, false},
    };
    for (const auto& row : rows) {
        Config config = preset(Instrument::GENERIC);
        row.settings(config);
        if (row.fails)
            EXPECT_THROW(WorkerStage{config}, WorkerSetupError) << row.name;
        else
            EXPECT_NO_THROW(WorkerStage{config}) << row.name;
    }
}

TEST(WorkerStageTest, AnUnsetPresetCountsAsTheDefaultOne) {
    const Config config;  // no preset at all
    EXPECT_EQ(WorkerStage::kindFor(config), WorkerStage::Kind::NUMBER);
    EXPECT_EQ(run(config, "ST, +12.50\r\n"), "12.50");
}
