#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/HotKey.h"

namespace rszorvik::base {
namespace {

// What a text names, written back the one way toString() writes it; none where it names no usable key.
TEST(HotKeyTest, ReadsWhatItWritesAndRefusesTypingKeysAlone) {
    struct Case {
        std::string text;
        std::optional<std::string> written;
    };
    const std::vector<Case> cases{
        {"Ctrl+Alt+R", "Ctrl+Alt+R"},
        {" alt + control + r ", "Ctrl+Alt+R"},
        {"Meta+Shift+5", "Shift+Super+5"},
        {"win+space", "Super+Space"},
        {"F9", "F9"},
        {"shift+f24", "Shift+F24"},
        {"pageup", "PageUp"},
        {"Ctrl+ScrollLock", "Ctrl+ScrollLock"},
        {"R", std::nullopt},        // would take the letter from every application
        {"Shift+R", std::nullopt},  // Shift still types
        {"Space", std::nullopt},
        {"F0", std::nullopt},
        {"F25", std::nullopt},
        {"F09", std::nullopt},
        {"Ctrl+", std::nullopt},
        {"+R", std::nullopt},
        {"Ctrl+Ctrl+R", std::nullopt},
        {"Hyper+R", std::nullopt},
        {"Ctrl+RR", std::nullopt},
        {"Ctrl+\u00e4", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto key = HotKey::tryParse(c.text);
        EXPECT_EQ(key ? std::optional(key->toString()) : std::nullopt, c.written) << '"' << c.text << '"';
        if (key) {
            EXPECT_EQ(HotKey::parse(key->toString()), *key) << c.text;
        }
    }
}

}  // namespace
}  // namespace rszorvik::base
