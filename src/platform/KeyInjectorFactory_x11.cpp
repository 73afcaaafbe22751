// The keyboard backend where the display is an X server; CMake builds this file there only.
#include "platform/KeyInjector.h"
#include "platform/X11KeyInjector.h"

namespace rszorvik::platform {

std::unique_ptr<KeyInjector> KeyInjector::create() {
    return std::make_unique<X11KeyInjector>();
}

}  // namespace rszorvik::platform
