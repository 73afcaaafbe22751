#pragma once

#include <string>

namespace Zivaraze {

// What the serial library offers on a platform: the native library to load, the default device,
// the fastest bit rate and one flag per optional operation. Decided once from the platform name
// and architecture.
struct PlatformSupport {
    std::string zspLib;  // base name of the native library; empty when the platform has none
    bool osFamilyWindows = false;
    int maxBitRate = 115200;
    std::string devName;

    bool supGetPortList = false;
    bool layerGetDataTimeout = false;
    bool supUnplugPort = false;
    bool supSendBreak = true;
    bool supSigBreak = false;
    bool supSigFrameErr = false;
    bool supSigOverrun = false;
    bool supSigParityErr = false;
    bool supRxOverflow = false;
    bool supSigRing = false;
    bool supSigCTS = false;
    bool supSigDSR = false;
    bool supSigCD = false;
    bool supSetRTS = false;
    bool supSetDTR = false;
    bool supRxReadyCount = false;
    bool supTxBufCount = false;
    bool supSetTimeoutTx = false;
    bool supGetTimeoutTx = false;
    bool supGetStatusAPM = false;
    bool supSetPowerMode = false;
    bool supGetResumeState = false;
    bool supInstanceLock = false;
    bool supParityMarkSpace = false;
    bool supNoIndexBitRate = false;
    bool supDriverInfo = false;

    // runtimeVersion only matters for one legacy library variant.
    static PlatformSupport forPlatform(const std::string& osName, const std::string& osArch,
                                       const std::string& runtimeVersion);

    // The flag for an exact key such as "setDTR" or "getPortList"; false for any other text.
    bool isSupported(const std::string& key) const;
};

// The host's operating-system name and architecture as a runtime reports them ("Linux", "amd64"),
// overridable through the process properties "os.name" and "os.arch".
std::string hostOsName();
std::string hostOsArch();
// The name the serial library goes by: "ZSP_OSNAME" when set, otherwise the host's name.
std::string platformName();
// The host's architecture, replaced by "ZSP_OSARCH" when both "ZSP_OSNAME" and "ZSP_OSARCH" are set.
std::string platformArch();
std::string runtimeVersion();
std::string runtimeVendor();

// The platform the program runs on, as the system names it ("Linux", "x86_64"), whatever the process
// properties choose for the library: what people read in the banner, the About line and messages.
struct RunningPlatform {
    std::string name;
    std::string arch;
    // "Linux x86_64"; empty when the system could not be asked.
    std::string shown() const;
};
RunningPlatform runningPlatform();

}  // namespace Zivaraze
