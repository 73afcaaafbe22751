// The request hot key on a private X server: key presses sent through XTest, as a keyboard would.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/GlobalHotKey.h"
#include "support/XvfbDisplay.h"

// Last: Xlib's macros break the headers above.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

using namespace std::chrono_literals;
using rszorvik::base::HotKey;
using rszorvik::platform::GlobalHotKey;
using rszorvik::platform::HotKeyUnavailable;
using rszorvik::test::XvfbDisplay;

constexpr auto kPatience = 10s;  // a limit for a press that must arrive, not a timing check

// A keyboard on the test's own connection: holds the keys down in order and lets them go in reverse.
class Keyboard {
  public:
    explicit Keyboard(const std::string& display) : dpy(XOpenDisplay(display.c_str())) {
        if (dpy == nullptr) throw std::runtime_error("cannot open " + display);
    }
    ~Keyboard() { XCloseDisplay(dpy); }
    Keyboard(const Keyboard&) = delete;
    Keyboard& operator=(const Keyboard&) = delete;

    void press(const std::vector<KeySym>& keys) {
        for (KeySym key : keys)
            XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, key), True, CurrentTime);
        for (auto key = keys.rbegin(); key != keys.rend(); ++key)
            XTestFakeKeyEvent(dpy, XKeysymToKeycode(dpy, *key), False, CurrentTime);
        XSync(dpy, False);
    }
    void lockNumLock(bool on) {
        const unsigned mask = XkbKeysymToModifiers(dpy, XK_Num_Lock);
        XkbLockModifiers(dpy, XkbUseCoreKbd, mask, on ? mask : 0);
        XSync(dpy, False);
    }

  private:
    Display* dpy;
};

bool awaitCount(const std::atomic<int>& counter, int expected) {
    const auto end = std::chrono::steady_clock::now() + kPatience;
    while (counter < expected && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(5ms);
    return counter == expected;
}

// Each press of the combination calls back once, with Num Lock on as well; the keys of the combination
// pressed without all its modifiers do not; a combination another program holds is refused as taken.
TEST(GlobalHotKey, CallsBackForItsCombinationAndReportsOneThatIsTaken) {
    if (!XvfbDisplay::available()) {
        if (XvfbDisplay::required()) FAIL() << "Xvfb is not installed (CI is set)";
        GTEST_SKIP() << "Xvfb is not installed";
    }
    XvfbDisplay xvfb;
    setenv("DISPLAY", xvfb.name().c_str(), 1);
    Keyboard keyboard(xvfb.name());
    std::atomic<int> presses{0};
    const auto hotKey = GlobalHotKey::create(HotKey::parse("Ctrl+Alt+R"), [&] { ++presses; });
    EXPECT_EQ(hotKey->reach(), std::getenv("WAYLAND_DISPLAY") ? GlobalHotKey::Reach::X11WindowsOnly
                                                              : GlobalHotKey::Reach::Everywhere);

    keyboard.press({XK_Control_L, XK_Alt_L, XK_r});
    EXPECT_TRUE(awaitCount(presses, 1));
    keyboard.press({XK_Control_L, XK_r});  // Alt missing: an ordinary key stroke
    keyboard.lockNumLock(true);
    keyboard.press({XK_Control_L, XK_Alt_L, XK_r});
    EXPECT_TRUE(awaitCount(presses, 2)) << "the stroke without Alt was taken, or Num Lock hid the press";
    keyboard.lockNumLock(false);

    try {
        GlobalHotKey::create(HotKey::parse("Ctrl+Alt+R"), [] {});
        ADD_FAILURE() << "a second grab of the same combination was accepted";
    } catch (const HotKeyUnavailable& e) {
        EXPECT_EQ(e.reason, HotKeyUnavailable::Reason::Taken) << e.what();
    }
    // The refused grab took nothing from the first one.
    keyboard.press({XK_Control_L, XK_Alt_L, XK_r});
    EXPECT_TRUE(awaitCount(presses, 3));
}

}  // namespace
