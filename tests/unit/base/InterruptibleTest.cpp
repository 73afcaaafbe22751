#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/BlockingQueue.h"
#include "base/Interruptible.h"
#include "base/InterruptibleThread.h"

using namespace std::chrono_literals;
using rszorvik::base::BlockingQueue;
using rszorvik::base::InterruptedError;
using rszorvik::base::Interruptible;
using rszorvik::base::InterruptibleThread;

namespace {

// Only a safety net against a hang; nothing here measures time.
constexpr auto kSafety = 20s;

// How a blocking call on another thread ended: "value <n>", "interrupted <flag after>" or "timeout".
struct Outcome {
    std::promise<std::string> promise;
    std::future<std::string> future = promise.get_future();

    void run(const std::function<std::string()>& call) {
        try {
            promise.set_value(call());
        } catch (const InterruptedError&) {
            promise.set_value(std::string("interrupted ") +
                              (Interruptible::isInterrupted() ? "set" : "clear"));
        }
    }
    std::string get() {
        return future.wait_for(kSafety) == std::future_status::ready ? future.get() : "timeout";
    }
};

TEST(InterruptibleTest, InterruptEndsEveryKindOfWaitAtOnce) {
    BlockingQueue<int> queue;
    const std::pair<const char*, std::function<std::string()>> waits[] = {
        {"sleep",
         [] {
             Interruptible::sleepFor(24h);
             return std::string("slept");
         }},
        {"take", [&] { return "value " + std::to_string(queue.take()); }},
        {"poll", [&] { return "value " + std::to_string(queue.poll(24h).value_or(-1)); }},
    };
    // Not a structured binding: clang 14 cannot capture one in the thread's lambda.
    for (const auto& row : waits) {
        SCOPED_TRACE(row.first);
        Outcome outcome;
        std::promise<void> started;
        InterruptibleThread thread([&] {
            started.set_value();
            outcome.run(row.second);
        });
        started.get_future().wait();
        thread.interrupt();
        // The flag is consumed by the error it raised.
        EXPECT_EQ(outcome.get(), "interrupted clear");
        thread.join();
    }
    EXPECT_TRUE(queue.empty());
}

TEST(InterruptibleTest, PendingInterruptIsSeenByTheNextWait) {
    BlockingQueue<int> queue;
    queue.put(7);
    const std::pair<const char*, std::function<void()>> waits[] = {
        {"sleep 0", [] { Interruptible::sleepFor(0ms); }},
        {"take with an item waiting", [&] { queue.take(); }},
        {"poll with an item waiting", [&] { queue.poll(0ms); }},
        {"check", [] { Interruptible::checkInterrupted(); }},
    };
    for (const auto& [name, wait] : waits) {
        SCOPED_TRACE(name);
        Interruptible::interruptCurrentThread();
        EXPECT_TRUE(Interruptible::isInterrupted());
        EXPECT_THROW(wait(), InterruptedError);
        EXPECT_FALSE(Interruptible::isInterrupted());
    }
    EXPECT_EQ(queue.size(), 1u) << "an interrupted take takes nothing";
    Interruptible::interruptCurrentThread();
    EXPECT_TRUE(Interruptible::interrupted());
    EXPECT_FALSE(Interruptible::interrupted());
    EXPECT_EQ(queue.poll(), 7) << "poll without waiting ignores interruption";
    EXPECT_EQ(queue.poll(0ms), std::nullopt);
    EXPECT_NO_THROW(Interruptible::sleepFor(0ms));
}

TEST(InterruptibleTest, InterruptingAnotherThreadByItsFlag) {
    Outcome outcome;
    std::promise<std::shared_ptr<rszorvik::base::InterruptFlag>> flag;
    std::thread plain([&] {
        flag.set_value(Interruptible::currentFlag());
        outcome.run([] {
            Interruptible::sleepFor(24h);
            return std::string("slept");
        });
    });
    flag.get_future().get()->interrupt();
    EXPECT_EQ(outcome.get(), "interrupted clear");
    plain.join();
}

TEST(InterruptibleTest, QueueKeepsOrderAcrossThreads) {
    BlockingQueue<int> queue;
    constexpr int kCount = 10000;
    std::thread producer([&] {
        for (int i = 0; i < kCount; ++i)
            queue.put(i);
    });
    for (int i = 0; i < kCount; ++i)
        ASSERT_EQ(queue.take(), i);
    producer.join();
    EXPECT_TRUE(queue.empty());
}

TEST(InterruptibleTest, SharedQueueHandsEachItemToOneConsumer) {
    BlockingQueue<int> queue;
    constexpr int kCount = 5000;
    std::mutex mutex;
    std::multiset<int> taken;
    std::vector<InterruptibleThread> consumers;
    for (int c = 0; c < 3; ++c) {
        consumers.emplace_back([&] {
            while (true) {
                const int item = queue.take();
                std::lock_guard lock(mutex);
                taken.insert(item);
            }
        });
    }
    for (int i = 0; i < kCount; ++i)
        queue.put(i);
    // One consumer stops early; the others must still get everything.
    consumers[0].interrupt();
    consumers[0].join();
    while (!queue.empty())
        std::this_thread::yield();
    consumers.clear();  // interrupts and joins the rest
    ASSERT_EQ(taken.size(), static_cast<std::size_t>(kCount));
    int expected = 0;
    for (int item : taken)
        EXPECT_EQ(item, expected++);
}

TEST(InterruptibleTest, InterruptBeforeTheThreadWaitsIsNotLost) {
    std::promise<void> go;
    Outcome outcome;
    InterruptibleThread thread([&] {
        go.get_future().wait();
        outcome.run([] {
            BlockingQueue<int> queue;
            return "value " + std::to_string(queue.take());
        });
    });
    thread.interrupt();
    EXPECT_TRUE(thread.isInterrupted());
    go.set_value();
    EXPECT_EQ(outcome.get(), "interrupted clear");
}

struct EndingCase {
    const char* name;
    std::function<void()> body;
    std::string printed;  // what the thread leaves on standard error
};

void PrintTo(const EndingCase& c, std::ostream* os) {
    *os << c.name;
}

class ThreadEnding : public ::testing::TestWithParam<EndingCase> {};

// Whatever leaves the body ends only that thread; an interruption ends it quietly, anything else is
// reported.
TEST_P(ThreadEnding, EndsOnlyThatThreadAndReportsAllButInterruption) {
    ::testing::internal::CaptureStderr();
    InterruptibleThread thread(GetParam().body);
    thread.join();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), GetParam().printed);
}

