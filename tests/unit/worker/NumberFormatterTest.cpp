#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "base/BigDecimal.h"
#include "config/Config.h"
#include "worker/NumberFormatter.h"

using rszorvik::base::ArithmeticError;
using rszorvik::base::NumberFormatError;
using rszorvik::config::Config;
using rszorvik::worker::NumberFormatter;
using DecimalSeparator = Config::DecimalSeparator;
using MathOperation = Config::MathOperation;
using RoundingMethod = Config::RoundingMethod;

// Expected texts below were produced with java.text.DecimalFormat("0") over java.math.BigDecimal (JDK 25),
// except where a test says otherwise.

namespace {

Config settings(std::optional<int> places, RoundingMethod method = RoundingMethod::HALF_UP,
                MathOperation operation = MathOperation::NONE, std::string operand = "",
                DecimalSeparator separator = DecimalSeparator::DOT) {
    Config config;
    config.setDecimalPlaces(places ? std::to_string(*places) : "");
    config.setRoundingMethod(method);
    config.setMathOperation(operation);
    config.setMathOperand(std::move(operand));
    config.setDecimalSeparator(separator);
    return config;
}

std::string format(const Config& config, const std::string& value) {
    return NumberFormatter::fromConfig(config).format(value);
}

// Column order of the rounding table: the order of the rounding methods.
constexpr std::array<RoundingMethod, 7> kMethods = {
    RoundingMethod::CEILING,   RoundingMethod::DOWN,    RoundingMethod::FLOOR, RoundingMethod::HALF_DOWN,
    RoundingMethod::HALF_EVEN, RoundingMethod::HALF_UP, RoundingMethod::UP};

struct RoundingRow {
    const char* value;
    int places;
    std::array<const char*, 7> expected;
};

}  // namespace

TEST(NumberFormatterTest, EveryRoundingMethodKeepsTheSignOfANegativeNumberThatRoundsToZero) {
    const std::vector<RoundingRow> rows = {
        {"12.345", 2, {"12.35", "12.34", "12.34", "12.34", "12.34", "12.35", "12.35"}},
        {"-12.345", 2, {"-12.34", "-12.34", "-12.35", "-12.34", "-12.34", "-12.35", "-12.35"}},
        {"1.005", 2, {"1.01", "1.00", "1.00", "1.00", "1.00", "1.01", "1.01"}},
        {"-1.005", 2, {"-1.00", "-1.00", "-1.01", "-1.00", "-1.00", "-1.01", "-1.01"}},
        {"0.125", 2, {"0.13", "0.12", "0.12", "0.12", "0.12", "0.13", "0.13"}},
        {"-0.125", 2, {"-0.12", "-0.12", "-0.13", "-0.12", "-0.12", "-0.13", "-0.13"}},
        {"0.135", 2, {"0.14", "0.13", "0.13", "0.13", "0.14", "0.14", "0.14"}},
        {"-0.135", 2, {"-0.13", "-0.13", "-0.14", "-0.13", "-0.14", "-0.14", "-0.14"}},
        {"-0.004", 2, {"-0.00", "-0.00", "-0.01", "-0.00", "-0.00", "-0.00", "-0.01"}},
        {"-0.005", 2, {"-0.00", "-0.00", "-0.01", "-0.00", "-0.00", "-0.01", "-0.01"}},
        // A tie with trailing zeros is still a tie (JDK 17's formatter rounded these half-downs up).
        {"0.0050", 2, {"0.01", "0.00", "0.00", "0.00", "0.00", "0.01", "0.01"}},
        {"-0.0050", 2, {"-0.00", "-0.00", "-0.01", "-0.00", "-0.00", "-0.01", "-0.01"}},
        {"0.50", 0, {"1", "0", "0", "0", "0", "1", "1"}},
        {"0.004", 2, {"0.01", "0.00", "0.00", "0.00", "0.00", "0.00", "0.01"}},
        {"9.995", 2, {"10.00", "9.99", "9.99", "9.99", "10.00", "10.00", "10.00"}},
        {"-9.995", 2, {"-9.99", "-9.99", "-10.00", "-9.99", "-10.00", "-10.00", "-10.00"}},
        // Fewer decimals than configured: never padded, never rounded.
        {"12.3", 2, {"12.3", "12.3", "12.3", "12.3", "12.3", "12.3", "12.3"}},
        {"2.5", 0, {"3", "2", "2", "2", "2", "3", "3"}},
        {"-2.5", 0, {"-2", "-2", "-3", "-2", "-2", "-3", "-3"}},
        {"3.5", 0, {"4", "3", "3", "3", "4", "4", "4"}},
        {"-0.4", 0, {"-0", "-0", "-1", "-0", "-0", "-0", "-1"}},
        {"-0.6", 0, {"-0", "-0", "-1", "-1", "-1", "-1", "-1"}},
        {"1.23456789",
         7,
         {"1.2345679", "1.2345678", "1.2345678", "1.2345679", "1.2345679", "1.2345679", "1.2345679"}},
        {"+00012.345", 1, {"12.4", "12.3", "12.3", "12.3", "12.3", "12.3", "12.4"}},
        {"-00012,345", 1, {"-12.3", "-12.3", "-12.4", "-12.3", "-12.3", "-12.3", "-12.4"}},
        // A direction mode acts on any non-zero remainder, however small. (The JDK's formatter writes
        // zero for anything below a tenth of the last place, whatever the mode.)
        {"0.0004", 2, {"0.01", "0.00", "0.00", "0.00", "0.00", "0.00", "0.01"}},
        {"-0.0004", 2, {"-0.00", "-0.00", "-0.01", "-0.00", "-0.00", "-0.00", "-0.01"}},
    };
    for (const auto& row : rows) {
        for (std::size_t m = 0; m < kMethods.size(); ++m) {
            EXPECT_EQ(format(settings(row.places, kMethods[m]), row.value), row.expected[m])
                << row.value << " to " << row.places << " places " << kMethods[m].name();
        }
    }
}

