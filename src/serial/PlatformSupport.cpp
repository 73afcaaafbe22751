#include "serial/PlatformSupport.h"

#include <algorithm>
#include <initializer_list>
#include <string_view>

#include "base/Ascii.h"
#include "base/SystemProperties.h"

namespace Zivaraze {
namespace {

using rszorvik::base::asciiLower;
using rszorvik::base::SystemProperties;

bool oneOf(const std::string& value, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), value) != names.end();
}

bool isNetware(const std::string& osName) {
    return asciiLower(osName).find("netware") != std::string::npos;
}

void setWindowsGroup(PlatformSupport& s, const std::string& osName) {
    s.supGetPortList = true;
    s.supUnplugPort = true;
    s.supSendBreak = true;
    s.supSigBreak = s.supSigFrameErr = s.supSigOverrun = s.supSigParityErr = true;
    s.supRxOverflow = s.supSigRing = s.supSigCTS = s.supSigDSR = s.supSigCD = true;
    s.supSetRTS = s.supSetDTR = s.supRxReadyCount = s.supTxBufCount = s.supSetTimeoutTx = true;
    s.supGetTimeoutTx = true;
    s.supGetStatusAPM = true;
    s.supInstanceLock = true;
    s.supParityMarkSpace = true;
    s.supNoIndexBitRate = osName == "OS/2";
    s.devName = "COM1";
    if (oneOf(osName,
              {"Windows", "Windows 10", "Windows 8.1", "Windows 8", "Windows 7", "Windows NT (unknown)",
               "Windows Server 2008", "Windows Server 2008 R2", "Windows Server 2012", "Windows Vista",
               "Windows 2003", "Windows 2000", "Windows XP"})) {
        s.maxBitRate = 921600;
        s.supDriverInfo = true;
    }
    if (isNetware(osName)) {
        s.supGetPortList = false;
        s.layerGetDataTimeout = true;
    }
}

void setFeatures(PlatformSupport& s, const std::string& osName, const std::string& osArch) {
    if (oneOf(osName, {"Windows 95",
                       "Windows 98",
                       "Windows Me",
                       "Windows NT",
                       "Windows 2000",
                       "Windows 2003",
                       "Windows XP",
                       "Windows Vista",
                       "Windows 7",
                       "Windows 8",
                       "Windows 8.1",
                       "Windows 10",
                       "Windows Server 2008",
                       "Windows Server 2008 R2",
                       "Windows Server 2012",
                       "Windows Server 2012 R2",
                       "Windows NT (unknown)",
                       "Windows",
                       "Windows CE",
                       "WindowsCE",
                       "OS/2"}) ||
        isNetware(osName)) {
        setWindowsGroup(s, osName);
    } else if (osName == "Mac OS") {
        s.maxBitRate = 921600;
        s.supGetPortList = true;
        s.supSigBreak = s.supSigFrameErr = s.supSigParityErr = s.supSigOverrun = true;
        s.supRxOverflow = s.supRxReadyCount = s.supTxBufCount = true;
        s.supSetTimeoutTx = s.supGetTimeoutTx = true;
        s.supSetDTR = s.supSigCTS = true;
        s.layerGetDataTimeout = true;
        s.supNoIndexBitRate = true;
        s.devName = "Modem Port";
    } else if (osName == "Mac OS X") {
        s.maxBitRate = 230400;
        s.supParityMarkSpace = s.supGetPortList = s.supGetStatusAPM = true;
        s.supRxReadyCount = s.supTxBufCount = true;
        s.supSetRTS = s.supSetDTR = s.supSigCD = s.supSigCTS = s.supSigDSR = true;
        s.layerGetDataTimeout = true;
        s.devName = "";
    } else if (oneOf(osName,
                     {"Linux", "FreeBSD", "Solaris", "SunOS", "HP-UX", "Irix", "AIX", "OSF1", "UnixWare"})) {
        s.supParityMarkSpace = true;
        s.supRxReadyCount = s.supTxBufCount = s.supSigRing = true;
        s.supSetRTS = s.supSetDTR = s.supSigCD = s.supSigCTS = s.supSigDSR = true;
        s.layerGetDataTimeout = true;
        s.devName = "/dev/tty0";
        if (osName == "Linux") {
            s.supGetStatusAPM = true;
            s.devName = "/dev/ttyS0";
            if (osArch == "armv4l" || osArch == "arm") s.supSetPowerMode = s.supGetResumeState = true;
        } else if (osName == "Solaris" || osName == "SunOS") {
            s.devName = "/dev/ttya";
        } else if (osName == "Irix") {
            s.supSetRTS = s.supSetDTR = s.supSigCTS = false;
        } else if (osName == "UnixWare") {
            s.supSetRTS = false;
        } else if (osName == "OSF1") {
            s.devName = "/dev/tty00";
        }
    } else if (osName == "EPOC") {
        s.supGetPortList = true;
        s.supSigFrameErr = s.supSigParityErr = s.supSigOverrun = true;
        s.supRxReadyCount = s.supTxBufCount = true;
        s.supSetTimeoutTx = s.supGetTimeoutTx = true;
        s.supSetRTS = s.supSetDTR = s.supSigCD = s.supSigCTS = s.supSigDSR = true;
        s.supNoIndexBitRate = true;
        s.supSendBreak = false;
        s.devName = "COMM::0";
    }
}

