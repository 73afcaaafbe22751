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
    std::string v(text);
    std::replace(v.begin(), v.end(), ',', '.');
    if (const std::size_t minus = signPosition(v); minus != std::string::npos) {
        const std::string_view magnitude = trim(std::string_view(v).substr(minus + 1));
        std::string signedText(1, '-');
        signedText.append(magnitude);
        v = std::move(signedText);
    }

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
