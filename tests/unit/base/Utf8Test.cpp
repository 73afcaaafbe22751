#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "base/Utf8.h"

namespace rszorvik::base::utf8 {
namespace {

struct Case {
    const char* bytes;
    std::optional<char32_t> strict;  // none: decode refuses and leaves the index alone
    std::size_t length;              // bytes a well-formed sequence takes
};

// Where decode refuses, next takes the lead byte as the code point of its own value and moves one byte.
const Case kCases[] = {
    {"A", U'A', 1},
    {"\xc3\xa9", 0xE9, 2},
    {"\xe2\x82\xac", 0x20AC, 3},
    {"\xed\x9f\xbf", 0xD7FF, 3},
    {"\xf0\x9f\x98\x80", 0x1F600, 4},
    {"\xf4\x8f\xbf\xbf", 0x10FFFF, 4},
    {"\xc0\x80", std::nullopt, 0},          // overlong NUL
    {"\xc1\xbf", std::nullopt, 0},          // overlong two-byte form
    {"\xe0\x9f\xbf", std::nullopt, 0},      // overlong three-byte form
    {"\xf0\x8f\xbf\xbf", std::nullopt, 0},  // overlong four-byte form
    {"\xed\xa0\x80", std::nullopt, 0},      // encoded surrogate
    {"\xed\xbf\xbf", std::nullopt, 0},      // encoded surrogate
    {"\xf4\x90\x80\x80", std::nullopt, 0},  // above U+10FFFF
    {"\xf5\x80\x80\x80", std::nullopt, 0},  // lead byte of nothing
    {"\xff", std::nullopt, 0},
    {"\x80", std::nullopt, 0},      // continuation byte without a lead
    {"\xc3", std::nullopt, 0},      // truncated
    {"\xe2\x82", std::nullopt, 0},  // truncated
    {"\xc3"
     "A",
     std::nullopt, 0},  // lead byte followed by no continuation
};

TEST(Utf8Test, StrictAndLenientReadingsOfEdgeInputs) {
    for (const Case& c : kCases) {
        const std::string text = std::string("x") + c.bytes;
        SCOPED_TRACE(testing::PrintToString(text));
        std::size_t i = 1;
        EXPECT_EQ(decode(text, i), c.strict);
        EXPECT_EQ(i, 1 + c.length);
        EXPECT_EQ(isValid(text), c.strict.has_value() && c.length + 1 == text.size());

        i = 1;
        const char32_t lenient = next(text, i);
        if (c.strict) {
            EXPECT_EQ(lenient, *c.strict);
            EXPECT_EQ(i, 1 + c.length);
        } else {
            EXPECT_EQ(lenient, static_cast<unsigned char>(c.bytes[0]));
            EXPECT_EQ(i, 2u);
        }
    }
}

TEST(Utf8Test, CountsAndOffsetsInCodePoints) {
    const struct {
        std::string text;
        std::size_t length;
        std::size_t leadBytes;
    } cases[] = {
        {"", 0, 0},
        {"a\xc3\xa9\xf0\x9f\x98\x80", 3, 3},
        {"\x80\x80", 2, 0},      // stray continuation bytes are characters to `length` only
        {"\xed\xa0\x80", 3, 1},  // so is each byte of an encoded surrogate
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(length(c.text), c.length);
        EXPECT_EQ(countLeadBytes(c.text), c.leadBytes);
    }
    EXPECT_EQ(offsetOf("a\xc3\xa9z", 2), 3u);
    EXPECT_EQ(offsetOf("a\xc3\xa9z", 9), 4u);
    EXPECT_EQ(offsetOf("\xed\xa0\x80z", 1), 1u);
}

TEST(Utf8Test, AppendAndLatin1RoundTrip) {
    for (const char32_t cp : {0x00u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
        std::string text;
        append(text, cp);
        std::size_t i = 0;
        EXPECT_EQ(decode(text, i), cp);
        EXPECT_EQ(i, text.size());
    }
    EXPECT_EQ(fromLatin1("A\xe9\xff"), "A\xc3\xa9\xc3\xbf");
}

TEST(Utf8Test, APrefixOfBytesNeverEndsInsideACharacter) {
    const std::string cjk = "\xE4\xB8\xAD\xE6\x96\x87";  // two characters of three bytes
    struct Case {
        std::string text;
        std::size_t maxBytes;
        std::string expected;
    };
    const Case cases[] = {
        {cjk, 6, cjk},
        {cjk, 5, cjk.substr(0, 3)},
        {cjk, 4, cjk.substr(0, 3)},
        {cjk, 3, cjk.substr(0, 3)},
        {cjk, 2, ""},
        {"ab\xF0\x9F\x98\x80", 5, "ab"},
        {"abc", 2, "ab"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(prefixOfBytes(c.text, c.maxBytes), c.expected) << c.maxBytes;
}

// The wide strings of the Windows API: surrogate pairs joined and split, a lone surrogate or a byte that
// starts nothing replaced (never dropped), and a wide string read up to its terminator.
TEST(Utf8Test, Utf16BothWays) {
    struct Case {
        std::u16string wide;
        std::string utf8;
        bool roundTrip;
    };
    const Case cases[] = {
        {u"COM3", "COM3", true},
        {u"M\u00fcller \u20ac", "M\xc3\xbcller \xe2\x82\xac", true},
        {u"\U0001F50C", "\xf0\x9f\x94\x8c", true},
        {std::u16string(u"\xD83D"
                        u"x",
                        2),
         "\xef\xbf\xbdx", false},                               // high surrogate without its pair
        {std::u16string(1, u'\xDC00'), "\xef\xbf\xbd", false},  // low surrogate alone
        {std::u16string(u"ab\0cd", 5), "ab", false},            // ends at the terminator
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(fromUtf16(c.wide), c.utf8);
        if (c.roundTrip) {
            EXPECT_EQ(toUtf16(c.utf8), c.wide);
        }
    }
    EXPECT_EQ(toUtf16("a\xff\xc3"), u"a\uFFFD\uFFFD");
}

}  // namespace
}  // namespace rszorvik::base::utf8
