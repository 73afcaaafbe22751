// The change to summer time as the zone's rules in TZ say it, which only POSIX C libraries read (the
// Windows runtime applies its own rules to a TZ with a summer-time name).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "support/Environment.h"
#include "worker/DataLine.h"

using rszorvik::worker::DataLine;

namespace {

TEST(DataLineTest, DateTimeIsTheInstantInTheLocalZoneWithNanoseconds) {
    using namespace std::chrono;
    const char* previous = std::getenv("TZ");
    const std::string saved = previous ? previous : "";
    rszorvik::test::setEnvironment("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();
    // Winter time, then both sides of the change to summer time at 01:00 UTC on 31 March 2024.
    const sys_days day = 2024y / March / 31;
    const std::vector<std::pair<nanoseconds, nanoseconds>> rows = {
        {sys_days(2024y / January / 15) - day + 10h + 123456789ns,
         sys_days(2024y / January / 15) - day + 11h + 123456789ns},
        {59min + 59s + 999999999ns, 1h + 59min + 59s + 999999999ns},
        {1h, 3h},
    };
    for (const auto& [utc, local] : rows) {
        const DataLine line("\n", "", 1, DataLine::Instant(day + utc), false);
        EXPECT_EQ(line.getDateTime().time_since_epoch(), (day + local).time_since_epoch());
    }
    if (previous)
        rszorvik::test::setEnvironment("TZ", saved);
    else
        rszorvik::test::unsetEnvironment("TZ");
    tzset();
}

}  // namespace
