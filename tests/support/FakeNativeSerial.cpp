#include "support/FakeNativeSerial.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace rszorvik::test {

struct FakeNativeSerial::Impl {
    mutable std::recursive_mutex mutex;
    std::condition_variable_any changed;
    bool waitOffered = false;
    int waiters = 0;
    std::vector<std::unique_ptr<FakeSerialPort>> ports;  // creation order
    std::map<int, FakeSerialPort*> open;                 // handle -> port
    std::map<std::string, int> callCounts;
    std::int32_t flowTaskResult = 0;
    std::function<std::int32_t(ZspConfig&)> server;
    std::int32_t instanceLock = 0;
    std::int32_t instanceLockResult = 0;
    std::int32_t powerMode = ZSP_PWR_ACTIVE;
    std::int32_t portListResult = -2;  // -2: the number of ports reported
    ZspDeviceNotification callback = nullptr;
    void* callbackContext = nullptr;
    std::string notificationRoot;
    ZspApi table{};

    void count(const char* function) { ++callCounts[function]; }
    FakeSerialPort* at(int handle) {
        auto it = open.find(handle);
        return it == open.end() ? nullptr : it->second;
    }
    FakeSerialPort* named(const std::string& name) {
        for (auto& port : ports)
            if (port->deviceName == name) return port.get();
        return nullptr;
    }
};

namespace {

std::atomic<FakeNativeSerial::Impl*> current{nullptr};

std::string bytes(const char* text, std::int32_t length) {
    if (text == nullptr || length <= 0) return {};
    std::string value(text, static_cast<std::size_t>(length));
    return value.substr(0, value.find('\0'));
}

// Runs an entry point against the current fake; nothing escapes into the caller.
template <typename Body>
std::int32_t entry(const char* function, std::int32_t failure, Body body) noexcept {
    try {
        FakeNativeSerial::Impl* impl = current.load();
        if (impl == nullptr) return failure;
        std::lock_guard lock(impl->mutex);
        impl->count(function);
        return body(*impl);
    } catch (...) {
        return failure;
    }
}

// An entry point on an open handle; a vanished device fails.
template <typename Body>
std::int32_t onPort(const char* function, std::int32_t handle, std::int32_t failure, Body body) noexcept {
    return entry(function, failure, [&](FakeNativeSerial::Impl& impl) -> std::int32_t {
        FakeSerialPort* port = impl.at(handle);
        if (port == nullptr) return failure;
        return body(*port);
    });
}

}  // namespace

// ---- FakeSerialPort ----

