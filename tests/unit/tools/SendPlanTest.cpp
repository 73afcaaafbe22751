#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "InstrumentFormat.h"
#include "SendPlan.h"

using rszorvik::sim::formatValue;
using rszorvik::sim::Options;
using rszorvik::sim::planFrom;

// Whatever the plan accepts must be sendable: a value that does not fit the format would otherwise end
// the simulator after a reader connected.
TEST(SendPlanTest, ValuesTheFormatCannotCarryAreRefusedBeforeSending) {
    struct Case {
        const char* name;
        Options options;
        bool accepted;
    };
    const auto walk = [](const char* format, const char* from, const char* to, const char* step) {
        Options options;
        options.format = format;
        options.random = true;
        options.seed = 1;
        options.from = from;
        options.to = to;
        options.step = step;
        return options;
    };
    const auto list = [](const char* format, const char* value) {
        Options options;
        options.format = format;
        options.values = {value};
        return options;
    };
    const Case cases[] = {
        // The walk writes its values with the step's two decimals: 766665.00 has 9 characters (fuzzing).
        {"walk wider than the field", walk("and", "766665", "5.5", ".05"), false},
        {"walk that fits the field", walk("and", "99999999", "5", "1"), true},
        {"negative end wider than the field", walk("mitutoyo", "1", "-9999999.5", "1"), false},
        {"walk in a free format", walk("generic", "766665", "5.5", ".05"), true},
        {"listed value wider than the field", list("and", "123456789"), false},
        {"listed value that fits", list("and", "12345678"), true},
    };
    for (const auto& c : cases) {
        if (!c.accepted) {
            EXPECT_THROW(planFrom(c.options), std::invalid_argument) << c.name;
            continue;
        }
        auto plan = planFrom(c.options);
        for (int i = 0; i < 500; ++i)
            EXPECT_NO_THROW(formatValue(plan.format, plan.source.next(), c.options.unit)) << c.name;
    }
}
