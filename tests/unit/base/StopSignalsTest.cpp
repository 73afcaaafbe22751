#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "base/StopSignals.h"

namespace rszorvik::base {
namespace {

using namespace std::chrono_literals;

bool blockedHere(int signal) {
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, signal) == 1;
}

bool readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1;
}

// Sent to the process, as a terminal's Ctrl-C or a kill is: any thread may have to take it.
void sendToProcess(int signal) {
    ASSERT_EQ(::kill(::getpid(), signal), 0);
}

class StopSignalsTest : public ::testing::TestWithParam<int> {};

TEST_P(StopSignalsTest, TheWatcherRunsOnceAndEveryWaitSeesTheStop) {
    const int signal = GetParam();
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    {
        StopSignals stop([&] {
            std::lock_guard lock(mutex);
            ++calls;
            changed.notify_all();
        });
        EXPECT_TRUE(blockedHere(signal));
        EXPECT_FALSE(stop.requested());
        EXPECT_FALSE(readable(stop.fd()));

        sendToProcess(signal);
        sendToProcess(signal);  // a second one changes nothing
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return calls > 0; }));
        }
        EXPECT_TRUE(stop.requested());
        EXPECT_TRUE(readable(stop.fd()));
        const auto before = std::chrono::steady_clock::now();
        EXPECT_FALSE(stop.pause(10s));
        EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
    }
    // The signals that arrived were discarded with the instance: the process is still here, and the
    // signal is no longer blocked.
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(blockedHere(signal));
}

TEST_P(StopSignalsTest, AStopEndsAPauseEarly) {
    StopSignals stop;
    // Started after the instance, so the thread blocks the signals too.
    std::thread sender([signal = GetParam()] {
        std::this_thread::sleep_for(50ms);
        sendToProcess(signal);
    });
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(stop.pause(20s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
    sender.join();
    EXPECT_TRUE(stop.requested());
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignalsTest, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const auto& param) { return std::string(sigabbrev_np(param.param)); });

// A second Ctrl+C means "at once": the handler sees each signal with its number.
TEST(StopSignalsCountTest, EverySignalIsCounted) {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> seen;
    StopSignals stop([&](int count) {
        std::lock_guard lock(mutex);
        seen.push_back(count);
        changed.notify_all();
    });
    for (int expected = 1; expected <= 3; ++expected) {
        sendToProcess(SIGINT);
        std::unique_lock lock(mutex);
        ASSERT_TRUE(
            changed.wait_for(lock, 10s, [&] { return seen.size() == static_cast<std::size_t>(expected); }));
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(stop.count(), 3);
    EXPECT_TRUE(stop.requested());
    EXPECT_FALSE(stop.pause(10s));
}

TEST(StopSignalsPauseTest, WithoutASignalAPauseLastsItsTime) {
    StopSignals stop;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(stop.pause(60ms));
    EXPECT_GE(std::chrono::steady_clock::now() - before, 60ms);
    EXPECT_TRUE(stop.pause(0ms));
    EXPECT_FALSE(stop.requested());
}

}  // namespace
}  // namespace rszorvik::base
