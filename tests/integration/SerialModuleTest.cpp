// The native module as the program meets it: loaded beside the executable (or missing), port
// discovery over a sysfs tree, device notifications and the instance lock.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "base/SystemProperties.h"
#include "serial/NativeLibrary.h"
#include "serial/PlatformSupport.h"
#include "serial/SerialPortLocal.h"
#include "support/SerialTestSupport.h"
#include "support/TempDir.h"
#include "util/FriendlyPortUtil.h"

namespace fs = std::filesystem;
using rszorvik::base::SystemProperties;
using rszorvik::test::TempDir;
using rszorvik::test::writeFile;
using rszorvik::util::FriendlyPortUtil;
using Zivaraze::SerialConfig;
using Zivaraze::SerialPortLocal;

namespace {

const char* kChildVariable = "ZORVIK_SERIAL_MODULE_CHILD";

void link(const fs::path& target, const fs::path& name) {
    fs::create_directories(name.parent_path());
    fs::create_directory_symlink(target, name);
}

// The output and exit status of a shell command.
std::pair<std::string, int> run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {"popen failed", -1};
    char buffer[4096];
    while (const std::size_t n = fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    const int status = pclose(pipe);
    return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(SerialModuleTest, LoadsTheModuleBesideTheExecutable) {
    rszorvik::test::selectApplicationPlatform();
    ASSERT_TRUE(SerialPortLocal::isLibraryLoaded());
    EXPECT_TRUE(fs::exists(fs::path(Zivaraze::NativeLibrary::executableDir()) / "libzspWin.so"));
    SerialPortLocal port;
    EXPECT_EQ(port.getLibVer(), ZSP_LIB_VERSION);
    EXPECT_EQ(SerialPortLocal::getMaxBitRate(), 921600);
    const int power = SerialPortLocal::getStatusAPM();
    EXPECT_TRUE(power == 0 || power == 1) << power;
}

// Runs a copy of this test program from a folder without the module.
TEST(SerialModuleTest, MissingModuleIsReportedAndNothingCrashes) {
    if (std::getenv(kChildVariable) != nullptr) GTEST_SKIP() << "inside the copy";
    TempDir dir;
    const fs::path copy = dir.path() / "SerialModuleTest";
    fs::copy_file("/proc/self/exe", copy);
    fs::permissions(copy, fs::perms::owner_all);
    const auto [output, status] = run("env -u LD_LIBRARY_PATH " + std::string(kChildVariable) +
                                      "=1 ZSP_OSNAME=Windows ZSP_OSARCH=x86 " + copy.string() +
                                      " --gtest_filter='SerialModuleChild.*' 2>&1");
    EXPECT_EQ(status, 0) << output;
    // The banner names the system the program runs on, not the one the properties choose the module for.
    const Zivaraze::RunningPlatform host = Zivaraze::runningPlatform();
    const std::string banner = "os.name=\"" + host.name + "\"  os.arch=\"" + host.arch + "\"";
    EXPECT_NE(output.find(banner), std::string::npos) << output;
    EXPECT_EQ(output.find("os.name=\"Windows\""), std::string::npos) << output;
    for (const char* expected :
         {"Zivaraze Library: version 10.2.3: build 9233", "libzspWin.so: cannot open shared object file",
          ": Check that native library zspWin is in proper directory", "child: loaded=0",
          "child: open: Native serial library not loaded: SerOpenPort",
          "child: list: Native serial library not loaded: SerGetPortList", "[  PASSED  ] 1 test"})
        EXPECT_NE(output.find(expected), std::string::npos) << expected << "\n" << output;
    EXPECT_EQ(output.find("SerialPort class loaded: zspWin"), std::string::npos) << output;
}

// Copies of this test program with the module where a build tree and an installed program keep it; the
// module is found in both, and a damaged one beside the executable does not hide the installed one.
TEST(SerialModuleTest, FindsTheModuleInEachLayout) {
    if (std::getenv(kChildVariable) != nullptr) GTEST_SKIP() << "inside the copy";
    const fs::path module = fs::path(Zivaraze::NativeLibrary::executableDir()) / "libzspWin.so";
    ASSERT_TRUE(fs::exists(module));
    struct Layout {
        const char* name;
        const char* moduleAt;  // relative to the copy's root
        const char* brokenAt;  // a file that is no module, or nullptr
        bool loads;
    };
    for (const Layout& layout :
         {Layout{"beside the executable", "bin/libzspWin.so", nullptr, true},
          Layout{"installed", "lib/zorvik/libzspWin.so", nullptr, true},
          Layout{"installed, junk beside", "lib/zorvik/libzspWin.so", "bin/libzspWin.so", true},
          Layout{"elsewhere", "lib/libzspWin.so", nullptr, false}}) {
        SCOPED_TRACE(layout.name);
        TempDir dir;
        const fs::path copy = dir.path() / "bin" / "SerialModuleTest";
        fs::create_directories(copy.parent_path());
        fs::copy_file("/proc/self/exe", copy);
        fs::permissions(copy, fs::perms::owner_all);
        fs::create_directories((dir.path() / layout.moduleAt).parent_path());
        fs::copy_file(module, dir.path() / layout.moduleAt);
        if (layout.brokenAt != nullptr) writeFile(dir.path() / layout.brokenAt, "not a module");
        const auto [output, status] = run("env -u LD_LIBRARY_PATH " + std::string(kChildVariable) +
                                          "=1 ZSP_OSNAME=Windows ZSP_OSARCH=x86 " + copy.string() +
                                          " --gtest_filter='SerialModuleChild.*' 2>&1");
        EXPECT_EQ(status, 0) << output;
        EXPECT_NE(output.find(layout.loads ? "child: loaded=1" : "child: loaded=0"), std::string::npos)
            << output;
    }
}

TEST(SerialModuleChild, ReportsWhatItLoaded) {
    if (std::getenv(kChildVariable) == nullptr) GTEST_SKIP() << "runs in a copy of this program";
    const bool loaded = SerialPortLocal::isLibraryLoaded();
    std::cout << "child: loaded=" << loaded << std::endl;
    try {
        SerialPortLocal port(std::make_shared<SerialConfig>("/dev/ttyS0"));
    } catch (const std::exception& e) {
        std::cout << "child: open: " << e.what() << std::endl;
    }
    try {
        SerialPortLocal::getPortList();
    } catch (const std::exception& e) {
        std::cout << "child: list: " << e.what() << std::endl;
    }
}

// A sysfs and a /dev as a machine with several kinds of serial ports shows them.
class FakeSysfs {
  public:
    FakeSysfs() : sysRoot(scratch.path() / "sys"), devRoot(scratch.path() / "dev") {
        const fs::path usb = sysRoot / "devices/pci0000:00/0000:00:14.0/usb1";
        // FTDI adapter: usb-serial port below the USB interface below the USB device.
        writeFile(usb / "1-2/idVendor", "0403\n");
        writeFile(usb / "1-2/product", "FT232R USB UART\n");
        writeFile(usb / "1-2/manufacturer", "FTDI\n");
        tty("ttyUSB0", usb / "1-2/1-2:1.0/ttyUSB0", "usb-serial/drivers/ftdi_sio");
        // An adapter without strings: the driver names it.
        writeFile(usb / "1-4/idVendor", "1a86\n");
        tty("ttyUSB2", usb / "1-4/1-4:1.0/ttyUSB2", "usb-serial/drivers/ch341-uart");
        // CDC-ACM modem.
        writeFile(usb / "1-3/idVendor", "2e8a\n");
        writeFile(usb / "1-3/product", "Pico\n");
        writeFile(usb / "1-3/manufacturer", "Raspberry Pi\n");
        tty("ttyACM0", usb / "1-3/1-3:1.0", "usb/drivers/cdc_acm");
        // UARTs behind the serial-base bus: the UART driver sits two levels up.
        for (const auto& [name, type] :
             {std::pair{"ttyS0", "4"}, {"ttyS1", "0"}, {"ttyS2", "4"}, {"ttyS10", "4"}}) {
            const fs::path pnp = sysRoot / "devices/pnp0" / (std::string("00:0") + name);
            driver(pnp, "pnp/drivers/serial");
            driver(pnp / "ctl", "serial-base/drivers/ctrl");
            tty(name, pnp / "ctl/port", "serial-base/drivers/port");
            writeFile(sysRoot / "class/tty" / name / "type", std::string(type) + "\n");
        }
        // Virtual ttys have no device; an rfcomm channel is virtual but a real serial link.
        for (const char* name : {"tty0", "console", "ptmx", "rfcomm0"}) {
            fs::create_directories(sysRoot / "class/tty" / name);
            writeFile(devRoot / name, "");
        }
        // A tty whose node is missing from /dev is not offered.
        tty("ttyUSB1", usb / "1-5/1-5:1.0/ttyUSB1", "usb-serial/drivers/pl2303", false);
    }

    const fs::path& sys() const { return sysRoot; }
    const fs::path& dev() const { return devRoot; }

  private:
    void driver(const fs::path& device, const std::string& driverPath) {
        fs::create_directories(device);
        fs::create_directories(sysRoot / "bus" / driverPath);
        link(sysRoot / "bus" / driverPath, device / "driver");
    }
    void tty(const std::string& name, const fs::path& device, const std::string& driverPath,
             bool node = true) {
        driver(device, driverPath);
        link(device, sysRoot / "class/tty" / name / "device");
        if (node) writeFile(devRoot / name, "");
    }

    TempDir scratch;
    fs::path sysRoot;
    fs::path devRoot;
};

class SerialDiscoveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rszorvik::test::selectApplicationPlatform();
        SystemProperties::clear("SERIAL_PORT_LIST");
        SystemProperties::set("ZSP_SYSFS_ROOT", tree.sys().string());
        SystemProperties::set("ZSP_DEV_ROOT", tree.dev().string());
    }
    void TearDown() override {
        SystemProperties::clear("ZSP_SYSFS_ROOT");
        SystemProperties::clear("ZSP_DEV_ROOT");
    }

