#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "native/zspWin.h"

namespace rszorvik::test {

// How an input modem line behaves on a scripted port.
enum class LineRule { Off, On, FollowDtr, FollowRts };

// One scripted serial device, reached by its port name. Setters return the port for chaining:
//   fake.port("COM3").dsr(LineRule::FollowDtr).cts(LineRule::FollowRts).info("FTDI", "USB Serial Port");
class FakeSerialPort {
  public:
    // ---- script ----
    FakeSerialPort& dsr(LineRule rule);
    FakeSerialPort& cts(LineRule rule);
    FakeSerialPort& cd(LineRule rule);
    FakeSerialPort& ring(LineRule rule);
    FakeSerialPort& failOpen(std::int32_t code);  // every open answers this code (0: opens again)
    FakeSerialPort& failConfigure(std::int32_t code);
    FakeSerialPort& info(std::string manufacturer, std::string description);  // reported by discovery
    FakeSerialPort& acceptAtMost(std::int32_t bytes);  // a write sends at most this many bytes (-1: all)
    // Input arriving from the device; an error byte sets its error signal once the program reads it.
    void receive(std::string_view bytes);
    void receiveWithParityError(std::uint8_t byte);
    void receiveWithFramingError(std::uint8_t byte);
    void receiveBreak();
    void overrun();
    // Unplugged: every operation on an open handle fails and opening answers "no such device" (1008).
    void disappear();
    // Unplugged, and a wait on the port reports the hang-up (a device that says it went).
    void hangUp();
    void reappear();

    // ---- observation ----
    const std::string& name() const { return deviceName; }
    std::string sent() const;  // every byte the program wrote, in order
    bool dtr() const;
    bool rts() const;
    bool isOpen() const;
    int openCount() const;
    std::vector<std::string> outputHistory() const;  // "DTR=1", "RTS=0", ... in call order
    ZspConfig lastConfig() const;  // numeric fields of the last SerConfigure (text pointers cleared)
    std::int32_t timeoutRx() const;
    std::int32_t timeoutTx() const;

  private:
    friend class FakeNativeSerial;
    friend struct FakePortAccess;
    struct Byte {
        std::uint8_t value;
        bool parity;
        bool framing;
    };
    FakeSerialPort(std::string name, std::recursive_mutex& mutex, std::condition_variable_any& changed)
        : deviceName(std::move(name)), sharedMutex(mutex), portChanged(changed) {}
    std::int32_t level(LineRule rule) const;

    std::string deviceName;
    std::recursive_mutex& sharedMutex;
    std::condition_variable_any& portChanged;  // input, a hang-up or a wake-up for a waiting SerWaitPort
    LineRule dsrRule = LineRule::Off, ctsRule = LineRule::Off, cdRule = LineRule::Off,
             ringRule = LineRule::Off;
    std::int32_t openFailure = 0, configureFailure = 0, writeLimit = -1;
    bool hasInfo = false;
    std::string infoManufacturer, infoDescription;
    std::deque<Byte> pendingInput;
    std::string sentBytes;
    bool dtrOn = false, rtsOn = false;
    bool parityError = false, framingError = false, breakSeen = false, overrunSeen = false;
    bool gone = false;
    bool hungUp = false;
    bool woken = false;
    int openHandle = -1;
    int opens = 0;
    std::vector<std::string> history;
    ZspConfig lastConfigured{};
    std::int32_t rxTimeout = 0, txTimeout = 0;
};

// A scripted stand-in for the native serial module. While one exists, its table can be put in
// place of the loaded module (Zivaraze::ScopedNativeApi guard(fake.api())). Only one may exist at
// a time, because the entry points are plain C functions.
class FakeNativeSerial {
  public:
    FakeNativeSerial();
    ~FakeNativeSerial();
    FakeNativeSerial(const FakeNativeSerial&) = delete;
    FakeNativeSerial& operator=(const FakeNativeSerial&) = delete;

    const ZspApi& api() const;

    // The port of that name, created on first use. Discovery reports ports in creation order.
    FakeSerialPort& port(const std::string& name);
    FakeSerialPort* find(const std::string& name);

    int calls(const std::string& function) const;  // how often an entry point was called
    void setFlowTaskResult(std::int32_t result);   // what SerFlowTask answers (default 0)
    void setServerTask(std::function<std::int32_t(ZspConfig&)> server);  // default: unsupported
    void setInstanceLockResult(std::int32_t result);
    void setPowerMode(std::int32_t mode);  // what SerGetPowerMode answers
    void setPortListResult(std::int32_t result);
    // Whether SerWaitPort waits (like the POSIX module) or answers ZSP_ERR_UNSUPPORTED (the default, like a
    // module that cannot wait, so the worker polls).
    void offerWait(bool offered);
    int waiting() const;  // how many threads are inside SerWaitPort now
    // Calls the registered device-notification callback, as a device arrival would.
    bool notifyDeviceChange();
    std::string notificationRoot() const;  // the dev root passed at registration

    // Used by the entry points.
    struct Impl;

  private:
    std::unique_ptr<Impl> impl;
};

}  // namespace rszorvik::test
