#include "platform/X11KeyTable.h"

#include <X11/keysym.h>

#include <stdexcept>
#include <string>
#include <string_view>

#include "base/VirtualKeys.h"

namespace rszorvik::platform {

namespace {

using Match = X11KeyMeaning::Match;

constexpr X11KeyMeaning level1(Keysym a, Keysym b = 0, Keysym c = 0) {
    return {{a, b, c}, Match::LEVEL1};
}

// Keys with a fixed symbol whatever the layout; letters, digits, keypad digits, F-keys and dead keys are
// ranges handled in x11MeaningOf.
struct NamedKey {
    int keyCode;
    X11KeyMeaning meaning;
};
constexpr NamedKey kNamedKeys[] = {
    {Vk::BACK_SPACE, level1(XK_BackSpace)},
    {Vk::TAB, level1(XK_Tab)},
    {Vk::ENTER, level1(XK_Return)},
    {Vk::SHIFT, level1(XK_Shift_L, XK_Shift_R)},
    {Vk::CONTROL, level1(XK_Control_L, XK_Control_R)},
    {Vk::ALT, level1(XK_Alt_L, XK_Meta_L, XK_Alt_R)},
    {Vk::PAUSE, level1(XK_Pause)},
    {Vk::CAPS_LOCK, level1(XK_Caps_Lock)},
    {Vk::ESCAPE, level1(XK_Escape)},
    {Vk::SPACE, level1(XK_space)},
    {Vk::PAGE_UP, level1(XK_Prior)},
    {Vk::PAGE_DOWN, level1(XK_Next)},
    {Vk::END, level1(XK_End)},
    {Vk::HOME, level1(XK_Home)},
    {Vk::LEFT, level1(XK_Left)},
    {Vk::UP, level1(XK_Up)},
    {Vk::RIGHT, level1(XK_Right)},
    {Vk::DOWN, level1(XK_Down)},
    {Vk::COMMA, level1(XK_comma)},
    {Vk::MINUS, level1(XK_minus)},
    {Vk::PERIOD, level1(XK_period)},
    {Vk::SLASH, level1(XK_slash)},
    {Vk::SEMICOLON, level1(XK_semicolon)},
    {Vk::EQUALS, level1(XK_equal)},
    {Vk::OPEN_BRACKET, level1(XK_bracketleft)},
    {Vk::BACK_SLASH, level1(XK_backslash)},
    {Vk::CLOSE_BRACKET, level1(XK_bracketright)},
    {Vk::MULTIPLY, level1(XK_KP_Multiply)},
    {Vk::ADD, level1(XK_KP_Add)},
    {Vk::SEPARATOR, {{XK_KP_Separator}, Match::ANYWHERE}},
    {Vk::SUBTRACT, level1(XK_KP_Subtract)},
    {Vk::DECIMAL, {{XK_KP_Decimal}, Match::ANYWHERE}},
    {Vk::DIVIDE, level1(XK_KP_Divide)},
    {Vk::DELETE, level1(XK_Delete)},
    {Vk::AMPERSAND, level1(XK_ampersand)},
    {Vk::ASTERISK, level1(XK_asterisk)},
    {Vk::QUOTEDBL, level1(XK_quotedbl)},
    {Vk::LESS, level1(XK_less)},
    {Vk::INSERT, level1(XK_Insert)},
    {Vk::GREATER, level1(XK_greater)},
    {Vk::BRACELEFT, level1(XK_braceleft)},
    {Vk::BRACERIGHT, level1(XK_braceright)},
    {Vk::BACK_QUOTE, level1(XK_grave)},
    {Vk::QUOTE, level1(XK_apostrophe)},
    {Vk::AT, level1(XK_at)},
    {Vk::COLON, level1(XK_colon)},
    {Vk::CIRCUMFLEX, level1(XK_asciicircum)},
    {Vk::DOLLAR, level1(XK_dollar)},
    {Vk::EURO_SIGN, level1(XK_EuroSign)},
    {Vk::EXCLAMATION_MARK, level1(XK_exclam)},
    {Vk::INVERTED_EXCLAMATION_MARK, level1(XK_exclamdown)},
    {Vk::LEFT_PARENTHESIS, level1(XK_parenleft)},
    {Vk::NUMBER_SIGN, level1(XK_numbersign)},
    {Vk::PLUS, level1(XK_plus)},
    {Vk::RIGHT_PARENTHESIS, level1(XK_parenright)},
    {Vk::UNDERSCORE, level1(XK_underscore)},
};

}  // namespace

std::optional<int> X11KeyTable::findAtLevel(Keysym keysym, int levelCount) const {
    for (int level = 0; level < levelCount && level < kLevels; ++level) {
        for (const auto& [keycode, key] : keys) {
            if (key.levels[static_cast<std::size_t>(level)] == keysym) return keycode;
        }
    }
    return std::nullopt;
}

std::optional<int> X11KeyTable::findAnywhere(Keysym keysym) const {
    for (const auto& [keycode, key] : keys) {
        for (Keysym k : key.all)
            if (k == keysym) return keycode;
    }
    return std::nullopt;
}

std::optional<X11KeyMeaning> x11MeaningOf(int keyCode) {
    if (keyCode >= Vk::A && keyCode < Vk::A + 26) return level1(XK_a + static_cast<Keysym>(keyCode - Vk::A));
    if (keyCode >= Vk::DIGIT0 && keyCode < Vk::DIGIT0 + 10)
        return X11KeyMeaning{{XK_0 + static_cast<Keysym>(keyCode - Vk::DIGIT0)}, Match::LEVEL1_OR_LEVEL2};
    if (Vk::isKeypadDigit(keyCode))
        return X11KeyMeaning{{XK_KP_0 + static_cast<Keysym>(keyCode - Vk::NUMPAD0)}, Match::ANYWHERE};
    if (keyCode >= Vk::F1 && keyCode < Vk::F1 + 12)
        return level1(XK_F1 + static_cast<Keysym>(keyCode - Vk::F1));
    if (keyCode >= Vk::DEAD_GRAVE && keyCode <= Vk::DEAD_SEMIVOICED_SOUND)
        return level1(XK_dead_grave + static_cast<Keysym>(keyCode - Vk::DEAD_GRAVE));
    for (const NamedKey& named : kNamedKeys)
        if (named.keyCode == keyCode) return named.meaning;
    return std::nullopt;
}

int x11KeycodeOf(const X11KeyTable& table, int keyCode) {
    const std::optional<X11KeyMeaning> meaning = x11MeaningOf(keyCode);
    if (!meaning) throw std::invalid_argument("Invalid key code " + std::to_string(keyCode));
    for (Keysym keysym : meaning->keysyms) {
        if (keysym == 0) break;
        std::optional<int> keycode;
        switch (meaning->match) {
            case Match::LEVEL1:
                keycode = table.findAtLevel(keysym, 1);
                break;
            case Match::LEVEL1_OR_LEVEL2:
                keycode = table.findAtLevel(keysym, 2);
                break;
            case Match::ANYWHERE:
                keycode = table.findAnywhere(keysym);
                break;
        }
        if (keycode) return *keycode;
    }
    throw std::invalid_argument("The keyboard layout has no key for key code " + std::to_string(keyCode));
}

std::optional<X11Stroke> x11StrokeFor(const X11KeyTable& table, Keysym keysym) {
    const int levels = table.hasLevel3 ? X11KeyTable::kLevels : 2;
    for (int level = 0; level < levels; ++level) {
        if (const auto keycode = table.findAtLevel(keysym, level + 1); keycode) {
            // findAtLevel searched the lower levels already and found nothing there.
            return X11Stroke{*keycode, level};
        }
    }
    return std::nullopt;
}

Keysym x11KeysymOf(char32_t character) {
    switch (character) {
        case U'\b':
            return XK_BackSpace;
        case U'\t':
            return XK_Tab;
        case U'\n':
        case U'\r':
            return XK_Return;
        case 0x1b:
            return XK_Escape;
        default:
            break;
    }
    if ((character >= 0x20 && character <= 0x7e) || (character >= 0xa0 && character <= 0xff))
        return static_cast<Keysym>(character);
    if (character >= 0x100 && character <= 0x10ffff && !(character >= 0xd800 && character <= 0xdfff))
        return 0x01000000 | static_cast<Keysym>(character);
    return 0;
}

Keysym x11SpacingAccentOf(Keysym deadKeysym) {
    // What the compose tables of X make of a dead key and Space.
    switch (deadKeysym) {
        case XK_dead_grave:
            return XK_grave;
        case XK_dead_acute:
            return XK_apostrophe;
        case XK_dead_circumflex:
            return XK_asciicircum;
        case XK_dead_tilde:
            return XK_asciitilde;
        case XK_dead_diaeresis:
            return XK_quotedbl;
        case XK_dead_macron:
            return XK_macron;
        case XK_dead_breve:
            return XK_breve;
        case XK_dead_abovedot:
            return XK_abovedot;
        case XK_dead_abovering:
            return XK_degree;
        case XK_dead_doubleacute:
            return XK_doubleacute;
        case XK_dead_caron:
            return XK_caron;
        case XK_dead_cedilla:
            return XK_cedilla;
        case XK_dead_ogonek:
            return XK_ogonek;
        default:
            return 0;
    }
}

Keysym x11ComposedOf(Keysym deadKeysym, Keysym letter) {
    // Base letter and result in turns; Latin-1 keysyms are their code points.
    struct Compositions {
        Keysym dead;
        std::u32string_view pairs;
    };
    static constexpr Compositions kCompositions[] = {
        {XK_dead_grave, U"A\u00c0a\u00e0E\u00c8e\u00e8I\u00cci\u00ecO\u00d2o\u00f2U\u00d9u\u00f9"},
        {XK_dead_acute,
         U"A\u00c1a\u00e1E\u00c9e\u00e9I\u00cdi\u00edO\u00d3o\u00f3U\u00dau\u00faY\u00ddy\u00fd"},
        {XK_dead_circumflex, U"A\u00c2a\u00e2E\u00cae\u00eaI\u00cei\u00eeO\u00d4o\u00f4U\u00dbu\u00fb"},
        {XK_dead_tilde, U"A\u00c3a\u00e3N\u00d1n\u00f1O\u00d5o\u00f5"},
        {XK_dead_diaeresis, U"A\u00c4a\u00e4E\u00cbe\u00ebI\u00cfi\u00efO\u00d6o\u00f6U\u00dcu\u00fcy\u00ff"},
        {XK_dead_abovering, U"A\u00c5a\u00e5"},
        {XK_dead_cedilla, U"C\u00c7c\u00e7"},
    };
    for (const Compositions& c : kCompositions) {
        if (c.dead != deadKeysym) continue;
        for (std::size_t i = 0; i + 1 < c.pairs.size(); i += 2)
            if (c.pairs[i] == letter) return static_cast<Keysym>(c.pairs[i + 1]);
    }
    return 0;
}

}  // namespace rszorvik::platform
