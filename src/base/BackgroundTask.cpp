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
    auto lock = condition_.lock();
    if (executed_) throw std::logic_error("BackgroundTask executed twice");
    executed_ = true;
    if (cancelled_) return;  // cancel() has seen to done() already
    state_ = State::STARTED;
    // The thread keeps the task alive until its work has ended and finish() is posted.
    thread_.start([self = std::move(self)]() mutable {
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
        auto lock = condition_.lock();
        ended_ = true;
        failure_ = std::move(failure);
        condition_.notifyAll();
    }
    executor_.post([self = shared_from_this()] { self->finish(); });
}

void BackgroundTaskBase::finish() {
    // Items published just before the end have not been delivered yet; they come before done().
    deliverPublished();
    {
        auto lock = condition_.lock();
        state_ = State::DONE;
    }
    done();
}

bool BackgroundTaskBase::cancel(bool mayInterruptIfRunning) {
    bool neverStarted = false;
    {
        auto lock = condition_.lock();
        if (cancelled_ || ended_) return false;
        cancelled_ = true;
        neverStarted = !executed_;
        if (mayInterruptIfRunning && executed_) thread_.interrupt();
        condition_.notifyAll();
    }
    if (!neverStarted) cancelRequested();
    if (neverStarted) {
        // Its work will never run, so it ends here; done() still comes, once.
        if (auto self = weak_from_this().lock()) executor_.post([self] { self->finish(); });
    }
    return true;
}

bool BackgroundTaskBase::isCancelled() const {
    auto lock = condition_.lock();
    return cancelled_;
}

bool BackgroundTaskBase::isDone() const {
    auto lock = condition_.lock();
    return cancelled_ || ended_;
}

BackgroundTaskBase::State BackgroundTaskBase::getState() const {
    auto lock = condition_.lock();
    return state_;
}

void BackgroundTaskBase::awaitOutcome() const {
    auto lock = condition_.lock();
    condition_.wait(lock, [&] { return cancelled_ || ended_; });
    if (cancelled_) throw CancellationError();
    if (failure_) throw ExecutionError(messageOf(failure_), failure_);
}

void BackgroundTaskBase::scheduleDelivery() {
    executor_.post([self = shared_from_this()] { self->deliverPublished(); });
}

}  // namespace rszorvik::base
