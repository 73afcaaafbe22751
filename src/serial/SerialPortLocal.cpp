// The per-port operations of SerialPortLocal: life cycle, byte input and output, modem lines and
// timeouts. The class-wide parts live in SerialPortLocalLibrary.cpp, SerialPortLocalPortList.cpp and
// SerialPortLocalNotifications.cpp.

#include "serial/SerialPortLocal.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <mutex>
#include <thread>

#include "native/zspWin.h"
#include "serial/Diagnostics.h"
#include "serial/FlowControlTask.h"
#include "serial/NativeConfig.h"
#include "serial/NativeHandleMutex.h"
#include "serial/SerialPortLocalState.h"
#include "serial/SerialServerTask.h"

namespace Zivaraze {
namespace {

using detail::classState;
using detail::ClassState;
using detail::native;
using detail::requireHandle;
using detail::requireSupported;
using detail::updateState;

std::string openFailureText(int code) {
    switch (code) {
        case 1000:
            return "Port is already open";
        case 1002:
            return "Port is in use";
        case 1003:
            return "Port not valid";
        case 1004:
            return "2: No such file or directory";
        case 1006:
            return "Permission denied";
        case 1007:
            return "Device busy";
        case 1008:
            return "19: No such device";
        default:
            return ": " + std::to_string(code);
    }
}

// One modem-line or line-status operation: the platform must offer it and the port be open; the
// native entry takes the handle (and a value, for the outputs).
struct LineOperation {
    bool PlatformSupport::*supported;  // nullptr: every platform offers it
    const char* supportName;           // as the "not supported" message names it
    const char* name;                  // as the other messages name it
    const char* entryName;
    std::int32_t (*ZspApi::*query)(std::int32_t);
    std::int32_t (*ZspApi::*set)(std::int32_t, std::int32_t);
    bool failureThrows;  // otherwise a failure reads as "off"
};

constexpr LineOperation kSetDTR{&PlatformSupport::supSetDTR, "setDTR", "setDTR", "SerSetDTR", nullptr,
                                &ZspApi::SerSetDTR,          true};
constexpr LineOperation kSetRTS{&PlatformSupport::supSetRTS, "setRts", "setRTS", "SerSetRTS", nullptr,
                                &ZspApi::SerSetRTS,          true};
constexpr LineOperation kSendBreak{
    &PlatformSupport::supSendBreak, "sendBreak", "sendBreak", "SerSendBreak", nullptr,
    &ZspApi::SerSendBreak,          true};
constexpr LineOperation kSigCTS{nullptr, "sigCTS", "sigCTS", "SerSigCTS", &ZspApi::SerSigCTS, nullptr, true};
constexpr LineOperation kSigDSR{nullptr, "sigDSR", "sigDSR", "SerSigDSR", &ZspApi::SerSigDSR, nullptr, true};
constexpr LineOperation kSigCD{&PlatformSupport::supSigCD, "sigCD", "sigCD", "SerSigCD",
                               &ZspApi::SerSigCD,          nullptr, true};
constexpr LineOperation kSigFrameErr{
    &PlatformSupport::supSigFrameErr, "sigFrameErr", "sigFrameErr", "SerSigFrameErr",
    &ZspApi::SerSigFrameErr,          nullptr,       true};
constexpr LineOperation kSigOverrun{
    &PlatformSupport::supSigOverrun, "sigOverrun", "sigOverrun", "SerSigOverrun",
    &ZspApi::SerSigOverrun,          nullptr,      true};
constexpr LineOperation kSigParityErr{
    &PlatformSupport::supSigParityErr, "sigParityErr", "sigParityErr", "SerSigParityErr",
    &ZspApi::SerSigParityErr,          nullptr,        false};
constexpr LineOperation kSigRing{&PlatformSupport::supSigRing, "sigRing", "sigRing", "SerSigRing",
                                 &ZspApi::SerSigRing,          nullptr,   false};
constexpr LineOperation kSigBreak{&PlatformSupport::supSigBreak, "sigBreak", "sigBreak", "SerSigBreak",
                                  &ZspApi::SerSigBreak,          nullptr,    false};

std::int32_t lineOperation(const LineOperation& operation, int handle, std::int32_t value = 0) {
    if (operation.supported != nullptr)
        requireSupported(classState()->platform.*operation.supported, operation.supportName);
    requireHandle(handle, operation.name);
    const ZspApi& api = native(operation.entryName);
    const std::int32_t result =
        operation.set != nullptr ? (api.*operation.set)(handle, value) : (api.*operation.query)(handle);
    if (result < 0 && operation.failureThrows) throw IOError(std::string(operation.name) + " failed");
    return result;
}

// A library that does not wait for input itself gets the receive timeout here: true once `wanted`
// bytes are ready, false when the timeout passed first.
bool waitForInput(const ZspApi& api, int handle, int wanted) {
    if (!classState()->platform.layerGetDataTimeout) return true;
    const int timeout = api.SerGetTimeoutRx(handle);
    if (timeout <= 0) return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    while (api.SerRxReadyCount(handle) < wanted) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::string sentOnly(const char* prefix, std::int32_t sent, std::size_t requested) {
    return std::string(prefix) + std::to_string(sent) + " of " + std::to_string(requested) + " bytes";
}

}  // namespace

// ---- construction and life cycle ----

SerialPortLocal::SerialPortLocal() {
    auto s = classState();
    if (!NativeLibrary::isLoaded()) {
        printDiagnostic("SerialPortLocal: Attempt to load: " + s->zspLib);
        if (auto error = NativeLibrary::load(s->zspLib); error.empty()) {
            updateState([](ClassState& next) { next.zspLibLoaded = true; });
            printDiagnostic("SerialPortLocal: SerialPort class loaded: " + s->zspLib);
        } else {
            printDiagnostic(error + ": Check that native library " + s->zspLib + " is in proper directory");
        }
    }
    config = std::make_shared<SerialConfig>(s->devName);
}

SerialPortLocal::SerialPortLocal(std::shared_ptr<SerialConfig> cfg) {
    initPort(std::move(cfg));
}

SerialPortLocal::SerialPortLocal(const SerialConfig& cfg) {
    initPort(std::make_shared<SerialConfig>(cfg));
}

void SerialPortLocal::initPort(std::shared_ptr<SerialConfig> cfg) {
    if (!cfg) throw std::invalid_argument("SerialPortLocal: no configuration");
    classState();
    const std::string osName = platformName();
    updateState([&](ClassState& next) { next.osName = osName; });
    config = std::move(cfg);
    open();
}

SerialPortLocal::~SerialPortLocal() {
    try {
        stopFlowControl();
        close();
    } catch (...) {
    }
}

void SerialPortLocal::open() {
    const auto s = classState();
    if (s->osName != "Windows 95") config->setHardFlow(false);
    srvTaskCheck();
    NativeConfig nc(*config, config->port);
    std::int32_t result;
    {
        std::lock_guard lock(NativeHandleMutex::getInstance());
        result = native("SerOpenPort").SerOpenPort(&nc.c);
    }
    if (result != 0) {
        const std::string message =
            config->getPortNameString() + ": SerOpenPort failed: " + openFailureText(result);
        if (result == ZSP_ERR_PERMISSION) throw PortPermissionError(message);
        throw IOError(message);
    }
    portOpen = true;
    wrSinceTxBufEmpty = false;
    rdSinceRxBufCheck = false;
    config->port = nc.c.port;
    port = config->port - 1;
    // A port that cannot be set up as asked is not left open behind the caller's back.
    try {
        configure(config);
        if (s->osName == "Mac OS") {
            setTimeoutRx(2000);
            setTimeoutTx(2000);
        } else {
            setTimeoutRx(0);
            if (s->platform.supSetTimeoutTx) setTransmitTimeoutForRate();
        }
    } catch (...) {
        try {
            close();
        } catch (...) {
        }
        throw;
    }
}

// Long enough to send the whole transmit buffer at the line's rate, with a wide margin.
void SerialPortLocal::setTransmitTimeoutForRate() {
    const std::int64_t rate = config->getBitRateNumber(config->getBitRate());
    const std::int64_t perTenBits = std::max<std::int64_t>(rate / 10, 1);
    const std::int64_t perByte = 1000000 / perTenBits;
    const std::int64_t timeout = 100 * ((config->getTxLen() * perByte) / 1000);
    setTimeoutTx(static_cast<int>(std::clamp<std::int64_t>(timeout, 0, INT_MAX)));
}

void SerialPortLocal::configure() {
    configure(config);
}

void SerialPortLocal::configure(std::shared_ptr<SerialConfig> cfg) {
    if (!cfg) throw std::invalid_argument("configure: no configuration");
    if (!portOpen) throw IOError("configure: Port is not open");
    stopFlowControl();
    const auto s = classState();
    if (!s->platform.supNoIndexBitRate) {
        const int index = SerialConfig::getBitRateIndex(cfg->getBitRate());
        if (index >= 0) {
            cfg->setBitRate(index);
        } else if (!cfg->validBitRateIndex()) {
            throw IOError("Unsupported Serial Port Bit Rate");
        }
    }
    if (!s->platform.supParityMarkSpace && cfg->getParity() > SerialConfig::PY_EVEN)
        throw IOError("Unsupported Mark/Space parity");
    // The record describes this open port from now on, whichever record it is.
    cfg->port = port + 1;
    NativeConfig nc(*cfg, cfg->port);
    std::int32_t result;
    {
        std::lock_guard lock(NativeHandleMutex::getInstance());
        result = native("SerConfigure").SerConfigure(&nc.c);
    }
    if (result != 0) throw IOError("Configure failed: " + std::to_string(result));
    config = cfg;
    const int handshake = cfg->getHandshake();
    if (cfg->getHardFlow() && s->osName == "Windows 95" &&
        (handshake == SerialConfig::HS_CTSRTS || handshake == SerialConfig::HS_DSRDTR) && !flowControl) {
        flowControl = std::make_unique<FlowControlTask>(*this);
        flowControl->start();
    }
}

void SerialPortLocal::stopFlowControl() {
    if (!flowControl) return;
    flowControl->join();
    flowControl.reset();
}

void SerialPortLocal::close() {
    wrSinceTxBufEmpty = false;
    rdSinceRxBufCheck = false;
    stopFlowControl();
    if (!portOpen) return;
    portOpen = false;
    std::int32_t result;
    {
        std::lock_guard lock(NativeHandleMutex::getInstance());
        result = native("SerClosePort").SerClosePort(port);
    }
    port = -1;
    if (result != 0) throw IOError("ClosePort failed");
}

void SerialPortLocal::reset() {
    if (!portOpen) throw IOError("reset: Port is not open");
    const auto s = classState();
    const bool keepTimeout = s->platform.supSetTimeoutTx;
    const int transmitTimeout = keepTimeout ? getTimeoutTx() : 0;
    close();
    srvTaskCheck();
    NativeConfig nc(*config, config->port);
    const bool solaris = s->osName == "Solaris" || s->osName == "SunOS";
    const auto start = std::chrono::steady_clock::now();
    std::int32_t result;
    for (;;) {
        {
            std::lock_guard lock(NativeHandleMutex::getInstance());
            result = native("SerOpenPort").SerOpenPort(&nc.c);
        }
        if (result == 16 && solaris &&
            std::chrono::steady_clock::now() - start < std::chrono::milliseconds(3000)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            continue;
        }
        break;
    }
    if (result != 0) throw IOError("reset: SerOpenPort failed: " + std::to_string(result));
    portOpen = true;
    config->port = nc.c.port;
    port = config->port - 1;
    try {
        if (keepTimeout) setTimeoutTx(transmitTimeout);
        configure(config);
    } catch (...) {
        try {
            close();
        } catch (...) {
        }
        throw;
    }
}

// The port server of the legacy host that needs one; the caller waits until it reports the port.
void SerialPortLocal::srvTaskCheck() {
    if (classState()->osName != "EPOC") return;
    if (ssTask && !ssTask->hasEnded()) return;
    config->port = 0;
    ssTask = std::make_unique<SerialServerTask>(*this);
    ssTask->start();
    int reported = 0;
    // A server that ends without reporting a port is a failure too, so this wait always ends.
    while ((reported = ssTask->getPortNum()) == 0 && !ssTask->hasEnded())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    reported = ssTask->getPortNum();
    if (reported == 0) reported = -1;
    config->port = reported;
    if (reported == -1) {
        const std::string message = ssTask->getErrorMessage();
        throw IOError("srvTaskCheck: " +
                      (message.empty() ? std::string("the port server ended without a port") : message));
    }
    port = reported - 1;
}

void SerialPortLocal::setConfig(std::shared_ptr<SerialConfig> cfg) {
    if (!cfg) throw std::invalid_argument("setConfig: no configuration");
    if (!portOpen) cfg->port = port + 1;
    config = cfg;
    const std::string devName = cfg->getPortNameString();
    updateState([&](ClassState& next) { next.devName = devName; });
}

std::string SerialPortLocal::getPortName() const {
    const std::string& bytes = config->getPortName();
    return bytes.substr(0, bytes.find('\0'));
}

std::string SerialPortLocal::getName(int portNumber) {
    const auto s = classState();
    if (s->osName != "Mac OS" && s->osName != "Mac OS X") return "Not implemented";
    char text[ZSP_MAX_NAME + 1] = {0};
    if (native("SerGetName").SerGetName(portNumber, text, sizeof text) < 0) return "";
    return text;
}

void SerialPortLocal::setPortName(const std::string& portName) {
    config->setPortName(portName);
    updateState([&](ClassState& next) { next.devName = portName; });
}

// ---- byte input and output ----

int SerialPortLocal::getByte() {
    rdSinceRxBufCheck = true;
    const ZspApi& api = native("SerGetByte");
    if (!waitForInput(api, port, 1)) return -1;
    return api.SerGetByte(port);
}

int SerialPortLocal::getData(std::span<std::uint8_t> buffer) {
    return getData(buffer, 0, static_cast<int>(std::min<std::size_t>(buffer.size(), INT_MAX)));
}

int SerialPortLocal::getData(std::span<std::uint8_t> buffer, int offset, int count) {
    if (offset < 0 || count < 0 || static_cast<std::size_t>(offset) > buffer.size())
        throw IOError("getData: count out of bounds");
    const int wanted =
        static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(count), buffer.size() - offset));
    rdSinceRxBufCheck = true;
    const ZspApi& api = native("SerGetData");
    if (!waitForInput(api, port, wanted)) return 0;
    const std::int32_t got = api.SerGetData(port, buffer.data() + offset, wanted);
    if (got < 0) throw IOError("getData: failed");
    return got;
}

