#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <string_view>

#include "base/Properties.h"

using rszorvik::base::Properties;

namespace {

struct LoadCase {
    std::string_view file;
    Properties::Map expected;
};

// Each file and the table java.util.Properties.load(InputStream) made of it.
const LoadCase kLoadCases[] = {
    {"key value", {{"key", "value"}}},
    {"key:value", {{"key", "value"}}},
    {"key = value", {{"key", "value"}}},
    {"key\tvalue", {{"key", "value"}}},
    {"key=:value", {{"key", ":value"}}},
    {"key  :=x", {{"key", "=x"}}},
    {"key", {{"key", ""}}},
    {"   indented = v   ", {{"indented", "v   "}}},
    {"# comment\n! bang\n   # indented comment\nk=v", {{"k", "v"}}},
    {"#comment ends with backslash\\\nk=v", {{"k", "v"}}},
    {"k=a\\\n   b\\\n\tc", {{"k", "abc"}}},
    {"k=a\\\r\n  b\r\nnext=1\r\n", {{"k", "ab"}, {"next", "1"}}},
    {"a=1\rb=2\r", {{"a", "1"}, {"b", "2"}}},
    {"a=1\n\n   \n\t\nb=2", {{"a", "1"}, {"b", "2"}}},
    {"k=a\\\\\nb=2", {{"b", "2"}, {"k", "a\\"}}},
    {"k=a\\\\\\\n b\n", {{"k", "a\\b"}}},
    {"k=\\t\\n\\r\\f\\\\\\q\\u00e9\\u20AC\\uD83D\\uDE00\\\"",
     {{"k", "\t\n\r\014\\q\303\251\342\202\254\360\237\230\200\""}}},
    {"a\\=b\\:c\\ d=v", {{"a=b:c d", "v"}}},
    {"k=\351\260\377", {{"k", "\303\251\302\260\303\277"}}},
    {"k=a\\\n\nb=2", {{"b", "2"}, {"k", "a"}}},
    {"k=a\\\\", {{"k", "a\\"}}},
    {"k=1\nk=2", {{"k", "2"}}},
    {"\\\n#x=1", {}},
    {"key\\\n  = value", {{"key", "value"}}},
    {"\\u0041=\\u0062", {{"A", "b"}}},
    {"k=  \\  two", {{"k", "  two"}}},
    {"=v", {{"", "v"}}},
    {" =x", {{"", "x"}}},
    {"k=v\\\r", {{"k", "v"}}},
    {"k=a\\\r\r\nb=2", {{"b", "2"}, {"k", "a"}}},
    {"#no newline at end", {}},
    {"k=a\\\n# not a comment", {{"k", "a# not a comment"}}},
};

TEST(PropertiesTest, LoadsLikeJava) {
    for (const auto& c : kLoadCases) {
        SCOPED_TRACE(std::string(c.file));
        EXPECT_EQ(Properties::parse(c.file).entries(), c.expected);
    }
}

TEST(PropertiesTest, RejectsBadEscapesAndLeavesTableUnchanged) {
    const std::string_view bad[] = {"k=\\u00", "k=\\u12G4", "\\u00=x", "k=\\uD83D", "k=\\uDE00\\uD83D"};
    for (auto file : bad) {
        SCOPED_TRACE(std::string(file));
        Properties p;
        p.set("kept", "1");
        std::string text = "first=1\n" + std::string(file);
        EXPECT_THROW(p.load(text), std::invalid_argument);
        EXPECT_EQ(p.entries(), (Properties::Map{{"kept", "1"}}));
    }
    try {
        Properties::parse("k=\\u12");
        FAIL() << "no error";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Malformed \\uxxxx encoding.");
    }
}

Properties javaEntries() {
    Properties p;
    const std::pair<const char*, const char*> entries[] = {
        {"plain", "value"},
        {"a=b", "x=y"},
        {"key with spaces", "  two leading blanks"},
        {"colon:key", "x:y"},
        {"hash#bang!", "#start !bang"},
        {"!lead", "#lead"},
        {"backslash", "C:\\temp\\new\\"},
        {"empty", ""},
        {"", "empty key"},
        {"latin1", "\u00e9\u00b0\u00fc\u00ff"},
        {"euro", "5 \u20ac"},
        {"emoji", "\U0001F600"},
        {"controls", "tab\there\nnl\rcr\ff\001\177"},
        {"trailing", "trail  "},
        {"\u00e9t\u00e9", "summer"},
        {" lead key", " "},
        {"tilde~", "a~b{}|"},
    };
    for (const auto& [key, value] : entries)
        p.set(key, value);
    return p;
}

// What java.util.Properties.store(OutputStream, comments) wrote for javaEntries(), sorted by key.
constexpr std::string_view kJavaStored =
    "#Zorvik settings\n#second line\n#already\n!bang\n#end \\u20AC caf\351\n#Mon Jan 01 00:00:00 CET 2024\n"
    "=empty key\n\\ lead\\ key=\\ \n\\!lead=\\#lead\na\\=b=x\\=y\n"
    "backslash=C\\:\\\\temp\\\\new\\\\\ncolon\\:key=x\\:y\n"
    "controls=tab\\there\\nnl\\rcr\\ff\\u0001\\u007F\nemoji=\\uD83D\\uDE00\nempty=\neuro=5 \\u20AC\n"
    "hash\\#bang\\!=\\#start \\!bang\nkey\\ with\\ spaces=\\  two leading blanks\n"
    "latin1=\\u00E9\\u00B0\\u00FC\\u00FF\nplain=value\ntilde~=a~b{}|\ntrailing=trail  \n"
    "\\u00E9t\\u00E9=summer\n";

TEST(PropertiesTest, StoresByteForByteLikeJava) {
    EXPECT_EQ(javaEntries().store("Zorvik settings\nsecond line\n#already\r\n!bang\rend \u20ac caf\u00e9",
                                  "Mon Jan 01 00:00:00 CET 2024"),
              kJavaStored);
}

TEST(PropertiesTest, ReadsBackWhatJavaStored) {
    EXPECT_EQ(Properties::parse(kJavaStored), javaEntries());
}

TEST(PropertiesTest, RoundTripsAwkwardValues) {
    const char* values[] = {"a=b",    "a:b",        "#x",       "!x",     " x",          "   x  ",
                            "\\",     "x\\",        "\\u0041",  "",       " ",           "\u00e9 \u00b0",
                            "\u20ac", "\U0001F600", "\t\r\n\f", "a\\\nb", "\u007f\u0080"};
    Properties p;
    for (const char* value : values) {
        p.set(value, value);
        p.set(std::string("k") + value, value);
    }
    const std::string bytes = p.store("header", "date");
    for (unsigned char c : bytes)
        EXPECT_LT(c, 0x80) << "entries are written as ASCII";
    EXPECT_EQ(Properties::parse(bytes), p);
}

TEST(PropertiesTest, WritesCommentsLikeJava) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", "#\n"},
        {"a\n", "#a\n#\n"},
        {"one\rtwo", "#one\n#two\n"},
        {"one\r\ntwo", "#one\n#two\n"},
        {"x\n\ny", "#x\n#\n#y\n"},
        {"#a\n#b", "##a\n#b\n"},
        {"a\n!b\n#c", "#a\n!b\n#c\n"},
        {"tab\tand \u00e9 \u00ff \u0100 \U0001F600", "#tab\tand \351 \377 \\u0100 \\uD83D\\uDE00\n"},
        {"\n", "#\n#\n"},
    };
    for (const auto& [comment, written] : cases) {
        SCOPED_TRACE(std::string(comment));
        EXPECT_EQ(Properties().store(comment), written);
        EXPECT_TRUE(Properties::parse(written).empty());
    }
    EXPECT_EQ(Properties().store(), "");
}

