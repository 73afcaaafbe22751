#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace rszorvik::base {

// SIGINT, SIGTERM and SIGHUP as a request to stop, for zorvik, zorvik-cli and zorvik-sim. The constructor
// blocks the three signals in the calling thread, and so in every thread started after it: create it before
// any other thread starts (the serial library, the keyboard and the sound output start threads of their own),
// or a signal may reach a thread that does not block it and end the process. A blocked signal waits on
// a descriptor instead, which a wait can include (fd()) and a watcher thread sleeps on, so a stop is
// delivered at once and nothing polls for it. One instance per process at a time.
//
// On Windows the stop requests are the console's control events: Ctrl+C, Ctrl+Break, and the console
// window closing, the user logging off or the system shutting down. For the last three the process ends
// once its handler returns, so the handler holds that end back until the instance is destroyed (or the
// system's few seconds are up): the stop is handled as for Ctrl+C.
class StopSignals {
  public:
    // onStop, when given, runs once, on a thread of the instance, when the first stop signal arrives.
    // Throws std::system_error when the signals cannot be set up.
    explicit StopSignals(std::function<void()> onStop = {});
    // onSignal runs on a thread of the instance for every stop signal, with its number (1 for the first),
    // so that a second Ctrl+C can mean "at once". Two signals that arrive before the first is taken may
    // count as one.
    explicit StopSignals(std::function<void(int count)> onSignal);
    // Ends the watcher, discards the stop signals that arrived and restores the previous signal mask.
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Readable from the first stop signal on; never read it. POSIX only: Windows waits have no descriptor
    // to include, they use pause() and requested().
    int fd() const;
    bool requested() const;
    // How many stop signals the watcher took so far (0 without a handler).
    int count() const { return signalCount; }
    // Sleeps; false when a stop was requested before or during the pause.
    bool pause(std::chrono::milliseconds duration) const;

  private:
    struct Host;  // what the operating system needs: the signal mask and descriptors, or the console handler

    void watch();

    std::unique_ptr<Host> host;
    std::function<void(int)> signalHandler;
    std::atomic<int> signalCount{0};
    mutable std::atomic<bool> stopRequested{false};
    std::thread watcher;
};

// A reader that goes away (of standard output, or of a terminal the program writes to) must not end the
// process: a write then fails with an error the program handles. POSIX ignores SIGPIPE; Windows has no
// such signal.
void ignoreBrokenPipes();

}  // namespace rszorvik::base
