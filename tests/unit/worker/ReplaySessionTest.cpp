#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/Config.h"
#include "worker/ReplaySession.h"

using rszorvik::config::Config;
using rszorvik::worker::DataLine;
using rszorvik::worker::LineFailure;
using rszorvik::worker::ReplaySession;
using namespace std::chrono_literals;

namespace {

// Writes each result as a short text: "count raw=value", with " S" for a suppressed duplicate and " @ms"
// (milliseconds after the first instant) when asked.
class RecordingSink : public ReplaySession::Sink {
  public:
    void published(const DataLine& line, bool suppressed) override {
        if (!first) first = line.getInstant();
        std::string entry = std::to_string(line.getCount()) + " " + line.getRawData() + "=" +
                            line.getProcessedData() + (suppressed ? " S" : "");
        if (withTimes)
            entry += " @" + std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               line.getInstant() - *first)
                                               .count());
        results.push_back(entry);
    }
    void failed(const LineFailure& failure) override {
        results.push_back(std::to_string(failure.count) + " failed: " + failure.message);
    }
    void unsent(const std::string& text) override {
        results.push_back("unsent " + DataLine::transformControlChars(text));
    }

    bool withTimes = false;
    std::vector<std::string> results;
    std::optional<DataLine::Instant> first;
};

Config settings(Config::Instrument instrument, int terminator) {
    Config config = instrument.getDefaultConfig();
    config.setInstrument(instrument);
    config.setInputTerminator(terminator);
    return config;
}

ReplaySession::Clock tickingClock(std::chrono::milliseconds tick) {
    auto now = std::make_shared<DataLine::Instant>(std::chrono::seconds(1'700'000'000));
    return [now, tick] {
        const auto t = *now;
        *now += tick;
        return t;
    };
}

const std::string kCapture = "ST, +00012.34 kg\r\nUS, -00012,45 g\r\nST, 12345,67 kg\r\n\r\n+12.";

}  // namespace

TEST(ReplaySessionTest, CrLfLinesCutAtEitherTerminator) {
    struct Row {
        int terminator;
        std::vector<std::string> expected;
    };
    const std::vector<Row> rows = {
        {10,
         {"1 ST, +00012.34 kg<13><10>=12.34", "2 US, -00012,45 g<13><10>=-12.45",
          "3 ST, 12345,67 kg<13><10>=", "4 <13><10>=", "unsent +12."}},
        {13,
         {"1 ST, +00012.34 kg<13>=12.34", "2 <10>US, -00012,45 g<13>=-12.45",
          "3 <10>ST, 12345,67 kg<13>=", "4 <10><13>=", "unsent <10>+12."}},
    };
    for (const auto& row : rows) {
        // Any split of the input into blocks gives the same lines.
        for (const std::size_t block : {std::size_t{1}, std::size_t{7}, kCapture.size()}) {
            RecordingSink sink;
            ReplaySession session(settings(Config::Instrument::AND, row.terminator), sink);
            for (std::size_t i = 0; i < kCapture.size(); i += block)
                session.feed(std::string_view(kCapture).substr(i, block));
            session.finish();
            EXPECT_EQ(sink.results, row.expected)
                << "terminator " << row.terminator << ", blocks of " << block;
        }
    }
}

TEST(ReplaySessionTest, AFailedLineIsDroppedWithItsBytesAndUsesUpItsNumber) {
    Config config = settings(Config::Instrument::GENERIC, 10);
    config.setCustomRegEx("([^\\r\\n]+)");
    RecordingSink sink;
    ReplaySession session(config, sink);
    session.feed("1\n2\nx1\n4\n");
    session.finish();
    EXPECT_EQ(
        sink.results,
        (std::vector<std::string>{
            "1 1<10>=1", "2 2<10>=2",
            "3 failed: Error [WW]: Character x is neither a decimal digit number, decimal point, nor \"e\" "
            "notation exponential mark.",
            "4 4<10>=4"}));
}

TEST(ReplaySessionTest, ClockStepMakesTimeLimitsReproducible) {
    struct Row {
        std::int64_t stepMs;
        std::vector<std::string> expected;
    };
    const std::vector<Row> rows = {
        // Line 4 is compared with line 2 (line 3 has no value): 1200 ms apart.
        {600, {"1 5<10>=5 @0", "2 5<10>= S @600", "3 <10>= @1200", "4 5<10>=5 @1800"}},
        {1500, {"1 5<10>=5 @0", "2 5<10>=5 @1500", "3 <10>= @3000", "4 5<10>=5 @4500"}},
    };
    for (const auto& row : rows) {
        Config config = settings(Config::Instrument::GENERIC, 10);
        config.ignoreDuplicates = true;
        config.setIgnoreTimeLimit("1000");
        RecordingSink sink;
        sink.withTimes = true;
        ReplaySession::Options options;
        options.clockStep = std::chrono::milliseconds(row.stepMs);
        options.clock = tickingClock(1ms);  // read once, for line 1
        ReplaySession session(config, sink, options);
        session.feed("5\n5\n\n5\n");
        session.finish();
        EXPECT_EQ(sink.results, row.expected) << "step " << row.stepMs;
    }
}

TEST(ReplaySessionTest, WithoutAStepEveryLineReadsTheClock) {
    Config config = settings(Config::Instrument::GENERIC, 10);
    config.ignoreDuplicates = true;
    config.setIgnoreTimeLimit("1000");
    RecordingSink sink;
    sink.withTimes = true;
    ReplaySession::Options options;
    options.clock = tickingClock(700ms);
    ReplaySession session(config, sink, options);
    session.feed("5\n5\n5\n");
    EXPECT_EQ(sink.results,
              (std::vector<std::string>{"1 5<10>=5 @0", "2 5<10>= S @700", "3 5<10>= S @1400"}));
}

TEST(ReplaySessionTest, WithoutIgnoreDuplicatesNothingIsSuppressed) {
    RecordingSink sink;
    ReplaySession session(settings(Config::Instrument::GENERIC, 10), sink);
    session.feed("5\n5\n");
    session.finish();
    EXPECT_EQ(sink.results, (std::vector<std::string>{"1 5<10>=5", "2 5<10>=5"}));
}

TEST(ReplaySessionTest, AStepBeyondWhatAnInstantHoldsIsAnError) {
    RecordingSink sink;
    ReplaySession::Options options;
    options.clockStep = std::chrono::milliseconds(86'400'000);
    options.clock = [] { return DataLine::Instant(DataLine::Instant::duration::max() - 1h); };
    ReplaySession session(settings(Config::Instrument::GENERIC, 10), sink, options);
    EXPECT_THROW(session.feed("1\n2\n"), std::range_error);
    EXPECT_EQ(sink.results.size(), 1u);
}

TEST(ReplaySessionTest, SettingsNoWorkerCouldStartWithAreRefused) {
    RecordingSink sink;
    Config config = settings(Config::Instrument::GENERIC, 10);
    config.setCustomRegEx("([0-9]");
    EXPECT_THROW(ReplaySession(config, sink), rszorvik::worker::WorkerSetupError);
    EXPECT_THROW(ReplaySession(settings(Config::Instrument::GENERIC, 256), sink), std::invalid_argument);
}
