// The acquisition workers over a scripted native serial table: port set-up, the reading loop, the A&D
// handshake test and the end handler.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/EventQueueExecutor.h"
#include "base/MessageFormat.h"
#include "base/SystemProperties.h"
#include "serial/IOError.h"
#include "serial/NativeLibrary.h"
#include "serial/SerialPortLocal.h"
#include "support/FakeNativeSerial.h"
#include "support/ManualClock.h"
#include "support/ScriptedDeviceWatch.h"
#include "worker/WeightWorker.h"
#include "worker/WeightWorkerAnd.h"
#include "worker/WeightWorkerView.h"

namespace rszorvik::worker {
namespace {

using namespace std::chrono_literals;
using config::ConfigHelper::Handshake;
using config::ConfigHelper::Instrument;
using test::LineRule;

constexpr auto kPatience = 10s;  // a limit for a hung worker, not a timing check

struct Line {
    std::int32_t count;
    std::string raw;
    std::string value;
    bool error;
    bool operator==(const Line&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Line& l) {
    return os << "{" << l.count << ", \"" << DataLine::transformControlChars(l.raw) << "\", \"" << l.value
              << "\", " << l.error << "}";
}

class RecordingView : public WeightWorkerView {
  public:
    void logEvent(const std::string& text) override { add(events, text); }
    void logImportantEvent(const std::string& text) override { add(important, text); }
    void setConnectedInGUI(bool connected) override { add(connections, connected ? "on" : "off"); }
    void update(const DataLine& line) override {
        std::lock_guard lock(mutex);
        lines.push_back({line.getCount(), line.getRawText(), line.getProcessedData(), line.isError()});
    }
    void warn(const std::string& text) override { add(warnings, text); }
    void waitingForInstrument(bool waiting, const std::string& port) override {
        add(waits, (waiting ? "waiting on " : "reading ") + port);
    }
    void received(DataLine& line, bool last) override {
        std::lock_guard lock(mutex);
        lastFlags.emplace_back(line.getCount(), last);
    }

    std::vector<std::string> events, important, connections, warnings, waits;
    std::vector<Line> lines;
    std::vector<std::pair<int, bool>> lastFlags;  // each line's number and whether it was the last read
    mutable std::mutex mutex;

  private:
    void add(std::vector<std::string>& to, const std::string& text) {
        std::lock_guard lock(mutex);
        to.push_back(text);
    }
};

std::string text(std::string_view key) {
    return WeightWorker::text(key);
}

class WeightWorkerTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // The port layer takes the platform from these; the Windows feature set reports line errors.
        base::SystemProperties::set("ZSP_OSNAME", "Windows");
        base::SystemProperties::set("ZSP_OSARCH", "x86");
    }

    WeightWorkerTest() : guard(fake.api()), config(Instrument(Instrument::GENERIC).getDefaultConfig()) {
        fake.port("COM3");
        config.setPort("COM3");
        config.setInstrument(Instrument::GENERIC);
        config.setInputTerminator(13);
    }

    ~WeightWorkerTest() override {
        // A worker left running would read the next test's port.
        if (worker) stop();
    }

    test::FakeSerialPort& device() { return fake.port("COM3"); }

    // Starts the worker on the steady clock, or on `clock`.
    std::shared_ptr<WeightWorker> start(std::shared_ptr<base::Clock> clock = nullptr) {
        worker = WeightWorker::forPreset(config, view, executor);
        if (clock) worker->useClock(std::move(clock));
        worker->execute();
        return worker;
    }

    // Runs the executor until the view holds n lines.
    void awaitLines(std::size_t n) {
        executor.runUntil(
            [&] {
                std::lock_guard lock(view.mutex);
                return view.lines.size() >= n;
            },
            kPatience);
    }

    // Cancels the worker and runs its end.
    void stop() {
        worker->cancel(true);
        awaitEnd();
    }

    void awaitEnd() {
        executor.runUntil(
            [&] {
                std::lock_guard lock(view.mutex);
                return view.connections.size() >= 2;
            },
            kPatience);
    }

    // Waits until the worker has read and handled every scripted byte: the input is empty and the loop
    // has come back for more twice since.
    void awaitDrained() {
        const int handle = worker->port().getPortNum();
        const auto end = std::chrono::steady_clock::now() + kPatience;
        while (fake.api().SerRxReadyCount(handle) > 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(1ms);
        const int calls = fake.calls("SerGetByte");
        while (fake.calls("SerGetByte") < calls + 2 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(1ms);
    }

    test::FakeNativeSerial fake;
    Zivaraze::ScopedNativeApi guard;
    base::EventQueueExecutor executor;
    RecordingView view;
    config::Config config;
    std::shared_ptr<WeightWorker> worker;
};

// ---- the reading loop ----

struct ReadCase {
    std::string name;
    Instrument preset;
    int terminator;
    std::string customRegEx;
    std::function<void(test::FakeSerialPort&)> send;
    std::vector<Line> expected;
    std::vector<std::string> important;  // expected important messages, in order
    std::string unsent;                  // rendered bytes reported at the end; empty: nothing reported
};

void PrintTo(const ReadCase& c, std::ostream* os) {
    *os << c.name;
}

class ReadingLoop : public WeightWorkerTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadingLoop, PublishesLinesAndReportsTheRest) {
    const ReadCase& c = GetParam();
    config.setInstrument(c.preset);
    config.setInputTerminator(c.terminator);
    config.setCustomRegEx(c.customRegEx);
    start();
    c.send(device());
    awaitLines(c.expected.size());
    awaitDrained();
    stop();

