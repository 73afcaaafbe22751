#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/DeviceWatch.h"

namespace rszorvik::test {

// Device watches the test drives, for a worker that waits for an unplugged instrument: a wait ends when
// the test announces a change, on wake(), or after its timeout (in real time). The state outlives the
// watches the worker creates and drops; the test keeps it.
class ScriptedDevices {
  public:
    // A factory for WeightWorker::DeviceAccess::watch.
    std::unique_ptr<platform::DeviceWatch> watch(const std::string& port, bool anyDevice) {
        std::lock_guard lock(mutex);
        watchedPorts.push_back(port);
        anyDeviceAsked = anyDevice;
        return std::make_unique<Watch>(*this, announced);
    }

    // Ends the current or the next wait with Changed.
    void announce() {
        std::lock_guard lock(mutex);
        ++announced;
        changed.notify_all();
    }
    // Whether the watches say they announce changes (false: the worker must look again on its own).
    void setNotifies(bool value) {
        std::lock_guard lock(mutex);
        notifying = value;
    }
    // Waits (in real time, at most patience) until a worker waits on a watch for the nth time.
    bool awaitWaits(int n, std::chrono::milliseconds patience = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, patience, [&] { return waitsBegun >= n; });
    }

    int waits() const {
        std::lock_guard lock(mutex);
        return waitsBegun;
    }
    std::vector<std::string> ports() const {
        std::lock_guard lock(mutex);
        return watchedPorts;
    }
    bool askedForAnyDevice() const {
        std::lock_guard lock(mutex);
        return anyDeviceAsked;
    }
    // The timeouts the worker waited with, oldest first (negative: none).
    std::vector<std::chrono::milliseconds> timeouts() const {
        std::lock_guard lock(mutex);
        return waitTimeouts;
    }

  private:
    class Watch final : public platform::DeviceWatch {
      public:
        // Announcements made before it was created are not for it.
        Watch(ScriptedDevices& owner, int seen) : owner(owner), taken(seen) {}

        Event wait(std::chrono::milliseconds timeout) override {
            std::unique_lock lock(owner.mutex);
            ++owner.waitsBegun;
            owner.waitTimeouts.push_back(timeout);
            owner.changed.notify_all();
            const auto ready = [&] { return owner.announced > taken || woken; };
            const bool ended = timeout.count() < 0 ? (owner.changed.wait(lock, ready), true)
                                                   : owner.changed.wait_for(lock, timeout, ready);
            if (!ended) return Event::Timeout;
            if (woken) {
                woken = false;
                return Event::Woken;
            }
            taken = owner.announced;
            return Event::Changed;
        }
        void wake() override {
            std::lock_guard lock(owner.mutex);
            woken = true;
            owner.changed.notify_all();
        }
        bool notifies() const override {
            std::lock_guard lock(owner.mutex);
            return owner.notifying;
        }

      private:
        ScriptedDevices& owner;
        int taken;
        bool woken = false;
    };

    mutable std::mutex mutex;
    std::condition_variable changed;
    int announced = 0;
    int waitsBegun = 0;
    bool notifying = true;
    bool anyDeviceAsked = false;
    std::vector<std::string> watchedPorts;
    std::vector<std::chrono::milliseconds> waitTimeouts;
};

}  // namespace rszorvik::test
