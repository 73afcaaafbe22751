#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "base/EventQueueExecutor.h"

using namespace std::chrono_literals;
using rszorvik::base::EventQueueExecutor;

namespace {

constexpr auto kSafety = 20s;

TEST(EventQueueExecutorTest, RunsTasksInPostOrderOnTheRunningThread) {
    EventQueueExecutor executor;
    std::vector<int> order;
    bool onExecutorThread = true;
    for (int i = 0; i < 3; ++i) {
        executor.post([&, i] {
            order.push_back(i);
            onExecutorThread = onExecutorThread && executor.isExecutorThread();
            // Posted from a task: runs after everything already queued.
            executor.post([&, i] { order.push_back(10 + i); });
        });
    }
    EXPECT_FALSE(executor.isExecutorThread());
    EXPECT_EQ(executor.pending(), 3u);
    EXPECT_EQ(executor.runUntilIdle(), 6u);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 10, 11, 12}));
    EXPECT_TRUE(onExecutorThread);
    EXPECT_EQ(executor.runUntilIdle(), 0u);
}

TEST(EventQueueExecutorTest, KeepsTheOrderOfEachPostingThread) {
    EventQueueExecutor executor;
    constexpr int kThreads = 4;
    constexpr int kEach = 2000;
    std::vector<std::vector<int>> seen(kThreads);
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                executor.post([&, t, i] { seen[t].push_back(i); });
        });
    int total = 0;
    EXPECT_TRUE(executor.runUntil(
        [&] {
            total = 0;
            for (const auto& s : seen)
                total += static_cast<int>(s.size());
            return total == kThreads * kEach;
        },
        kSafety));
    for (auto& p : posters)
        p.join();
    for (const auto& s : seen) {
        ASSERT_EQ(s.size(), static_cast<std::size_t>(kEach));
        for (int i = 0; i < kEach; ++i)
            ASSERT_EQ(s[i], i);
    }
}

TEST(EventQueueExecutorTest, QuitFromAnotherThreadEndsRun) {
    EventQueueExecutor executor;
    std::thread other([&] {
        executor.post([] {});
        executor.post([&] { executor.quit(); });
        executor.post([] {});  // stays queued
    });
    EXPECT_EQ(executor.run(), 2u);
    other.join();
    EXPECT_EQ(executor.pending(), 1u);
    // A quit() that came before the run ends it at once.
    executor.runUntilIdle();
    executor.quit();
    EXPECT_FALSE(executor.runUntil([] { return false; }, kSafety));
    EXPECT_EQ(executor.runFor(0ms), 0u);
}

TEST(EventQueueExecutorTest, FailingTaskLeavesTheRestQueued) {
    EventQueueExecutor executor;
    int ran = 0;
    executor.post([] { throw std::runtime_error("task failed"); });
    executor.post([&] { ++ran; });
    EXPECT_THROW(executor.runUntilIdle(), std::runtime_error);
    EXPECT_FALSE(executor.isExecutorThread());
    EXPECT_EQ(executor.runUntilIdle(), 1u);
    EXPECT_EQ(ran, 1);
}

}  // namespace
