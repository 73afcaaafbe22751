#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <utility>

#include "base/Interruptible.h"

namespace rszorvik::base {

// A first-in-first-out queue without a capacity limit that any number of threads may fill and drain.
// take() waits while the queue is empty and gives up with InterruptedError when its thread is interrupted.
template <class T>
class BlockingQueue {
  public:
    // Never waits.
    void put(T item) {
        auto lock = condition.lock();
        items.push_back(std::move(item));
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
    void clear() {
        auto lock = condition.lock();
        items.clear();
    }

  private:
    T pop() {
        T item = std::move(items.front());
        items.pop_front();
        return item;
    }

    InterruptibleCondition condition;
    std::deque<T> items;
};

}  // namespace rszorvik::base
