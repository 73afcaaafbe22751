#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>

#include "native/SystemCalls.h"

namespace zsp::sys {
namespace {

// open and ioctl take variable arguments; the table needs fixed ones.
int openFile(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}

int controlDevice(int fd, unsigned long request, void* argument) {
    return ::ioctl(fd, request, argument);
}

int controlFile(int fd, int command, long argument) {
    return ::fcntl(fd, command, argument);
}

constexpr Calls kHost{openFile,    ::close,       ::read,  ::write,     ::poll,      controlDevice,
                      controlFile, ::stat,        ::fstat, ::tcgetattr, ::tcsetattr, ::tcflush,
                      ::tcdrain,   ::tcsendbreak, ::flock, ::nanosleep};

std::atomic<const Calls*> active{&kHost};

}  // namespace

const Calls& host() {
    return kHost;
}

const Calls& calls() {
    return *active.load(std::memory_order_acquire);
}

const Calls* replace(const Calls* table) {
    return active.exchange(table != nullptr ? table : &kHost, std::memory_order_acq_rel);
}

}  // namespace zsp::sys

const zsp::sys::Calls* ZspReplaceSystemCalls(const zsp::sys::Calls* table) {
    return zsp::sys::replace(table);
}
