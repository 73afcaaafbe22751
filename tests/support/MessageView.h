#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "worker/DataLine.h"
#include "worker/WeightWorkerView.h"

namespace rszorvik::test {

// A view that keeps the important messages the keyboard output reports, from any thread.
class MessageView : public worker::WeightWorkerView {
  public:
    void logEvent(const std::string&) override {}
    void logImportantEvent(const std::string& text) override {
        std::lock_guard lock(mutex);
        importantMessages.push_back(text);
    }
    void setConnectedInGUI(bool) override {}
    void update(const worker::DataLine&) override {}

    std::vector<std::string> messages() const {
        std::lock_guard lock(mutex);
        return importantMessages;
    }
    void clear() {
        std::lock_guard lock(mutex);
        importantMessages.clear();
    }

  private:
    mutable std::mutex mutex;
    std::vector<std::string> importantMessages;
};

}  // namespace rszorvik::test
