// A flooding instrument against the real window: lines of LINE_BYTES letters (no value in them) written
// flat out to a pseudo-terminal that zorvik reads, started on a private Xvfb with the automatic start, for
// SECONDS. Prints the window's resident memory every 5 s and at its peak, then asks the window to close as
// a window manager does (the flood goes on) and prints how long it took to end, and its exit status.
// A window that passes 2 GB is ended, so that the measurement cannot take the machine down with it.
//
//   WindowFloodBench [SECONDS [LINE_BYTES [ZORVIK]]]   (defaults 60, 60000 and this build's zorvik)
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include "support/ChildProcess.h"
#include "support/PseudoTerminal.h"
#include "support/TempDir.h"
#include "support/XvfbDisplay.h"

// Last: Xlib's macros break the headers above.
#include "support/X11Desktop.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using rszorvik::test::ChildProcess;
using rszorvik::test::X11Desktop;
using rszorvik::test::XvfbDisplay;

constexpr long kLimitKiB = 2L << 20;  // 2 GB

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// An instrument that floods: writes the line to the terminal again and again, as fast as the reader takes
// it, until the object goes. A terminal nobody reads (yet) is waited on, never spun on.
class Flood {
  public:
    Flood(int master, std::string line) : master(master), line(std::move(line)) {
        writer = std::thread([this] { run(); });
    }
    ~Flood() {
        stop = true;
        writer.join();
    }
    Flood(const Flood&) = delete;
    Flood& operator=(const Flood&) = delete;

    // Whole lines written so far.
    long lines() const { return written; }

  private:
    void run() {
        std::size_t at = 0;
        while (!stop) {
            pollfd entry{master, POLLOUT, 0};
            const ssize_t n = ::poll(&entry, 1, 100) > 0 && (entry.revents & POLLOUT) != 0
                                  ? ::write(master, line.data() + at, line.size() - at)
                                  : -1;
            if (n <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            at += static_cast<std::size_t>(n);
            if (at == line.size()) {
                at = 0;
                ++written;
            }
        }
    }

    int master;
    std::string line;
    std::atomic<bool> stop{false};
    std::atomic<long> written{0};
    std::thread writer;
};

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int lineBytes = argc > 2 ? std::atoi(argv[2]) : 60000;
    const std::string zorvik = argc > 3 ? argv[3] : ZORVIK_ZORVIK_PATH;
    if (seconds <= 0 || lineBytes < 2) {
        std::cerr << "usage: WindowFloodBench [SECONDS [LINE_BYTES [ZORVIK]]]\n";
        return 2;
    }
    if (!XvfbDisplay::available()) {
        std::cerr << "WindowFloodBench: Xvfb is not installed\n";
        return 1;
    }

    const rszorvik::test::Pty pty;
    const rszorvik::test::TempDir home("zorvik-flood-bench");
    const std::filesystem::path prefs = home / "vexlune" / "zorvik" / "prefs.txt";
    std::filesystem::create_directories(prefs.parent_path());
    {
        std::ofstream out(prefs);
        for (const char* setting : {"instrument=GENERIC", "inputTerminator=13", "connect=AUTO",
                                    "outputTerminator=ENTER", "abortAutoStartWhenPrevPortNotAvailable=false",
                                    "checkForUpdates=false", "minimizeToTray=false"})
            out << "com.vexlune.zorvik." << setting << '\n';
    }

    const XvfbDisplay xvfb;
    X11Desktop desktop(xvfb.name());
    ChildProcess window({"/usr/bin/env", "-u", "XDG_CONFIG_HOME", "ZORVIK_UNATTENDED=1",
                         "QT_QPA_PLATFORM=xcb", "DISPLAY=" + xvfb.name(),
                         "ProgramData=" + home.path().string(), zorvik, pty.path()});
    const auto frame = desktop.waitForWindow(window.processId(), "zorvik", 30s);
    if (!frame) {
        std::cerr << "WindowFloodBench: no window\n" << window.err;
        return 1;
    }

    std::string line(static_cast<std::size_t>(lineBytes) - 1, 'x');
    for (std::size_t i = 0; i < line.size(); ++i)
        line[i] = static_cast<char>('A' + i % 26);
    line += '\r';

    std::printf("flood: %d-byte lines for %d s into %s\n", lineBytes, seconds, zorvik.c_str());
    long peak = 0;
    bool overLimit = false;
    double closeSeconds = -1;
    int status = -1;
    long linesWritten = 0;
    {
        Flood flood(pty.master(), line);
        const auto start = Clock::now();
        for (int second = 1; second <= seconds && !overLimit; ++second) {
            // Reading the window's output meanwhile, so that it never waits on a full pipe.
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                start + std::chrono::seconds(second) - Clock::now());
            if (left > 0ms) window.collectUntil([] { return false; }, left);
            const long rss = residentKiB(window.processId());
            if (rss < 0) break;  // the window ended by itself
            peak = std::max(peak, rss);
            overLimit = rss > kLimitKiB;
            if (second % 5 == 0 || overLimit)
                std::printf("  %3d s: %7.1f MB resident, %ld lines written\n", second, rss / 1024.0,
                            flood.lines());
        }
        if (overLimit) {
            std::printf("  over %ld MB: ended without a close\n", kLimitKiB >> 10);
            window.signal(SIGKILL);
            status = window.wait(30s);
        } else {
            const auto asked = Clock::now();
            desktop.askToClose(*frame);
            status = window.wait(60s);
            if (status >= 0) closeSeconds = secondsSince(asked);
        }
        linesWritten = flood.lines();
    }
    std::printf("peak resident memory: %.1f MB\n", peak / 1024.0);
    if (closeSeconds >= 0) {
        std::printf("close honoured after: %.3f s (exit status %d)\n", closeSeconds, status);
    } else if (!overLimit) {
        std::printf("close not honoured within 60 s\n");
    }
    std::printf("lines written: %ld\n", linesWritten);
    return 0;
}
