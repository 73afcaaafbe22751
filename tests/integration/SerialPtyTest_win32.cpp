// The Windows module on COM ports that are Linux pseudo-terminals under Wine: what only Windows names
// and refuses.

#include <gtest/gtest.h>

#include <string>

#include "serial/SerialPortLocal.h"
#include "support/SerialPtyFixture.h"
#include "support/SerialTestSupport.h"
#include "support/TempDir.h"

using rszorvik::test::ioErrorOf;
using rszorvik::test::SerialPtyTest;
using Zivaraze::SerialConfig;
using Zivaraze::SerialPortLocal;

namespace {

// Every frame format and handshake the settings offer is one the driver takes; DSR/DTR flow control,
// which termios lacks, included.
TEST_F(SerialPtyTest, ConfiguresEveryBitRateFrameFormatAndHandshake) {
    auto config = configFor(pty.path());
    SerialPortLocal port(config);
    int combinations = 0;
    for (int rate = SerialConfig::BR_110; rate <= SerialConfig::BR_921600; ++rate) {
        for (int bits = SerialConfig::LN_5BITS; bits <= SerialConfig::LN_8BITS; ++bits) {
            for (int parity = SerialConfig::PY_NONE; parity <= SerialConfig::PY_SPACE; ++parity) {
                for (int stop = SerialConfig::ST_1BITS; stop <= SerialConfig::ST_2BITS; ++stop) {
                    config->setBitRate(rate);
                    config->setDataBits(bits);
                    config->setParity(parity);
                    config->setStopBits(stop);
                    ASSERT_NO_THROW(port.configure()) << config->getSettingsString();
                    ++combinations;
                }
            }
        }
    }
    EXPECT_EQ(combinations, 15 * 4 * 5 * 2);
    // The handshakes on 9600 8N1: with parity on, Wine refuses flow control on a pseudo-terminal (and every
    // change after that refusal), which a Windows driver does not.
    config->setBitRate(SerialConfig::BR_9600);
    config->setParity(SerialConfig::PY_NONE);
    config->setStopBits(SerialConfig::ST_1BITS);
    port.configure();
    for (int handshake :
         {SerialConfig::HS_NONE, SerialConfig::HS_XONXOFF, SerialConfig::HS_CTSRTS, SerialConfig::HS_DSRDTR,
          SerialConfig::HS_HARD_IN | SerialConfig::HS_SOFT_OUT, SerialConfig::HS_SOFT_IN}) {
        config->setHandshake(handshake);
        EXPECT_NO_THROW(port.configure()) << handshake;
    }
    port.putString("still here");
    EXPECT_EQ(pty.receive(10), "still here");
}

TEST_F(SerialPtyTest, OpenFailuresCarryTheirMessages) {
    EXPECT_EQ(ioErrorOf([&] { SerialPortLocal port(configFor("COM199")); }),
              "COM199: SerOpenPort failed: 2: No such file or directory");
    // A file and a device that are no serial ports open, and are refused.
    rszorvik::test::TempDir dir;
    const std::string file = (dir / "not-a-port.txt").string();
    rszorvik::test::writeFile(file, "x");
    for (const std::string& name : {file, std::string("NUL")})
        EXPECT_EQ(ioErrorOf([&] { SerialPortLocal port(configFor(name)); }),
                  name + ": SerOpenPort failed: Port not valid");

    SerialPortLocal first(configFor(pty.path()));
    // The same port under another spelling is the same port.
    std::string lower = pty.path();
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& name : {pty.path(), lower, "\\\\.\\" + pty.path()})
        EXPECT_EQ(ioErrorOf([&] { SerialPortLocal second(configFor(name)); }),
                  name + ": SerOpenPort failed: Port is already open");
}

}  // namespace
