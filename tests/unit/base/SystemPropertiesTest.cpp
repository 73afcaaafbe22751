#include <gtest/gtest.h>

#include <cstdlib>

#include "base/SystemProperties.h"

using rszorvik::base::SystemProperties;

TEST(SystemPropertiesTest, SeededFromEnvironmentUntilSetOrCleared) {
    ::setenv("ZORVIK_TEST_PROP", "from-env", 1);
    EXPECT_EQ(SystemProperties::get("ZORVIK_TEST_PROP"), "from-env");
    SystemProperties::set("ZORVIK_TEST_PROP", "set");
    EXPECT_EQ(SystemProperties::get("ZORVIK_TEST_PROP"), "set");
    SystemProperties::clear("ZORVIK_TEST_PROP");
    EXPECT_EQ(SystemProperties::get("ZORVIK_TEST_PROP"), std::nullopt);
    EXPECT_EQ(SystemProperties::get("ZORVIK_TEST_PROP", "fallback"), "fallback");
    ::unsetenv("ZORVIK_TEST_PROP");
}