void SerialPortLocal::putByte(std::uint8_t value) {
    const ZspApi& api = native("SerPutByte");
    wrSinceTxBufEmpty = true;
    const std::int32_t result = api.SerPutByte(port, value);
    if (result != 0) throw IOError("PutByte failed: " + std::to_string(result));
}

void SerialPortLocal::putData(std::span<const std::uint8_t> data) {
    if (data.empty()) return;
    const ZspApi& api = native("SerPutData");
    const auto count = static_cast<std::int32_t>(std::min<std::size_t>(data.size(), INT_MAX));
    wrSinceTxBufEmpty = true;
    const std::int32_t sent = api.SerPutData(port, data.data(), count);
    if (sent != count) throw IOError(sentOnly("PutData1: Sent only ", sent, data.size()));
}

void SerialPortLocal::putData(std::span<const std::uint8_t> data, int count) {
    if (count < 0 || static_cast<std::size_t>(count) > data.size())
        throw IOError("putData: count out of bounds");
    const ZspApi& api = native("SerPutData");
    wrSinceTxBufEmpty = true;
    const std::int32_t sent = api.SerPutData(port, data.data(), count);
    if (sent != count) throw IOError(sentOnly("PutData2: Sent only ", sent, static_cast<std::size_t>(count)));
}

