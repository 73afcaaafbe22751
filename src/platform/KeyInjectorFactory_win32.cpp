// The keyboard backend on Windows; CMake builds this file there only.
#include "platform/KeyInjector.h"
#include "platform/Win32KeyInjector.h"

namespace rszorvik::platform {

std::unique_ptr<KeyInjector> KeyInjector::create() {
    return std::make_unique<Win32KeyInjector>();
}

}  // namespace rszorvik::platform