FakeSerialPort& FakeSerialPort::dsr(LineRule rule) {
    std::lock_guard lock(sharedMutex);
    dsrRule = rule;
    return *this;
}
FakeSerialPort& FakeSerialPort::cts(LineRule rule) {
    std::lock_guard lock(sharedMutex);
    ctsRule = rule;
    return *this;
}
FakeSerialPort& FakeSerialPort::cd(LineRule rule) {
    std::lock_guard lock(sharedMutex);
    cdRule = rule;
    return *this;
}
FakeSerialPort& FakeSerialPort::ring(LineRule rule) {
    std::lock_guard lock(sharedMutex);
    ringRule = rule;
    return *this;
}
FakeSerialPort& FakeSerialPort::failOpen(std::int32_t code) {
    std::lock_guard lock(sharedMutex);
    openFailure = code;
    return *this;
}
FakeSerialPort& FakeSerialPort::failConfigure(std::int32_t code) {
    std::lock_guard lock(sharedMutex);
    configureFailure = code;
    return *this;
}
FakeSerialPort& FakeSerialPort::info(std::string manufacturer, std::string description) {
    std::lock_guard lock(sharedMutex);
    hasInfo = true;
    infoManufacturer = std::move(manufacturer);
    infoDescription = std::move(description);
    return *this;
}
FakeSerialPort& FakeSerialPort::acceptAtMost(std::int32_t bytes) {
    std::lock_guard lock(sharedMutex);
    writeLimit = bytes;
    return *this;
}
void FakeSerialPort::receive(std::string_view text) {
    std::lock_guard lock(sharedMutex);
    for (char c : text)
        pendingInput.push_back({static_cast<std::uint8_t>(c), false, false});
    portChanged.notify_all();
}
void FakeSerialPort::receiveWithParityError(std::uint8_t byte) {
    std::lock_guard lock(sharedMutex);
    pendingInput.push_back({byte, true, false});
    portChanged.notify_all();
}
void FakeSerialPort::receiveWithFramingError(std::uint8_t byte) {
    std::lock_guard lock(sharedMutex);
    pendingInput.push_back({byte, false, true});
    portChanged.notify_all();
}
void FakeSerialPort::receiveBreak() {
    std::lock_guard lock(sharedMutex);
    breakSeen = true;
}
void FakeSerialPort::overrun() {
    std::lock_guard lock(sharedMutex);
    overrunSeen = true;
}
void FakeSerialPort::disappear() {
    std::lock_guard lock(sharedMutex);
    gone = true;
}
void FakeSerialPort::hangUp() {
    std::lock_guard lock(sharedMutex);
    gone = hungUp = true;
    portChanged.notify_all();
}
void FakeSerialPort::reappear() {
    std::lock_guard lock(sharedMutex);
    gone = hungUp = false;
}
std::string FakeSerialPort::sent() const {
    std::lock_guard lock(sharedMutex);
    return sentBytes;
}
bool FakeSerialPort::dtr() const {
    std::lock_guard lock(sharedMutex);
    return dtrOn;
}
bool FakeSerialPort::rts() const {
    std::lock_guard lock(sharedMutex);
    return rtsOn;
}
bool FakeSerialPort::isOpen() const {
    std::lock_guard lock(sharedMutex);
    return openHandle >= 0;
}
int FakeSerialPort::openCount() const {
    std::lock_guard lock(sharedMutex);
    return opens;
}
std::vector<std::string> FakeSerialPort::outputHistory() const {
    std::lock_guard lock(sharedMutex);
    return history;
}
ZspConfig FakeSerialPort::lastConfig() const {
    std::lock_guard lock(sharedMutex);
    return lastConfigured;
}
std::int32_t FakeSerialPort::timeoutRx() const {
    std::lock_guard lock(sharedMutex);
    return rxTimeout;
}
std::int32_t FakeSerialPort::timeoutTx() const {
    std::lock_guard lock(sharedMutex);
    return txTimeout;
}
std::int32_t FakeSerialPort::level(LineRule rule) const {
    switch (rule) {
        case LineRule::Off:
            return 0;
        case LineRule::On:
            return 1;
        case LineRule::FollowDtr:
            return dtrOn ? 1 : 0;
        case LineRule::FollowRts:
            return rtsOn ? 1 : 0;
    }
    return 0;
}

// ---- the entry points ----

// Static members, so the entry points may use the ports' state.
struct FakePortAccess {
    using Impl = FakeNativeSerial::Impl;

    static std::int32_t fakeOpenPort(ZspConfig* config) {
        return entry("SerOpenPort", ZSP_ERR_INTERNAL, [&](Impl& impl) -> std::int32_t {
            if (config == nullptr) return ZSP_ERR_NOT_VALID;
            std::string name = bytes(config->portName, config->portNameLength);
            if (name.empty() && config->port > 0)
                name = bytes(config->baseName, config->baseNameLength) + std::to_string(config->port - 1);
            FakeSerialPort* port = impl.named(name);
            if (port == nullptr) return ZSP_ERR_NOT_FOUND;
            if (port->gone) return ZSP_ERR_NO_DEVICE;
            if (port->openFailure != 0) return port->openFailure;
            if (port->openHandle >= 0) return ZSP_ERR_ALREADY_OPEN;
            int handle = 0;
            while (impl.open.count(handle) != 0)
                ++handle;
            impl.open[handle] = port;
            port->openHandle = handle;
            ++port->opens;
            port->rxTimeout = port->txTimeout = 0;
            config->port = handle + 1;
            return ZSP_OK;
        });
    }

