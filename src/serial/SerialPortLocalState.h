#pragma once

// What the files of SerialPortLocal share and nothing else uses: the class-wide state, the table of
// native entry points and the checks every operation makes.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/SystemProperties.h"
#include "native/zspWin.h"
#include "serial/NativeLibrary.h"
#include "serial/PlatformSupport.h"

namespace Zivaraze::detail {

// Settled by the class initialisation; replaced as a whole, so a reader keeps a consistent copy.
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

// The state, initialising the class on first use.
std::shared_ptr<const ClassState> classState();
// Changes fields of the state (the class is initialised first).
void updateState(const std::function<void(ClassState&)>& change);

inline const ZspApi& native(const char* operation) {
    return NativeLibrary::api(operation);
}

// A directory the native discovery and notifications look under instead of /sys or /dev.
inline std::optional<std::string> rootProperty(const char* propertyName) {
    return rszorvik::base::SystemProperties::get(propertyName);
}

// Throws IOError "<what> not supported on <platform>".
void requireSupported(bool supported, const char* what);
// Throws IOError "<operation>: Port not open" for a closed port's handle.
void requireHandle(int handle, const char* operation);

}  // namespace Zivaraze::detail
