#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ValueSource.h"

using rszorvik::sim::Decimal;
using rszorvik::sim::ValueSource;

namespace {

std::vector<std::string> take(ValueSource& source, std::size_t n) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < n; ++i)
        out.push_back(source.next());
    return out;
}

}  // namespace

using Strings = std::vector<std::string>;

TEST(ValueSourceTest, ListIsSentInTurnInCanonicalFormAndStartsOver) {
    auto source = ValueSource::list({"+5", "012.30", "-0.5", "0.05", "-.5"});
    EXPECT_EQ(source.passLength(), 5u);
    EXPECT_EQ(take(source, 7), (Strings{"5", "12.30", "-0.5", "0.05", "-0.5", "5", "12.30"}));
    EXPECT_THROW(ValueSource::list({"1", "x"}), std::invalid_argument);
    EXPECT_THROW(ValueSource::list({}), std::invalid_argument);
}

struct RampCase {
    const char* from;
    const char* to;
    const char* step;
    Strings pass;
};

class RampTest : public ::testing::TestWithParam<RampCase> {};

TEST_P(RampTest, OnePassThenAgain) {
    const auto& c = GetParam();
    auto source = ValueSource::ramp(c.from, c.to, c.step);
    EXPECT_EQ(source.passLength(), c.pass.size());
    EXPECT_EQ(take(source, c.pass.size()), c.pass);
    EXPECT_EQ(source.next(), c.pass.front());
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, RampTest,
    ::testing::Values(RampCase{"1", "3", "1", {"1", "2", "3"}},
                      RampCase{"0", "1", "0.25", {"0.00", "0.25", "0.50", "0.75", "1.00"}},
                      RampCase{"3", "1", "1", {"3", "2", "1"}},
                      RampCase{"1", "2", "-0.5", {"1.0", "1.5", "2.0"}},
                      RampCase{"0", "1", "0.3", {"0.0", "0.3", "0.6", "0.9"}},
                      RampCase{"-0.02", "0.02", "0.01", {"-0.02", "-0.01", "0.00", "0.01", "0.02"}},
                      RampCase{"7", "7", "1", {"7"}},
                      // Ends further apart than std::int64_t holds (found by fuzzing zorvik-sim's values).
                      RampCase{"-9000000000000000000",
                               "9000000000000000000",
                               "9000000000000000000",
                               {"-9000000000000000000", "0", "9000000000000000000"}},
                      RampCase{"9000000000000000000",
                               "-9000000000000000000",
                               "6000000000000000000",
                               {"9000000000000000000", "3000000000000000000", "-3000000000000000000",
                                "-9000000000000000000"}}));

TEST(ValueSourceTest, RampsThatCannotBeMadeAreRefused) {
    EXPECT_THROW(ValueSource::ramp("1", "2", "0"), std::invalid_argument);
    EXPECT_THROW(ValueSource::ramp("1", "2", "0.000"), std::invalid_argument);
    EXPECT_THROW(ValueSource::ramp("0", "1000000", "0.5"), std::invalid_argument);
    EXPECT_THROW(ValueSource::ramp("a", "2", "1"), std::invalid_argument);
    EXPECT_THROW(ValueSource::ramp("1", "2", "0.0000000001"), std::invalid_argument);
}

TEST(ValueSourceTest, RandomWalkMovesByOneStepAtMostAndStaysInItsBounds) {
    auto source = ValueSource::randomWalk("10", "9", "0.25", 42);
    EXPECT_EQ(source.passLength(), 0u);
    auto previous = Decimal::parse(source.next()).rescaled(2);
    EXPECT_EQ(previous.toString(), "10.00");
    bool reachedLow = false;
    for (int i = 0; i < 2000; ++i) {
        const auto value = Decimal::parse(source.next()).rescaled(2);
        ASSERT_GE(value.unscaled, 900);
        ASSERT_LE(value.unscaled, 1000);
        const auto moved = value.unscaled - previous.unscaled;
        ASSERT_TRUE(moved == 0 || moved == 25 || moved == -25) << value.toString();
        reachedLow = reachedLow || value.unscaled == 900;
        previous = value;
    }
    EXPECT_TRUE(reachedLow);
    auto again = ValueSource::randomWalk("10", "9", "0.25", 42);
    auto other = ValueSource::randomWalk("10", "9", "0.25", 42);
    EXPECT_EQ(take(again, 50), take(other, 50));
}

// A step as large as the readings themselves must not carry the walk past the limits of the type.
TEST(ValueSourceTest, RandomWalkNearTheLimitsStaysInItsBounds) {
    struct Case {
        const char* from;
        const char* to;
        const char* step;
    };
    const Case cases[] = {
        {"9000000000000000000", "8000000000000000000", "9000000000000000000"},
        {"-9000000000000000000", "-8000000000000000000", "9000000000000000000"},
        {"-9000000000000000000", "9000000000000000000", "9000000000000000000"},
    };
    for (const auto& c : cases) {
        auto source = ValueSource::randomWalk(c.from, c.to, c.step, 7);
        const auto a = Decimal::parse(c.from).unscaled, b = Decimal::parse(c.to).unscaled;
        for (int i = 0; i < 200; ++i) {
            const auto value = Decimal::parse(source.next()).unscaled;
            ASSERT_GE(value, std::min(a, b)) << c.from << " " << c.to;
            ASSERT_LE(value, std::max(a, b)) << c.from << " " << c.to;
        }
    }
}

TEST(DecimalTest, TextRoundTrip) {
    for (const auto& [text, canonical] :
         std::vector<std::pair<const char*, const char*>>{{"0", "0"},
                                                          {"-0", "0"},
                                                          {"0.001", "0.001"},
                                                          {"-12.340", "-12.340"},
                                                          {"+7.", "7"},
                                                          {".5", "0.5"}}) {
        EXPECT_EQ(Decimal::parse(text).toString(), canonical) << text;
    }
    EXPECT_THROW(Decimal::parse("99999999999999999999"), std::invalid_argument);
    EXPECT_THROW(Decimal::parse("+"), std::invalid_argument);
}
