#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <system_error>
#include <thread>

#include "cli/RequestSignal.h"

namespace rszorvik::cli {

struct RequestSignal::Impl {
    sigset_t previousMask{};
    int signalFd = -1;
    int wakeFd = -1;
    std::function<void()> handler;
    std::thread watcher;

    void watch() {
        for (;;) {
            std::array<pollfd, 2> entries{{{signalFd, POLLIN, 0}, {wakeFd, POLLIN, 0}}};
            if (::poll(entries.data(), entries.size(), -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (entries[1].revents != 0) return;
            signalfd_siginfo info;
            while (::read(signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
                handler();
        }
    }
};

RequestSignal::RequestSignal(std::function<void()> onSignal) : impl(std::make_unique<Impl>()) {
    impl->handler = std::move(onSignal);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGUSR1);
    if (const int error = ::pthread_sigmask(SIG_BLOCK, &set, &impl->previousMask); error != 0)
        throw std::system_error(error, std::generic_category(), "pthread_sigmask");
    impl->signalFd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    impl->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (impl->signalFd < 0 || impl->wakeFd < 0) {
        const int error = errno;
        if (impl->signalFd >= 0) ::close(impl->signalFd);
        if (impl->wakeFd >= 0) ::close(impl->wakeFd);
        ::pthread_sigmask(SIG_SETMASK, &impl->previousMask, nullptr);
        throw std::system_error(error, std::generic_category(), "signalfd");
    }
    // The watcher takes no signal itself: it starts with every signal blocked.
    sigset_t all, mask;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &mask);
    impl->watcher = std::thread([state = impl.get()] { state->watch(); });
    ::pthread_sigmask(SIG_SETMASK, &mask, nullptr);
}

RequestSignal::~RequestSignal() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(impl->wakeFd, &one, sizeof one);
    impl->watcher.join();
    // A signal left pending would end the process once unblocked.
    signalfd_siginfo info;
    while (::read(impl->signalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    ::close(impl->signalFd);
    ::close(impl->wakeFd);
    ::pthread_sigmask(SIG_SETMASK, &impl->previousMask, nullptr);
}

}  // namespace rszorvik::cli
