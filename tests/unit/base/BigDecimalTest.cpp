#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "base/BigDecimal.h"

using rszorvik::base::ArithmeticError;
using rszorvik::base::BigDecimal;
using rszorvik::base::NumberFormatError;
using rszorvik::base::RoundingMode;

namespace {

// Column order of the expectation tables below.
constexpr std::array<RoundingMode, 7> kModes = {
    RoundingMode::UP,      RoundingMode::DOWN,      RoundingMode::CEILING,  RoundingMode::FLOOR,
    RoundingMode::HALF_UP, RoundingMode::HALF_DOWN, RoundingMode::HALF_EVEN};
constexpr std::array<const char*, 7> kModeNames = {"UP",      "DOWN",      "CEILING",  "FLOOR",
                                                   "HALF_UP", "HALF_DOWN", "HALF_EVEN"};

struct RoundingRow {
    const char* value;
    int scale;
    std::array<const char*, 7> expected;  // toString per mode, in kModes order
};

void expectRounding(const std::vector<RoundingRow>& rows) {
    for (const auto& row : rows) {
        for (std::size_t m = 0; m < kModes.size(); ++m) {
            EXPECT_EQ(BigDecimal::parse(row.value).setScale(row.scale, kModes[m]).toString(), row.expected[m])
                << row.value << " to scale " << row.scale << " " << kModeNames[m];
        }
    }
}

}  // namespace

TEST(BigDecimalTest, RoundingModesToScaleZero) {
    // The classic table of the seven modes: ties, non-ties, both signs.
    expectRounding({
        {"5.5", 0, {"6", "5", "6", "5", "6", "5", "6"}},
        {"2.5", 0, {"3", "2", "3", "2", "3", "2", "2"}},
        {"1.6", 0, {"2", "1", "2", "1", "2", "2", "2"}},
        {"1.1", 0, {"2", "1", "2", "1", "1", "1", "1"}},
        {"1.0", 0, {"1", "1", "1", "1", "1", "1", "1"}},
        {"-1.0", 0, {"-1", "-1", "-1", "-1", "-1", "-1", "-1"}},
        {"-1.1", 0, {"-2", "-1", "-1", "-2", "-1", "-1", "-1"}},
        {"-1.6", 0, {"-2", "-1", "-1", "-2", "-2", "-2", "-2"}},
        {"-2.5", 0, {"-3", "-2", "-2", "-3", "-3", "-2", "-2"}},
        {"-5.5", 0, {"-6", "-5", "-5", "-6", "-6", "-5", "-6"}},
    });
}

TEST(BigDecimalTest, ScaleChangesUpAndDown) {
    expectRounding({
        {"12.345", 2, {"12.35", "12.34", "12.35", "12.34", "12.35", "12.34", "12.34"}},
        {"-12.345", 2, {"-12.35", "-12.34", "-12.34", "-12.35", "-12.35", "-12.34", "-12.34"}},
        {"12.345", 5, {"12.34500", "12.34500", "12.34500", "12.34500", "12.34500", "12.34500", "12.34500"}},
        {"0.125", 2, {"0.13", "0.12", "0.13", "0.12", "0.13", "0.12", "0.12"}},
        {"0.005", 2, {"0.01", "0.00", "0.01", "0.00", "0.01", "0.00", "0.00"}},
        {"-0.005", 2, {"-0.01", "0.00", "0.00", "-0.01", "-0.01", "0.00", "0.00"}},
        {"0.0049", 2, {"0.01", "0.00", "0.01", "0.00", "0.00", "0.00", "0.00"}},
        {"-0.0051", 2, {"-0.01", "0.00", "0.00", "-0.01", "-0.01", "-0.01", "-0.01"}},
        // A carry that adds a digit.
        {"999.995", 2, {"1000.00", "999.99", "1000.00", "999.99", "1000.00", "999.99", "1000.00"}},
        {"-999.995", 2, {"-1000.00", "-999.99", "-999.99", "-1000.00", "-1000.00", "-999.99", "-1000.00"}},
        // Negative target scales round to tens and hundreds.
        {"12.5", -1, {"2E+1", "1E+1", "2E+1", "1E+1", "1E+1", "1E+1", "1E+1"}},
        {"1250", -2, {"1.3E+3", "1.2E+3", "1.3E+3", "1.2E+3", "1.3E+3", "1.2E+3", "1.2E+3"}},
        {"1E+3", 0, {"1000", "1000", "1000", "1000", "1000", "1000", "1000"}},
        {"0.00", -2, {"0E+2", "0E+2", "0E+2", "0E+2", "0E+2", "0E+2", "0E+2"}},
        // Far more digits dropped than the value has: only the direction of the mode counts.
        {"4E-9000", 2, {"0.01", "0.00", "0.01", "0.00", "0.00", "0.00", "0.00"}},
        {"-4E-9000", 2, {"-0.01", "0.00", "0.00", "-0.01", "0.00", "0.00", "0.00"}},
        {"6E-9000", 0, {"1", "0", "1", "0", "0", "0", "0"}},
    });
}

