#include "serial/StringCompare.h"

#include <cctype>

namespace Zivaraze::tool {
namespace {

std::string lower(const std::string& text) {
    std::string result = text;
    for (auto& c : result)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

}  // namespace

bool StringCompare::lessThan(const std::string& a, const std::string& b) const {
    return lower(a) < lower(b);
}

bool StringCompare::lessThanOrEqual(const std::string& a, const std::string& b) const {
    return lower(a) <= lower(b);
}

}  // namespace Zivaraze::tool
