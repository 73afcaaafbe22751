#pragma once

#include <string>

namespace rszorvik::platform {

// The Caps Lock indicator of the X display of that name (empty: $DISPLAY); falls back to the locked
// modifiers when the keyboard has no indicator of that name. Throws std::runtime_error without a display.
bool x11CapsLockOn(const std::string& displayName = {});

}  // namespace rszorvik::platform
