#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

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

inline void writeFile(const std::filesystem::path& file, std::string_view bytes) {
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() ||
        std::fclose(out) != 0)
        fail("cannot write", file.string());
}

inline std::string readFile(const std::filesystem::path& file) {
    std::string bytes;
    std::FILE* in = std::fopen(file.c_str(), "rb");
    if (in == nullptr) return bytes;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
        bytes.append(buffer, n);
    std::fclose(in);
    return bytes;
}

// A folder of this process below $TMPDIR, removed when the process ends normally.
class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zorvik-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) fail("mkdtemp", pattern);
        dir = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return dir; }

  private:
    std::filesystem::path dir;
};

}  // namespace rszorvik::fuzz
