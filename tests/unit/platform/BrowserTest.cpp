#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/Browser.h"

namespace rszorvik::platform {
namespace {

TEST(Browser, OnlyHttpsAndMailtoAddressesAreHandedToTheDesktop) {
    struct Case {
        std::string address;
        bool browsable;
    };
    const Case cases[] = {
        {"https://www.vexlune.example/zorvik", true},
        {"HTTPS://WWW.VEXLUNE.EXAMPLE/", true},
        {"mailto:support@vexlune.example", true},
        {"http://www.vexlune.example/", false},
        {"file:///etc/passwd", false},
        {"C:\\Windows\\System32\\cmd.exe", false},
        {"javascript:alert(1)", false},
        {"https://", false},
        {"", false},
        {"https://a.example/\n--option", false},
        {" https://a.example/", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isBrowsableAddress(c.address), c.browsable) << c.address;
        if (!c.browsable) {
            EXPECT_THROW(openInBrowser(c.address), std::invalid_argument) << c.address;
        }
    }
}

}  // namespace
}  // namespace rszorvik::platform
