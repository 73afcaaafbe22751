#include "serial/FormatData.h"

#include <algorithm>
#include <stdexcept>

namespace Zivaraze::tool {

std::int32_t FormatData::getHexValue(std::span<const std::uint8_t> digits) {
    std::uint32_t value = 0;
    for (const std::uint8_t c : digits) {
        std::uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10u;
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10u;
        } else {
            throw std::invalid_argument("Invalid hex value: " + std::to_string(c));
        }
        value = (value << 4) | digit;
    }
    return static_cast<std::int32_t>(value);
}

std::int32_t FormatData::getHexValue(std::span<const std::uint8_t> digits, int count) {
    if (count < 0 || static_cast<std::size_t>(count) > digits.size())
        throw std::invalid_argument("Invalid hex count: " + std::to_string(count));
    return getHexValue(digits.first(static_cast<std::size_t>(count)));
}

std::string FormatData::getHexString(std::uint8_t value) {
    return {hexSym[value >> 4], hexSym[value & 0x0F]};
}

std::string FormatData::getHexString(std::span<const std::uint8_t> data) {
    std::string text;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i > 0) text += ' ';
        text += getHexString(data[i]);
    }
    return text;
}

std::string FormatData::getHexString(std::span<const std::uint8_t> data, int count) {
    if (count < 0) count = 0;
    return getHexString(data.first(std::min(data.size(), static_cast<std::size_t>(count))));
}

std::string FormatData::getAsciiHexString(std::span<const std::uint8_t> data) {
    std::string text;
    for (const std::uint8_t c : data) {
        if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            text += '<' + getHexString(c) + '>';
        }
    }
    return text;
}

}  // namespace Zivaraze::tool
