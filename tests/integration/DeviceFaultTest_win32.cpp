// Faults of a real port that Wine's pseudo-terminals never show, put into the Windows module's calls
// (native/Win32Calls.h): line errors as ClearCommError reports them, and a device pulled out while in use.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "base/EventQueueExecutor.h"
#include "serial/SerialPortLocal.h"
#include "support/CollectingWorkerView.h"
#include "support/SerialPtyFixture.h"
#include "support/SerialTestSupport.h"
#include "worker/WeightWorker.h"

// Last: <windows.h> defines DELETE, a key name of the settings above.
// clang-format off
#include "native/Win32Calls.h"
// clang-format on

using rszorvik::test::ioErrorOf;
using rszorvik::test::SerialPtyTest;
using Zivaraze::SerialPortLocal;
using zsp::win32::Calls;

namespace {

// Puts a table of Win32 calls into the module the serial library loaded, for the life of the object.
class ModuleWin32Calls {
  public:
    explicit ModuleWin32Calls(const std::function<void(Calls&)>& plug) {
        const HMODULE module = GetModuleHandleW(L"zspWin.dll");
        if (module == nullptr) throw std::runtime_error("zspWin.dll is not loaded");
        replace = reinterpret_cast<Replace>(
            reinterpret_cast<void*>(GetProcAddress(module, "ZspReplaceWin32Calls")));
        if (replace == nullptr) throw std::runtime_error("zspWin.dll has no Win32 call table");
        host = replace(nullptr);
        table = *host;
        plug(table);
        replace(&table);
    }
    ~ModuleWin32Calls() { replace(nullptr); }
    ModuleWin32Calls(const ModuleWin32Calls&) = delete;
    ModuleWin32Calls& operator=(const ModuleWin32Calls&) = delete;

    static inline const Calls* host = nullptr;