void SerialPortLocal::putData(std::span<const std::uint8_t> data, int offset, int count) {
    if (offset < 0 || count < 0 ||
        static_cast<std::size_t>(offset) + static_cast<std::size_t>(count) > data.size())
        throw IOError("putData3: count out of bounds");
    const ZspApi& api = native("SerPutData");
    wrSinceTxBufEmpty = true;
    const std::int32_t sent = api.SerPutData(port, data.data() + offset, count);
    if (sent != count) throw IOError(sentOnly("putData3: Sent only ", sent, static_cast<std::size_t>(count)));
}

void SerialPortLocal::putString(const std::string& text) {
    if (text.empty()) return;
    const ZspApi& api = native("SerPutData");
    const auto count = static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT_MAX));
    wrSinceTxBufEmpty = true;
    const std::int32_t sent = api.SerPutData(port, reinterpret_cast<const std::uint8_t*>(text.data()), count);
    if (sent != count) throw IOError(sentOnly("PutString: sent only ", sent, text.size()));
}

void SerialPortLocal::rxFlush() {
    if (native("SerRxFlush").SerRxFlush(port) < 0) throw IOError("rxFlush failed");
}

void SerialPortLocal::txFlush() {
    if (native("SerTxFlush").SerTxFlush(port) < 0) throw IOError("txFlush failed");
}

