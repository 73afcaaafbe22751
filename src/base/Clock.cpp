#include "base/Clock.h"

#include "base/Interruptible.h"

namespace rszorvik::base {

namespace {

class SteadyClock final : public Clock {
  public:
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    void sleepFor(std::chrono::milliseconds duration) override { Interruptible::sleepFor(duration); }
};

}  // namespace

std::shared_ptr<Clock> Clock::steady() {
    static const std::shared_ptr<Clock> clock = std::make_shared<SteadyClock>();
    return clock;
}

}  // namespace rszorvik::base
