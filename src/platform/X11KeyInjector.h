#pragma once

#include <memory>
#include <string>

#include "platform/KeyInjector.h"
#include "platform/X11KeyTable.h"

namespace rszorvik::platform {

// Key injection through the XTEST extension. Virtual key codes find their keys through the symbols of the
// active layout (read with XKB and read again when the layout changes). A character the layout has no key
// for (an Alt code, the bare accent of a dead key and Space, a letter composed from a dead key) is typed
// from a keycode that carries no symbol, bound to it: the characters told to prepareFor() when the output
// starts and again after a change of layout, any other one when it is first typed. The bindings go with
// the injector. When the X server goes away every call throws KeyOutputLost instead of Xlib ending the
// process; a request the server refuses is reported by a later delay() or by sync().
class X11KeyInjector final : public KeyInjector {
  public:
    // Connects to the display of that name (empty: $DISPLAY). Throws std::runtime_error when there is no
    // display or it lacks XTEST or XKB.
    explicit X11KeyInjector(const std::string& displayName = {});
    ~X11KeyInjector() override;
    X11KeyInjector(const X11KeyInjector&) = delete;
    X11KeyInjector& operator=(const X11KeyInjector&) = delete;

    void keyPress(int keyCode) override;
    void keyRelease(int keyCode) override;
    void delay(int milliseconds) override;
    bool lastKeyWasDead() const override;
    // Binds the characters the layout has no key for, and waits until the server has told every client.
    void prepareFor(std::u32string_view characters) override;
    // Asked on the injector's own connection, so the answer comes after every key sent before.
    bool capsLockOn() override;

    // The layout as the injector currently reads it.
    const X11KeyTable& keyTable();
    // Waits until the X server has handled every event sent so far.
    void sync();

    struct Impl;  // public for the Xlib error handlers, which find the injector of a display

  private:
    std::unique_ptr<Impl> impl;
};

}  // namespace rszorvik::platform