TEST(BigDecimalTest, DivideAtScaleWithEveryMode) {
    struct Row {
        const char* dividend;
        const char* divisor;
        int scale;
        std::array<const char*, 7> expected;
    };
    const std::vector<Row> rows = {
        {"1", "3", 5, {"0.33334", "0.33333", "0.33334", "0.33333", "0.33333", "0.33333", "0.33333"}},
        {"-1", "3", 5, {"-0.33334", "-0.33333", "-0.33333", "-0.33334", "-0.33333", "-0.33333", "-0.33333"}},
        {"1", "-3", 5, {"-0.33334", "-0.33333", "-0.33333", "-0.33334", "-0.33333", "-0.33333", "-0.33333"}},
        {"-1", "-3", 5, {"0.33334", "0.33333", "0.33334", "0.33333", "0.33333", "0.33333", "0.33333"}},
        {"2", "3", 5, {"0.66667", "0.66666", "0.66667", "0.66666", "0.66667", "0.66667", "0.66667"}},
        {"-2", "3", 5, {"-0.66667", "-0.66666", "-0.66666", "-0.66667", "-0.66667", "-0.66667", "-0.66667"}},
        {"1", "8", 2, {"0.13", "0.12", "0.13", "0.12", "0.13", "0.12", "0.12"}},
        {"5", "-8", 2, {"-0.63", "-0.62", "-0.62", "-0.63", "-0.63", "-0.62", "-0.62"}},
        {"7", "2", 0, {"4", "3", "4", "3", "4", "3", "4"}},
        {"-7", "2", 0, {"-4", "-3", "-3", "-4", "-4", "-3", "-4"}},
        {"0", "7", 3, {"0.000", "0.000", "0.000", "0.000", "0.000", "0.000", "0.000"}},
        // Operand scales take part: 1.00 / 0.3 and a divisor with an exponent.
        {"1.00", "0.3", 4, {"3.3334", "3.3333", "3.3334", "3.3333", "3.3333", "3.3333", "3.3333"}},
        {"12.345", "1e-2", 1, {"1234.5", "1234.5", "1234.5", "1234.5", "1234.5", "1234.5", "1234.5"}},
        {"1234", "1000", -2, {"1E+2", "0E+2", "1E+2", "0E+2", "0E+2", "0E+2", "0E+2"}},
    };
    for (const auto& row : rows) {
        for (std::size_t m = 0; m < kModes.size(); ++m) {
            const auto quotient =
                BigDecimal::parse(row.dividend).divide(BigDecimal::parse(row.divisor), row.scale, kModes[m]);
            EXPECT_EQ(quotient.toString(), row.expected[m])
                << row.dividend << " / " << row.divisor << " at " << row.scale << " " << kModeNames[m];
            EXPECT_EQ(quotient.scale(), row.scale);
        }
    }
}

