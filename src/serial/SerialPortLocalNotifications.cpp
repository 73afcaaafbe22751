// Device arrival and removal: one callback, class-wide, called on a thread of the native library.

#include <mutex>

#include "serial/Diagnostics.h"
#include "serial/IOError.h"
#include "serial/SerialPortLocal.h"
#include "serial/SerialPortLocalState.h"

namespace Zivaraze {
namespace {

using detail::classState;
using detail::native;
using detail::rootProperty;

std::mutex& callbackMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<DeviceNotificationCallback>& storedCallback() {
    static std::shared_ptr<DeviceNotificationCallback> callback;
    return callback;
}

void notifyDevice() {
    printDiagnostic("Zivaraze.deviceNotification");
    std::shared_ptr<DeviceNotificationCallback> callback;
    {
        std::lock_guard lock(callbackMutex());
        callback = storedCallback();
    }
    if (callback) callback->deviceNotification();
}

// Runs on a thread of the native library: nothing may escape into it.
void deviceNotificationTrampoline(void*) noexcept {
    try {
        notifyDevice();
    } catch (...) {
    }
}

}  // namespace

void SerialPortLocal::registerDeviceNotification(std::shared_ptr<DeviceNotificationCallback> callback) {
    classState();
    const ZspApi& api = native("SerRegisterDeviceNotification");
    bool hadOne;
    {
        std::lock_guard lock(callbackMutex());
        hadOne = storedCallback() != nullptr;
    }
    // The native calls run without the callback lock: stopping waits for a notification in flight.
    if (hadOne) api.SerUnregisterDeviceNotification(deviceNotificationTrampoline, nullptr);
    {
        std::lock_guard lock(callbackMutex());
        storedCallback() = std::move(callback);
    }
    const auto devRoot = rootProperty("ZSP_DEV_ROOT");
    if (api.SerRegisterDeviceNotification(deviceNotificationTrampoline, nullptr,
                                          devRoot ? devRoot->c_str() : nullptr) != 0)
        throw IOError("registerDeviceNotification failed");
}

void SerialPortLocal::unregisterDeviceNotification() {
    classState();
    native("SerUnregisterDeviceNotification")
        .SerUnregisterDeviceNotification(deviceNotificationTrampoline, nullptr);
    std::lock_guard lock(callbackMutex());
    storedCallback().reset();
}

void SerialPortLocal::deviceNotification() {
    notifyDevice();
}

}  // namespace Zivaraze