void SerialPortLocal::txDrain() {
    if (native("SerTxDrain").SerTxDrain(port) < 0) throw IOError("txDrain failed");
}

int SerialPortLocal::rxReadyCount() {
    requireSupported(classState()->platform.supRxReadyCount, "rxReadyCount");
    const std::int32_t count = native("SerRxReadyCount").SerRxReadyCount(port);
    if (count < 0) {
        if (esh == nullptr) throw IOError("rxReadyCount failed");
        esh->sioErrorEvent(10);
        return -1;
    }
    return count;
}

int SerialPortLocal::waitForEvent(int timeoutMs) {
    requireHandle(port, "waitForEvent");
    const std::int32_t events = native("SerWaitPort").SerWaitPort(port, timeoutMs);
    if (events == ZSP_ERR_UNSUPPORTED) throw IOError("waitForEvent not supported by the native library");
    if (events < 0) throw IOError("waitForEvent failed");
    return events;
}

bool SerialPortLocal::canWait() {
    return port >= 0 && native("SerWaitPort").SerWaitPort(port, 0) != ZSP_ERR_UNSUPPORTED;
}

void SerialPortLocal::wakeWaiting() {
    requireHandle(port, "wakeWaiting");
    if (native("SerWakePort").SerWakePort(port) != 0) throw IOError("wakeWaiting failed");
}

