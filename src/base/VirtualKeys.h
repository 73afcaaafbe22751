#pragma once

// Virtual key codes: the numbering the key maps of the settings are written in and the key injectors take.
// Each names the key that means it on the active keyboard layout, not a position on the keyboard.
namespace rszorvik::Vk {

inline constexpr int BACK_SPACE = 8;
inline constexpr int TAB = 9;
inline constexpr int ENTER = 10;
inline constexpr int SHIFT = 16;
inline constexpr int CONTROL = 17;
inline constexpr int ALT = 18;
inline constexpr int PAUSE = 19;
inline constexpr int CAPS_LOCK = 20;
inline constexpr int ESCAPE = 27;
inline constexpr int SPACE = 32;
inline constexpr int PAGE_UP = 33;
inline constexpr int PAGE_DOWN = 34;
inline constexpr int END = 35;
inline constexpr int HOME = 36;
inline constexpr int LEFT = 37;
inline constexpr int UP = 38;
inline constexpr int RIGHT = 39;
inline constexpr int DOWN = 40;
inline constexpr int COMMA = 44;
inline constexpr int MINUS = 45;
inline constexpr int PERIOD = 46;
inline constexpr int SLASH = 47;
inline constexpr int DIGIT0 = 48;  // DIGIT0 + n is the digit key n
inline constexpr int SEMICOLON = 59;
inline constexpr int EQUALS = 61;
inline constexpr int A = 65;  // A + n is the letter key n, up to Z = 90
inline constexpr int OPEN_BRACKET = 91;
inline constexpr int BACK_SLASH = 92;
inline constexpr int CLOSE_BRACKET = 93;
inline constexpr int NUMPAD0 = 96;  // NUMPAD0 + n is the keypad digit n
inline constexpr int MULTIPLY = 106;
inline constexpr int ADD = 107;
inline constexpr int SEPARATOR = 108;
inline constexpr int SUBTRACT = 109;
inline constexpr int DECIMAL = 110;
inline constexpr int DIVIDE = 111;
inline constexpr int F1 = 112;  // F1 + n - 1 is Fn, up to F12 = 123
inline constexpr int DELETE = 127;
inline constexpr int DEAD_GRAVE = 128;  // 128 to 143 run in the order of the X dead keysyms
inline constexpr int DEAD_ACUTE = 129;
inline constexpr int DEAD_CIRCUMFLEX = 130;
inline constexpr int DEAD_TILDE = 131;
inline constexpr int DEAD_DIAERESIS = 135;
inline constexpr int DEAD_SEMIVOICED_SOUND = 143;  // the last dead key
inline constexpr int AMPERSAND = 150;
inline constexpr int ASTERISK = 151;
inline constexpr int QUOTEDBL = 152;
inline constexpr int LESS = 153;
inline constexpr int INSERT = 155;
inline constexpr int GREATER = 160;
inline constexpr int BRACELEFT = 161;
inline constexpr int BRACERIGHT = 162;
inline constexpr int BACK_QUOTE = 192;
inline constexpr int QUOTE = 222;
inline constexpr int AT = 512;
inline constexpr int COLON = 513;
inline constexpr int CIRCUMFLEX = 514;
inline constexpr int DOLLAR = 515;
inline constexpr int EURO_SIGN = 516;
inline constexpr int EXCLAMATION_MARK = 517;
inline constexpr int INVERTED_EXCLAMATION_MARK = 518;
inline constexpr int LEFT_PARENTHESIS = 519;
inline constexpr int NUMBER_SIGN = 520;
inline constexpr int PLUS = 521;
inline constexpr int RIGHT_PARENTHESIS = 522;
inline constexpr int UNDERSCORE = 523;

constexpr int digit(int n) {  // 0 to 9
    return DIGIT0 + n;
}
constexpr int letter(char upper) {  // 'A' to 'Z'
    return A + (upper - 'A');
}
constexpr int numpad(int n) {  // 0 to 9
    return NUMPAD0 + n;
}
constexpr int function(int n) {  // 1 to 12
    return F1 + n - 1;
}

constexpr bool isKeypadDigit(int vk) {
    return vk >= NUMPAD0 && vk <= NUMPAD0 + 9;
}

}  // namespace rszorvik::Vk
