#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/BackgroundTask.h"
#include "worker/AutoPortWorkerView.h"

namespace Zivaraze {
class SerialPortLocal;
}

namespace rszorvik::worker {

// Finds the port a device is attached to without exchanging data: opens each port in turn, drives DTR and
// RTS, watches DSR and CTS, scores each port from 0 to 3 and ends with the best one. The result is the best
// port's name, or nothing when no port scored above 0. Messages go to the view through process() and done()
// on the executor's thread; cancel with interruption to stop at once, also in the middle of a pause.
class AutoPortWorker : public base::BackgroundTask<std::optional<std::string>, std::string> {
  public:
    // How long the input lines get to follow a change of the output lines.
    static constexpr std::chrono::milliseconds PAUSE{150};

    // Waits after the output lines changed; must end with base::InterruptedError when the thread is
    // interrupted. Runs on the worker thread.
    using Pause = std::function<void()>;

    // What became of one port, in probing order.
    struct PortReport {
        std::string port;
        std::optional<int> confidence;      // absent when the port could not be opened or probed
        std::vector<std::string> messages;  // the texts published while this port was under test
    };

    // The view must outlive the task's done(). Without a pause function, the pause is an interruptible
    // sleep of PAUSE.
    AutoPortWorker(base::Executor& executor, AutoPortWorkerView& view, std::vector<std::string> ports,
                   Pause pause = {});

    // The ports probed so far; complete once the task is done. Any thread.
    std::vector<PortReport> reports() const;

    static std::string text(const char* key);  // the catalogue text

  protected:
    std::optional<std::string> doInBackground() override;
    void process(const std::vector<std::string>& items) override;
    void done() override;

  private:
    int probe(Zivaraze::SerialPortLocal& sp, const std::string& name);
    void say(std::string message);  // publishes and records it for the port under test

    AutoPortWorkerView& progressView;
    const std::vector<std::string> candidatePorts;
    const Pause pauseBetween;

    // Worker thread only.
    std::optional<std::string> bestPortName;
    int bestPortConfidence = 0;

    mutable std::mutex reportsMutex;
    std::vector<PortReport> portReports;
};

}  // namespace rszorvik::worker
