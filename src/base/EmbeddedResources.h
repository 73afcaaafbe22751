#pragma once

#include <optional>
#include <string_view>

namespace rszorvik::base {

// The bytes of a file of resources/ compiled into the binary ("rszorvik.zorvik_de.properties",
// "zorvik16.png", ...), or nothing when there is no such file. The bytes live as long as the process.
std::optional<std::string_view> embeddedResource(std::string_view fileName);

}  // namespace rszorvik::base