    FakeSysfs tree;
};

TEST_F(SerialDiscoveryTest, ListsRealSerialPortsInNaturalOrderWithFriendlyNames) {
    SerialPortLocal::clearPortListInfo();
    const auto ports = SerialPortLocal::getPortList();
    const std::string dev = tree.dev().string() + "/";
    EXPECT_EQ(ports, (std::vector<std::string>{dev + "rfcomm0", dev + "ttyACM0", dev + "ttyS0", dev + "ttyS2",
                                               dev + "ttyS10", dev + "ttyUSB0", dev + "ttyUSB2"}));
    FriendlyPortUtil::update();
    EXPECT_EQ(
        FriendlyPortUtil::getFriendlyPortList(),
        (std::vector<std::string>{dev + "rfcomm0: rfcomm - rfcomm", dev + "ttyACM0: Pico - Raspberry Pi",
                                  dev + "ttyS0: serial - serial", dev + "ttyS2: serial - serial",
                                  dev + "ttyS10: serial - serial", dev + "ttyUSB0: FT232R USB UART - FTDI",
                                  dev + "ttyUSB2: ch341-uart - ch341-uart"}));
    EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName(dev + "ttyUSB0: FT232R USB UART - FTDI"),
              dev + "ttyUSB0");
}

TEST_F(SerialDiscoveryTest, AnEmptyMachineListsNothing) {
    TempDir empty;
    SystemProperties::set("ZSP_SYSFS_ROOT", empty.path().string());
    EXPECT_TRUE(SerialPortLocal::getPortList().empty());
}

