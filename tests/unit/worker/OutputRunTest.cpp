// One output run over the scripted native serial table and the recording key injector: what its start
// reports, the order in which a line is filtered, sounded, shown and handed over, and how it ends when
// its output goes away.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "base/EventQueueExecutor.h"
#include "base/MessageFormat.h"
#include "base/SystemProperties.h"
#include "platform/AppendFile.h"
#include "serial/NativeLibrary.h"
#include "support/CsvRows.h"
#include "support/FakeNativeSerial.h"
#include "support/RecordingKeyInjector.h"
#include "support/TempDir.h"
#include "worker/Keybot.h"
#include "worker/OutputRun.h"
#include "worker/PortPermission.h"
#include "worker/SoundBot.h"
#include "worker/WeightWorker.h"

namespace rszorvik::worker {
namespace {

using namespace std::chrono_literals;
using config::ConfigHelper::Instrument;
using config::ConfigHelper::OutputTerminator;
using config::ConfigHelper::Sound;
using test::KeyEvent;

constexpr auto kPatience = 10s;  // a limit for a hung run, not a timing check

// Everything the run did, in order, from any thread.
class Journal {
  public:
    void add(const std::string& entry) {
        std::lock_guard lock(mutex);
        entries.push_back(entry);
    }
    std::vector<std::string> all() const {
        std::lock_guard lock(mutex);
        return entries;
    }
    bool has(const std::string& entry) const {
        std::lock_guard lock(mutex);
        for (const auto& e : entries)
            if (e == entry) return true;
        return false;
    }
    std::vector<std::string> startingWith(const std::string& prefix) const {
        std::vector<std::string> result;
        for (const auto& e : all())
            if (e.rfind(prefix, 0) == 0) result.push_back(e);
        return result;
    }

  private:
    mutable std::mutex mutex;
    std::vector<std::string> entries;
};

class JournalView : public OutputRunView {
  public:
    explicit JournalView(Journal& journal) : journal(journal) {}
    void logEvent(const std::string& text) override { journal.add("log:" + text); }
    void logImportantEvent(const std::string& text) override { journal.add("important:" + text); }
    void setConnectedInGUI(bool connected) override { journal.add(connected ? "connected" : "disconnected"); }
    void update(const DataLine& line) override { journal.add("show:" + line.getProcessedData()); }
    void startProblem(const std::string& key, const std::string& message) override {
        journal.add("problem:" + key + ":" + message);
    }

  private:
    Journal& journal;
};

class JournalSequencer : public platform::MidiSequencer {
  public:
    explicit JournalSequencer(Journal& journal) : journal(journal) {}
    void setSequence(const platform::MidiSequence&) override {}
    void setTickPosition(long) override {}
    void start() override { journal.add("beep"); }
    bool isRunning() const override { return false; }
    void close() override { open = false; }
    bool isOpen() const override { return open; }

  private:
    Journal& journal;
    bool open = true;
};

// An injector whose display went away: every key fails for good.
class LostInjector : public test::RecordingKeyInjector {
  public:
    void keyPress(int) override { throw platform::KeyOutputLost("display :9 is gone"); }
};

class OutputRunTest : public ::testing::Test {
  public:
    static void SetUpTestSuite() {
        base::SystemProperties::set("ZSP_OSNAME", "Windows");
        base::SystemProperties::set("ZSP_OSARCH", "x86");
    }

    OutputRunTest()
        : guard(fake.api()), config(Instrument(Instrument::GENERIC).getDefaultConfig()), view(journal) {
        Keybot::queue().clear();
        fake.port("COM3");
        config.setPort("COM3");
        config.setInstrument(Instrument::GENERIC);
        config.setInputTerminator(13);
        config.setDelay("0");
        config.setOutputTerminator(OutputTerminator::NONE);
        options.capsLockOn = [] { return false; };
        options.injector = [this] {
            auto made = std::make_unique<test::RecordingKeyInjector>();
            injector = made.get();
            return made;
        };
        options.sound = [this](Sound sound) {
            return std::make_unique<SoundBot>(sound, std::make_unique<JournalSequencer>(journal));
        };
    }

