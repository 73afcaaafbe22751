#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace rszorvik::platform {

using Keysym = std::uint32_t;

// What the keys of the active X keyboard layout type, read once per layout change.
struct X11KeyTable {
    // Shift levels as the modifiers reach them: none, Shift, AltGr, Shift with AltGr.
    static constexpr int kLevels = 4;

    struct Key {
        std::array<Keysym, kLevels> levels{};
        std::vector<Keysym> all;  // every keysym bound to the key, whatever reaches it (NumLock, groups)
    };

    std::map<int, Key> keys;  // keycodes that carry at least one symbol
    std::vector<int> spare;   // keycodes that carry none, free to be bound for a moment
    bool hasLevel3 = false;   // the layout has an AltGr key and modifier

    // The first keycode, in keycode order, that types the keysym at a level below `levels`, searching
    // level by level.
    std::optional<int> findAtLevel(Keysym keysym, int levels) const;
    // The first keycode that carries the keysym anywhere.
    std::optional<int> findAnywhere(Keysym keysym) const;
};

struct X11Stroke {
    int keycode = 0;
    int level = 0;  // index into X11KeyTable::Key::levels
};

// How a virtual key code finds its key: by the symbol its key types on the layout.
struct X11KeyMeaning {
    enum class Match : std::uint8_t {
        LEVEL1,            // the key that types the symbol unshifted (letters, punctuation, dead keys)
        LEVEL1_OR_LEVEL2,  // digits, which sit on the shifted level of the AZERTY number row
        ANYWHERE,          // keypad digits behind NumLock
    };
    std::array<Keysym, 3> keysyms{};  // alternatives in order of preference; 0 ends the list
    Match match = Match::LEVEL1;
};

// The meaning of a virtual key code; std::nullopt for a code that names no key.
std::optional<X11KeyMeaning> x11MeaningOf(int keyCode);

// The keycode of the virtual key on this layout. Throws std::invalid_argument for a code that names no
// key, or whose key the layout does not have.
int x11KeycodeOf(const X11KeyTable& table, int keyCode);

// The keycode and level that type the keysym with at most Shift and AltGr, or std::nullopt.
std::optional<X11Stroke> x11StrokeFor(const X11KeyTable& table, Keysym keysym);

// The keysym of a character (Latin-1 and a few controls directly, the rest as Unicode keysyms); 0 for a
// character that no key can type.
Keysym x11KeysymOf(char32_t character);

// Whether the keysym is a dead key (it waits for the next key to compose with).
constexpr bool x11IsDeadKeysym(Keysym keysym) {
    return keysym >= 0xfe50 && keysym <= 0xfe93;
}

// The character a dead key and Space compose to (its spacing accent, ^ for dead_circumflex), as a keysym;
// 0 for a keysym that is no dead key or has no such character.
Keysym x11SpacingAccentOf(Keysym deadKeysym);

// The Latin-1 letter a dead key and a letter compose to (dead_circumflex and e: ê), as a keysym; 0 where
// the pair composes to no Latin-1 letter.
Keysym x11ComposedOf(Keysym deadKeysym, Keysym letter);

}  // namespace rszorvik::platform
