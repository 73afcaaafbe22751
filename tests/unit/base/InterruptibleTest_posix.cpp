// What only Linux shows: how often a thread was switched to, in /proc.

#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "base/BlockingQueue.h"
#include "base/Interruptible.h"

using rszorvik::base::BlockingQueue;

namespace {

long contextSwitchesOf(pid_t thread) {
    std::ifstream status("/proc/self/task/" + std::to_string(thread) + "/status");
    long switches = 0;
    for (std::string line; std::getline(status, line);)
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) switches = std::stol(line.substr(24));
    return switches;
}

}  // namespace

// Values handled in place of the consumer (claimIfIdle, taskDone) must not wake it: only a waiter for
// completion cares, and that one still hears of every value.
TEST(InterruptibleTest, HandlingInPlaceWakesOnlyWhoWaitsForCompletion) {
    BlockingQueue<int> queue;
    std::atomic<pid_t> consumerThread{0};
    std::thread consumer([&] {
        consumerThread = static_cast<pid_t>(syscall(SYS_gettid));
        try {
            queue.take();
        } catch (const rszorvik::base::InterruptedError&) {
        }
    });
    while (consumerThread == 0)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const long before = contextSwitchesOf(consumerThread);
    constexpr int kValues = 200;
    for (int i = 0; i < kValues; ++i) {
        ASSERT_TRUE(queue.claimIfIdle());
        queue.taskDone();
        // Time for a woken consumer to wait again, so that each value counts.
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
    EXPECT_LT(contextSwitchesOf(consumerThread) - before, kValues / 4);

    ASSERT_TRUE(queue.claimIfIdle());
    auto completion = std::async(std::launch::async, [&] {
        return queue.awaitAllDone(std::chrono::steady_clock::now() + std::chrono::seconds(10));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    queue.taskDone();
    EXPECT_TRUE(completion.get());
    queue.put(1);
    consumer.join();
}
