// Systems without device notifications: the wait only ends by wake() or its timeout, so the caller looks
// for the device now and then, and USB identities are unknown.
#include <condition_variable>
#include <mutex>

#include "platform/DeviceWatch.h"

namespace rszorvik::platform {

namespace {

class TimedWatch final : public DeviceWatch {
  public:
    Event wait(std::chrono::milliseconds timeout) override {
        std::unique_lock lock(mutex);
        const auto woken = [this] { return wakeUp; };
        const bool ended =
            timeout.count() < 0 ? (changed.wait(lock, woken), true) : changed.wait_for(lock, timeout, woken);
        if (!ended) return Event::Timeout;
        wakeUp = false;
        return Event::Woken;
    }

    void wake() override {
        {
            std::lock_guard lock(mutex);
            wakeUp = true;
        }
        changed.notify_all();
    }

    bool notifies() const override { return false; }

  private:
    std::mutex mutex;
    std::condition_variable changed;
    bool wakeUp = false;
};

}  // namespace

std::unique_ptr<DeviceWatch> DeviceWatch::create(const std::string&, bool) {
    return std::make_unique<TimedWatch>();
}

std::optional<UsbIdentity> DeviceWatch::usbIdentityOf(const std::string&, const DeviceRoots&) {
    return std::nullopt;
}

std::vector<std::string> DeviceWatch::portsOf(const UsbIdentity&, const DeviceRoots&) {
    return {};
}

}  // namespace rszorvik::platform
