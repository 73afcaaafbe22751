#include "platform/X11KeySequencer.h"

#include <stdexcept>

#include "base/VirtualKeys.h"

namespace rszorvik::platform {

namespace {

// Upper halves of the code pages Windows reads Alt codes in; 0 marks a code with no character.
constexpr char16_t kOem437[128] = {
    0x00c7, 0x00fc, 0x00e9, 0x00e2, 0x00e4, 0x00e0, 0x00e5, 0x00e7, 0x00ea, 0x00eb, 0x00e8, 0x00ef, 0x00ee,
    0x00ec, 0x00c4, 0x00c5, 0x00c9, 0x00e6, 0x00c6, 0x00f4, 0x00f6, 0x00f2, 0x00fb, 0x00f9, 0x00ff, 0x00d6,
    0x00dc, 0x00a2, 0x00a3, 0x00a5, 0x20a7, 0x0192, 0x00e1, 0x00ed, 0x00f3, 0x00fa, 0x00f1, 0x00d1, 0x00aa,
    0x00ba, 0x00bf, 0x2310, 0x00ac, 0x00bd, 0x00bc, 0x00a1, 0x00ab, 0x00bb, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255d, 0x255c, 0x255b, 0x2510, 0x2514,
    0x2534, 0x252c, 0x251c, 0x2500, 0x253c, 0x255e, 0x255f, 0x255a, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256c, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256b, 0x256a, 0x2518, 0x250c,
    0x2588, 0x2584, 0x258c, 0x2590, 0x2580, 0x03b1, 0x00df, 0x0393, 0x03c0, 0x03a3, 0x03c3, 0x00b5, 0x03c4,
    0x03a6, 0x0398, 0x03a9, 0x03b4, 0x221e, 0x03c6, 0x03b5, 0x2229, 0x2261, 0x00b1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00f7, 0x2248, 0x00b0, 0x2219, 0x00b7, 0x221a, 0x207f, 0x00b2, 0x25a0, 0x00a0,
};
// 0x80 to 0x9f; above that code page 1252 is Latin-1.
constexpr char16_t kAnsi1252[32] = {
    0x20ac, 0,      0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017d, 0,      0,      0x2018, 0x2019, 0x201c, 0x201d, 0x2022,
    0x2013, 0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0,      0x017e, 0x0178,
};

}  // namespace

std::optional<char32_t> X11KeySequencer::altCodeCharacter(std::string_view digits) {
    if (digits.empty()) return std::nullopt;
    unsigned code = 0;
    for (char d : digits)
        code = (code * 10 + static_cast<unsigned>(d - '0')) % 256;
    if (code < 0x20 || code == 0x7f) return std::nullopt;
    if (code < 0x80) return static_cast<char32_t>(code);
    char16_t c = 0;
    if (digits.front() == '0') {
        c = code < 0xa0 ? kAnsi1252[code - 0x80] : static_cast<char16_t>(code);
    } else {
        c = kOem437[code - 0x80];
    }
    if (c == 0) return std::nullopt;
    return static_cast<char32_t>(c);
}

void X11KeySequencer::sendHeldBack() {
    if (control == Control::HELD_BACK) {
        keyOutput.sendKey(Vk::CONTROL, true);
        control = Control::SENT;
    }
    if (alt == Alt::HELD_BACK || alt == Alt::ALT_CODE) {
        // Another key while Alt is held: an Alt shortcut after all, and any keypad digits so far are lost.
        altDigits.clear();
        alt = Alt::SENT;
        keyOutput.sendKey(Vk::ALT, true);
    }
}

void X11KeySequencer::press(int keyCode) {
    if (keyCode == Vk::CONTROL) {
        if (control != Control::UP) return;
        if (alt == Alt::HELD_BACK && keyOutput.hasLevel3()) {
            // Alt first and Control second is AltGr as well.
            control = Control::IN_LEVEL3;
            alt = Alt::LEVEL3;
            keyOutput.sendLevel3(true);
        } else {
            control = Control::HELD_BACK;
        }
        return;
    }
    if (keyCode == Vk::ALT) {
        if (alt != Alt::UP) return;
        if (control == Control::HELD_BACK && keyOutput.hasLevel3()) {
            control = Control::IN_LEVEL3;
            alt = Alt::LEVEL3;
            keyOutput.sendLevel3(true);
        } else if (control == Control::UP) {
            alt = Alt::HELD_BACK;
        } else {
            sendHeldBack();
            alt = Alt::SENT;
            keyOutput.sendKey(Vk::ALT, true);
        }
        return;
    }
    if (Vk::isKeypadDigit(keyCode) && (alt == Alt::HELD_BACK || alt == Alt::ALT_CODE)) {
        alt = Alt::ALT_CODE;
        altDigits += static_cast<char>('0' + keyCode - Vk::NUMPAD0);
        return;
    }
    sendHeldBack();
    keyOutput.sendKey(keyCode, true);
}

void X11KeySequencer::release(int keyCode) {
    if (keyCode == Vk::CONTROL) {
        const Control was = control;
        control = Control::UP;
        if (was == Control::SENT) keyOutput.sendKey(Vk::CONTROL, false);
        return;
    }
    if (keyCode == Vk::ALT) {
        const Alt was = alt;
        alt = Alt::UP;
        switch (was) {
            case Alt::UP:
                return;
            case Alt::HELD_BACK:
                // Alt alone: a tap, as it was pressed.
                keyOutput.sendKey(Vk::ALT, true);
                keyOutput.sendKey(Vk::ALT, false);
                return;
            case Alt::SENT:
                keyOutput.sendKey(Vk::ALT, false);
                return;
            case Alt::LEVEL3:
                keyOutput.sendLevel3(false);
                return;
            case Alt::ALT_CODE: {
                const std::string digits = std::move(altDigits);
                altDigits.clear();
                const std::optional<char32_t> character = altCodeCharacter(digits);
                if (!character)
                    throw std::invalid_argument("Alt code " + digits + " stands for no character");
                keyOutput.typeCharacter(*character);
                return;
            }
        }
        return;
    }
    if (Vk::isKeypadDigit(keyCode) && alt == Alt::ALT_CODE) return;
    keyOutput.sendKey(keyCode, false);
}

}  // namespace rszorvik::platform
