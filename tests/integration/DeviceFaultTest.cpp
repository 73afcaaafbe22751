// Device and system faults under the serial library and the worker, on a real pseudo-terminal: each
// fault goes into one entry of the native module's system-call table.

#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "base/EventQueueExecutor.h"
#include "base/MessageFormat.h"
#include "native/SystemCalls.h"
#include "serial/SerialPortLocal.h"
#include "support/CollectingWorkerView.h"
#include "support/ModuleSystemCalls.h"
#include "support/PseudoTerminal.h"
#include "support/SerialTestSupport.h"
#include "worker/WeightWorker.h"

using rszorvik::test::ioErrorOf;
using rszorvik::test::ModuleSystemCalls;
using rszorvik::test::Pty;
using rszorvik::test::readBytes;
using rszorvik::worker::WeightWorker;
using std::chrono::milliseconds;
using Zivaraze::SerialConfig;
using Zivaraze::SerialPortLocal;
using zsp::sys::Calls;
using Clock = std::chrono::steady_clock;

namespace {

std::size_t openDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

bool isDevice(int fd) {
    struct stat st {};
    return ModuleSystemCalls::host().fstat(fd, &st) == 0 && S_ISCHR(st.st_mode);
}

// Whether the call is on a device; calls that take no descriptor count as such.
template <typename First, typename... Rest>
bool onDevice(First first, Rest...) {
    if constexpr (std::is_same_v<First, int>) {
        return isDevice(first);
    } else {
        return true;
    }
}

// How a faulted call fails: every n-th call (the first included) reports the error, either before it
// does anything (so that calling again gets through) or after it did its work (close releases the
// descriptor whatever it reports). A device-only fault leaves calls on other descriptors alone.
struct FaultState {
    std::atomic<int> error{0};
    std::atomic<int> every{1};
    std::atomic<bool> afterWork{false};
    std::atomic<bool> deviceOnly{false};
    std::atomic<long> seen{0};
    std::atomic<long> struck{0};
};

template <auto Entry>
struct Faulty;

template <typename Result, typename... Params, Result (*Calls::*Entry)(Params...)>
struct Faulty<Entry> {
    static inline FaultState state;

    static Result call(Params... args) {
        const int error = state.error.load();
        const bool strike = error != 0 && (!state.deviceOnly || onDevice(args...)) &&
                            state.seen.fetch_add(1) % state.every.load() == 0;
        if (strike && !state.afterWork.load()) {
            ++state.struck;
            errno = error;
            return static_cast<Result>(-1);
        }
        const Result result = (ModuleSystemCalls::host().*Entry)(args...);
        if (strike) {
            ++state.struck;
            errno = error;
            return static_cast<Result>(-1);
        }
        return result;
    }
};

enum class Strike { Before, AfterWork, BeforeOnDevice };

struct CallFault {
    std::string name;
    int error;
    int every;
    Strike strike;
    void (*plug)(Calls& table);
    FaultState& (*state)();
};

template <auto Entry>
CallFault fault(const char* call, int error, int every, Strike strike = Strike::Before) {
    return {std::string(call) + "_" + strerrorname_np(error),
            error,
            every,
            strike,
            [](Calls& table) { table.*Entry = &Faulty<Entry>::call; },
            []() -> FaultState& { return Faulty<Entry>::state; }};
}

// The fault, in the module while the object lives.
class ArmedFault {
  public:
    explicit ArmedFault(const CallFault& fault) : state(fault.state()) {
        state.every = fault.every;
        state.afterWork = fault.strike == Strike::AfterWork;
        state.deviceOnly = fault.strike == Strike::BeforeOnDevice;
        state.seen = 0;
        state.struck = 0;
        state.error = fault.error;
        calls = std::make_unique<ModuleSystemCalls>(fault.plug);
    }
    ~ArmedFault() {
        calls.reset();
        state.error = 0;
    }
    ArmedFault(const ArmedFault&) = delete;
    ArmedFault& operator=(const ArmedFault&) = delete;

    long struck() const { return state.struck.load(); }
    const ModuleSystemCalls& module() const { return *calls; }

  private:
    FaultState& state;
    std::unique_ptr<ModuleSystemCalls> calls;
};

class DeviceFaultTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { rszorvik::test::selectApplicationPlatform(); }

    void SetUp() override {
        ASSERT_TRUE(SerialPortLocal::isLibraryLoaded()) << "libzspWin.so beside the test";
        descriptorsBefore = openDescriptors();
    }

