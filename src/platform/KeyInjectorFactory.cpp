// The one place that picks the keyboard backend of the platform.
#include <stdexcept>

#include "platform/CapsLock.h"
#include "platform/KeyInjector.h"

#if defined(__unix__) && !defined(__APPLE__)
#include "platform/X11CapsLock.h"
#include "platform/X11KeyInjector.h"
#define ZORVIK_KEYBOARD_X11 1
#endif

namespace rszorvik::platform {

std::unique_ptr<KeyInjector> KeyInjector::create() {
#ifdef ZORVIK_KEYBOARD_X11
    return std::make_unique<X11KeyInjector>();
#else
    throw std::runtime_error("No keyboard-event injector on this platform");
#endif
}

bool CapsLock::isOn() {
#ifdef ZORVIK_KEYBOARD_X11
    return x11CapsLockOn();
#else
    throw std::runtime_error("The Caps Lock state is not available on this platform");
#endif
}

}  // namespace rszorvik::platform
