#include "base/EventQueueExecutor.h"

#include <utility>

namespace rszorvik::base {

namespace {

// Marks the calling thread as the executor's thread for the duration of a run function; nested runs
// (a task that runs the queue itself) restore the outer mark.
class RunnerMark {
  public:
    explicit RunnerMark(std::atomic<std::thread::id>& runner)
        : runner_(runner), previous_(runner.exchange(std::this_thread::get_id())) {}
    ~RunnerMark() { runner_.store(previous_); }
    RunnerMark(const RunnerMark&) = delete;
    RunnerMark& operator=(const RunnerMark&) = delete;

  private:
    std::atomic<std::thread::id>& runner_;
    std::thread::id previous_;
};

constexpr auto kForever = std::chrono::steady_clock::time_point::max();

}  // namespace

// Notifying under the lock: once it is released the runner may finish everything and destroy the executor.
void EventQueueExecutor::post(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    available_.notify_all();
}

EventQueueExecutor::Wait EventQueueExecutor::runNext(std::chrono::steady_clock::time_point deadline) {
    std::function<void()> task;
    {
        std::unique_lock lock(mutex_);
        const auto ready = [&] { return quit_ || !tasks_.empty(); };
        if (deadline == kForever)
            available_.wait(lock, ready);
        else if (!available_.wait_until(lock, deadline, ready))
            return Wait::Timeout;
        if (quit_) {
            quit_ = false;
            return Wait::Quit;
        }
        task = std::move(tasks_.front());
        tasks_.pop_front();
    }
    task();
    return Wait::Task;
}

std::size_t EventQueueExecutor::runUntilIdle() {
    RunnerMark mark(runner_);
    std::size_t count = 0;
    while (true) {
        std::function<void()> task;
        {
            std::lock_guard lock(mutex_);
            if (tasks_.empty()) return count;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
        ++count;
    }
}

std::size_t EventQueueExecutor::runFor(std::chrono::milliseconds duration) {
    RunnerMark mark(runner_);
    const auto deadline = std::chrono::steady_clock::now() + duration;
    std::size_t count = 0;
    while (runNext(deadline) == Wait::Task)
        ++count;
    return count;
}

bool EventQueueExecutor::runUntil(const std::function<bool()>& stop, std::chrono::milliseconds timeout) {
    RunnerMark mark(runner_);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!stop()) {
        if (runNext(deadline) != Wait::Task) return stop();
    }
    return true;
}

std::size_t EventQueueExecutor::run() {
    RunnerMark mark(runner_);
    std::size_t count = 0;
    while (runNext(kForever) == Wait::Task)
        ++count;
    return count;
}

void EventQueueExecutor::quit() {
    std::lock_guard lock(mutex_);
    quit_ = true;
    available_.notify_all();
}

std::size_t EventQueueExecutor::pending() const {
    std::lock_guard lock(mutex_);
    return tasks_.size();
}

}  // namespace rszorvik::base
