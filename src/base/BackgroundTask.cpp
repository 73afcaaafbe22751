#include "base/BackgroundTask.h"

namespace rszorvik::base {

namespace {

std::string messageOf(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown error";
    }
}

}  // namespace

void BackgroundTaskBase::execute() {
    auto self = weak_from_this().lock();
    if (!self) throw std::logic_error("BackgroundTask must be owned by a std::shared_ptr");
    auto lock = condition.lock();
    if (executed) throw std::logic_error("BackgroundTask executed twice");
    executed = true;
    if (cancelled) return;  // cancel() has seen to done() already
    state = State::STARTED;
    // The thread keeps the task alive until its work has ended and finish() is posted.
    thread.start([self = std::move(self)]() mutable {
        std::exception_ptr failure;
        try {
            self->runInBackground();
        } catch (...) {
            failure = std::current_exception();
        }
        self->workEnded(failure);
        self.reset();
    });
}

void BackgroundTaskBase::workEnded(std::exception_ptr failure) {
    {
        auto lock = condition.lock();
        ended = true;
        workFailure = std::move(failure);
        condition.notifyAll();
    }
    taskExecutor.post([self = shared_from_this()] { self->finish(); });
}

void BackgroundTaskBase::finish() {
    // Items published just before the end have not been delivered yet; they come before done().
    deliverPublished();
    {
        auto lock = condition.lock();
        state = State::DONE;
    }
    done();
}

bool BackgroundTaskBase::cancel(bool mayInterruptIfRunning) {
    bool neverStarted = false;
    {
        auto lock = condition.lock();
        if (cancelled || ended) return false;
        cancelled = true;
        neverStarted = !executed;
        if (mayInterruptIfRunning && executed) thread.interrupt();
        condition.notifyAll();
    }
    if (!neverStarted) cancelRequested();
    if (neverStarted) {
        // Its work will never run, so it ends here; done() still comes, once.
        if (auto self = weak_from_this().lock()) taskExecutor.post([self] { self->finish(); });
    }
    return true;
}

bool BackgroundTaskBase::isCancelled() const {
    auto lock = condition.lock();
    return cancelled;
}

bool BackgroundTaskBase::isDone() const {
    auto lock = condition.lock();
    return cancelled || ended;
}

BackgroundTaskBase::State BackgroundTaskBase::getState() const {
    auto lock = condition.lock();
    return state;
}

bool BackgroundTaskBase::awaitEnd(std::chrono::milliseconds timeout) const {
    auto lock = condition.lock();
    return condition.waitFor(lock, timeout, [&] { return ended || !executed || state == State::DONE; });
}

void BackgroundTaskBase::awaitOutcome() const {
    auto lock = condition.lock();
    condition.wait(lock, [&] { return cancelled || ended; });
    if (cancelled) throw CancellationError();
    if (workFailure) throw ExecutionError(messageOf(workFailure), workFailure);
}

void BackgroundTaskBase::scheduleDelivery() {
    taskExecutor.post([self = shared_from_this()] { self->deliverPublished(); });
}

}  // namespace rszorvik::base
