#include "serial/SerialPortLocal.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

#include "base/SystemProperties.h"
#include "serial/Diagnostics.h"
#include "serial/FlowControlTask.h"
#include "serial/NativeConfig.h"
#include "serial/NativeHandleMutex.h"
#include "serial/NativeLibrary.h"
#include "serial/SerialServerTask.h"

namespace Zivaraze {
namespace {

using rszorvik::base::SystemProperties;

constexpr const char* kBanner = "Zivaraze Library: version 10.2.3: build ";
constexpr const char* kNotice =
    "Serial port access for zorvik; the native part is the zspWin module shipped with it.";

struct ClassState {
    PlatformSupport platform;
    std::string osName;
    std::string osArch;
    std::string javaVersion;
    std::string javaVendor;
    std::string zspLib;
    bool zspLibLoaded = false;
    std::string devName;
    int portListMode = 0;
};

std::mutex& stateMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<const ClassState>& stateSlot() {
    static std::shared_ptr<const ClassState> state;
    return state;
}

void publish(std::shared_ptr<const ClassState> state) {
    std::lock_guard lock(stateMutex());
    stateSlot() = std::move(state);
}

// Changes one field of the class-wide state.
template <typename Change>
void updateState(Change change) {
    std::lock_guard lock(stateMutex());
    auto next = std::make_shared<ClassState>(*stateSlot());
    change(*next);
    stateSlot() = std::move(next);
}

void initializeClass() {
    auto s = std::make_shared<ClassState>();
    s->osName = platformName();
    s->osArch = platformArch();
    s->javaVersion = runtimeVersion();
    s->javaVendor = runtimeVendor();
    printDiagnostic(std::string(kBanner) + std::to_string(SerialPortLocal::buildNum) + "\r\n" + kNotice);
    printDiagnostic("os.name=\"" + s->osName + "\"  os.arch=\"" + s->osArch + "\"");

    s->platform = PlatformSupport::forPlatform(s->osName, s->osArch, s->javaVersion);
    s->devName = s->platform.devName;
    s->zspLib = s->platform.zspLib;
    if (s->zspLib.empty()) {
        printDiagnostic("osName=" + s->osName + " osArch=" + s->osArch);
        printDiagnostic("Platform not supported, check VM properties os.name & os.arch");
        std::exit(-1);
    }

    const std::string error = NativeLibrary::load(s->zspLib);
    if (error.empty()) {
        s->zspLibLoaded = true;
        printDiagnostic("SerialPort class loaded: " + s->zspLib);
    } else if (s->osName == "Windows 7") {
        printDiagnostic(error + ": Native library load failed " + s->zspLib + " trying user's folder");
        const char* home = std::getenv("HOME");
        const std::string file =
            std::string(home != nullptr ? home : "") + "/" + NativeLibrary::fileNameFor(s->zspLib);
        if (auto second = NativeLibrary::loadFile(file); second.empty()) {
            s->zspLibLoaded = true;
            printDiagnostic("SerialPort class loaded users: " + s->zspLib);
        } else {
            printDiagnostic(second + ": Check that native library " + s->zspLib + " is in proper directory");
        }
    } else {
        printDiagnostic(error + ": Check that native library " + s->zspLib + " is in proper directory");
    }
    publish(std::move(s));
}

std::once_flag& initFlag() {
    static std::once_flag flag;
    return flag;
}

std::shared_ptr<const ClassState> classState() {
    std::call_once(initFlag(), initializeClass);
    std::lock_guard lock(stateMutex());
    return stateSlot();
}

std::string openFailureText(int code) {
    switch (code) {
        case 1000:
            return "Port is already open";
        case 1002:
            return "Port is in use";
        case 1003:
            return "Port not valid";
        case 1004:
            return "2: No such device";
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

const ZspApi& native(const char* operation) {
    return NativeLibrary::api(operation);
}

// The port list state, class-wide.
struct PortLists {
    std::vector<std::string> portList;
    std::vector<PortDriverInfo> portListInfo;
    std::optional<PortDriverInfo> portInfo;
    std::vector<std::string> comPortNums;
    std::vector<int> portNumList;
};

std::mutex& listMutex() {
    static std::mutex mutex;
    return mutex;
}

PortLists& lists() {
    static PortLists state;
    return state;
}

bool equalIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

void addPortNameLocked(const std::string& portName) {
    auto& list = lists().portList;
    if (std::none_of(list.begin(), list.end(),
                     [&](const auto& known) { return equalIgnoringCase(known, portName); }))
        list.push_back(portName);
}

void addPortInfoLocked(const std::string& portName, const std::string& manufacture,
                       const std::string& description) {
    auto& infos = lists().portListInfo;
    if (std::any_of(infos.begin(), infos.end(),
                    [&](const auto& info) { return equalIgnoringCase(info.getPortName(), portName); }))
        return;
    lists().portInfo.emplace(portName, manufacture, description);
    infos.push_back(*lists().portInfo);
}

// Called back by the native discovery while getPortList holds the list lock.
void discoveredName(void*, const char* portName) noexcept {
    try {
        if (portName != nullptr) addPortNameLocked(portName);
    } catch (...) {
    }
}

void discoveredInfo(void*, const char* portName, const char* manufacture, const char* description) noexcept {
    try {
        if (portName != nullptr)
            addPortInfoLocked(portName, manufacture != nullptr ? manufacture : "",
                              description != nullptr ? description : "");
    } catch (...) {
    }
}

// Leading and trailing blanks and control characters.
std::string trimmed(const std::string& text) {
    std::size_t begin = 0, end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return text.substr(begin, end - begin);
}

// The number of the first "COM" followed by digits in the name, if it fits.
std::optional<int> comNumber(const std::string& portName) {
    for (std::size_t at = portName.find("COM"); at != std::string::npos; at = portName.find("COM", at + 1)) {
        std::size_t end = at + 3;
        long long value = 0;
        while (end < portName.size() && std::isdigit(static_cast<unsigned char>(portName[end]))) {
            value = value * 10 + (portName[end] - '0');
            if (value > INT_MAX) return std::nullopt;
            ++end;
        }
        if (end > at + 3) return static_cast<int>(value);
    }
    return std::nullopt;
}

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

std::optional<std::string> rootProperty(const char* propertyName) {
    return SystemProperties::get(propertyName);
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
    if (result != 0)
        throw IOError(config->getPortNameString() + ": SerOpenPort failed: " + openFailureText(result));
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

// ---- checks shared by the operations ----

namespace {

void requireSupported(bool supported, const char* what) {
    if (!supported) throw IOError(std::string(what) + " not supported on " + SerialPortLocal::getOsName());
}

void requireHandle(int handle, const char* operation) {
    if (handle < 0) throw IOError(std::string(operation) + ": Port not open");
}

}  // namespace

// ---- byte input and output ----

int SerialPortLocal::getByte() {
    rdSinceRxBufCheck = true;
    const ZspApi& api = native("SerGetByte");
    const auto s = classState();
    if (s->platform.layerGetDataTimeout) {
        const int timeout = api.SerGetTimeoutRx(port);
        if (timeout > 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
            while (api.SerRxReadyCount(port) <= 0) {
                if (std::chrono::steady_clock::now() >= deadline) return -1;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
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
    const auto s = classState();
    if (s->platform.layerGetDataTimeout) {
        const int timeout = api.SerGetTimeoutRx(port);
        if (timeout > 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
            while (api.SerRxReadyCount(port) < wanted) {
                if (std::chrono::steady_clock::now() >= deadline) return 0;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
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

namespace {

std::string sentOnly(const char* prefix, std::int32_t sent, std::size_t requested) {
    return std::string(prefix) + std::to_string(sent) + " of " + std::to_string(requested) + " bytes";
}

}  // namespace

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
    requireSupported(classState()->platform.supSetDTR, "setDTR");
    requireHandle(port, "setDTR");
    if (native("SerSetDTR").SerSetDTR(port, on ? 1 : 0) < 0) throw IOError("setDTR failed");
}

void SerialPortLocal::setRTS(bool on) {
    requireSupported(classState()->platform.supSetRTS, "setRts");
    requireHandle(port, "setRTS");
    if (native("SerSetRTS").SerSetRTS(port, on ? 1 : 0) < 0) throw IOError("setRTS failed");
}

void SerialPortLocal::sendBreak(int duration) {
    requireSupported(classState()->platform.supSendBreak, "sendBreak");
    requireHandle(port, "sendBreak");
    if (native("SerSendBreak").SerSendBreak(port, duration) < 0) throw IOError("sendBreak failed");
}

bool SerialPortLocal::sigCTS() {
    requireHandle(port, "sigCTS");
    const std::int32_t result = native("SerSigCTS").SerSigCTS(port);
    if (result < 0) throw IOError("sigCTS failed");
    return result == 1;
}

bool SerialPortLocal::sigDSR() {
    requireHandle(port, "sigDSR");
    const std::int32_t result = native("SerSigDSR").SerSigDSR(port);
    if (result < 0) throw IOError("sigDSR failed");
    return result == 1;
}

bool SerialPortLocal::sigCD() {
    requireSupported(classState()->platform.supSigCD, "sigCD");
    requireHandle(port, "sigCD");
    const std::int32_t result = native("SerSigCD").SerSigCD(port);
    if (result < 0) throw IOError("sigCD failed");
    return result == 1;
}

bool SerialPortLocal::sigFrameErr() {
    requireSupported(classState()->platform.supSigFrameErr, "sigFrameErr");
    requireHandle(port, "sigFrameErr");
    const std::int32_t result = native("SerSigFrameErr").SerSigFrameErr(port);
    if (result < 0) throw IOError("sigFrameErr failed");
    return result == 1;
}

bool SerialPortLocal::sigOverrun() {
    requireSupported(classState()->platform.supSigOverrun, "sigOverrun");
    requireHandle(port, "sigOverrun");
    const std::int32_t result = native("SerSigOverrun").SerSigOverrun(port);
    if (result < 0) throw IOError("sigOverrun failed");
    return result == 1;
}

bool SerialPortLocal::sigParityErr() {
    requireSupported(classState()->platform.supSigParityErr, "sigParityErr");
    requireHandle(port, "sigParityErr");
    return native("SerSigParityErr").SerSigParityErr(port) == 1;
}

bool SerialPortLocal::sigRing() {
    requireSupported(classState()->platform.supSigRing, "sigRing");
    requireHandle(port, "sigRing");
    return native("SerSigRing").SerSigRing(port) == 1;
}

bool SerialPortLocal::sigBreak() {
    requireSupported(classState()->platform.supSigBreak, "sigBreak");
    requireHandle(port, "sigBreak");
    return native("SerSigBreak").SerSigBreak(port) == 1;
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

int SerialPortLocal::getMaxBitRate() {
    return classState()->platform.maxBitRate;
}

bool SerialPortLocal::isLibraryLoaded() {
    return classState()->zspLibLoaded;
}

int SerialPortLocal::getInstanceLock() {
    if (!classState()->platform.supInstanceLock) return -1;
    return native("SerGetInstanceLock").SerGetInstanceLock();
}

int SerialPortLocal::setInstanceLock(int value) {
    if (!classState()->platform.supInstanceLock) return -1;
    return native("SerSetInstanceLock").SerSetInstanceLock(value);
}

int SerialPortLocal::getPowerMode(int portNumber) {
    if (!classState()->platform.supSetPowerMode) return -1;
    std::int32_t mode;
    {
        std::lock_guard lock(NativeHandleMutex::getInstance());
        mode = native("SerGetPowerMode").SerGetPowerMode(portNumber);
    }
    if (mode >= 5000) throw IOError("getPowerMode failed: " + std::to_string(mode));
    return mode;
}

void SerialPortLocal::setPowerMode(int portNumber, int mode) {
    if (!classState()->platform.supSetPowerMode) return;
    std::int32_t result;
    {
        std::lock_guard lock(NativeHandleMutex::getInstance());
        result = native("SerSetPowerMode").SerSetPowerMode(portNumber, mode);
    }
    if (result != 0) throw IOError("setPowerMode failed: " + std::to_string(result));
}

int SerialPortLocal::getResumeState(int portNumber) {
    if (!classState()->platform.supGetResumeState) return -1;
    return native("SerGetResumeState").SerGetResumeState(portNumber);
}

int SerialPortLocal::getStatusAPM() {
    if (!classState()->platform.supGetStatusAPM) return -1;
    return native("SerGetStatusAPM").SerGetStatusAPM();
}

int SerialPortLocal::getPortListMode() {
    return classState()->portListMode;
}

void SerialPortLocal::setPortListMode(int mode) {
    classState();
    updateState([mode](ClassState& next) { next.portListMode = mode; });
}

PlatformSupport SerialPortLocal::getPlatformSupport() {
    return classState()->platform;
}

std::string SerialPortLocal::getOsName() {
    return classState()->osName;
}

std::string SerialPortLocal::getOsArch() {
    return classState()->osArch;
}

void SerialPortLocal::reinitialize() {
    std::call_once(initFlag(), [] {});  // a first initialisation now would only be repeated
    initializeClass();
}

// ---- port list ----

std::vector<std::string> SerialPortLocal::getPortList() {
    const auto s = classState();
    const auto setting = SystemProperties::get("SERIAL_PORT_LIST");
    if (setting && trimmed(*setting).size() > 4) {
        std::lock_guard lock(listMutex());
        std::size_t start = 0;
        while (start <= setting->size()) {
            const std::size_t end = setting->find_first_of(";:", start);
            const std::string piece =
                setting->substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (!piece.empty()) addPortNameLocked(piece);
            if (end == std::string::npos) break;
            start = end + 1;
        }
        return lists().portList;
    }
    if (s->platform.supGetPortList) {
        const ZspApi& api = native("SerGetPortList");
        const auto sysRoot = rootProperty("ZSP_SYSFS_ROOT");
        const auto devRoot = rootProperty("ZSP_DEV_ROOT");
        std::lock_guard lock(listMutex());
        lists().portList.clear();
        const ZspPortSink sink{nullptr, discoveredName, discoveredInfo, sysRoot ? sysRoot->c_str() : nullptr,
                               devRoot ? devRoot->c_str() : nullptr};
        api.SerGetPortList(&sink);
        if (!s->platform.osFamilyWindows) return lists().portList;
        lists().comPortNums = lists().portList;
        auto ordered = orderWindowsPorts(lists().comPortNums);
        lists().portNumList.clear();
        for (const auto& name : lists().comPortNums)
            if (name.rfind("COM", 0) == 0)
                if (auto number = comNumber(name)) lists().portNumList.push_back(*number);
        std::sort(lists().portNumList.begin(), lists().portNumList.end());
        return ordered;
    }
    std::lock_guard lock(listMutex());
    if (!lists().portList.empty()) {
        printDiagnostic("getPortList: using list created with addPortName");
    } else {
        printDiagnostic("getPortList: port discovery not currently supported on this platform.");
        printDiagnostic("Options:");
        printDiagnostic("A) addPortName can be used to build a list of device names ");
        printDiagnostic("B) set the runtime setting SERIAL_PORT_LIST=COM1;COM2;COM3");
        printDiagnostic("or SERIAL_PORT_LIST=/dev/ttyS0:/dev/ttyS1");
    }
    return lists().portList;
}

// A number is taken only from names that begin with "COM"; such a name without digits leaves an
// empty entry at the end, as the result keeps the length of the input.
std::vector<std::string> SerialPortLocal::orderWindowsPorts(const std::vector<std::string>& names) {
    std::vector<int> numbers;
    for (const auto& name : names)
        if (name.rfind("COM", 0) == 0)
            if (auto number = comNumber(name)) numbers.push_back(*number);
    std::sort(numbers.begin(), numbers.end());
    std::vector<std::string> result(names.size());
    std::size_t next = 0;
    for (int number : numbers)
        result[next++] = "COM" + std::to_string(number);
    for (const auto& name : names)
        if (name.rfind("COM", 0) != 0) result[next++] = name;
    return result;
}

void SerialPortLocal::addPortName(const std::string& portName) {
    std::lock_guard lock(listMutex());
    addPortNameLocked(portName);
}

void SerialPortLocal::addPortInfo(const std::string& portName, const std::string& manufacture,
                                  const std::string& description) {
    std::lock_guard lock(listMutex());
    addPortInfoLocked(portName, manufacture, description);
}

void SerialPortLocal::clearPortListInfo() {
    std::lock_guard lock(listMutex());
    lists().portListInfo.clear();
}

std::vector<PortDriverInfo> SerialPortLocal::getDriverInfoList() {
    if (!classState()->platform.supDriverInfo) throw IOError("Not supported on this platform");
    std::lock_guard lock(listMutex());
    if (lists().portList.empty()) throw IOError("Must call SerialPortLocal.getPortList method first");
    return lists().portListInfo;
}

}  // namespace Zivaraze
