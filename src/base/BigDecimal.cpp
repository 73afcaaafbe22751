#include "base/BigDecimal.h"

#include <array>
#include <cstdlib>
#include <limits>
#include <utility>

#include "base/Utf8.h"

namespace rszorvik::base {

namespace {

// Rescaling by more than this many powers of ten is refused: such a number would take megabytes to hold.
constexpr std::int64_t kMaxPowerOfTen = 1'000'000;

const mpz_class& smallPowerOfTen(unsigned n) {
    static const std::array<mpz_class, 40> table = [] {
        std::array<mpz_class, 40> t;
        t[0] = 1;
        for (std::size_t i = 1; i < t.size(); ++i)
            t[i] = t[i - 1] * 10;
        return t;
    }();
    return table[n];
}

mpz_class powerOfTen(std::int64_t n) {
    if (n < 40) return smallPowerOfTen(static_cast<unsigned>(n));
    mpz_class result;
    mpz_ui_pow_ui(result.get_mpz_t(), 10, static_cast<unsigned long>(n));
    return result;
}

mpz_class checkedPowerOfTen(std::int64_t n) {
    if (n > kMaxPowerOfTen) throw ArithmeticError("Scale difference too large");
    return powerOfTen(n);
}

// Number of decimal digits of |value|; 1 for zero.
std::int64_t digitCount(const mpz_class& value) {
    if (value == 0) return 1;
    auto n = static_cast<std::int64_t>(mpz_sizeinbase(value.get_mpz_t(), 10));
    // mpz_sizeinbase may overshoot by one.
    if (n > 1 && mpz_cmpabs(value.get_mpz_t(), powerOfTen(n - 1).get_mpz_t()) < 0) --n;
    return n;
}

// Whether a truncated quotient moves one step away from zero. sign: sign of the exact quotient;
// halfComparison: the discarded fraction compared with one half; odd: the truncated quotient is odd.
bool roundsAway(RoundingMode mode, int sign, int halfComparison, bool odd) {
    switch (mode) {
        case RoundingMode::UP:
            return true;
        case RoundingMode::DOWN:
            return false;
        case RoundingMode::CEILING:
            return sign > 0;
        case RoundingMode::FLOOR:
            return sign < 0;
        case RoundingMode::HALF_UP:
            return halfComparison >= 0;
        case RoundingMode::HALF_DOWN:
            return halfComparison > 0;
        case RoundingMode::HALF_EVEN:
            return halfComparison > 0 || (halfComparison == 0 && odd);
    }
    return false;
}

mpz_class divideAndRound(const mpz_class& numerator, const mpz_class& denominator, RoundingMode mode) {
    mpz_class quotient;
    mpz_class remainder;
    mpz_tdiv_qr(quotient.get_mpz_t(), remainder.get_mpz_t(), numerator.get_mpz_t(), denominator.get_mpz_t());
    if (remainder == 0) return quotient;
    const int sign = sgn(numerator) * sgn(denominator);
    mpz_class twice = abs(remainder) * 2;
    const int halfComparison = mpz_cmpabs(twice.get_mpz_t(), denominator.get_mpz_t());
    if (roundsAway(mode, sign, halfComparison, mpz_odd_p(quotient.get_mpz_t()) != 0)) quotient += sign;
    return quotient;
}

// unscaled * 10^-fromScale expressed at toScale, rounded with mode when digits are dropped.
mpz_class rescale(const mpz_class& unscaled, std::int64_t fromScale, std::int64_t toScale,
                  RoundingMode mode) {
    if (toScale >= fromScale) return unscaled * checkedPowerOfTen(toScale - fromScale);
    const std::int64_t drop = fromScale - toScale;
    if (unscaled == 0) return unscaled;
    if (drop > digitCount(unscaled)) {
        // |value| < 0.1 units of the target scale: the quotient is 0 and the fraction below one half.
        const int sign = sgn(unscaled);
        return mpz_class(roundsAway(mode, sign, -1, false) ? sign : 0);
    }
    return divideAndRound(unscaled, powerOfTen(drop), mode);
}

void checkTargetScale(std::int64_t scale) {
    if (scale > BigDecimal::kMaxExponent || scale < -BigDecimal::kMaxExponent)
        throw ArithmeticError("Scale out of range: " + std::to_string(scale));
}

std::int32_t checkedScale(std::int64_t scale, const mpz_class& unscaled) {
    if (scale > std::numeric_limits<std::int32_t>::max() ||
        scale < std::numeric_limits<std::int32_t>::min()) {
        if (unscaled != 0) throw ArithmeticError(scale > 0 ? "Underflow" : "Overflow");
        return scale > 0 ? std::numeric_limits<std::int32_t>::max()
                         : std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(scale);
}

mpz_class fromUint64(std::uint64_t value) {
    if constexpr (sizeof(unsigned long) >= sizeof(std::uint64_t)) {
        return mpz_class(static_cast<unsigned long>(value));
    } else {
        mpz_class result(static_cast<unsigned long>(value >> 32));
        result <<= 32;
        result += static_cast<unsigned long>(value & 0xFFFFFFFFu);
        return result;
    }
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The character starting at text[i], for messages: a whole UTF-8 sequence, or the one byte that starts none.
std::string characterAt(std::string_view text, std::size_t i) {
    std::size_t end = i;
    utf8::next(text, end);
    return std::string(text.substr(i, end - i));
}

[[noreturn]] void notACharacterOfANumber(std::string_view text, std::size_t i) {
    throw NumberFormatError(
        "Character " + characterAt(text, i) +
        " is neither a decimal digit number, decimal point, nor \"e\" notation exponential "
        "mark.");
}

}  // namespace

BigDecimal::BigDecimal() = default;

BigDecimal::BigDecimal(mpz_class unscaled, std::int32_t scale)
    : coefficient(std::move(unscaled)), decimalScale(scale) {}

BigDecimal BigDecimal::fromLong(long value) {
    return BigDecimal(mpz_class(value), 0);
}

BigDecimal BigDecimal::parse(std::string_view text) {
    if (text.empty()) throw NumberFormatError("Empty string.");
    if (text.size() > kMaxTextLength) throw NumberFormatError("Number too long.");

    std::size_t i = 0;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }

    std::string digits;
    std::uint64_t small = 0;  // the digits while they fit, to spare GMP the string conversion
    std::size_t digitTotal = 0;
    std::int64_t fractionDigits = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (isDigit(c)) {
            if (digitTotal < 18) {
                small = small * 10 + static_cast<std::uint64_t>(c - '0');
            } else {
                if (digitTotal == 18) digits = std::to_string(small);
                digits.push_back(c);
            }
            ++digitTotal;
            if (point) ++fractionDigits;
        } else if (c == '.') {
            if (point) throw NumberFormatError("Character array contains more than one decimal point.");
            point = true;
        } else if (c == 'e' || c == 'E') {
            break;
        } else {
            notACharacterOfANumber(text, i);
        }
    }
    if (digitTotal == 0) throw NumberFormatError("No digits found.");