TEST_F(SerialDiscoveryTest, CliListsThePortsWithTheirDriverRecords) {
    const fs::path cli = fs::path(Zivaraze::NativeLibrary::executableDir()) / "zorvik-cli";
    if (!fs::exists(cli)) GTEST_SKIP() << "zorvik-cli is not built";
    const std::string roots =
        "ZSP_SYSFS_ROOT=" + tree.sys().string() + " ZSP_DEV_ROOT=" + tree.dev().string() + " ";
    const auto [text, status] =
        run("env -u SERIAL_PORT_LIST " + roots + cli.string() + " ports --json 2>/dev/null");
    ASSERT_EQ(status, 0) << text;
    const auto list = nlohmann::json::parse(text);
    ASSERT_EQ(list.size(), 7u) << text;
    const std::string dev = tree.dev().string() + "/";
    EXPECT_EQ(list[5], (nlohmann::json{{"port", dev + "ttyUSB0"},
                                       {"friendly", dev + "ttyUSB0: FT232R USB UART - FTDI"},
                                       {"description", "FT232R USB UART"},
                                       {"manufacturer", "FTDI"}}));

    const auto [plain, plainStatus] =
        run("env -u SERIAL_PORT_LIST " + roots + cli.string() + " ports 2>/dev/null");
    EXPECT_EQ(plainStatus, 0);
    EXPECT_NE(plain.find(dev + "ttyACM0: Pico - Raspberry Pi\n"), std::string::npos) << plain;

    TempDir empty;
    const auto [none, noneStatus] = run("env -u SERIAL_PORT_LIST ZSP_SYSFS_ROOT=" + empty.path().string() +
                                        " " + cli.string() + " ports --json 2>&1");
    EXPECT_EQ(noneStatus, 1);
    EXPECT_NE(none.find("Kein serieller Port gefunden"), std::string::npos) << none;
}

class Counter : public Zivaraze::DeviceNotificationCallback {
  public:
    void deviceNotification() override { ++count; }
    std::atomic<int> count{0};
};

TEST_F(SerialDiscoveryTest, ArrivingSerialDevicesAreNotified) {
    rszorvik::test::CapturedDiagnostics printed;
    auto counter = std::make_shared<Counter>();
    SerialPortLocal::registerDeviceNotification(counter);
    writeFile(tree.dev() / "tty7", "");  // a console: no notification
    writeFile(tree.dev() / "ttyUSB9", "");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (counter->count == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(counter->count, 1);
    fs::remove(tree.dev() / "ttyUSB9");
    while (counter->count == 1 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(counter->count, 2);
    SerialPortLocal::unregisterDeviceNotification();
    EXPECT_NE(printed.text().find("Zivaraze.deviceNotification"), std::string::npos);
}

TEST(SerialInstanceLockTest, TakenOnceAndReleased) {
    rszorvik::test::selectApplicationPlatform();
    EXPECT_EQ(SerialPortLocal::getInstanceLock(), 0);
    EXPECT_EQ(SerialPortLocal::setInstanceLock(1), 0);
    EXPECT_EQ(SerialPortLocal::getInstanceLock(), 1);
    EXPECT_EQ(SerialPortLocal::setInstanceLock(1), 0);
    EXPECT_EQ(SerialPortLocal::setInstanceLock(0), 0);
    EXPECT_EQ(SerialPortLocal::getInstanceLock(), 0);
}

}  // namespace
