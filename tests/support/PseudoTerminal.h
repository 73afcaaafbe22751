#pragma once

// A pseudo-terminal pair for tests of the serial library on a real device: the test holds the master
// side and plays the instrument, the port under test opens the slave by its path.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

namespace rszorvik::test {

class Pty {
  public:
    Pty() {
        int slave = -1;
        char name[256] = {0};
        if (openpty(&masterFd, &slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        ::close(slave);  // the port under test is the only user of the slave side
        slavePath = name;
        fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& path() const { return slavePath; }
    int master() const { return masterFd; }

    // What the device sends: arrives at the port.
    void send(const std::string& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(masterFd, bytes.data() + done, bytes.size() - done);
            if (n > 0) done += static_cast<std::size_t>(n);
            if (n < 0 && errno != EAGAIN && errno != EINTR) throw std::runtime_error("pty write failed");
            if (n < 0 && errno == EAGAIN) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // What the port wrote, until count bytes arrived or nothing came for a while.
    std::string receive(std::size_t count) const {
        std::string text;
        while (text.size() < count) {
            pollfd p{masterFd, POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0) break;
            char buffer[4096];
            const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
            if (n <= 0) break;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

    void closeMaster() {
        if (masterFd >= 0) ::close(masterFd);
        masterFd = -1;
    }

  private:
    int masterFd = -1;
    std::string slavePath;
};

}  // namespace rszorvik::test
