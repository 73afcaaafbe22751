#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/SystemProperties.h"
#include "serial/NativeLibrary.h"
#include "serial/SerialPortLocal.h"
#include "support/FakeNativeSerial.h"
#include "support/SerialTestSupport.h"

using rszorvik::base::SystemProperties;
using rszorvik::test::CapturedDiagnostics;
using rszorvik::test::FakeNativeSerial;
using rszorvik::test::ScopedSerialPlatform;
using Zivaraze::IOError;
using Zivaraze::PortDriverInfo;
using Zivaraze::SerialPortLocal;
using Names = std::vector<std::string>;

namespace {

struct OrderCase {
    Names discovered;
    Names ordered;
};

class WindowsOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(WindowsOrderTest, ComPortsByNumberThenTheRestInDiscoveryOrder) {
    EXPECT_EQ(SerialPortLocal::orderWindowsPorts(GetParam().discovered), GetParam().ordered);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, WindowsOrderTest,
    ::testing::Values(OrderCase{{"COM10", "COM3", "COM1"}, {"COM1", "COM3", "COM10"}},
                      OrderCase{{"COM10", "COM2", "IrDA-1"}, {"COM2", "COM10", "IrDA-1"}},
                      OrderCase{{"com4", "COM2"}, {"COM2", "com4"}},  // the pattern is case-sensitive
                      OrderCase{{"COM1", "COMX"}, {"COM1", ""}},      // no digits: an empty entry at the end
                      OrderCase{{"COM07", "COM3x"}, {"COM3", "COM7"}},
                      OrderCase{{"/dev/ttyUSB0", "/dev/ttyS0", "CO"}, {"/dev/ttyUSB0", "/dev/ttyS0", "CO"}},
                      OrderCase{{"xCOM5", "COM2"},
                                {"COM2", "xCOM5"}},  // only names that begin with COM count
                      OrderCase{{"COM99999999999", "COM1"}, {"COM1", ""}}, OrderCase{{}, {}}));

class PortListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rszorvik::test::selectApplicationPlatform();
        SystemProperties::clear("SERIAL_PORT_LIST");
        SerialPortLocal::getPortList();  // an empty discovery empties the class-wide list
        SerialPortLocal::clearPortListInfo();
    }
    void TearDown() override { SystemProperties::clear("SERIAL_PORT_LIST"); }

    FakeNativeSerial fake;
    Zivaraze::ScopedNativeApi guard{fake.api()};
};

TEST_F(PortListTest, DiscoveryReplacesTheListAndOrdersComPorts) {
    SerialPortLocal::addPortName("COM42");
    fake.port("COM10");
    fake.port("COM3");
    fake.port("COM1");
    EXPECT_EQ(SerialPortLocal::getPortList(), (Names{"COM1", "COM3", "COM10"}));
    fake.port("COM3").disappear();
    EXPECT_EQ(SerialPortLocal::getPortList(), (Names{"COM1", "COM10"}));
}

TEST_F(PortListTest, AddedNamesIgnoreCaseDuplicates) {
    fake.port("COM1");
    SerialPortLocal::getPortList();
    SerialPortLocal::addPortName("com1");
    SerialPortLocal::addPortName("COM2");
    SystemProperties::set("SERIAL_PORT_LIST", "COM2;COM3");
    EXPECT_EQ(SerialPortLocal::getPortList(), (Names{"COM1", "COM2", "COM3"}));
}

struct SettingCase {
    const char* setting;
    Names expected;
};

class PortListSettingTest : public PortListTest, public ::testing::WithParamInterface<SettingCase> {};

TEST_P(PortListSettingTest, TheSettingReplacesDiscoveryWhenLongerThanOneName) {
    fake.port("COM9");
    SerialPortLocal::addPortName("COM4");
    SystemProperties::set("SERIAL_PORT_LIST", GetParam().setting);
    EXPECT_EQ(SerialPortLocal::getPortList(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PortListSettingTest,
    ::testing::Values(SettingCase{"COM5;COM6", {"COM4", "COM5", "COM6"}},
                      SettingCase{"COM6;COM5", {"COM4", "COM6", "COM5"}},  // unsorted
                      SettingCase{"COM1", {"COM9"}},                       // one four-letter name is ignored
                      SettingCase{" COM1 \t", {"COM9"}}, SettingCase{"COM1;", {"COM4", "COM1"}},
                      SettingCase{"/dev/ttyS0:/dev/ttyS1", {"COM4", "/dev/ttyS0", "/dev/ttyS1"}},
                      SettingCase{"com5;COM5;;COM4", {"COM4", "com5"}}));

TEST_F(PortListTest, DriverRecordsComeFromDiscoveryWithoutDuplicates) {
    EXPECT_EQ(
        [] {
            try {
                SerialPortLocal::getDriverInfoList();
            } catch (const IOError& e) {
                return std::string(e.what());
            }
            return std::string();
        }(),
        "Must call SerialPortLocal.getPortList method first");
    fake.port("COM3").info("FTDI", "USB Serial Port");
    fake.port("COM1");
    SerialPortLocal::getPortList();
    SerialPortLocal::addPortInfo("com3", "Other", "Other");
    SerialPortLocal::addPortInfo("COM7", "Prolific", "USB-to-Serial");
    SerialPortLocal::getPortList();  // a second discovery adds no second record
    EXPECT_EQ(SerialPortLocal::getDriverInfoList(),
              (std::vector<PortDriverInfo>{{"COM3", "FTDI", "USB Serial Port"},
                                           {"COM7", "Prolific", "USB-to-Serial"}}));
    SerialPortLocal::clearPortListInfo();
    EXPECT_TRUE(SerialPortLocal::getDriverInfoList().empty());
}

TEST_F(PortListTest, DriverRecordsNeedThePlatformFeature) {
    CapturedDiagnostics quiet;
    ScopedSerialPlatform legacy("Windows 98", "x86");
    fake.port("COM1");
    SerialPortLocal::getPortList();
    EXPECT_THROW(
        {
            try {
                SerialPortLocal::getDriverInfoList();
            } catch (const IOError& e) {
                EXPECT_STREQ(e.what(), "Not supported on this platform");
                throw;
            }
        },
        IOError);
}

TEST_F(PortListTest, WithoutDiscoveryTheAddedNamesAreListedOrHintsPrinted) {
    SerialPortLocal::getPortList();
    CapturedDiagnostics printed;
    {
        ScopedSerialPlatform linux("Linux", "amd64");
        fake.port("/dev/ttyS0");
        EXPECT_TRUE(SerialPortLocal::getPortList().empty());
        SerialPortLocal::addPortName("/dev/ttyUSB0");
        EXPECT_EQ(SerialPortLocal::getPortList(), (Names{"/dev/ttyUSB0"}));
    }
    const std::string text = printed.text();
    for (const char* line :
         {"getPortList: port discovery not currently supported on this platform.\nOptions:\n"
          "A) addPortName can be used to build a list of device names \nB) ",
          "\nor SERIAL_PORT_LIST=/dev/ttyS0:/dev/ttyS1\n",
          "getPortList: using list created with addPortName\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_EQ(fake.calls("SerGetPortList"), 2);  // only the discoveries before the platform changed
}

}  // namespace
