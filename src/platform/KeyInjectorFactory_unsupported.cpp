// Systems without a keyboard backend build and run everything but keyboard output, which fails with a
// message when a run asks for it.
#include <stdexcept>

#include "platform/KeyInjector.h"

namespace rszorvik::platform {

std::unique_ptr<KeyInjector> KeyInjector::create() {
    throw std::runtime_error("No keyboard-event injector on this platform");
}

}  // namespace rszorvik::platform