TEST(PropertiesTest, Utf8FilesForCatalogues) {
    EXPECT_EQ(Properties::parse("k=Gr\303\266\303\237e \\u20AC", Properties::Charset::Utf8).get("k"),
              "Gr\u00f6\u00dfe \u20ac");
    EXPECT_THROW(Properties::parse("k=\366", Properties::Charset::Utf8), std::invalid_argument);
    // The same byte in an ISO 8859-1 file is a character.
    EXPECT_EQ(Properties::parse("k=\366").get("k"), "\u00f6");
}

TEST(PropertiesTest, SetAcceptsOnlyUtf8) {
    const std::string_view bad[] = {"\xff",     "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80",
                                    "a\xe2\x82"};
    for (auto text : bad) {
        SCOPED_TRACE(::testing::PrintToString(std::string(text)));
        Properties p;
        EXPECT_THROW(p.set(text, "v"), std::invalid_argument);
        EXPECT_THROW(p.set("k", text), std::invalid_argument);
        EXPECT_TRUE(p.empty());
        EXPECT_THROW(p.store(text), std::invalid_argument);
    }
}

TEST(PropertiesTest, TableOperations) {
    Properties p = Properties::parse("b=2\na=1\nc=3");
    EXPECT_EQ(p.keys(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(p.contains("b"));
    EXPECT_TRUE(p.remove("b"));
    EXPECT_FALSE(p.remove("b"));
    EXPECT_FALSE(p.contains("b"));
    EXPECT_EQ(p.get("b"), std::nullopt);
    EXPECT_EQ(p.get("b", "fallback"), "fallback");
    EXPECT_EQ(p.get("a", "fallback"), "1");
    p.load("a=changed\nd=4");
    EXPECT_EQ(p.entries(), (Properties::Map{{"a", "changed"}, {"c", "3"}, {"d", "4"}}));
    EXPECT_EQ(p.store(), "a=changed\nc=3\nd=4\n");
}

}  // namespace
