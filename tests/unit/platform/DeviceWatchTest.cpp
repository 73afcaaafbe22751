// The wait for an unplugged instrument: USB identities read from a device tree made for the test, and the
// path watch on real folders with the kernel's file notifications.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/DeviceWatch.h"
#include "support/TempDir.h"

namespace rszorvik::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Event = DeviceWatch::Event;

constexpr auto kPatience = 10s;  // a limit for a change that must come, not a timing check

void write(const fs::path& file, const std::string& text) {
    test::writeFile(file, text + "\n");
}

// A tty in a sysfs tree as the kernel lays it out: /sys/class/tty/NAME links to the tty below its port
// device, whose "device" link leads back up; USB attributes sit on the interface and the USB device.
struct Tty {
    std::string name;
    std::string usbDevice;  // "1-2" (empty: a tty without USB, such as a built-in UART)
    std::string vendor, product, serial;
    std::string interfaceNumber = "00";
    bool acm = false;  // CDC-ACM: the tty hangs off the interface itself
};

class FakeDeviceTree {
  public:
    explicit FakeDeviceTree(const fs::path& root) : roots{root / "sys", root / "dev"} {
        fs::create_directories(roots.sys / "class" / "tty");
        fs::create_directories(roots.dev);
    }

    void add(const Tty& tty) {
        const fs::path bus = roots.sys / "devices" / "pci0000:00" / "0000:00:14.0" / "usb1";
        fs::path portDevice;
        if (tty.usbDevice.empty()) {
            portDevice = roots.sys / "devices" / "platform" / "serial8250" / tty.name;
        } else {
            const fs::path device = bus / tty.usbDevice;
            write(device / "idVendor", tty.vendor);
            write(device / "idProduct", tty.product);
            if (!tty.serial.empty()) write(device / "serial", tty.serial);
            const fs::path interface =
                device / (tty.usbDevice + ":1." + std::to_string(std::stoi(tty.interfaceNumber)));
            write(interface / "bInterfaceNumber", tty.interfaceNumber);
            portDevice = tty.acm ? interface : interface / tty.name;
        }
        const fs::path ttyDir = portDevice / "tty" / tty.name;
        fs::create_directories(ttyDir);
        fs::create_directory_symlink(fs::relative(portDevice, ttyDir), ttyDir / "device");
        fs::create_directory_symlink(fs::relative(ttyDir, roots.sys / "class" / "tty"),
                                     roots.sys / "class" / "tty" / tty.name);
        write(roots.dev / tty.name, "");
    }

    void remove(const std::string& name) {
        fs::remove(roots.sys / "class" / "tty" / name);
        fs::remove(roots.dev / name);
    }

    std::string dev(const std::string& name) const { return (roots.dev / name).string(); }

    DeviceRoots roots;
};

TEST(UsbIdentityTest, IsReadFromTheDeviceTreeAndFoundAgainUnderAnotherName) {
    test::TempDir dir;
    FakeDeviceTree tree(dir.path());
    tree.add({"ttyS0", "", "", "", ""});
    tree.add({"ttyUSB0", "1-2", "0403", "6001", "A12345"});
    tree.add({"ttyUSB2", "1-3", "0403", "6001", ""});            // a twin without serial number
    tree.add({"ttyUSB3", "1-4", "0403", "6010", "FT99", "00"});  // a dual adapter's first port
    tree.add({"ttyUSB4", "1-4", "0403", "6010", "FT99", "01"});  // ... and its second
    tree.add({"ttyACM0", "1-5", "2341", "0043", "754", "00", /*acm=*/true});
    fs::create_symlink(tree.dev("ttyUSB0"), dir.path() / "by-id-link");

    struct Case {
        std::string port;
        std::optional<UsbIdentity> identity;
    };
    const std::vector<Case> cases{
        {tree.dev("ttyS0"), std::nullopt},
        {tree.dev("ttyUSB0"), UsbIdentity{"0403", "6001", "A12345", "00", "1-2"}},
        {(dir.path() / "by-id-link").string(), UsbIdentity{"0403", "6001", "A12345", "00", "1-2"}},
        {tree.dev("ttyUSB2"), UsbIdentity{"0403", "6001", "", "00", "1-3"}},
        {tree.dev("ttyUSB4"), UsbIdentity{"0403", "6010", "FT99", "01", "1-4"}},
        {tree.dev("ttyACM0"), UsbIdentity{"2341", "0043", "754", "00", "1-5"}},
        {tree.dev("ttyUSB9"), std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DeviceWatch::usbIdentityOf(c.port, tree.roots), c.identity) << c.port;

    // The adapter with the serial number comes back as ttyUSB1 on another USB port.
    const UsbIdentity adapter = *DeviceWatch::usbIdentityOf(tree.dev("ttyUSB0"), tree.roots);
    const UsbIdentity twin = *DeviceWatch::usbIdentityOf(tree.dev("ttyUSB2"), tree.roots);
    const UsbIdentity secondPort = *DeviceWatch::usbIdentityOf(tree.dev("ttyUSB4"), tree.roots);
    tree.remove("ttyUSB0");
    EXPECT_EQ(DeviceWatch::portsOf(adapter, tree.roots), std::vector<std::string>{});
    tree.add({"ttyUSB1", "1-7", "0403", "6001", "A12345"});
    EXPECT_EQ(DeviceWatch::portsOf(adapter, tree.roots), std::vector<std::string>{tree.dev("ttyUSB1")});
    // Without a serial number only the same place counts; of a dual adapter only the same port.
    EXPECT_EQ(DeviceWatch::portsOf(twin, tree.roots), std::vector<std::string>{tree.dev("ttyUSB2")});
    EXPECT_EQ(DeviceWatch::portsOf(secondPort, tree.roots), std::vector<std::string>{tree.dev("ttyUSB4")});
}

// The path of a port that went away: every step towards it that appears is announced, so a link made
// in a folder that did not exist yet is not missed; other names in the same folders are not.
TEST(DeviceWatchTest, AnnouncesThePathComingBackAndNothingElse) {
    test::TempDir dir;
    const fs::path folder = dir.path() / "serial" / "by-id";
    const fs::path port = folder / "usb-scale";
    const auto watch = DeviceWatch::create(port.string(), false);
    ASSERT_TRUE(watch->notifies());
    EXPECT_EQ(watch->wait(0ms), Event::Timeout);

    std::ofstream(dir.path() / "unrelated");
    EXPECT_EQ(watch->wait(100ms), Event::Timeout);
    fs::create_directory(dir.path() / "serial");
    EXPECT_EQ(watch->wait(kPatience), Event::Changed);
    // Its folder is watched from the next wait on, which says so, since something may have come meanwhile.
    fs::create_directory(folder);
    EXPECT_EQ(watch->wait(kPatience), Event::Changed);
    EXPECT_EQ(watch->wait(kPatience), Event::Changed);
    std::ofstream(folder / "usb-other");
    EXPECT_EQ(watch->wait(100ms), Event::Timeout);
    fs::create_symlink(dir.path() / "ttyUSB1", port);
    EXPECT_EQ(watch->wait(kPatience), Event::Changed);

    // A link whose target is missing comes alive with the target, whose folder is watched from the next
    // wait on.
    EXPECT_EQ(watch->wait(kPatience), Event::Changed);
    EXPECT_EQ(watch->wait(100ms), Event::Timeout);
    std::ofstream(dir.path() / "ttyUSB1");
    EXPECT_EQ(watch->wait(kPatience), Event::Changed);
}

}  // namespace
}  // namespace rszorvik::platform
