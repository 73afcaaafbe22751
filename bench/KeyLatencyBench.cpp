// Latency at a real X client and idle cost of keyboard wedges, side by side in one run.
//
// Every wedge gets a pseudo-terminal standing in for the instrument; the wedge command (with {tty} replaced
// by the terminal's path) reads it and types into this program's own window, which has the keyboard focus.
// All wedges run at once:
//  - idle cost: with the ports open and no data for --idle seconds, the processor time of all of each
//    wedge's threads (/proc/PID/task/*/schedstat) and their context switches per second (voluntary and not);
//  - latency: from just before a line is written to a wedge's terminal to the receipt of the first KeyPress
//    of its value, over --lines rounds of one line per wedge in a shuffled order, with a pause of --gap ms
//    after each line so that the wedges are idle when their line comes; median and 99th percentile.
// Run it on a private X server (bench/key-latency-bench.sh starts one):
//   KeyLatencyBench [--lines N] [--gap MS] [--idle S] NAME='COMMAND {tty}'...
// The first wedge named is the yardstick the others are compared with.
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <numeric>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Options {
    int lines = 300;
    int gapMs = 20;
    int idleSeconds = 10;
    std::vector<std::pair<std::string, std::string>> wedges;  // name, command
};

struct Result {
    std::string name;
    double medianMs = 0, p99Ms = 0;
    int measured = 0, wrongFirstKey = 0, missed = 0;
    double idleCorePercent = 0, switchesPerSecond = 0;
};

// Processor time and context switches of every thread of a process, as the kernel counts them.
struct TaskStats {
    double cpuSeconds = 0;
    long switches = 0;
};

TaskStats statsOf(pid_t pid) {
    TaskStats stats;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (dir == nullptr) throw std::runtime_error("cannot read " + tasks);
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const std::string task = tasks + "/" + entry->d_name;
        std::ifstream schedstat(task + "/schedstat");
        unsigned long long runNs = 0;
        if (schedstat >> runNs) stats.cpuSeconds += static_cast<double>(runNs) / 1e9;
        std::ifstream status(task + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                stats.switches += std::stol(line.substr(line.find(':') + 1));
        }
    }
    closedir(dir);
    return stats;
}

class FocusedWindow {
  public:
    FocusedWindow() {
        display = XOpenDisplay(nullptr);
        if (display == nullptr) throw std::runtime_error("no X display (set DISPLAY)");
        window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 200, 100, 0, 0, 0);
        XSelectInput(display, window, KeyPressMask | StructureNotifyMask);
        XMapRaised(display, window);
        for (XEvent event;;) {
            XNextEvent(display, &event);
            if (event.type == MapNotify) break;
        }
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        XSync(display, False);
    }
    ~FocusedWindow() { XCloseDisplay(display); }

    // The next KeyPress, waiting at most `patience`; its keysym, or nothing.
    std::optional<KeySym> nextKeyPress(milliseconds patience) {
        const auto end = Clock::now() + patience;
        for (;;) {
            while (XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
                if (event.type == KeyPress) return XLookupKeysym(&event.xkey, 0);
            }
            const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
            if (left <= 0) return std::nullopt;
            pollfd p{ConnectionNumber(display), POLLIN, 0};
            poll(&p, 1, static_cast<int>(left));
        }
    }

    void drain(milliseconds quiet) {
        while (nextKeyPress(quiet)) {
        }
    }

  private:
    Display* display = nullptr;
    ::Window window = 0;
};

