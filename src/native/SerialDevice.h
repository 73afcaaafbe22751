#pragma once

// What the shared front of the module (zspWin.cpp) asks of each host: one open device, plus the
// host-wide services. Implemented once per OS (SerialDevice_posix.cpp, ...).

#include <cstdint>
#include <memory>
#include <string>

#include "native/zspWin.h"

namespace zsp {

// Identifies the device behind a path, so a second open of the same device is caught whatever name
// it is reached by.
struct DeviceKey {
    std::uint64_t major = 0;
    std::uint64_t minor = 0;
    friend bool operator==(const DeviceKey&, const DeviceKey&) = default;
};

enum class Line { CTS, DSR, CD, RI };
enum class Output { DTR, RTS };
enum class Event { Break, FrameErr, ParityErr, Overrun, Overflow };

// One open serial device. Calls may come from two threads at once (the owner and the flow-control
// task), so implementations guard their own state.
class Device {
  public:
    virtual ~Device() = default;
    Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    virtual std::int32_t configure(const ZspConfig& config) = 0;  // ZSP_OK or a ZSP_ERR_ code
    // Up to count bytes; waits at most timeoutMs for the full count (0: returns at once). Stops after a
    // byte that carries a parity or framing error. Answers the number stored, or -1 when the device failed
    // before any byte arrived.
    virtual std::int32_t read(std::uint8_t* buffer, std::int32_t count, std::int32_t timeoutMs) = 0;
    // Answers the number of bytes sent; waits at most timeoutMs in total (0: no limit). errorCode gets
    // ZSP_OK or the reason the write stopped short.
    virtual std::int32_t write(const std::uint8_t* data, std::int32_t count, std::int32_t timeoutMs,
                               std::int32_t& errorCode) = 0;
    // Waits for input, a hang-up or wake() at most timeoutMs (negative: no limit); the ZSP_WAIT_ bits, or -1.
    virtual std::int32_t wait(std::int32_t timeoutMs) = 0;
    // Ends the current or the next wait(); any thread. 0 or -1.
    virtual std::int32_t wake() = 0;
    virtual std::int32_t flushRx() = 0;  // 0 or -1, as the following
    virtual std::int32_t flushTx() = 0;
    virtual std::int32_t drain(std::int32_t timeoutMs) = 0;
    virtual std::int32_t rxReady() = 0;         // count or -1
    virtual std::int32_t txPending() = 0;       // count or -1
    virtual std::int32_t line(Line which) = 0;  // 1 on, 0 off (also when the device has no such line), -1
    virtual std::int32_t setOutput(Output which, bool on) = 0;  // 0 or -1
    virtual std::int32_t takeEvent(Event which) = 0;  // 1 when it happened since the last query, 0, -1
    virtual std::int32_t sendBreak(std::int32_t milliseconds) = 0;
    virtual std::int32_t flowStep() = 0;  // one bounded step of the flow-control loop

    DeviceKey key;
    std::string path;
};

// The device path a record names; ZSP_OK or ZSP_ERR_NOT_VALID.
std::int32_t resolveDevicePath(const ZspConfig& config, std::string& path);
std::int32_t deviceKeyOf(const std::string& path, DeviceKey& key);
std::int32_t openDevice(const std::string& path, std::unique_ptr<Device>& device);
// Puts a closed device back into its power-on line state.
std::int32_t resetDriver(const std::string& path);

// Host services.
std::int32_t discoverPorts(const ZspPortSink& sink);
// Manufacturer of the device at path, as discovery reports it; empty when unknown.
std::string manufacturerOf(const std::string& path);
std::int32_t startDeviceNotification(ZspDeviceNotification callback, void* context, const char* devRoot);
std::int32_t stopDeviceNotification(ZspDeviceNotification callback, void* context);
std::int32_t getInstanceLock();
std::int32_t setInstanceLock(std::int32_t value);
std::int32_t statusAPM();
std::int32_t serveConfig(ZspConfig& config);

}  // namespace zsp
