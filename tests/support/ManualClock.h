#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

#include "base/Clock.h"
#include "base/Interruptible.h"

namespace rszorvik::test {

// A clock that stands still until the test advances it. A thread pausing on it goes on once the clock
// has been advanced past the end of its pause, or ends the pause with InterruptedError when it is
// interrupted, as with the real clock. Safe to share between the paused threads and the test.
class ManualClock : public base::Clock {
  public:
    TimePoint now() const override;
    void sleepFor(std::chrono::milliseconds duration) override;

    // Moves the time on and lets every pause that has reached its end go on.
    void advance(std::chrono::milliseconds by);

    // How many pauses have begun so far (including ones of zero length).
    std::size_t pauses() const;
    // The lengths of the pauses begun so far, oldest first.
    std::vector<std::chrono::milliseconds> pauseLengths() const;
    // Waits (in real time, at most `patience`) until `count` pauses have begun; false when they did not.
    // The bound only guards a test against a hang.
    bool awaitPauses(std::size_t count, std::chrono::milliseconds patience = std::chrono::seconds(10)) const;

  private:
    base::InterruptibleCondition changed;
    TimePoint current{};
    std::vector<std::chrono::milliseconds> pauseLog;
};

}  // namespace rszorvik::test