    static std::int32_t fakeConfigure(const ZspConfig* config) {
        return entry("SerConfigure", ZSP_ERR_INTERNAL, [&](Impl& impl) -> std::int32_t {
            if (config == nullptr) return ZSP_ERR_NOT_VALID;
            FakeSerialPort* port = impl.at(config->port - 1);
            if (port == nullptr) return ZSP_ERR_BAD_HANDLE;
            if (port->gone) return ZSP_ERR_NO_DEVICE;
            if (port->configureFailure != 0) return port->configureFailure;
            port->lastConfigured = *config;
            port->lastConfigured.portName = nullptr;
            port->lastConfigured.baseName = nullptr;
            return ZSP_OK;
        });
    }

    static std::int32_t fakeClosePort(std::int32_t handle) {
        return entry("SerClosePort", -1, [&](Impl& impl) -> std::int32_t {
            FakeSerialPort* port = impl.at(handle);
            if (port == nullptr) return -1;
            impl.open.erase(handle);
            port->openHandle = -1;
            impl.changed.notify_all();
            port->dtrOn = port->rtsOn = false;
            return 0;
        });
    }

    static std::int32_t fakeGetByte(std::int32_t handle) {
        return onPort("SerGetByte", handle, -1, [&](FakeSerialPort& port) -> std::int32_t {
            std::uint8_t value = 0;
            return takeBytes(port, &value, 1) == 1 ? value : -1;
        });
    }

    static std::int32_t fakeGetData(std::int32_t handle, std::uint8_t* buffer, std::int32_t count) {
        return onPort("SerGetData", handle, -1, [&](FakeSerialPort& port) -> std::int32_t {
            if (buffer == nullptr || count < 0) return -1;
            if (port.gone) return -1;
            return takeBytes(port, buffer, count);
        });
    }

