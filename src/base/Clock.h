#pragma once

#include <chrono>
#include <memory>

namespace rszorvik::base {

// Where code that measures intervals or pauses takes its time from, so that a test can drive time by hand
// instead of sleeping.
class Clock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;

    // Monotonic time; only differences between two readings mean anything.
    virtual TimePoint now() const = 0;
    // Pauses the calling thread for the duration; throws InterruptedError when the thread is interrupted
    // before or during the pause, as Interruptible::sleepFor does.
    virtual void sleepFor(std::chrono::milliseconds duration) = 0;

    // The machine's steady clock; shared, it lives as long as the program.
    static std::shared_ptr<Clock> steady();
};

}  // namespace rszorvik::base
