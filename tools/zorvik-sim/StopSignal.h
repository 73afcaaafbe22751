#pragma once

#include <chrono>

namespace rszorvik::sim {

// SIGINT and SIGTERM turn into a readable pipe, so every wait of the simulator can end on them.
// One instance per process.
class StopSignal {
  public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    int fd() const { return readFd_; }
    bool requested() const;
    // Sleeps; false when a stop was requested before or during the pause.
    bool pause(std::chrono::milliseconds duration) const;

  private:
    int readFd_ = -1;
};

}  // namespace rszorvik::sim
