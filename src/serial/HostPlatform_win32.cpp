// The host's name and architecture: named the way Java runtimes name them on Windows, as the library
// table expects, and as Windows names them, for people.
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

// The release, as Windows names itself ("Windows 10"), whatever os.name says.
std::string systemName() {
    DWORD major = 0, minor = 0, build = 0;
    if (!windowsVersion(major, minor, build)) return "Windows NT (unknown)";
    if (major == 10) return build >= 22000 ? "Windows 11" : "Windows 10";
    if (major == 6 && minor == 3) return "Windows 8.1";
    if (major == 6 && minor == 2) return "Windows 8";
    if (major == 6 && minor == 1) return "Windows 7";
    return "Windows NT (unknown)";
}

WORD processorArchitecture() {
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture;
}

}  // namespace

using rszorvik::base::SystemProperties;

std::string hostOsName() {
    if (auto name = SystemProperties::get("os.name")) return *name;
    return systemName();
}

std::string hostOsArch() {
    if (auto arch = SystemProperties::get("os.arch")) return *arch;
    switch (processorArchitecture()) {
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

// The architecture as Windows itself names it (PROCESSOR_ARCHITECTURE).
RunningPlatform runningPlatform() {
    switch (processorArchitecture()) {
        case PROCESSOR_ARCHITECTURE_AMD64:
            return {systemName(), "AMD64"};
        case PROCESSOR_ARCHITECTURE_INTEL:
            return {systemName(), "x86"};
        case PROCESSOR_ARCHITECTURE_ARM64:
            return {systemName(), "ARM64"};
        default:
            return {systemName(), ""};
    }
}

}  // namespace Zivaraze
