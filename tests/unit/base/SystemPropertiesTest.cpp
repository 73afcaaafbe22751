#include <gtest/gtest.h>

#include <cstdlib>

#include "base/SystemProperties.h"
#include "support/Environment.h"

using rszorvik::base::SystemProperties;

TEST(SystemPropertiesTest, SeededFromEnvironmentUntilSetOrCleared) {
    rszorvik::test::setEnvironment("ZORVIK_TEST_PROP", "from-env");
    EXPECT_EQ(SystemProperties::get("ZORVIK_TEST_PROP"), "from-env");
    SystemProperties::set("ZORVIK_TEST_PROP", "set");
    EXPECT_EQ(SystemProperties::get("ZORVIK_TEST_PROP"), "set");
    SystemProperties::clear("ZORVIK_TEST_PROP");
    EXPECT_EQ(SystemProperties::get("ZORVIK_TEST_PROP"), std::nullopt);
    EXPECT_EQ(SystemProperties::get("ZORVIK_TEST_PROP", "fallback"), "fallback");
    rszorvik::test::unsetEnvironment("ZORVIK_TEST_PROP");
}
