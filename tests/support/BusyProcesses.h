#pragma once

// Child processes that each keep a processor busy, for typing under load: the typing thread, the X server
// and the receiving client then wait for a processor as they would on a busy desktop. Header-only, for the
// end-to-end tests and the benchmarks.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <vector>

namespace rszorvik::test {

class BusyProcesses {
  public:
    // Starts `count` spinning children. They die with the object, and with the thread that made it
    // should the test end without unwinding.
    explicit BusyProcesses(int count) {
        const pid_t parent = ::getpid();
        for (int i = 0; i < count; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL);
                if (::getppid() != parent) ::_exit(0);
                // Only async-signal-safe work after fork() in a threaded process: nothing but the spin.
                volatile unsigned long n = 0;
                for (;;) {
                    n = n + 1;
                }
            }
            if (pid < 0) {
                stop();
                throw std::runtime_error("cannot start a busy process");
            }
            pids.push_back(pid);
        }
    }
    ~BusyProcesses() { stop(); }
    BusyProcesses(const BusyProcesses&) = delete;
    BusyProcesses& operator=(const BusyProcesses&) = delete;

  private:
    void stop() {
        for (const pid_t pid : pids)
            ::kill(pid, SIGKILL);
        for (const pid_t pid : pids)
            ::waitpid(pid, nullptr, 0);
        pids.clear();
    }

    std::vector<pid_t> pids;
};

}  // namespace rszorvik::test