    // Waits outside entry(): the fake's lock must be released while it waits.
    static std::int32_t fakeWaitPort(std::int32_t handle, std::int32_t timeoutMs) noexcept {
        try {
            Impl* impl = current.load();
            if (impl == nullptr) return -1;
            std::unique_lock lock(impl->mutex);
            impl->count("SerWaitPort");
            if (!impl->waitOffered) return ZSP_ERR_UNSUPPORTED;
            FakeSerialPort* port = impl->at(handle);
            if (port == nullptr) return -1;
            const auto happened = [&] {
                return !port->pendingInput.empty() || port->hungUp || port->woken ||
                       port->openHandle != handle;
            };
            ++impl->waiters;
            if (timeoutMs < 0) {
                impl->changed.wait(lock, happened);
            } else {
                impl->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), happened);
            }
            --impl->waiters;
            std::int32_t events = 0;
            if (!port->pendingInput.empty() && !port->gone) events |= ZSP_WAIT_INPUT;
            if (port->hungUp) events |= ZSP_WAIT_HANGUP;
            if (std::exchange(port->woken, false)) events |= ZSP_WAIT_WOKEN;
            return events;
        } catch (...) {
            return -1;
        }
    }

    static std::int32_t fakeWakePort(std::int32_t handle) {
        return entry("SerWakePort", -1, [&](Impl& impl) -> std::int32_t {
            if (!impl.waitOffered) return ZSP_ERR_UNSUPPORTED;
            FakeSerialPort* port = impl.at(handle);
            if (port == nullptr) return -1;
            port->woken = true;
            impl.changed.notify_all();
            return 0;
        });
    }

    static std::int32_t fakePutByte(std::int32_t handle, std::uint8_t value) {
        return onPort("SerPutByte", handle, ZSP_ERR_BAD_HANDLE, [&](FakeSerialPort& port) -> std::int32_t {
            if (port.gone) return ZSP_ERR_NO_DEVICE;
            if (port.writeLimit == 0) return ZSP_ERR_TIMEOUT;
            port.sentBytes += static_cast<char>(value);
            return ZSP_OK;
        });
    }

    static std::int32_t fakePutData(std::int32_t handle, const std::uint8_t* data, std::int32_t count) {
        return onPort("SerPutData", handle, -1, [&](FakeSerialPort& port) -> std::int32_t {
            if (data == nullptr || count < 0) return -1;
            if (port.gone) return 0;
            const std::int32_t sent = port.writeLimit >= 0 ? std::min(count, port.writeLimit) : count;
            port.sentBytes.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(sent));
            return sent;
        });
    }

    static std::int32_t fakeRxFlush(std::int32_t handle) {
        return onPort("SerRxFlush", handle, -1, [](FakeSerialPort& port) -> std::int32_t {
            if (port.gone) return -1;
            port.pendingInput.clear();
            return 0;
        });
    }

    // Entry points that only fail when the device is gone and otherwise answer a value of the port.
    template <typename Value>
    static std::int32_t simple(const char* function, std::int32_t handle, Value value) {
        return onPort(function, handle, -1, [&](FakeSerialPort& port) -> std::int32_t {
            if (port.gone) return -1;
            return value(port);
        });
    }

    static std::int32_t fakeTxFlush(std::int32_t h) {
        return simple("SerTxFlush", h, [](FakeSerialPort&) { return 0; });
    }
    static std::int32_t fakeTxDrain(std::int32_t h) {
        return simple("SerTxDrain", h, [](FakeSerialPort&) { return 0; });
    }
    static std::int32_t fakeRxReadyCount(std::int32_t h) {
        return simple("SerRxReadyCount", h,
                      [](FakeSerialPort& p) { return static_cast<std::int32_t>(p.pendingInput.size()); });
    }
    static std::int32_t fakeTxBufCount(std::int32_t h) {
        return simple("SerTxBufCount", h, [](FakeSerialPort&) { return 0; });
    }
    static std::int32_t fakeRxOverflow(std::int32_t h) {
        return simple("SerRxOverflow", h, [](FakeSerialPort&) { return 0; });
    }
    static std::int32_t fakeSigBreak(std::int32_t h) {
        return simple("SerSigBreak", h,
                      [](FakeSerialPort& p) { return std::exchange(p.breakSeen, false) ? 1 : 0; });
    }
    static std::int32_t fakeSigCD(std::int32_t h) {
        return simple("SerSigCD", h, [](FakeSerialPort& p) { return p.level(p.cdRule); });
    }
    static std::int32_t fakeSigCTS(std::int32_t h) {
        return simple("SerSigCTS", h, [](FakeSerialPort& p) { return p.level(p.ctsRule); });
    }
    static std::int32_t fakeSigDSR(std::int32_t h) {
        return simple("SerSigDSR", h, [](FakeSerialPort& p) { return p.level(p.dsrRule); });
    }
    static std::int32_t fakeSigRing(std::int32_t h) {
        return simple("SerSigRing", h, [](FakeSerialPort& p) { return p.level(p.ringRule); });
    }
    static std::int32_t fakeSigFrameErr(std::int32_t h) {
        return simple("SerSigFrameErr", h,
                      [](FakeSerialPort& p) { return std::exchange(p.framingError, false) ? 1 : 0; });
    }
    static std::int32_t fakeSigOverrun(std::int32_t h) {
        return simple("SerSigOverrun", h,
                      [](FakeSerialPort& p) { return std::exchange(p.overrunSeen, false) ? 1 : 0; });
    }
    static std::int32_t fakeSigParityErr(std::int32_t h) {
        return simple("SerSigParityErr", h,
                      [](FakeSerialPort& p) { return std::exchange(p.parityError, false) ? 1 : 0; });
    }
    static std::int32_t fakeSetDTR(std::int32_t h, std::int32_t on) {
        return simple("SerSetDTR", h, [on](FakeSerialPort& p) {
            p.dtrOn = on != 0;
            p.history.push_back(on ? "DTR=1" : "DTR=0");
            return 0;
        });
    }
    static std::int32_t fakeSetRTS(std::int32_t h, std::int32_t on) {
        return simple("SerSetRTS", h, [on](FakeSerialPort& p) {
            p.rtsOn = on != 0;
            p.history.push_back(on ? "RTS=1" : "RTS=0");
            return 0;
        });
    }
    static std::int32_t fakeSendBreak(std::int32_t h, std::int32_t) {
        return simple("SerSendBreak", h, [](FakeSerialPort&) { return 0; });
    }
    static std::int32_t fakeSetTimeoutRx(std::int32_t h, std::int32_t ms) {
        return simple("SerSetTimeoutRx", h, [ms](FakeSerialPort& p) {
            if (ms < 0) return -1;
            p.rxTimeout = ms;
            return 0;
        });
    }
    static std::int32_t fakeSetTimeoutTx(std::int32_t h, std::int32_t ms) {
        return simple("SerSetTimeoutTx", h, [ms](FakeSerialPort& p) {
            if (ms < 0) return -1;
            p.txTimeout = ms;
            return 0;
        });
    }
    static std::int32_t fakeGetTimeoutRx(std::int32_t h) {
        return onPort("SerGetTimeoutRx", h, -1, [](FakeSerialPort& p) { return p.rxTimeout; });
    }
    static std::int32_t fakeGetTimeoutTx(std::int32_t h) {
        return onPort("SerGetTimeoutTx", h, -1, [](FakeSerialPort& p) { return p.txTimeout; });
    }

    static std::int32_t takeBytes(FakeSerialPort& port, std::uint8_t* buffer, std::int32_t count) {
        std::int32_t n = 0;
        while (n < count && !port.pendingInput.empty() && !port.gone) {
            const auto byte = port.pendingInput.front();
            port.pendingInput.pop_front();
            buffer[n++] = byte.value;
            // As the module does: a block ends at a byte with an error.
            if (byte.parity || byte.framing) {
                port.parityError = port.parityError || byte.parity;
                port.framingError = port.framingError || byte.framing;
                break;
            }
        }
        return n;
    }

    static std::int32_t fakeResetPortDriver(std::int32_t portNumber) {
        return entry("SerResetPortDriver", ZSP_ERR_INTERNAL, [&](Impl& impl) -> std::int32_t {
            return impl.at(portNumber - 1) != nullptr ? ZSP_ERR_ALREADY_OPEN : ZSP_OK;
        });
    }

    static std::int32_t fakeGetPortList(const ZspPortSink* sink) {
        return entry("SerGetPortList", -1, [&](Impl& impl) -> std::int32_t {
            if (sink == nullptr || sink->addPortName == nullptr) return -1;
            std::int32_t reported = 0;
            for (const auto& port : impl.ports) {
                if (port->gone) continue;
                sink->addPortName(sink->context, port->deviceName.c_str());
                if (port->hasInfo && sink->addPortInfo != nullptr)
                    sink->addPortInfo(sink->context, port->deviceName.c_str(), port->infoManufacturer.c_str(),
                                      port->infoDescription.c_str());
                ++reported;
            }
            return impl.portListResult == -2 ? reported : impl.portListResult;
        });
    }

    static std::int32_t copyOut(const std::string& text, char* buffer, std::int32_t size) {
        if (buffer == nullptr || size <= static_cast<std::int32_t>(text.size())) return -1;
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return static_cast<std::int32_t>(text.size());
    }

    static std::int32_t fakeGetName(std::int32_t portNumber, char* buffer, std::int32_t size) {
        return entry("SerGetName", -1, [&](Impl& impl) -> std::int32_t {
            FakeSerialPort* port = impl.at(portNumber - 1);
            return port == nullptr ? -1 : copyOut(port->deviceName, buffer, size);
        });
    }

    static std::int32_t fakeGetLibVer() {
        return entry("SerGetLibVer", -1, [](Impl&) { return 4242; });
    }
    static std::int32_t fakeGetInstanceLock() {
        return entry("SerGetInstanceLock", -1, [](Impl& impl) { return impl.instanceLock; });
    }
    static std::int32_t fakeSetInstanceLock(std::int32_t value) {
        return entry("SerSetInstanceLock", -1, [value](Impl& impl) {
            if (impl.instanceLockResult == 0) impl.instanceLock = value != 0 ? 1 : 0;
            return impl.instanceLockResult;
        });
    }
    static std::int32_t fakeGetPowerMode(std::int32_t) {
        return entry("SerGetPowerMode", -1, [](Impl& impl) { return impl.powerMode; });
    }
    static std::int32_t fakeSetPowerMode(std::int32_t, std::int32_t mode) {
        return entry("SerSetPowerMode", -1, [mode](Impl& impl) {
            impl.powerMode = mode;
            return 0;
        });
    }
    static std::int32_t fakeGetResumeState(std::int32_t) {
        return entry("SerGetResumeState", -1, [](Impl&) { return 0; });
    }
    static std::int32_t fakeGetStatusAPM() {
        return entry("SerGetStatusAPM", -1, [](Impl&) { return 1; });
    }

    static std::int32_t fakeFlowTask(std::int32_t) {
        return entry("SerFlowTask", -1, [](Impl& impl) { return impl.flowTaskResult; });
    }

    // Runs the scripted server outside the fake's lock: it may run for a while.
    static std::int32_t fakeServerTask(ZspConfig* config) noexcept {
        try {
            std::function<std::int32_t(ZspConfig&)> server;
            {
                Impl* impl = current.load();
                if (impl == nullptr || config == nullptr) return ZSP_ERR_INTERNAL;
                std::lock_guard lock(impl->mutex);
                impl->count("SerServerTask");
                server = impl->server;
            }
            return server ? server(*config) : ZSP_ERR_UNSUPPORTED;
        } catch (...) {
            return ZSP_ERR_INTERNAL;
        }
    }

    static std::int32_t fakeRegister(ZspDeviceNotification callback, void* context, const char* devRoot) {
        return entry("SerRegisterDeviceNotification", -1, [&](Impl& impl) {
            impl.callback = callback;
            impl.callbackContext = context;
            impl.notificationRoot = devRoot != nullptr ? devRoot : "";
            return 0;
        });
    }
    static std::int32_t fakeUnregister(ZspDeviceNotification, void*) {
        return entry("SerUnregisterDeviceNotification", -1, [](Impl& impl) {
            impl.callback = nullptr;
            return 0;
        });
    }
    static std::int32_t fakeGetPortMfgr(std::int32_t portNumber, char* buffer, std::int32_t size) {
        return entry("SerGetPortMfgr", -1, [&](Impl& impl) -> std::int32_t {
            FakeSerialPort* port = impl.at(portNumber - 1);
            return port == nullptr ? -1 : copyOut(port->infoManufacturer, buffer, size);
        });
    }
};

