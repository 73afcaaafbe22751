#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <thread>
#include <vector>

#include "base/SystemProperties.h"
#include "serial/FlowControlTask.h"
#include "serial/NativeLibrary.h"
#include "serial/SerialPortLocal.h"
#include "support/FakeNativeSerial.h"
#include "support/ManualClock.h"
#include "support/SerialTestSupport.h"

using rszorvik::base::SystemProperties;
using rszorvik::test::CapturedDiagnostics;
using rszorvik::test::FakeNativeSerial;
using rszorvik::test::ioErrorOf;
using rszorvik::test::LineRule;
using rszorvik::test::ManualClock;
using rszorvik::test::ScopedSerialPlatform;
using Zivaraze::FlowControlTask;
using Zivaraze::IOError;
using Zivaraze::SerialConfig;
using Zivaraze::SerialPortLocal;

namespace {

// Waits (bounded) until the condition holds; the bound only guards against a hang.
bool eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class SerialPortLocalTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { rszorvik::test::selectApplicationPlatform(); }

    std::shared_ptr<SerialConfig> configFor(const std::string& name) {
        fake.port(name);
        return std::make_shared<SerialConfig>(name);
    }

    FakeNativeSerial fake;
    Zivaraze::ScopedNativeApi guard{fake.api()};
};

struct OpenFailureCase {
    std::int32_t code;
    const char* message;
};