    EXPECT_EQ(view.lines, c.expected);
    std::vector<std::string> important = c.important;
    if (!c.unsent.empty()) important.push_back(text("unsent.data") + " " + c.unsent);
    // Messages that carry an error's text are compared up to what the case spells out.
    ASSERT_EQ(view.important.size(), important.size()) << ::testing::PrintToString(view.important);
    for (std::size_t i = 0; i < important.size(); ++i)
        EXPECT_EQ(view.important[i].substr(0, important[i].size()), important[i]);
    ASSERT_FALSE(view.events.empty());
    EXPECT_EQ(view.events.back(), text("stopped"));
    EXPECT_EQ(view.connections, (std::vector<std::string>{"on", "off"}));
    EXPECT_FALSE(device().isOpen());
}

const std::string kOverflow = [] {
    std::string first(WeightWorker::kMaxLineBytes, 'x');
    first[0] = '\n';
    return first;
}();

INSTANTIATE_TEST_SUITE_P(
    Worker, ReadingLoop,
    ::testing::Values(
        ReadCase{"TwoLines",
                 Instrument::GENERIC,
                 13,
                 "",
                 [](auto& d) { d.receive("12.34\r-5\r"); },
                 {{1, "12.34\r", "12.34", false}, {2, "-5\r", "-5", false}},
                 {},
                 ""},
        ReadCase{"OnlyTheTerminator",
                 Instrument::GENERIC,
                 13,
                 "",
                 [](auto& d) { d.receive("\r"); },
                 {{1, "\r", "", false}},
                 {},
                 ""},
        ReadCase{"StopWithHalfALine",
                 Instrument::GENERIC,
                 13,
                 "",
                 [](auto& d) { d.receive("7\r+12."); },
                 {{1, "7\r", "7", false}},
                 {},
                 "+12."},
        ReadCase{"ParityErrorMarksOnlyItsLine",
                 Instrument::GENERIC,
                 13,
                 "",
                 [](auto& d) {
                     d.receive("1");
                     d.receiveWithParityError('2');
                     d.receive("\r3\r");
                 },
                 {{1, "12\r", "12", true}, {2, "3\r", "3", false}},
                 {text("parity.error")},
                 ""},
        ReadCase{"FramingErrorOnTheTerminator",
                 Instrument::GENERIC,
                 13,
                 "",
                 [](auto& d) {
                     d.receive("4");
                     d.receiveWithFramingError('\r');
                     d.receive("5\r");
                 },
                 {{1, "4\r", "4", true}, {2, "5\r", "5", false}},
                 {text("framing.error")},
                 ""},
        ReadCase{"TextWorkerUsesFixedTexts",
                 Instrument::BARCODE_ALPHA,
                 13,
                 "",
                 [](auto& d) {
                     d.receiveWithParityError('A');
                     d.receiveWithFramingError('1');
                     d.receive("\rB2\r");
                 },
                 {{1, "A1\r", "A1", true}, {2, "B2\r", "B2", false}},
                 {"Parity Error", "Framing Error"},
                 ""},
        // The failed line is gone with its bytes and its number; the next line is read as before.
        ReadCase{"FailedLineUsesUpItsNumber",
                 Instrument::GENERIC,
                 13,
                 "(\\S+)",
                 [](auto& d) { d.receive("1\r2\rabc\r4\r"); },
                 {{1, "1\r", "1", false}, {2, "2\r", "2", false}, {4, "4\r", "4", false}},
                 {"Error [WW]: Character a"},
                 ""},
        // The rest of an overlong line is dropped with it: "yy8" is no reading of its own.
        ReadCase{"LineWithoutTerminatorIsDroppedUpToItsTerminator",
                 Instrument::GENERIC,
                 13,
                 "",
                 [](auto& d) { d.receive(kOverflow + "yy8\r9\r"); },
                 {{1, "9\r", "9", false}},
                 {"Kein Zeilenende nach 65536 Bytes: die Zeile wird bis zu ihrem Zeilenende verworfen. Sie "
                  "begann mit: <10>" +
                      std::string(39, 'x'),
                  "65540 Bytes einer \u00fcberlangen Zeile wurden verworfen."},
                 ""},
        ReadCase{"StopInsideAnOverlongLine",
                 Instrument::GENERIC,
                 13,
                 "",
                 [](auto& d) { d.receive("1\r" + kOverflow + "yy8"); },
                 {{1, "1\r", "1", false}},
                 {"Kein Zeilenende nach 65536 Bytes: die Zeile wird bis zu ihrem Zeilenende verworfen. Sie "
                  "begann mit: <10>" +
                      std::string(39, 'x'),
                  "65539 Bytes einer \u00fcberlangen Zeile wurden verworfen."},
                 ""}),
    [](const auto& param) { return param.param.name; });

// ---- a device that goes away ----

// These run the worker on a manual clock: it pauses whenever the input is quiet, and each tick lets it
// read what waits, make its device check if one is due and pause again.
class ClockedWorkerTest : public WeightWorkerTest {
  protected:
    void startClocked() {
        start(clock);
        ASSERT_TRUE(clock->awaitPauses(1));  // the loop has taken its start time
    }

