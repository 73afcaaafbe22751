// Serial devices over termios: raw mode, error marking with PARMRK, modem lines through TIOCM*.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <linux/serial.h>
#include <sys/eventfd.h>
#endif

#include "native/ParmrkDecoder.h"
#include "native/SerialDevice.h"
#include "native/SystemCalls.h"

namespace zsp {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::int32_t kIndexRates[] = {110,   150,   300,   600,    1200,   2400,   4800,  9600,
                                        19200, 38400, 57600, 115200, 230400, 460800, 921600};

struct Speed {
    std::int32_t rate;
    speed_t code;
};

constexpr Speed kSpeeds[] = {
    {50, B50},           {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},         {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},       {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},     {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

// A code 0-14 is an index into the standard rates; above 30 it is the rate itself.
bool speedFor(std::int32_t bitRate, speed_t& code) {
    std::int32_t rate = 0;
    if (bitRate >= 0 && bitRate < 15) {
        rate = kIndexRates[bitRate];
    } else if (bitRate > 30) {
        rate = bitRate;
    } else {
        return false;
    }
    for (const auto& speed : kSpeeds) {
        if (speed.rate == rate) {
            code = speed.code;
            return true;
        }
    }
    return false;
}

std::int32_t systemError(int error) {
    return ZSP_ERR_SYSTEM + error;
}

std::int32_t openError(int error) {
    switch (error) {
        case ENOENT:
            return ZSP_ERR_NOT_FOUND;
        case ENODEV:
        case ENXIO:
            return ZSP_ERR_NO_DEVICE;
        case EACCES:
        case EPERM:
        case EROFS:
            return ZSP_ERR_PERMISSION;
        case EBUSY:
            return ZSP_ERR_BUSY;
        case ENOTDIR:
        case EISDIR:
        case ENAMETOOLONG:
        case ELOOP:
        case ENOTTY:
            return ZSP_ERR_NOT_VALID;
        default:
            return systemError(error);
    }
}

// Pseudo-terminals and some adapters have no modem lines or break: the ioctl is refused as
// inappropriate, which is not a failure of the port.
bool notOffered(int error) {
    return error == ENOTTY || error == EINVAL || error == ENOSYS;
}

void sleepMilliseconds(std::int64_t milliseconds) {
    if (milliseconds <= 0) return;
    timespec rest{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>((milliseconds % 1000) * 1000000)};
    sys::call(&sys::Calls::nanosleep, &rest, &rest);  // an interrupted sleep goes on with what is left
}

std::int64_t millisecondsLeft(Clock::time_point deadline) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

// Waits for the descriptors until the deadline; a signal does not stretch the wait. The poll result.
int pollUntil(pollfd* fds, nfds_t count, Clock::time_point deadline) {
    return sys::retry([&] {
        const auto left = std::max<std::int64_t>(millisecondsLeft(deadline), 0);
        return sys::calls().poll(fds, count, static_cast<int>(std::min<std::int64_t>(left, INT32_MAX)));
    });
}

// The descriptor pair a device's wait listens to besides the device: one end is written to wake the
// waiter, the other is polled and emptied. An eventfd serves as both ends where there is one.
class WakeChannel {
  public:
    WakeChannel() {
#if defined(__linux__)
        readEnd = writeEnd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
#else
        int ends[2];
        if (::pipe(ends) == 0) {
            for (int fd : ends) {
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            }
            readEnd = ends[0];
            writeEnd = ends[1];
        }
#endif
    }
    ~WakeChannel() {
        if (readEnd >= 0) sys::calls().close(readEnd);
        if (writeEnd >= 0 && writeEnd != readEnd) sys::calls().close(writeEnd);
    }
    WakeChannel(const WakeChannel&) = delete;
    WakeChannel& operator=(const WakeChannel&) = delete;

    bool valid() const {
        return readEnd >= 0;
    }
    int pollable() const {
        return readEnd;
    }

    // A full channel is signalled already, which is all a wake-up needs.
    std::int32_t signal() const {
        const std::uint64_t one = 1;
        const ssize_t n = sys::call(&sys::Calls::write, writeEnd, &one, readEnd == writeEnd ? sizeof one : 1);
        return n > 0 || errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }

    // Takes every pending wake-up.
    void clear() const {
        std::uint64_t value = 0;
        while (sys::call(&sys::Calls::read, readEnd, &value, sizeof value) > 0 && readEnd != writeEnd) {
        }
    }

  private:
    int readEnd = -1;
    int writeEnd = -1;
};

void makeRaw(termios& t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                        IXOFF | IXANY | IGNPAR | INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
#ifdef CMSPAR
    t.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
#ifdef CRTSCTS
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    // Errors are marked in the data stream (0xFF 0x00 x) so they can be tied to the byte they hit;
    // with parity off only framing errors and breaks are marked.
    t.c_iflag |= INPCK | PARMRK;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

int setAttributes(int fd, const termios& t) {
    return sys::call(&sys::Calls::tcsetattr, fd, TCSANOW, &t);
}

// The driver's error counters, where it keeps them; they tell a parity error from a framing error.
struct Counters {
    long frame = 0, parity = 0, brk = 0, overrun = 0, bufOverrun = 0;
};

bool readCounters(int fd, Counters& counters) {
#if defined(__linux__) && defined(TIOCGICOUNT)
    serial_icounter_struct icount{};
    if (sys::call(&sys::Calls::ioctl, fd, TIOCGICOUNT, &icount) < 0) return false;
    counters = {icount.frame, icount.parity, icount.brk, icount.overrun, icount.buf_overrun};
    return true;
#else
    (void)fd;
    (void)counters;
    return false;
#endif
}

bool isPseudoTerminal(int fd) {
    struct stat st {};
    if (sys::call(&sys::Calls::fstat, fd, &st) < 0) return false;
#if defined(__linux__)
    const unsigned int number = major(st.st_rdev);
    return (number >= 136 && number <= 143) || number == 3;  // Unix98 and legacy pty slaves
#else
    return false;
#endif
}

class PosixDevice final : public Device {
  public:
    PosixDevice(int fd, const termios& saved) : portFd(fd), savedAttributes(saved), queue(4096) {
        countersKept = readCounters(portFd, markCounters);
        eventCounters = markCounters;
    }

    ~PosixDevice() override {
        setAttributes(portFd, savedAttributes);  // leave the line as it was found
        sys::call(&sys::Calls::ioctl, portFd, TIOCNXCL, nullptr);
        sys::calls().close(portFd);
    }

    std::int32_t configure(const ZspConfig& c) override {
        termios t{};
        if (sys::call(&sys::Calls::tcgetattr, portFd, &t) < 0) return systemError(errno);
        makeRaw(t);
        speed_t speed{};
        if (!speedFor(c.bitRate, speed)) return ZSP_ERR_BAD_SETTING;
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);

        static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
        if (c.dataBits < 0 || c.dataBits > 3) return ZSP_ERR_BAD_SETTING;
        t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | kSizes[c.dataBits];

        if (c.stopBits == 1) {
            t.c_cflag |= CSTOPB;
        } else if (c.stopBits != 0) {
            return ZSP_ERR_BAD_SETTING;
        }

        switch (c.parity) {
            case 0:
                break;
            case 1:
                t.c_cflag |= PARENB | PARODD;
                break;
            case 2:
                t.c_cflag |= PARENB;
                break;
#ifdef CMSPAR
            case 3:  // mark: the parity bit is always 1
                t.c_cflag |= PARENB | CMSPAR | PARODD;
                break;
            case 4:  // space: always 0
                t.c_cflag |= PARENB | CMSPAR;
                break;
#else
            case 3:
            case 4:
                return ZSP_ERR_UNSUPPORTED;
#endif
            default:
                return ZSP_ERR_BAD_SETTING;
        }

        bool hardware = false, softIn = false, softOut = false;
        if (c.handshake == 1) {
            softIn = softOut = true;
        } else if (c.handshake == 2) {
            hardware = true;
        } else if (c.handshake == 3) {
            return ZSP_ERR_UNSUPPORTED;  // termios has no DTR/DSR flow control
        } else if (c.handshake >= 0x10 && c.handshake <= 0xF0) {
            hardware = (c.handshake & 0x30) != 0;  // the kernel cannot split the two directions
            softIn = (c.handshake & 0x40) != 0;
            softOut = (c.handshake & 0x80) != 0;
        } else if (c.handshake != 0) {
            return ZSP_ERR_BAD_SETTING;
        }
        if (softIn) t.c_iflag |= IXOFF;
        if (softOut) t.c_iflag |= IXON;
        t.c_cc[VSTART] = 0x11;
        t.c_cc[VSTOP] = 0x13;
        if (hardware) {
#ifdef CRTSCTS
            t.c_cflag |= CRTSCTS;
#else
            return ZSP_ERR_UNSUPPORTED;
#endif
        }

        // EINVAL may also mean that the C library saw the driver change the frame format after applying
        // the rest; what counts is what the driver kept, checked below.
        if (setAttributes(portFd, t) < 0 && errno != EINVAL) return systemError(errno);

        // Drivers drop what they cannot do without saying so; compare what they kept.
        termios applied{};
        if (sys::call(&sys::Calls::tcgetattr, portFd, &applied) < 0) return systemError(errno);
        tcflag_t checked = CSTOPB | PARODD;
        // A pseudo-terminal carries bytes, not frames: the kernel keeps it at 8 bits without parity.
        if (!isPseudoTerminal(portFd)) checked |= CSIZE | PARENB;
#ifdef CMSPAR
        checked |= CMSPAR;
#endif
#ifdef CRTSCTS
        checked |= CRTSCTS;
#endif
        if ((applied.c_cflag & checked) != (t.c_cflag & checked) || cfgetospeed(&applied) != speed)
            return ZSP_ERR_BAD_SETTING;

        std::lock_guard lock(mutex);
        parityOn = c.parity != 0;
        resizeQueueLocked(static_cast<std::size_t>(std::clamp(c.rxLen, 256, 1 << 20)));
        return ZSP_OK;
    }

    std::int32_t read(std::uint8_t* buffer, std::int32_t count, std::int32_t timeoutMs) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::int32_t got = 0;
        for (;;) {
            bool healthy;
            bool endedAtError = false;
            {
                std::lock_guard lock(mutex);
                healthy = fillLocked();
                got += popLocked(buffer + got, count - got, endedAtError);
            }
            if (got == count) return got;
            if (!healthy) return got > 0 ? got : -1;
            if (timeoutMs <= 0) return got;
            if (millisecondsLeft(deadline) <= 0) return got;
            if (endedAtError) return got;
            pollfd p{portFd, POLLIN, 0};
            const int ready = pollUntil(&p, 1, deadline);
            if (ready < 0) return got > 0 ? got : -1;
            if (ready > 0 && (p.revents & POLLIN) == 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
                return got > 0 ? got : -1;
        }
    }

    std::int32_t write(const std::uint8_t* data, std::int32_t count, std::int32_t timeoutMs,
                       std::int32_t& errorCode) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        std::int32_t sent = 0;
        errorCode = ZSP_OK;
        while (sent < count) {
            const ssize_t n =
                sys::call(&sys::Calls::write, portFd, data + sent, static_cast<std::size_t>(count - sent));
            if (n > 0) {
                sent += static_cast<std::int32_t>(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (timeoutMs > 0 && millisecondsLeft(deadline) <= 0) {
                    errorCode = ZSP_ERR_TIMEOUT;
                    break;
                }
                pollfd p{portFd, POLLOUT, 0};
                const int ready =
                    timeoutMs > 0 ? pollUntil(&p, 1, deadline) : sys::call(&sys::Calls::poll, &p, 1, -1);
                if (ready < 0) {
                    errorCode = systemError(errno);
                    break;
                }
                if (ready == 0) {
                    errorCode = ZSP_ERR_TIMEOUT;
                    break;
                }
                if (ready > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                    errorCode = ZSP_ERR_NO_DEVICE;
                    break;
                }
                continue;
            }
            errorCode = n < 0 ? systemError(errno) : ZSP_ERR_INTERNAL;
            break;
        }
        return sent;
    }

    std::int32_t wait(std::int32_t timeoutMs) override {
        if (!wakeChannel.valid()) return ZSP_ERR_UNSUPPORTED;
        {
            std::lock_guard lock(mutex);
            if (queuedCount > 0) return ZSP_WAIT_INPUT;  // decoded already, the descriptor may be empty
        }
        pollfd fds[2] = {{portFd, POLLIN, 0}, {wakeChannel.pollable(), POLLIN, 0}};
        const int ready = timeoutMs < 0
                              ? sys::call(&sys::Calls::poll, fds, nfds_t{2}, -1)
                              : pollUntil(fds, 2, Clock::now() + std::chrono::milliseconds(timeoutMs));
        if (ready < 0) return -1;
        std::int32_t events = 0;
        if ((fds[0].revents & POLLIN) != 0) events |= ZSP_WAIT_INPUT;
        if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) events |= ZSP_WAIT_HANGUP;
        if ((fds[1].revents & POLLIN) != 0) {
            wakeChannel.clear();
            events |= ZSP_WAIT_WOKEN;
        }
        return events;
    }

    std::int32_t wake() override {
        return wakeChannel.valid() ? wakeChannel.signal() : -1;
    }

    std::int32_t flushRx() override {
        if (sys::call(&sys::Calls::tcflush, portFd, TCIFLUSH) < 0) return -1;
        std::lock_guard lock(mutex);
        queueHead = queuedCount = 0;
        decoder.reset();
        return 0;
    }

    std::int32_t flushTx() override {
        return sys::call(&sys::Calls::tcflush, portFd, TCOFLUSH) < 0 ? -1 : 0;
    }

    std::int32_t drain(std::int32_t timeoutMs) override {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int pending = 0;
            if (sys::call(&sys::Calls::ioctl, portFd, TIOCOUTQ, &pending) < 0 || pending <= 0) break;
            if (timeoutMs > 0 && millisecondsLeft(deadline) <= 0) return -1;
            sleepMilliseconds(2);
        }
        return sys::call(&sys::Calls::tcdrain, portFd) < 0 ? -1 : 0;
    }

    std::int32_t rxReady() override {
        std::lock_guard lock(mutex);
        if (!fillLocked()) return -1;
        auto ready = static_cast<std::int64_t>(queuedCount);
        if (queuedCount == queue.size()) {
            int more = 0;
            if (sys::call(&sys::Calls::ioctl, portFd, FIONREAD, &more) == 0 && more > 0) ready += more;
        }
        return static_cast<std::int32_t>(std::min<std::int64_t>(ready, INT32_MAX));
    }

    std::int32_t txPending() override {
        int pending = 0;
        if (sys::call(&sys::Calls::ioctl, portFd, TIOCOUTQ, &pending) < 0) return notOffered(errno) ? 0 : -1;
        return pending;
    }

    std::int32_t line(Line which) override {
        int bits = 0;
        if (sys::call(&sys::Calls::ioctl, portFd, TIOCMGET, &bits) < 0) return notOffered(errno) ? 0 : -1;
        switch (which) {
            case Line::CTS:
                return (bits & TIOCM_CTS) != 0;
            case Line::DSR:
                return (bits & TIOCM_DSR) != 0;
            case Line::CD:
                return (bits & TIOCM_CAR) != 0;
            case Line::RI:
                return (bits & TIOCM_RNG) != 0;
        }
        return -1;
    }

    std::int32_t setOutput(Output which, bool on) override {
        int bits = which == Output::DTR ? TIOCM_DTR : TIOCM_RTS;
        if (sys::call(&sys::Calls::ioctl, portFd, on ? TIOCMBIS : TIOCMBIC, &bits) < 0)
            return notOffered(errno) ? 0 : -1;
        return 0;
    }

    std::int32_t takeEvent(Event which) override {
        std::lock_guard lock(mutex);
        switch (which) {
            case Event::ParityErr:
                return std::exchange(parityError, false);
            case Event::FrameErr:
                return std::exchange(frameError, false);
            case Event::Break:
                if (!fillLocked()) return -1;
                return std::exchange(breakSeen, false);
            case Event::Overrun:
            case Event::Overflow: {
                Counters now;
                if (!countersKept || !readCounters(portFd, now)) {
                    return which == Event::Overflow ? std::exchange(overflowed, false) : false;
                }
                const bool overrun = now.overrun != eventCounters.overrun;
                const bool overflow = now.bufOverrun != eventCounters.bufOverrun;
                if (which == Event::Overrun) {
                    eventCounters.overrun = now.overrun;
                    return overrun;
                }
                eventCounters.bufOverrun = now.bufOverrun;
                const bool dropped = std::exchange(overflowed, false);
                return overflow || dropped;
            }
        }
        return -1;
    }

    std::int32_t sendBreak(std::int32_t milliseconds) override {
        if (milliseconds <= 0) {
            if (sys::call(&sys::Calls::tcsendbreak, portFd, 0) < 0) return notOffered(errno) ? 0 : -1;
            return 0;
        }
        if (sys::call(&sys::Calls::ioctl, portFd, TIOCSBRK, nullptr) < 0) return notOffered(errno) ? 0 : -1;
        sleepMilliseconds(milliseconds);
        return sys::call(&sys::Calls::ioctl, portFd, TIOCCBRK, nullptr) < 0 ? -1 : 0;
    }

    // The kernel does the hardware flow control itself; a step only paces the caller's loop.
    std::int32_t flowStep() override {
        if (sys::call(&sys::Calls::fcntl, portFd, F_GETFD, 0L) < 0) return -1;
        sleepMilliseconds(50);
        return 0;
    }

  private:
    static constexpr std::uint16_t kParity = 0x100;
    static constexpr std::uint16_t kFrame = 0x200;
    static constexpr std::uint16_t kMark = 0x400;

    void resizeQueueLocked(std::size_t capacity) {
        if (capacity == queue.size()) return;
        std::vector<std::uint16_t> resized(std::max(capacity, queuedCount));
        for (std::size_t i = 0; i < queuedCount; ++i)
            resized[i] = queue[(queueHead + i) % queue.size()];
        queue.swap(resized);
        queueHead = 0;
    }

    void pushLocked(std::uint16_t entry) {
        if (queuedCount == queue.size()) {
            overflowed = true;
            return;
        }
        queue[(queueHead + queuedCount) % queue.size()] = entry;
        ++queuedCount;
    }

    // Stops after a byte with an error (endedAtError), so the caller can tie the error signals to it.
    std::int32_t popLocked(std::uint8_t* buffer, std::int32_t count, bool& endedAtError) {
        std::int32_t n = 0;
        while (n < count && queuedCount > 0) {
            const std::uint16_t entry = queue[queueHead];
            queueHead = (queueHead + 1) % queue.size();
            --queuedCount;
            buffer[n++] = static_cast<std::uint8_t>(entry & 0xFF);
            if ((entry & (kParity | kFrame)) != 0) {
                if (entry & kParity) parityError = true;
                if (entry & kFrame) frameError = true;
                endedAtError = true;
                break;
            }
        }
        return n;
    }

    // Moves what the driver holds into the queue, as far as it has room. False when the device failed.
    bool fillLocked() {
        while (queuedCount < queue.size()) {
            std::uint8_t raw[512];
            // A byte held back mid-sequence may come out together with the next one.
            const std::size_t room = queue.size() - queuedCount - (decoder.midSequence() ? 1 : 0);
            const std::size_t want = std::min(sizeof raw, room);
            if (want == 0) return true;
            const ssize_t n = sys::call(&sys::Calls::read, portFd, raw, want);
            if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
            if (n == 0) return !hungUp();  // no data waiting, or a device that went away
            decodeLocked(raw, static_cast<std::size_t>(n));
            if (static_cast<std::size_t>(n) < want) return true;
        }
        return true;
    }

    bool hungUp() const {
        pollfd p{portFd, 0, 0};
        return sys::call(&sys::Calls::poll, &p, 1, 0) > 0 &&
               (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }

    // A raw byte yields at most one entry, plus one held back from the previous read.
    void decodeLocked(const std::uint8_t* raw, std::size_t n) {
        std::uint16_t entries[512 * 2];
        std::size_t count = 0;
        bool marks = false;
        for (std::size_t i = 0; i < n; ++i) {
            const auto result = decoder.feed(raw[i]);
            if (result.kind == ParmrkDecoder::Kind::Data) {
                entries[count++] = result.value;
            } else if (result.kind == ParmrkDecoder::Kind::Mark) {
                entries[count++] = static_cast<std::uint16_t>(kMark | result.value);
                marks = true;
            }
            std::uint8_t extra = 0;
            while (decoder.takeExtra(extra))
                entries[count++] = extra;
        }

        Counters now, delta;
        const bool counted = marks && countersKept && readCounters(portFd, now);
        if (counted) {
            delta = {now.frame - markCounters.frame, now.parity - markCounters.parity,
                     now.brk - markCounters.brk, 0, 0};
            markCounters = now;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint16_t entry = entries[i];
            if ((entry & kMark) == 0) {
                pushLocked(entry);
                continue;
            }
            const std::uint16_t value = entry & 0xFF;
            if (value == 0 && (!counted || delta.brk > 0)) {  // 0xFF 0x00 0x00: a break, not data
                if (counted) --delta.brk;
                breakSeen = true;
                continue;
            }
            std::uint16_t flags = 0;
            if (counted && delta.parity > 0) {
                flags |= kParity;
                --delta.parity;
            }
            if (counted && delta.frame > 0) {
                flags |= kFrame;
                --delta.frame;
            }
            if (flags == 0) flags = parityOn ? kParity : kFrame;
            pushLocked(static_cast<std::uint16_t>(value | flags));
        }
    }

    const int portFd;
    const termios savedAttributes;
    const WakeChannel wakeChannel;
    std::mutex mutex;
    std::vector<std::uint16_t> queue;  // decoded bytes with their error flags
    std::size_t queueHead = 0;
    std::size_t queuedCount = 0;
    ParmrkDecoder decoder;
    bool parityOn = false;
    bool parityError = false;
    bool frameError = false;
    bool breakSeen = false;
    bool overflowed = false;
    bool countersKept = false;
    Counters markCounters;
    Counters eventCounters;
};

class FdGuard {
  public:
    explicit FdGuard(int fd) : ownedFd(fd) {}
    ~FdGuard() {
        if (ownedFd >= 0) sys::calls().close(ownedFd);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int release() { return std::exchange(ownedFd, -1); }

  private:
    int ownedFd;
};

int openNode(const std::string& path) {
    return sys::call(&sys::Calls::open, path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, mode_t{0});
}

// An advisory lock tells other programs (and other handles of ours) that the port is taken; unlike
// TIOCEXCL it also holds against privileged processes.
std::int32_t lockNode(int fd) {
    const int result = sys::call(&sys::Calls::flock, fd, LOCK_EX | LOCK_NB);
    if (result < 0 && errno == EWOULDBLOCK) return ZSP_ERR_IN_USE;
    return ZSP_OK;  // a file system without locks does not stop the port from working
}

std::string bytesUpToNul(const char* text, std::int32_t length) {
    if (text == nullptr || length <= 0) return {};
    const auto* end = static_cast<const char*>(std::memchr(text, '\0', static_cast<std::size_t>(length)));
    return std::string(text, end ? static_cast<std::size_t>(end - text) : static_cast<std::size_t>(length));
}

}  // namespace

std::int32_t resolveDevicePath(const ZspConfig& config, std::string& path) {
    if (config.portNameLength > ZSP_MAX_NAME || config.baseNameLength > ZSP_MAX_NAME)
        return ZSP_ERR_NOT_VALID;
    const std::string name = bytesUpToNul(config.portName, config.portNameLength);
    if (!name.empty()) {
        path = name.front() == '/' ? name : "/dev/" + name;
        return ZSP_OK;
    }
    const std::string base = bytesUpToNul(config.baseName, config.baseNameLength);
    if (config.port > 0 && !base.empty()) {
        path = base + std::to_string(config.port - 1);
        return ZSP_OK;
    }
    return ZSP_ERR_NOT_VALID;
}

std::int32_t deviceKeyOf(const std::string& path, DeviceKey& key) {
    struct stat st {};
    if (sys::call(&sys::Calls::stat, path.c_str(), &st) < 0) return openError(errno);
    if (!S_ISCHR(st.st_mode)) return ZSP_ERR_NOT_VALID;
    key = {major(st.st_rdev), minor(st.st_rdev)};
    return ZSP_OK;
}

std::int32_t openDevice(const std::string& path, std::unique_ptr<Device>& device) {
    const int fd = openNode(path);
    if (fd < 0) return openError(errno);
    FdGuard guard(fd);
    struct stat st {};
    if (sys::call(&sys::Calls::fstat, fd, &st) < 0) return openError(errno);
    if (!S_ISCHR(st.st_mode)) return ZSP_ERR_NOT_VALID;
    termios saved{};
    if (sys::call(&sys::Calls::tcgetattr, fd, &saved) < 0)
        return notOffered(errno) ? ZSP_ERR_NOT_VALID : openError(errno);
    if (auto code = lockNode(fd); code != ZSP_OK) return code;
    sys::call(&sys::Calls::ioctl, fd, TIOCEXCL,
              nullptr);  // refused only by drivers that cannot do it; the lock above still holds

    termios raw = saved;
    makeRaw(raw);
    if (setAttributes(fd, raw) < 0) return openError(errno);
    device = std::make_unique<PosixDevice>(guard.release(), saved);
    return ZSP_OK;
}

std::int32_t resetDriver(const std::string& path) {
    const int fd = openNode(path);
    if (fd < 0) return openError(errno);
    FdGuard guard(fd);
    if (auto code = lockNode(fd); code != ZSP_OK) return code;
    termios t{};
    if (sys::call(&sys::Calls::tcgetattr, fd, &t) < 0)
        return notOffered(errno) ? ZSP_ERR_NOT_VALID : openError(errno);
    makeRaw(t);
    t.c_iflag &= ~static_cast<tcflag_t>(INPCK | PARMRK);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    sys::call(&sys::Calls::tcflush, fd, TCIOFLUSH);
    if (setAttributes(fd, t) < 0) return systemError(errno);
    int bits = TIOCM_DTR | TIOCM_RTS;
    sys::call(&sys::Calls::ioctl, fd, TIOCMBIC, &bits);  // lines off, where the device has them
    return ZSP_OK;
}

}  // namespace zsp
