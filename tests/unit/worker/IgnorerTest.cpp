#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "config/Config.h"
#include "worker/DataLine.h"
#include "worker/Ignorer.h"

using rszorvik::config::Config;
using rszorvik::worker::DataLine;
using rszorvik::worker::Ignorer;
using Instrument = Config::Instrument;

namespace {

struct Received {
    const char* value;  // "" for a line without value
    std::int64_t atMicros;
};

Config settings(const char* timeLimit, const char* difference, Instrument instrument = Instrument::GENERIC) {
    Config config;
    config.setInstrument(instrument);
    config.ignoreDuplicates = true;
    config.setIgnoreTimeLimit(timeLimit);
    config.setIgnoreDifference(difference);
    return config;
}

// "T" typed, "S" suppressed, "-" no value, per received line.
std::string outcomes(Ignorer& ignorer, const std::vector<Received>& lines) {
    std::string out;
    std::int32_t count = 0;
    for (const auto& r : lines) {
        DataLine line(
            "x\n", r.value, ++count,
            DataLine::Instant(std::chrono::seconds(1'700'000'000) + std::chrono::microseconds(r.atMicros)),
            false);
        const bool hadValue = line.hasValue();
        DataLine& returned = ignorer.process(line);
        EXPECT_EQ(&returned, &line);
        out += !hadValue ? "-" : line.hasValue() ? "T" : "S";
    }
    return out;
}

constexpr std::int64_t ms = 1000;

}  // namespace

TEST(IgnorerTest, SuppressesRepeatsWithinTimeLimitAndTolerance) {
    struct Row {
        const char* name;
        const char* timeLimit;
        const char* difference;
        Instrument instrument;
        std::vector<Received> lines;
        const char* expected;
    };
    const std::vector<Row> rows = {
        {"no limits: equal texts",
         "",
         "",
         Instrument::GENERIC,
         {{"12.5", 0}, {"12.5", 1}, {"12.6", 2}, {"12.5", 3}},
         "TSTT"},
        {"the reference is the latest reception",
         "1000",
         "",
         Instrument::GENERIC,
         {{"5", 0}, {"5", 800 * ms}, {"5", 1600 * ms}, {"5", 2400 * ms}},
         "TSSS"},
        {"beyond the time limit", "1000", "", Instrument::GENERIC, {{"5", 0}, {"5", 1001 * ms}}, "TT"},
        {"time limit inclusive", "1000", "", Instrument::GENERIC, {{"5", 0}, {"5", 1000 * ms}}, "TS"},
        {"partial milliseconds are cut off",
         "1000",
         "",
         Instrument::GENERIC,
         {{"5", 0}, {"5", 1000 * ms + 999}},
         "TS"},
        {"tolerance against the previous reception",
         "",
         "0.1",
         Instrument::GENERIC,
         {{"5.00", 0}, {"5.08", 1}, {"5.20", 2}},
         "TST"},
        {"tolerance inclusive, either direction",
         "",
         "0.1",
         Instrument::GENERIC,
         {{"5.00", 0}, {"5.10", 1}, {"5.00", 2}, {"4.89", 3}},
         "TSST"},
        {"tolerance compares numbers, not texts",
         "",
         "0.01",
         Instrument::GENERIC,
         {{"5.0", 0}, {"5.00", 1}, {"5", 2}},
         "TSS"},
        {"comma values", "", "0.1", Instrument::GENERIC, {{"5,00", 0}, {"5,05", 1}, {"5,20", 2}}, "TST"},
        {"time limit and tolerance together",
         "1000",
         "0.1",
         Instrument::GENERIC,
         {{"5.00", 0}, {"5.05", 500 * ms}, {"5.05", 2000 * ms}, {"9", 2100 * ms}},
         "TSTT"},
        {"lines without value change nothing",
         "",
         "",
         Instrument::GENERIC,
         {{"5", 0}, {"", 1}, {"5", 2}},
         "T-S"},
        {"text presets compare texts whatever the tolerance",
         "",
         "5",
         Instrument::BARCODE_ALPHA_COMPLETE,
         {{"12", 0}, {"13", 1}, {"13", 2}, {"13.0", 3}},
         "TTST"},
        {"settings that do not parse count as 0",
         "soon",
         "a bit",
         Instrument::GENERIC,
         {{"5", 0}, {"5", 99'000 * ms}, {"5.0", 99'001 * ms}},
         "TST"},
    };
    for (const auto& row : rows) {
        Ignorer ignorer(settings(row.timeLimit, row.difference, row.instrument));
        EXPECT_EQ(outcomes(ignorer, row.lines), row.expected) << row.name;
    }
}

TEST(IgnorerTest, ValuesThatAreNoNumbersAreNeverWithinATolerance) {
    std::vector<std::string> reports;
    Ignorer ignorer(settings("", "0.5"), [&](const std::string& message) { reports.push_back(message); });
    EXPECT_EQ(outcomes(ignorer, {{"abc", 0}, {"abc", 1}, {"5", 2}, {"abd", 3}, {"5", 4}, {"5", 5}}),
              "TTTTTS");
    ASSERT_EQ(reports.size(), 1u);  // once per filter, not per line
    EXPECT_NE(reports[0].find("\"abc\""), std::string::npos) << reports[0];
}
