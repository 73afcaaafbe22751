#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace Zivaraze::tool {

// Hexadecimal conversions of byte strings.
class FormatData {
  public:
    static constexpr char hexSym[17] = "0123456789ABCDEF";

    // The ASCII hex digits (either case), most significant first, as a number; more than eight digits
    // keep only the low 32 bits. Any other byte throws std::invalid_argument "Invalid hex value: "
    // followed by the byte's value.
    static std::int32_t getHexValue(std::span<const std::uint8_t> digits);
    // Only the first count bytes; a count beyond the data throws std::invalid_argument.
    static std::int32_t getHexValue(std::span<const std::uint8_t> digits, int count);

    static std::string getHexString(std::uint8_t value);                  // "3F"
    static std::string getHexString(std::span<const std::uint8_t> data);  // "3F 00 A1"
    static std::string getHexString(std::span<const std::uint8_t> data, int count);
    // Printable ASCII as it is, every other byte as <HH>: "AB<0D><0A>".
    static std::string getAsciiHexString(std::span<const std::uint8_t> data);
};

}  // namespace Zivaraze::tool
