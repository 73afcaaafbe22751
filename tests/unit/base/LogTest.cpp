#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/Log.h"

namespace rszorvik::base {
namespace {

using Level = LogChannel::Level;

struct LayoutCase {
    LogChannel::Layout layout;
    const char* expected;
};

TEST(LogTest, LayoutsShapeTheLine) {
    const LayoutCase cases[] = {
        {LogChannel::messageOnly, "Port COM3: 9600\n"},
        {LogChannel::loggerAndMessage, "zorvik-cli run: Port COM3: 9600\n"},
        {LogChannel::levelLoggerAndMessage, "WARNING zorvik-cli run: Port COM3: 9600\n"},
    };
    for (const auto& c : cases) {
        std::ostringstream standard;
        LogChannel channel(standard, Level::FINE, c.layout);
        channel.log(Level::WARNING, "zorvik-cli run", "Port COM3: 9600");
        EXPECT_EQ(standard.str(), c.expected);
    }
}

TEST(LogTest, ThresholdDropsTheLowerLevels) {
    std::ostringstream out;
    LogChannel channel(out, Level::WARNING, LogChannel::levelLoggerAndMessage);
    const Logger log(channel, "store");
    log.fine("f");
    log.info("i");
    log.warning("w");
    log.severe("s");
    log.log(Level::WARNING, "Unable to flush", std::runtime_error("disk full"));
    EXPECT_EQ(out.str(), "WARNING store: w\nSEVERE store: s\nWARNING store: Unable to flush: disk full\n");
    EXPECT_EQ(channel.setThreshold(Level::FINE), Level::WARNING);
    log.fine("f");
    EXPECT_EQ(out.str().substr(out.str().rfind("FINE")), "FINE store: f\n");
}

TEST(LogTest, SinkAndStreamTakeTheRecordsUntilReset) {
    std::ostringstream standard, other;
    LogChannel channel(standard, Level::INFO, LogChannel::messageOnly);
    std::vector<LogChannel::Record> seen;
    EXPECT_FALSE(channel.setSink([&](const LogChannel::Record& r) { seen.push_back(r); }));
    channel.log(Level::SEVERE, "a", "to the sink");
    channel.log(Level::FINE, "a", "below the threshold, also for the sink");
    EXPECT_TRUE(channel.setSink({}));
    EXPECT_EQ(channel.setStream(&other), nullptr);
    channel.log(Level::INFO, "b", "to the other stream");
    EXPECT_EQ(channel.setStream(nullptr), &other);
    channel.log(Level::INFO, "c", "back to the standard stream");

    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].level, Level::SEVERE);
    EXPECT_EQ(seen[0].logger, "a");
    EXPECT_EQ(seen[0].message, "to the sink");
    EXPECT_EQ(other.str(), "to the other stream\n");
    EXPECT_EQ(standard.str(), "back to the standard stream\n");
}

// Lines written from several threads at once arrive whole.
TEST(LogTest, LinesFromThreadsDoNotTear) {
    std::ostringstream out;
    LogChannel channel(out, Level::FINE, LogChannel::loggerAndMessage);
    std::vector<std::thread> threads;
    for (char name = 'a'; name < 'e'; ++name)
        threads.emplace_back([&channel, name] {
            for (int i = 0; i < 200; ++i)
                channel.log(Level::INFO, std::string(1, name), std::string(50, name));
        });
    for (auto& t : threads)
        t.join();
    std::istringstream lines(out.str());
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_EQ(line, std::string(1, line[0]) + ": " + std::string(50, line[0]));
    EXPECT_EQ(count, 800);
}

}  // namespace
}  // namespace rszorvik::base
