#pragma once

#include <functional>

namespace rszorvik::base {

// Runs tasks one at a time, in the order they were posted, on one thread of its own choosing: the GUI thread
// in the window, an event loop in the command line tool and the tests.
class Executor {
  public:
    virtual ~Executor() = default;
    // Safe to call from any thread, also from a task that is running.
    virtual void post(std::function<void()> task) = 0;
};

}  // namespace rszorvik::base