TEST(BigDecimalTest, DivisionByZeroAndAbsurdScalesAreArithmeticErrors) {
    const auto one = BigDecimal::fromLong(1);
    EXPECT_THROW(one.divide(BigDecimal::parse("0.00"), 2, RoundingMode::HALF_UP), ArithmeticError);
    EXPECT_THROW(BigDecimal().divide(BigDecimal(), 2, RoundingMode::HALF_UP), ArithmeticError);
    EXPECT_THROW(one.divide(one, BigDecimal::kMaxExponent + 1, RoundingMode::DOWN), ArithmeticError);
    EXPECT_THROW(one.divide(one, -BigDecimal::kMaxExponent - 1, RoundingMode::DOWN), ArithmeticError);
    EXPECT_THROW(one.setScale(BigDecimal::kMaxExponent + 1, RoundingMode::DOWN), ArithmeticError);
    EXPECT_THROW(one.setScale(-2'000'000'000, RoundingMode::DOWN), ArithmeticError);
    EXPECT_EQ(one.setScale(BigDecimal::kMaxExponent, RoundingMode::DOWN).precision(),
              BigDecimal::kMaxExponent + 1);
    // A value built with an enormous scale cannot be blown up to a huge integer either.
    EXPECT_THROW(BigDecimal(mpz_class(1), -2'000'000'000).setScale(0, RoundingMode::DOWN), ArithmeticError);
    EXPECT_THROW(BigDecimal(mpz_class(1), -2'000'000'000).add(one), ArithmeticError);
    EXPECT_THROW(BigDecimal(mpz_class(3), 2'000'000'000).multiply(BigDecimal(mpz_class(3), 2'000'000'000)),
                 ArithmeticError);
}

TEST(BigDecimalTest, ParsesTheDecimalGrammarWithJavaScales) {
    struct Row {
        const char* text;
        const char* unscaled;
        int scale;
        int precision;
        const char* string;
        const char* plain;
    };
    const std::vector<Row> rows = {
        {"0", "0", 0, 1, "0", "0"},
        {"-0", "0", 0, 1, "0", "0"},
        {"+0", "0", 0, 1, "0", "0"},
        {"5.", "5", 0, 1, "5", "5"},
        {"-5.", "-5", 0, 1, "-5", "-5"},
        {".5", "5", 1, 1, "0.5", "0.5"},
        {"+.5E-2", "5", 3, 1, "0.005", "0.005"},
        {"1e3", "1", -3, 1, "1E+3", "1000"},
        {"1E+3", "1", -3, 1, "1E+3", "1000"},
        {"1e-3", "1", 3, 1, "0.001", "0.001"},
        {"1.50", "150", 2, 3, "1.50", "1.50"},
        {"-1.50", "-150", 2, 3, "-1.50", "-1.50"},
        {"+00012.345", "12345", 3, 5, "12.345", "12.345"},
        {"-0.00", "0", 2, 1, "0.00", "0.00"},
        {"0E+3", "0", -3, 1, "0E+3", "0"},
        {"0e-10", "0", 10, 1, "0E-10", "0.0000000000"},
        {"0.000001", "1", 6, 1, "0.000001", "0.000001"},
        {"0.0000001", "1", 7, 1, "1E-7", "0.0000001"},
        {"123.456e-10", "123456", 13, 6, "1.23456E-8", "0.0000000123456"},
        {"1.23E+5", "123", -3, 3, "1.23E+5", "123000"},
        {"-100e-2", "-100", 2, 3, "-1.00", "-1.00"},
        {"-5E+7", "-5", -7, 1, "-5E+7", "-50000000"},
        {"-0.000000123", "-123", 9, 3, "-1.23E-7", "-0.000000123"},
        {"0.1e1", "1", 0, 1, "1", "1"},
        {"12e0", "12", 0, 2, "12", "12"},
        {"8", "8", 0, 1, "8", "8"},
        {"-0.99", "-99", 2, 2, "-0.99", "-0.99"},
        {"1e0000000000003", "1", -3, 1, "1E+3", "1000"},
        {"-123456789.0123456789", "-1234567890123456789", 10, 19, "-123456789.0123456789",
         "-123456789.0123456789"},
        {"12345678901234567890123456789.5", "123456789012345678901234567895", 1, 30,
         "12345678901234567890123456789.5", "12345678901234567890123456789.5"},
        {"000000000000000000000000000007", "7", 0, 1, "7", "7"},
    };
    for (const auto& row : rows) {
        const auto value = BigDecimal::parse(row.text);
        EXPECT_EQ(value.unscaledValue().get_str(), row.unscaled) << row.text;
        EXPECT_EQ(value.scale(), row.scale) << row.text;
        EXPECT_EQ(value.precision(), row.precision) << row.text;
        EXPECT_EQ(value.toString(), row.string) << row.text;
        EXPECT_EQ(value.toPlainString(), row.plain) << row.text;
        EXPECT_EQ(BigDecimal::tryParse(row.text), value) << row.text;
    }
}

TEST(BigDecimalTest, ExtremeExponentsAtTheLimit) {
    const auto big = BigDecimal::parse("1e10000");
    EXPECT_EQ(big.scale(), -BigDecimal::kMaxExponent);
    EXPECT_EQ(big.toString(), "1E+10000");
    EXPECT_EQ(big.toPlainString(), "1" + std::string(10000, '0'));
    const auto tiny = BigDecimal::parse("-4.5E-9999");
    EXPECT_EQ(tiny.scale(), 10000);
    EXPECT_EQ(tiny.toString(), "-4.5E-9999");
    EXPECT_EQ(tiny.toPlainString(), "-0." + std::string(9998, '0') + "45");
}

TEST(BigDecimalTest, RejectsTextThatIsNotADecimalNumber) {
    const std::vector<std::string> bad = {"", ".", "e3", "1e", "1e+", "+", "-", " 1", "1 ", "1,5", "0x10",
                                          "\u221E", "NaN", "Infinity", "+-1", "--1", "1e+-3", "1.2.3",
                                          "1e3.5", ".e1", "1e3e4", "\u0661", "1\n", std::string("1\0", 2),
                                          // Exponents that would make the number absurdly long to write out.
                                          "1e10001", "1e-10001", "4.5E-10000", "0e-20000", "1e2147483648",
                                          "1e99999999999999999999", "1e-99999999999999999999",
                                          // Far more digits than any instrument sends.
                                          std::string(BigDecimal::kMaxTextLength + 1, '1')};
    for (const auto& text : bad) {
        EXPECT_THROW(BigDecimal::parse(text), NumberFormatError) << text;
        EXPECT_EQ(BigDecimal::tryParse(text), std::nullopt) << text;
    }
    EXPECT_NO_THROW(BigDecimal::parse(std::string(BigDecimal::kMaxTextLength, '9')));
}

TEST(BigDecimalTest, ParseErrorsNameTheFault) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"1,5",
         "Character , is neither a decimal digit number, decimal point, nor \"e\" notation exponential "
         "mark."},
        {"\u00B05",
         "Character \u00B0 is neither a decimal digit number, decimal point, nor \"e\" notation "
         "exponential mark."},
        {"2\u20ac",  // three bytes
         "Character \u20ac is neither a decimal digit number, decimal point, nor \"e\" notation "
         "exponential mark."},
        {"\xf0\x9f\x98\x80",  // four bytes
         "Character \xf0\x9f\x98\x80 is neither a decimal digit number, decimal point, nor \"e\" notation "
         "exponential mark."},
        {"1\xc3"  // a lead byte without its continuation: that byte alone, not the digit after it
         "5",
         "Character \xc3 is neither a decimal digit number, decimal point, nor \"e\" notation "
         "exponential mark."},
        {"-", "No digits found."},
        {"1.2.3", "Character array contains more than one decimal point."},
        {"1e3.5", "Not a digit."},
    };
    for (const auto& [text, message] : rows) {
        try {
            BigDecimal::parse(text);
            ADD_FAILURE() << text << " parsed";
        } catch (const NumberFormatError& e) {
            EXPECT_EQ(std::string(e.what()), message);
        }
    }
}

TEST(BigDecimalTest, CompareToIgnoresScale) {
    struct Row {
        const char* a;
        const char* b;
        int expected;
    };
    const std::vector<Row> rows = {
        {"1.0", "1.00", 0},        {"1e3", "1000.0", 0},   {"-0.5", "-0.50", 0},     {"0", "-0.000", 0},
        {"2", "10", -1},           {"-2", "-10", 1},       {"0.1", "0.09", 1},       {"-1", "1", -1},
        {"999", "1e3", -1},        {"1e-5", "0.00001", 0}, {"0.0001", "1e-5", 1},    {"1.001", "1.0009", 1},
        {"-1.001", "-1.0009", -1}, {"0", "1e-10000", -1},  {"1e10000", "9e9999", 1},
    };
    for (const auto& row : rows) {
        const auto a = BigDecimal::parse(row.a);
        const auto b = BigDecimal::parse(row.b);
        EXPECT_EQ(a.compareTo(b), row.expected) << row.a << " vs " << row.b;
        EXPECT_EQ(b.compareTo(a), -row.expected) << row.b << " vs " << row.a;
    }
    // Equality, unlike compareTo, sees the scale.
    EXPECT_FALSE(BigDecimal::parse("1.5") == BigDecimal::parse("1.50"));
}

TEST(BigDecimalTest, ExactArithmeticKeepsJavaScales) {
    struct Row {
        const char* a;
        const char* b;
        const char* sum;
        const char* difference;
        const char* product;
    };
    const std::vector<Row> rows = {
        {"1.5", "2.25", "3.75", "-0.75", "3.375"},       {"-1.5", "0.50", "-1.00", "-2.00", "-0.750"},
        {"1e3", "0.001", "1000.001", "999.999", "1"},    {"0.1", "-0.1", "0.0", "0.2", "-0.01"},
        {"123.45", "-1e2", "23.45", "223.45", "-12345"}, {"-0", "0.00", "0.00", "0.00", "0.00"},
    };
    for (const auto& row : rows) {
        const auto a = BigDecimal::parse(row.a);
        const auto b = BigDecimal::parse(row.b);
        EXPECT_EQ(a.add(b).toString(), row.sum) << row.a << " + " << row.b;
        EXPECT_EQ(a.subtract(b).toString(), row.difference) << row.a << " - " << row.b;
        EXPECT_EQ(a.multiply(b).toString(), row.product) << row.a << " * " << row.b;
    }
}

TEST(BigDecimalTest, SignAbsNegateKeepTheScale) {
    const auto value = BigDecimal::parse("-12.340");
    EXPECT_EQ(value.signum(), -1);
    EXPECT_EQ(value.abs(), BigDecimal(mpz_class(12340), 3));
    EXPECT_EQ(value.negate(), BigDecimal(mpz_class(12340), 3));
    EXPECT_EQ(value.abs().negate(), value);
    EXPECT_EQ(BigDecimal::parse("0.00").negate().toPlainString(), "0.00");
    EXPECT_EQ(BigDecimal::parse("-0.00").signum(), 0);
    EXPECT_EQ(BigDecimal::fromLong(-42).toString(), "-42");
    EXPECT_EQ(BigDecimal().toString(), "0");
}