class OpenFailureTest : public SerialPortLocalTest, public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(OpenFailureTest, ConstructorThrowsTheMessageForTheCode) {
    fake.port("COM3").failOpen(GetParam().code);
    EXPECT_EQ(ioErrorOf([&] { SerialPortLocal sp(std::make_shared<SerialConfig>("COM3")); }),
              GetParam().message);
    EXPECT_FALSE(fake.port("COM3").isOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Codes, OpenFailureTest,
    ::testing::Values(OpenFailureCase{1000, "COM3: SerOpenPort failed: Port is already open"},
                      OpenFailureCase{1002, "COM3: SerOpenPort failed: Port is in use"},
                      OpenFailureCase{1003, "COM3: SerOpenPort failed: Port not valid"},
                      OpenFailureCase{1004, "COM3: SerOpenPort failed: 2: No such file or directory"},
                      OpenFailureCase{1006, "COM3: SerOpenPort failed: Permission denied"},
                      OpenFailureCase{1007, "COM3: SerOpenPort failed: Device busy"},
                      OpenFailureCase{1008, "COM3: SerOpenPort failed: 19: No such device"},
                      OpenFailureCase{1234, "COM3: SerOpenPort failed: : 1234"}));

TEST_F(SerialPortLocalTest, OpenWritesThePortNumberIntoTheSharedRecordAndConfigures) {
    auto config = configFor("COM3");
    config->setBitRate(9600);  // a literal rate from the table is stored as its index
    config->setParity(SerialConfig::PY_MARK);
    SerialPortLocal sp(config);
    EXPECT_TRUE(sp.isOpen());
    EXPECT_EQ(config->getPort(), 1);
    EXPECT_EQ(sp.getPortNum(), 0);
    EXPECT_EQ(sp.getPortName(), "COM3");
    EXPECT_EQ(config->getBitRate(), SerialConfig::BR_9600);
    EXPECT_FALSE(config->getHardFlow());  // only one legacy host runs its own flow control
    const ZspConfig sent = fake.port("COM3").lastConfig();
    EXPECT_EQ(sent.port, 1);
    EXPECT_EQ(sent.bitRate, SerialConfig::BR_9600);
    EXPECT_EQ(sent.parity, SerialConfig::PY_MARK);
    EXPECT_EQ(sent.hardFlow, 0);
    EXPECT_EQ(fake.port("COM3").timeoutRx(), 0);
    EXPECT_EQ(sp.getTimeoutRx(), 0);
}

struct TimeoutCase {
    int bitRate;
    int txLen;
    int expected;
};

class TransmitTimeoutTest : public SerialPortLocalTest, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(TransmitTimeoutTest, CoversTheTransmitBufferAtTheLineRate) {
    auto config = configFor("COM1");
    config->setBitRate(GetParam().bitRate);
    config->setTxLen(GetParam().txLen);
    SerialPortLocal sp(config);
    EXPECT_EQ(fake.port("COM1").timeoutTx(), GetParam().expected);
    EXPECT_EQ(sp.getTimeoutTx(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Rates, TransmitTimeoutTest,
                         ::testing::Values(TimeoutCase{SerialConfig::BR_9600, 4096, 426300},
                                           TimeoutCase{SerialConfig::BR_110, 4096, 37236300},
                                           TimeoutCase{SerialConfig::BR_921600, 4096, 4000},
                                           TimeoutCase{SerialConfig::BR_9600, 0, 0},
                                           TimeoutCase{SerialConfig::BR_9600, 2000000000,
                                                       INT_MAX}));  // no overflow

struct RefusedCase {
    int bitRate;
    int parity;
    std::int32_t configureCode;
    const char* message;
};

class RefusedConfigurationTest : public SerialPortLocalTest,
                                 public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedConfigurationTest, FailsTheConstructorAndLeavesNothingOpen) {
    const auto& c = GetParam();
    auto config = configFor("COM2");
    config->setBitRate(c.bitRate);
    config->setParity(c.parity);
    fake.port("COM2").failConfigure(c.configureCode);
    EXPECT_EQ(ioErrorOf([&] { SerialPortLocal sp(config); }), c.message);
    EXPECT_FALSE(fake.port("COM2").isOpen());
}

INSTANTIATE_TEST_SUITE_P(Settings, RefusedConfigurationTest,
                         ::testing::Values(RefusedCase{14400, 0, 0, "Unsupported Serial Port Bit Rate"},
                                           RefusedCase{20, 0, 0, "Unsupported Serial Port Bit Rate"},
                                           RefusedCase{SerialConfig::BR_9600, 0, 1009,
                                                       "Configure failed: 1009"}));

TEST_F(SerialPortLocalTest, MarkAndSpaceParityNeedThePlatformFeature) {
    ScopedSerialPlatform mac("Mac OS", "ppc");
    auto config = configFor("Modem Port");
    config->setParity(SerialConfig::PY_SPACE);
    EXPECT_EQ(ioErrorOf([&] { SerialPortLocal sp(config); }), "Unsupported Mark/Space parity");
    config->setParity(SerialConfig::PY_EVEN);
    SerialPortLocal sp(config);
    EXPECT_EQ(fake.port("Modem Port").timeoutRx(), 2000);
    EXPECT_EQ(fake.port("Modem Port").timeoutTx(), 2000);
}

struct ClosedCase {
    const char* name;
    std::function<void(SerialPortLocal&)> call;
    const char* message;
};

class ClosedPortTest : public SerialPortLocalTest, public ::testing::WithParamInterface<ClosedCase> {};

TEST_P(ClosedPortTest, ChecksTheHandleBeforeCallingTheLibrary) {
    SerialPortLocal sp;
    EXPECT_EQ(ioErrorOf([&] { GetParam().call(sp); }), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ClosedPortTest,
    ::testing::Values(
        ClosedCase{"setDTR", [](SerialPortLocal& p) { p.setDTR(true); }, "setDTR: Port not open"},
        ClosedCase{"setRTS", [](SerialPortLocal& p) { p.setRTS(true); }, "setRTS: Port not open"},
        ClosedCase{"sendBreak", [](SerialPortLocal& p) { p.sendBreak(100); }, "sendBreak: Port not open"},
        ClosedCase{"sigCTS", [](SerialPortLocal& p) { p.sigCTS(); }, "sigCTS: Port not open"},
        ClosedCase{"sigDSR", [](SerialPortLocal& p) { p.sigDSR(); }, "sigDSR: Port not open"},
        ClosedCase{"sigCD", [](SerialPortLocal& p) { p.sigCD(); }, "sigCD: Port not open"},
        ClosedCase{"sigRing", [](SerialPortLocal& p) { p.sigRing(); }, "sigRing: Port not open"},
        ClosedCase{"sigBreak", [](SerialPortLocal& p) { p.sigBreak(); }, "sigBreak: Port not open"},
        ClosedCase{"sigFrameErr", [](SerialPortLocal& p) { p.sigFrameErr(); }, "sigFrameErr: Port not open"},
        ClosedCase{"sigOverrun", [](SerialPortLocal& p) { p.sigOverrun(); }, "sigOverrun: Port not open"},
        ClosedCase{"sigParityErr", [](SerialPortLocal& p) { p.sigParityErr(); },
                   "sigParityErr: Port not open"},
        ClosedCase{"rxOverflow", [](SerialPortLocal& p) { p.rxOverflow(); }, "rxOverflow: Port not open"},
        ClosedCase{"txBufCount", [](SerialPortLocal& p) { p.txBufCount(); }, "txBufCount: Port not open"},
        ClosedCase{"configure", [](SerialPortLocal& p) { p.configure(); }, "configure: Port is not open"},
        ClosedCase{"reset", [](SerialPortLocal& p) { p.reset(); }, "reset: Port is not open"}),
    [](const auto& param) { return std::string(param.param.name); });

struct UnsupportedCase {
    const char* osName;
    const char* osArch;
    std::function<void(SerialPortLocal&)> call;
    const char* message;
};

class UnsupportedTest : public SerialPortLocalTest, public ::testing::WithParamInterface<UnsupportedCase> {};

TEST_P(UnsupportedTest, NamesThePlatform) {
    const auto& c = GetParam();
    CapturedDiagnostics quiet;  // the platform has no library here; its load messages are expected
    ScopedSerialPlatform platform(c.osName, c.osArch);
    SerialPortLocal sp;
    EXPECT_EQ(ioErrorOf([&] { c.call(sp); }), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Platforms, UnsupportedTest,
    ::testing::Values(UnsupportedCase{"Irix", "mips", [](SerialPortLocal& p) { p.setDTR(true); },
                                      "setDTR not supported on Irix"},
                      UnsupportedCase{"Irix", "mips", [](SerialPortLocal& p) { p.setRTS(true); },
                                      "setRts not supported on Irix"},
                      UnsupportedCase{"EPOC", "x86", [](SerialPortLocal& p) { p.sendBreak(1); },
                                      "sendBreak not supported on EPOC"},
                      UnsupportedCase{"EPOC", "x86", [](SerialPortLocal& p) { p.sigRing(); },
                                      "sigRing not supported on EPOC"},
                      UnsupportedCase{"Linux", "amd64", [](SerialPortLocal& p) { p.rxOverflow(); },
                                      "rxOverflow not supported on Linux"},
                      UnsupportedCase{"Linux", "amd64", [](SerialPortLocal& p) { p.sigFrameErr(); },
                                      "sigFrameErr not supported on Linux"},
                      UnsupportedCase{"Mac OS X", "ppc", [](SerialPortLocal& p) { p.sigBreak(); },
                                      "sigBreak not supported on Mac OS X"},
                      UnsupportedCase{"Mac OS", "ppc", [](SerialPortLocal& p) { p.sigCD(); },
                                      "sigCD not supported on Mac OS"},
                      UnsupportedCase{"Windows 95", "x86", [](SerialPortLocal& p) { p.resetPortDriver(1); },
                                      "resetPortDriver not supported on Windows 95"}));

struct VanishedCase {
    const char* name;
    std::function<void(SerialPortLocal&)> call;
    const char* message;
};

class VanishedDeviceTest : public SerialPortLocalTest, public ::testing::WithParamInterface<VanishedCase> {};

TEST_P(VanishedDeviceTest, ReportsTheNativeFailure) {
    SerialPortLocal sp(configFor("COM7"));
    fake.port("COM7").disappear();
    EXPECT_EQ(ioErrorOf([&] { GetParam().call(sp); }), GetParam().message);
    EXPECT_NO_THROW(sp.close());
    EXPECT_FALSE(fake.port("COM7").isOpen());
}

const std::vector<std::uint8_t> kThree = {1, 2, 3};

INSTANTIATE_TEST_SUITE_P(
    Operations, VanishedDeviceTest,
    ::testing::Values(
        VanishedCase{"setDTR", [](SerialPortLocal& p) { p.setDTR(true); }, "setDTR failed"},
        VanishedCase{"setRTS", [](SerialPortLocal& p) { p.setRTS(false); }, "setRTS failed"},
        VanishedCase{"sendBreak", [](SerialPortLocal& p) { p.sendBreak(10); }, "sendBreak failed"},
        VanishedCase{"sigCTS", [](SerialPortLocal& p) { p.sigCTS(); }, "sigCTS failed"},
        VanishedCase{"sigDSR", [](SerialPortLocal& p) { p.sigDSR(); }, "sigDSR failed"},
        VanishedCase{"sigCD", [](SerialPortLocal& p) { p.sigCD(); }, "sigCD failed"},
        VanishedCase{"sigFrameErr", [](SerialPortLocal& p) { p.sigFrameErr(); }, "sigFrameErr failed"},
        VanishedCase{"sigOverrun", [](SerialPortLocal& p) { p.sigOverrun(); }, "sigOverrun failed"},
        VanishedCase{"sigParityErr", [](SerialPortLocal& p) { EXPECT_FALSE(p.sigParityErr()); },
                     "(no error)"},
        VanishedCase{"sigRing", [](SerialPortLocal& p) { EXPECT_FALSE(p.sigRing()); }, "(no error)"},
        VanishedCase{"getByte", [](SerialPortLocal& p) { EXPECT_EQ(p.getByte(), -1); }, "(no error)"},
        VanishedCase{"rxOverflow", [](SerialPortLocal& p) { p.rxOverflow(); }, "rxOverflow failed"},
        VanishedCase{"txBufCount", [](SerialPortLocal& p) { p.txBufCount(); }, "txBufCount failed"},
        VanishedCase{"rxReadyCount", [](SerialPortLocal& p) { p.rxReadyCount(); }, "rxReadyCount failed"},
        VanishedCase{"rxFlush", [](SerialPortLocal& p) { p.rxFlush(); }, "rxFlush failed"},
        VanishedCase{"txFlush", [](SerialPortLocal& p) { p.txFlush(); }, "txFlush failed"},
        VanishedCase{"txDrain", [](SerialPortLocal& p) { p.txDrain(); }, "txDrain failed"},
        VanishedCase{"setTimeoutRx", [](SerialPortLocal& p) { p.setTimeoutRx(5); }, "setTimeoutRx failed"},
        VanishedCase{"setTimeoutTx", [](SerialPortLocal& p) { p.setTimeoutTx(5); }, "setTimeoutTx failed"},
        VanishedCase{"getData",
                     [](SerialPortLocal& p) {
                         std::uint8_t buffer[4];
                         p.getData(buffer);
                     },
                     "getData: failed"},
        VanishedCase{"putByte", [](SerialPortLocal& p) { p.putByte(7); }, "PutByte failed: 1008"},
        VanishedCase{"putData", [](SerialPortLocal& p) { p.putData(kThree); },
                     "PutData1: Sent only 0 of 3 bytes"},
        VanishedCase{"putString", [](SerialPortLocal& p) { p.putString("ok"); },
                     "PutString: sent only 0 of 2 bytes"},
        VanishedCase{"configure", [](SerialPortLocal& p) { p.configure(); }, "Configure failed: 1008"},
        VanishedCase{"reset", [](SerialPortLocal& p) { p.reset(); }, "reset: SerOpenPort failed: 1008"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(SerialPortLocalTest, ResetAfterTheDeviceVanishedReportsTheResetMessage) {
    // reset() builds its own message; the constructor's open message is not reused.
    SerialPortLocal sp(configFor("COM8"));
    fake.port("COM8").failOpen(1007);
    EXPECT_EQ(ioErrorOf([&] { sp.reset(); }), "reset: SerOpenPort failed: 1007");
    EXPECT_FALSE(sp.isOpen());
}

class ErrorEvents : public Zivaraze::ErrorStatusHandler {
  public:
    void sioErrorEvent(int code) override { codes.push_back(code); }
    std::vector<int> codes;
};

TEST_F(SerialPortLocalTest, ReadyCountFailureGoesToTheErrorHandlerWhenOneIsSet) {
    SerialPortLocal sp(configFor("COM9"));
    fake.port("COM9").receive("abc");
    EXPECT_EQ(sp.rxReadyCount(), 3);
    ErrorEvents events;
    sp.setErrorStatusHandler(&events);
    fake.port("COM9").disappear();
    EXPECT_EQ(sp.rxReadyCount(), -1);
    EXPECT_EQ(events.codes, std::vector<int>{10});
}

struct WriteCase {
    const char* name;
    std::int32_t accepted;  // -1: everything
    std::function<void(SerialPortLocal&)> call;
    const char* message;
    const char* sent;
};

class WriteTest : public SerialPortLocalTest, public ::testing::WithParamInterface<WriteCase> {};

const std::vector<std::uint8_t> kTen = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};

TEST_P(WriteTest, ChecksBoundsAndShortWrites) {
    const auto& c = GetParam();
    SerialPortLocal sp(configFor("COM5"));
    fake.port("COM5").acceptAtMost(c.accepted);
    EXPECT_EQ(ioErrorOf([&] { c.call(sp); }), c.message);
    EXPECT_EQ(fake.port("COM5").sent(), c.sent);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, WriteTest,
    ::testing::Values(
        WriteCase{"all", -1, [](SerialPortLocal& p) { p.putData(kTen); }, "(no error)", "0123456789"},
        WriteCase{"count", -1, [](SerialPortLocal& p) { p.putData(kTen, 4); }, "(no error)", "0123"},
        WriteCase{"slice", -1, [](SerialPortLocal& p) { p.putData(kTen, 8, 2); }, "(no error)", "89"},
        WriteCase{"countTooLarge", -1, [](SerialPortLocal& p) { p.putData(kTen, 11); },
                  "putData: count out of bounds", ""},
        WriteCase{"countNegative", -1, [](SerialPortLocal& p) { p.putData(kTen, -1); },
                  "putData: count out of bounds", ""},
        WriteCase{"sliceTooLarge", -1, [](SerialPortLocal& p) { p.putData(kTen, 8, 3); },
                  "putData3: count out of bounds", ""},
        WriteCase{"sliceNegative", -1, [](SerialPortLocal& p) { p.putData(kTen, -1, 2); },
                  "putData3: count out of bounds", ""},
        WriteCase{"short1", 4, [](SerialPortLocal& p) { p.putData(kTen); },
                  "PutData1: Sent only 4 of 10 bytes", "0123"},
        WriteCase{"short2", 4, [](SerialPortLocal& p) { p.putData(kTen, 6); },
                  "PutData2: Sent only 4 of 6 bytes", "0123"},
        WriteCase{"short3", 4, [](SerialPortLocal& p) { p.putData(kTen, 2, 6); },
                  "putData3: Sent only 4 of 6 bytes", "2345"},
        WriteCase{"shortString", 4, [](SerialPortLocal& p) { p.putString("hello"); },
                  "PutString: sent only 4 of 5 bytes", "hell"},
        WriteCase{"byte", -1, [](SerialPortLocal& p) { p.putByte(0xFF); }, "(no error)", "\xFF"},
        WriteCase{"byteRefused", 0, [](SerialPortLocal& p) { p.putByte(1); }, "PutByte failed: 1012", ""}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(SerialPortLocalTest, EmptyWritesNeverReachTheLibraryAndLeaveTheActivityFlag) {
    SerialPortLocal sp(configFor("COM5"));
    sp.putData(std::span<const std::uint8_t>());
    sp.putString("");
    EXPECT_EQ(fake.calls("SerPutData"), 0);
    EXPECT_FALSE(sp.sendSinceTxBufEmpty());
    fake.port("COM5").acceptAtMost(0);
    EXPECT_THROW(sp.putString("x"), IOError);
    EXPECT_TRUE(sp.sendSinceTxBufEmpty());  // set even by a write that failed
    sp.clearSendSinceTxBufEmpty();
    EXPECT_FALSE(sp.sendSinceTxBufEmpty());
}

TEST_F(SerialPortLocalTest, ReadsBytesAndBlocksWithinTheBuffer) {
    SerialPortLocal sp(configFor("COM6"));
    EXPECT_EQ(sp.getByte(), -1);
    EXPECT_TRUE(sp.readSinceRxBufCheck());
    sp.clearReadSinceRxBufCheck();
    fake.port("COM6").receive("abcdefg");
    EXPECT_EQ(sp.getByte(), 'a');
    EXPECT_TRUE(sp.readSinceRxBufCheck());

    std::uint8_t buffer[4] = {'-', '-', '-', '-'};
    // From offset 1 only three bytes fit, whatever count asks for; none may be lost or overrun.
    EXPECT_EQ(sp.getData(buffer, 1, 10), 3);
    EXPECT_EQ(std::string(buffer, buffer + 4), "-bcd");
    EXPECT_EQ(ioErrorOf([&] { sp.getData(buffer, 5, 1); }), "getData: count out of bounds");
    EXPECT_EQ(ioErrorOf([&] { sp.getData(buffer, 0, -1); }), "getData: count out of bounds");
    EXPECT_EQ(sp.getData(buffer), 3);
    EXPECT_EQ(std::string(buffer, buffer + 3), "efg");
    EXPECT_EQ(sp.getData(buffer), 0);
}

TEST_F(SerialPortLocalTest, ErrorSignalsBelongToTheByteThatCarriedThem) {
    SerialPortLocal sp(configFor("COM4"));
    auto& port = fake.port("COM4");
    port.receive("A");
    port.receiveWithParityError('B');
    port.receiveWithFramingError('C');
    EXPECT_EQ(sp.getByte(), 'A');
    EXPECT_FALSE(sp.sigParityErr());
    EXPECT_FALSE(sp.sigFrameErr());
    EXPECT_EQ(sp.getByte(), 'B');
    EXPECT_TRUE(sp.sigParityErr());
    EXPECT_FALSE(sp.sigParityErr());  // reported once
    EXPECT_FALSE(sp.sigFrameErr());
    EXPECT_EQ(sp.getByte(), 'C');
    EXPECT_TRUE(sp.sigFrameErr());
    port.receiveBreak();
    port.overrun();
    EXPECT_TRUE(sp.sigBreak());
    EXPECT_TRUE(sp.sigOverrun());
    EXPECT_FALSE(sp.sigBreak());
}

TEST_F(SerialPortLocalTest, InputLinesFollowTheScriptedRules) {
    fake.port("COM3").dsr(LineRule::FollowDtr).cts(LineRule::FollowRts).cd(LineRule::On);
    SerialPortLocal sp(configFor("COM3"));
    EXPECT_FALSE(sp.sigDSR());
    EXPECT_FALSE(sp.sigCTS());
    EXPECT_TRUE(sp.sigCD());
    EXPECT_FALSE(sp.sigRing());
    sp.setDTR(true);
    EXPECT_TRUE(sp.sigDSR());
    EXPECT_FALSE(sp.sigCTS());
    sp.setRTS(true);
    EXPECT_TRUE(sp.sigCTS());
    sp.setDTR(false);
    EXPECT_FALSE(sp.sigDSR());
    EXPECT_EQ(fake.port("COM3").outputHistory(), (std::vector<std::string>{"DTR=1", "RTS=1", "DTR=0"}));
}

TEST_F(SerialPortLocalTest, CloseTwiceAndResetKeepTheTransmitTimeout) {
    auto config = configFor("COM2");
    SerialPortLocal sp(config);
    sp.setTimeoutTx(1234);
    sp.setTimeoutRx(55);
    sp.putByte(1);
    sp.reset();
    EXPECT_TRUE(sp.isOpen());
    EXPECT_EQ(fake.port("COM2").openCount(), 2);
    EXPECT_EQ(sp.getTimeoutTx(), 1234);
    EXPECT_EQ(sp.getTimeoutRx(), 0);  // a reopened port reads without waiting again
    EXPECT_FALSE(sp.sendSinceTxBufEmpty());
    EXPECT_EQ(fake.calls("SerConfigure"), 2);

    sp.close();
    EXPECT_FALSE(sp.isOpen());
    EXPECT_EQ(sp.getPortNum(), -1);
    EXPECT_FALSE(fake.port("COM2").isOpen());
    EXPECT_NO_THROW(sp.close());
    EXPECT_EQ(fake.calls("SerClosePort"), 2);  // once for the reset, once here
}

TEST_F(SerialPortLocalTest, SecondPortOnTheSameDeviceIsRefusedAndDestructorCloses) {
    {
        SerialPortLocal first(configFor("COM1"));
        EXPECT_EQ(ioErrorOf([&] { SerialPortLocal second(std::make_shared<SerialConfig>("COM1")); }),
                  "COM1: SerOpenPort failed: Port is already open");
        EXPECT_TRUE(fake.port("COM1").isOpen());
    }
    EXPECT_FALSE(fake.port("COM1").isOpen());
}

TEST_F(SerialPortLocalTest, SetConfigOnAClosedPortTakesTheHandleAndTheDeviceName) {
    SerialPortLocal sp;
    auto config = std::make_shared<SerialConfig>("COM12");
    config->setPortNum(5);
    sp.setConfig(config);
    EXPECT_EQ(config->getPort(), 0);  // handle -1 + 1
    EXPECT_EQ(sp.getConfig(), config);
    EXPECT_EQ(sp.getDevName(), "COM12");
    sp.setPortName("COM13");
    EXPECT_EQ(config->getPortNameString(), "COM13");
}

TEST_F(SerialPortLocalTest, ClassWideFacilitiesFollowTheFeatureTable) {
    SerialPortLocal sp(configFor("COM3"));
    EXPECT_EQ(SerialPortLocal::getBuildNum(), 9233);
    EXPECT_EQ(SerialPortLocal::getMaxBitRate(), 921600);
    EXPECT_EQ(sp.getLibVer(), 4242);
    EXPECT_TRUE(sp.isSupported("setDTR"));
    EXPECT_FALSE(sp.isSupported("SetDTR"));
    EXPECT_EQ(sp.getName(1), "Not implemented");
    EXPECT_EQ(SerialPortLocal::getInstanceLock(), 0);
    EXPECT_EQ(SerialPortLocal::setInstanceLock(1), 0);
    EXPECT_EQ(SerialPortLocal::getInstanceLock(), 1);
    EXPECT_EQ(SerialPortLocal::getStatusAPM(), 1);
    EXPECT_EQ(SerialPortLocal::getPowerMode(1), -1);  // no power modes on this platform
    SerialPortLocal::setPowerMode(1, SerialConfig::PWR_STANDBY);
    EXPECT_EQ(fake.calls("SerSetPowerMode"), 0);
    EXPECT_EQ(SerialPortLocal::getResumeState(1), -1);
    SerialPortLocal::setPortListMode(3);
    EXPECT_EQ(SerialPortLocal::getPortListMode(), 3);

    EXPECT_EQ(ioErrorOf([&] { sp.resetPortDriver(1); }), "resetPortDriver: Port must be closed");
    SerialPortLocal other;
    EXPECT_EQ(ioErrorOf([&] { other.resetPortDriver(1); }), "Reset port driver failed: 1000");
    EXPECT_EQ(ioErrorOf([&] { other.resetPortDriver(2); }), "(no error)");
}

TEST_F(SerialPortLocalTest, PowerModeFailuresOnThePlatformThatHasThem) {
    CapturedDiagnostics quiet;
    ScopedSerialPlatform arm("Linux", "arm");
    fake.setPowerMode(5003);
    EXPECT_EQ(ioErrorOf([] { SerialPortLocal::getPowerMode(1); }), "getPowerMode failed: 5003");
    fake.setPowerMode(SerialConfig::PWR_ACTIVE);
    EXPECT_EQ(SerialPortLocal::getPowerMode(1), SerialConfig::PWR_ACTIVE);
    EXPECT_EQ(ioErrorOf([] { SerialPortLocal::setPowerMode(1, SerialConfig::PWR_STANDBY); }), "(no error)");
    EXPECT_EQ(fake.calls("SerSetPowerMode"), 1);
}

TEST_F(SerialPortLocalTest, FlowControlThreadRunsOnlyOnTheLegacyHostAndStopsWithThePort) {
    fake.setFlowTaskResult(-1);
    {
        CapturedDiagnostics printed;
        auto config = configFor("COM3");
        config->setHandshake(SerialConfig::HS_CTSRTS);
        SerialPortLocal sp(config);
        EXPECT_EQ(printed.text().find("FlowControlTask created"), std::string::npos);
        EXPECT_FALSE(config->getHardFlow());
    }
    EXPECT_EQ(fake.calls("SerFlowTask"), 0);

    CapturedDiagnostics printed;
    ScopedSerialPlatform legacy("Windows 95", "x86");
    auto config = configFor("COM4");
    config->setHandshake(SerialConfig::HS_CTSRTS);
    SerialPortLocal sp(config);
    EXPECT_NE(printed.text().find("FlowControlTask created"), std::string::npos);
    ASSERT_TRUE(eventually([&] { return fake.calls("SerFlowTask") > 0; }));
    sp.close();  // joins the loop; how the loop pauses and stops is FlowControlLoop's business
}

struct FlowCase {
    std::string name;
    std::int32_t stepResult;  // what each native flow step answers
    bool pauses;              // whether the loop must wait kRetryPause after each step
};

void PrintTo(const FlowCase& c, std::ostream* os) {
    *os << c.name;
}

class FlowControlLoop : public SerialPortLocalTest, public ::testing::WithParamInterface<FlowCase> {};

// The loop runs on a manual clock: a failing step must be followed by one retry pause (not a spin), a
// working step by none, and join() must end the loop even in the middle of a pause that never ends.
TEST_P(FlowControlLoop, PausesOnlyAfterAFailingStepAndStopsWhenJoined) {
    using namespace std::chrono_literals;
    const FlowCase& c = GetParam();
    fake.setFlowTaskResult(c.stepResult);
    SerialPortLocal sp(configFor("COM3"));  // not the legacy host: the port runs no loop of its own
    auto clock = std::make_shared<ManualClock>();
    FlowControlTask task(sp, clock);
    task.start();

    if (c.pauses) {
        ASSERT_TRUE(clock->awaitPauses(1));
        EXPECT_EQ(fake.calls("SerFlowTask"), 1);
        clock->advance(FlowControlTask::kRetryPause);
        ASSERT_TRUE(clock->awaitPauses(2));
        EXPECT_EQ(fake.calls("SerFlowTask"), 2);
        EXPECT_EQ(clock->pauseLengths(),
                  (std::vector{FlowControlTask::kRetryPause, FlowControlTask::kRetryPause}));
    } else {
        ASSERT_TRUE(eventually([&] { return fake.calls("SerFlowTask") > 10; }));
        EXPECT_EQ(clock->pauses(), 0u);
    }

    task.join();
    const int stepsAtJoin = fake.calls("SerFlowTask");
    const std::size_t pausesAtJoin = clock->pauses();
    clock->advance(1h);  // would release a loop that was still waiting
    EXPECT_EQ(fake.calls("SerFlowTask"), stepsAtJoin);
    EXPECT_EQ(clock->pauses(), pausesAtJoin);
}

INSTANTIATE_TEST_SUITE_P(Steps, FlowControlLoop,
                         ::testing::Values(FlowCase{"FailingStep", -1, true},
                                           FlowCase{"WorkingStep", 0, false}),
                         [](const auto& param) { return param.param.name; });

TEST_F(SerialPortLocalTest, PortServerReportsThePortOrTheFailure) {
    CapturedDiagnostics quiet;
    ScopedSerialPlatform epoc("EPOC", "x86");
    fake.setServerTask([](ZspConfig& c) {
        std::atomic_ref<std::int32_t>(c.port).store(1);
        return 0;
    });
    {
        SerialPortLocal sp(configFor("COMM::0"));
        EXPECT_TRUE(sp.isOpen());
        EXPECT_EQ(fake.calls("SerServerTask"), 1);
    }

    fake.setServerTask([](ZspConfig&) { return 1010; });
    EXPECT_EQ(ioErrorOf([&] { SerialPortLocal sp(configFor("COMM::1")); }),
              "srvTaskCheck: SerServerTask failed: 1010");

    // A server that ends without ever reporting a port must not leave the caller polling forever.
    fake.setServerTask([](ZspConfig&) { return 0; });
    auto config = configFor("COMM::2");
    EXPECT_EQ(ioErrorOf([&] { SerialPortLocal sp(config); }),
              "srvTaskCheck: the port server ended without a port");
    EXPECT_EQ(config->getPort(), -1);
}

class CountingCallback : public Zivaraze::DeviceNotificationCallback {
  public:
    void deviceNotification() override { ++count; }
    std::atomic<int> count{0};
};

TEST_F(SerialPortLocalTest, DeviceNotificationsReachTheRegisteredCallback) {
    CapturedDiagnostics printed;
    SystemProperties::set("ZSP_DEV_ROOT", "/tmp/devices");
    auto first = std::make_shared<CountingCallback>();
    auto second = std::make_shared<CountingCallback>();
    SerialPortLocal::registerDeviceNotification(first);
    EXPECT_EQ(fake.notificationRoot(), "/tmp/devices");
    EXPECT_TRUE(fake.notifyDeviceChange());
    EXPECT_EQ(first->count, 1);
    EXPECT_NE(printed.text().find("Zivaraze.deviceNotification"), std::string::npos);

    SerialPortLocal::registerDeviceNotification(second);
    EXPECT_EQ(fake.calls("SerUnregisterDeviceNotification"), 1);  // the earlier one is dropped first
    EXPECT_TRUE(fake.notifyDeviceChange());
    EXPECT_EQ(first->count, 1);
    EXPECT_EQ(second->count, 1);

    SerialPortLocal::unregisterDeviceNotification();
    EXPECT_FALSE(fake.notifyDeviceChange());
    SystemProperties::clear("ZSP_DEV_ROOT");
}

TEST(SerialPortLocalWithoutTable, NativeCallsWithoutALibraryThrowInsteadOfCrashing) {
    rszorvik::test::selectApplicationPlatform();
    const ZspApi* previous = Zivaraze::NativeLibrary::install(nullptr);
    CapturedDiagnostics quiet;
    {
        ScopedSerialPlatform irix("Irix", "mips");  // no library for it here
        EXPECT_FALSE(SerialPortLocal::isLibraryLoaded());
        EXPECT_THROW(SerialPortLocal sp(std::make_shared<SerialConfig>("/dev/ttyd1")),
                     Zivaraze::NativeLibraryError);
    }
    Zivaraze::NativeLibrary::install(previous);
}

}  // namespace
