#include "platform/CapsLock.h"
#include "platform/X11CapsLock.h"

namespace rszorvik::platform {

bool CapsLock::isOn() {
    return x11CapsLockOn();
}

}  // namespace rszorvik::platform
