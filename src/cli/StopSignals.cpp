#include "cli/StopSignals.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace rszorvik::cli {
namespace {

sigset_t stopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

[[noreturn]] void fail(int error, const char* what) {
    throw std::system_error(error, std::generic_category(), what);
}

// Whether fd is readable within timeoutMs (-1: no limit); interrupted waits go on.
bool readable(int fd, int timeoutMs) {
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, timeoutMs);
        if (ready >= 0) return ready > 0;
        if (errno != EINTR) fail(errno, "poll");
    }
}

}  // namespace

StopSignals::StopSignals(std::function<void()> onStop) {
    const sigset_t set = stopSignalSet();
    if (const int error = ::pthread_sigmask(SIG_BLOCK, &set, &previousMask); error != 0)
        fail(error, "pthread_sigmask");
    signalFd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0) {
        const int error = errno;
        ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
        fail(error, "signalfd");
    }
    if (!onStop) return;
    wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        const int error = errno;
        ::close(signalFd);
        ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
        fail(error, "eventfd");
    }
    watcher = std::thread([this, onStop = std::move(onStop)] { watch(onStop); });
}

StopSignals::~StopSignals() {
    if (watcher.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd, &one, sizeof one);
        watcher.join();
        ::close(wakeFd);
    }
    // A signal left pending would take its default action, ending the process, once unblocked.
    signalfd_siginfo info;
    while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    ::close(signalFd);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
}

void StopSignals::watch(const std::function<void()>& onStop) {
    std::array<pollfd, 2> entries{{{signalFd, POLLIN, 0}, {wakeFd, POLLIN, 0}}};
    for (;;) {
        entries[0].revents = entries[1].revents = 0;
        if (::poll(entries.data(), entries.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return;  // cannot wait any more; requested() and fd() still tell a later stop
        }
        if (entries[1].revents != 0) return;
        if (entries[0].revents != 0) {
            stopRequested = true;
            onStop();
            return;
        }
    }
}

bool StopSignals::requested() const {
    if (!stopRequested && readable(signalFd, 0)) stopRequested = true;
    return stopRequested;
}

bool StopSignals::pause(std::chrono::milliseconds duration) const {
    const auto end = std::chrono::steady_clock::now() + duration;
    for (;;) {
        if (requested()) return false;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return true;
        if (readable(signalFd, static_cast<int>(std::min<long long>(left.count(), 1 << 30)))) {
            stopRequested = true;
            return false;
        }
    }
}

}  // namespace rszorvik::cli
