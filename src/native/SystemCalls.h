#pragma once

// Every system call of the module goes through one table, so a test can put a fault (EINTR, EAGAIN,
// EIO, ...) into any of them on a real device. call() retries a call that a signal interrupted
// before it did anything.

#include <errno.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>
#include <time.h>

#include "native/zspWin.h"

namespace zsp::sys {

struct Calls {
    int (*open)(const char* path, int flags, mode_t mode);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buffer, size_t count);
    ssize_t (*write)(int fd, const void* data, size_t count);
    int (*poll)(pollfd* fds, nfds_t count, int timeoutMs);
    int (*ioctl)(int fd, unsigned long request, void* argument);
    int (*fcntl)(int fd, int command, long argument);
    int (*stat)(const char* path, struct stat* status);
    int (*fstat)(int fd, struct stat* status);
    int (*tcgetattr)(int fd, termios* attributes);
    int (*tcsetattr)(int fd, int when, const termios* attributes);
    int (*tcflush)(int fd, int queue);
    int (*tcdrain)(int fd);
    int (*tcsendbreak)(int fd, int duration);
    int (*flock)(int fd, int operation);
    int (*nanosleep)(const timespec* request, timespec* remaining);
};

// The C library's calls.
const Calls& host();
// The table in use.
const Calls& calls();
// Puts a table in place (nullptr: the C library's) and answers the previous one. The table must
// outlive its use; swap it only while no call of the module is running.
const Calls* replace(const Calls* table);

// Runs attempt() again while it fails with EINTR.
template <typename Attempt>
auto retry(Attempt attempt) {
    auto result = attempt();
    while (result < 0 && errno == EINTR)
        result = attempt();
    return result;
}

// sys::call(&Calls::read, fd, buffer, size): the entry of the table in use, retried on EINTR.
// close is never retried: Linux releases the descriptor even when it reports EINTR.
template <typename Result, typename... Params, typename... Args>
Result call(Result (*Calls::*entry)(Params...), Args... args) {
    return retry([&] { return (calls().*entry)(args...); });
}

}  // namespace zsp::sys

extern "C" {
// The seam as the module exports it, for tests that load the module: sys::replace.
ZSP_EXPORT const zsp::sys::Calls* ZspReplaceSystemCalls(const zsp::sys::Calls* table);
}
