#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <system_error>

#include "base/StopSignals.h"

namespace rszorvik::base {
namespace {

// The console calls its control handler on a thread it creates for each event; the handler only counts
// and wakes the instance's watcher, which runs the instance's handler as on POSIX.
struct ConsoleEvents {
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;  // events the console delivered
    int taken = 0;    // events the watcher handed on
    bool ending = false;
};

// The instance the console handler reports to; one at a time.
std::mutex activeMutex;
std::condition_variable activeGone;
ConsoleEvents* active = nullptr;

// After a close, log-off or shutdown event the system ends the process as soon as the handler returns
// (and on its own after about five seconds): the handler waits for the instance to go first.
constexpr auto kCloseGrace = std::chrono::milliseconds(4500);

BOOL WINAPI consoleHandler(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT &&
        event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT)
        return FALSE;
    std::unique_lock lock(activeMutex);
    if (active == nullptr) return FALSE;
    {
        std::lock_guard hostLock(active->mutex);
        ++active->arrived;
    }
    active->changed.notify_all();
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
        activeGone.wait_for(lock, kCloseGrace, [] { return active == nullptr; });
    return TRUE;
}

}  // namespace

struct StopSignals::Host : ConsoleEvents {};

StopSignals::StopSignals(std::function<void()> onStop)
    : StopSignals(onStop ? std::function<void(int)>([onStop = std::move(onStop)](int count) {
          if (count == 1) onStop();
      })
                         : std::function<void(int)>()) {}

StopSignals::StopSignals(std::function<void(int count)> onSignal)
    : host(std::make_unique<Host>()), signalHandler(std::move(onSignal)) {
    {
        std::lock_guard lock(activeMutex);
        active = host.get();
    }
    if (!SetConsoleCtrlHandler(consoleHandler, TRUE)) {
        const auto error = static_cast<int>(GetLastError());
        std::lock_guard lock(activeMutex);
        active = nullptr;
        throw std::system_error(error, std::system_category(), "SetConsoleCtrlHandler");
    }
    watcher = std::thread([this] { watch(); });
}

StopSignals::~StopSignals() {
    {
        std::lock_guard lock(host->mutex);
        host->ending = true;
    }
    host->changed.notify_all();
    if (watcher.joinable()) watcher.join();
    SetConsoleCtrlHandler(consoleHandler, FALSE);
    {
        std::lock_guard lock(activeMutex);
        if (active == host.get()) active = nullptr;
    }
    activeGone.notify_all();
}

void StopSignals::watch() {
    std::unique_lock lock(host->mutex);
    for (;;) {
        host->changed.wait(lock, [&] { return host->ending || host->taken < host->arrived; });
        if (host->ending) return;
        while (host->taken < host->arrived) {
            const int count = ++host->taken;
            if (count == 1) stopRequested = true;
            host->changed.notify_all();  // wakes pause()
            if (signalHandler) {
                signalCount = count;
                lock.unlock();
                signalHandler(count);
                lock.lock();
            }
        }
    }
}

bool StopSignals::requested() const {
    return stopRequested;
}

bool StopSignals::pause(std::chrono::milliseconds duration) const {
    std::unique_lock lock(host->mutex);
    return !host->changed.wait_for(lock, duration, [&] { return stopRequested.load(); });
}

void ignoreBrokenPipes() {}

}  // namespace rszorvik::base
