#pragma once

#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "base/Executor.h"
#include "base/Interruptible.h"
#include "base/InterruptibleThread.h"

namespace rszorvik::base {

// The background work failed; the message is that of the exception it threw, which cause() holds.
class ExecutionError : public std::runtime_error {
  public:
    ExecutionError(const std::string& message, std::exception_ptr cause)
        : std::runtime_error(message), failureCause(std::move(cause)) {}
    std::exception_ptr cause() const { return failureCause; }

  private:
    std::exception_ptr failureCause;
};

// The task was cancelled, so it has no result.
class CancellationError : public std::runtime_error {
  public:
    CancellationError() : std::runtime_error("cancelled") {}
};

// The part of BackgroundTask that does not depend on its types: thread, state, cancellation, the end.
class BackgroundTaskBase : public std::enable_shared_from_this<BackgroundTaskBase> {
  public:
    enum class State { PENDING, STARTED, DONE };

    // The executor runs process() and done(); it must outlive the task's work.
    explicit BackgroundTaskBase(Executor& executor) : taskExecutor(executor) {}
    virtual ~BackgroundTaskBase() = default;
    BackgroundTaskBase(const BackgroundTaskBase&) = delete;
    BackgroundTaskBase& operator=(const BackgroundTaskBase&) = delete;

    // Starts doInBackground on a thread of its own. The task must be owned by a std::shared_ptr (the thread
    // and the executor keep it alive until done() has run) and runs once: std::logic_error otherwise.
    void execute();
    // Marks the task cancelled and, with mayInterruptIfRunning, interrupts its thread. False when the task
    // had ended or was cancelled already. A task cancelled before execute() never runs its work.
    bool cancel(bool mayInterruptIfRunning);
    bool isCancelled() const;
    // True once the work has ended or the task was cancelled.
    bool isDone() const;
    // PENDING until execute(), STARTED, DONE from just before done() runs.
    State getState() const;
    // Waits until the background work has really ended (also after a cancellation, which only asks it to
    // stop), at most `timeout`; true when it has ended or never started. Not from the task's own thread.
    bool awaitEnd(std::chrono::milliseconds timeout) const;

  protected:
    // Runs on the executor's thread exactly once, after the background work has ended (normally, by an
    // exception or after cancellation) and after every item it published went through process().
    virtual void done() {}
    // Runs on the cancelling thread when cancel() marks a task whose work has started: work that waits on
    // something other than the interruptible waits (a device, a socket) wakes it here.
    virtual void cancelRequested() {}

    Executor& executor() const { return taskExecutor; }

    // Waits until the work has ended; throws CancellationError (at once) for a cancelled task,
    // InterruptedError when the waiting thread is interrupted, ExecutionError when the work failed.
    void awaitOutcome() const;
    // Posts a delivery of published items to the executor.
    void scheduleDelivery();

  private:
    virtual void runInBackground() = 0;   // calls doInBackground and keeps its result
    virtual void deliverPublished() = 0;  // executor's thread: hands the pending items to process()
    void workEnded(std::exception_ptr failure);
    void finish();

    Executor& taskExecutor;
    InterruptibleCondition condition;  // guards the fields below
    State state = State::PENDING;
    bool executed = false;
    bool cancelled = false;
    bool ended = false;
    std::exception_ptr workFailure;
    InterruptibleThread thread;  // last, so it is joined before the rest goes
};

// A unit of background work in the manner of a GUI toolkit's worker: doInBackground() runs on a thread of
// its own and returns a T; it may publish() items of type V, which reach process() on the executor's thread
// in publication order, several per call when they come fast; done() follows on the executor's thread.
// Create it with std::make_shared.
template <class T, class V = std::monostate>
class BackgroundTask : public BackgroundTaskBase {
  public:
    using BackgroundTaskBase::BackgroundTaskBase;

    // The result of doInBackground, waiting for it. Throws CancellationError when the task was cancelled,
    // ExecutionError with the message of the exception doInBackground threw, InterruptedError when the
    // calling thread is interrupted while it waits.
    T get() const {
        awaitOutcome();
        if constexpr (!std::is_void_v<T>) {
            std::lock_guard lock(resultMutex);
            return *result;
        }
    }

  protected:
    virtual T doInBackground() = 0;
    virtual void process(const std::vector<V>& items) { (void)items; }

    // Any thread, usually doInBackground's.
    void publish(V item) {
        bool first;
        {
            std::lock_guard lock(publishMutex);
            first = pending.empty();
            pending.push_back(std::move(item));
        }
        // One delivery takes everything published until it runs.
        if (first) scheduleDelivery();
    }

  private:
    using Stored = std::conditional_t<std::is_void_v<T>, std::monostate, T>;

    void runInBackground() final {
        if constexpr (std::is_void_v<T>) {
            doInBackground();
        } else {
            Stored value = doInBackground();
            std::lock_guard lock(resultMutex);
            result.emplace(std::move(value));
        }
    }

    void deliverPublished() final {
        std::vector<V> items;
        {
            std::lock_guard lock(publishMutex);
            items.swap(pending);
        }
        if (!items.empty()) process(items);
    }

    mutable std::mutex resultMutex;
    std::optional<Stored> result;
    std::mutex publishMutex;
    std::vector<V> pending;
};

}  // namespace rszorvik::base
