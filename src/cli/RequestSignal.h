#pragma once

#include <functional>
#include <memory>

namespace rszorvik::cli {

// A signal as a request for a reading while zorvik-cli run holds the port, so that a script can ask for
// one: SIGUSR1 (kill -USR1 PID) where the system has it. Like StopSignals, the constructor blocks the
// signal in the calling thread and in every thread started after it, and a thread of its own takes it
// from a descriptor: create it before any other thread starts, or the signal's default action may end the
// process.
class RequestSignal {
  public:
    // onSignal runs on the instance's thread for each signal taken (two that arrive together may count
    // as one). Throws std::system_error when the signal cannot be set up.
    explicit RequestSignal(std::function<void()> onSignal);
    ~RequestSignal();
    RequestSignal(const RequestSignal&) = delete;
    RequestSignal& operator=(const RequestSignal&) = delete;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace rszorvik::cli