INSTANTIATE_TEST_SUITE_P(InterruptibleTest, ThreadEnding,
                         ::testing::Values(EndingCase{"Exception", [] { throw std::runtime_error("boom"); },
                                                      "Exception in thread: boom\n"},
                                           EndingCase{"NonException", [] { throw 7; },
                                                      "Exception in thread: unknown error\n"},
                                           EndingCase{"Interruption", [] { throw InterruptedError(); }, ""},
                                           EndingCase{"Return", [] {}, ""}),
                         [](const auto& param) { return std::string(param.param.name); });

// Destroying the owner of a thread blocked in a wait interrupts it and waits until the body has ended.
TEST(InterruptibleTest, DestructorInterruptsAndJoinsABlockedThread) {
    std::atomic<bool> waiting{false};
    std::atomic<bool> ended{false};
    std::string outcome;
    {
        BlockingQueue<int> queue;
        InterruptibleThread blocked([&] {
            try {
                waiting = true;
                queue.take();
                outcome = "took a value";
            } catch (const InterruptedError&) {
                outcome = "interrupted";
            }
            // Slow enough that a destructor that does not join returns before this.
            std::this_thread::sleep_for(50ms);
            ended = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + kSafety;
        while (!waiting && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(outcome, "interrupted");
}

}  // namespace
