// The value log's file: the lines it writes, what it does with a file that exists, and how it lives
// through a medium that fills up or goes away (a scripted file; the real full disk is the end-to-end
// test's).
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "base/MessageCatalog.h"
#include "support/ScriptedAppendFile.h"
#include "support/TempDir.h"
#include "worker/ValueLog.h"

namespace rszorvik::worker {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::ScriptedMedium;

ValueRecord record(std::string value, ValueOutcome outcome = ValueOutcome::TYPED, std::string reason = {}) {
    ValueRecord r;
    r.received = DataLine::Instant(std::chrono::sys_days(std::chrono::year(2024) / 5 / 3) + 12h + 1min + 2s +
                                   345678912ns);
    r.utcOffset = 2h;
    r.port = "/dev/ttyUSB0";
    r.instrument = "Generic";
    r.raw = value + "<13><10>";
    r.value = std::move(value);
    r.outcome = outcome;
    r.reason = std::move(reason);
    return r;
}

TEST(ValueLogTest, RecordsAreLinesOfQuotedFields) {
    struct Case {
        const char* name;
        ValueRecord record;
        std::string line;
    };
    ValueRecord west = record("7");
    west.utcOffset = -(3h + 30min);
    west.received = DataLine::Instant(std::chrono::sys_days(std::chrono::year(2024) / 1 / 1) + 1h + 999999ns);
    ValueRecord special = record("1,5", ValueOutcome::NOT_TYPED, "say \"no\"\r\nnow");
    special.instrument = "A&D \xC3\xA4";  // UTF-8 passes as it is
    special.raw = "1,5<13>";
    const Case cases[] = {
        {"plain", record("12.34"),
         "2024-05-03T14:01:02.345+02:00,/dev/ttyUSB0,Generic,12.34<13><10>,12.34,typed,\r\n"},
        {"westOfUtcAcrossMidnight", west,
         "2023-12-31T21:30:00.000-03:30,/dev/ttyUSB0,Generic,7<13><10>,7,typed,\r\n"},
        {"quotedWhereNeeded", special,
         "2024-05-03T14:01:02.345+02:00,/dev/ttyUSB0,A&D \xC3\xA4,\"1,5<13>\",\"1,5\",not typed,"
         "\"say \"\"no\"\"\r\nnow\"\r\n"},
        {"duplicate", record("8", ValueOutcome::DUPLICATE),
         "2024-05-03T14:01:02.345+02:00,/dev/ttyUSB0,Generic,8<13><10>,8,duplicate,\r\n"},
        {"printed", record("9", ValueOutcome::PRINTED),
         "2024-05-03T14:01:02.345+02:00,/dev/ttyUSB0,Generic,9<13><10>,9,printed,\r\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ValueLog::csvLine(c.record), c.line) << c.name;
}

// A new or empty file gets the header; a file with records gets none, and one whose last line was cut
// off gets a line break first, so that the next record starts a line of its own.
TEST(ValueLogTest, TheHeaderComesOnlyWithANewFile) {
    struct Case {
        const char* name;
        std::optional<std::string> before;  // none: no file
        std::string after;                  // before the record
    };
    const std::string header(ValueLog::kHeader);
    const std::string old = "2024-01-01T00:00:00.000+00:00,COM1,Generic,1,1,typed,\r\n";
    const Case cases[] = {
        {"missing", std::nullopt, header},
        {"empty", "", header},
        {"withRecords", header + old, header + old},
        {"lastLineCutOff", header + "2024", header + "2024\r\n"},
    };
    for (const Case& c : cases) {
        test::TempDir dir;
        const fs::path file = dir.path() / "values.csv";
        if (c.before) test::writeFile(file, *c.before);
        {
            ValueLog log(file, {});
            log.add(record("5"));
            EXPECT_EQ(log.close(), 0u) << c.name;
        }
        EXPECT_EQ(test::readFile(file), c.after + ValueLog::csvLine(record("5"))) << c.name;
    }
}

struct FaultCase {
    const char* name;
    std::function<void(ScriptedMedium&)> fault;
    std::function<void(ScriptedMedium&)> repair;
    std::string reason;  // empty: the removed file's own text
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class ValueLogFaults : public ::testing::TestWithParam<FaultCase> {};

// Two records go in, then the medium fails for three more and a few attempts: the failure is said once,
// the records wait in order, and once the medium is back they follow the first two, each whole and once;
// the recovery is said once too.
TEST_P(ValueLogFaults, AreSaidOnceAndTheRecordsFollowInOrder) {
    const FaultCase& c = GetParam();
    ScriptedMedium medium;
    ValueLog::Events events;
    events.failed = [&](const std::string& reason) { medium.event("failed:" + reason); };
    events.resumed = [&] { medium.event("resumed"); };
    ValueLog log(
        "values.csv", events,
        [&](const fs::path&) { return std::make_unique<test::ScriptedAppendFile>(medium); }, 10ms);
    log.add(record("1"));
    log.add(record("2"));
    ASSERT_TRUE(medium.await([](ScriptedMedium& m) { return m.lines() == 3; }));
    medium.set(c.fault);
    for (const char* value : {"3", "4", "5"})
        log.add(record(value));
    // A fault that lasts is tried again and again, and still said only once.
    ASSERT_TRUE(medium.await([](ScriptedMedium& m) { return m.opened >= 5 || m.events.size() == 2; }));
    medium.set(c.repair);
    ASSERT_TRUE(medium.await([](ScriptedMedium& m) { return m.events.size() == 2; }));
    EXPECT_EQ(log.close(), 0u);

    const std::string reason =
        c.reason.empty() ? base::MessageCatalog::get(base::catalogues::kWorker).getString("value.log.removed")
                         : c.reason;
    EXPECT_EQ(medium.events, (std::vector<std::string>{"failed:" + reason, "resumed"}));
    std::string expected;
    if (std::string(c.name) == "fileReplaced") expected += ValueLog::kHeader;  // a file of its own
    for (const char* value : {"3", "4", "5"})
        expected += ValueLog::csvLine(record(value));
    EXPECT_TRUE(medium.content.ends_with(expected)) << medium.content;
    EXPECT_EQ(medium.lines(), std::string(c.name) == "fileReplaced" ? 4u : 6u) << medium.content;
}

INSTANTIATE_TEST_SUITE_P(
    ValueLog, ValueLogFaults,
    ::testing::Values(
        FaultCase{"diskFull", [](ScriptedMedium& m) { m.room = m.content.size() + 10; },
                  [](ScriptedMedium& m) { m.room = 1 << 20; }, std::generic_category().message(ENOSPC)},
        FaultCase{"mediumGone", [](ScriptedMedium& m) { m.gone = true; },
                  [](ScriptedMedium& m) { m.gone = false; }, std::generic_category().message(EIO)},
        FaultCase{"syncFails", [](ScriptedMedium& m) { m.failSync = true; },
                  [](ScriptedMedium& m) { m.failSync = false; }, std::generic_category().message(EIO)},
        // The records went out but are not known to be on the medium; back, it holds them: not twice.
        FaultCase{"goneWhileSyncing", [](ScriptedMedium& m) { m.goneOnSync = true; },
                  [](ScriptedMedium& m) {
                      m.goneOnSync = false;
                      m.gone = false;
                  },
                  std::generic_category().message(EIO)},
        // Deleted while open: the records would go into a file nobody can see; a new one takes them.
        FaultCase{"fileReplaced",
                  [](ScriptedMedium& m) {
                      m.replaced = true;
                      m.content.clear();
                  },
                  [](ScriptedMedium&) {}, ""}),
    [](const auto& param) { return param.param.name; });

}  // namespace
}  // namespace rszorvik::worker