  private:
    using Replace = const Calls* (*)(const Calls*);
    Replace replace = nullptr;
    Calls table{};
};

// Error flags ClearCommError adds once, when bytes are queued (a line error arrives with its byte).
std::atomic<DWORD> pendingErrors{0};

BOOL WINAPI clearCommErrorWithErrors(HANDLE port, DWORD* errors, COMSTAT* status) {
    COMSTAT own{};
    COMSTAT* target = status != nullptr ? status : &own;
    const BOOL ok = ModuleWin32Calls::host->clearCommError(port, errors, target);
    if (ok && target->cbInQue > 0) *errors |= pendingErrors.exchange(0);
    return ok;
}

void waitForQueued(SerialPortLocal& port, int count) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (port.rxReadyCount() < count && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

struct LineError {
    const char* name;
    DWORD flag;
    bool (SerialPortLocal::*signal)();
    bool tiedToAByte;  // parity and framing errors belong to a byte; the others to the port
};

class LineErrorTest : public SerialPtyTest, public ::testing::WithParamInterface<LineError> {};

// The error is seen once, after the byte it came with; reads stop at that byte, so a line's bytes before
// it are not blamed.
TEST_P(LineErrorTest, IsSignalledOnceAfterItsByte) {
    const LineError& error = GetParam();
    ModuleWin32Calls faults([](Calls& table) { table.clearCommError = clearCommErrorWithErrors; });
    SerialPortLocal port(configFor(pty.path()));
    pendingErrors = error.flag;
    pty.send("12.5\r");
    waitForQueued(port, 5);
    ASSERT_EQ(port.rxReadyCount(), 5);
    std::string read;
    int signalled = 0;
    for (int b; (b = port.getByte()) != -1;) {
        read += static_cast<char>(b);
        if ((port.*error.signal)()) ++signalled;
    }
    EXPECT_EQ(read, "12.5\r");
    EXPECT_EQ(signalled, 1);
    if (error.tiedToAByte) {
        std::uint8_t block[8];
        pendingErrors = error.flag;
        pty.send("ab");
        waitForQueued(port, 2);
        EXPECT_EQ(port.getData(block), 2) << "the block ends at the byte that carried the error";
        EXPECT_TRUE((port.*error.signal)());
    }
    EXPECT_FALSE((port.*error.signal)());
}

const LineError kLineErrors[] = {
    {"Parity", CE_RXPARITY, &SerialPortLocal::sigParityErr, true},
    {"Framing", CE_FRAME, &SerialPortLocal::sigFrameErr, true},
    {"Break", CE_BREAK, &SerialPortLocal::sigBreak, false},
    {"Overrun", CE_OVERRUN, &SerialPortLocal::sigOverrun, false},
    {"Overflow", CE_RXOVER, &SerialPortLocal::rxOverflow, false},
};

INSTANTIATE_TEST_SUITE_P(ClearCommError, LineErrorTest, ::testing::ValuesIn(kLineErrors),
                         [](const auto& row) { return std::string(row.param.name); });

// How a USB adapter pulled out answers: every query of the port fails, with one of these.
std::atomic<DWORD> unplugError{0};

BOOL WINAPI clearCommErrorUnplugged(HANDLE port, DWORD* errors, COMSTAT* status) {
    if (const DWORD error = unplugError.load()) {
        SetLastError(error);
        return FALSE;
    }
    return ModuleWin32Calls::host->clearCommError(port, errors, status);
}

BOOL WINAPI waitCommEventUnplugged(HANDLE port, DWORD* mask, OVERLAPPED* overlapped) {
    if (const DWORD error = unplugError.load()) {
        SetLastError(error);
        return FALSE;
    }
    return ModuleWin32Calls::host->waitCommEvent(port, mask, overlapped);
}

struct Unplug {
    const char* name;
    DWORD error;
};

class UnplugTest : public SerialPtyTest, public ::testing::WithParamInterface<Unplug> {};

// The worker waiting on the port ends its run at once, with the bytes of the unfinished line, as it does
// when a pseudo-terminal hangs up.
TEST_P(UnplugTest, EndsTheRunWithTheUnsentBytes) {
    unplugError = 0;
    ModuleWin32Calls faults([](Calls& table) {
        table.clearCommError = clearCommErrorUnplugged;
        table.waitCommEvent = waitCommEventUnplugged;
    });
    rszorvik::base::EventQueueExecutor executor;
    rszorvik::test::CollectingWorkerView view;
    auto worker = rszorvik::test::startNumberWorker(pty.path(), view, executor);
    pty.send("7\r+3");
    ASSERT_TRUE(executor.runUntil(
        [&] {
            std::lock_guard lock(view.mutex);
            return !view.values.empty();
        },
        std::chrono::seconds(10)));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // "+3" is queued in the worker now
    const auto begin = std::chrono::steady_clock::now();
    unplugError = GetParam().error;
    ASSERT_TRUE(executor.runUntil([&] { return view.ended(); }, std::chrono::seconds(10)));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
    unplugError = 0;
    EXPECT_EQ(view.values, std::vector<std::string>{"7"});
    ASSERT_EQ(view.important.size(), 2u);
    EXPECT_EQ(view.important[0].rfind(rszorvik::worker::WeightWorker::text("execution.exception"), 0), 0u)
        << view.important[0];
    EXPECT_NE(view.important[0].find(pty.path()), std::string::npos) << view.important[0];
    EXPECT_EQ(view.important[1], rszorvik::worker::WeightWorker::text("unsent.data") + " +3");
}

const Unplug kUnplugs[] = {
    {"AccessDenied", ERROR_ACCESS_DENIED},
    {"BadCommand", ERROR_BAD_COMMAND},
    {"DeviceRemoved", ERROR_DEVICE_REMOVED},
};

INSTANTIATE_TEST_SUITE_P(Adapter, UnplugTest, ::testing::ValuesIn(kUnplugs),
                         [](const auto& row) { return std::string(row.param.name); });

// Wine signals the event of a pending WaitCommEvent at times before the wait has ended. Taken for its end,
// the wait's OVERLAPPED and mask were left behind on the stack while the system still had them, and a
// quiet port was reported as hung up; the system's later write of the wait's status then overwrote
// whatever that stack held by then (the window crashed under Wine).
std::atomic<int> earlySignals{0};

BOOL WINAPI waitCommEventSignalledEarly(HANDLE port, DWORD* mask, OVERLAPPED* overlapped) {
    const BOOL done = ModuleWin32Calls::host->waitCommEvent(port, mask, overlapped);
    const DWORD error = GetLastError();
    if (!done && error == ERROR_IO_PENDING) {
        ++earlySignals;
        SetEvent(overlapped->hEvent);
    }
    SetLastError(error);
    return done;
}

TEST_F(SerialPtyTest, AnEarlyEventDoesNotEndTheWait) {
    earlySignals = 0;
    ModuleWin32Calls faults([](Calls& table) { table.waitCommEvent = waitCommEventSignalledEarly; });
    SerialPortLocal port(configFor(pty.path()));
    EXPECT_EQ(port.waitForEvent(300), 0) << "a quiet port that is there times out";
    EXPECT_GT(earlySignals.load(), 0);
    pty.send("x");
    EXPECT_EQ(port.waitForEvent(10000) & SerialPortLocal::WAIT_INPUT, SerialPortLocal::WAIT_INPUT);
    EXPECT_EQ(port.getByte(), 'x');
    EXPECT_NO_THROW(port.close());
}

// A wait the system never ends, as Wine at times leaves a cancelled one: a quiet port's next wait takes it
// up instead of issuing another, and closing gives it up in bounded time (it hung, waiting for its end).
std::atomic<int> waitsIssued{0};

BOOL WINAPI waitCommEventNeverEnding(HANDLE, DWORD*, OVERLAPPED* overlapped) {
    ++waitsIssued;
    overlapped->Internal = STATUS_PENDING;
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

TEST_F(SerialPtyTest, AWaitThatNeverEndsIsTakenUpAndGivenUpAtClose) {
    waitsIssued = 0;
    ModuleWin32Calls faults([](Calls& table) { table.waitCommEvent = waitCommEventNeverEnding; });
    SerialPortLocal port(configFor(pty.path()));
    EXPECT_EQ(port.waitForEvent(100), 0);
    EXPECT_EQ(port.waitForEvent(100), 0);
    EXPECT_EQ(waitsIssued.load(), 1) << "one wait at most is out";
    EXPECT_NO_THROW(port.close());
}

// The port layer's own calls on a pulled adapter: they fail instead of reading nothing.
TEST_F(SerialPtyTest, QueriesOfAPulledAdapterFail) {
    unplugError = 0;
    ModuleWin32Calls faults([](Calls& table) {
        table.clearCommError = clearCommErrorUnplugged;
        table.waitCommEvent = waitCommEventUnplugged;
    });
    SerialPortLocal port(configFor(pty.path()));
    unplugError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(port.getByte(), -1);
    EXPECT_EQ(ioErrorOf([&] { port.rxReadyCount(); }), "rxReadyCount failed");
    EXPECT_EQ(port.waitForEvent(10000) & SerialPortLocal::WAIT_HANGUP, SerialPortLocal::WAIT_HANGUP);
    unplugError = 0;
    EXPECT_NO_THROW(port.close());
}

}  // namespace
