#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "base/SystemProperties.h"
#include "serial/SerialConfig.h"

using rszorvik::base::SystemProperties;
using Zivaraze::SerialConfig;

namespace {

// The host name a record captures at construction.
class HostName {
  public:
    explicit HostName(const std::string& name) { SystemProperties::set("os.name", name); }
    ~HostName() { SystemProperties::clear("os.name"); }
};

TEST(SerialConfigTest, ConstructorsSetTheirDefaults) {
    HostName host("Windows 10");
    const SerialConfig named("COM3");
    EXPECT_EQ(named.getPort(), 0);
    EXPECT_EQ(named.getPortNameString(), "COM3");
    EXPECT_EQ(named.getPortName(), "COM3");
    EXPECT_EQ(named.getBaseName(), std::string(1, '\0'));
    EXPECT_EQ(named.getTxLen(), 4096);
    EXPECT_EQ(named.getRxLen(), 4096);
    EXPECT_TRUE(named.getHardFlow());
    EXPECT_FALSE(named.getDisableActiveLink());
    EXPECT_EQ(named.getSettingsString(), "9600 / NONE / 8 / 1 / NONE");

    const SerialConfig plain;
    EXPECT_EQ(plain.getPortNameString(), "COM1");
    EXPECT_EQ(plain.getBaseName(), "/dev/ttyS");

    const SerialConfig numbered(4, 512, 1024);
    EXPECT_EQ(numbered.getPort(), 4);
    EXPECT_EQ(numbered.getPortNameString(), "");
    EXPECT_EQ(numbered.getPortName(), std::string(1, '\0'));
    EXPECT_EQ(numbered.getBaseName(), "/dev/ttyS");
    EXPECT_EQ(numbered.getTxLen(), 512);
    EXPECT_EQ(numbered.getRxLen(), 1024);
}

struct SetterCase {
    const char* host;
    std::function<void(SerialConfig&, int)> set;
    std::function<int(const SerialConfig&)> get;
    int value;
    const char* message;  // nullptr: accepted
};

class SerialConfigSetterTest : public ::testing::TestWithParam<SetterCase> {};

TEST_P(SerialConfigSetterTest, AcceptsOrRefusesKeepingTheOldValue) {
    const auto& c = GetParam();
    HostName host(c.host);
    SerialConfig config("COM1");
    const int before = c.get(config);
    if (c.message == nullptr) {
        c.set(config, c.value);
        EXPECT_EQ(c.get(config), c.value);
        return;
    }
    try {
        c.set(config, c.value);
        FAIL() << "accepted " << c.value;
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(c.get(config), before);
}

const auto bitRate = [](SerialConfig& c, int v) { c.setBitRate(v); };
const auto getBitRate = [](const SerialConfig& c) { return c.getBitRate(); };
const auto parity = [](SerialConfig& c, int v) { c.setParity(v); };
const auto getParity = [](const SerialConfig& c) { return c.getParity(); };
const auto dataBits = [](SerialConfig& c, int v) { c.setDataBits(v); };
const auto getDataBits = [](const SerialConfig& c) { return c.getDataBits(); };
const auto stopBits = [](SerialConfig& c, int v) { c.setStopBits(v); };
const auto getStopBits = [](const SerialConfig& c) { return c.getStopBits(); };
const auto handshake = [](SerialConfig& c, int v) { c.setHandshake(v); };
const auto getHandshake = [](const SerialConfig& c) { return c.getHandshake(); };
const auto portNum = [](SerialConfig& c, int v) { c.setPortNum(v); };
const auto getPort = [](const SerialConfig& c) { return c.getPort(); };
const auto rxLen = [](SerialConfig& c, int v) { c.setRxLen(v); };
const auto getRxLen = [](const SerialConfig& c) { return c.getRxLen(); };
const auto txLen = [](SerialConfig& c, int v) { c.setTxLen(v); };
const auto getTxLen = [](const SerialConfig& c) { return c.getTxLen(); };

INSTANTIATE_TEST_SUITE_P(
    Setters, SerialConfigSetterTest,
    ::testing::Values(SetterCase{"Windows 10", bitRate, getBitRate, 921600, nullptr},
                      SetterCase{"Windows 10", bitRate, getBitRate, 0, nullptr},
                      SetterCase{"Windows 10", bitRate, getBitRate, 20, nullptr},
                      SetterCase{"Windows 10", bitRate, getBitRate, 921601, "Invalid Serial Port Bit Rate"},
                      SetterCase{"Windows 10", bitRate, getBitRate, -1, "Invalid Serial Port Bit Rate"},
                      SetterCase{"Windows 10", parity, getParity, 4, nullptr},
                      SetterCase{"Windows 10", parity, getParity, 5, "Invalid Serial Port Parity"},
                      SetterCase{"Windows 10", parity, getParity, -1, "Invalid Serial Port Parity"},
                      SetterCase{"Windows 10", dataBits, getDataBits, 0, nullptr},
                      SetterCase{"Windows 10", dataBits, getDataBits, 4, "Invalid Serial Port Data Bits"},
                      SetterCase{"Windows 10", stopBits, getStopBits, 1, nullptr},
                      SetterCase{"Windows 10", stopBits, getStopBits, 2, "Invalid Serial Port Stop Bits"},
                      SetterCase{"Windows 10", handshake, getHandshake, 2, nullptr},
                      SetterCase{"Windows 10", handshake, getHandshake, 0x30, nullptr},
                      SetterCase{"Windows 10", handshake, getHandshake, 0xF0, nullptr},
                      SetterCase{"Windows 10", handshake, getHandshake, 3,
                                 "DSRDTR handshaking not available on this platform"},
                      SetterCase{"Windows", handshake, getHandshake, 3,
                                 "DSRDTR handshaking not available on this platform"},
                      SetterCase{"Windows 7", handshake, getHandshake, 3, nullptr},
                      SetterCase{"OS/2", handshake, getHandshake, 3, nullptr},
                      SetterCase{"Windows 10", handshake, getHandshake, 4, "Invalid Serial Port Handshake"},
                      SetterCase{"Windows 10", handshake, getHandshake, 15, "Invalid Serial Port Handshake"},
                      SetterCase{"Windows 10", handshake, getHandshake, 0x100,
                                 "Invalid Serial Port Handshake"},
                      SetterCase{"Windows 10", handshake, getHandshake, -1, "Invalid Serial Port Handshake"},
                      SetterCase{"Windows 10", portNum, getPort, 7, nullptr},
                      SetterCase{"Windows 10", portNum, getPort, -2, "Invalid Port Number: -2"},
                      SetterCase{"EPOC", portNum, getPort, -1, nullptr},
                      SetterCase{"Windows 10", rxLen, getRxLen, 65536, nullptr},
                      SetterCase{"EPOC", rxLen, getRxLen, 8193, "Limited to 8192 on EPOC"},
                      SetterCase{"EPOC", txLen, getTxLen, 8192, nullptr},
                      SetterCase{"EPOC", txLen, getTxLen, 8193, "Limited to 8192 on EPOC"}));

struct SummaryCase {
    const char* host;
    int bitRate, parity, dataBits, stopBits, handshake;
    const char* summary;
};

class SerialConfigSummaryTest : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(SerialConfigSummaryTest, ListsRateParityBitsAndHandshake) {
    const auto& c = GetParam();
    HostName host(c.host);
    SerialConfig config("COM1");
    config.setBitRate(c.bitRate);
    config.setParity(c.parity);
    config.setDataBits(c.dataBits);
    config.setStopBits(c.stopBits);
    config.setHandshake(c.handshake);
    EXPECT_EQ(config.getSettingsString(), c.summary);
}

INSTANTIATE_TEST_SUITE_P(
    Summaries, SerialConfigSummaryTest,
    ::testing::Values(SummaryCase{"Windows 10", 7, 0, 3, 0, 0, "9600 / NONE / 8 / 1 / NONE"},
                      SummaryCase{"Windows 10", 7, 4, 3, 0, 0, "9600 / SPACE / 8 / 1 / NONE"},
                      SummaryCase{"Windows 10", 0, 1, 0, 1, 1, "110 / ODD / 5 / 2 / XON-XOFF"},
                      SummaryCase{"Windows 10", 14, 2, 2, 0, 2, "921600 / EVEN / 7 / 1 / CTS-RTS"},
                      SummaryCase{"Mac OS", 7, 3, 1, 0, 2, "9600 / MARK / 6 / 1 / CTS-DTR"},
                      SummaryCase{"Windows 7", 7, 0, 3, 0, 3, "9600 / NONE / 8 / 1 / DSR-DTR"},
                      SummaryCase{"Windows 10", 7, 0, 3, 0, 0x30, "9600 / NONE / 8 / 1 /  HI HO"},
                      SummaryCase{"Windows 10", 7, 0, 3, 0, 0xC0, "9600 / NONE / 8 / 1 /  SI SO"},
                      SummaryCase{"Windows 10", 14400, 0, 3, 0, 0, "14400 / NONE / 8 / 1 / NONE"}));

TEST(SerialConfigTest, BitRateCodesAreIndexesUpToFourteenAndRatesAboveThirty) {
    SerialConfig config("COM1");
    config.setBitRate(9600);
    EXPECT_EQ(config.getBitRateNumber(0), 9600);  // a literal wins over any index
    EXPECT_EQ(config.getBitRateNumber(14), 9600);
    EXPECT_FALSE(config.validBitRateIndex());
    EXPECT_EQ(SerialConfig::getBitRateIndex(9600), 7);
    EXPECT_EQ(SerialConfig::getBitRateIndex(110), 0);
    EXPECT_EQ(SerialConfig::getBitRateIndex(921600), 14);
    EXPECT_EQ(SerialConfig::getBitRateIndex(14400), -1);
    EXPECT_EQ(SerialConfig::getBitRateIndex(7), -1);

    config.setBitRate(SerialConfig::BR_115200);
    EXPECT_TRUE(config.validBitRateIndex());
    EXPECT_EQ(config.getBitRateNumber(config.getBitRate()), 115200);
    // 15-30 pass the setter but are neither an index nor a rate: asking for their rate is refused,
    // not an out-of-range read.
    config.setBitRate(20);
    EXPECT_FALSE(config.validBitRateIndex());
    EXPECT_THROW(config.getBitRateNumber(20), std::invalid_argument);
}

TEST(SerialConfigTest, CopyIsIndependentOfTheOriginal) {
    SerialConfig original("COM5");
    original.setParity(SerialConfig::PY_EVEN);
    SerialConfig copy = original.copy();
    copy.setPortName("COM6");
    copy.setParity(SerialConfig::PY_ODD);
    EXPECT_EQ(original.getPortNameString(), "COM5");
    EXPECT_EQ(original.getParity(), SerialConfig::PY_EVEN);
    EXPECT_EQ(copy.getPortName(), "COM6");
}

}  // namespace
