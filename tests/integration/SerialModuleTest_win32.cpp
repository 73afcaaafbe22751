// The Windows module as the program meets it: zspWin.dll loaded beside the executable (or missing), the
// COM ports Windows lists with their friendly names, device notifications and the instance lock.
//
// The port list needs a port the Windows stage maps to a pseudo-terminal through the registry (Wine lists
// such ports under SERIALCOMM only); it names it in ZORVIK_TEST_MAPPED_PORT.

#include <windows.h>
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/SystemProperties.h"
#include "serial/DeviceNotificationCallback.h"
#include "serial/NativeLibrary.h"
#include "serial/PlatformSupport.h"
#include "serial/SerialPortLocal.h"
#include "support/SerialTestSupport.h"
#include "support/TempDir.h"
#include "util/FriendlyPortUtil.h"

namespace fs = std::filesystem;
using rszorvik::test::TempDir;
using rszorvik::test::writeFile;
using rszorvik::util::FriendlyPortUtil;
using Zivaraze::SerialConfig;
using Zivaraze::SerialPortLocal;

namespace {

const char* kChildVariable = "ZORVIK_SERIAL_MODULE_CHILD";

bool inChild() {
    return std::getenv(kChildVariable) != nullptr;
}

fs::path self() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(std::wstring(path, n));
}

// Runs a copy of this program on the child tests; standard output and error together, and the exit status.
std::pair<std::string, DWORD> runChild(const fs::path& program, const std::string& filter) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return {"CreatePipe failed", 1000};
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startup.hStdError = writeEnd;
    std::wstring command =
        L"\"" + program.wstring() + L"\" --gtest_filter=" + std::wstring(filter.begin(), filter.end());
    SetEnvironmentVariableA(kChildVariable, "1");
    SetEnvironmentVariableA("ZSP_OSNAME", "Windows");
    SetEnvironmentVariableA("ZSP_OSARCH", "x86");
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &process);
    SetEnvironmentVariableA(kChildVariable, nullptr);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return {"cannot start " + program.string(), 1000 + GetLastError()};
    }
    std::string output;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0)
        output.append(buffer, got);
    CloseHandle(readEnd);
    DWORD status = 2000;
    WaitForSingleObject(process.hProcess, 60000);
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return {output, status};
}

fs::path moduleBesideTheTest() {
    return fs::path(Zivaraze::NativeLibrary::executableDir()) / "zspWin.dll";
}

TEST(SerialModuleTest, LoadsTheModuleBesideTheExecutable) {
    rszorvik::test::selectApplicationPlatform();
    ASSERT_TRUE(SerialPortLocal::isLibraryLoaded());
    EXPECT_TRUE(fs::exists(moduleBesideTheTest()));
    SerialPortLocal port;
    EXPECT_EQ(port.getLibVer(), ZSP_LIB_VERSION);
    EXPECT_EQ(SerialPortLocal::getMaxBitRate(), 921600);
    const int power = SerialPortLocal::getStatusAPM();
    EXPECT_TRUE(power == 0 || power == 1) << power;
}

TEST(SerialModuleTest, MissingModuleIsReportedAndNothingCrashes) {
    if (inChild()) GTEST_SKIP() << "inside the copy";
    TempDir dir;
    const fs::path copy = dir / "SerialModuleTest_win32.exe";
    fs::copy_file(self(), copy);
    const auto [output, status] = runChild(copy, "SerialModuleChild.*");
    EXPECT_EQ(status, 0u) << output;
    // The banner names the system the program runs on, not the one the properties choose the module for.
    const Zivaraze::RunningPlatform host = Zivaraze::runningPlatform();
    const std::string banner = "os.name=\"" + host.name + "\"  os.arch=\"" + host.arch + "\"";
    EXPECT_NE(output.find(banner), std::string::npos) << output;
    EXPECT_EQ(output.find("os.name=\"Windows\""), std::string::npos) << output;
    for (const char* expected :
         {"Zivaraze Library: version 10.2.3: build 9233",
          "zspWin.dll: ", ": Check that native library zspWin is in proper directory", "child: loaded=0",
          "child: open: Native serial library not loaded: SerOpenPort",
          "child: list: Native serial library not loaded: SerGetPortList", "[  PASSED  ] 2 tests"})
        EXPECT_NE(output.find(expected), std::string::npos) << expected << "\n" << output;
    EXPECT_EQ(output.find("SerialPort class loaded: zspWin"), std::string::npos) << output;
}

