// The serial library and the native module on real pseudo-terminals: the module cannot tell them
// from a serial port, except that they have no modem lines.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/EventQueueExecutor.h"
#include "native/SystemCalls.h"
#include "serial/SerialPortLocal.h"
#include "support/CollectingWorkerView.h"
#include "support/ModuleSystemCalls.h"
#include "support/PseudoTerminal.h"
#include "support/SerialTestSupport.h"
#include "worker/WeightWorker.h"

using rszorvik::test::ioErrorOf;
using rszorvik::test::ModuleSystemCalls;
using rszorvik::test::Pty;
using rszorvik::test::readBytes;
using Zivaraze::IOError;
using Zivaraze::SerialConfig;
using Zivaraze::SerialPortLocal;

namespace {

class SerialPtyTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { rszorvik::test::selectApplicationPlatform(); }

    void SetUp() override {
        ASSERT_TRUE(SerialPortLocal::isLibraryLoaded()) << "libzspWin.so beside the test";
    }

    std::shared_ptr<SerialConfig> configFor(const std::string& path) {
        return std::make_shared<SerialConfig>(path);
    }

    Pty pty;
};

termios slaveAttributes(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    tcgetattr(fd, &t);
    ::close(fd);
    return t;
}

TEST_F(SerialPtyTest, ConfiguresEveryBitRateAndFrameFormat) {
    static constexpr speed_t kSpeeds[] = {B110,   B150,   B300,   B600,    B1200,   B2400,   B4800,  B9600,
                                          B19200, B38400, B57600, B115200, B230400, B460800, B921600};
    static constexpr tcflag_t kParity[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                                           PARENB | CMSPAR};
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
                    const termios t = slaveAttributes(pty.path());
                    EXPECT_EQ(cfgetospeed(&t), kSpeeds[rate]);
                    // The kernel keeps a pseudo-terminal at 8 bits without parity enable; the other
                    // bits of the format stay as set.
                    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8)) << bits;
                    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), kParity[parity] & ~static_cast<tcflag_t>(PARENB))
                        << parity;
                    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, stop == SerialConfig::ST_2BITS);
                    EXPECT_EQ(t.c_iflag & (INPCK | PARMRK), INPCK | PARMRK);
                    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
                    ++combinations;
                }
            }
        }
    }
    EXPECT_EQ(combinations, 15 * 4 * 5 * 2);

    struct Handshake {
        int code;
        tcflag_t cflag, iflag;
    };
    for (const Handshake& h :
         {Handshake{SerialConfig::HS_NONE, 0, 0}, Handshake{SerialConfig::HS_XONXOFF, 0, IXON | IXOFF},
          Handshake{SerialConfig::HS_CTSRTS, CRTSCTS, 0},
          Handshake{SerialConfig::HS_HARD_IN | SerialConfig::HS_SOFT_OUT, CRTSCTS, IXON},
          Handshake{SerialConfig::HS_SOFT_IN, 0, IXOFF}}) {
        config->setHandshake(h.code);
        ASSERT_NO_THROW(port.configure());
        const termios t = slaveAttributes(pty.path());
        EXPECT_EQ(t.c_cflag & CRTSCTS, h.cflag) << h.code;
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), h.iflag) << h.code;
    }
}

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

TEST_F(SerialPtyTest, OpenFailuresCarryTheirMessages) {
    const std::string missing = "/dev/zorvik-no-such-port";
    EXPECT_EQ(ioErrorOf([&] { SerialPortLocal port(configFor(missing)); }),
              missing + ": SerOpenPort failed: 2: No such file or directory");
    EXPECT_EQ(ioErrorOf([&] { SerialPortLocal port(configFor("/dev/null")); }),
              "/dev/null: SerOpenPort failed: Port not valid");
    EXPECT_EQ(ioErrorOf([&] { SerialPortLocal port(configFor("/proc/self/status")); }),
              "/proc/self/status: SerOpenPort failed: Port not valid");

    SerialPortLocal first(configFor(pty.path()));
    EXPECT_EQ(ioErrorOf([&] { SerialPortLocal second(configFor(pty.path())); }),
              pty.path() + ": SerOpenPort failed: Port is already open");
    // The same device under another name is the same port.
    const std::string bare = pty.path().substr(std::string("/dev/").size());
    EXPECT_EQ(ioErrorOf([&] { SerialPortLocal second(configFor(bare)); }),
              bare + ": SerOpenPort failed: Port is already open");
    const auto link =
        std::filesystem::temp_directory_path() / ("zorvik-pty-link-" + std::to_string(getpid()));
    std::filesystem::remove(link);
    std::filesystem::create_symlink(pty.path(), link);
    EXPECT_EQ(ioErrorOf([&] { SerialPortLocal second(configFor(link.string())); }),
              link.string() + ": SerOpenPort failed: Port is already open");
    std::filesystem::remove(link);
}

