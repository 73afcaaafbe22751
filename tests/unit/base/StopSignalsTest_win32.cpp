// The console's control events as stop requests. A console event reaches every process of its console,
// so the tests that raise one run in a copy of this program with a console of its own.

#include <windows.h>
// clang-format off
#include <gtest/gtest.h>
// clang-format on

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/StopSignals.h"

namespace rszorvik::base {
namespace {

using namespace std::chrono_literals;

const char* kChildVariable = "ZORVIK_STOP_SIGNALS_CHILD";

bool inChild() {
    return std::getenv(kChildVariable) != nullptr;
}

// Ctrl+C as the console delivers it when the user presses it. (Wine cannot raise Ctrl+Break.)
void pressCtrlC() {
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << GetLastError();
}

// Runs one test of this program in a copy with a new console; its exit status (0: the test passed).
DWORD runInChild(const std::string& test) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::string filter = "--gtest_filter=StopSignalsChild." + test;
    std::wstring command = L"\"" + std::wstring(self) + L"\" " + std::wstring(filter.begin(), filter.end());
    SetEnvironmentVariableA(kChildVariable, "1");
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE,
                                        nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableA(kChildVariable, nullptr);
    if (!started) return 1000 + GetLastError();
    DWORD status = 2000;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return status;
}

TEST(StopSignalsTest, EveryChildTestPassesWithAConsoleOfItsOwn) {
    if (inChild()) GTEST_SKIP() << "inside the copy";
    for (const char* test : {"TheWatcherRunsOnceAndEveryWaitSeesTheStop", "EveryEventIsCounted",
                             "AStopEndsAPauseEarly", "WithoutTheInstanceCtrlCIsNotTaken"})
        EXPECT_EQ(runInChild(test), 0u) << test;
}

TEST(StopSignalsChild, TheWatcherRunsOnceAndEveryWaitSeesTheStop) {
    if (!inChild()) GTEST_SKIP() << "runs in a copy of this program";
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    {
        StopSignals stop([&] {
            std::lock_guard lock(mutex);
            ++calls;
            changed.notify_all();
        });
        EXPECT_FALSE(stop.requested());
        pressCtrlC();
        pressCtrlC();  // a second one changes nothing
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return calls > 0; }));
        }
        EXPECT_TRUE(stop.requested());
        const auto before = std::chrono::steady_clock::now();
        EXPECT_FALSE(stop.pause(10s));
        EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
        std::this_thread::sleep_for(100ms);  // the second event has arrived by now
    }
    EXPECT_EQ(calls, 1);
}

// A second Ctrl+C means "at once": the handler sees each event with its number.
TEST(StopSignalsChild, EveryEventIsCounted) {
    if (!inChild()) GTEST_SKIP() << "runs in a copy of this program";
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> seen;
    StopSignals stop([&](int count) {
        std::lock_guard lock(mutex);
        seen.push_back(count);
        changed.notify_all();
    });
    for (int expected = 1; expected <= 3; ++expected) {
        pressCtrlC();
        std::unique_lock lock(mutex);
        ASSERT_TRUE(
            changed.wait_for(lock, 10s, [&] { return seen.size() == static_cast<std::size_t>(expected); }));
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(stop.count(), 3);
    EXPECT_FALSE(stop.pause(10s));
}

TEST(StopSignalsChild, AStopEndsAPauseEarly) {
    if (!inChild()) GTEST_SKIP() << "runs in a copy of this program";
    StopSignals stop;
    std::thread sender([] {
        std::this_thread::sleep_for(50ms);
        pressCtrlC();
    });
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(stop.pause(20s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
    sender.join();
    EXPECT_TRUE(stop.requested());
}

// The handler goes with the instance: a later Ctrl+C is the console's again (which ends the process, so the
// test takes it with a handler of its own that is asked after none of the instance's).
TEST(StopSignalsChild, WithoutTheInstanceCtrlCIsNotTaken) {
    if (!inChild()) GTEST_SKIP() << "runs in a copy of this program";
    static std::atomic<int> fallbackCalls{0};
    const auto fallback = [](DWORD) -> BOOL {
        ++fallbackCalls;
        return TRUE;
    };
    ASSERT_TRUE(SetConsoleCtrlHandler(fallback, TRUE));
    { StopSignals stop; }
    pressCtrlC();
    for (int i = 0; i < 100 && fallbackCalls == 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(fallbackCalls, 1);
    SetConsoleCtrlHandler(fallback, FALSE);
}

TEST(StopSignalsTest, WithoutAStopAPauseLastsItsTime) {
    StopSignals stop;
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(stop.pause(60ms));
    EXPECT_GE(std::chrono::steady_clock::now() - before, 60ms);
    EXPECT_TRUE(stop.pause(0ms));
    EXPECT_FALSE(stop.requested());
}

}  // namespace
}  // namespace rszorvik::base
