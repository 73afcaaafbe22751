#pragma once

#include <gmpxx.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace rszorvik::base {

// The seven rounding modes of decimal arithmetic.
enum class RoundingMode { UP, DOWN, CEILING, FLOOR, HALF_UP, HALF_DOWN, HALF_EVEN };

// Text that is not a decimal number (or whose value would be absurdly large to write out).
class NumberFormatError : public std::invalid_argument {
  public:
    using std::invalid_argument::invalid_argument;
};

// Division by zero and similar arithmetic failures.
class ArithmeticError : public std::domain_error {
  public:
    using std::domain_error::domain_error;
};

// An arbitrary-precision decimal: unscaled big integer and a 32-bit scale, value = unscaled * 10^-scale.
// Behaves like java.math.BigDecimal: 1.50 and 1.5 are different values of equal magnitude.
class BigDecimal {
  public:
    // Exponents (and so scales) beyond this are refused by parse: such a number could not be written out.
    static constexpr std::int32_t kMaxExponent = 10000;
    // Longer text is refused by parse before any digit is converted.
    static constexpr std::size_t kMaxTextLength = 100000;

    BigDecimal();  // 0, scale 0
    BigDecimal(mpz_class unscaled, std::int32_t scale);
    static BigDecimal fromLong(long value);

    // Optional sign, digits with an optional point and fraction, optional exponent ("5.", ".5", "1e3", "-0").
    // Throws NumberFormatError for anything else.
    static BigDecimal parse(std::string_view text);
    static std::optional<BigDecimal> tryParse(std::string_view text) noexcept;

    const mpz_class& unscaledValue() const { return coefficient; }
    std::int32_t scale() const { return decimalScale; }
    int signum() const;
    int precision() const;  // number of digits of the unscaled value (1 for zero)

    BigDecimal abs() const;
    BigDecimal negate() const;
    int compareTo(const BigDecimal& other) const;  // by magnitude, ignoring scale

    BigDecimal add(const BigDecimal& other) const;
    BigDecimal subtract(const BigDecimal& other) const;
    BigDecimal multiply(const BigDecimal& other) const;  // scale = sum of the scales
    // Quotient at the given scale; throws ArithmeticError when the divisor is zero.
    BigDecimal divide(const BigDecimal& divisor, std::int32_t scale, RoundingMode mode) const;
    // Throws ArithmeticError when |newScale| (or |scale| of divide) exceeds kMaxExponent.
    BigDecimal setScale(std::int32_t newScale, RoundingMode mode) const;

    std::string toPlainString() const;  // never an exponent: 1E+3 gives "1000"
    std::string toString() const;       // scientific notation where java.math.BigDecimal uses it

    friend bool operator==(const BigDecimal& a, const BigDecimal& b) {
        return a.decimalScale == b.decimalScale && a.coefficient == b.coefficient;
    }

  private:
    mpz_class coefficient;
    std::int32_t decimalScale = 0;
};

}  // namespace rszorvik::base
