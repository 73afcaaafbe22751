// The serial library and the native module on real pseudo-terminals: the module cannot tell them
// from a serial port, except that they have no modem lines. Under Wine the same tests run on COM ports
// that are pseudo-terminals (support/PseudoTerminal.h).

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/EventQueueExecutor.h"
#include "serial/SerialPortLocal.h"
#include "support/CollectingWorkerView.h"
#include "support/PseudoTerminal.h"
#include "support/SerialPtyFixture.h"
#include "support/SerialTestSupport.h"
#include "worker/WeightWorker.h"

using rszorvik::test::ioErrorOf;
using rszorvik::test::Pty;
using rszorvik::test::readBytes;
using rszorvik::test::SerialPtyTest;
using Zivaraze::IOError;
using Zivaraze::SerialConfig;
using Zivaraze::SerialPortLocal;

namespace {

TEST_F(SerialPtyTest, OpensAtEveryBitRateAndSetsTheTimeouts) {
    for (int rate = SerialConfig::BR_110; rate <= SerialConfig::BR_921600; ++rate) {
        auto config = configFor(pty.path());
        config->setBitRate(
            SerialConfig::bitRateNumbers[static_cast<std::size_t>(rate)]);  // literal rates too
        SerialPortLocal port(config);
        EXPECT_EQ(config->getBitRate(), rate);
        EXPECT_EQ(port.getTimeoutRx(), 0);
        const int perByte = 1000000 / (SerialConfig::bitRateNumbers[static_cast<std::size_t>(rate)] / 10);
        EXPECT_EQ(port.getTimeoutTx(), 100 * ((4096 * perByte) / 1000));
    }
}

TEST_F(SerialPtyTest, BytesTravelBothWaysUnchanged) {
    SerialPortLocal port(configFor(pty.path()));
    port.putString("ST,+00012.34 kg\r\n");
    port.putByte(0xFF);
    port.putByte(0x00);
    EXPECT_EQ(pty.receive(19), std::string("ST,+00012.34 kg\r\n\xFF", 18) + std::string(1, '\0'));

    std::string every;
    for (int b = 0; b < 256; ++b)
        every += static_cast<char>(b);
    // With even parity the line discipline marks errors in the stream; a real 0xFF must still arrive once.
    auto config = port.getConfig();
    config->setParity(SerialConfig::PY_EVEN);
    port.configure();
    pty.send(every);
    EXPECT_EQ(readBytes(port, 256), every);
    EXPECT_FALSE(port.sigParityErr());
    EXPECT_FALSE(port.sigFrameErr());

    pty.send(
        "A\xFF"
        "B");
    for (int expected : {int{'A'}, 0xFF, int{'B'}}) {
        int got = -1;
        for (int tries = 0; tries < 1000 && (got = port.getByte()) == -1; ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(got, expected);
    }
}

TEST_F(SerialPtyTest, IdleReadsAnswerAtOnceAndBlockReadsWaitForTheTimeout) {
    SerialPortLocal port(configFor(pty.path()));
    EXPECT_EQ(port.getByte(), -1);
    std::uint8_t buffer[10];
    EXPECT_EQ(port.getData(buffer), 0);
    EXPECT_EQ(port.rxReadyCount(), 0);

    // The bytes come later than the call; a receive timeout lets the block read wait for all of them.
    std::thread device([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty.send("01234");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty.send("56789");
    });
    port.setTimeoutRx(5000);
    EXPECT_EQ(port.getTimeoutRx(), 5000);
    const int got = port.getData(buffer);
    device.join();
    EXPECT_EQ(got, 10);
    EXPECT_EQ(std::string(buffer, buffer + 10), "0123456789");

    // Fewer bytes than asked for: the timeout ends the read with what came.
    port.setTimeoutRx(100);
    pty.send("xyz");
    EXPECT_EQ(port.getData(buffer), 3);
    port.setTimeoutRx(0);
    pty.send("q");
    for (int tries = 0; tries < 1000 && port.rxReadyCount() == 0; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(port.rxReadyCount(), 1);
    port.rxFlush();
    EXPECT_EQ(port.getByte(), -1);
}

TEST_F(SerialPtyTest, WithoutModemLinesTheLinesReadOffAndSettingsAreAccepted) {
    SerialPortLocal port(configFor(pty.path()));
    EXPECT_NO_THROW(port.setDTR(true));
    EXPECT_NO_THROW(port.setRTS(false));
    EXPECT_FALSE(port.sigDSR());
    EXPECT_FALSE(port.sigCTS());
    EXPECT_FALSE(port.sigCD());
    EXPECT_FALSE(port.sigRing());
    EXPECT_FALSE(port.sigBreak());
    EXPECT_FALSE(port.sigOverrun());
    EXPECT_FALSE(port.rxOverflow());
    EXPECT_NO_THROW(port.sendBreak(10));
    EXPECT_EQ(port.txBufCount(), 0);
    // Data still flows after the line operations.
    port.putString("ok");
    EXPECT_EQ(pty.receive(2), "ok");
    EXPECT_NO_THROW(port.txDrain());
    EXPECT_NO_THROW(port.txFlush());
}

TEST_F(SerialPtyTest, CloseTwiceResetAndReopen) {
    auto config = configFor(pty.path());
    SerialPortLocal port(config);
    port.setTimeoutTx(777);
    port.reset();
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.getTimeoutTx(), 777);
    pty.send("after reset");
    EXPECT_EQ(readBytes(port, 11), "after reset");
    port.close();
    EXPECT_FALSE(port.isOpen());
    EXPECT_NO_THROW(port.close());
    const int number = config->getPort();
    EXPECT_NO_THROW(port.resetPortDriver(number));
    port.open();
    port.putString("again");
    EXPECT_EQ(pty.receive(5), "again");
}

TEST_F(SerialPtyTest, VanishedDeviceFailsReadsInsteadOfHanging) {
    SerialPortLocal port(configFor(pty.path()));
    pty.closeMaster();
    EXPECT_EQ(port.getByte(), -1);
    std::uint8_t buffer[4];
    EXPECT_EQ(ioErrorOf([&] { port.getData(buffer); }), "getData: failed");
    port.setTimeoutRx(60000);  // a hung-up device ends the wait at once, not after a minute
    EXPECT_EQ(ioErrorOf([&] { port.getData(buffer); }), "getData: failed");
    EXPECT_EQ(ioErrorOf([&] { port.rxReadyCount(); }), "rxReadyCount failed");
    EXPECT_NO_THROW(port.close());
}

// The worker tells a quiet port from a vanished one by the ready count: it must answer 0 on a quiet
// port, count without consuming, and fail only once the other side is gone.
TEST_F(SerialPtyTest, ReadyCountTakesNothingAndFailsOnlyOnceTheDeviceIsGone) {
    SerialPortLocal port(configFor(pty.path()));
    EXPECT_EQ(port.rxReadyCount(), 0);
    pty.send("ab");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (port.rxReadyCount() < 2 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(port.rxReadyCount(), 2);
    EXPECT_EQ(port.getByte(), 'a');
    EXPECT_EQ(port.rxReadyCount(), 1);
    EXPECT_EQ(port.getByte(), 'b');
    EXPECT_EQ(port.getByte(), -1);
    EXPECT_EQ(port.rxReadyCount(), 0);
    pty.closeMaster();
    EXPECT_EQ(ioErrorOf([&] { port.rxReadyCount(); }), "rxReadyCount failed");
    EXPECT_EQ(port.getByte(), -1);
    EXPECT_NO_THROW(port.close());
}

// ---- waiting on the port ----

using std::chrono::milliseconds;
using WaitClock = std::chrono::steady_clock;

struct WaitCase {
    const char* name;
    std::function<void(Pty&, SerialPortLocal&)> before;  // before the wait starts
    std::function<void(Pty&, SerialPortLocal&)> during;  // from another thread, 30 ms into the wait
    int timeoutMs;
    int events;  // the bits the wait must report (others may come with them)
};

class PortWaitTest : public SerialPtyTest, public ::testing::WithParamInterface<WaitCase> {};

// The wait ends for what it waits for and nothing else, and long before its timeout.
TEST_P(PortWaitTest, EndsForWhatHappened) {
    const WaitCase& c = GetParam();
    SerialPortLocal port(configFor(pty.path()));
    ASSERT_TRUE(port.canWait());
    if (c.before) c.before(pty, port);
    int events = -1;
    const auto begin = WaitClock::now();
    {
        std::jthread other([&] {
            if (!c.during) return;
            std::this_thread::sleep_for(milliseconds(30));
            c.during(pty, port);
        });
        events = port.waitForEvent(c.timeoutMs);
    }
    const auto took = WaitClock::now() - begin;
    if (c.events == 0) {
        EXPECT_EQ(events, 0);
        EXPECT_GE(took, milliseconds(c.timeoutMs - 5));
    } else {
        EXPECT_EQ(events & c.events, c.events) << "events " << events;
        EXPECT_LT(took, milliseconds(2000)) << "the wait sat out its timeout";
    }
    // A wake-up is taken by the wait it ended: the next one waits again.
    if ((c.events & SerialPortLocal::WAIT_WOKEN) != 0) {
        EXPECT_EQ(port.waitForEvent(20), 0);
    }
}

const WaitCase kWaitCases[] = {
    {"Quiet", nullptr, nullptr, 60, 0},
    {"InputWaitsAlready", [](Pty& p, SerialPortLocal&) { p.send("a"); }, nullptr, 10000,
     SerialPortLocal::WAIT_INPUT},
    {"InputArrives", nullptr, [](Pty& p, SerialPortLocal&) { p.send("a"); }, 10000,
     SerialPortLocal::WAIT_INPUT},
    // A stop that comes between the check of the stop flag and the wait must not be missed.
    {"WokenBeforeTheWait", [](Pty&, SerialPortLocal& s) { s.wakeWaiting(); }, nullptr, 10000,
     SerialPortLocal::WAIT_WOKEN},
    {"WokenDuringTheWait", nullptr, [](Pty&, SerialPortLocal& s) { s.wakeWaiting(); }, 10000,
     SerialPortLocal::WAIT_WOKEN},
    {"OtherSideCloses", nullptr, [](Pty& p, SerialPortLocal&) { p.closeMaster(); }, 10000,
     SerialPortLocal::WAIT_HANGUP},
};

INSTANTIATE_TEST_SUITE_P(Pty, PortWaitTest, ::testing::ValuesIn(kWaitCases),
                         [](const auto& row) { return std::string(row.param.name); });

// ---- the worker on a pseudo-terminal ----

class PtyWorkerTest : public SerialPtyTest {
  protected:
    using WeightWorker = rszorvik::worker::WeightWorker;

    void start() { worker = rszorvik::test::startNumberWorker(pty.path(), view, executor); }

    // Sends a line and waits until the worker has published it and waits on the quiet port again.
    void sendLine(const std::string& line) {
        pty.send(line);
        ASSERT_TRUE(executor.runUntil([&] { return !view.values.empty(); }, std::chrono::seconds(10)));
        std::this_thread::sleep_for(milliseconds(20));
    }

    milliseconds timeToEnd(const std::function<void()>& action) {
        const auto begin = WaitClock::now();
        action();
        executor.runUntil([&] { return view.ended(); }, std::chrono::seconds(10));
        return std::chrono::duration_cast<milliseconds>(WaitClock::now() - begin);
    }

    ~PtyWorkerTest() override {
        if (worker && !view.ended()) timeToEnd([&] { worker->cancel(true); });
    }

    rszorvik::base::EventQueueExecutor executor;
    rszorvik::test::CollectingWorkerView view;
    std::shared_ptr<WeightWorker> worker;
};

TEST_F(PtyWorkerTest, StopWhileThePortIsQuietEndsAtOnce) {
    start();
    sendLine("12.5\r");
    EXPECT_LT(timeToEnd([&] { worker->cancel(true); }), milliseconds(50));
    EXPECT_EQ(view.values, std::vector<std::string>{"12.5"});
    EXPECT_EQ(view.events.back(), WeightWorker::text("stopped"));
    EXPECT_TRUE(view.important.empty());
}

// Unplugged: the other side of the pty closes. The hang-up ends the run, not the device check a minute on.
TEST_F(PtyWorkerTest, HangUpEndsTheRunAtOnce) {
    start();
    sendLine("7\r+3");
    EXPECT_LT(timeToEnd([&] { pty.closeMaster(); }), milliseconds(2000));
    EXPECT_EQ(view.values, std::vector<std::string>{"7"});
    EXPECT_EQ(view.important,
              (std::vector<std::string>{WeightWorker::text("execution.exception") + "Verbindung zum Port " +
                                            pty.path() +
                                            " unterbrochen (Ger\u00e4t ausgesteckt oder Port geschlossen).",
                                        WeightWorker::text("unsent.data") + " +3"}));
}

}  // namespace
