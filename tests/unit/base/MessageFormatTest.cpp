#include <gtest/gtest.h>

#include <string>

#include "base/MessageFormat.h"

namespace rszorvik::base {
namespace {

struct Case {
    const char* pattern;
    const char* expected;  // filled with the arguments "COM4", "9600", "8"
};

const Case kCases[] = {
    // in order
    {"Port %s opened: %s bit/s, %s data bits", "Port COM4 opened: 9600 bit/s, 8 data bits"},
    {"%d bytes", "COM4 bytes"},
    {"%s%s%s", "COM496008"},
    // explicit positions, which leave the order of the plain ones alone
    {"%2$s baud on %1$s", "9600 baud on COM4"},
    {"%3$d/%3$s", "8/8"},
    {"%2$s %s %s", "9600 COM4 9600"},
    // numbered braces count from 0
    {"Testing port {0}", "Testing port COM4"},
    {"{0}: {0} at {1}", "COM4: COM4 at 9600"},
    {"{2}{1}{0}", "89600COM4"},
    // percent signs
    {"100%% sure", "100% sure"},
    {"%%s is %s", "%s is COM4"},
    {"50 %", "50 %"},
    {"%x %", "%x %"},
    // apostrophes are plain text
    {"Port '{0}' isn't %s", "Port 'COM4' isn't COM4"},
    {"''{0}''", "''COM4''"},
    // missing arguments keep their placeholder
    {"%s %s %s %s", "COM4 9600 8 %s"},
    {"{3} and %4$s", "{3} and %4$s"},
    // what only looks like a placeholder
    {"%0$s", "%0$s"},
    {"%1$x", "%1$x"},
    {"%1$", "%1$"},
    {"{-1} {} {1 } {x} {1", "{-1} {} {1 } {x} {1"},
    {"{99999999999999999999}", "{99999999999999999999}"},
    {"", ""},
    // multi-byte text around placeholders is copied byte for byte
    {"Port %s ge\u00f6ffnet \u2013 {1}", "Port COM4 ge\u00f6ffnet \u2013 9600"},
};

TEST(MessageFormatTest, FillsPlaceholders) {
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(formatMessage(c.pattern, {"COM4", "9600", "8"}), c.expected);
    }
}

TEST(MessageFormatTest, ArgumentsAreNotReadAsPatterns) {
    EXPECT_EQ(formatMessage("%s and {1}", {"{1} %s", "%%"}), "{1} %s and %%");
    EXPECT_EQ(formatMessage("[%s]", {""}), "[]");
    EXPECT_EQ(formatMessage("{0} %s", {}), "{0} %s");
}

}  // namespace
}  // namespace rszorvik::base
