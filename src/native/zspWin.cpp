// The exported entry points: argument checks, the handle table and the barrier that keeps C++
// exceptions inside the module. Device work is done by the host's SerialDevice implementation.

#include "native/zspWin.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "native/SerialDevice.h"

namespace {

using zsp::Device;

struct Slot {
    std::shared_ptr<Device> device;
    std::int32_t timeoutRx = 0;
    std::int32_t timeoutTx = 0;
    std::string lastPath;  // kept after close for SerResetPortDriver and SerGetName
};

std::mutex tableMutex;
Slot slots[ZSP_MAX_PORTS];

bool validHandle(std::int32_t handle) {
    return handle >= 0 && handle < ZSP_MAX_PORTS;
}

// A reference keeps the device alive while a call runs, even if another thread closes the handle.
std::shared_ptr<Device> deviceAt(std::int32_t handle) {
    if (!validHandle(handle)) return nullptr;
    std::lock_guard lock(tableMutex);
    return slots[handle].device;
}

std::shared_ptr<Device> deviceAt(std::int32_t handle, std::int32_t& timeoutRx, std::int32_t& timeoutTx) {
    if (!validHandle(handle)) return nullptr;
    std::lock_guard lock(tableMutex);
    timeoutRx = slots[handle].timeoutRx;
    timeoutTx = slots[handle].timeoutTx;
    return slots[handle].device;
}

// Runs body, turning any escaping exception into the failure value.
template <typename Body>
std::int32_t guarded(std::int32_t failure, Body body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

template <typename Query>
std::int32_t onDevice(std::int32_t handle, Query query) noexcept {
    return guarded(-1, [&] {
        auto device = deviceAt(handle);
        return device ? query(*device) : -1;
    });
}

std::int32_t copyText(const std::string& text, char* buffer, std::int32_t size) {
    if (buffer == nullptr || size <= 0) return -1;
    const auto length = static_cast<std::int32_t>(text.size());
    if (length >= size) return -1;
    std::memcpy(buffer, text.data(), text.size());
    buffer[length] = '\0';
    return length;
}

std::string pathOfPort(std::int32_t portNumber) {
    if (portNumber < 1 || portNumber > ZSP_MAX_PORTS) return {};
    std::lock_guard lock(tableMutex);
    return slots[portNumber - 1].lastPath;
}

}  // namespace

extern "C" {

std::int32_t SerOpenPort(ZspConfig* config) {
    return guarded(ZSP_ERR_INTERNAL, [&]() -> std::int32_t {
        if (config == nullptr) return ZSP_ERR_NOT_VALID;
        std::string path;
        if (auto code = zsp::resolveDevicePath(*config, path); code != ZSP_OK) return code;
        zsp::DeviceKey key;
        if (auto code = zsp::deviceKeyOf(path, key); code != ZSP_OK) return code;

        std::lock_guard lock(tableMutex);
        int free = -1;
        for (int i = 0; i < ZSP_MAX_PORTS; ++i) {
            if (slots[i].device && slots[i].device->key == key) return ZSP_ERR_ALREADY_OPEN;
            if (!slots[i].device && free < 0) free = i;
        }
        if (free < 0) return ZSP_ERR_TOO_MANY;
        std::unique_ptr<Device> device;
        if (auto code = zsp::openDevice(path, device); code != ZSP_OK) return code;
        device->key = key;
        device->path = path;
        slots[free] = Slot{std::move(device), 0, 0, path};
        config->port = free + 1;
        return ZSP_OK;
    });
}

std::int32_t SerConfigure(const ZspConfig* config) {
    return guarded(ZSP_ERR_INTERNAL, [&]() -> std::int32_t {
        if (config == nullptr) return ZSP_ERR_NOT_VALID;
        auto device = deviceAt(config->port - 1);
        if (!device) return ZSP_ERR_BAD_HANDLE;
        return device->configure(*config);
    });
}

std::int32_t SerClosePort(std::int32_t handle) {
    return guarded(-1, [&]() -> std::int32_t {
        std::shared_ptr<Device> device;
        {
            std::lock_guard lock(tableMutex);
            if (!validHandle(handle) || !slots[handle].device) return -1;
            device.swap(slots[handle].device);
            slots[handle].timeoutRx = 0;
            slots[handle].timeoutTx = 0;
        }
        device->wake();  // a thread still waiting on the port must not wait for its timeout
        device.reset();  // closes now unless another call still runs on it
        return 0;
    });
}

std::int32_t SerGetByte(std::int32_t handle) {
    return guarded(-1, [&]() -> std::int32_t {
        std::int32_t rx = 0, tx = 0;
        auto device = deviceAt(handle, rx, tx);
        if (!device) return -1;
        std::uint8_t value = 0;
        return device->read(&value, 1, rx) == 1 ? value : -1;
    });
}

std::int32_t SerGetData(std::int32_t handle, std::uint8_t* buffer, std::int32_t count) {
    return guarded(-1, [&]() -> std::int32_t {
        if (buffer == nullptr || count < 0) return -1;
        if (count == 0) return 0;
        std::int32_t rx = 0, tx = 0;
        auto device = deviceAt(handle, rx, tx);
        return device ? device->read(buffer, count, rx) : -1;
    });
}

std::int32_t SerWaitPort(std::int32_t handle, std::int32_t timeoutMs) {
    return onDevice(handle, [timeoutMs](Device& d) { return d.wait(timeoutMs); });
}

std::int32_t SerWakePort(std::int32_t handle) {
    return onDevice(handle, [](Device& d) { return d.wake(); });
}

std::int32_t SerPutByte(std::int32_t handle, std::uint8_t value) {
    return guarded(ZSP_ERR_INTERNAL, [&]() -> std::int32_t {
        std::int32_t rx = 0, tx = 0;
        auto device = deviceAt(handle, rx, tx);
        if (!device) return ZSP_ERR_BAD_HANDLE;
        std::int32_t error = ZSP_OK;
        return device->write(&value, 1, tx, error) == 1 ? ZSP_OK
                                                        : (error != ZSP_OK ? error : ZSP_ERR_INTERNAL);
    });
}

std::int32_t SerPutData(std::int32_t handle, const std::uint8_t* data, std::int32_t count) {
    return guarded(-1, [&]() -> std::int32_t {
        if (data == nullptr || count < 0) return -1;
        if (count == 0) return 0;
        std::int32_t rx = 0, tx = 0;
        auto device = deviceAt(handle, rx, tx);
        if (!device) return -1;
        std::int32_t error = ZSP_OK;
        return device->write(data, count, tx, error);
    });
}

std::int32_t SerRxFlush(std::int32_t handle) {
    return onDevice(handle, [](Device& d) { return d.flushRx(); });
}
std::int32_t SerTxFlush(std::int32_t handle) {
    return onDevice(handle, [](Device& d) { return d.flushTx(); });
}
std::int32_t SerTxDrain(std::int32_t handle) {
    return guarded(-1, [&]() -> std::int32_t {
        std::int32_t rx = 0, tx = 0;
        auto device = deviceAt(handle, rx, tx);
        return device ? device->drain(tx) : -1;
    });
}
std::int32_t SerRxReadyCount(std::int32_t handle) {
    return onDevice(handle, [](Device& d) { return d.rxReady(); });
}
std::int32_t SerTxBufCount(std::int32_t handle) {
    return onDevice(handle, [](Device& d) { return d.txPending(); });
}
std::int32_t SerRxOverflow(std::int32_t handle) {
    return onDevice(handle, [](Device& d) { return d.takeEvent(zsp::Event::Overflow); });
}
std::int32_t SerSigBreak(std::int32_t handle) {
    return onDevice(handle, [](Device& d) { return d.takeEvent(zsp::Event::Break); });
}
std::int32_t SerSigCD(std::int32_t handle) {
    return onDevice(handle, [](Device& d) { return d.line(zsp::Line::CD); });
}
std::int32_t SerSigCTS(std::int32_t handle) {
    return onDevice(handle, [](Device& d) { return d.line(zsp::Line::CTS); });
}
std::int32_t SerSigDSR(std::int32_t handle) {
    return onDevice(handle, [](Device& d) { return d.line(zsp::Line::DSR); });
}
std::int32_t SerSigFrameErr(std::int32_t handle) {
    return onDevice(handle, [](Device& d) { return d.takeEvent(zsp::Event::FrameErr); });
}
std::int32_t SerSigOverrun(std::int32_t handle) {
    return onDevice(handle, [](Device& d) { return d.takeEvent(zsp::Event::Overrun); });
}
std::int32_t SerSigParityErr(std::int32_t handle) {
    return onDevice(handle, [](Device& d) { return d.takeEvent(zsp::Event::ParityErr); });
}
std::int32_t SerSigRing(std::int32_t handle) {
    return onDevice(handle, [](Device& d) { return d.line(zsp::Line::RI); });
}
std::int32_t SerSetDTR(std::int32_t handle, std::int32_t on) {
    return onDevice(handle, [on](Device& d) { return d.setOutput(zsp::Output::DTR, on != 0); });
}
std::int32_t SerSetRTS(std::int32_t handle, std::int32_t on) {
    return onDevice(handle, [on](Device& d) { return d.setOutput(zsp::Output::RTS, on != 0); });
}
std::int32_t SerSendBreak(std::int32_t handle, std::int32_t milliseconds) {
    return onDevice(handle, [milliseconds](Device& d) { return d.sendBreak(milliseconds); });
}

std::int32_t SerSetTimeoutRx(std::int32_t handle, std::int32_t milliseconds) {
    if (milliseconds < 0) return -1;
    std::lock_guard lock(tableMutex);
    if (!validHandle(handle) || !slots[handle].device) return -1;
    slots[handle].timeoutRx = milliseconds;
    return 0;
}

std::int32_t SerSetTimeoutTx(std::int32_t handle, std::int32_t milliseconds) {
    if (milliseconds < 0) return -1;
    std::lock_guard lock(tableMutex);
    if (!validHandle(handle) || !slots[handle].device) return -1;
    slots[handle].timeoutTx = milliseconds;
    return 0;
}

std::int32_t SerGetTimeoutRx(std::int32_t handle) {
    std::lock_guard lock(tableMutex);
    return validHandle(handle) && slots[handle].device ? slots[handle].timeoutRx : -1;
}

std::int32_t SerGetTimeoutTx(std::int32_t handle) {
    std::lock_guard lock(tableMutex);
    return validHandle(handle) && slots[handle].device ? slots[handle].timeoutTx : -1;
}

std::int32_t SerResetPortDriver(std::int32_t portNumber) {
    return guarded(ZSP_ERR_INTERNAL, [&]() -> std::int32_t {
        if (portNumber < 1 || portNumber > ZSP_MAX_PORTS) return ZSP_ERR_BAD_HANDLE;
        std::string path;
        {
            std::lock_guard lock(tableMutex);
            if (slots[portNumber - 1].device) return ZSP_ERR_ALREADY_OPEN;
            path = slots[portNumber - 1].lastPath;
        }
        if (path.empty()) return ZSP_ERR_BAD_HANDLE;
        return zsp::resetDriver(path);
    });
}

std::int32_t SerGetPortList(const ZspPortSink* sink) {
    return guarded(-1, [&]() -> std::int32_t {
        if (sink == nullptr || sink->addPortName == nullptr) return -1;
        return zsp::discoverPorts(*sink);
    });
}

std::int32_t SerGetName(std::int32_t portNumber, char* buffer, std::int32_t size) {
    return guarded(-1, [&] { return copyText(pathOfPort(portNumber), buffer, size); });
}

std::int32_t SerGetLibVer(void) {
    return ZSP_LIB_VERSION;
}

std::int32_t SerGetInstanceLock(void) {
    return guarded(-1, [] { return zsp::getInstanceLock(); });
}

std::int32_t SerSetInstanceLock(std::int32_t value) {
    return guarded(-1, [value] { return zsp::setInstanceLock(value); });
}

// Ports here have no power states of their own: an open port is always active.
std::int32_t SerGetPowerMode(std::int32_t portNumber) {
    if (portNumber < 1 || portNumber > ZSP_MAX_PORTS) return 5000 + ZSP_ERR_BAD_HANDLE;
    std::lock_guard lock(tableMutex);
    return slots[portNumber - 1].device ? ZSP_PWR_ACTIVE : 5000 + ZSP_ERR_BAD_HANDLE;
}

std::int32_t SerSetPowerMode(std::int32_t portNumber, std::int32_t mode) {
    const auto current = SerGetPowerMode(portNumber);
    if (current >= 5000) return ZSP_ERR_BAD_HANDLE;
    return mode == ZSP_PWR_ACTIVE ? ZSP_OK : ZSP_ERR_UNSUPPORTED;
}

std::int32_t SerGetResumeState(std::int32_t portNumber) {
    return SerGetPowerMode(portNumber) >= 5000 ? -1 : 0;
}

std::int32_t SerGetStatusAPM(void) {
    return guarded(-1, [] { return zsp::statusAPM(); });
}

std::int32_t SerFlowTask(std::int32_t handle) {
    return guarded(-1, [&]() -> std::int32_t {
        auto device = deviceAt(handle);
        if (!device) {
            // Even a failed step takes its time, so a caller looping on it cannot spin.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return -1;
        }
        return device->flowStep();
    });
}

std::int32_t SerServerTask(ZspConfig* config) {
    return guarded(ZSP_ERR_INTERNAL, [&]() -> std::int32_t {
        if (config == nullptr) return ZSP_ERR_NOT_VALID;
        return zsp::serveConfig(*config);
    });
}

std::int32_t SerRegisterDeviceNotification(ZspDeviceNotification callback, void* context,
                                           const char* devRoot) {
    return guarded(-1, [&]() -> std::int32_t {
        if (callback == nullptr) return -1;
        return zsp::startDeviceNotification(callback, context, devRoot);
    });
}

std::int32_t SerUnregisterDeviceNotification(ZspDeviceNotification callback, void* context) {
    return guarded(-1, [&] { return zsp::stopDeviceNotification(callback, context); });
}

std::int32_t SerGetPortMfgr(std::int32_t portNumber, char* buffer, std::int32_t size) {
    return guarded(-1, [&]() -> std::int32_t {
        const auto path = pathOfPort(portNumber);
        if (path.empty()) return -1;
        return copyText(zsp::manufacturerOf(path), buffer, size);
    });
}

}  // extern "C"
