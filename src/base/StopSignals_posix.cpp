#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <system_error>

#include "base/StopSignals.h"

namespace rszorvik::base {

struct StopSignals::Host {
    sigset_t previousMask{};
    int signalFd = -1;
    int wakeFd = -1;  // ends the watcher
    int stopFd = -1;  // with a watcher: readable from the first stop signal on
};

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

StopSignals::StopSignals(std::function<void()> onStop)
    : StopSignals(onStop ? std::function<void(int)>([onStop = std::move(onStop)](int count) {
          if (count == 1) onStop();
      })
                         : std::function<void(int)>()) {}

StopSignals::StopSignals(std::function<void(int count)> onSignal)
    : host(std::make_unique<Host>()), signalHandler(std::move(onSignal)) {
    auto& [previousMask, signalFd, wakeFd, stopFd] = *host;
    const sigset_t set = stopSignalSet();
    if (const int error = ::pthread_sigmask(SIG_BLOCK, &set, &previousMask); error != 0)
        fail(error, "pthread_sigmask");
    signalFd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0) {
        const int error = errno;
        ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
        fail(error, "signalfd");
    }
    if (!signalHandler) return;
    wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0 || stopFd < 0) {
        const int error = errno;
        if (wakeFd >= 0) ::close(wakeFd);
        if (stopFd >= 0) ::close(stopFd);
        ::close(signalFd);
        ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
        fail(error, "eventfd");
    }
    watcher = std::thread([this] { watch(); });
}

StopSignals::~StopSignals() {
    auto& [previousMask, signalFd, wakeFd, stopFd] = *host;
    if (watcher.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd, &one, sizeof one);
        watcher.join();
        ::close(wakeFd);
        ::close(stopFd);
    }
    // A signal left pending would take its default action, ending the process, once unblocked.
    signalfd_siginfo info;
    while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    ::close(signalFd);
    ::pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
}

int StopSignals::fd() const {
    return host->stopFd >= 0 ? host->stopFd : host->signalFd;
}

void StopSignals::watch() {
    const auto& [previousMask, signalFd, wakeFd, stopFd] = *host;
    std::array<pollfd, 2> entries{{{signalFd, POLLIN, 0}, {wakeFd, POLLIN, 0}}};
    for (;;) {
        entries[0].revents = entries[1].revents = 0;
        if (::poll(entries.data(), entries.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return;  // cannot wait any more
        }
        if (entries[1].revents != 0) return;
        if (entries[0].revents == 0) continue;
        // Taken, so that the next signal of the same kind is seen as one more.
        signalfd_siginfo info;
        while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            const int count = ++signalCount;
            if (count == 1) {
                stopRequested = true;
                const std::uint64_t one = 1;
                [[maybe_unused]] const auto written = ::write(stopFd, &one, sizeof one);
            }
            signalHandler(count);
        }
    }
}

bool StopSignals::requested() const {
    if (!stopRequested && readable(fd(), 0)) stopRequested = true;
    return stopRequested;
}

bool StopSignals::pause(std::chrono::milliseconds duration) const {
    const auto end = std::chrono::steady_clock::now() + duration;
    for (;;) {
        if (requested()) return false;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return true;
        if (readable(fd(), static_cast<int>(std::min<long long>(left.count(), 1 << 30)))) {
            stopRequested = true;
            return false;
        }
    }
}

void ignoreBrokenPipes() {
    ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace rszorvik::base
