#pragma once

// A worker view that keeps everything a worker reports, for tests that run a worker on a real port.
// The worker's thread logs while the test reads: every list is guarded.

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Executor.h"
#include "config/Config.h"
#include "config/ConfigHelper.h"
#include "worker/DataLine.h"
#include "worker/WeightWorker.h"
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

// A number worker (the generic preset, lines ending in CR) on the port at `path`, started. Its device check
// comes only after a minute of quiet input, so what a test sees comes from the port itself.
inline std::shared_ptr<worker::WeightWorker> startNumberWorker(const std::string& path,
                                                               worker::WeightWorkerView& view,
                                                               base::Executor& executor) {
    namespace ConfigHelper = config::ConfigHelper;
    auto settings = ConfigHelper::Instrument(ConfigHelper::Instrument::GENERIC).getDefaultConfig();
    settings.setPort(path);
    settings.setInstrument(ConfigHelper::Instrument::GENERIC);
    settings.setInputTerminator(13);
    auto worker = worker::WeightWorker::forPreset(settings, view, executor);
    worker->useHealthCheckInterval(std::chrono::minutes(1));
    worker->execute();
    return worker;
}

}  // namespace rszorvik::test