    std::shared_ptr<SerialConfig> config() const { return std::make_shared<SerialConfig>(pty.path()); }

    void startWorker() { worker = rszorvik::test::startNumberWorker(pty.path(), view, executor); }

    bool waitForEnd(std::chrono::milliseconds limit) {
        return executor.runUntil([&] { return view.ended(); }, limit);
    }

    void TearDown() override {
        if (worker && !view.ended()) {
            worker->cancel(true);
            waitForEnd(std::chrono::seconds(10));
        }
        worker.reset();
        pty.closeMaster();
        EXPECT_EQ(openDescriptors(), descriptorsBefore - 1) << "a descriptor left open";  // the master
    }

    Pty pty;
    std::size_t descriptorsBefore = 0;
    rszorvik::base::EventQueueExecutor executor;
    rszorvik::test::CollectingWorkerView view;
    std::shared_ptr<WeightWorker> worker;
};

// ---- transient faults: a signal or a descriptor that was not ready ----

class TransientFaultTest : public DeviceFaultTest, public ::testing::WithParamInterface<CallFault> {};

// Every call the port makes between open and close, with its output, input, drain, break and a step of
// the flow-control task (which only one old platform starts, so it is called directly).
TEST_P(TransientFaultTest, PortSessionMovesEveryByteOnce) {
    const std::string request = "SI\r\n", reply = "ST,+00012.34 kg\r\n";
    ArmedFault armed(GetParam());
    {
        SerialPortLocal port(config());
        EXPECT_EQ(armed.module().entry<std::int32_t(std::int32_t)>("SerFlowTask")(port.getPortNum()), 0);
        port.rxFlush();
        port.putString(request);
        EXPECT_EQ(pty.receive(request.size()), request);
        port.txDrain();
        port.sendBreak(0);
        port.sendBreak(5);
        std::string got;
        {
            std::jthread device([&] {
                for (const char* piece : {"ST,+000", "12.34 k", "g\r\n"}) {
                    std::this_thread::sleep_for(milliseconds(20));
                    pty.send(piece);
                }
            });
            got = readBytes(port, reply.size());
        }
        EXPECT_EQ(got, reply);
        EXPECT_EQ(port.rxReadyCount(), 0);
        port.close();
    }
    EXPECT_GT(armed.struck(), 0) << "the fault never hit";
    char extra;
    EXPECT_EQ(::read(pty.master(), &extra, 1), -1) << "a byte written twice";
}

// The worker on a busy port: the same values in the same order, no error and a normal stop.
TEST_P(TransientFaultTest, WorkerReadsTheSameLines) {
    std::vector<std::string> expected;
    std::string stream;
    for (int i = 0; i < 200; ++i) {
        expected.push_back(std::to_string(i) + ".5");
        stream += expected.back() + "\r";
    }
    ArmedFault armed(GetParam());
    startWorker();
    // Pieces that cut lines anywhere, some arriving while the worker waits.
    for (std::size_t at = 0; at < stream.size(); at += 7) {
        pty.send(stream.substr(at, 7));
        if (at % 140 == 0) std::this_thread::sleep_for(milliseconds(2));
    }
    executor.runUntil([&] { return view.values.size() >= expected.size(); }, std::chrono::seconds(20));
    worker->cancel(true);
    ASSERT_TRUE(waitForEnd(std::chrono::seconds(10)));
    EXPECT_EQ(view.values, expected);
    EXPECT_EQ(view.important, std::vector<std::string>{});
    EXPECT_EQ(view.events.back(), WeightWorker::text("stopped"));
}

