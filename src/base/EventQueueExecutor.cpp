#include "base/EventQueueExecutor.h"

#include <utility>

namespace rszorvik::base {

namespace {

// Marks the calling thread as the executor's thread for the duration of a run function; nested runs
// (a task that runs the queue itself) restore the outer mark.
class RunnerMark {
  public:
    explicit RunnerMark(std::atomic<std::thread::id>& runner)
        : slot(runner), previous(runner.exchange(std::this_thread::get_id())) {}
    ~RunnerMark() { slot.store(previous); }
    RunnerMark(const RunnerMark&) = delete;
    RunnerMark& operator=(const RunnerMark&) = delete;

  private:
    std::atomic<std::thread::id>& slot;
    std::thread::id previous;
};

constexpr auto kForever = std::chrono::steady_clock::time_point::max();

}  // namespace

// Notifying under the lock: once it is released the runner may finish everything and destroy the executor.
void EventQueueExecutor::post(std::function<void()> task) {
    std::lock_guard lock(mutex);
    tasks.push_back(std::move(task));
    available.notify_all();
}

EventQueueExecutor::Wait EventQueueExecutor::runNext(std::chrono::steady_clock::time_point deadline) {
    std::function<void()> task;
    {
        std::unique_lock lock(mutex);
        const auto ready = [&] { return quitRequested || !tasks.empty(); };
        if (deadline == kForever)
            available.wait(lock, ready);
        else if (!available.wait_until(lock, deadline, ready))
            return Wait::Timeout;
        if (quitRequested) {
            quitRequested = false;
            return Wait::Quit;
        }
        task = std::move(tasks.front());
        tasks.pop_front();
    }
    task();
    return Wait::Task;
}

std::size_t EventQueueExecutor::runUntilIdle() {
    RunnerMark mark(runner);
    std::size_t count = 0;
    while (true) {
        std::function<void()> task;
        {
            std::lock_guard lock(mutex);
            if (tasks.empty()) return count;
            task = std::move(tasks.front());
            tasks.pop_front();
        }
        task();
        ++count;
    }
}

std::size_t EventQueueExecutor::runFor(std::chrono::milliseconds duration) {
    RunnerMark mark(runner);
    const auto deadline = std::chrono::steady_clock::now() + duration;
    std::size_t count = 0;
    while (runNext(deadline) == Wait::Task)
        ++count;
    return count;
}

bool EventQueueExecutor::runUntil(const std::function<bool()>& stop, std::chrono::milliseconds timeout) {
    RunnerMark mark(runner);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!stop()) {
        if (runNext(deadline) != Wait::Task) return stop();
    }
    return true;
}

std::size_t EventQueueExecutor::run() {
    RunnerMark mark(runner);
    std::size_t count = 0;
    while (runNext(kForever) == Wait::Task)
        ++count;
    return count;
}

void EventQueueExecutor::quit() {
    std::lock_guard lock(mutex);
    quitRequested = true;
    available.notify_all();
}

std::size_t EventQueueExecutor::pending() const {
    std::lock_guard lock(mutex);
    return tasks.size();
}

}  // namespace rszorvik::base
