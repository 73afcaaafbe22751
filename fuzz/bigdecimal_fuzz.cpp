// BigDecimal from text an instrument or a settings file supplies: parsing, both ways of writing it out,
// and the arithmetic the processing chain applies (rescaling with every rounding mode, division), and the
// number formatter's shortcut for plain decimals against its arithmetic.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "base/BigDecimal.h"
#include "config/Config.h"
#include "worker/NumberFormatter.h"

using rszorvik::base::ArithmeticError;
using rszorvik::base::BigDecimal;
using rszorvik::base::NumberFormatError;
using rszorvik::base::RoundingMode;
using rszorvik::config::Config;
using rszorvik::worker::NumberFormatter;
using namespace rszorvik::fuzz;

namespace {

constexpr RoundingMode kModes[] = {RoundingMode::UP,       RoundingMode::DOWN,    RoundingMode::CEILING,
                                   RoundingMode::FLOOR,    RoundingMode::HALF_UP, RoundingMode::HALF_DOWN,
                                   RoundingMode::HALF_EVEN};

template <class Write>
std::string outcomeOf(const Write& write) {
    try {
        return write();
    } catch (const NumberFormatError&) {
        return "<number format error>";
    } catch (const ArithmeticError&) {
        return "<arithmetic error>";
    }
}

// The formatter's shortcut for plain decimals writes what its arithmetic writes, with or without
// rounding, on either decimal separator.
void compareFormatterPaths(std::string_view text, std::uint8_t pick) {
    Config config;
    config.setDecimalPlaces((pick & 1) != 0 ? std::to_string(pick % 7) : "");
    config.setDecimalSeparator((pick & 2) != 0 ? Config::DecimalSeparator::COMMA
                                               : Config::DecimalSeparator::DOT);
    const auto formatter = NumberFormatter::fromConfig(config);
    const std::string shortcut = outcomeOf([&] { return formatter.format(text); });
    const std::string arithmetic = outcomeOf([&] { return formatter.formatByArithmetic(text); });
    check(shortcut == arithmetic, "the formatter's two ways disagree", shortcut + " / " + arithmetic);
}

}  // namespace

// Input: "NUMBER" or "NUMBER\nOTHER"; the first byte also picks the scale and the rounding mode.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest = asText(data, size);
    const std::string_view first = takeUntil(rest, "\n");
    compareFormatterPaths(first, size > 0 ? data[0] : 0);
    const auto value = BigDecimal::tryParse(first);
    if (!value) return 0;

    // The scientific notation reads back as the same value and scale; the plain one as the same value
    // (a negative scale is written out as zeros).
    const std::string plain = value->toPlainString();
    const std::string scientific = value->toString();
    const auto fromPlain = BigDecimal::tryParse(plain);
    check(fromPlain && fromPlain->compareTo(*value) == 0 && (value->scale() < 0 || *fromPlain == *value),
          "toPlainString does not read back", plain);
    const auto fromScientific = BigDecimal::tryParse(scientific);
    check(fromScientific && *fromScientific == *value, "toString does not read back", scientific);

    const std::uint8_t pick = size > 0 ? data[0] : 0;
    const RoundingMode mode = kModes[pick % 7];
    const std::int32_t scale = static_cast<std::int32_t>(pick % 13) - 3;
    try {
        const BigDecimal rounded = value->setScale(scale, mode);
        check(rounded.scale() == scale, "setScale gave another scale");
        // Rounding moves the value by less than one unit of the new scale.
        const BigDecimal unit(1, scale);
        check(rounded.subtract(*value).abs().compareTo(unit) < 0, "setScale moved a whole unit", plain);
        // Rescaling without a fraction to drop is exact in every mode.
        if (scale >= value->scale()) check(rounded.compareTo(*value) == 0, "exact rescale changed the value");
    } catch (const ArithmeticError&) {
        // |scale| beyond the limit: refused, as documented.
    }

    const auto other = BigDecimal::tryParse(takeUntil(rest, "\n"));
    if (!other) return 0;
    (void)value->add(*other).toString();
    (void)value->multiply(*other).toPlainString();
    try {
        const BigDecimal quotient = value->divide(*other, scale, mode);
        check(other->signum() != 0, "division by zero did not throw");
        check(quotient.scale() == scale, "divide gave another scale");
    } catch (const ArithmeticError&) {
    }
    return 0;
}
