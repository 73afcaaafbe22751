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
        auto lock = condition.lock();
        items.push_back(std::move(item));
        ++unfinishedCount;
        // Every waiter wakes: one that was interrupted meanwhile leaves without the item, another takes it.
        // Under the lock, because a consumer may destroy the queue as soon as it has the item.
        condition.notifyAll();
    }

    // The oldest item, waiting for one while the queue is empty. An interruption pending on entry is
    // reported even when items are waiting, so a stopped consumer takes nothing more.
    T take() {
        Interruptible::checkInterrupted();
        auto lock = condition.lock();
        condition.wait(lock, [&] { return !items.empty(); });
        return pop();
    }

    // The oldest item, waiting at most `timeout`; nothing when none arrived in time. Interruptible.
    std::optional<T> poll(std::chrono::milliseconds timeout) {
        Interruptible::checkInterrupted();
        auto lock = condition.lock();
        if (!condition.waitFor(lock, timeout, [&] { return !items.empty(); })) return std::nullopt;
        return pop();
    }

    // The oldest item if there is one, without waiting.
    std::optional<T> poll() {
        auto lock = condition.lock();
        if (items.empty()) return std::nullopt;
        return pop();
    }

    std::size_t size() const {
        auto lock = condition.lock();
        return items.size();
    }
    bool empty() const { return size() == 0; }
    void clear() { drain(); }

    // Removes and returns every queued item; they count as handled.
    std::vector<T> drain() {
        auto lock = condition.lock();
        std::vector<T> drained(std::make_move_iterator(items.begin()), std::make_move_iterator(items.end()));
        unfinishedCount -= items.size();
        items.clear();
        condition.notifyAll();
        return drained;
    }

    // When nothing is queued or unfinished, counts one item as taken without queueing it: the caller
    // handles it in place of a consumer and marks it with taskDone(). False when the queue is not idle.
    bool claimIfIdle() {
        auto lock = condition.lock();
        if (unfinishedCount != 0) return false;
        ++unfinishedCount;
        return true;
    }

    // One item that was taken has been handled.
    void taskDone() {
        auto lock = condition.lock();
        if (unfinishedCount > items.size()) --unfinishedCount;
        // A consumer waiting for an item would only wake to wait again.
        if (completionWaiters > 0) condition.notifyAll();
    }

    // Items put and not yet handled: the queued ones and those taken without taskDone().
    std::size_t unfinished() const {
        auto lock = condition.lock();
        return unfinishedCount;
    }

    // Waits until every item put has been handled (true), or until the deadline passes or giveUp() holds
    // (false). giveUp is checked whenever the queue changes and after wake(). Interruptible.
    bool awaitAllDone(std::chrono::steady_clock::time_point deadline,
                      const std::function<bool()>& giveUp = {}) {
        auto lock = condition.lock();
        ++completionWaiters;
        struct Leave {
            std::size_t& waiters;
            ~Leave() { --waiters; }  // the lock is held again, also when the wait was interrupted
        } leave{completionWaiters};
        const auto left = deadline - std::chrono::steady_clock::now();
        const auto limit = deadline == std::chrono::steady_clock::time_point::max()
                               ? std::chrono::nanoseconds(std::chrono::hours(24 * 365 * 100))
                               : std::chrono::duration_cast<std::chrono::nanoseconds>(left);
        bool gaveUp = false;
        const bool ended = condition.waitFor(lock, limit, [&] {
            if (unfinishedCount == 0) return true;
            gaveUp = giveUp && giveUp();
            return gaveUp;
        });
        return ended && !gaveUp && unfinishedCount == 0;
    }

    // Lets awaitAllDone check its giveUp condition again.
    void wake() {
        auto lock = condition.lock();
        condition.notifyAll();
    }

  private:
    T pop() {
        T item = std::move(items.front());
        items.pop_front();
        return item;
    }

    InterruptibleCondition condition;
    std::deque<T> items;
    std::size_t unfinishedCount = 0;    // queued items plus taken ones not yet marked done
    std::size_t completionWaiters = 0;  // threads in awaitAllDone
};

}  // namespace rszorvik::base
