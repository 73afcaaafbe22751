#include "serial/StringCompare.h"

#include "base/Ascii.h"

namespace Zivaraze::tool {

using rszorvik::base::asciiLower;

bool StringCompare::lessThan(const std::string& a, const std::string& b) const {
    return asciiLower(a) < asciiLower(b);
}

bool StringCompare::lessThanOrEqual(const std::string& a, const std::string& b) const {
    return asciiLower(a) <= asciiLower(b);
}

}  // namespace Zivaraze::tool
