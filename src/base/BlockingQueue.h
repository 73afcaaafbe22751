#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "base/Interruptible.h"

namespace rszorvik::base {

// A first-in-first-out queue without a capacity limit that any number of threads may fill and drain.
// take() waits while the queue is empty and gives up with InterruptedError when its thread is interrupted.
// A consumer that marks each item it took as handled (taskDone) lets others wait until everything put
// has been handled (awaitAllDone), not merely taken.
template <class T>
class BlockingQueue {
  public:
    // Never waits.
    void put(T item) {
        auto lock = condition_.lock();
        items_.push_back(std::move(item));
        ++unfinished_;
        // Every waiter wakes: one that was interrupted meanwhile leaves without the item, another takes it.
        // Under the lock, because a consumer may destroy the queue as soon as it has the item.
        condition_.notifyAll();
    }

    // The oldest item, waiting for one while the queue is empty. An interruption pending on entry is
    // reported even when items are waiting, so a stopped consumer takes nothing more.
    T take() {
        Interruptible::checkInterrupted();
        auto lock = condition_.lock();
        condition_.wait(lock, [&] { return !items_.empty(); });
        return pop();
    }

    // The oldest item, waiting at most `timeout`; nothing when none arrived in time. Interruptible.
    std::optional<T> poll(std::chrono::milliseconds timeout) {
        Interruptible::checkInterrupted();
        auto lock = condition_.lock();
        if (!condition_.waitFor(lock, timeout, [&] { return !items_.empty(); })) return std::nullopt;
        return pop();
    }

    // The oldest item if there is one, without waiting.
    std::optional<T> poll() {
        auto lock = condition_.lock();
        if (items_.empty()) return std::nullopt;
        return pop();
    }

    std::size_t size() const {
        auto lock = condition_.lock();
        return items_.size();
    }
    bool empty() const { return size() == 0; }
    void clear() { drain(); }

    // Removes and returns every queued item; they count as handled.
    std::vector<T> drain() {
        auto lock = condition_.lock();
        std::vector<T> items(std::make_move_iterator(items_.begin()), std::make_move_iterator(items_.end()));
        unfinished_ -= items_.size();
        items_.clear();
        condition_.notifyAll();
        return items;
    }

    // One item that was taken has been handled.
    void taskDone() {
        auto lock = condition_.lock();
        if (unfinished_ > items_.size()) --unfinished_;
        condition_.notifyAll();
    }

    // Items put and not yet handled: the queued ones and those taken without taskDone().
    std::size_t unfinished() const {
        auto lock = condition_.lock();
        return unfinished_;
    }

    // Waits until every item put has been handled (true), or until the deadline passes or giveUp() holds
    // (false). giveUp is checked whenever the queue changes and after wake(). Interruptible.
    bool awaitAllDone(std::chrono::steady_clock::time_point deadline,
                      const std::function<bool()>& giveUp = {}) {
        auto lock = condition_.lock();
        const auto left = deadline - std::chrono::steady_clock::now();
        const auto limit = deadline == std::chrono::steady_clock::time_point::max()
                               ? std::chrono::nanoseconds(std::chrono::hours(24 * 365 * 100))
                               : std::chrono::duration_cast<std::chrono::nanoseconds>(left);
        bool gaveUp = false;
        const bool ended = condition_.waitFor(lock, limit, [&] {
            if (unfinished_ == 0) return true;
            gaveUp = giveUp && giveUp();
            return gaveUp;
        });
        return ended && !gaveUp && unfinished_ == 0;
    }

    // Lets awaitAllDone check its giveUp condition again.
    void wake() {
        auto lock = condition_.lock();
        condition_.notifyAll();
    }

  private:
    T pop() {
        T item = std::move(items_.front());
        items_.pop_front();
        return item;
    }

    InterruptibleCondition condition_;
    std::deque<T> items_;
    std::size_t unfinished_ = 0;  // queued items plus taken ones not yet marked done
};

}  // namespace rszorvik::base