// Copies of this program with the module where a build tree and an installed program keep it.
TEST(SerialModuleTest, FindsTheModuleInEachLayout) {
    if (inChild()) GTEST_SKIP() << "inside the copy";
    ASSERT_TRUE(fs::exists(moduleBesideTheTest()));
    struct Layout {
        const char* name;
        const char* moduleAt;  // relative to the copy's root
        const char* brokenAt;  // a file that is no module, or nullptr
        bool loads;
    };
    for (const Layout& layout :
         {Layout{"beside the executable", "bin/zspWin.dll", nullptr, true},
          Layout{"installed", "lib/zorvik/zspWin.dll", nullptr, true},
          Layout{"installed, junk beside", "lib/zorvik/zspWin.dll", "bin/zspWin.dll", true},
          Layout{"elsewhere", "lib/zspWin.dll", nullptr, false}}) {
        SCOPED_TRACE(layout.name);
        TempDir dir;
        const fs::path copy = dir / "bin" / "SerialModuleTest_win32.exe";
        fs::create_directories(copy.parent_path());
        fs::copy_file(self(), copy);
        fs::create_directories((dir.path() / layout.moduleAt).parent_path());
        fs::copy_file(moduleBesideTheTest(), dir.path() / layout.moduleAt);
        if (layout.brokenAt != nullptr) writeFile(dir.path() / layout.brokenAt, "not a module");
        const auto [output, status] = runChild(copy, "SerialModuleChild.ReportsWhatItLoaded");
        EXPECT_EQ(status, 0u) << output;
        EXPECT_NE(output.find(layout.loads ? "child: loaded=1" : "child: loaded=0"), std::string::npos)
            << output;
    }
}

TEST(SerialModuleChild, ReportsWhatItLoaded) {
    if (!inChild()) GTEST_SKIP() << "runs in a copy of this program";
    const bool loaded = SerialPortLocal::isLibraryLoaded();
    std::cout << "child: loaded=" << loaded << std::endl;
    try {
        SerialPortLocal port(std::make_shared<SerialConfig>("COM1"));
    } catch (const std::exception& e) {
        std::cout << "child: open: " << e.what() << std::endl;
    }
    try {
        SerialPortLocal::getPortList();
    } catch (const std::exception& e) {
        std::cout << "child: list: " << e.what() << std::endl;
    }
}

// Another process of the session asks for the lock the test holds.
TEST(SerialModuleChild, FindsTheInstanceLockTaken) {
    if (!inChild()) GTEST_SKIP() << "runs in a copy of this program";
    if (SerialPortLocal::isLibraryLoaded())
        std::cout << "child: lock=" << SerialPortLocal::setInstanceLock(1) << std::endl;
}

TEST(SerialModuleTest, ListsTheMappedPortWithItsFriendlyName) {
    const char* mapped = std::getenv("ZORVIK_TEST_MAPPED_PORT");
    ASSERT_NE(mapped, nullptr) << "the Windows stage maps a port and names it in ZORVIK_TEST_MAPPED_PORT";
    rszorvik::test::selectApplicationPlatform();
    rszorvik::base::SystemProperties::clear("SERIAL_PORT_LIST");
    SerialPortLocal::clearPortListInfo();
    const auto ports = SerialPortLocal::getPortList();
    ASSERT_NE(std::find(ports.begin(), ports.end(), mapped), ports.end());
    // COM ports come in the order of their numbers.
    std::vector<int> numbers;
    for (const auto& port : ports)
        if (port.rfind("COM", 0) == 0) numbers.push_back(std::stoi(port.substr(3)));
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
    FriendlyPortUtil::update();
    // Wine lists the port under SERIALCOMM only, as "\Device\Serial<n>".
    const std::string friendly = std::string(mapped) + ": Serial - Serial";
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName(mapped), friendly);
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName(friendly), mapped);
    SerialPortLocal port(std::make_shared<SerialConfig>(mapped));
    EXPECT_TRUE(port.isOpen());
}

class Counter : public Zivaraze::DeviceNotificationCallback {
  public:
    void deviceNotification() override { ++count; }
    std::atomic<int> count{0};
};

// Wine announces no device arrivals: what shows here is that the notifier starts and stops cleanly, again
// and again, and tells of nothing that did not happen.
TEST(SerialModuleTest, DeviceNotificationStartsAndStops) {
    rszorvik::test::selectApplicationPlatform();
    auto counter = std::make_shared<Counter>();
    for (int round = 0; round < 3; ++round) {
        EXPECT_NO_THROW(SerialPortLocal::registerDeviceNotification(counter));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_NO_THROW(SerialPortLocal::unregisterDeviceNotification());
    }
    EXPECT_EQ(counter->count, 0);
}

TEST(SerialInstanceLockTest, TakenOnceAndReleased) {
    if (inChild()) GTEST_SKIP() << "inside the copy";
    rszorvik::test::selectApplicationPlatform();
    EXPECT_EQ(SerialPortLocal::getInstanceLock(), 0);
    EXPECT_EQ(SerialPortLocal::setInstanceLock(1), 0);
    EXPECT_EQ(SerialPortLocal::getInstanceLock(), 1);
    EXPECT_EQ(SerialPortLocal::setInstanceLock(1), 0);
    const auto [output, status] = runChild(self(), "SerialModuleChild.FindsTheInstanceLockTaken");
    EXPECT_NE(output.find("child: lock=1"), std::string::npos) << output;
    EXPECT_EQ(SerialPortLocal::setInstanceLock(0), 0);
    EXPECT_EQ(SerialPortLocal::getInstanceLock(), 0);
    const auto [after, afterStatus] = runChild(self(), "SerialModuleChild.FindsTheInstanceLockTaken");
    EXPECT_NE(after.find("child: lock=0"), std::string::npos) << after;
}

}  // namespace
