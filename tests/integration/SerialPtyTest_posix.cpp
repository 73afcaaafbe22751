// The serial library and the native module on pseudo-terminals, where only POSIX can look: the terminal's
// settings as termios keeps them, advisory locks, names that reach one device, and system calls that a
// signal interrupts.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "native/SystemCalls.h"
#include "serial/SerialPortLocal.h"
#include "support/ModuleSystemCalls.h"
#include "support/PseudoTerminal.h"
#include "support/SerialPtyFixture.h"
#include "support/SerialTestSupport.h"

using rszorvik::test::ioErrorOf;
using rszorvik::test::ModuleSystemCalls;
using rszorvik::test::Pty;
using rszorvik::test::readBytes;
using rszorvik::test::SerialPtyTest;
using Zivaraze::SerialConfig;
using Zivaraze::SerialPortLocal;

namespace {

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

}  // namespace
