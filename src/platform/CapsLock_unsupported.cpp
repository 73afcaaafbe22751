#include <stdexcept>

#include "platform/CapsLock.h"

namespace rszorvik::platform {

bool CapsLock::isOn() {
    throw std::runtime_error("The Caps Lock state is not available on this platform");
}

}  // namespace rszorvik::platform
