#include "ValueSource.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace rszorvik::sim {
namespace {

constexpr std::size_t kMaxRampValues = 1000000;

// a + b, held at the nearest end of the range instead of overflowing: readings near the limits of the
// type may be as far apart as the type holds twice.
std::int64_t saturatedSum(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

std::int64_t pow10(int exponent) {
    std::int64_t result = 1;
    for (int i = 0; i < exponent; ++i)
        result *= 10;
    return result;
}

}  // namespace

Decimal Decimal::parse(std::string_view text) {
    const std::string original(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    Decimal result;
    bool digits = false, point = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            if (result.unscaled > (std::numeric_limits<std::int64_t>::max() - 9) / 10 || result.scale >= 9)
                throw std::invalid_argument("value out of range: \"" + original + "\"");
            result.unscaled = result.unscaled * 10 + (c - '0');
            if (point) ++result.scale;
            digits = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            throw std::invalid_argument("not a decimal number: \"" + original + "\"");
        }
    }
    if (!digits) throw std::invalid_argument("not a decimal number: \"" + original + "\"");
    if (negative) result.unscaled = -result.unscaled;
    return result;
}

Decimal Decimal::rescaled(int newScale) const {
    if (newScale < scale) throw std::invalid_argument("rescaling would lose digits");
    const std::int64_t factor = pow10(newScale - scale);
    if (std::abs(unscaled) > std::numeric_limits<std::int64_t>::max() / factor)
        throw std::invalid_argument("value out of range");
    return {unscaled * factor, newScale};
}

std::string Decimal::toString() const {
    std::string digits = std::to_string(unscaled < 0 ? -unscaled : unscaled);
    if (scale > 0) {
        if (digits.size() <= static_cast<std::size_t>(scale))
            digits.insert(0, static_cast<std::size_t>(scale) + 1 - digits.size(), '0');
        digits.insert(digits.size() - static_cast<std::size_t>(scale), ".");
    }
    return (unscaled < 0 ? "-" : "") + digits;
}

ValueSource ValueSource::list(const std::vector<std::string>& values) {
    if (values.empty()) throw std::invalid_argument("no values given");
    ValueSource source;
    for (const auto& value : values)
        source.passValues.push_back(Decimal::parse(value).toString());
    return source;
}

ValueSource ValueSource::ramp(std::string_view from, std::string_view to, std::string_view step) {
    Decimal first = Decimal::parse(from), last = Decimal::parse(to), increment = Decimal::parse(step);
    const int scale = std::max({first.scale, last.scale, increment.scale});
    first = first.rescaled(scale);
    last = last.rescaled(scale);
    increment = increment.rescaled(scale);
    const auto delta = static_cast<std::uint64_t>(std::abs(increment.unscaled));
    if (delta == 0) throw std::invalid_argument("step must not be zero");
    const bool down = last.unscaled < first.unscaled;
    // In unsigned arithmetic: the distance between two readings may exceed what std::int64_t holds.
    const std::uint64_t distance =
        down ? static_cast<std::uint64_t>(first.unscaled) - static_cast<std::uint64_t>(last.unscaled)
             : static_cast<std::uint64_t>(last.unscaled) - static_cast<std::uint64_t>(first.unscaled);
    const std::uint64_t count = distance / delta + 1;
    if (count > kMaxRampValues) throw std::invalid_argument("the range has more than a million steps");
    ValueSource source;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t offset = i * delta;  // at most distance
        const std::uint64_t value = down ? static_cast<std::uint64_t>(first.unscaled) - offset
                                         : static_cast<std::uint64_t>(first.unscaled) + offset;
        source.passValues.push_back(Decimal{static_cast<std::int64_t>(value), scale}.toString());
    }
    return source;
}

ValueSource ValueSource::randomWalk(std::string_view from, std::string_view to, std::string_view step,
                                    std::uint32_t seed) {
    Decimal first = Decimal::parse(from), last = Decimal::parse(to), increment = Decimal::parse(step);
    const int scale = std::max({first.scale, last.scale, increment.scale});
    ValueSource source;
    source.isRandom = true;
    source.current = first.rescaled(scale);
    last = last.rescaled(scale);
    source.low = source.current.unscaled <= last.unscaled ? source.current : last;
    source.high = source.current.unscaled <= last.unscaled ? last : source.current;
    source.stepSize = increment.rescaled(scale);
    source.stepSize.unscaled = std::abs(source.stepSize.unscaled);
    if (source.stepSize.unscaled == 0) throw std::invalid_argument("step must not be zero");
    source.generator.seed(seed);
    return source;
}

std::string ValueSource::next() {
    if (!isRandom) {
        const std::string& value = passValues[index];
        index = (index + 1) % passValues.size();
        return value;
    }
    const std::string value = current.toString();
    const int direction = std::uniform_int_distribution<int>(-1, 1)(generator);
    std::int64_t moved = saturatedSum(current.unscaled, direction * stepSize.unscaled);
    // Bounce off the ends so the walk keeps moving instead of sticking to a bound.
    if (moved > high.unscaled) moved = saturatedSum(current.unscaled, -stepSize.unscaled);
    if (moved < low.unscaled) moved = saturatedSum(current.unscaled, stepSize.unscaled);
    current.unscaled = std::clamp(moved, low.unscaled, high.unscaled);
    return value;
}

std::vector<std::string> ValueSource::widestValues() const {
    if (!isRandom) return passValues;
    return {low.toString(), high.toString()};
}

}  // namespace rszorvik::sim
