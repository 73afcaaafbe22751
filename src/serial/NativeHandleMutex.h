#pragma once

#include <mutex>

namespace Zivaraze {

// The one process-wide lock held around every native open, configure, close, reset and power-mode
// call, so two ports never open or configure at the same time.
class NativeHandleMutex {
  public:
    static NativeHandleMutex& getInstance();

    void lock() { monitor.lock(); }
    void unlock() { monitor.unlock(); }

    NativeHandleMutex(const NativeHandleMutex&) = delete;
    NativeHandleMutex& operator=(const NativeHandleMutex&) = delete;

  private:
    NativeHandleMutex() = default;
    std::mutex monitor;
};

}  // namespace Zivaraze
