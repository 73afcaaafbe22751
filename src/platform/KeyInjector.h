#pragma once

#include <memory>

#include "base/VirtualKeys.h"

namespace rszorvik::platform {

// Synthesises key presses and releases in the application that has the keyboard focus. A key code (Vk::*)
// names the key that means it on the active keyboard layout, as on Windows: Control with Alt is AltGr, Alt
// held over keypad digits types the character of that code when Alt is released.
class KeyInjector {
  public:
    virtual ~KeyInjector() = default;

    // Throw std::invalid_argument for a key code the injector cannot send on the active layout.
    virtual void keyPress(int keyCode) = 0;
    virtual void keyRelease(int keyCode) = 0;
    // Sends what is pending, then waits; 0 only sends. Throws base::InterruptedError when the calling thread
    // is interrupted while it waits.
    virtual void delay(int milliseconds) = 0;
    // Whether the last key pressed is a dead key on the active layout, so that a following Space types
    // its bare accent instead of a blank.
    virtual bool lastKeyWasDead() const = 0;

    // The injector of this platform. Throws std::runtime_error when the platform offers none (no display,
    // no event injection extension).
    static std::unique_ptr<KeyInjector> create();
};

}  // namespace rszorvik::platform
