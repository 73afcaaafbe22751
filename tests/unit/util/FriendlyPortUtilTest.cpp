#include <gtest/gtest.h>

#include "base/SystemProperties.h"
#include "serial/NativeLibrary.h"
#include "serial/SerialPortLocal.h"
#include "support/FakeNativeSerial.h"
#include "support/SerialTestSupport.h"
#include "util/FriendlyPortUtil.h"

using rszorvik::test::FakeNativeSerial;
using rszorvik::util::FriendlyPortUtil;
using Zivaraze::SerialPortLocal;

namespace {

class FriendlyPortUtilTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rszorvik::test::selectApplicationPlatform();
        rszorvik::base::SystemProperties::clear("SERIAL_PORT_LIST");
    }

    // The calling order of the port chooser.
    void refresh() {
        SerialPortLocal::clearPortListInfo();
        if (!SerialPortLocal::getPortList().empty()) FriendlyPortUtil::update();
    }

    FakeNativeSerial fake;
    Zivaraze::ScopedNativeApi guard{fake.api()};
};

TEST_F(FriendlyPortUtilTest, TranslatesBetweenPortNamesAndFriendlyNames) {
    EXPECT_FALSE(FriendlyPortUtil::portInfoListIsPopulated());
    EXPECT_TRUE(FriendlyPortUtil::getFriendlyPortList().empty());
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName("COM3"), "COM3");

    fake.port("COM3").info("FTDI", "USB Serial Port");
    fake.port("COM1").info("(Standard port types)", "Communications Port");
    refresh();
    EXPECT_TRUE(FriendlyPortUtil::portInfoListIsPopulated());
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortList(),
              (std::vector<std::string>{"COM3: USB Serial Port - FTDI",
                                        "COM1: Communications Port - (Standard port types)"}));

    struct Case {
        const char* in;
        const char* friendly;
        const char* unfriendly;
    };
    for (const Case& c : {Case{"COM3", "COM3: USB Serial Port - FTDI", "COM3"}, Case{"COM4", "COM4", "COM4"},
                          Case{"com3", "com3", "com3"},  // exact names only
                          Case{"COM3: USB Serial Port - FTDI", "COM3: USB Serial Port - FTDI", "COM3"},
                          Case{"COM3: USB Serial Port - ftdi", "COM3: USB Serial Port - ftdi",
                               "COM3: USB Serial Port - ftdi"}}) {
        EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName(c.in), c.friendly) << c.in;
        EXPECT_EQ(FriendlyPortUtil::getUnfriendlyPortName(c.in), c.unfriendly) << c.in;
    }
}

TEST_F(FriendlyPortUtilTest, FailedUpdateKeepsThePreviousSnapshot) {
    fake.port("COM3").info("FTDI", "USB Serial Port");
    refresh();
    fake.port("COM3").disappear();
    SerialPortLocal::getPortList();  // now empty
    try {
        FriendlyPortUtil::update();
        FAIL() << "updated without a port list";
    } catch (const Zivaraze::IOError& e) {
        EXPECT_STREQ(e.what(), "Must call SerialPortLocal.getPortList method first");
    }
    EXPECT_EQ(FriendlyPortUtil::getFriendlyPortName("COM3"), "COM3: USB Serial Port - FTDI");
}

}  // namespace
