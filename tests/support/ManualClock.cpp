#include "support/ManualClock.h"

namespace rszorvik::test {

ManualClock::TimePoint ManualClock::now() const {
    auto lock = changed_.lock();
    return now_;
}

void ManualClock::sleepFor(std::chrono::milliseconds duration) {
    // The real clock refuses to pause an interrupted thread, even for no time at all.
    base::Interruptible::checkInterrupted();
    auto lock = changed_.lock();
    const TimePoint end = now_ + duration;
    pauses_.push_back(duration);
    changed_.notifyAll();
    changed_.wait(lock, [&] { return now_ >= end; });
}

void ManualClock::advance(std::chrono::milliseconds by) {
    {
        auto lock = changed_.lock();
        now_ += by;
    }
    changed_.notifyAll();
}

std::size_t ManualClock::pauses() const {
    auto lock = changed_.lock();
    return pauses_.size();
}

std::vector<std::chrono::milliseconds> ManualClock::pauseLengths() const {
    auto lock = changed_.lock();
    return pauses_;
}

bool ManualClock::awaitPauses(std::size_t count, std::chrono::milliseconds patience) const {
    auto lock = changed_.lock();
    return changed_.waitFor(lock, patience, [&] { return pauses_.size() >= count; });
}

}  // namespace rszorvik::test
