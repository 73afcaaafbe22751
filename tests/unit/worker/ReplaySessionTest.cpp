#include <gtest/gtest.h>

#include <chrono>
#include <memory>
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

// Cutting, processing and the JSON lines are covered end to end by the replay command's test; here the
// instants that decide the duplicate filter's time limit.

namespace {

// "count value @ms-after-line-1", with " S" for a suppressed duplicate.
class RecordingSink : public ReplaySession::Sink {
  public:
    void published(const DataLine& line, bool suppressed) override {
        if (!first) first = line.getInstant();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(line.getInstant() - *first);
        results.push_back(std::to_string(line.getCount()) + " " + line.getProcessedData() + " @" +
                          std::to_string(ms.count()) + (suppressed ? " S" : ""));
    }
    void failed(const LineFailure& failure) override { results.push_back(failure.message); }
    void unsent(const std::string& text) override { results.push_back("unsent " + text); }
    void discarded(std::size_t count, const std::string& start) override {
        results.push_back("discarded " + std::to_string(count) + " " + start);
    }

    std::vector<std::string> results;
    std::optional<DataLine::Instant> first;
};

Config filterSettings() {
    Config config = Config::Instrument(Config::Instrument::GENERIC).getDefaultConfig();
    config.setInputTerminator(10);
    config.ignoreDuplicates = true;
    config.setIgnoreTimeLimit("1000");
    return config;
}

ReplaySession::Clock tickingClock(std::chrono::milliseconds tick) {
    auto now = std::make_shared<DataLine::Instant>(std::chrono::seconds(1'700'000'000));
    return [now, tick] { return std::exchange(*now, *now + tick); };
}

}  // namespace

TEST(ReplaySessionTest, LineInstantsFromTheClockOrFromAStep) {
    struct Row {
        const char* name;
        std::optional<std::chrono::milliseconds> step;
        std::vector<std::string> expected;
    };
    const std::vector<Row> rows = {
        // The clock ticks 700 ms per reading: each line reads it once.
        {"real clock", std::nullopt, {"1 5 @0", "2  @700 S", "3  @1400", "4 5 @2100"}},
        // Line 4 is compared with line 2 (line 3 has no value): 1200 ms apart.
        {"step 600", 600ms, {"1 5 @0", "2  @600 S", "3  @1200", "4 5 @1800"}},
        {"step 1001", 1001ms, {"1 5 @0", "2 5 @1001", "3  @2002", "4 5 @3003"}},
    };
    for (const auto& row : rows) {
        RecordingSink sink;
        ReplaySession session(filterSettings(), sink, {row.step, tickingClock(700ms), {}});
        session.feed("5\n5\n\n5\n");
        session.finish();
        EXPECT_EQ(sink.results, row.expected) << row.name;
    }
}

TEST(ReplaySessionTest, InstantsBeyondWhatAnInstantHoldsStayAtTheLastOne) {
    struct Row {
        const char* name;
        std::chrono::milliseconds step;
        DataLine::Instant start;
    };
    const std::vector<Row> rows = {
        {"a day near the end", 86'400'000ms, DataLine::Instant(DataLine::Instant::duration::max() - 1h)},
        // More milliseconds than nanoseconds can count (found by fuzzing replay).
        {"a step beyond any instant", 40'111'111'111'111'110ms, DataLine::Instant(1'700'000'000s)},
    };
    for (const auto& row : rows) {
        RecordingSink sink;
        ReplaySession session(filterSettings(), sink, {row.step, [&row] { return row.start; }, {}});
        session.feed("1\n2\n3\n");
        const auto last = std::to_string(
            std::chrono::duration_cast<std::chrono::milliseconds>(DataLine::Instant::max() - row.start)
                .count());
        EXPECT_EQ(sink.results, (std::vector<std::string>{"1 1 @0", "2 2 @" + last, "3 3 @" + last}))
            << row.name;
    }
}
