#include "base/Interruptible.h"

#include <memory>
#include <utility>

#include "base/ThreadExit.h"

namespace rszorvik::base {

namespace {

// The calling thread's flag, released when the thread ends (base/ThreadExit.h says why not by a
// thread_local shared_ptr).
std::shared_ptr<InterruptFlag>& threadFlag() {
    thread_local std::shared_ptr<InterruptFlag>* flag = nullptr;
    if (flag == nullptr) {
        auto owned = std::make_unique<std::shared_ptr<InterruptFlag>>();
        atThreadExit([](void* released) { delete static_cast<std::shared_ptr<InterruptFlag>*>(released); },
                     owned.get());
        flag = owned.release();
    }
    return *flag;
}

}  // namespace

void InterruptFlag::interrupt() {
    std::shared_ptr<detail::WaitTarget> target;
    {
        std::lock_guard lock(mutex);
        raised = true;
        target = waitingOn;
        sleepCondition.notify_all();
    }
    // Taking the target's mutex after the flag is set means the waiter is either still before its check of
    // the flag (and sees it) or already inside the wait (and gets this notification).
    if (target) {
        std::lock_guard lock(target->mutex);
        target->cv.notify_all();
    }
}

bool InterruptFlag::isSet() const {
    std::lock_guard lock(mutex);
    return raised;
}

bool InterruptFlag::testAndClear() {
    std::lock_guard lock(mutex);
    return std::exchange(raised, false);
}

void InterruptFlag::enterWait(const std::shared_ptr<detail::WaitTarget>& target) {
    std::lock_guard lock(mutex);
    if (std::exchange(raised, false)) throw InterruptedError();
    waitingOn = target;
}

void InterruptFlag::leaveWait() {
    std::lock_guard lock(mutex);
    waitingOn.reset();
}

std::shared_ptr<InterruptFlag> Interruptible::currentFlag() {
    auto& flag = threadFlag();
    if (!flag) flag = std::make_shared<InterruptFlag>();
    return flag;
}

void Interruptible::bindCurrentThread(std::shared_ptr<InterruptFlag> flag) {
    threadFlag() = std::move(flag);
}

void Interruptible::sleepFor(std::chrono::milliseconds duration) {
    const auto flag = currentFlag();
    std::unique_lock lock(flag->mutex);
    if (flag->sleepCondition.wait_for(lock, duration, [&] { return flag->raised; })) {
        flag->raised = false;
        throw InterruptedError("sleep interrupted");
    }
}

bool Interruptible::isInterrupted() {
    return currentFlag()->isSet();
}

bool Interruptible::interrupted() {
    return currentFlag()->testAndClear();
}

void Interruptible::checkInterrupted() {
    if (interrupted()) throw InterruptedError();
}

void Interruptible::interruptCurrentThread() {
    currentFlag()->interrupt();
}

void InterruptibleCondition::waitOnce(std::unique_lock<std::mutex>& lock,
                                      std::optional<std::chrono::steady_clock::time_point> deadline) const {
    const auto flag = Interruptible::currentFlag();
    flag->enterWait(target);
    if (deadline)
        target->cv.wait_until(lock, *deadline);
    else
        target->cv.wait(lock);
    flag->leaveWait();
    if (flag->testAndClear()) throw InterruptedError();
}

}  // namespace rszorvik::base
