#include <gtest/gtest.h>

#include <string>

#include "util/ReadRemoteUpdate.h"

using rszorvik::util::ReadRemoteUpdate;

namespace {

struct VersionCase {
    const char* remote;
    const char* current;
    bool newer;
};

class CompareVersionsTest : public testing::TestWithParam<VersionCase> {};

TEST_P(CompareVersionsTest, TellsWhetherRemoteIsNewer) {
    const VersionCase& c = GetParam();
    EXPECT_EQ(ReadRemoteUpdate::compareVersions(c.remote, c.current), c.newer)
        << "remote " << c.remote << ", current " << c.current;
}

INSTANTIATE_TEST_SUITE_P(
    Versions, CompareVersionsTest,
    testing::Values(
        // against the running version
        VersionCase{"2020.2.0.0", "2020.1.0.0", true}, VersionCase{"2021.0.0.0", "2020.1.0.0", true},
        VersionCase{"2020.1.0.0", "2020.1.0.0", false}, VersionCase{"2019.9.9.9", "2020.1.0.0", false},
        VersionCase{"2020", "2020.1.0.0", false},      // a plain number against a dotted version: unreadable
        VersionCase{"2020.1.1", "2020.1.0.0", false},  // equal in two fields, then no third dot
        VersionCase{"2020.2.1", "2020.1.0.0", true},   // decided at the second field
        VersionCase{"2020.1.0.1", "2020.1.0.0", true}, VersionCase{"2020.1.0.0", "2020.1.0.1", false},
        VersionCase{"2020.1.1.0", "2020.1.0.9", true},
        // fields are numbers, not text
        VersionCase{"2020.10.0.0", "2020.9.0.0", true}, VersionCase{"2020.9.0.0", "2020.10.0.0", false},
        // at most one dot: decimal numbers
        VersionCase{"1.5", "1.25", true}, VersionCase{"1.25", "1.5", false}, VersionCase{"2", "1.9", true},
        VersionCase{"1.5", "1.5.0", false},
        // a dotted remote against a plain current
        VersionCase{"1.0.0", "2", true},
        // absent, blank or unreadable
        VersionCase{"", "2020.1.0.0", false}, VersionCase{"2020.2.0.0", "", false},
        VersionCase{"    2020.2.0.0", "2020.1.0.0", false},  // blanks before a field
        VersionCase{"2020.x.0.0", "2020.1.0.0", false}, VersionCase{"2020.1.0.0b", "2020.1.0.0", false},
        VersionCase{"2020.1.0.99999999999", "2020.1.0.0", false},  // beyond a 32-bit field
        VersionCase{"nan", "1", false}, VersionCase{"inf", "1", false},
        VersionCase{" 1.5 ", "1.25", true},  // a lone number may carry blanks
        VersionCase{"+2.0.0.0", "1.0.0.0", true}));

struct FindCase {
    const char* what;
    const char* content;
    const char* language;
    const char* found;
};

class FindXmlTest : public testing::TestWithParam<FindCase> {};

TEST_P(FindXmlTest, TakesTheTextBetweenTheMarkers) {
    const FindCase& c = GetParam();
    EXPECT_EQ(ReadRemoteUpdate::findXML(c.content, ReadRemoteUpdate::VERSION_TAG, c.language), c.found)
        << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Elements, FindXmlTest,
    testing::Values(
        FindCase{"the user's language",
                 "<v><version2_de>2020.2.0.0</version2_de><version2_en>2020.1.0.0</version2_en></v>", "en",
                 "2020.1.0.0"},
        FindCase{"another language only", "<version2_de>2020.2.0.0</version2_de>", "en", ""},
        FindCase{"no language: the plain element", "<version2>3.0</version2><version2_en>1</version2_en>", "",
                 "3.0"},
        FindCase{"the plain element is not a language's", "<version2>3.0</version2>", "en", ""},
        FindCase{"blanks kept", "<version2_en>    2020.2.0.0</version2_en>", "en", "    2020.2.0.0"},
        FindCase{"first opening, first closing", "<version2_en>1</version2_en><version2_en>2</version2_en>",
                 "en", "1"},
        FindCase{"closing before opening", "</version2_en><version2_en>1", "en", ""},
        FindCase{"no closing", "<version2_en>1", "en", ""},
        FindCase{"empty element", "<version2_en></version2_en>", "en", ""},
        FindCase{"no entity decoding", "<version2_en>1&amp;2</version2_en>", "en", "1&amp;2"}));

TEST(JoinLinesTest, DropsEveryLineSeparator) {
    EXPECT_EQ(ReadRemoteUpdate::joinLines("<a>\r\n  1\n</a>\r<b>"), "<a>  1</a><b>");
    EXPECT_EQ(ReadRemoteUpdate::joinLines("\n\n"), "");
}

}  // namespace
