// The host's name and architecture, named the way Java runtimes name them on Windows, as the library
// table expects.
#include <windows.h>

#include <string>

#include "base/SystemProperties.h"
#include "serial/PlatformSupport.h"

namespace Zivaraze {
namespace {

// The real version: GetVersionEx answers what the program's manifest declares, RtlGetVersion does not.
bool windowsVersion(DWORD& major, DWORD& minor, DWORD& build) {
    using RtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return false;
    const auto query =
        reinterpret_cast<RtlGetVersion>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (query == nullptr || query(&info) != 0) return false;
    major = info.dwMajorVersion;
    minor = info.dwMinorVersion;
    build = info.dwBuildNumber;
    return true;
}

}  // namespace

using rszorvik::base::SystemProperties;

std::string hostOsName() {
    if (auto name = SystemProperties::get("os.name")) return *name;
    DWORD major = 0, minor = 0, build = 0;
    if (!windowsVersion(major, minor, build)) return "Windows NT (unknown)";
    if (major == 10) return build >= 22000 ? "Windows 11" : "Windows 10";
    if (major == 6 && minor == 3) return "Windows 8.1";
    if (major == 6 && minor == 2) return "Windows 8";
    if (major == 6 && minor == 1) return "Windows 7";
    return "Windows NT (unknown)";
}

std::string hostOsArch() {
    if (auto arch = SystemProperties::get("os.arch")) return *arch;
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
        case PROCESSOR_ARCHITECTURE_AMD64:
            return "amd64";
        case PROCESSOR_ARCHITECTURE_INTEL:
            return "x86";
        case PROCESSOR_ARCHITECTURE_ARM64:
            return "aarch64";
        default:
            return "";
    }
}

}  // namespace Zivaraze
