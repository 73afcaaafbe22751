#pragma once

#include <signal.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace rszorvik::base {

// SIGINT, SIGTERM and SIGHUP as a request to stop, for zorvik, zorvik-cli and zorvik-sim. The constructor
// blocks the three signals in the calling thread, and so in every thread started after it: create it before
// any other thread starts (the serial library, the keyboard and the sound output start threads of their own),
// or a signal may reach a thread that does not block it and end the process. A blocked signal waits on
// a descriptor instead, which a wait can include (fd()) and a watcher thread sleeps on, so a stop is
// delivered at once and nothing polls for it. One instance per process at a time.
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

    // Readable from the first stop signal on; never read it.
    int fd() const { return stopFd >= 0 ? stopFd : signalFd; }
    bool requested() const;
    // How many stop signals the watcher took so far (0 without a handler).
    int count() const { return signalCount; }
    // Sleeps; false when a stop was requested before or during the pause.
    bool pause(std::chrono::milliseconds duration) const;

  private:
    void watch();

    sigset_t previousMask{};
    int signalFd = -1;
    int wakeFd = -1;  // ends the watcher
    int stopFd = -1;  // with a watcher: readable from the first stop signal on
    std::function<void(int)> signalHandler;
    std::atomic<int> signalCount{0};
    mutable std::atomic<bool> stopRequested{false};
    std::thread watcher;
};

}  // namespace rszorvik::base
