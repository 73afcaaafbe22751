#include "InstrumentFormat.h"

#include <array>
#include <stdexcept>

namespace rszorvik::sim {
namespace {

constexpr std::array<FormatInfo, 7> kFormats{{
    {Format::AND, "and", "AND", "\r\n", "ST,+00012.34  g"},
    {Format::KERN, "kern", "KERN_572", "\r\n", "     12.34 g"},
    {Format::SICS, "sics", "METTLER_SICS", "\r\n", "S S      12.34 g"},
    {Format::SARTORIUS, "sartorius", "SARTORIUS", "\r\n", "+     12.34 g   "},
    {Format::MITUTOYO, "mitutoyo", "MITUTOYO", "\r", "01A+00012.34"},
    {Format::BARCODE, "barcode", "BARCODE", "\r", "1234"},
    {Format::GENERIC, "generic", "GENERIC", "\r", "12.34"},
}};

struct Number {
    bool negative = false;
    std::string magnitude;  // digits with at most one '.'
};

Number parseNumber(std::string_view text) {
    Number number;
    std::string_view rest = text;
    if (!rest.empty() && (rest.front() == '-' || rest.front() == '+')) {
        number.negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    bool digit = false;
    bool point = false;
    for (char c : rest) {
        if (c >= '0' && c <= '9')
            digit = true;
        else if (c == '.' && !point)
            point = true;
        else
            throw std::invalid_argument("not a decimal number: \"" + std::string(text) + "\"");
    }
    if (!digit) throw std::invalid_argument("not a decimal number: \"" + std::string(text) + "\"");
    number.magnitude = std::string(rest);
    return number;
}

std::string padLeft(std::string text, std::size_t width, char fill = ' ') {
    if (text.size() < width) text.insert(0, width - text.size(), fill);
    return text;
}

std::string padRight(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

// Instruments with a fixed numeric field cannot send a longer number.
std::string fixedField(const Number& number, std::size_t width, std::string_view format) {
    if (number.magnitude.size() > width)
        throw std::invalid_argument("value " + number.magnitude + " does not fit the " +
                                    std::to_string(width) + "-character field of the " + std::string(format) +
                                    " format");
    return padLeft(number.magnitude, width, '0');
}

}  // namespace

std::span<const FormatInfo> formats() {
    return kFormats;
}

const FormatInfo& formatInfo(Format format) {
    return kFormats.at(static_cast<std::size_t>(format));
}

std::optional<Format> parseFormat(std::string_view name) {
    for (const auto& info : kFormats)
        if (info.name == name) return info.format;
    if (name == "a&d") return Format::AND;
    return std::nullopt;
}

std::string formatValue(Format format, std::string_view value, std::string_view unit) {
    const Number number = parseNumber(value);
    const std::string sign = number.negative ? "-" : "+";
    const std::string signedValue = (number.negative ? "-" : "") + number.magnitude;
    const std::string unitText(unit);
    switch (format) {
        case Format::AND:  // header, sign, 8 characters zero-filled, 3-character unit
            return "ST," + sign + fixedField(number, 8, "and") + padLeft(unitText, 3);
        case Format::KERN:
            return padLeft(signedValue, 10) + " " + unitText;
        case Format::SICS:  // "S S", then the value right-aligned in 10 characters
            return "S S " + padLeft(signedValue, 10) + " " + unitText;
        case Format::SARTORIUS:  // 16 characters: sign, value in 10, unit in 3
            return sign + padLeft(number.magnitude, 10) + " " + padRight(unitText, 3) + " ";
        case Format::MITUTOYO:
            return "01A" + sign + fixedField(number, 8, "mitutoyo");
        case Format::BARCODE: {
            std::string digits;
            for (char c : number.magnitude)
                if (c != '.') digits += c;
            return digits;
        }
        case Format::GENERIC:
            return signedValue;
    }
    throw std::invalid_argument("unknown format");
}

std::string garbageLine() {
    return "\x02#?!~*\xB0\x03";
}

std::string parseTerminator(std::string_view text) {
    if (text == "cr") return "\r";
    if (text == "lf") return "\n";
    if (text == "crlf") return "\r\n";
    if (text == "none") return "";
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size()) throw std::invalid_argument("terminator ends in a lone backslash");
        switch (text[i]) {
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case '\\':
                out += '\\';
                break;
            case 'x': {
                const auto hex = text.substr(i + 1, 2);
                if (hex.size() != 2 ||
                    hex.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos)
                    throw std::invalid_argument("\\x needs two hex digits in terminator \"" +
                                                std::string(text) + "\"");
                out += static_cast<char>(std::stoi(std::string(hex), nullptr, 16));
                i += 2;
                break;
            }
            default:
                throw std::invalid_argument("unknown escape \\" + std::string(1, text[i]) + " in terminator");
        }
    }
    return out;
}

}  // namespace rszorvik::sim
