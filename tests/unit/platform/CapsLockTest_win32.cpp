#include <gtest/gtest.h>

#include "base/VirtualKeys.h"
#include "platform/CapsLock.h"
#include "platform/Win32KeyInjector.h"

namespace rszorvik::platform {
namespace {

// Caps Lock switched by this process through SendInput (Wine shows a process the state of Caps Lock only
// once it has sent keys itself): both readings follow, and the key is left as it was.
TEST(CapsLock, FollowsCapsLockSwitchedThroughSendInput) {
    Win32KeyInjector injector;
    bool before = CapsLock::isOn();
    for (int tap = 1; tap <= 2; ++tap) {
        injector.keyPress(Vk::CAPS_LOCK);
        injector.keyRelease(Vk::CAPS_LOCK);
        injector.delay(0);
        const bool now = injector.capsLockOn();
        EXPECT_NE(now, before) << "tap " << tap;
        EXPECT_EQ(CapsLock::isOn(), now) << "tap " << tap;
        before = now;
    }
}

}  // namespace
}  // namespace rszorvik::platform