const CallFault kTransientFaults[] = {
    fault<&Calls::open>("open", EINTR, 2),
    fault<&Calls::stat>("stat", EINTR, 2),
    fault<&Calls::fstat>("fstat", EINTR, 2),
    fault<&Calls::flock>("flock", EINTR, 2),
    fault<&Calls::tcgetattr>("tcgetattr", EINTR, 2),
    fault<&Calls::tcsetattr>("tcsetattr", EINTR, 2),
    fault<&Calls::ioctl>("ioctl", EINTR, 2),
    fault<&Calls::tcflush>("tcflush", EINTR, 2),
    fault<&Calls::read>("read", EINTR, 2),
    fault<&Calls::poll>("poll", EINTR, 2),
    fault<&Calls::write>("write", EINTR, 2),
    fault<&Calls::tcdrain>("tcdrain", EINTR, 2),
    fault<&Calls::tcsendbreak>("tcsendbreak", EINTR, 2),
    fault<&Calls::nanosleep>("nanosleep", EINTR, 2),
    fault<&Calls::fcntl>("fcntl", EINTR, 2),
    // Linux releases the descriptor even when close reports EINTR: calling it again would close a
    // descriptor another thread may have been given meanwhile.
    fault<&Calls::close>("close", EINTR, 1, Strike::AfterWork),
    // The device's non-blocking descriptor: nothing to read or no room to write, although poll said
    // otherwise. (The wake-up channel cannot report EAGAIN without being signalled already.)
    fault<&Calls::read>("read", EAGAIN, 2, Strike::BeforeOnDevice),
    fault<&Calls::write>("write", EAGAIN, 2, Strike::BeforeOnDevice),
};

INSTANTIATE_TEST_SUITE_P(Calls, TransientFaultTest, ::testing::ValuesIn(kTransientFaults),
                         [](const auto& row) { return row.param.name; });

// ---- the device fails in the middle of reading ----

// Reads of the device pass until it delivered a number of bytes, the read that crosses that number is cut
// short there, and every read after it fails with the error. Other descriptors (the wake-up channel) are
// left alone.
std::atomic<int> lossError{0};
std::atomic<long> bytesBeforeLoss{0};
std::atomic<dev_t> lostDevice{0};

ssize_t readUntilLost(int fd, void* buffer, size_t count) {
    struct stat st {};
    if (ModuleSystemCalls::host().fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != lostDevice)
        return ModuleSystemCalls::host().read(fd, buffer, count);
    const long left = bytesBeforeLoss.load();
    if (left <= 0) {
        errno = lossError;
        return -1;
    }
    const ssize_t n = ModuleSystemCalls::host().read(fd, buffer, std::min(count, static_cast<size_t>(left)));
    if (n > 0) bytesBeforeLoss -= n;
    return n;
}

struct Loss {
    const char* name;
    int error;
    bool restLater;  // the bytes after the loss come only once the worker waits again
};

class DeviceLossTest : public DeviceFaultTest, public ::testing::WithParamInterface<Loss> {};

// The run ends at once as a lost port, keeps the values read before and reports the half line.
TEST_P(DeviceLossTest, EndsTheRunWithTheUnsentBytes) {
    struct stat st {};
    ASSERT_EQ(::stat(pty.path().c_str(), &st), 0);
    lostDevice = st.st_rdev;
    lossError = GetParam().error;
    bytesBeforeLoss = 4;
    ModuleSystemCalls calls([](Calls& table) { table.read = readUntilLost; });
    startWorker();
    const auto begin = Clock::now();
    if (GetParam().restLater) {
        pty.send("7\r+3");
        ASSERT_TRUE(executor.runUntil([&] { return !view.values.empty(); }, std::chrono::seconds(10)));
        std::this_thread::sleep_for(milliseconds(30));
        pty.send("4\r8\r");
    } else {
        pty.send("7\r+34\r8\r");
    }
    ASSERT_TRUE(waitForEnd(std::chrono::seconds(10)));
    EXPECT_LT(Clock::now() - begin, std::chrono::seconds(2)) << "the loss was noticed late";
    EXPECT_EQ(view.values, std::vector<std::string>{"7"});
    EXPECT_EQ(view.important,
              (std::vector<std::string>{
                  WeightWorker::text("execution.exception") +
                      rszorvik::base::formatMessage(WeightWorker::text("port.lost"), {pty.path()}),
                  WeightWorker::text("unsent.data") + " +3"}));
}

const Loss kLosses[] = {
    {"EioWithBytesWaiting", EIO, false},
    {"EioWhileWaiting", EIO, true},
    {"EnxioWithBytesWaiting", ENXIO, false},
    {"EnxioWhileWaiting", ENXIO, true},
};

INSTANTIATE_TEST_SUITE_P(Reads, DeviceLossTest, ::testing::ValuesIn(kLosses),
                         [](const auto& row) { return std::string(row.param.name); });

// ---- the device refuses to open ----

struct OpenRefusal {
    CallFault fault;
    std::string reason;  // after "PORT: SerOpenPort failed: "
};

class OpenRefusalTest : public DeviceFaultTest, public ::testing::WithParamInterface<OpenRefusal> {};

