#pragma once

#include <atomic>
#include <chrono>
#include <memory>

#include "base/Clock.h"
#include "base/InterruptibleThread.h"

namespace Zivaraze {

class SerialPortLocal;

// The library's own hardware flow-control loop for the one legacy host that needs it: calls the
// native flow step on the port's handle until aborted.
class FlowControlTask {
  public:
    // Prints "FlowControlTask created". The clock times the pause after a failing step.
    explicit FlowControlTask(const SerialPortLocal& sp,
                             std::shared_ptr<rszorvik::base::Clock> clock = rszorvik::base::Clock::steady());
    ~FlowControlTask();  // aborts and waits for the loop to end
    FlowControlTask(const FlowControlTask&) = delete;
    FlowControlTask& operator=(const FlowControlTask&) = delete;

    // How long the loop waits after a failing step before it tries again.
    static constexpr std::chrono::milliseconds kRetryPause{100};

    void start();
    // Asks the loop to end; it does so after the native step under way, or at once while it pauses.
    void abort();
    // Stops the loop and waits until the thread has ended, so the handle is no longer used.
    void join();

    // Priority on the 1 (lowest) to 10 (highest) scale; the loop raises its own by one step. Threads of
    // the default scheduling class share one level, so here it is advisory.
    int getFlowPriority() const { return flowPriority.load(); }
    void setFlowPriority(int priority);
    int getPortNum() const { return portNum; }

  private:
    static constexpr int kMaxPriority = 10;

    void run();

    int portNum;
    std::shared_ptr<rszorvik::base::Clock> pauseClock;
    std::atomic<bool> abortRequest{false};
    std::atomic<int> flowPriority{5};
    rszorvik::base::InterruptibleThread thread;
};

}  // namespace Zivaraze
