// The class-wide part of SerialPortLocal: the platform it settles on, the native library it loads
// and the host facilities that need no open port.

#include <cstdlib>
#include <mutex>
#include <string>

#include "serial/Diagnostics.h"
#include "serial/IOError.h"
#include "serial/NativeHandleMutex.h"
#include "serial/PlatformSupport.h"
#include "serial/SerialPortLocal.h"
#include "serial/SerialPortLocalState.h"

namespace Zivaraze {
namespace detail {
namespace {

constexpr const char* kBanner = "Zivaraze Library: version 10.2.3: build ";
constexpr const char* kNotice =
    "Serial port access for zorvik; the native part is the zspWin module shipped with it.";

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

void initializeClass() {
    auto s = std::make_shared<ClassState>();
    s->osName = platformName();
    s->osArch = platformArch();
    s->javaVersion = runtimeVersion();
    s->javaVendor = runtimeVendor();
    printDiagnostic(std::string(kBanner) + std::to_string(SerialPortLocal::buildNum) + "\r\n" + kNotice);
    // Names the system it runs on, for whoever reads it; the library choice below goes by the properties.
    const RunningPlatform host = runningPlatform();
    printDiagnostic("os.name=\"" + host.name + "\"  os.arch=\"" + host.arch + "\"");

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

}  // namespace

std::shared_ptr<const ClassState> classState() {
    std::call_once(initFlag(), initializeClass);
    std::lock_guard lock(stateMutex());
    return stateSlot();
}

void updateState(const std::function<void(ClassState&)>& change) {
    classState();
    std::lock_guard lock(stateMutex());
    auto next = std::make_shared<ClassState>(*stateSlot());
    change(*next);
    stateSlot() = std::move(next);
}

void requireSupported(bool supported, const char* what) {
    if (!supported) throw IOError(std::string(what) + " not supported on " + SerialPortLocal::getOsName());
}

void requireHandle(int handle, const char* operation) {
    if (handle < 0) throw IOError(std::string(operation) + ": Port not open");
}

}  // namespace detail

using detail::classState;
using detail::native;

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
    detail::updateState([mode](detail::ClassState& next) { next.portListMode = mode; });
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
    std::call_once(detail::initFlag(), [] {});  // a first initialisation now would only be repeated
    detail::initializeClass();
}

}  // namespace Zivaraze