    // Advances the clock past the longest idle pause and waits until the worker pauses again.
    void tick(std::chrono::milliseconds by = 5ms) {
        const std::size_t pauses = clock->pauses();
        clock->advance(by);
        ASSERT_TRUE(clock->awaitPauses(pauses + 1));
    }

    int checks() { return fake.calls("SerRxReadyCount"); }

    std::shared_ptr<test::ManualClock> clock = std::make_shared<test::ManualClock>();
};

struct LostCase {
    std::string name;
    Instrument preset;
    std::string before;  // received before the device goes
    std::vector<Line> expected;
    std::string unsent;
};

void PrintTo(const LostCase& c, std::ostream* os) {
    *os << c.name;
}

class DeviceLost : public ClockedWorkerTest, public ::testing::WithParamInterface<LostCase> {};

// The run ends by itself, through the one end handler, without anyone stopping it, at the first device
// check: not before the check interval has passed since the start.
TEST_P(DeviceLost, EndsTheRunWithAPlainMessage) {
    const LostCase& c = GetParam();
    config.setInstrument(c.preset);
    startClocked();
    device().receive(c.before);
    tick();
    awaitLines(c.expected.size());
    device().disappear();
    tick(WeightWorker::kHealthCheckInterval - 10ms);  // 5 ms short of the interval
    EXPECT_EQ(checks(), 0);
    EXPECT_FALSE(worker->isDone());
    clock->advance(5ms);
    awaitEnd();

    EXPECT_EQ(checks(), 1);
    EXPECT_EQ(view.lines, c.expected);
    std::vector<std::string> important{
        text("execution.exception") +
        "Verbindung zum Port COM3 unterbrochen (Ger\u00e4t ausgesteckt oder Port geschlossen)."};
    if (!c.unsent.empty()) important.push_back(text("unsent.data") + " " + c.unsent);
    EXPECT_EQ(view.important, important);
    EXPECT_NE(view.events.back(), text("stopped"));
    EXPECT_EQ(view.connections, (std::vector<std::string>{"on", "off"}));
    EXPECT_FALSE(device().isOpen());
    EXPECT_TRUE(worker->isDone());
}

INSTANTIATE_TEST_SUITE_P(
    Worker, DeviceLost,
    ::testing::Values(
        LostCase{"NumberWorkerIdle", Instrument::GENERIC, "7\r", {{1, "7\r", "7", false}}, ""},
        LostCase{"NumberWorkerHalfALine", Instrument::GENERIC, "7\r+12.", {{1, "7\r", "7", false}}, "+12."},
        LostCase{
            "TextWorkerHalfALine", Instrument::BARCODE_ALPHA, "A1\rB\n", {{1, "A1\r", "A1", false}}, "B<10>"},
        LostCase{"NothingReceived", Instrument::GENERIC, "", {}, ""}),
    [](const auto& param) { return param.param.name; });

// The device is asked about once per interval of quiet input, counted from the last check, and asking
// must not take bytes away from the line being received.
TEST_F(ClockedWorkerTest, ChecksOncePerIntervalAndLosesNoBytes) {
    startClocked();
    device().receive("1");
    int expectedChecks = 0;
    for (char c : std::string("2.5\r")) {
        tick(WeightWorker::kHealthCheckInterval - 5ms);
        EXPECT_EQ(checks(), expectedChecks) << "checked early before '" << c << "'";
        tick();
        EXPECT_EQ(checks(), ++expectedChecks) << "no check before '" << c << "'";
        device().receive(std::string(1, c));
    }
    tick();
    awaitLines(1);
    stop();
    EXPECT_EQ(view.lines, (std::vector<Line>{{1, "12.5\r", "12.5", false}}));
    EXPECT_EQ(view.events.back(), text("stopped"));
    EXPECT_TRUE(view.important.empty()) << ::testing::PrintToString(view.important);
    // Every pause of a quiet port is short, so a line is never held up for long.
    for (auto pause : clock->pauseLengths())
        EXPECT_LE(pause, 4ms);
}

// ---- set-up of the port ----

struct SetupCase {
    std::string name;
    int handshake;
    LineRule dsr, cts;
    std::vector<std::string> history;  // modem line calls of the worker
    std::string status;
};

void PrintTo(const SetupCase& c, std::ostream* os) {
    *os << c.name;
}

class PortSetup : public WeightWorkerTest, public ::testing::WithParamInterface<SetupCase> {};

TEST_P(PortSetup, SetsTheLinesAndLogsThem) {
    const SetupCase& c = GetParam();
    config.setHandshake(c.handshake);
    config.setBitRate(config::ConfigHelper::BitRates::BR_19200);
    config.setParity(config::ConfigHelper::Parity::EVEN);
    device().dsr(c.dsr).cts(c.cts);
    auto unstarted = WeightWorker::forPreset(config, view, executor);

    EXPECT_EQ(device().outputHistory(), c.history);
    ASSERT_EQ(view.events.size(), 2u);
    EXPECT_EQ(view.events[0],
              "Port COM3 ge\u00f6ffnet: 19200 bit/s, 8 Datenbits, 1 Stoppbits, Parit\u00e4t gerade.");
    EXPECT_EQ(view.events[1], c.status);
    EXPECT_EQ(view.connections, std::vector<std::string>{"on"});
    EXPECT_TRUE(view.warnings.empty());
    EXPECT_EQ(device().lastConfig().handshake, c.handshake);
}

INSTANTIATE_TEST_SUITE_P(Worker, PortSetup,
                         ::testing::Values(SetupCase{"NoHandshake",
                                                     Handshake::NONE,
                                                     LineRule::FollowDtr,
                                                     LineRule::Off,
                                                     {"RTS=0", "DTR=1"},
                                                     "RTS: off, DTR: on. DSR: on, CTS: off."},
                                           // Hardware handshake: RTS belongs to the driver.
                                           SetupCase{"Hardware",
                                                     Handshake::CTS_RTS,
                                                     LineRule::On,
                                                     LineRule::On,
                                                     {"DTR=1"},
                                                     "RTS: CTS-RTS, DTR: on. DSR: on, CTS: on."}),
                         [](const auto& param) { return param.param.name; });

// ---- the A&D handshake test ----

struct AndCase {
    std::string name;
    int handshake;
    LineRule dsr, cts;
    std::vector<std::string> warnings;  // keys
    bool rtsAfter;
};

void PrintTo(const AndCase& c, std::ostream* os) {
    *os << c.name;
}

class AndTest : public WeightWorkerTest, public ::testing::WithParamInterface<AndCase> {};

TEST_P(AndTest, WarnsAndStartsAnyway) {
    const AndCase& c = GetParam();
    config.setInstrument(Instrument::AND);
    config.setHandshake(c.handshake);
    device().dsr(c.dsr).cts(c.cts);
    start();
    ASSERT_NE(dynamic_cast<WeightWorkerAnd*>(worker.get()), nullptr);

    std::vector<std::string> warnings;
    for (const auto& key : c.warnings)
        warnings.push_back(text(key));
    EXPECT_EQ(view.warnings, warnings);
    EXPECT_EQ(device().rts(), c.rtsAfter);
    device().receive("ST,+00012.34  g\r\n");
    awaitLines(1);
    stop();
    ASSERT_EQ(view.lines.size(), 1u);
    EXPECT_EQ(view.lines[0].value, "12.34");
}

INSTANTIATE_TEST_SUITE_P(
    Worker, AndTest,
    ::testing::Values(
        AndCase{"Connected", Handshake::NONE, LineRule::FollowDtr, LineRule::FollowRts, {}, true},
        AndCase{"NoClearToSend",
                Handshake::NONE,
                LineRule::FollowDtr,
                LineRule::Off,
                {"and.error.unusual"},
                true},
        AndCase{"NoDataSetReady",
                Handshake::NONE,
                LineRule::Off,
                LineRule::FollowRts,
                {"and.error.dataset.not.ready"},
                true},
        AndCase{
            "NotConnected", Handshake::NONE, LineRule::Off, LineRule::Off, {"and.error.not.connected"}, true},
        // Hardware handshake skips the test: nothing is checked and the worker never raises RTS.
        AndCase{"HardwareSkipsTheTest", Handshake::CTS_RTS, LineRule::Off, LineRule::Off, {}, false}),
    [](const auto& param) { return param.param.name; });

// ---- failures ----

TEST_F(WeightWorkerTest, NoPortOpensNothing) {
    config.setPort("");
    try {
        WeightWorker::forPreset(config, view, executor);
        FAIL() << "no error";
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(e.what(), text("null.port.error"));
    }
    EXPECT_EQ(fake.calls("SerOpenPort"), 0);
    EXPECT_TRUE(view.connections.empty());
}

TEST_F(WeightWorkerTest, PortThatCannotOpenLeavesTheViewIdle) {
    device().failOpen(1002);
    EXPECT_THROW(WeightWorker::forPreset(config, view, executor), Zivaraze::IOError);
    EXPECT_TRUE(view.connections.empty());
    EXPECT_FALSE(device().isOpen());
}

// The scale's adapter goes away during the handshake test: the failure reaches the start, and the view
// that was switched to connected is switched back with the port closed.
TEST_F(WeightWorkerTest, HandshakeTestThatFailsLeavesTheViewDisconnected) {
    config.setInstrument(Instrument::AND);
    std::thread unplug([&] {
        // The worker sets DTR once, the test sets it again and waits for the scale to answer.
        const auto end = std::chrono::steady_clock::now() + kPatience;
        while (device().outputHistory().size() < 3 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(1ms);
        device().disappear();
    });
    EXPECT_THROW(WeightWorker::forPreset(config, view, executor), Zivaraze::IOError);
    unplug.join();
    EXPECT_EQ(view.connections, (std::vector<std::string>{"on", "off"}));
    EXPECT_GE(fake.calls("SerClosePort"), 1);
}

TEST_F(WeightWorkerTest, ExpressionThatDoesNotCompileEndsTheRun) {
    config.setCustomRegEx("([0-9]");
    start();
    awaitEnd();
    ASSERT_EQ(view.important.size(), 1u);
    EXPECT_EQ(view.important[0].rfind(text("execution.exception"), 0), 0u);
    EXPECT_GT(view.important[0].size(), text("execution.exception").size());
    EXPECT_EQ(view.connections, (std::vector<std::string>{"on", "off"}));
    EXPECT_FALSE(device().isOpen());
}

// ---- a port the worker waits on ----

// The module can wait on the port: the worker reads blocks and sleeps in the port's wait.
class WaitingWorkerTest : public WeightWorkerTest {
  protected:
    WaitingWorkerTest() { fake.offerWait(true); }

    // Waits until every scripted byte has been read and handled: only then does the worker wait again.
    void awaitWaiting() {
        const auto end = std::chrono::steady_clock::now() + kPatience;
        while ((fake.api().SerRxReadyCount(worker->port().getPortNum()) > 0 || fake.waiting() == 0) &&
               std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(1ms);
        ASSERT_GT(fake.waiting(), 0) << "the worker never waited on the port";
    }

    // Starts the worker with this device check interval.
    void startChecking(std::chrono::milliseconds interval) {
        worker = WeightWorker::forPreset(config, view, executor);
        worker->useHealthCheckInterval(interval);
        worker->execute();
    }

    // How long the worker takes from now until its end has run.
    std::chrono::milliseconds timeToEnd(const std::function<void()>& action) {
        const auto begin = std::chrono::steady_clock::now();
        action();
        awaitEnd();
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                     begin);
    }
};

// A line is the last one read when no other terminator follows it in its block: only such a line may
// hold up the reading (its value typed on the reading thread) without delaying another.
TEST_F(WaitingWorkerTest, TellsWhichLineIsTheLastRead) {
    struct Case {
        const char* name;
        std::vector<std::string> blocks;  // each read on its own
        std::vector<std::pair<int, bool>> expected;
    };
    const Case cases[] = {
        {"one line", {"5\r"}, {{1, true}}},
        {"two lines and half a third", {"1\r2\r3", "\r"}, {{1, false}, {2, true}, {3, true}}},
        {"a byte after the terminator is no line", {"7\r\n8\r\n"}, {{1, false}, {2, true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view.lastFlags.clear();
        start();
        awaitWaiting();
        for (const std::string& block : c.blocks) {
            device().receive(block);
            awaitWaiting();
        }
        stop();
        EXPECT_EQ(view.lastFlags, c.expected);
        view.connections.clear();
        worker.reset();
    }
}

class BlockReading : public WaitingWorkerTest, public ::testing::WithParamInterface<ReadCase> {};

// Bytes that arrive together are read in one block: every line, error mark and leftover byte must still
// come out as when they were read one at a time.
TEST_P(BlockReading, PublishesLinesAsReadByteByByte) {
    const ReadCase& c = GetParam();
    config.setInstrument(c.preset);
    config.setInputTerminator(c.terminator);
    config.setCustomRegEx(c.customRegEx);
    start();
    awaitWaiting();
    c.send(device());
    awaitLines(c.expected.size());
    awaitWaiting();
    stop();

    EXPECT_EQ(fake.calls("SerGetByte"), 0);
    EXPECT_EQ(view.lines, c.expected);
    std::vector<std::string> important = c.important;
    if (!c.unsent.empty()) important.push_back(text("unsent.data") + " " + c.unsent);
    EXPECT_EQ(view.important, important);
    EXPECT_EQ(view.events.back(), text("stopped"));
    EXPECT_EQ(view.connections, (std::vector<std::string>{"on", "off"}));
    EXPECT_FALSE(device().isOpen());
}

const std::vector<Line> kManyLines = [] {
    std::vector<Line> lines;
    for (int i = 1; i <= 3000; ++i)
        lines.push_back({i, std::to_string(i % 10) + "\r", std::to_string(i % 10), false});
    return lines;
}();

INSTANTIATE_TEST_SUITE_P(
    Worker, BlockReading,
    ::testing::Values(
        ReadCase{"TwoLinesAndHalfAThird",
                 Instrument::GENERIC,
                 13,
                 "",
                 [](auto& d) { d.receive("12.34\r-5\r+12."); },
                 {{1, "12.34\r", "12.34", false}, {2, "-5\r", "-5", false}},
                 {},
                 "+12."},
        // The error byte sits inside the block; it must mark its own line, not the block's last one.
        ReadCase{"ParityErrorInsideABlock",
                 Instrument::GENERIC,
                 13,
                 "",
                 [](auto& d) {
                     d.receive("1");
                     d.receiveWithParityError('2');
                     d.receive("\r3\r4");
                 },
                 {{1, "12\r", "12", true}, {2, "3\r", "3", false}},
                 {text("parity.error")},
                 "4"},
        ReadCase{"TwoErrorsOneLineTextWorker",
                 Instrument::BARCODE_ALPHA,
                 13,
                 "",
                 [](auto& d) {
                     d.receiveWithParityError('A');
                     d.receiveWithFramingError('1');
                     d.receive("\rB2\r");
                 },
                 {{1, "A1\r", "A1", true}, {2, "B2\r", "B2", false}},
                 {"Parity Error", "Framing Error"},
                 ""},
        ReadCase{"FramingErrorOnTheLastByte",
                 Instrument::GENERIC,
                 13,
                 "",
                 [](auto& d) {
                     d.receive("5\r4");
                     d.receiveWithFramingError('\r');
                 },
                 {{1, "5\r", "5", false}, {2, "4\r", "4", true}},
                 {text("framing.error")},
                 ""},
        // More than one block: a line cut by the block boundary is put together again.
        ReadCase{"LinesAcrossBlocks",
                 Instrument::GENERIC,
                 13,
                 "",
                 [](auto& d) {
                     std::string bytes;
                     for (int i = 1; i <= 3000; ++i)
                         bytes += std::to_string(i % 10) + "\r";
                     d.receive(bytes);
                 },
                 kManyLines,
                 {},
                 ""}),
    [](const auto& param) { return param.param.name; });

struct StopCase {
    std::string name;
    bool interrupt;
};

class StopWhileWaiting : public WaitingWorkerTest, public ::testing::WithParamInterface<StopCase> {};

// A stop ends the wait itself: the worker does not sit out the device check interval.
TEST_P(StopWhileWaiting, EndsAtOnce) {
    startChecking(10s);
    awaitWaiting();
    const auto took = timeToEnd([&] { worker->cancel(GetParam().interrupt); });
    EXPECT_LT(took, 50ms);
    EXPECT_EQ(view.events.back(), text("stopped"));
    EXPECT_TRUE(view.important.empty()) << ::testing::PrintToString(view.important);
    EXPECT_FALSE(device().isOpen());
}

INSTANTIATE_TEST_SUITE_P(Worker, StopWhileWaiting,
                         ::testing::Values(StopCase{"WithInterruption", true}, StopCase{"Plain", false}),
                         [](const auto& param) { return param.param.name; });

struct GoneCase {
    std::string name;
    std::function<void(test::FakeSerialPort&)> go;
    std::chrono::milliseconds checkInterval;
};

void PrintTo(const GoneCase& c, std::ostream* os) {
    *os << c.name;
}

class DeviceGoneWhileWaiting : public WaitingWorkerTest, public ::testing::WithParamInterface<GoneCase> {};

// A device that reports its hang-up ends the run at once, whatever the check interval; one that just goes
// quiet is found by the check after the interval.
TEST_P(DeviceGoneWhileWaiting, EndsTheRunWithAPlainMessage) {
    const GoneCase& c = GetParam();
    startChecking(c.checkInterval);
    device().receive("7\r+12.");
    awaitLines(1);
    awaitWaiting();
    const auto took = timeToEnd([&] { c.go(device()); });

    EXPECT_LT(took, 5s);
    EXPECT_EQ(view.lines, (std::vector<Line>{{1, "7\r", "7", false}}));
    EXPECT_EQ(view.important,
              (std::vector<std::string>{text("execution.exception") +
                                            "Verbindung zum Port COM3 unterbrochen (Ger\u00e4t "
                                            "ausgesteckt oder Port geschlossen).",
                                        text("unsent.data") + " +12."}));
    EXPECT_EQ(view.connections, (std::vector<std::string>{"on", "off"}));
    EXPECT_FALSE(device().isOpen());
}

INSTANTIATE_TEST_SUITE_P(Worker, DeviceGoneWhileWaiting,
                         ::testing::Values(GoneCase{"HangUp", [](auto& d) { d.hangUp(); }, 60s},
                                           GoneCase{"Silent", [](auto& d) { d.disappear(); }, 100ms}),
                         [](const auto& param) { return param.param.name; });

// ---- waiting for an unplugged instrument ----

class ReconnectingWorkerTest : public WaitingWorkerTest {
  protected:
    ReconnectingWorkerTest() { config.setReconnect(true); }

    // Starts the worker on the scripted device watches; identities as `identities` tells for each port.
    void startReconnecting(std::chrono::milliseconds checkInterval = 10s) {
        worker = WeightWorker::forPreset(config, view, executor);
        worker->useHealthCheckInterval(checkInterval);
        WeightWorker::DeviceAccess access;
        access.watch = [this](const std::string& port, bool anyDevice) {
            return devices.watch(port, anyDevice);
        };
        access.identify = [this](const std::string& port) -> std::optional<platform::UsbIdentity> {
            std::lock_guard lock(identityMutex);
            const auto it = identities.find(port);
            if (it == identities.end()) return std::nullopt;
            return it->second;
        };
        access.find = [this](const platform::UsbIdentity& identity) {
            std::lock_guard lock(identityMutex);
            std::vector<std::string> ports;
            for (const auto& [port, found] : identities)
                if (found.matches(identity)) ports.push_back(port);
            return ports;
        };
        worker->useDeviceAccess(std::move(access));
        worker->execute();
    }

    void setIdentity(const std::string& port, std::optional<platform::UsbIdentity> identity) {
        std::lock_guard lock(identityMutex);
        if (identity) {
            identities[port] = *identity;
        } else {
            identities.erase(port);
        }
    }

    // Waits until the port is open again and the worker waits on it.
    void awaitReading(test::FakeSerialPort& port) {
        const auto end = std::chrono::steady_clock::now() + kPatience;
        while ((!port.isOpen() || fake.waiting() == 0) && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(1ms);
        ASSERT_TRUE(port.isOpen());
    }

    std::vector<std::string> importantContaining(const std::string& part) {
        std::lock_guard lock(view.mutex);
        std::vector<std::string> found;
        for (const auto& text : view.important)
            if (text.find(part) != std::string::npos) found.push_back(text);
        return found;
    }

    test::ScriptedDevices devices;
    std::mutex identityMutex;
    std::map<std::string, platform::UsbIdentity> identities;
};

std::string portLost(const std::string& port) {
    return text("execution.exception") + base::formatMessage(text("port.lost"), {port});
}

class ReconnectAfterLoss : public ReconnectingWorkerTest, public ::testing::WithParamInterface<GoneCase> {};

// The run outlives the unplug: the lines before it are kept, a line cut by it is reported and dropped,
// the line numbers go on, and the gap is logged between the loss and the return.
TEST_P(ReconnectAfterLoss, ReadingGoesOnWithTheSameSettings) {
    const GoneCase& c = GetParam();
    config.setBitRate(config::ConfigHelper::BitRates::BR_4800);
    startReconnecting(c.checkInterval);
    device().receive("7\r+12.");
    awaitLines(1);
    awaitWaiting();
    c.go(device());
    ASSERT_TRUE(devices.awaitWaits(1)) << ::testing::PrintToString(view.important);
    EXPECT_FALSE(device().isOpen());
    EXPECT_EQ(worker->requestReading(), WeightWorker::RequestOutcome::NoCommand);

    device().reappear();
    devices.announce();
    awaitReading(device());
    device().receive("8\r");
    awaitLines(2);
    stop();

    EXPECT_EQ(view.lines, (std::vector<Line>{{1, "7\r", "7", false}, {2, "8\r", "8", false}}));
    ASSERT_EQ(view.important.size(), 4U) << ::testing::PrintToString(view.important);
    EXPECT_EQ(view.important[0], portLost("COM3"));
    EXPECT_EQ(view.important[1], text("unsent.data") + " +12.");
    EXPECT_EQ(view.important[2], base::formatMessage(text("reconnect.waiting"), {"COM3"}));
    EXPECT_NE(view.important[3].find("COM3"), std::string::npos) << view.important[3];
    EXPECT_EQ(view.waits, (std::vector<std::string>{"waiting on COM3", "reading COM3"}));
    EXPECT_EQ(view.connections, (std::vector<std::string>{"on", "off"}));
    EXPECT_EQ(device().openCount(), 2);
    EXPECT_EQ(device().lastConfig().bitRate, config::ConfigHelper::BitRates::BR_4800);
    EXPECT_EQ(view.events.back(), text("stopped"));
}

INSTANTIATE_TEST_SUITE_P(Worker, ReconnectAfterLoss,
                         ::testing::Values(GoneCase{"HangUp", [](auto& d) { d.hangUp(); }, 60s},
                                           GoneCase{"Silent", [](auto& d) { d.disappear(); }, 100ms}),
                         [](const auto& param) { return param.param.name; });

// The watch waits without end while it announces changes, so only the stop's wake-up can end it.
TEST_F(ReconnectingWorkerTest, StopEndsTheWaitForTheInstrument) {
    startReconnecting();
    awaitWaiting();
    device().hangUp();
    ASSERT_TRUE(devices.awaitWaits(1));
    stop();
    EXPECT_EQ(view.events.back(), text("stopped"));
    EXPECT_EQ(view.connections, (std::vector<std::string>{"on", "off"}));
    EXPECT_EQ(device().openCount(), 1);
    EXPECT_EQ(view.waits, (std::vector<std::string>{"waiting on COM3"}));
}

struct UsbCase {
    std::string name;
    std::optional<platform::UsbIdentity> onConfiguredPortAfterwards;  // who sits on COM3 when it comes back
    std::string opened;                                               // where reading goes on
};

void PrintTo(const UsbCase& c, std::ostream* os) {
    *os << c.name;
}

class UsbAdapterComesBack : public ReconnectingWorkerTest, public ::testing::WithParamInterface<UsbCase> {};

const platform::UsbIdentity kAdapter{"0403", "6001", "A12345", "00", "1-2"};
const platform::UsbIdentity kOtherAdapter{"0403", "6001", "B777", "00", "1-3"};

// An adapter with a USB identity is found by it: under another name, and never mistaken for another
// adapter that took over its old name.
TEST_P(UsbAdapterComesBack, WhereItsIdentitySaysAndNowhereElse) {
    const UsbCase& c = GetParam();
    fake.port("COM4");
    setIdentity("COM3", kAdapter);
    startReconnecting();
    awaitWaiting();
    device().hangUp();
    ASSERT_TRUE(devices.awaitWaits(1));
    EXPECT_EQ(importantContaining("A12345").size(), 1U) << ::testing::PrintToString(view.important);

    device().reappear();
    setIdentity("COM3", c.onConfiguredPortAfterwards);
    if (c.opened == "COM4") setIdentity("COM4", kAdapter);
    devices.announce();
    awaitReading(fake.port(c.opened));
    fake.port(c.opened).receive("5\r");
    awaitLines(1);
    stop();

    EXPECT_EQ(view.lines, (std::vector<Line>{{1, "5\r", "5", false}}));
    EXPECT_EQ(device().openCount(), c.opened == "COM3" ? 2 : 1);
    EXPECT_EQ(view.waits.back(), "reading " + c.opened);
}

INSTANTIATE_TEST_SUITE_P(Worker, UsbAdapterComesBack,
                         ::testing::Values(UsbCase{"OnItsOldPort", kAdapter, "COM3"},
                                           UsbCase{"UnderAnotherName", std::nullopt, "COM4"},
                                           UsbCase{"WhileAnotherAdapterTookItsName", kOtherAdapter, "COM4"}),
                         [](const auto& param) { return param.param.name; });

// ---- asking the instrument for a reading ----

// The timer sends one request per interval, and one, not a burst, after the thread was held up for
// several intervals.
TEST_F(WaitingWorkerTest, TheTimerRequestsOncePerIntervalWithoutCatchingUp) {
    config.setInstrument(Instrument::METTLER_SICS);
    config.setRequestInterval("100");
    auto clock = std::make_shared<test::ManualClock>();
    worker = WeightWorker::forPreset(config, view, executor);
    worker->useClock(clock);
    worker->useHealthCheckInterval(10s);
    worker->execute();
    awaitWaiting();
    const auto sentAfter = [&](std::chrono::milliseconds step, std::size_t requests) {
        clock->advance(step);
        const auto end = std::chrono::steady_clock::now() + 2s;
        while (device().sent().size() < 4 * requests && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(1ms);
        // Time for a wrong extra request to show; the timer's wait ends every 100 ms of real time.
        std::this_thread::sleep_for(250ms);
        return device().sent().size() / 4;
    };
    EXPECT_EQ(sentAfter(99ms, 0), 0U);
    EXPECT_EQ(sentAfter(1ms, 1), 1U);
    EXPECT_EQ(sentAfter(350ms, 2), 2U);
    EXPECT_EQ(sentAfter(100ms, 3), 3U);
    stop();
}

}  // namespace
}  // namespace rszorvik::worker
