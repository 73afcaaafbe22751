#pragma once

#include <optional>
#include <string>

namespace rszorvik::worker {

// How the port auto-detection reports to the dialog that shows it. All calls come on the executor's (GUI)
// thread.
class AutoPortWorkerView {
  public:
    // How a message stands out; no style is plain text.
    enum class Style {
        EMPHASIS,  // the port that was found
        ALERT,     // no port was found
    };

    virtual ~AutoPortWorkerView() = default;

    virtual void setButtonToCancel() = 0;
    virtual void setButtonToClose() = 0;
    virtual void setPort(const std::string& name) = 0;  // select the port that was found
    virtual void update(const std::string& text, std::optional<Style> style) = 0;  // append a message
};

}  // namespace rszorvik::worker
