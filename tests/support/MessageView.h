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
        std::lock_guard lock(mutex_);
        messages_.push_back(text);
    }
    void setConnectedInGUI(bool) override {}
    void update(const worker::DataLine&) override {}

    std::vector<std::string> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
};

}  // namespace rszorvik::test