// The message names the port and the reason; nothing of the failed open stays behind, so the next open
// works.
TEST_P(OpenRefusalTest, NamesTheReasonAndLeavesNothingOpen) {
    {
        ArmedFault armed(GetParam().fault);
        EXPECT_EQ(ioErrorOf([&] { SerialPortLocal port(config()); }),
                  pty.path() + ": SerOpenPort failed: " + GetParam().reason);
        EXPECT_GT(armed.struck(), 0);
    }
    EXPECT_EQ(openDescriptors(), descriptorsBefore);
    EXPECT_EQ(ioErrorOf([&] { SerialPortLocal port(config()); }), "(no error)");
}

const OpenRefusal kOpenRefusals[] = {
    {fault<&Calls::open>("open", EACCES, 1), "Permission denied"},
    {fault<&Calls::open>("open", EPERM, 1), "Permission denied"},
    {fault<&Calls::open>("open", EBUSY, 1), "Device busy"},
    {fault<&Calls::open>("open", ENXIO, 1), "19: No such device"},
    {fault<&Calls::open>("open", ENODEV, 1), "19: No such device"},
    {fault<&Calls::open>("open", EIO, 1), ": " + std::to_string(2000 + EIO)},
    // The driver refuses the line settings of a device another program set up exclusively.
    {fault<&Calls::tcsetattr>("tcsetattr", EBUSY, 1), "Device busy"},
    {fault<&Calls::tcgetattr>("tcgetattr", EIO, 1), ": " + std::to_string(2000 + EIO)},
};

INSTANTIATE_TEST_SUITE_P(Open, OpenRefusalTest, ::testing::ValuesIn(kOpenRefusals),
                         [](const auto& row) { return row.param.fault.name; });

// ---- a write that cannot go on ----

ssize_t writeNothing(int, const void*, size_t) {
    errno = EAGAIN;
    return -1;
}

struct BlockedWrite {
    const char* name;
    bool deviceTakesNothing;  // every write reports EAGAIN; otherwise the device stops reading
    bool deviceGoes;          // the device goes away 50 ms into the write
    int timeoutTxMs;
    std::size_t bytes;
    milliseconds atLeast, atMost;
};

class BlockedWriteTest : public DeviceFaultTest, public ::testing::WithParamInterface<BlockedWrite> {};

// The write gives up at the transmit timeout (or when the device goes) and says how much was sent.
TEST_P(BlockedWriteTest, EndsAndCountsWhatWasSent) {
    const BlockedWrite& c = GetParam();
    std::unique_ptr<ModuleSystemCalls> calls;
    if (c.deviceTakesNothing)
        calls = std::make_unique<ModuleSystemCalls>([](Calls& table) { table.write = writeNothing; });
    SerialPortLocal port(config());
    port.setTimeoutTx(c.timeoutTxMs);
    const std::string data(c.bytes, 'x');
    std::string message;
    const auto begin = Clock::now();
    {
        std::jthread device([&] {
            if (!c.deviceGoes) return;
            std::this_thread::sleep_for(milliseconds(50));
            pty.closeMaster();
        });
        message = ioErrorOf([&] { port.putString(data); });
    }
    const auto took = Clock::now() - begin;
    EXPECT_GE(took, c.atLeast);
    EXPECT_LE(took, c.atMost);
    const std::string prefix = "PutString: sent only ";
    ASSERT_EQ(message.substr(0, prefix.size()), prefix) << message;
    const long sent = std::stol(message.substr(prefix.size()));
    EXPECT_EQ(message, prefix + std::to_string(sent) + " of " + std::to_string(c.bytes) + " bytes");
    EXPECT_LT(sent, static_cast<long>(c.bytes));
    if (c.deviceTakesNothing) {
        EXPECT_EQ(sent, 0);
    }
    port.close();
}

const BlockedWrite kBlockedWrites[] = {
    {"DeviceTakesNothing", true, false, 200, 5, milliseconds(190), milliseconds(2000)},
    {"DeviceStopsReading", false, false, 300, 1 << 20, milliseconds(290), milliseconds(3000)},
    {"DeviceGoesWhileBlocked", false, true, 60000, 1 << 20, milliseconds(40), milliseconds(2000)},
};

INSTANTIATE_TEST_SUITE_P(Writes, BlockedWriteTest, ::testing::ValuesIn(kBlockedWrites),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
