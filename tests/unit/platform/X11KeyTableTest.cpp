#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <ios>
#include <stdexcept>

#include "base/VirtualKeys.h"
#include "platform/X11KeyTable.h"

namespace rszorvik::platform {
namespace {

X11KeyTable::Key key(Keysym level1, Keysym level2 = 0, Keysym level3 = 0, Keysym level4 = 0) {
    X11KeyTable::Key k;
    k.levels = {level1, level2, level3, level4};
    for (Keysym s : k.levels)
        if (s != 0) k.all.push_back(s);
    return k;
}

// Rows of real layouts, cut down: the AZERTY number row has its digits on level 2, the German layout
// swaps Y and Z, and a key may carry a symbol on level 1 that another carries on level 2.
X11KeyTable sampleTable() {
    X11KeyTable t;
    t.keys[10] = key(XK_ampersand, XK_1, XK_onesuperior);
    t.keys[11] = key(XK_eacute, XK_2, XK_asciitilde);
    t.keys[12] = key(XK_3, XK_numbersign);
    t.keys[13] = key(XK_numbersign, XK_3);  // a higher keycode with the digit on level 2 only
    t.keys[20] = key(XK_minus, XK_underscore);
    t.keys[29] = key(XK_z, XK_Z);
    t.keys[34] = key(XK_dead_circumflex, XK_dead_diaeresis);
    t.keys[47] = key(XK_semicolon, XK_colon);
    t.keys[48] = key(XK_colon, XK_slash);
    t.keys[50] = key(XK_Shift_L);
    t.keys[52] = key(XK_y, XK_Y, XK_guillemotright);
    t.keys[62] = key(XK_Shift_R);
    t.keys[90] = key(XK_KP_Insert, XK_KP_0);
    t.keys[92] = key(XK_ISO_Level3_Shift);
    t.keys[94] = key(XK_less, XK_greater, XK_bar);
    t.hasLevel3 = true;
    t.spare = {93, 97};
    return t;
}

TEST(X11KeyTableTest, VirtualKeysFindTheKeyThatMeansThemOnTheLayout) {
    const X11KeyTable t = sampleTable();
    struct Case {
        int keyCode;
        int keycode;
        const char* why;
    };
    const Case cases[] = {
        {Vk::DIGIT0 + 1, 10, "digit on level 2 of the AZERTY row"},
        {Vk::DIGIT0 + 3, 12, "level 1 wins over a lower level-2 match"},
        {Vk::A + 'Y' - 'A', 52, "letters by their symbol, not their position"},
        {Vk::A + 'Z' - 'A', 29, "letters by their symbol, not their position"},
        {Vk::MINUS, 20, "punctuation on level 1"},
        {Vk::COLON, 48, "named symbol on level 1 only"},
        {Vk::SEMICOLON, 47, "named symbol on level 1 only"},
        {Vk::LESS, 94, "the less key"},
        {Vk::NUMBER_SIGN, 13, "level 1 although another key has it on level 2"},
        {Vk::DEAD_CIRCUMFLEX, 34, "dead key by its dead keysym"},
        {Vk::NUMPAD0, 90, "keypad digits wherever NumLock puts them"},
        {Vk::SHIFT, 50, "first of the alternatives"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(x11KeycodeOf(t, c.keyCode), c.keycode) << c.keyCode << ": " << c.why;
}

TEST(X11KeyTableTest, KeysTheLayoutLacksOrCodesWithoutMeaningAreRejected) {
    X11KeyTable t = sampleTable();
    // Slash is there on level 2 only, which does not make it the slash key.
    for (int keyCode : {Vk::SLASH, Vk::DEAD_GRAVE, Vk::DIGIT0 + 9, Vk::AT}) {
        try {
            x11KeycodeOf(t, keyCode);
            ADD_FAILURE() << keyCode << " was accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(std::string(e.what()),
                      "The keyboard layout has no key for key code " + std::to_string(keyCode));
        }
    }
    for (int keyCode : {0, 1, 41, 1000, -5}) {
        EXPECT_THROW(x11KeycodeOf(t, keyCode), std::invalid_argument) << keyCode;
        EXPECT_FALSE(x11MeaningOf(keyCode).has_value()) << keyCode;
    }
    t.keys.erase(50);
    EXPECT_EQ(x11KeycodeOf(t, Vk::SHIFT), 62) << "second alternative";
}

TEST(X11KeyTableTest, CharactersAreTypedWithTheFewestModifiers) {
    X11KeyTable t = sampleTable();
    struct Case {
        Keysym keysym;
        int keycode;
        int level;
    };
    const Case cases[] = {
        {XK_3, 12, 0},           // level 1 of a higher keycode beats level 2 of a lower one
        {XK_numbersign, 13, 0},  //
        {XK_2, 11, 1},           // Shift
        {XK_asciitilde, 11, 2},  // AltGr
        {XK_bar, 94, 2},        {XK_colon, 48, 0},
    };
    for (const Case& c : cases) {
        const auto stroke = x11StrokeFor(t, c.keysym);
        ASSERT_TRUE(stroke.has_value()) << c.keysym;
        EXPECT_EQ(stroke->keycode, c.keycode) << c.keysym;
        EXPECT_EQ(stroke->level, c.level) << c.keysym;
    }
    EXPECT_FALSE(x11StrokeFor(t, XK_at).has_value());
    t.hasLevel3 = false;
    EXPECT_FALSE(x11StrokeFor(t, XK_asciitilde).has_value()) << "no AltGr key to reach level 3";
    EXPECT_TRUE(x11StrokeFor(t, XK_2).has_value());
}

TEST(X11KeyTableTest, CharactersMapToKeysyms) {
    struct Case {
        char32_t character;
        Keysym keysym;
    };
    const Case cases[] = {
        {U'A', 0x41},          {U'~', 0x7e},        {U' ', XK_space},   {0xe9, XK_eacute},  {0xa0, 0xa0},
        {0x20ac, 0x10020ac},   {0x2591, 0x1002591}, {U'\n', XK_Return}, {U'\r', XK_Return}, {U'\t', XK_Tab},
        {U'\b', XK_BackSpace}, {0x1b, XK_Escape},   {0x7f, 0},          {0x85, 0},          {0x01, 0},
        {0xd800, 0},           {0x110000, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(x11KeysymOf(c.character), c.keysym) << static_cast<unsigned>(c.character);
}

// What the client would compose, typed as a key of its own instead: XK_space stands for Space.
TEST(X11KeyTableTest, DeadKeysComposeWithSpaceOrALetter) {
    struct Case {
        Keysym dead;
        Keysym next;
        Keysym composed;
    };
    const Case cases[] = {
        {XK_dead_grave, XK_space, XK_grave},
        {XK_dead_acute, XK_space, XK_apostrophe},
        {XK_dead_circumflex, XK_space, XK_asciicircum},
        {XK_dead_tilde, XK_space, XK_asciitilde},
        {XK_dead_diaeresis, XK_space, XK_quotedbl},
        {XK_dead_abovering, XK_space, XK_degree},
        {XK_dead_cedilla, XK_space, XK_cedilla},
        {XK_dead_belowdot, XK_space, 0},
        {XK_asciicircum, XK_space, 0},
        {XK_space, XK_space, 0},
        {XK_dead_circumflex, XK_e, XK_ecircumflex},
        {XK_dead_circumflex, XK_E, XK_Ecircumflex},
        {XK_dead_grave, XK_a, XK_agrave},
        {XK_dead_acute, XK_Y, XK_Yacute},
        {XK_dead_acute, XK_y, XK_yacute},
        {XK_dead_diaeresis, XK_u, XK_udiaeresis},
        {XK_dead_diaeresis, XK_y, XK_ydiaeresis},
        {XK_dead_tilde, XK_N, XK_Ntilde},
        {XK_dead_abovering, XK_a, XK_aring},
        {XK_dead_cedilla, XK_C, XK_Ccedilla},
        {XK_dead_circumflex, XK_y, 0},  // no Latin-1 letter
        {XK_dead_acute, XK_c, 0},
        {XK_dead_circumflex, XK_1, 0},
        {XK_dead_belowdot, XK_a, 0},
        {XK_e, XK_dead_circumflex, 0},  // the other way round
    };
    for (const Case& c : cases) {
        const Keysym composed =
            c.next == XK_space ? x11SpacingAccentOf(c.dead) : x11ComposedOf(c.dead, c.next);
        EXPECT_EQ(composed, c.composed) << std::hex << c.dead << " " << c.next;
    }
}

}  // namespace
}  // namespace rszorvik::platform
