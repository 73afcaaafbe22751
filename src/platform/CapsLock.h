#pragma once

namespace rszorvik::platform {

// The Caps Lock state of the keyboard, for the warning at the start of output.
class CapsLock {
  public:
    // Throws std::runtime_error when the platform cannot tell.
    static bool isOn();
};

}  // namespace rszorvik::platform
