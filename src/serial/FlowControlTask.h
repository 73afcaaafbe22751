#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace Zivaraze {

class SerialPortLocal;

// The library's own hardware flow-control loop for the one legacy host that needs it: calls the
// native flow step on the port's handle until aborted.
class FlowControlTask {
  public:
    explicit FlowControlTask(const SerialPortLocal& sp);  // prints "FlowControlTask created"
    ~FlowControlTask();                                   // aborts and waits for the loop to end
    FlowControlTask(const FlowControlTask&) = delete;
    FlowControlTask& operator=(const FlowControlTask&) = delete;

    void start();
    void run();
    // Asks the loop to end; it does so after the native step under way.
    void abort();
    // Stops the loop and waits until the thread has ended, so the handle is no longer used.
    void join();

    // Priority on the 1 (lowest) to 10 (highest) scale; the loop raises its own by one step. Threads of
    // the default scheduling class share one level, so here it is advisory.
    int getFlowPriority() const { return priority_.load(); }
    void setFlowPriority(int priority);
    int getPortNum() const { return portNum; }

  private:
    static constexpr int kMaxPriority = 10;

    int portNum;
    std::atomic<bool> abortRequest{false};
    std::atomic<int> priority_{5};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::thread thread_;
};

}  // namespace Zivaraze
