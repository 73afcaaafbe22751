#include "support/ManualClock.h"

namespace rszorvik::test {

ManualClock::TimePoint ManualClock::now() const {
    auto lock = changed.lock();
    return current;
}

void ManualClock::sleepFor(std::chrono::milliseconds duration) {
    // The real clock refuses to pause an interrupted thread, even for no time at all.
    base::Interruptible::checkInterrupted();
    auto lock = changed.lock();
    const TimePoint end = current + duration;
    pauseLog.push_back(duration);
    changed.notifyAll();
    changed.wait(lock, [&] { return current >= end; });
}

void ManualClock::advance(std::chrono::milliseconds by) {
    {
        auto lock = changed.lock();
        current += by;
    }
    changed.notifyAll();
}

std::size_t ManualClock::pauses() const {
    auto lock = changed.lock();
    return pauseLog.size();
}

std::vector<std::chrono::milliseconds> ManualClock::pauseLengths() const {
    auto lock = changed.lock();
    return pauseLog;
}

bool ManualClock::awaitPauses(std::size_t count, std::chrono::milliseconds patience) const {
    auto lock = changed.lock();
    return changed.waitFor(lock, patience, [&] { return pauseLog.size() >= count; });
}

}  // namespace rszorvik::test