    std::int64_t exponent = 0;
    if (i < text.size()) {
        ++i;  // the exponent mark
        bool negativeExponent = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            negativeExponent = text[i] == '-';
            ++i;
        }
        if (i == text.size()) throw NumberFormatError("No exponent digits found.");
        for (; i < text.size(); ++i) {
            if (!isDigit(text[i])) throw NumberFormatError("Not a digit.");
            // Saturate: anything this large is refused below anyway.
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[i] - '0');
        }
        if (negativeExponent) exponent = -exponent;
    }

    const std::int64_t scale = fractionDigits - exponent;
    if (scale > kMaxExponent || scale < -kMaxExponent) throw NumberFormatError("Exponent out of range.");

    mpz_class unscaled;
    if (digitTotal <= 18)
        unscaled = fromUint64(small);
    else
        unscaled.set_str(digits, 10);
    if (negative) unscaled = -unscaled;
    return BigDecimal(std::move(unscaled), static_cast<std::int32_t>(scale));
}

std::optional<BigDecimal> BigDecimal::tryParse(std::string_view text) noexcept {
    try {
        return parse(text);
    } catch (...) {
        // Bad text and allocation failure alike: tryParse promises not to throw.
        return std::nullopt;
    }
}

int BigDecimal::signum() const {
    return sgn(coefficient);
}

int BigDecimal::precision() const {
    return static_cast<int>(digitCount(coefficient));
}

BigDecimal BigDecimal::abs() const {
    return BigDecimal(::abs(coefficient), decimalScale);
}

BigDecimal BigDecimal::negate() const {
    return BigDecimal(-coefficient, decimalScale);
}

