#pragma once

#include <functional>
#include <memory>
#include <stdexcept>

#include "base/HotKey.h"

namespace rszorvik::platform {

// Why a hot key cannot be had.
class HotKeyUnavailable : public std::runtime_error {
  public:
    enum class Reason {
        NoDesktop,    // no display to take keys from (the message says why)
        Taken,        // another program holds the combination
        NoSuchKey,    // the keyboard has no key of that name
        Unsupported,  // this platform offers no global hot keys
    };
    HotKeyUnavailable(Reason why, const std::string& message) : std::runtime_error(message), reason(why) {}
    const Reason reason;
};

// A key combination that calls back whichever application has the focus, for as long as the object lives.
class GlobalHotKey {
  public:
    // What the desktop lets the hot key do, where the user should know.
    enum class Reach {
        Everywhere,
        X11WindowsOnly,  // a Wayland desktop: only keys typed into X11 applications reach the grab
    };

    virtual ~GlobalHotKey() = default;
    virtual Reach reach() const = 0;

    // Takes the combination and calls onPress on a thread of the object at each press (a key held down
    // counts once). Throws HotKeyUnavailable.
    static std::unique_ptr<GlobalHotKey> create(const base::HotKey& key, std::function<void()> onPress);
};

}  // namespace rszorvik::platform
