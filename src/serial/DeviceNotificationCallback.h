#pragma once

namespace Zivaraze {

// Told when a serial device arrives or goes away. Called on a thread of the native library.
class DeviceNotificationCallback {
  public:
    virtual ~DeviceNotificationCallback() = default;
    virtual void deviceNotification() = 0;
};

}  // namespace Zivaraze