class Wedge {
  public:
    Wedge(const std::string& command) {
        int slave = -1;
        char name[256] = {0};
        if (openpty(&ptyMaster, &slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        ::close(slave);
        std::string line = command;
        for (auto at = line.find("{tty}"); at != std::string::npos; at = line.find("{tty}"))
            line.replace(at, 5, name);
        childPid = fork();
        if (childPid == 0) {
            ::close(ptyMaster);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            execl("/bin/sh", "sh", "-c", ("exec " + line).c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Nobody reads what the wedge might write back; keep the terminal from filling up.
        fcntl(ptyMaster, F_SETFL, fcntl(ptyMaster, F_GETFL) | O_NONBLOCK);
    }
    ~Wedge() {
        kill(childPid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 200 && waitpid(childPid, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(milliseconds(10));
        if (waitpid(childPid, &status, WNOHANG) == 0) {
            kill(childPid, SIGKILL);
            waitpid(childPid, &status, 0);
        }
        ::close(ptyMaster);
    }
    Wedge(const Wedge&) = delete;
    Wedge& operator=(const Wedge&) = delete;

    void send(const std::string& bytes) {
        if (::write(ptyMaster, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("short write to the terminal");
        char sink[256];
        while (::read(ptyMaster, sink, sizeof sink) > 0) {
        }
    }
    pid_t pid() const { return childPid; }

  private:
    int ptyMaster = -1;
    pid_t childPid = -1;
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// Waits until a line sent to the wedge comes out as keys.
void awaitReady(FocusedWindow& window, Wedge& wedge, const std::string& name) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        wedge.send("0\r");
        bool ready = false;
        for (auto key = window.nextKeyPress(milliseconds(200)); key;
             key = window.nextKeyPress(milliseconds(200)))
            if (*key == XK_Return) ready = true;
        if (ready) {
            window.drain(milliseconds(300));
            return;
        }
    }
    throw std::runtime_error(name + ": no keys arrived; is the command right?");
}

// Sends one line and waits for its value up to the Return; the latency of its first key, or nothing.
std::optional<double> measureLine(FocusedWindow& window, Wedge& wedge, Result& result, int i) {
    const std::string value =
        std::to_string(1 + i % 9) + std::to_string(i % 7) + "." + std::to_string(i % 10);
    const auto sent = Clock::now();
    wedge.send(value + "\r");
    const auto first = window.nextKeyPress(milliseconds(2000));
    const auto received = Clock::now();
    if (!first) {
        ++result.missed;
        return std::nullopt;
    }
    if (*first != static_cast<KeySym>(XK_0 + (value[0] - '0'))) ++result.wrongFirstKey;
    for (auto key = first; key && *key != XK_Return;)
        key = window.nextKeyPress(milliseconds(2000));
    return std::chrono::duration<double, std::milli>(received - sent).count();
}

// All wedges run at once, idle on their own terminals. Every round sends one line to each wedge, in an
// order shuffled anew for the round, so that every wedge meets the same moments of the machine and follows
// every other equally often (a run of one wedge after the other measured the machine's drift as much as
// the wedges, and what a wedge leaves behind changes the next one's time).
std::vector<Result> measure(FocusedWindow& window, const Options& options) {
    std::vector<std::unique_ptr<Wedge>> wedges;
    std::vector<Result> results(options.wedges.size());
    for (std::size_t w = 0; w < options.wedges.size(); ++w) {
        results[w].name = options.wedges[w].first;
        wedges.push_back(std::make_unique<Wedge>(options.wedges[w].second));
        awaitReady(window, *wedges[w], results[w].name);
    }

    std::vector<TaskStats> before;
    for (const auto& wedge : wedges)
        before.push_back(statsOf(wedge->pid()));
    const auto idleBegin = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(options.idleSeconds));
    const double seconds = std::chrono::duration<double>(Clock::now() - idleBegin).count();
    for (std::size_t w = 0; w < wedges.size(); ++w) {
        const TaskStats after = statsOf(wedges[w]->pid());
        results[w].idleCorePercent = 100.0 * (after.cpuSeconds - before[w].cpuSeconds) / seconds;
        results[w].switchesPerSecond = static_cast<double>(after.switches - before[w].switches) / seconds;
    }

    std::vector<std::vector<double>> latencies(wedges.size());
    std::vector<std::size_t> order(wedges.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::mt19937 random(1);
    for (int i = 0; i < options.lines; ++i) {
        std::shuffle(order.begin(), order.end(), random);
        for (const std::size_t w : order) {
            if (const auto latency = measureLine(window, *wedges[w], results[w], i))
                latencies[w].push_back(*latency);
            std::this_thread::sleep_for(milliseconds(options.gapMs));
        }
    }
    for (std::size_t w = 0; w < wedges.size(); ++w) {
        results[w].measured = static_cast<int>(latencies[w].size());
        results[w].medianMs = percentile(latencies[w], 0.5);
        results[w].p99Ms = percentile(latencies[w], 0.99);
    }
    return results;
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto number = [&] {
            if (i + 1 >= argc) throw std::runtime_error(arg + " needs a number");
            return std::stoi(argv[++i]);
        };
        if (arg == "--lines") {
            options.lines = number();
        } else if (arg == "--gap") {
            options.gapMs = number();
        } else if (arg == "--idle") {
            options.idleSeconds = number();
        } else if (const auto eq = arg.find('='); eq != std::string::npos && eq > 0) {
            options.wedges.emplace_back(arg.substr(0, eq), arg.substr(eq + 1));
        } else {
            throw std::runtime_error("unknown argument: " + arg);
        }
    }
    if (options.wedges.empty())
        throw std::runtime_error(
            "usage: KeyLatencyBench [--lines N] [--gap MS] [--idle S] NAME='COMMAND {tty}'...");
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const Options options = parse(argc, argv);
        FocusedWindow window;
        const std::vector<Result> results = measure(window, options);
        const Result& yardstick = results.front();
        std::printf("| wedge | lines | median ms | p99 ms | median / %s | idle %% of a core | switches/s |\n",
                    yardstick.name.c_str());
        std::printf("|---|---|---|---|---|---|---|\n");
        for (const Result& r : results) {
            std::printf("| %s | %d | %.3f | %.3f | %.2f | %.3f | %.1f |", r.name.c_str(), r.measured,
                        r.medianMs, r.p99Ms, r.medianMs / yardstick.medianMs, r.idleCorePercent,
                        r.switchesPerSecond);
            if (r.missed > 0 || r.wrongFirstKey > 0)
                std::printf(" %d lines without keys, %d with a wrong first key", r.missed, r.wrongFirstKey);
            std::printf("\n");
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "KeyLatencyBench: %s\n", e.what());
        return 1;
    }
}
