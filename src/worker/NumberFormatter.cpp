#include "worker/NumberFormatter.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace rszorvik::worker {

namespace {

using base::BigDecimal;

bool isDigitOrPoint(char c) {
    return (c >= '0' && c <= '9') || c == '.';
}

// The first "-" that signs the number. A "-" right after the "e" of an exponent ("1.5e-3") belongs to the
// exponent: taking it for the sign would turn 0.0015 into -3.
std::size_t signPosition(std::string_view v) {
    for (std::size_t i = v.find('-'); i != std::string_view::npos; i = v.find('-', i + 1)) {
        const bool exponentSign = i >= 2 && (v[i - 1] == 'e' || v[i - 1] == 'E') && isDigitOrPoint(v[i - 2]);
        if (!exponentSign) return i;
    }
    return std::string_view::npos;
}

// Strips every character up to and including the blank (control characters too) from both ends.
std::string_view trim(std::string_view s) {
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end && static_cast<unsigned char>(s[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(s[end - 1]) <= ' ')
        --end;
    return s.substr(begin, end - begin);
}

}  // namespace

NumberFormatter::NumberFormatter(const config::Config& config, std::optional<int> roundingPrecision,
                                 std::optional<base::RoundingMode> roundingMode,
                                 std::optional<MathOperation> mathOperation,
                                 std::optional<base::BigDecimal> mathOperand)
    : roundingPrecision(roundingPrecision),
      roundingMode(roundingMode),
      mathOperation(mathOperation),
      mathOperand(std::move(mathOperand)),
      decimalSeparator(config.getDecimalSeparator()),
      roundingEnabled(config.roundingEnabled()),
      mathEnabled(config.mathOperationEnabled()) {
    if (mathEnabled && this->mathOperation && *this->mathOperation != MathOperation::NONE &&
        !this->mathOperand)
        throw std::invalid_argument("NumberFormatter: math operation without an operand");
    if (mathEnabled && this->mathOperation == MathOperation::DIVIDE &&
        (!this->roundingPrecision || !this->roundingMode))
        throw std::invalid_argument("NumberFormatter: division needs decimal places and a rounding mode");
}

NumberFormatter NumberFormatter::fromConfig(const config::Config& config) {
    std::optional<int> precision;
    std::optional<base::RoundingMode> mode;
    if (config.roundingEnabled()) {
        precision = config.getDecimalPlacesAsInt();
        mode = config.getRoundingMethod().getRoundingMode();
    }
    std::optional<MathOperation> operation;
    std::optional<BigDecimal> operand;
    if (config.mathOperationEnabled()) {
        operation = config.getMathOperation();
        operand = config.getMathOperandAsBigDecimal();
    }
    return NumberFormatter(config, precision, mode, operation, std::move(operand));
}

std::string NumberFormatter::format(std::string_view text) const {
    std::string v = signedText(text);
    if (auto plain = formatPlain(v)) return std::move(*plain);
    return formatNumber(v);
}

std::string NumberFormatter::formatByArithmetic(std::string_view text) const {
    return formatNumber(signedText(text));
}

std::string NumberFormatter::signedText(std::string_view text) {
    std::string v(text);
    std::replace(v.begin(), v.end(), ',', '.');
    if (const std::size_t minus = signPosition(v); minus != std::string::npos) {
        const std::string_view magnitude = trim(std::string_view(v).substr(minus + 1));
        std::string signedText(1, '-');
        signedText.append(magnitude);
        v = std::move(signedText);
    }
    return v;
}

// Most instruments send a plain decimal ("0012.50", "-3.5"), and most setups neither compute nor round
// it below its own decimals. Such a value is written out digit by digit: the big-number code and its
// allocations, cold after the pause between two lines, took longer than all the rest of the line's way to
// the first key. Anything else (an exponent, math, rounding that drops decimals, a long number) goes the
// general way, which gives the same text (the fuzz harness for numbers compares the two).
std::optional<std::string> NumberFormatter::formatPlain(std::string_view v) const {
    constexpr std::size_t kLongest = 40;
    if (v.empty() || v.size() > kLongest) return std::nullopt;
    if (mathEnabled && mathOperation && *mathOperation != MathOperation::NONE) return std::nullopt;
    std::size_t i = 0;
    bool negative = false;
    if (v[0] == '+' || v[0] == '-') {
        negative = v[0] == '-';
        ++i;
    }
    std::string_view fraction;
    const std::size_t point = v.find('.', i);
    std::string_view integer =
        v.substr(i, point == std::string_view::npos ? std::string_view::npos : point - i);
    if (point != std::string_view::npos) fraction = v.substr(point + 1);
    const auto allDigits = [](std::string_view s) {
        return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (integer.empty() && fraction.empty()) return std::nullopt;
    if (!allDigits(integer) || !allDigits(fraction)) return std::nullopt;
    if (roundingEnabled && roundingPrecision && roundingMode && !fraction.empty() &&
        *roundingPrecision < static_cast<int>(fraction.size()))
        return std::nullopt;

    const std::size_t firstDigit = integer.find_first_not_of('0');
    integer = firstDigit == std::string_view::npos ? std::string_view("0") : integer.substr(firstDigit);
    // Zero has no sign, whatever its decimals.
    negative = negative && (integer != "0" || fraction.find_first_not_of('0') != std::string_view::npos);
    std::string out;
    out.reserve(integer.size() + fraction.size() + 2);
    if (negative) out.push_back('-');
    out.append(integer);
    if (!fraction.empty()) {
        out.push_back(decimalSeparator == DecimalSeparator::COMMA ? ',' : '.');
        out.append(fraction);
    }
    return out;
}

std::string NumberFormatter::formatNumber(const std::string& v) const {
    BigDecimal number = BigDecimal::parse(v);
    if (mathEnabled && mathOperation) {
        if (*mathOperation == MathOperation::MULTIPLY)
            number = number.multiply(*mathOperand);
        else if (*mathOperation == MathOperation::DIVIDE)
            number = number.divide(*mathOperand, *roundingPrecision, *roundingMode);
    }

    // The sign is the number's before rounding, so -0.004 to two places stays negative: "-0.00".
    const bool negative = number.signum() < 0;
    // Rounding only ever removes decimals; otherwise the number is written with exactly its own.
    if (roundingEnabled && roundingPrecision && roundingMode && number.scale() > 0 &&
        *roundingPrecision < number.scale())
        number = number.setScale(*roundingPrecision, *roundingMode);

    const std::int64_t integerDigits =
        number.signum() == 0 ? 1
                             : std::max<std::int64_t>(1, std::int64_t{number.precision()} - number.scale());
    if (integerDigits > kMaxIntegerDigits || number.scale() > kMaxFractionDigits)
        throw base::NumberFormatError("Number too long to write out.");

    std::string out;
    if (negative) out.push_back('-');
    out += number.abs().toPlainString();
    if (decimalSeparator == DecimalSeparator::COMMA) std::replace(out.begin(), out.end(), '.', ',');
    return out;
}

}  // namespace rszorvik::worker
