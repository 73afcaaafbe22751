#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "platform/DeviceWatch.h"

namespace rszorvik::test {

// Device watches the test drives, for a worker that waits for an unplugged instrument: a wait ends when
// the test announces a change or on wake(). The state outlives the watches the worker creates and drops;
// the test keeps it.
class ScriptedDevices {
  public:
    // A factory for WeightWorker::DeviceAccess::watch.
    std::unique_ptr<platform::DeviceWatch> watch(const std::string&, bool) {
        std::lock_guard lock(mutex);
        return std::make_unique<Watch>(*this, announced);
    }

    // Ends the current or the next wait with Changed.
    void announce() {
        std::lock_guard lock(mutex);
        ++announced;
        changed.notify_all();
    }
    // Waits (in real time, at most patience) until a worker waits on a watch for the nth time.
    bool awaitWaits(int n, std::chrono::milliseconds patience = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, patience, [&] { return waitsBegun >= n; });
    }

  private:
    class Watch final : public platform::DeviceWatch {
      public:
        // Announcements made before it was created are not for it.
        Watch(ScriptedDevices& owner, int seen) : owner(owner), taken(seen) {}

        Event wait(std::chrono::milliseconds) override {
            std::unique_lock lock(owner.mutex);
            ++owner.waitsBegun;
            owner.changed.notify_all();
            owner.changed.wait(lock, [&] { return owner.announced > taken || woken; });
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
        bool notifies() const override { return true; }

      private:
        ScriptedDevices& owner;
        int taken;
        bool woken = false;
    };

    std::mutex mutex;
    std::condition_variable changed;
    int announced = 0;
    int waitsBegun = 0;
};

}  // namespace rszorvik::test
