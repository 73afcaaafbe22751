#pragma once

// A worker view that keeps everything a worker reports, for tests that run a worker on a real port.
// The worker's thread logs while the test reads: every list is guarded.

#include <mutex>
#include <string>
#include <vector>

#include "worker/DataLine.h"
#include "worker/WeightWorkerView.h"

namespace rszorvik::test {

class CollectingWorkerView : public worker::WeightWorkerView {
  public:
    void logEvent(const std::string& text) override { add(events, text); }
    void logImportantEvent(const std::string& text) override { add(important, text); }
    void setConnectedInGUI(bool connected) override { add(connections, connected ? "on" : "off"); }
    void update(const worker::DataLine& line) override { add(values, line.getProcessedData()); }

    // Connected and disconnected again: the run is over.
    bool ended() const {
        std::lock_guard lock(mutex);
        return connections.size() >= 2;
    }

    std::vector<std::string> events, important, connections, values;
    mutable std::mutex mutex;

  private:
    void add(std::vector<std::string>& to, const std::string& text) {
        std::lock_guard lock(mutex);
        to.push_back(text);
    }
};

}  // namespace rszorvik::test