// ---- FakeNativeSerial ----

FakeNativeSerial::FakeNativeSerial() : impl(std::make_unique<Impl>()) {
    Impl* expected = nullptr;
    if (!current.compare_exchange_strong(expected, impl.get()))
        throw std::logic_error("FakeNativeSerial: only one may exist at a time");
    ZspApi& t = impl->table;
    using A = FakePortAccess;
    t.SerOpenPort = A::fakeOpenPort;
    t.SerConfigure = A::fakeConfigure;
    t.SerClosePort = A::fakeClosePort;
    t.SerGetByte = A::fakeGetByte;
    t.SerGetData = A::fakeGetData;
    t.SerWaitPort = A::fakeWaitPort;
    t.SerWakePort = A::fakeWakePort;
    t.SerPutByte = A::fakePutByte;
    t.SerPutData = A::fakePutData;
    t.SerRxFlush = A::fakeRxFlush;
    t.SerTxFlush = A::fakeTxFlush;
    t.SerTxDrain = A::fakeTxDrain;
    t.SerRxReadyCount = A::fakeRxReadyCount;
    t.SerTxBufCount = A::fakeTxBufCount;
    t.SerRxOverflow = A::fakeRxOverflow;
    t.SerSigBreak = A::fakeSigBreak;
    t.SerSigCD = A::fakeSigCD;
    t.SerSigCTS = A::fakeSigCTS;
    t.SerSigDSR = A::fakeSigDSR;
    t.SerSigFrameErr = A::fakeSigFrameErr;
    t.SerSigOverrun = A::fakeSigOverrun;
    t.SerSigParityErr = A::fakeSigParityErr;
    t.SerSigRing = A::fakeSigRing;
    t.SerSetDTR = A::fakeSetDTR;
    t.SerSetRTS = A::fakeSetRTS;
    t.SerSendBreak = A::fakeSendBreak;
    t.SerSetTimeoutRx = A::fakeSetTimeoutRx;
    t.SerSetTimeoutTx = A::fakeSetTimeoutTx;
    t.SerGetTimeoutRx = A::fakeGetTimeoutRx;
    t.SerGetTimeoutTx = A::fakeGetTimeoutTx;
    t.SerResetPortDriver = A::fakeResetPortDriver;
    t.SerGetPortList = A::fakeGetPortList;
    t.SerGetName = A::fakeGetName;
    t.SerGetLibVer = A::fakeGetLibVer;
    t.SerGetInstanceLock = A::fakeGetInstanceLock;
    t.SerSetInstanceLock = A::fakeSetInstanceLock;
    t.SerGetPowerMode = A::fakeGetPowerMode;
    t.SerSetPowerMode = A::fakeSetPowerMode;
    t.SerGetResumeState = A::fakeGetResumeState;
    t.SerGetStatusAPM = A::fakeGetStatusAPM;
    t.SerFlowTask = A::fakeFlowTask;
    t.SerServerTask = A::fakeServerTask;
    t.SerRegisterDeviceNotification = A::fakeRegister;
    t.SerUnregisterDeviceNotification = A::fakeUnregister;
    t.SerGetPortMfgr = A::fakeGetPortMfgr;
}

