#pragma once

#include <functional>

#include "base/Executor.h"

namespace rszorvik {

// Runs posted tasks on the GUI thread, in order, through queued invocations on the application object.
// It holds no state, so any number of background tasks may share the one instance().
class QtExecutor : public base::Executor {
  public:
    // Any thread. A task posted when the application object is gone (the process is ending) is dropped.
    void post(std::function<void()> task) override;

    static QtExecutor& instance();
};

}  // namespace rszorvik
