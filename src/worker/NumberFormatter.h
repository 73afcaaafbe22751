#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/BigDecimal.h"
#include "config/Config.h"

namespace rszorvik::worker {

// Turns an extracted value into the number text to type: math operation, rounding, decimal separator.
// The output has no grouping, at least one integer digit, "-" for negatives (also when the number rounds
// to zero: -0.004 to two places is "-0.00") and never an exponent (1E+3 is "1000").
class NumberFormatter {
  public:
    using MathOperation = config::ConfigHelper::MathOperation;
    using DecimalSeparator = config::ConfigHelper::DecimalSeparator;

    // Longest plain rendering written; a longer one is a number-format error for its line rather than an
    // allocation of megabytes (products and quotients can exceed what parsing admits).
    static constexpr std::int32_t kMaxIntegerDigits = base::BigDecimal::kMaxExponent + 1;
    static constexpr std::int32_t kMaxFractionDigits = base::BigDecimal::kMaxExponent;

    // config supplies whether rounding and math are on and the decimal separator; the caller passes the
    // rounding pair absent when rounding is off and the math pair absent when math is off.
    NumberFormatter(const config::Config& config, std::optional<int> roundingPrecision,
                    std::optional<base::RoundingMode> roundingMode,
                    std::optional<MathOperation> mathOperation, std::optional<base::BigDecimal> mathOperand);

    // As the number worker builds it at start. Throws base::NumberFormatError when math is on and the
    // operand is not a number.
    static NumberFormatter fromConfig(const config::Config& config);

    // Throws base::NumberFormatError for a value that is not a number (or too long to write out) and
    // base::ArithmeticError for a division by zero.
    std::string format(std::string_view text) const;
    // format() without its shortcut for plain decimals: always through the big-number arithmetic. Both
    // give the same text or the same error.
    std::string formatByArithmetic(std::string_view text) const;

    bool isRoundingEnabled() const { return roundingEnabled; }
    bool isMathEnabled() const { return mathEnabled; }

  private:
    // The text with "," read as the decimal point and its sign moved to the front.
    static std::string signedText(std::string_view text);
    // The text for a plain decimal that needs no arithmetic; nothing for any other value.
    std::optional<std::string> formatPlain(std::string_view v) const;
    std::string formatNumber(const std::string& v) const;

    std::optional<int> roundingPrecision;
    std::optional<base::RoundingMode> roundingMode;
    std::optional<MathOperation> mathOperation;
    std::optional<base::BigDecimal> mathOperand;
    DecimalSeparator decimalSeparator;
    bool roundingEnabled;
    bool mathEnabled;
};

}  // namespace rszorvik::worker
