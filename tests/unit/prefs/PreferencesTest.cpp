#include <gtest/gtest.h>

#include <climits>

#include "prefs/Preferences.h"
#include "unit/prefs/PrefsTestSupport.h"

namespace rszorvik::prefs {
namespace {

using test::entryLines;
using test::readFile;

class PreferencesTest : public test::StoreTest {};

TEST_F(PreferencesTest, PathsResolveRelativeAndAbsolute) {
    auto root = Preferences::userRoot();
    auto settings = root->node("/com/vexlune/zorvik");
    EXPECT_EQ(settings->absolutePath(), "/com/vexlune/zorvik");
    EXPECT_EQ(settings->name(), "zorvik");
    EXPECT_EQ(root->absolutePath(), "/");
    EXPECT_EQ(root->name(), "");
    EXPECT_EQ(root->node("com/vexlune/zorvik"), settings);
    EXPECT_EQ(root->node("com")->node("vexlune/zorvik"), settings);
    EXPECT_EQ(settings->node(""), settings);
    EXPECT_EQ(settings->node("/"), root);
    EXPECT_EQ(settings->node("/com"), root->node("com"));
    EXPECT_EQ(settings->parent(), root->node("/com/vexlune"));
    EXPECT_EQ(root->parent(), nullptr);
    EXPECT_EQ(settings->node("sub")->absolutePath(), "/com/vexlune/zorvik/sub");
}

TEST_F(PreferencesTest, MalformedPathsAreRefused) {
    auto root = Preferences::userRoot();
    const std::string tooLong(Preferences::MAX_NAME_LENGTH + 1, 'n');
    for (const std::string& path :
         std::vector<std::string>{"a/", "/a/", "a//b", "//a", "/a/" + tooLong, "bad\xFF"})
        EXPECT_THROW(root->node(path), std::invalid_argument) << path;
    EXPECT_NO_THROW(root->node(std::string(Preferences::MAX_NAME_LENGTH, 'n')));
}

TEST_F(PreferencesTest, TypedGettersFallBackToTheDefaultOnTextThatDoesNotParse) {
    auto n = node("/t");
    struct Case {
        std::string stored;
        int asInt;    // default 42
        bool asBool;  // default true
    };
    const Case cases[] = {
        {"7", 7, true},
        {"-12", -12, true},
        {"+5", 5, true},
        {"007", 7, true},
        {"2147483647", INT_MAX, true},
        {"2147483648", 42, true},
        {"-2147483648", INT_MIN, true},
        {" 7", 42, true},
        {"7 ", 42, true},
        {"7.0", 42, true},
        {"", 42, true},
        {"+-1", 42, true},
        {"0x10", 42, true},
        {"false", 42, false},
        {"FALSE", 42, false},
        {"True", 42, true},
        {"no", 42, true},
        {"falsey", 42, true},
    };
    for (const auto& c : cases) {
        n->put("k", c.stored);
        EXPECT_EQ(n->getInt("k", 42), c.asInt) << '"' << c.stored << '"';
        EXPECT_EQ(n->getBoolean("k", true), c.asBool) << '"' << c.stored << '"';
    }
    EXPECT_EQ(n->getInt("missing", 42), 42);
    EXPECT_FALSE(n->getBoolean("missing", false));
    n->putInt("i", -3);
    n->putBoolean("b", false);
    EXPECT_EQ(n->get("i", ""), "-3");
    EXPECT_EQ(n->get("b", ""), "false");
}

TEST_F(PreferencesTest, KeysAndValuesTheStoreCannotHoldAreRefused) {
    auto n = node("/t");
    const std::string longKey(Preferences::MAX_KEY_LENGTH + 1, 'k');
    const std::string longValue(Preferences::MAX_VALUE_LENGTH + 1, 'v');
    const std::pair<std::string, std::string> refused[] = {
        {longKey, "v"}, {"k", longValue}, {std::string("k\0k", 3), "v"}, {"k", std::string("v\0v", 3)},
        {"k", "\xC3"},  {"\xFF", "v"},    {"k", "\xED\xA0\x80"},  // a surrogate
    };
    for (const auto& [key, value] : refused)
        EXPECT_THROW(n->put(key, value), std::invalid_argument) << key;
    EXPECT_EQ(n->keys(), std::vector<std::string>{});
    // The limits count characters: 80 two-byte characters make a valid key.
    std::string wide;
    for (std::size_t i = 0; i < Preferences::MAX_KEY_LENGTH; ++i)
        wide += "\xC3\xA4";
    EXPECT_NO_THROW(n->put(wide, std::string(Preferences::MAX_VALUE_LENGTH, 'v')));
}

TEST_F(PreferencesTest, PutAllStoresTheEntriesBeforeARefusedOne) {
    auto n = node("/com/vexlune/zorvik");
    EXPECT_THROW(n->putAll({{"a", "1"}, {"b", "2"}, {"c", std::string("\0", 1)}, {"d", "4"}}),
                 std::invalid_argument);
    EXPECT_EQ(n->keys(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(entryLines(readFile(file)),
              (std::vector<std::string>{"com.vexlune.zorvik.a=1", "com.vexlune.zorvik.b=2"}));
}

TEST_F(PreferencesTest, ClearRemovesEveryKeyOfTheNodeOnly) {
    node("/a")->put("x", "1");
    node("/a/b")->put("y", "2");
    node("/a")->clear();
    EXPECT_EQ(node("/a")->keys(), std::vector<std::string>{});
    EXPECT_EQ(entryLines(readFile(file)), std::vector<std::string>{"a.b.y=2"});
}

TEST_F(PreferencesTest, HandlesOutliveAResetStoreWithoutReachingIntoIt) {
    auto settings = node("/com/vexlune/zorvik");
    restart();
    EXPECT_THROW(settings->node("/x"), std::logic_error);
    EXPECT_THROW(settings->removeNode(), std::logic_error);
    // Its own entries still work.
    settings->put("k", "v");
    EXPECT_EQ(settings->get("k", ""), "v");
}

}  // namespace
}  // namespace rszorvik::prefs