int BigDecimal::compareTo(const BigDecimal& other) const {
    const int sign = signum();
    const int otherSign = other.signum();
    if (sign != otherSign) return sign > otherSign ? 1 : -1;
    if (sign == 0) return 0;
    // Compare the position of the leading digit first, so only values of similar magnitude are aligned.
    const std::int64_t adjusted = digitCount(coefficient) - decimalScale;
    const std::int64_t otherAdjusted = digitCount(other.coefficient) - other.decimalScale;
    if (adjusted != otherAdjusted) return (adjusted > otherAdjusted ? 1 : -1) * sign;
    int result = 0;
    if (decimalScale == other.decimalScale)
        result = cmp(coefficient, other.coefficient);
    else if (decimalScale < other.decimalScale)
        result = cmp(mpz_class(coefficient * powerOfTen(std::int64_t{other.decimalScale} - decimalScale)),
                     other.coefficient);
    else
        result = cmp(coefficient, mpz_class(other.coefficient *
                                            powerOfTen(std::int64_t{decimalScale} - other.decimalScale)));
    return result > 0 ? 1 : (result < 0 ? -1 : 0);
}

BigDecimal BigDecimal::add(const BigDecimal& other) const {
    if (decimalScale == other.decimalScale) return BigDecimal(coefficient + other.coefficient, decimalScale);
    if (decimalScale > other.decimalScale)
        return BigDecimal(coefficient + other.coefficient * checkedPowerOfTen(std::int64_t{decimalScale} -
                                                                              other.decimalScale),
                          decimalScale);
    return BigDecimal(
        coefficient * checkedPowerOfTen(std::int64_t{other.decimalScale} - decimalScale) + other.coefficient,
        other.decimalScale);
}

BigDecimal BigDecimal::subtract(const BigDecimal& other) const {
    return add(other.negate());
}

BigDecimal BigDecimal::multiply(const BigDecimal& other) const {
    mpz_class product = coefficient * other.coefficient;
    const std::int32_t scale = checkedScale(std::int64_t{decimalScale} + other.decimalScale, product);
    return BigDecimal(std::move(product), scale);
}

BigDecimal BigDecimal::divide(const BigDecimal& divisor, std::int32_t scale, RoundingMode mode) const {
    if (divisor.coefficient == 0) throw ArithmeticError("/ by zero");
    checkTargetScale(scale);
    // (u1 * 10^-s1) / (u2 * 10^-s2) at scale s has the unscaled value u1 / u2 * 10^(s - s1 + s2).
    const std::int64_t shift = std::int64_t{scale} - decimalScale + divisor.decimalScale;
    if (coefficient == 0) return BigDecimal(mpz_class(0), scale);
    if (shift >= 0)
        return BigDecimal(divideAndRound(coefficient * checkedPowerOfTen(shift), divisor.coefficient, mode),
                          scale);
    return BigDecimal(divideAndRound(coefficient, divisor.coefficient * checkedPowerOfTen(-shift), mode),
                      scale);
}

BigDecimal BigDecimal::setScale(std::int32_t newScale, RoundingMode mode) const {
    checkTargetScale(newScale);
    if (newScale == decimalScale) return *this;
    return BigDecimal(rescale(coefficient, decimalScale, newScale, mode), newScale);
}

std::string BigDecimal::toPlainString() const {
    if (decimalScale == 0) return coefficient.get_str();
    if (decimalScale < 0) {
        if (coefficient == 0) return "0";
        std::string text = coefficient.get_str();
        text.append(static_cast<std::size_t>(-std::int64_t{decimalScale}), '0');
        return text;
    }
    const std::string digits = mpz_class(::abs(coefficient)).get_str();
    const auto scale = static_cast<std::size_t>(decimalScale);
    std::string text;
    text.reserve(digits.size() + scale + 3);
    if (coefficient < 0) text.push_back('-');
    if (digits.size() > scale) {
        text.append(digits, 0, digits.size() - scale);
        text.push_back('.');
        text.append(digits, digits.size() - scale, std::string::npos);
    } else {
        text.append("0.");
        text.append(scale - digits.size(), '0');
        text.append(digits);
    }
    return text;
}

std::string BigDecimal::toString() const {
    if (decimalScale == 0) return coefficient.get_str();
    const std::string digits = mpz_class(::abs(coefficient)).get_str();
    const auto length = static_cast<std::int64_t>(digits.size());
    const std::int64_t adjusted = -std::int64_t{decimalScale} + (length - 1);
    // Plain notation for non-negative scales unless the value is below 1E-6.
    if (decimalScale > 0 && adjusted >= -6) return toPlainString();
    std::string text;
    if (coefficient < 0) text.push_back('-');
    text.push_back(digits[0]);
    if (length > 1) {
        text.push_back('.');
        text.append(digits, 1, std::string::npos);
    }
    text.push_back('E');
    if (adjusted > 0) text.push_back('+');
    text.append(std::to_string(adjusted));
    return text;
}

}  // namespace rszorvik::base