// Later matches overwrite earlier ones, as the rows are checked in order.
void setLibraryName(PlatformSupport& s, const std::string& osName, const std::string& osArch,
                    const std::string& version) {
    if (oneOf(osName, {"Windows 95", "Windows 98", "Windows Me", "Windows NT", "Windows XP", "Windows 2000",
                       "Windows 2003", "Windows 2008", "Windows Vista", "Windows Server 2008",
                       "Windows Server 2008 R2", "Windows Server 2012", "Windows Server 2012 R2", "Windows 7",
                       "Windows NT (unknown)", "Windows 8", "Windows 8.1", "Windows 10", "Windows"})) {
        s.zspLib = version == "1.0.2" || version == "102" ? "zspWinNm" : "zspWin";
        s.osFamilyWindows = true;
    }
    if (osName == "EPOC") {
        if (osArch == "x86") s.zspLib = "zspEpocx86";
        if (osArch == "arm") s.zspLib = "zspEpocArm";
    }
    if (osName == "Windows CE" || osName == "WindowsCE") {
        const std::string arch = asciiLower(osArch);
        if (arch == "mips") s.zspLib = "zspWceMips";
        if (arch == "sh3") s.zspLib = "zspWceSh3";
        if (arch == "sh4") s.zspLib = "zspWceSh4";
        if (arch == "arm" || arch == "strong arm" || arch == "xscale") s.zspLib = "zspWceArm";
        if (arch == "x86") s.zspLib = "zspWceX86";
    }
    if (osName == "OS/2") s.zspLib = "zspos2j";
    if (osName == "Mac OS") s.zspLib = "zspMac";
    if (osName == "Mac OS X") s.zspLib = "zspMacOSX";
    if (osName == "Linux") {
        if (oneOf(osArch, {"x86", "i386", "i486", "i586", "i686"})) s.zspLib = "zspLux86";
        if (oneOf(osArch, {"armv4l", "arm", "armv5tel", "armv5l"})) s.zspLib = "zspLuxArm";
        if (osArch == "amd64") s.zspLib = "zspLux86_64bit";
    }
    if (osName == "FreeBSD" && oneOf(osArch, {"i386", "x86"})) s.zspLib = "zspBsdx86";
    if (osName == "Solaris" || osName == "SunOS") {
        if (osArch == "x86") s.zspLib = "zspSolx86";
        if (osArch == "sparc") s.zspLib = "zspSolSparc";
    }
    if (osName == "HP-UX" && oneOf(osArch, {"PA-RISC", "PA_RISC", "PA_RISC2.0"})) s.zspLib = "zspHpxPaRisc";
    if (osName == "Irix" && osArch == "mips") s.zspLib = "zspIrxMips";
    if (osName == "AIX" && oneOf(osArch, {"POWER_PC", "ppc"})) s.zspLib = "zspAixPpc";
    if ((osName == "UnixWare" || osName == "OpenServer") && osArch == "IA32") s.zspLib = "zspUxWareIA32";
    if (osName == "OSF1" && osArch == "alpha") s.zspLib = "zspTru64Alpha";
    if (isNetware(osName)) s.zspLib = "ZspNw";
}

}  // namespace

PlatformSupport PlatformSupport::forPlatform(const std::string& osName, const std::string& osArch,
                                             const std::string& version) {
    PlatformSupport s;
    setFeatures(s, osName, osArch);
    setLibraryName(s, osName, osArch, version);
    return s;
}

bool PlatformSupport::isSupported(const std::string& key) const {
    static const std::pair<std::string_view, bool PlatformSupport::*> kFlags[] = {
        {"getPortList", &PlatformSupport::supGetPortList},
        {"UnplugPort", &PlatformSupport::supUnplugPort},
        {"sendBreak", &PlatformSupport::supSendBreak},
        {"sigBreak", &PlatformSupport::supSigBreak},
        {"sigFrameErr", &PlatformSupport::supSigFrameErr},
        {"sigOverrun", &PlatformSupport::supSigOverrun},
        {"sigParityErr", &PlatformSupport::supSigParityErr},
        {"rxOverflow", &PlatformSupport::supRxOverflow},
        {"sigRing", &PlatformSupport::supSigRing},
        {"sigCTS", &PlatformSupport::supSigCTS},
        {"sigDSR", &PlatformSupport::supSigDSR},
        {"sigCD", &PlatformSupport::supSigCD},
        {"setRTS", &PlatformSupport::supSetRTS},
        {"setDTR", &PlatformSupport::supSetDTR},
        {"rxReadyCount", &PlatformSupport::supRxReadyCount},
        {"txBufCount", &PlatformSupport::supTxBufCount},
        {"setTimeoutTx", &PlatformSupport::supSetTimeoutTx},
        {"getStatusAPM", &PlatformSupport::supGetStatusAPM},
        {"setPowerMode", &PlatformSupport::supSetPowerMode},
        {"InstanceLock", &PlatformSupport::supInstanceLock},
        {"ParityMarkSpace", &PlatformSupport::supParityMarkSpace},
        {"noIndexBitRate", &PlatformSupport::supNoIndexBitRate},
        {"supDriverInfo", &PlatformSupport::supDriverInfo},
    };
    for (const auto& [name, flag] : kFlags)
        if (name == key) return this->*flag;
    return false;
}

std::string platformName() {
    return SystemProperties::get("ZSP_OSNAME").value_or(hostOsName());
}

std::string platformArch() {
    const auto name = SystemProperties::get("ZSP_OSNAME");
    const auto arch = SystemProperties::get("ZSP_OSARCH");
    return name && arch ? *arch : hostOsArch();
}

std::string runtimeVersion() {
    return "C++" + std::to_string(__cplusplus);
}

std::string RunningPlatform::shown() const {
    if (name.empty() || arch.empty()) return name + arch;
    return name + " " + arch;
}

std::string runtimeVendor() {
#if defined(__clang__)
    return "clang " __clang_version__;
#elif defined(__GNUC__)
    return "GNU " __VERSION__;
#else
    return "unknown";
#endif
}

}  // namespace Zivaraze
