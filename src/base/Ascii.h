#pragma once

#include <string>
#include <string_view>

// ASCII-only case folding: stored keys, constant names and markup are ASCII by definition, and folding
// them must not depend on the process locale.
namespace rszorvik::base {

inline std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

inline bool asciiEqualsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && asciiLower(a) == asciiLower(b);
}

}  // namespace rszorvik::base
