#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rszorvik::platform {

// Turns virtual key presses and releases into X key events the way Windows reads them: Control held with
// Alt is AltGr (the third shift level), and Alt held over keypad digits types the character of that code
// when Alt is released. Control and Alt are therefore held back until the next key shows what they are for.
class X11KeySequencer {
  public:
    // What the sequencer asks of the X server. Each call may throw std::invalid_argument.
    class Output {
      public:
        virtual ~Output() = default;
        virtual void sendKey(int keyCode, bool down) = 0;  // a virtual key's own key
        virtual void sendLevel3(bool down) = 0;            // the layout's AltGr key
        virtual bool hasLevel3() const = 0;
        virtual void typeCharacter(char32_t character) = 0;
    };

    explicit X11KeySequencer(Output& output) : keyOutput(output) {}

    void press(int keyCode);
    void release(int keyCode);

    // The character an Alt code stands for: the number modulo 256 in the ANSI code page 1252 when it starts
    // with 0, else in the OEM code page 437. std::nullopt for no digits or a control character.
    static std::optional<char32_t> altCodeCharacter(std::string_view digits);

  private:
    enum class Control { UP, HELD_BACK, SENT, IN_LEVEL3 };
    enum class Alt { UP, HELD_BACK, SENT, LEVEL3, ALT_CODE };

    void sendHeldBack();

    Output& keyOutput;
    Control control = Control::UP;
    Alt alt = Alt::UP;
    std::string altDigits;
};

}  // namespace rszorvik::platform
