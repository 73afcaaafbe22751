#pragma once

#include <string>

namespace rszorvik::util {

// Where the update check shows its status texts (the main window's status line). Called on the
// executor's (GUI) thread only.
class UpdateWorkerView {
  public:
    virtual ~UpdateWorkerView() = default;
    virtual void setText(const std::string& text) = 0;
};

}  // namespace rszorvik::util