TEST(NumberFormatterTest, WritesTheNumberWithItsOwnDecimalsAndTheChosenSeparator) {
    struct Row {
        const char* value;
        const char* dot;
        const char* comma;
    };
    const std::vector<Row> rows = {
        {"1E+3", "1000", "1000"},
        {"-1E+3", "-1000", "-1000"},
        {"+00012.34", "12.34", "12,34"},
        {"-00012,45", "-12.45", "-12,45"},
        {".5", "0.5", "0,5"},
        {"5.", "5", "5"},
        {"-0", "0", "0"},
        {"-0.0", "0.0", "0,0"},
        {"0.000", "0.000", "0,000"},
        {"ST-1.5", "-1.5", "-1,5"},
        {"- 7.5", "-7.5", "-7,5"},
        {"+-5", "-5", "-5"},
        {"123456789012345678901234567890.5", "123456789012345678901234567890.5",
         "123456789012345678901234567890,5"},
        // The minus of an exponent is not the number's sign (taking it so would give -3).
        {"1e-3", "0.001", "0,001"},
        {"1.5E-3", "0.0015", "0,0015"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(format(settings(std::nullopt), row.value), row.dot) << row.value;
        EXPECT_EQ(format(settings(std::nullopt, RoundingMethod::HALF_UP, MathOperation::NONE, "",
                                  DecimalSeparator::COMMA),
                         row.value),
                  row.comma)
            << row.value;
    }
}

TEST(NumberFormatterTest, TextThatIsNotANumberIsANumberFormatError) {
    for (const char* value :
         {"12-", "-", "1,234.5", "abc", "--5", "-+5", "12.5kg", "", ".", "1e", "+", "1e-"}) {
        EXPECT_THROW(format(settings(2), value), NumberFormatError) << value;
    }
}

TEST(NumberFormatterTest, MathOperations) {
    struct Row {
        const char* value;
        MathOperation operation;
        const char* operand;
        std::optional<int> places;
        RoundingMethod method;
        const char* expected;
    };
    const std::vector<Row> rows = {
        {"10", MathOperation::DIVIDE, "3", 2, RoundingMethod::HALF_UP, "3.33"},
        {"-10", MathOperation::DIVIDE, "3", 2, RoundingMethod::HALF_UP, "-3.33"},
        {"10", MathOperation::DIVIDE, "3", 0, RoundingMethod::UP, "4"},
        {"-0.001", MathOperation::DIVIDE, "3", 2, RoundingMethod::HALF_UP, "0.00"},
        {"1", MathOperation::DIVIDE, "8", 2, RoundingMethod::HALF_EVEN, "0.12"},
        {"7", MathOperation::DIVIDE, "0.5", 1, RoundingMethod::HALF_UP, "14.0"},
        // Division runs only with decimal places: without them the value passes unchanged.
        {"10", MathOperation::DIVIDE, "3", std::nullopt, RoundingMethod::HALF_UP, "10"},
        // A product has the sum of both scales, so it can gain decimals.
        {"2.5", MathOperation::MULTIPLY, "1.5", std::nullopt, RoundingMethod::HALF_UP, "3.75"},
        {"2.5", MathOperation::MULTIPLY, "1.5", 1, RoundingMethod::HALF_EVEN, "3.8"},
        {"2.5", MathOperation::MULTIPLY, "1.5", 3, RoundingMethod::HALF_UP, "3.75"},
        {"-0.01", MathOperation::MULTIPLY, "0.1", 2, RoundingMethod::HALF_UP, "-0.00"},
        {"1E+3", MathOperation::MULTIPLY, "1E+2", std::nullopt, RoundingMethod::HALF_UP, "100000"},
        {"12.5", MathOperation::MULTIPLY, "2", std::nullopt, RoundingMethod::HALF_UP, "25.0"},
        {"1.50", MathOperation::MULTIPLY, "1.0", std::nullopt, RoundingMethod::HALF_UP, "1.500"},
        {"5", MathOperation::MULTIPLY, "0.001", 2, RoundingMethod::FLOOR, "0.00"},
        {"-5", MathOperation::MULTIPLY, "0.001", 2, RoundingMethod::FLOOR, "-0.01"},
        {"1,5", MathOperation::MULTIPLY, "2", std::nullopt, RoundingMethod::HALF_UP, "3.0"},
        // No operand: math is off.
        {"2.5", MathOperation::MULTIPLY, "", std::nullopt, RoundingMethod::HALF_UP, "2.5"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(format(settings(row.places, row.method, row.operation, row.operand), row.value),
                  row.expected)
            << row.value << " " << row.operation.name() << " " << row.operand;
    }
}

TEST(NumberFormatterTest, DivisionByZeroFailsTheValueAndABadOperandFailsTheStart) {
    EXPECT_THROW(format(settings(2, RoundingMethod::HALF_UP, MathOperation::DIVIDE, "0"), "10"),
                 ArithmeticError);
    EXPECT_THROW(
        NumberFormatter::fromConfig(settings(2, RoundingMethod::HALF_UP, MathOperation::MULTIPLY, "x")),
        NumberFormatError);
    // While math is off the operand is never read.
    EXPECT_EQ(format(settings(2, RoundingMethod::HALF_UP, MathOperation::NONE, "x"), "1.5"), "1.5");
}

TEST(NumberFormatterTest, RefusesToWriteOutAbsurdlyLongNumbers) {
    const std::string longest = "1" + std::string(NumberFormatter::kMaxIntegerDigits - 1, '0');
    EXPECT_EQ(format(settings(std::nullopt), "1E+10000"), longest);
    // Products can reach twice the exponent parsing admits.
    const auto huge = settings(std::nullopt, RoundingMethod::HALF_UP, MathOperation::MULTIPLY, "1E+10000");
    EXPECT_THROW(format(huge, "1E+10000"), NumberFormatError);
    EXPECT_THROW(format(huge, "10"), NumberFormatError);
    const auto tiny = [](std::optional<int> places) {
        return settings(places, RoundingMethod::HALF_UP, MathOperation::MULTIPLY, "1E-10000");
    };
    EXPECT_THROW(format(tiny(std::nullopt), "1E-10"), NumberFormatError);
    // Rounded to a few places such a product is short again.
    EXPECT_EQ(format(tiny(2), "1E-10"), "0.00");
    EXPECT_EQ(format(tiny(2), "-1E-10"), "-0.00");
    const auto quotient = settings(2, RoundingMethod::HALF_UP, MathOperation::DIVIDE, "1E-10000");
    EXPECT_THROW(format(quotient, "1E+10000"), NumberFormatError);
}

// Plain decimals take a shortcut past the big-number arithmetic; every value, in every setting, must come
// out as the arithmetic writes it (or fail the same way).
TEST(NumberFormatterTest, TheShortcutForPlainDecimalsWritesWhatTheArithmeticWrites) {
    const auto outcome = [](const auto& write) -> std::string {
        try {
            return write();
        } catch (const NumberFormatError&) {
            return "<number format error>";
        } catch (const ArithmeticError&) {
            return "<arithmetic error>";
        }
    };
    std::vector<std::string> values = {"", ".", "-", "+", "1e3", "-1.5E-3", "1.2.3", "12a", "--5", " 5"};
    for (const char* sign : {"", "+", "-", "- ", "+-"})
        for (const char* integer : {"", "0", "00", "7", "0012", "123456789012345678901234567890123456789"})
            for (const char* fraction : {"", ".", ".0", ".00", ".5", ".50", ".000001", ".123456789", ",25"})
                values.push_back(std::string(sign) + integer + fraction);
    for (const std::optional<int> places :
         {std::optional<int>(), std::optional<int>(0), std::optional<int>(2), std::optional<int>(9)})
        for (const auto operation : {MathOperation::NONE, MathOperation::MULTIPLY})
            for (const auto separator : {DecimalSeparator::DOT, DecimalSeparator::COMMA}) {
                const auto formatter = NumberFormatter::fromConfig(
                    settings(places, RoundingMethod::HALF_EVEN, operation, "2", separator));
                for (const auto& value : values)
                    EXPECT_EQ(outcome([&] { return formatter.format(value); }),
                              outcome([&] { return formatter.formatByArithmetic(value); }))
                        << '"' << value << "\" places " << places.value_or(-1) << " operation "
                        << static_cast<int>(operation) << " separator " << static_cast<int>(separator);
            }
}
