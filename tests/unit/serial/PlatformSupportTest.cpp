#include <gtest/gtest.h>

#include "base/SystemProperties.h"
#include "serial/PlatformSupport.h"

using rszorvik::base::SystemProperties;
using Zivaraze::PlatformSupport;

namespace {

struct LibraryCase {
    const char* osName;
    const char* osArch;
    const char* version;
    const char* library;  // "" when the platform has none
    bool windowsFamily;
};

class LibraryChoiceTest : public ::testing::TestWithParam<LibraryCase> {};

TEST_P(LibraryChoiceTest, PicksTheNativeLibraryByNameAndArchitecture) {
    const auto& c = GetParam();
    const auto support = PlatformSupport::forPlatform(c.osName, c.osArch, c.version);
    EXPECT_EQ(support.zspLib, c.library);
    EXPECT_EQ(support.osFamilyWindows, c.windowsFamily);
}

INSTANTIATE_TEST_SUITE_P(
    Platforms, LibraryChoiceTest,
    ::testing::Values(LibraryCase{"Windows", "x86", "C++202002", "zspWin", true},
                      LibraryCase{"Windows 10", "amd64", "C++202002", "zspWin", true},
                      LibraryCase{"Windows 2008", "x86", "", "zspWin", true},
                      LibraryCase{"Windows XP", "x86", "1.0.2", "zspWinNm", true},
                      LibraryCase{"Windows 95", "x86", "102", "zspWinNm", true},
                      LibraryCase{"windows 10", "x86", "", "", false},  // names compare exactly
                      LibraryCase{"Windows CE", "Strong ARM", "", "zspWceArm", false},
                      LibraryCase{"WindowsCE", "mips", "", "zspWceMips", false},  // CE ignores case
                      LibraryCase{"Windows CE", "ppc", "", "", false},
                      LibraryCase{"EPOC", "arm", "", "zspEpocArm", false},
                      LibraryCase{"OS/2", "anything", "", "zspos2j", false},
                      LibraryCase{"Mac OS X", "ppc", "", "zspMacOSX", false},
                      LibraryCase{"Linux", "i686", "", "zspLux86", false},
                      LibraryCase{"Linux", "amd64", "", "zspLux86_64bit", false},
                      LibraryCase{"Linux", "armv5tel", "", "zspLuxArm", false},
                      LibraryCase{"Linux", "aarch64", "", "", false},
                      LibraryCase{"SunOS", "sparc", "", "zspSolSparc", false},
                      LibraryCase{"HP-UX", "PA_RISC2.0", "", "zspHpxPaRisc", false},
                      LibraryCase{"OpenServer", "IA32", "", "zspUxWareIA32", false},
                      LibraryCase{"Novell NetWare 6", "x86", "", "ZspNw", false}));

TEST(PlatformSupportTest, WindowsGroupOffersEverythingButPowerModeAndResume) {
    const auto s = PlatformSupport::forPlatform("Windows", "x86", "");
    for (const char* key :
         {"getPortList",  "UnplugPort",      "sendBreak",    "sigBreak",   "sigFrameErr",  "sigOverrun",
          "sigParityErr", "rxOverflow",      "sigRing",      "sigCTS",     "sigDSR",       "sigCD",
          "setRTS",       "setDTR",          "rxReadyCount", "txBufCount", "setTimeoutTx", "getStatusAPM",
          "InstanceLock", "ParityMarkSpace", "supDriverInfo"})
        EXPECT_TRUE(s.isSupported(key)) << key;
    for (const char* key :
         {"setPowerMode", "noIndexBitRate", "getResumeState", "layerGetDataTimeout", "setdtr", ""})
        EXPECT_FALSE(s.isSupported(key)) << key;
    EXPECT_EQ(s.maxBitRate, 921600);
    EXPECT_EQ(s.devName, "COM1");
    EXPECT_FALSE(s.layerGetDataTimeout);
}

struct GroupCase {
    const char* osName;
    const char* osArch;
    int maxBitRate;
    const char* devName;
    const char* on;   // blank-separated keys that must be supported
    const char* off;  // and keys that must not
};

class FeatureGroupTest : public ::testing::TestWithParam<GroupCase> {};

TEST_P(FeatureGroupTest, FlagsFollowThePlatformGroup) {
    const auto& c = GetParam();
    const auto s = PlatformSupport::forPlatform(c.osName, c.osArch, "");
    EXPECT_EQ(s.maxBitRate, c.maxBitRate);
    EXPECT_EQ(s.devName, c.devName);
    auto each = [](const char* keys, auto check) {
        std::string list = keys;
        for (std::size_t at = 0; at < list.size();) {
            const auto end = std::min(list.find(' ', at), list.size());
            check(list.substr(at, end - at));
            at = end + 1;
        }
    };
    each(c.on, [&](const std::string& key) { EXPECT_TRUE(s.isSupported(key)) << c.osName << " " << key; });
    each(c.off, [&](const std::string& key) { EXPECT_FALSE(s.isSupported(key)) << c.osName << " " << key; });
}

INSTANTIATE_TEST_SUITE_P(
    Groups, FeatureGroupTest,
    ::testing::Values(
        GroupCase{"Windows 95", "x86", 115200, "COM1", "setDTR sigCD", "supDriverInfo"},
        GroupCase{"Windows Server 2012 R2", "x86", 115200, "COM1", "getPortList", "supDriverInfo"},
        GroupCase{"OS/2", "x86", 115200, "COM1", "noIndexBitRate setDTR", "supDriverInfo"},
        GroupCase{"Novell NetWare", "x86", 115200, "COM1", "setDTR", "getPortList"},
        GroupCase{"Windows 2008", "x86", 115200, "", "sendBreak", "setDTR getPortList"},
        GroupCase{"Linux", "amd64", 115200, "/dev/ttyS0", "ParityMarkSpace sigRing setRTS getStatusAPM",
                  "getPortList setPowerMode sigParityErr"},
        GroupCase{"Linux", "arm", 115200, "/dev/ttyS0", "setPowerMode", "getPortList"},
        GroupCase{"Irix", "mips", 115200, "/dev/tty0", "sigCD sigDSR", "setRTS setDTR sigCTS"},
        GroupCase{"UnixWare", "IA32", 115200, "/dev/tty0", "setDTR", "setRTS"},
        GroupCase{"Solaris", "sparc", 115200, "/dev/ttya", "setRTS", "getStatusAPM"},
        GroupCase{"Mac OS", "ppc", 921600, "Modem Port", "sigBreak setDTR sigCTS noIndexBitRate",
                  "setRTS sigDSR"},
        GroupCase{"Mac OS X", "ppc", 230400, "", "ParityMarkSpace getPortList getStatusAPM", "sigBreak"},
        GroupCase{"EPOC", "x86", 115200, "COMM::0", "getPortList noIndexBitRate sigFrameErr",
                  "sendBreak sigRing"}));

struct NameCase {
    const char* zspOsName;  // nullptr: unset
    const char* zspOsArch;
    const char* osName;
    const char* osArch;
    const char* platformName;
    const char* platformArch;
};

class PlatformNameTest : public ::testing::TestWithParam<NameCase> {
  protected:
    void TearDown() override {
        for (const char* key : {"ZSP_OSNAME", "ZSP_OSARCH", "os.name", "os.arch"})
            SystemProperties::clear(key);
    }
};

TEST_P(PlatformNameTest, SettingsReplaceTheHostNames) {
    const auto& c = GetParam();
    auto put = [](const char* key, const char* value) {
        if (value != nullptr) {
            SystemProperties::set(key, value);
        } else {
            SystemProperties::clear(key);
        }
    };
    put("ZSP_OSNAME", c.zspOsName);
    put("ZSP_OSARCH", c.zspOsArch);
    put("os.name", c.osName);
    put("os.arch", c.osArch);
    EXPECT_EQ(Zivaraze::platformName(), c.platformName);
    EXPECT_EQ(Zivaraze::platformArch(), c.platformArch);
}

INSTANTIATE_TEST_SUITE_P(Names, PlatformNameTest,
                         ::testing::Values(NameCase{"Windows", "x86", "Linux", "amd64", "Windows", "x86"},
                                           NameCase{nullptr, nullptr, "Linux", "amd64", "Linux", "amd64"},
                                           // the architecture is replaced only when both are set
                                           NameCase{nullptr, "x86", "Linux", "amd64", "Linux", "amd64"},
                                           NameCase{"Windows", nullptr, "Linux", "amd64", "Windows",
                                                    "amd64"}));

}  // namespace
