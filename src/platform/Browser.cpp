#include "platform/Browser.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace rszorvik::platform {

bool isBrowsableAddress(std::string_view address) {
    if (std::any_of(address.begin(), address.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
        return false;
    constexpr std::array<std::string_view, 2> kSchemes{"https://", "mailto:"};
    return std::any_of(kSchemes.begin(), kSchemes.end(), [address](std::string_view scheme) {
        return address.size() > scheme.size() &&
               std::equal(scheme.begin(), scheme.end(), address.begin(),
                          [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
    });
}

}  // namespace rszorvik::platform
