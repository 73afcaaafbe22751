#include "StopSignal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <system_error>

namespace rszorvik::sim {
namespace {

int writeFd = -1;

extern "C" void onStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(writeFd, &byte, 1);
    errno = saved;
}

}  // namespace

StopSignal::StopSignal() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe");
    readFd_ = fds[0];
    writeFd = fds[1];
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A reader that goes away must not kill us while we write.
    ::signal(SIGPIPE, SIG_IGN);
}

StopSignal::~StopSignal() {
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    ::close(readFd_);
    ::close(writeFd);
    writeFd = -1;
}

bool StopSignal::requested() const {
    pollfd entry{readFd_, POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0;
}

bool StopSignal::pause(std::chrono::milliseconds duration) const {
    const auto end = std::chrono::steady_clock::now() + duration;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd entry{readFd_, POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (ready > 0) return false;
        if (ready == 0 && std::chrono::steady_clock::now() >= end) return true;
        if (ready < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category(), "poll");
    }
}

}  // namespace rszorvik::sim
