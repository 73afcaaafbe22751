#pragma once

namespace Zivaraze {

// Receives error events of a port instead of an exception (code 10: the receive count failed).
class ErrorStatusHandler {
  public:
    virtual ~ErrorStatusHandler() = default;
    virtual void sioErrorEvent(int code) = 0;
};

}  // namespace Zivaraze
