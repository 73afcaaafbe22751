#include "base/MessageFormat.h"

#include <cstddef>
#include <optional>

namespace rszorvik::base {
namespace {

// The decimal number at text[i], moving i past it; none (i unchanged) when no digit is there or the
// number cannot be an argument index of a message.
std::optional<std::size_t> readIndex(std::string_view text, std::size_t& i) {
    std::size_t j = i;
    std::size_t value = 0;
    while (j < text.size() && text[j] >= '0' && text[j] <= '9') {
        value = value * 10 + static_cast<std::size_t>(text[j] - '0');
        if (value > 999) return std::nullopt;
        ++j;
    }
    if (j == i) return std::nullopt;
    i = j;
    return value;
}

}  // namespace

std::string formatMessage(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(pattern.size() + 16 * args.size());
    // Appends argument `index` (from 0), or the placeholder's own text when there is no such argument.
    const auto fill = [&](std::optional<std::size_t> index, std::string_view placeholder) {
        if (index && *index < args.size())
            out += *(args.begin() + *index);
        else
            out += placeholder;
    };
    std::size_t nextInOrder = 0;
    for (std::size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size()) {
            const char conversion = pattern[i + 1];
            if (conversion == '%') {
                out += '%';
                i += 2;
                continue;
            }
            if (conversion == 's' || conversion == 'd') {
                fill(nextInOrder++, pattern.substr(i, 2));
                i += 2;
                continue;
            }
            std::size_t j = i + 1;
            const auto position = readIndex(pattern, j);
            if (position && *position > 0 && j + 1 < pattern.size() && pattern[j] == '$' &&
                (pattern[j + 1] == 's' || pattern[j + 1] == 'd')) {
                fill(*position - 1, pattern.substr(i, j + 2 - i));
                i = j + 2;
                continue;
            }
        } else if (c == '{') {
            std::size_t j = i + 1;
            const auto index = readIndex(pattern, j);
            if (index && j < pattern.size() && pattern[j] == '}') {
                fill(index, pattern.substr(i, j + 1 - i));
                i = j + 1;
                continue;
            }
        }
        out += c;
        ++i;
    }
    return out;
}

}  // namespace rszorvik::base
