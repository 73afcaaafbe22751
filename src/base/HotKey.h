#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rszorvik::base {

// A key combination that works from anywhere on the desktop, written as modifiers and one key joined by
// "+": "Ctrl+Alt+R", "Shift+F9", "F9". The settings hold the text; each platform turns it into its own key
// and modifier codes.
struct HotKey {
    enum Modifier : unsigned { kCtrl = 1, kAlt = 2, kShift = 4, kSuper = 8 };

    unsigned modifiers = 0;
    // One of: a letter "A"-"Z", a digit "0"-"9", "F1"-"F24", "Space", "Insert", "Delete", "Home", "End",
    // "PageUp", "PageDown", "Pause", "Print", "ScrollLock".
    std::string key;

    // Accepts the names in any letter case, blanks around the parts, "Control" for Ctrl and "Win" or "Meta"
    // for Super. A plain letter, digit or Space needs Ctrl, Alt or Super: grabbing it alone would take
    // the key from every application, and from the values typed. Throws std::invalid_argument saying what
    // is wrong.
    static HotKey parse(std::string_view text);
    static std::optional<HotKey> tryParse(std::string_view text);

    // The text parse() reads back, modifiers in the order Ctrl, Alt, Shift, Super: "Ctrl+Alt+R".
    std::string toString() const;
    bool operator==(const HotKey&) const = default;
};

}  // namespace rszorvik::base
