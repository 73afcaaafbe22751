#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "support/PseudoTerminal.h"

namespace rszorvik::test {

struct Pty::Side {
    int masterFd = -1;
};

Pty::Pty() : side(std::make_unique<Side>()) {
    int slave = -1;
    char name[256] = {0};
    if (openpty(&side->masterFd, &slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    ::close(slave);  // the port under test is the only user of the slave side
    portName = name;
    fcntl(side->masterFd, F_SETFL, fcntl(side->masterFd, F_GETFL) | O_NONBLOCK);
}

Pty::~Pty() {
    closeMaster();
}

int Pty::master() const {
    return side->masterFd;
}

void Pty::send(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(side->masterFd, bytes.data() + done, bytes.size() - done);
        if (n > 0) done += static_cast<std::size_t>(n);
        if (n < 0 && errno != EAGAIN && errno != EINTR) throw std::runtime_error("pty write failed");
        if (n < 0 && errno == EAGAIN) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::string Pty::receive(std::size_t count) const {
    std::string text;
    while (text.size() < count) {
        pollfd p{side->masterFd, POLLIN, 0};
        if (poll(&p, 1, 5000) <= 0) break;
        char buffer[4096];
        const ssize_t n = ::read(side->masterFd, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

void Pty::closeMaster() {
    if (side->masterFd >= 0) ::close(side->masterFd);
    side->masterFd = -1;
}

}  // namespace rszorvik::test