    ~OutputRunTest() override {
        if (run) {
            run->stop();
            awaitJournal("disconnected");
        }
        run.reset();
        Keybot::queue().clear();
    }

    bool start() {
        run = std::make_unique<OutputRun>(config, view, executor, options);
        return run->start();
    }

    // The keys stop at the next pause until the returned lock is released.
    std::unique_lock<std::mutex> holdTypingAtItsPauses() {
        options.injector = [this] {
            auto made = std::make_unique<test::RecordingKeyInjector>();
            made->onPause([this] { std::lock_guard pass(gate); });
            injector = made.get();
            return made;
        };
        return std::unique_lock(gate);
    }

    void awaitJournal(const std::string& entry) {
        executor.runUntil([&] { return journal.has(entry); }, kPatience);
    }

    test::FakeNativeSerial fake;
    Zivaraze::ScopedNativeApi guard;
    base::EventQueueExecutor executor;
    config::Config config;
    Journal journal;
    JournalView view;
    OutputRun::Options options;
    test::RecordingKeyInjector* injector = nullptr;
    std::mutex gate;
    std::unique_ptr<OutputRun> run;
};

// The value log's records of a run: raw line, value, outcome and reason, one per line received and in
// that order, written by the time the run is gone.
std::vector<std::vector<std::string>> loggedRecords(const std::filesystem::path& file) {
    auto rows = test::csvRows(test::readFile(file));
    if (rows.empty()) return rows;
    EXPECT_EQ(rows.front(),
              (std::vector<std::string>{"time", "port", "instrument", "raw", "value", "outcome", "reason"}));
    rows.erase(rows.begin());
    for (auto& row : rows) {
        EXPECT_EQ(row.size(), 7u);
        if (row.size() != 7u) continue;
        EXPECT_EQ(row[1], "COM3");
        EXPECT_EQ(row[2], Instrument(Instrument::GENERIC).toPlainString());
        row.erase(row.begin(), row.begin() + 3);
    }
    return rows;
}

// The system's own words for why a file cannot be opened for appending (they differ between systems).
std::string reasonOpeningFails(const std::filesystem::path& file) {
    try {
        platform::AppendFile::open(file);
    } catch (const std::system_error& e) {
        return e.code().message();
    }
    ADD_FAILURE() << file << " could be opened";
    return {};
}

struct StartCase {
    std::string name;
    std::function<void(OutputRunTest&)> arrange;
    std::vector<std::string> problems;  // "problem:key:message", compared up to their length
    bool started;
};

void PrintTo(const StartCase& c, std::ostream* os) {
    *os << c.name;
}

class StartProblems : public OutputRunTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartProblems, AreReportedWithTheirKeys) {
    const StartCase& c = GetParam();
    c.arrange(*this);
    EXPECT_EQ(start(), c.started);
    const auto problems = journal.startingWith("problem:");
    ASSERT_EQ(problems.size(), c.problems.size()) << ::testing::PrintToString(problems);
    for (std::size_t i = 0; i < problems.size(); ++i)
        EXPECT_EQ(problems[i].substr(0, c.problems[i].size()), c.problems[i]);
    // A start that failed leaves nothing running: no keyboard thread, no open port, no start lines.
    EXPECT_EQ(run->typing(), c.started && injector != nullptr);
    EXPECT_EQ(fake.port("COM3").isOpen(), c.started);
    EXPECT_EQ(journal.startingWith("log:").empty(), !c.started);
    if (!c.started) run.reset();
}

INSTANTIATE_TEST_SUITE_P(
    OutputRun, StartProblems,
    ::testing::ValuesIn(std::vector<StartCase>{
        {"KeyboardOutputFails",
         [](OutputRunTest& fixture) {
             fixture.options.injector = []() -> std::unique_ptr<platform::KeyInjector> {
                 throw std::runtime_error("no display");
             };
         },
         {"problem:error.initializing.keyboard.output:no display"},
         true},
        {"CapsLockOn",
         [](OutputRunTest& fixture) { fixture.options.capsLockOn = [] { return true; }; },
         {"problem:caps.lock.on.letters.kept:"},
         true},
        {"CapsLockOnNotOverridden",
         [](OutputRunTest& fixture) {
             fixture.config.setOverrideCapsLock(false);
             fixture.options.capsLockOn = [] { return true; };
         },
         {"problem:please.turn.off.caps.lock:"},
         true},
        {"CapsLockUnknown",
         [](OutputRunTest& fixture) {
             fixture.options.capsLockOn = []() -> bool { throw std::runtime_error("no XKB"); };
         },
         {},
         true},
        {"SoundFails",
         [](OutputRunTest& fixture) {
             fixture.config.setSound(Sound::COWBELL);
             fixture.options.sound = [](Sound) -> std::unique_ptr<SoundBot> {
                 throw platform::MidiUnavailableError("no synthesizer");
             };
         },
         {"problem:error.while.initializing.sound.output:no synthesizer"},
         true},
        {"PortCannotOpen",
         [](OutputRunTest& fixture) { fixture.fake.port("COM3").failOpen(1002); },
         {"problem:error.opening.port:"},
         false},
        {"PortPermissionDenied",
         [](OutputRunTest& fixture) { fixture.fake.port("COM3").failOpen(1006); },
         {"problem:error.opening.port:COM3: SerOpenPort failed: Permission denied\n" +
          permissionAdvice("COM3", {})},
         false},
        {"NoPort",
         [](OutputRunTest& fixture) { fixture.config.setPort(""); },
         {"problem:invalid.setting:" + WeightWorker::text("null.port.error")},
         false},
        // Before the port is opened: no line is read that could not be recorded.
        {"ValueLogCannotOpen",
         [](OutputRunTest& fixture) { fixture.config.setValueLog("/zorvik-no-such-folder/values.csv"); },
         {"problem:error.opening.value.log:/zorvik-no-such-folder/values.csv: " +
          reasonOpeningFails("/zorvik-no-such-folder/values.csv")},
         false},
    }),
    [](const auto& param) { return param.param.name; });

// Filter, sound, display, hand-over: a suppressed duplicate and a line without a value are shown but
// neither sound nor reach the output.
TEST_F(OutputRunTest, EachLineIsFilteredSoundedShownThenHandedOver) {
    config.ignoreDuplicates = true;
    config.setIgnoreTimeLimit("0");
    config.setSound(Sound::COWBELL);
    options.typeKeys = false;
    options.sink = [this](const std::string& value) {
        journal.add("sink:" + value);
        return true;
    };
    ASSERT_TRUE(start());
    fake.port("COM3").receive("5\r5\r\r6\r");
    awaitJournal("sink:6");

    std::vector<std::string> order;
    for (const auto& e : journal.all())
        if (e == "beep" || e.rfind("show:", 0) == 0 || e.rfind("sink:", 0) == 0) order.push_back(e);
    EXPECT_EQ(order, (std::vector<std::string>{"beep", "show:5", "sink:5", "show:", "show:", "beep", "show:6",
                                               "sink:6"}));
}

// The reading thread filters and hands the values to the keyboard itself: they are typed while the
// executor's thread is busy elsewhere, and shown, duplicate included, once it runs.
TEST_F(OutputRunTest, ValuesAreTypedWithoutWaitingForTheExecutor) {
    config.ignoreDuplicates = true;
    config.setIgnoreTimeLimit("0");
    ASSERT_TRUE(start());
    fake.port("COM3").receive("7\r7\r8\r");
    EXPECT_TRUE(injector->waitForKeys("+55 -55 +56 -56"));
    EXPECT_TRUE(journal.startingWith("show:").empty());
    awaitJournal("show:8");
    EXPECT_EQ(journal.startingWith("show:"), (std::vector<std::string>{"show:7", "show:", "show:8"}));
}

// Five lines arrive while the executor's thread is busy elsewhere, a sixth after it caught up. With two
// lines waiting to be shown, the third and fourth are counted instead (the fifth may find the executor
// running already); every value is typed all the same.
TEST_F(OutputRunTest, LinesBeyondTheDisplayBoundAreCountedInsteadOfShown) {
    options.maxLinesWaitingToShow = 2;
    ASSERT_TRUE(start());
    fake.port("COM3").receive("1\r2\r3\r4\r5\r");
    ASSERT_TRUE(injector->waitForKeys("+49 -49 +50 -50 +51 -51 +52 -52 +53 -53"));
    awaitJournal("show:2");
    executor.runUntilIdle();
    fake.port("COM3").receive("6\r");
    awaitJournal("show:6");
    EXPECT_TRUE(injector->waitForKeys("+49 -49 +50 -50 +51 -51 +52 -52 +53 -53 +54 -54"));
    const std::string notShown = WeightWorker::text("lines.not.shown");
    const auto report = [&](const char* count) {
        return "important:" + base::formatMessage(notShown, {count});
    };
    const bool fifthShown = journal.has("show:5");
    std::vector<std::string> shown;
    for (const auto& e : journal.all())
        if (e.rfind("show:", 0) == 0 || e.rfind("important:", 0) == 0) shown.push_back(e);
    EXPECT_EQ(shown, fifthShown
                         ? (std::vector<std::string>{"show:1", "show:2", report("2"), "show:5", "show:6"})
                         : (std::vector<std::string>{"show:1", "show:2", report("3"), "show:6"}));
}

// The keyboard output is held in the middle of the first value; ending it types that value to its end
// and reports the two that were still waiting.
TEST_F(OutputRunTest, EndingTheTypingReportsTheValuesNotTyped) {
    test::TempDir dir;
    config.setValueLog((dir.path() / "values.csv").string());
    config.setDelay("1");
    std::unique_lock held = holdTypingAtItsPauses();
    ASSERT_TRUE(start());
    fake.port("COM3").receive("1\r2\r3\r");
    awaitJournal("show:3");
    ASSERT_TRUE(injector->waitForKeys("+49"));
    run->interruptTyping();
    held.unlock();
    EXPECT_EQ(run->endTyping(), (std::vector<std::string>{"2", "3"}));
    EXPECT_EQ(injector->keys(), "+49 -49");
    EXPECT_TRUE(journal.has("important:" + WeightWorker::text("values.not.typed") + " \"2\", \"3\""));
    run->stop();
    awaitJournal("disconnected");
    run.reset();
    const std::string stopped = WeightWorker::text("value.log.stopped");
    EXPECT_EQ(loggedRecords(dir.path() / "values.csv"),
              (std::vector<std::vector<std::string>>{{"1<13>", "1", "typed", ""},
                                                     {"2<13>", "2", "not typed", stopped},
                                                     {"3<13>", "3", "not typed", stopped}}));
}

struct LostCase {
    std::string name;
    bool typeKeys;
    std::string important;  // what the view was told; empty: nothing checked
};

void PrintTo(const LostCase& c, std::ostream* os) {
    *os << c.name;
}

class LostOutput : public OutputRunTest, public ::testing::WithParamInterface<LostCase> {};

// The display or the reader of the values goes away: the run stops through the worker's end, which
// closes the port, and counts as failed.
TEST_P(LostOutput, StopsTheRun) {
    const LostCase& c = GetParam();
    options.typeKeys = c.typeKeys;
    options.injector = [] { return std::make_unique<LostInjector>(); };
    options.sink = [](const std::string&) { return false; };
    ASSERT_TRUE(start());
    fake.port("COM3").receive("4\r");
    awaitJournal("disconnected");
    EXPECT_TRUE(run->outputFailed());
    EXPECT_FALSE(fake.port("COM3").isOpen());
    EXPECT_TRUE(journal.has("log:" + WeightWorker::text("stopped")));
    if (!c.important.empty()) {
        EXPECT_TRUE(journal.has("important:" + c.important));
    }
    EXPECT_FALSE(run->typing());
}

INSTANTIATE_TEST_SUITE_P(
    OutputRun, LostOutput,
    ::testing::Values(LostCase{"Display", true, WeightWorker::text("cannot_type") + "4 (display :9 is gone)"},
                      LostCase{"Sink", false, ""}),
    [](const auto& param) { return param.param.name; });

struct RecordCase {
    std::string name;
    std::function<void(OutputRunTest&)> arrange;
    std::vector<std::vector<std::string>> records;  // raw, value, outcome, reason
};

void PrintTo(const RecordCase& c, std::ostream* os) {
    *os << c.name;
}

class ValueRecords : public OutputRunTest, public ::testing::WithParamInterface<RecordCase> {};

// "5", the same again, a line without a value and "6", with duplicates ignored.
TEST_P(ValueRecords, OneRecordPerLineWithWhatBecameOfItsValue) {
    const RecordCase& c = GetParam();
    test::TempDir dir;
    config.setValueLog((dir.path() / "values.csv").string());
    config.ignoreDuplicates = true;
    config.setIgnoreTimeLimit("0");
    c.arrange(*this);
    ASSERT_TRUE(start());
    fake.port("COM3").receive("5\r5\rx\r6\r");
    awaitJournal("show:6");
    run->stop();
    awaitJournal("disconnected");
    run.reset();
    EXPECT_EQ(loggedRecords(dir.path() / "values.csv"), c.records);
}

INSTANTIATE_TEST_SUITE_P(OutputRun, ValueRecords,
                         ::testing::ValuesIn(std::vector<RecordCase>{
                             {"Printed",
                              [](OutputRunTest& fixture) {
                                  fixture.options.typeKeys = false;
                                  fixture.options.sink = [](const std::string&) { return true; };
                              },
                              {{"5<13>", "5", "printed", ""},
                               {"5<13>", "5", "duplicate", ""},
                               {"x<13>", "", "not typed", WeightWorker::text("value.log.no.value")},
                               {"6<13>", "6", "printed", ""}}},
                             {"NoKeyboard",
                              [](OutputRunTest& fixture) {
                                  fixture.options.injector = []() -> std::unique_ptr<platform::KeyInjector> {
                                      throw std::runtime_error("no display");
                                  };
                              },
                              {{"5<13>", "5", "not typed", WeightWorker::text("value.log.no.keyboard")},
                               {"5<13>", "5", "duplicate", ""},
                               {"x<13>", "", "not typed", WeightWorker::text("value.log.no.value")},
                               {"6<13>", "6", "not typed", WeightWorker::text("value.log.no.keyboard")}}},
                         }),
                         [](const auto& param) { return param.param.name; });

struct BacklogCase {
    std::string name;
    int delay;
    std::string received;  // values ended by \r
    std::size_t behindValues;
    std::chrono::milliseconds behindTime;
    std::size_t maxWaiting;
    std::size_t behindAt;  // waiting values when the warning comes; 0: none
    bool bounded;          // the bound was reached: reading stops
};

void PrintTo(const BacklogCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<std::string> splitValues(const std::string& received) {
    std::vector<std::string> values;
    std::size_t start = 0;
    for (std::size_t end; (end = received.find('\r', start)) != std::string::npos; start = end + 1)
        values.push_back(received.substr(start, end - start));
    return values;
}

std::string keysFor(const std::vector<std::string>& values) {
    std::string keys;
    for (const auto& value : values)
        for (const char c : value)
            keys += (keys.empty() ? "+" : " +") + std::to_string(c) + " -" + std::to_string(c);
    return keys;
}

class Backlog : public OutputRunTest, public ::testing::WithParamInterface<BacklogCase> {};

// The typing is held at its first pause while the values arrive, then let go. The warning comes once,
// the all-clear once the queue is empty; at the bound the port is closed and every value read is typed.
TEST_P(Backlog, IsReportedOnceAndBounded) {
    const BacklogCase& c = GetParam();
    config.setDelay(std::to_string(c.delay));
    options.behindValues = c.behindValues;
    options.behindTime = c.behindTime;
    options.maxWaiting = c.maxWaiting;
    std::unique_lock held = holdTypingAtItsPauses();
    ASSERT_TRUE(start());
    fake.port("COM3").receive(c.received);
    const std::string full = "important:" + base::formatMessage(WeightWorker::text("typing.queue.full"),
                                                                {std::to_string(c.maxWaiting)});
    if (c.bounded) {
        awaitJournal(full);
        executor.runUntil([&] { return !fake.port("COM3").isOpen(); }, kPatience);
    } else {
        awaitJournal("show:" + splitValues(c.received).back());
    }
    held.unlock();
    if (c.bounded) {
        awaitJournal("disconnected");
    } else {
        ASSERT_TRUE(run->awaitTyped(std::chrono::steady_clock::now() + kPatience));
        const std::string caughtUp = "important:" + WeightWorker::text("typing.caught.up");
        if (c.behindAt > 0) awaitJournal(caughtUp);
        EXPECT_EQ(journal.has(caughtUp), c.behindAt > 0);
    }

    std::vector<std::string> behind;
    for (const auto& e : journal.startingWith("important:"))
        if (e != full && e != "important:" + WeightWorker::text("typing.caught.up")) behind.push_back(e);
    if (c.behindAt == 0) {
        EXPECT_TRUE(behind.empty()) << ::testing::PrintToString(behind);
    } else {
        EXPECT_EQ(behind, std::vector<std::string>{"important:" +
                                                   base::formatMessage(WeightWorker::text("typing.behind"),
                                                                       {std::to_string(c.behindAt), "0"})});
    }
    EXPECT_EQ(journal.has(full), c.bounded);
    EXPECT_EQ(run->outputFailed(), c.bounded);
    EXPECT_EQ(fake.port("COM3").isOpen(), !c.bounded);
    // Nothing shown is left untyped.
    std::vector<std::string> shown;
    for (const auto& e : journal.startingWith("show:"))
        if (e.size() > 5) shown.push_back(e.substr(5));
    EXPECT_GE(shown.size(), c.bounded ? c.maxWaiting : 1);
    EXPECT_EQ(injector->keys(), keysFor(shown));
}

INSTANTIATE_TEST_SUITE_P(
    OutputRun, Backlog,
    ::testing::Values(BacklogCase{"KeepsUp", 1, "1\r2\r3\r", 5, 1h, 100, 0, false},
                      BacklogCase{"ManyValuesWait", 1, "1\r2\r3\r4\r5\r6\r", 3, 1h, 100, 3, false},
                      BacklogCase{"LongTypingWaits", 10, "123\r456\r789\r", 100, 50ms, 100, 2, false},
                      BacklogCase{"OneLongValueIsNotBehind", 10, "1234567890\r", 100, 50ms, 100, 0, false},
                      BacklogCase{"BoundReached", 1, "1\r2\r3\r4\r5\r6\r", 2, 1h, 4, 2, true}),
    [](const auto& param) { return param.param.name; });

// A math step that cannot apply is said once at the start; the run goes on with the values unchanged.
TEST_F(OutputRunTest, MathThatCannotApplyIsSaidOnceAtTheStart) {
    struct Row {
        const char* operation;
        const char* operand;
        const char* decimalPlaces;
        bool warned;
    };
    options.typeKeys = false;
    options.sink = [](const std::string&) { return true; };
    std::size_t runs = 0;
    for (const Row& row : {Row{"DIVIDE", "2", "", true}, Row{"MULTIPLY", "", "2", true},
                           Row{"DIVIDE", "2", "2", false}, Row{"NONE", "", "", false}}) {
        SCOPED_TRACE(std::string(row.operation) + " by '" + row.operand + "' at '" + row.decimalPlaces + "'");
        config.setMathOperation(config::ConfigHelper::MathOperation::valueOf(row.operation));
        config.setMathOperand(row.operand);
        config.setDecimalPlaces(row.decimalPlaces);
        const auto before = journal.startingWith("important:Die Rechenart").size();
        ASSERT_TRUE(start());
        EXPECT_EQ(journal.startingWith("important:Die Rechenart").size() - before, row.warned ? 1u : 0u);
        run->stop();
        ++runs;
        executor.runUntil([&] { return journal.startingWith("disconnected").size() == runs; }, kPatience);
        run.reset();
    }
}

}  // namespace
}  // namespace rszorvik::worker