int SerialPortLocal::txBufCount() {
    requireSupported(classState()->platform.supTxBufCount, "txBufCount");
    requireHandle(port, "txBufCount");
    const std::int32_t count = native("SerTxBufCount").SerTxBufCount(port);
    if (count < 0) throw IOError("txBufCount failed");
    return count;
}

bool SerialPortLocal::rxOverflow() {
    requireSupported(classState()->platform.supRxOverflow, "rxOverflow");
    requireHandle(port, "rxOverflow");
    const std::int32_t result = native("SerRxOverflow").SerRxOverflow(port);
    if (result < 0) throw IOError("rxOverflow failed");
    return result == 1;
}

// ---- modem lines and line status ----

void SerialPortLocal::setDTR(bool on) {
    lineOperation(kSetDTR, port, on ? 1 : 0);
}

void SerialPortLocal::setRTS(bool on) {
    lineOperation(kSetRTS, port, on ? 1 : 0);
}

void SerialPortLocal::sendBreak(int duration) {
    lineOperation(kSendBreak, port, duration);
}

bool SerialPortLocal::sigCTS() {
    return lineOperation(kSigCTS, port) == 1;
}

bool SerialPortLocal::sigDSR() {
    return lineOperation(kSigDSR, port) == 1;
}

bool SerialPortLocal::sigCD() {
    return lineOperation(kSigCD, port) == 1;
}

bool SerialPortLocal::sigFrameErr() {
    return lineOperation(kSigFrameErr, port) == 1;
}

bool SerialPortLocal::sigOverrun() {
    return lineOperation(kSigOverrun, port) == 1;
}

bool SerialPortLocal::sigParityErr() {
    return lineOperation(kSigParityErr, port) == 1;
}

bool SerialPortLocal::sigRing() {
    return lineOperation(kSigRing, port) == 1;
}

bool SerialPortLocal::sigBreak() {
    return lineOperation(kSigBreak, port) == 1;
}

// ---- timeouts ----

void SerialPortLocal::setTimeoutRx(int milliseconds) {
    if (native("SerSetTimeoutRx").SerSetTimeoutRx(port, milliseconds) < 0)
        throw IOError("setTimeoutRx failed");
}

void SerialPortLocal::setTimeoutTx(int milliseconds) {
    if (native("SerSetTimeoutTx").SerSetTimeoutTx(port, milliseconds) < 0)
        throw IOError("setTimeoutTx failed");
}

int SerialPortLocal::getTimeoutRx() {
    return native("SerGetTimeoutRx").SerGetTimeoutRx(port);
}

int SerialPortLocal::getTimeoutTx() {
    return native("SerGetTimeoutTx").SerGetTimeoutTx(port);
}

// ---- other operations ----

bool SerialPortLocal::isSupported(const std::string& feature) const {
    return classState()->platform.isSupported(feature);
}

int SerialPortLocal::getLibVer() {
    return native("SerGetLibVer").SerGetLibVer();
}

void SerialPortLocal::resetPortDriver(int portNumber) {
    requireSupported(classState()->platform.supDriverInfo, "resetPortDriver");
    if (portOpen) throw IOError("resetPortDriver: Port must be closed");
    std::int32_t result;
    {
        std::lock_guard lock(NativeHandleMutex::getInstance());
        result = native("SerResetPortDriver").SerResetPortDriver(portNumber);
    }
    if (result != 0) throw IOError("Reset port driver failed: " + std::to_string(result));
}

}  // namespace Zivaraze