TEST_F(SerialPtyTest, PortLockedByAnotherProgramIsInUse) {
    const int other = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(ioErrorOf([&] { SerialPortLocal port(configFor(pty.path())); }),
              pty.path() + ": SerOpenPort failed: Port is in use");
    ::close(other);
    EXPECT_EQ(ioErrorOf([&] { SerialPortLocal port(configFor(pty.path())); }), "(no error)");
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

// Signals interrupt system calls: the module calls them again, so nothing is lost and nothing doubled.
// The fault goes into the loaded module's system-call table.
std::atomic<int> interruptionsLeft{0};

bool interruptNow() {
    int left = interruptionsLeft.load();
    while (left > 0) {
        if (interruptionsLeft.compare_exchange_weak(left, left - 1)) {
            errno = EINTR;
            return true;
        }
    }
    return false;
}

struct InterruptedCall {
    const char* name;
    void (*plug)(zsp::sys::Calls& table);
};

class SystemCallInterruptionTest : public SerialPtyTest,
                                   public ::testing::WithParamInterface<InterruptedCall> {};

TEST_P(SystemCallInterruptionTest, BytesStillArriveExactlyOnce) {
    const std::string request = "SI\r\n", reply = "ST,+00012.34 kg\r\n";
    interruptionsLeft = 3;
    ModuleSystemCalls faults(GetParam().plug);
    SerialPortLocal port(configFor(pty.path()));
    port.putString(request);
    EXPECT_EQ(pty.receive(request.size()), request);
    // The reply comes while the port waits for it, so the wait itself is interrupted too.
    std::string got;
    {
        std::jthread device([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            pty.send(reply);
        });
        got = readBytes(port, reply.size());
    }
    EXPECT_EQ(got, reply);
    EXPECT_EQ(interruptionsLeft.load(), 0) << GetParam().name << " was not interrupted";
    EXPECT_EQ(port.rxReadyCount(), 0);
    char extra;
    EXPECT_EQ(::read(pty.master(), &extra, 1), -1) << "a byte written twice";
}

const InterruptedCall kInterruptedCalls[] = {
    {"open",
     [](zsp::sys::Calls& table) {
         table.open = [](const char* path, int flags, mode_t mode) {
             return interruptNow() ? -1 : ModuleSystemCalls::host().open(path, flags, mode);
         };
     }},
    {"tcsetattr",
     [](zsp::sys::Calls& table) {
         table.tcsetattr = [](int fd, int when, const termios* attributes) {
             return interruptNow() ? -1 : ModuleSystemCalls::host().tcsetattr(fd, when, attributes);
         };
     }},
    {"write",
     [](zsp::sys::Calls& table) {
         table.write = [](int fd, const void* data, size_t count) -> ssize_t {
             return interruptNow() ? -1 : ModuleSystemCalls::host().write(fd, data, count);
         };
     }},
    {"read",
     [](zsp::sys::Calls& table) {
         table.read = [](int fd, void* buffer, size_t count) -> ssize_t {
             return interruptNow() ? -1 : ModuleSystemCalls::host().read(fd, buffer, count);
         };
     }},
    {"poll",
     [](zsp::sys::Calls& table) {
         table.poll = [](pollfd* fds, nfds_t count, int timeoutMs) {
             return interruptNow() ? -1 : ModuleSystemCalls::host().poll(fds, count, timeoutMs);
         };
     }},
};

std::string callName(const ::testing::TestParamInfo<InterruptedCall>& row) {
    return row.param.name;
}

INSTANTIATE_TEST_SUITE_P(Calls, SystemCallInterruptionTest, ::testing::ValuesIn(kInterruptedCalls), callName);

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
