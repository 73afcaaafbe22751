#include <windows.h>

#include "platform/CapsLock.h"

namespace rszorvik::platform {

bool CapsLock::isOn() {
    // The low bit is the toggle, which is what a lit Caps Lock light shows.
    return (GetKeyState(VK_CAPITAL) & 1) != 0;
}

}  // namespace rszorvik::platform
