#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace rszorvik::sim {

enum class Format { AND, KERN, SICS, SARTORIUS, MITUTOYO, BARCODE, GENERIC };

struct FormatInfo {
    Format format;
    std::string_view name;        // as given to --format
    std::string_view preset;      // the instrument preset that reads it
    std::string_view terminator;  // what the instrument ends each line with
    std::string_view example;     // the line for 12.34 g, without terminator
};

std::span<const FormatInfo> formats();
const FormatInfo& formatInfo(Format format);
std::optional<Format> parseFormat(std::string_view name);

// The line an instrument of this format sends for a decimal value ("-12.34", "5"), without terminator.
// Throws std::invalid_argument for text that is not a decimal or does not fit the format's fixed field.
std::string formatValue(Format format, std::string_view value, std::string_view unit);

// A line in which no number preset finds a value: control and punctuation characters and a byte above 127.
std::string garbageLine();

// "cr", "lf", "crlf", "none", or text with the escapes \r \n \t \\ \xHH. Throws std::invalid_argument.
std::string parseTerminator(std::string_view text);

}  // namespace rszorvik::sim
