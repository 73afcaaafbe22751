#pragma once

#include <string>

namespace rszorvik::test {

// Every printable ASCII character, blank to tilde, in code order.
inline std::string printableAscii() {
    std::string all;
    for (char c = ' '; c <= '~'; ++c)
        all += c;
    return all;
}

}  // namespace rszorvik::test
