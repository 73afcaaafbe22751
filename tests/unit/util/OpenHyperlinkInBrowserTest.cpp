#include <gtest/gtest.h>

#include <string>

#include "util/OpenHyperlinkInBrowser.h"

using rszorvik::util::OpenHyperlinkInBrowser;

namespace {

using L = OpenHyperlinkInBrowser;

std::string anchor(const std::string& address, const std::string& caption) {
    return std::string(L::A_HREF) + address + std::string(L::HREF_CLOSED) + caption +
           std::string(L::HREF_END);
}
std::string html(const std::string& body) {
    return std::string(L::HTML) + body + std::string(L::HTML_END);
}

struct LinkCase {
    const char* what;
    std::string text;
    bool contains;
    std::string plainLink;
};

class LinkTextTest : public testing::TestWithParam<LinkCase> {};

TEST_P(LinkTextTest, FindsTheLinkAndItsAddress) {
    const LinkCase& c = GetParam();
    EXPECT_EQ(L::containsHyperlink(c.text), c.contains) << c.what;
    EXPECT_EQ(L::getPlainLink(c.text), c.plainLink) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LinkTextTest,
    testing::Values(LinkCase{"anchor in html", html(anchor("x", "y")), true, "x"},
                    LinkCase{"anchor without html markers", anchor("x", "y"), false, anchor("x", "y")},
                    LinkCase{"caption before the anchor", html("See " + anchor("abc", "abc")), true, "abc"},
                    LinkCase{"first of two anchors", html(anchor("a1", "one") + anchor("a2", "two")), true,
                             "a1"},
                    LinkCase{"markers in any order", "\">x</html><a href=\"y<html>", true, ""},
                    LinkCase{"markers overlap: no address", html("<a href=\">x</a>"), true, ""},
                    LinkCase{"empty address", html(anchor("", "")), true, ""},
                    LinkCase{"address with blanks and query", html(anchor("https://h/a b?x=1&y=2", "h")),
                             true, "https://h/a b?x=1&y=2"},
                    LinkCase{"plain text", "https://example.com", false, "https://example.com"},
                    LinkCase{"empty text", "", false, ""}));

struct WrapCase {
    const char* what;
    std::string (*function)(std::string_view);
    std::string input;
    std::string expected;
};

class WrapTest : public testing::TestWithParam<WrapCase> {};

TEST_P(WrapTest, BuildsTheMarkup) {
    const WrapCase& c = GetParam();
    EXPECT_EQ(c.function(c.input), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Markup, WrapTest,
    testing::Values(
        WrapCase{"htmlIfy of nothing", &L::htmlIfy, "", "<html></html>"},
        WrapCase{"htmlIfy wraps again", &L::htmlIfy, "<html>a</html>", "<html><html>a</html></html>"},
        WrapCase{"linkIfy", &L::linkIfy, "u", "<a href=\"u\">u</a>"},
        WrapCase{"linkable plain text", &L::linkableText, "u", "<html><a href=\"u\">u</a></html>"},
        WrapCase{"linkable text with a link stays", &L::linkableText,
                 "<html>See <a href=\"u\">here</a></html>", "<html>See <a href=\"u\">here</a></html>"},
        WrapCase{"linkable empty text", &L::linkableText, "", "<html><a href=\"\"></a></html>"}));

}  // namespace
