#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

namespace rszorvik::base {

// A wait that ended because the waiting thread was interrupted. Throwing it consumes the interruption: the
// thread's flag is clear again, as after Java's InterruptedException.
class InterruptedError : public std::runtime_error {
  public:
    InterruptedError() : std::runtime_error("interrupted") {}
    explicit InterruptedError(const std::string& message) : std::runtime_error(message) {}
};

namespace detail {
// What an interrupt() has to notify to wake a thread out of an InterruptibleCondition. Shared, so that a
// late interrupt never touches a condition that was destroyed meanwhile.
struct WaitTarget {
    std::mutex mutex;
    std::condition_variable cv;
};
}  // namespace detail

// The interruption flag of one thread. interrupt() may be called from any thread: it sets the flag and
// ends the thread's current interruptible wait (Interruptible::sleepFor, InterruptibleCondition,
// BlockingQueue::take) at once; a thread that is not waiting sees the flag at its next wait.
class InterruptFlag {
  public:
    void interrupt();
    bool isSet() const;
    bool testAndClear();  // the flag's state before it was cleared

  private:
    friend class Interruptible;
    friend class InterruptibleCondition;

    // Called with the target's mutex held: throws InterruptedError when the flag is set (clearing it),
    // otherwise remembers the target for interrupt().
    void enterWait(const std::shared_ptr<detail::WaitTarget>& target);
    void leaveWait();

    mutable std::mutex mutex;
    std::condition_variable sleepCondition;
    bool raised = false;
    std::shared_ptr<detail::WaitTarget> waitingOn;
};

// Interruptible waiting for the calling thread, the stand-in for Java's thread interruption.
class Interruptible {
  public:
    // Sleeps for the duration; throws InterruptedError("sleep interrupted") when the thread is interrupted
    // before or during the sleep.
    static void sleepFor(std::chrono::milliseconds duration);
    static bool isInterrupted();
    static bool interrupted();             // returns and clears the calling thread's flag
    static void checkInterrupted();        // throws InterruptedError (clearing the flag) when it is set
    static void interruptCurrentThread();  // sets the calling thread's own flag again
    // The calling thread's flag, for another thread to interrupt this one.
    static std::shared_ptr<InterruptFlag> currentFlag();
    // For code that starts threads: makes `flag`, created before the thread ran, the calling thread's flag.
    static void bindCurrentThread(std::shared_ptr<InterruptFlag> flag);
};

// A mutex and condition variable whose waits end with InterruptedError when the waiting thread is
// interrupted. Copies share the same mutex and condition.
class InterruptibleCondition {
  public:
    InterruptibleCondition() : target(std::make_shared<detail::WaitTarget>()) {}

    std::unique_lock<std::mutex> lock() const { return std::unique_lock(target->mutex); }
    void notifyOne() const { target->cv.notify_one(); }
    void notifyAll() const { target->cv.notify_all(); }

    // Waits (lock held on entry and exit) until pred() holds; throws InterruptedError when the thread is
    // interrupted while it has to wait.
    template <class Pred>
    void wait(std::unique_lock<std::mutex>& lock, Pred pred) const {
        while (!pred())
            waitOnce(lock, std::nullopt);
    }

    // The same with a time limit; false when it ran out with pred() still false.
    template <class Pred>
    bool waitFor(std::unique_lock<std::mutex>& lock, std::chrono::nanoseconds timeout, Pred pred) const {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!pred()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            waitOnce(lock, deadline);
        }
        return true;
    }

  private:
    void waitOnce(std::unique_lock<std::mutex>& lock,
                  std::optional<std::chrono::steady_clock::time_point> deadline) const;

    std::shared_ptr<detail::WaitTarget> target;
};

}  // namespace rszorvik::base