FakeNativeSerial::~FakeNativeSerial() {
    current.store(nullptr);
}

const ZspApi& FakeNativeSerial::api() const {
    return impl->table;
}

FakeSerialPort& FakeNativeSerial::port(const std::string& name) {
    std::lock_guard lock(impl->mutex);
    if (FakeSerialPort* existing = impl->named(name)) return *existing;
    impl->ports.push_back(
        std::unique_ptr<FakeSerialPort>(new FakeSerialPort(name, impl->mutex, impl->changed)));
    return *impl->ports.back();
}

FakeSerialPort* FakeNativeSerial::find(const std::string& name) {
    std::lock_guard lock(impl->mutex);
    return impl->named(name);
}

int FakeNativeSerial::calls(const std::string& function) const {
    std::lock_guard lock(impl->mutex);
    auto it = impl->callCounts.find(function);
    return it == impl->callCounts.end() ? 0 : it->second;
}

void FakeNativeSerial::setFlowTaskResult(std::int32_t result) {
    std::lock_guard lock(impl->mutex);
    impl->flowTaskResult = result;
}

void FakeNativeSerial::setServerTask(std::function<std::int32_t(ZspConfig&)> server) {
    std::lock_guard lock(impl->mutex);
    impl->server = std::move(server);
}

void FakeNativeSerial::setInstanceLockResult(std::int32_t result) {
    std::lock_guard lock(impl->mutex);
    impl->instanceLockResult = result;
}

void FakeNativeSerial::setPowerMode(std::int32_t mode) {
    std::lock_guard lock(impl->mutex);
    impl->powerMode = mode;
}

void FakeNativeSerial::offerWait(bool offered) {
    std::lock_guard lock(impl->mutex);
    impl->waitOffered = offered;
}

int FakeNativeSerial::waiting() const {
    std::lock_guard lock(impl->mutex);
    return impl->waiters;
}

void FakeNativeSerial::setPortListResult(std::int32_t result) {
    std::lock_guard lock(impl->mutex);
    impl->portListResult = result;
}

bool FakeNativeSerial::notifyDeviceChange() {
    ZspDeviceNotification callback;
    void* context;
    {
        std::lock_guard lock(impl->mutex);
        callback = impl->callback;
        context = impl->callbackContext;
    }
    if (callback == nullptr) return false;
    callback(context);
    return true;
}

std::string FakeNativeSerial::notificationRoot() const {
    std::lock_guard lock(impl->mutex);
    return impl->notificationRoot;
}

}  // namespace rszorvik::test
