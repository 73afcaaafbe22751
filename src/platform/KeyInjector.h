#pragma once

#include <memory>
#include <stdexcept>
#include <string_view>

#include "base/VirtualKeys.h"

namespace rszorvik::platform {

// The injector cannot send anything any more: its connection to the display is gone. Every further call
// throws it again.
class KeyOutputLost : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Synthesises key presses and releases in the application that has the keyboard focus. A key code (Vk::*)
// names the key that means it on the active keyboard layout, as on Windows: Control with Alt is AltGr, Alt
// held over keypad digits types the character of that code when Alt is released.
class KeyInjector {
  public:
    virtual ~KeyInjector() = default;

    // Throw std::invalid_argument for a key code the injector cannot send on the active layout, and
    // KeyOutputLost (from any call) once the display is gone.
    virtual void keyPress(int keyCode) = 0;
    virtual void keyRelease(int keyCode) = 0;
    // Sends what is pending, then waits; 0 only sends, and may leave the events of a chord whose keys are
    // still held for the pause after its last release. Throws base::InterruptedError when the calling thread
    // is interrupted while it waits, std::runtime_error when the display refused an event sent before (the
    // next ones may go through; after a delay of 0 the refusal may come back only with a later key).
    virtual void delay(int milliseconds) = 0;
    // Whether the last key pressed is a dead key on the active layout, so that a following Space types
    // its bare accent instead of a blank.
    virtual bool lastKeyWasDead() const = 0;
    // The characters this output may type (map entries, Alt codes, letters composed from a dead key),
    // told once when the output starts: an injector may get ready for them here instead of while it
    // types. Every other character still types. The default gets nothing ready.
    virtual void prepareFor(std::u32string_view characters) { static_cast<void>(characters); }
    // Whether Caps Lock is on, as the keys sent so far leave it; asked before every value, so it has to
    // be cheap. Throws std::runtime_error when the injector cannot tell. An injector that reaches no
    // keyboard (one that records or counts the keys) has none that could be locked: the default.
    virtual bool capsLockOn() { return false; }

    // The injector of this platform. Throws std::runtime_error when the platform offers none (no display,
    // no event injection extension).
    static std::unique_ptr<KeyInjector> create();
};

}  // namespace rszorvik::platform
