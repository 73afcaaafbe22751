#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/KeyInjector.h"

namespace rszorvik::platform {

// One keyboard event as SendInput takes it: a Windows virtual key with its scan code.
struct Win32KeyInput {
    std::uint16_t virtualKey = 0;
    std::uint16_t scanCode = 0;
    bool extended = false;
    bool up = false;

    bool operator==(const Win32KeyInput&) const = default;
};

// Key injection through SendInput. Virtual key codes (Vk::*) that name a fixed key become that key's
// Windows code; those that name a character (comma, dead acute, dollar ...) become the key of the active
// layout that carries it unshifted, as Windows reports it for the window in the foreground. Control with
// Alt is AltGr and Alt over keypad digits is an Alt code on Windows itself, so both are sent as they come.
// Every key still down when the injector goes is released then; a SendInput that Windows refuses is
// reported by the next delay(), once, with Windows' error value.
class Win32KeyInjector final : public KeyInjector {
  public:
    // What the injector asks of Windows; the default is SendInput and the keyboard layout of the
    // foreground window. sendInput returns how many events Windows took, and sets error when fewer.
    struct System {
        std::function<unsigned(const std::vector<Win32KeyInput>& events, unsigned long& error)> sendInput;
        // The key of the active layout whose unshifted character is `character` (dead or not as asked).
        std::function<std::optional<std::uint16_t>(char32_t character, bool dead)> keyForCharacter;
        // Whether `virtualKey` with the given Shift and AltGr state is a dead key on the active layout.
        std::function<bool(std::uint16_t virtualKey, bool shift, bool altGr)> isDeadKey;
        std::function<bool()> capsLockOn;
    };
    static System windowsSystem();

    Win32KeyInjector();
    explicit Win32KeyInjector(System system);
    ~Win32KeyInjector() override;
    Win32KeyInjector(const Win32KeyInjector&) = delete;
    Win32KeyInjector& operator=(const Win32KeyInjector&) = delete;

    void keyPress(int keyCode) override;
    void keyRelease(int keyCode) override;
    void delay(int milliseconds) override;
    bool lastKeyWasDead() const override;
    // After a Caps Lock key sent by this injector, waits briefly for Windows to show its new state.
    bool capsLockOn() override;

    // The SendInput event of a key code on the active layout. Throws std::invalid_argument when the layout
    // has no such key.
    Win32KeyInput inputFor(int keyCode, bool up) const;
    // Releases every key this injector pressed and did not release yet.
    void releaseAll();

  private:
    void send(int keyCode, bool up);

    System system;
    std::map<int, Win32KeyInput> held;  // key code -> the press sent for it
    std::string failure;                // the first refusal since the last delay
    bool lastDead = false;
    std::optional<bool> capsBeforeTap;  // the state before a Caps Lock key this injector sent
};

}  // namespace rszorvik::platform
