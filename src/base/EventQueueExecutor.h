#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "base/Executor.h"

namespace rszorvik::base {

// An executor whose tasks run on whichever thread calls one of the run functions; that thread is the
// executor's thread while it runs them. An exception thrown by a task leaves the run function; the tasks
// after it stay queued.
class EventQueueExecutor : public Executor {
  public:
    void post(std::function<void()> task) override;

    // Runs queued tasks, including those posted meanwhile, until the queue is empty. Returns how many ran.
    std::size_t runUntilIdle();
    // Runs tasks as they arrive until the time is up or quit() is called. Returns how many ran.
    std::size_t runFor(std::chrono::milliseconds duration);
    // Runs tasks as they arrive until stop() holds, checked before waiting and after every task (a condition
    // changed by another thread needs a post() to be seen), or until the timeout or quit(). Returns stop().
    bool runUntil(const std::function<bool()>& stop, std::chrono::milliseconds timeout);
    // Runs tasks as they arrive until quit(). Returns how many ran.
    std::size_t run();
    // Ends the current (or the next) runFor, runUntil or run after the task that is running. Any thread.
    void quit();

    bool isExecutorThread() const { return runner.load() == std::this_thread::get_id(); }
    std::size_t pending() const;

  private:
    enum class Wait { Task, Timeout, Quit };
    // Waits for a task until the deadline; runs it (lock released) when one came.
    Wait runNext(std::chrono::steady_clock::time_point deadline);

    mutable std::mutex mutex;
    std::condition_variable available;
    std::deque<std::function<void()>> tasks;
    bool quitRequested = false;
    std::atomic<std::thread::id> runner{};
};

}  // namespace rszorvik::base
