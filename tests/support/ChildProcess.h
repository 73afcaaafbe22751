#pragma once

// A program run as a child with its standard output and error captured, for tests that drive zorvik-sim
// and zorvik-cli together.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace rszorvik::test {

class ChildProcess {
  public:
    explicit ChildProcess(std::vector<std::string> args) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        outFd = out[0];
        errFd = err[0];
        if (spawned != 0) throw std::runtime_error("cannot start " + args[0]);
    }

    ~ChildProcess() {
        if (!exited) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        ::close(outFd);
        ::close(errFd);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Collects output until done() holds, the child closed both streams, or the patience ran out.
    // Answers done().
    bool collectUntil(const std::function<bool()>& done, std::chrono::milliseconds patience) {
        const auto end = std::chrono::steady_clock::now() + patience;
        while (!done() && std::chrono::steady_clock::now() < end) {
            if (!pump(50)) break;
        }
        return done();
    }

    // The first line of standard output (a simulator's terminal path).
    std::string firstLine(std::chrono::milliseconds patience) {
        collectUntil([&] { return out.find('\n') != std::string::npos; }, patience);
        const auto end = out.find('\n');
        return end == std::string::npos ? std::string() : out.substr(0, end);
    }

    void signal(int number) { ::kill(pid, number); }
    pid_t processId() const { return pid; }

    // Exit status (128 + signal for a signal), collecting output meanwhile; -1 when it did not end in time.
    int wait(std::chrono::milliseconds patience) {
        const auto end = std::chrono::steady_clock::now() + patience;
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                exited = true;
                while (pump(0)) {
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            pump(10);
        }
        return -1;
    }

    std::string out, err;

  private:
    // Reads what is waiting on either stream; false once both are closed.
    bool pump(int timeoutMs) {
        std::array<pollfd, 2> fds{pollfd{outOpen ? outFd : -1, POLLIN, 0},
                                  pollfd{errOpen ? errFd : -1, POLLIN, 0}};
        if (!outOpen && !errOpen) return false;
        if (::poll(fds.data(), fds.size(), timeoutMs) <= 0) return true;
        readFrom(fds[0], outFd, out, outOpen);
        readFrom(fds[1], errFd, err, errOpen);
        return outOpen || errOpen;
    }

    static void readFrom(const pollfd& entry, int fd, std::string& into, bool& open) {
        if (entry.fd < 0 || (entry.revents & (POLLIN | POLLHUP | POLLERR)) == 0) return;
        std::array<char, 4096> buffer;
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) {
            open = false;
            return;
        }
        into.append(buffer.data(), static_cast<std::size_t>(n));
    }

    pid_t pid = -1;
    int outFd = -1, errFd = -1;
    bool outOpen = true, errOpen = true;
    bool exited = false;
};

}  // namespace rszorvik::test
