#pragma once

// A private temporary folder and whole-file reads and writes, for tests that need real files.

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

namespace rszorvik::test {

// A fresh folder below the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "zorvik-test") {
        // create_directory answers false for a folder that exists already: the name is someone else's.
        static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        std::random_device seed;
        std::mt19937 random(seed());
        const auto parent = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = prefix + "-";
            for (int i = 0; i < 8; ++i)
                name += kLetters[random() % (sizeof kLetters - 1)];
            if (std::filesystem::create_directory(parent / name)) {
                root = parent / name;
                return;
            }
        }
        throw std::runtime_error("cannot make a temporary folder in " + parent.string());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return root; }
    std::filesystem::path operator/(const std::string& name) const { return root / name; }

  private:
    std::filesystem::path root;
};

// The file's bytes; empty when it cannot be read.
inline std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Replaces the file with these bytes, creating its folders; throws when that fails, so that a test never
// goes on with a file it believes it wrote.
inline void writeFile(const std::filesystem::path& file, const std::string& content) {
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace rszorvik::test
