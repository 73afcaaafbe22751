#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace rszorvik::test {

// A private X server (Xvfb) on the first free display number, stopped again with the object. Header-only
// so that the end-to-end tests and the benchmarks can share it.
class XvfbDisplay {
  public:
    static bool available() { return !findInPath("Xvfb").empty(); }

    // CI sets CI: there the end-to-end tests must run, so a missing Xvfb fails them instead of skipping.
    static bool required() {
        const char* ci = std::getenv("CI");
        return ci != nullptr && *ci != '\0';
    }

    XvfbDisplay() {
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
        // Xvfb writes the display number it took to this descriptor once it accepts connections.
        const std::string fd = std::to_string(fds[1]);
        serverPid = spawn(
            {"Xvfb", "-displayfd", fd, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"}, true);
        close(fds[1]);
        std::string number;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (number.empty() || number.back() != '\n') {
            pollfd p{fds[0], POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            char c = 0;
            if (read(fds[0], &c, 1) != 1) break;
            number += c;
        }
        close(fds[0]);
        if (number.empty() || number.back() != '\n') {
            stop();
            throw std::runtime_error("Xvfb did not start");
        }
        number.pop_back();
        displayName = ":" + number;
    }
    ~XvfbDisplay() { stop(); }
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    const std::string& name() const { return displayName; }

    // Loads an XKB layout such as "fr" or "us" with variant "intl" into the server.
    void setLayout(const std::string& layout, const std::string& variant = {}) const {
        std::vector<std::string> args{"setxkbmap", "-display", displayName, "-layout", layout};
        if (!variant.empty()) {
            args.push_back("-variant");
            args.push_back(variant);
        }
        const pid_t pid = spawn(args, false);
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            throw std::runtime_error("setxkbmap " + layout + " " + variant + " failed");
    }

  private:
    static std::string findInPath(const std::string& program) {
        const char* path = std::getenv("PATH");
        std::string dirs = path ? path : "/usr/bin:/bin";
        std::size_t pos = 0;
        while (pos <= dirs.size()) {
            std::size_t end = dirs.find(':', pos);
            if (end == std::string::npos) end = dirs.size();
            const std::string candidate = dirs.substr(pos, end - pos) + "/" + program;
            if (access(candidate.c_str(), X_OK) == 0) return candidate;
            pos = end + 1;
        }
        return {};
    }

    static pid_t spawn(const std::vector<std::string>& args, bool quiet) {
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (quiet) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) throw std::runtime_error("cannot start " + args[0]);
        return pid;
    }

    void stop() {
        if (serverPid <= 0) return;
        kill(serverPid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100; ++i) {
            if (waitpid(serverPid, &status, WNOHANG) == serverPid) {
                serverPid = 0;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        kill(serverPid, SIGKILL);
        waitpid(serverPid, &status, 0);
        serverPid = 0;
    }

    pid_t serverPid = 0;
    std::string displayName;
};

}  // namespace rszorvik::test
