#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace rszorvik::fuzz {

// A broken promise of the code under test: libFuzzer keeps the input that led here.
[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "fuzz check failed: %s %.*s\n", what, static_cast<int>(detail.size()),
                 detail.data());
    std::abort();
}

inline void check(bool condition, const char* what, std::string_view detail = {}) {
    if (!condition) fail(what, detail);
}

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Splits text at the first separator: the part before it (all of it when there is none) and the rest.
inline std::string_view takeUntil(std::string_view& text, std::string_view separator) {
    const std::size_t at = text.find(separator);
    std::string_view head = text.substr(0, at);
    text = at == std::string_view::npos ? std::string_view() : text.substr(at + separator.size());
    return head;
}

}  // namespace rszorvik::fuzz
