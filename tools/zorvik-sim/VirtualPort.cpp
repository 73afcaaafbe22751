#include "VirtualPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace rszorvik::sim {
namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

constexpr auto kPollStep = std::chrono::milliseconds(20);

}  // namespace

VirtualPort::VirtualPort() {
    masterFd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (masterFd < 0) fail("posix_openpt");
    if (::grantpt(masterFd) != 0 || ::unlockpt(masterFd) != 0) {
        ::close(masterFd);
        fail("unlockpt");
    }
    std::array<char, 128> name{};
    if (::ptsname_r(masterFd, name.data(), name.size()) != 0) {
        ::close(masterFd);
        fail("ptsname");
    }
    slaveDevicePath = name.data();
    // Opening and closing the slave once also arms the hang-up report that tells whether a reader is there;
    // the terminal keeps its settings while the master stays open.
    const int slave = ::open(slaveDevicePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        ::close(masterFd);
        fail("open slave");
    }
    termios settings{};
    ::tcgetattr(slave, &settings);
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, B9600);
    ::tcsetattr(slave, TCSANOW, &settings);
    ::close(slave);
    ::fcntl(masterFd, F_SETFL, ::fcntl(masterFd, F_GETFL) | O_NONBLOCK);
}

VirtualPort::~VirtualPort() {
    ::close(masterFd);
}

bool VirtualPort::readerPresent() {
    pollfd entry{masterFd, POLLIN, 0};
    ::poll(&entry, 1, 0);
    if (entry.revents & POLLHUP) return false;
    if (entry.revents & POLLIN) takeInput();
    return true;
}

void VirtualPort::takeInput() {
    std::array<char, 256> buffer{};
    for (ssize_t n; (n = ::read(masterFd, buffer.data(), buffer.size())) > 0;)
        if (keepInput) input.append(buffer.data(), static_cast<std::size_t>(n));
}

bool VirtualPort::awaitRequest(std::string_view request, const base::StopSignals& stop) {
    keepInput = true;
    for (;;) {
        if (const auto at = input.find(request); at != std::string::npos) {
            input.erase(0, at + request.size());
            return true;
        }
        // Bytes that cannot begin a request any more are dropped, so noise does not pile up.
        if (input.size() >= request.size()) input.erase(0, input.size() - request.size() + 1);
        std::array<pollfd, 2> entries{{{masterFd, POLLIN, 0}, {stop.fd(), POLLIN, 0}}};
        ::poll(entries.data(), entries.size(), static_cast<int>(kPollStep.count()));
        if ((entries[1].revents & POLLIN) || stop.requested()) return false;
        if (entries[0].revents & POLLIN) {
            takeInput();
        } else if (entries[0].revents & POLLHUP) {
            // No reader: the master reports that at once, so wait for one without spinning.
            if (!stop.pause(kPollStep)) return false;
        }
    }
}

bool VirtualPort::waitForReader(const base::StopSignals& stop) {
    while (!readerPresent())
        if (!stop.pause(kPollStep)) return false;
    return !stop.requested();
}

bool VirtualPort::write(std::string_view bytes, const base::StopSignals& stop) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(masterFd, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN) return false;
        // The reader's input queue is full: wait for it to read, for a stop or for it to leave.
        if (!readerPresent()) return false;
        std::array<pollfd, 2> entries{{{masterFd, POLLOUT, 0}, {stop.fd(), POLLIN, 0}}};
        ::poll(entries.data(), entries.size(), static_cast<int>(kPollStep.count()));
        if (entries[1].revents & POLLIN) return false;
    }
    return true;
}

void VirtualPort::drain(std::chrono::milliseconds limit, const base::StopSignals& stop) {
    const auto end = std::chrono::steady_clock::now() + limit;
    if (!readerPresent()) return;
    // The pending count is only visible on the slave side. A reader that opened the port exclusively
    // keeps us out; then the whole limit is waited.
    const int probe = ::open(slaveDevicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int emptyChecks = 0;
    while (std::chrono::steady_clock::now() < end) {
        // Bytes just written may still wait in the kernel's hand-over buffer, which the count leaves out
        // and a hang-up throws away; asking for readiness first moves them into the queue.
        int pending = 1;
        if (probe >= 0) {
            pollfd entry{probe, POLLIN, 0};
            if (::poll(&entry, 1, 0) < 0 || (entry.revents & POLLIN) != 0 ||
                ::ioctl(probe, FIONREAD, &pending) != 0)
                pending = 1;
        }
        // Empty at two looks in a row before the terminal may go.
        emptyChecks = pending == 0 ? emptyChecks + 1 : 0;
        if (emptyChecks >= 2 || !stop.pause(kPollStep)) break;
    }
    if (probe >= 0) ::close(probe);
}

}  // namespace rszorvik::sim
