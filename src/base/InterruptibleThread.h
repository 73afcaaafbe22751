#pragma once

#include <functional>
#include <memory>
#include <thread>

#include "base/Interruptible.h"

namespace rszorvik::base {

// A thread that another thread can interrupt: interrupt() sets the thread's flag and ends its current
// interruptible wait (Interruptible::sleepFor, BlockingQueue::take, ...) with InterruptedError. An
// InterruptedError that leaves the body ends the thread quietly; any other exception is printed to
// standard error.
class InterruptibleThread {
  public:
    InterruptibleThread() = default;
    explicit InterruptibleThread(std::function<void()> body) { start(std::move(body)); }
    // Interrupts and joins a thread that is still running (unless called on that very thread).
    ~InterruptibleThread();
    InterruptibleThread(InterruptibleThread&&) noexcept = default;
    InterruptibleThread& operator=(InterruptibleThread&& other) noexcept;

    void start(std::function<void()> body);  // std::logic_error when a thread was started already
    void interrupt();                        // does nothing before start()
    void join();                             // std::logic_error when not joinable
    bool joinable() const { return thread.joinable(); }
    bool isInterrupted() const { return interruptFlag && interruptFlag->isSet(); }
    std::thread::id id() const { return thread.get_id(); }

  private:
    void stop() noexcept;

    std::shared_ptr<InterruptFlag> interruptFlag;
    std::thread thread;
};

}  // namespace rszorvik::base
