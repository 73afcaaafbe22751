#include <gtest/gtest.h>

#include <climits>

#include "prefs/Preferences.h"
#include "support/PrefsTestSupport.h"

namespace rszorvik::prefs {
namespace {

class PreferencesTest : public test::StoreTest {};

TEST_F(PreferencesTest, PathsResolveRelativeAndAbsoluteAndMalformedOnesAreRefused) {
    auto root = Preferences::userRoot();
    auto settings = root->node("/com/vexlune/zorvik");
    EXPECT_EQ(settings->absolutePath(), "/com/vexlune/zorvik");
    EXPECT_EQ(root->node("com")->node("vexlune/zorvik"), settings);
    EXPECT_EQ(settings->node(""), settings);
    EXPECT_EQ(settings->node("/"), root);
    EXPECT_EQ(settings->parent(), root->node("/com/vexlune"));
    EXPECT_EQ(root->parent(), nullptr);
    const std::string tooLong(Preferences::MAX_NAME_LENGTH + 1, 'n');
    for (const std::string& path : std::vector<std::string>{"a/", "a//b", "//a", "/a/" + tooLong, "bad\xFF"})
        EXPECT_THROW(root->node(path), std::invalid_argument) << path;
}

TEST_F(PreferencesTest, TypedGettersFallBackToTheDefaultOnTextThatDoesNotParse) {
    auto n = node("/t");
    struct Case {
        std::string stored;
        int asInt;    // default 42
        bool asBool;  // default true
    };
    const Case cases[] = {
        {"-12", -12, true},       {"+5", 5, true},      {"2147483647", INT_MAX, true},
        {"2147483648", 42, true}, {" 7", 42, true},     {"7.0", 42, true},
        {"", 42, true},           {"0x10", 42, true},   {"FALSE", 42, false},
        {"no", 42, true},         {"falsey", 42, true},
    };
    for (const auto& c : cases) {
        n->put("k", c.stored);
        EXPECT_EQ(n->getInt("k", 42), c.asInt) << '"' << c.stored << '"';
        EXPECT_EQ(n->getBoolean("k", true), c.asBool) << '"' << c.stored << '"';
    }
    n->putInt("i", -3);
    n->putBoolean("b", false);
    EXPECT_EQ(n->get("i", ""), "-3");
    EXPECT_EQ(n->get("b", ""), "false");
}

TEST_F(PreferencesTest, KeysAndValuesTheStoreCannotHoldAreRefused) {
    auto n = node("/t");
    const std::pair<std::string, std::string> refused[] = {
        {std::string(Preferences::MAX_KEY_LENGTH + 1, 'k'), "v"},
        {"k", std::string(Preferences::MAX_VALUE_LENGTH + 1, 'v')},
        {"k", std::string("v\0v", 3)},
        {"k", "\xC3"},
        {"k", "\xED\xA0\x80"},  // a surrogate
    };
    for (const auto& [key, value] : refused)
        EXPECT_THROW(n->put(key, value), std::invalid_argument) << key;
    EXPECT_EQ(n->keys(), std::vector<std::string>{});
    // Limits count characters, not bytes.
    std::string wide;
    for (std::size_t i = 0; i < Preferences::MAX_KEY_LENGTH; ++i)
        wide += "\xC3\xA4";
    EXPECT_NO_THROW(n->put(wide, "v"));
}

}  // namespace
}  // namespace rszorvik::prefs
