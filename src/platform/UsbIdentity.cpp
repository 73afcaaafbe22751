#include "platform/DeviceWatch.h"

namespace rszorvik::platform {

bool UsbIdentity::matches(const UsbIdentity& other) const {
    if (vendorId != other.vendorId || productId != other.productId ||
        interfaceNumber != other.interfaceNumber)
        return false;
    if (!serial.empty() && !other.serial.empty()) return serial == other.serial;
    return serial.empty() && other.serial.empty() && location == other.location;
}

}  // namespace rszorvik::platform
