#pragma once

#include <string>

namespace Zivaraze::tool {

// Receives status texts.
class StatusAcceptor {
  public:
    virtual ~StatusAcceptor() = default;
    virtual void statusMsg(const std::string& message) = 0;
};

}  // namespace Zivaraze::tool
