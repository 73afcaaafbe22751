#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rszorvik::platform {

// A USB serial adapter's port as far as the adapter tells: enough to find it again when it comes back
// under another name (a re-enumerated /dev/ttyUSB1).
struct UsbIdentity {
    std::string vendorId;         // four hex digits, as the device reports them
    std::string productId;        // four hex digits
    std::string serial;           // empty: the adapter has no serial number
    std::string interfaceNumber;  // the port of an adapter with several
    std::string location;         // bus and port path ("1-1.2"): where the adapter is plugged in

    // The same port of the same adapter: vendor, product and interface agree, and the serial numbers where
    // both have one, otherwise the place it is plugged into (twin adapters without serial numbers can
    // only be told apart by it).
    bool matches(const UsbIdentity& other) const;
    bool operator==(const UsbIdentity&) const = default;
};

// Where the device tree is; the tests put one of their own in place.
struct DeviceRoots {
    std::filesystem::path sys = "/sys";
    std::filesystem::path dev = "/dev";
};

// Waits for a serial device to come back without polling: the operating system announces changes of the
// port's path (a link or node that appears again, a permission that udev fixes) and, where asked, the
// arrival of any serial device. Where it cannot, notifies() is false and the caller looks again now and
// then. One thread waits; wake() may come from any.
class DeviceWatch {
  public:
    enum class Event { Changed, Woken, Timeout };

    virtual ~DeviceWatch() = default;

    // Blocks until something changed that may concern the port (Changed: look again), wake() was called
    // (Woken; a wake-up that comes while nobody waits ends the next wait), or the timeout passed
    // (negative: none).
    virtual Event wait(std::chrono::milliseconds timeout) = 0;
    virtual void wake() = 0;
    virtual bool notifies() const = 0;

    // Watches the port's path and, with anyDevice, every serial device that arrives (for an adapter found
    // by its USB identity). Never fails: without notifications, notifies() is false.
    static std::unique_ptr<DeviceWatch> create(const std::string& portPath, bool anyDevice);

    // The USB identity of the port at that path (links followed); none for a port that is no USB device,
    // or where the platform cannot tell.
    static std::optional<UsbIdentity> usbIdentityOf(const std::string& portPath,
                                                    const DeviceRoots& roots = {});
    // The ports (as paths that open them) whose device has a matching identity, in name order.
    static std::vector<std::string> portsOf(const UsbIdentity& identity, const DeviceRoots& roots = {});
};

}  // namespace rszorvik::platform
