#include "base/Regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <gtest/gtest.h>
#include <pcre2.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using rszorvik::base::Regex;
using rszorvik::base::RegexMatch;
using rszorvik::base::RegexMatchError;
using rszorvik::base::RegexSyntaxError;

namespace {

using Groups = std::vector<std::optional<std::string>>;
constexpr auto kNone = std::nullopt;

struct SearchRow {
    const char* name;
    std::string pattern;
    std::string subject;
    std::optional<Groups> groups;  // nullopt: no match
    std::size_t start = 0;
    std::size_t end = 0;
};

std::vector<SearchRow> searchRows() {
    return {
        // Empty text versus a group that took no part.
        {"alternation", "(a)|(b)", "b", Groups{"b", kNone, "b"}, 0, 1},
        {"empty group", "(a*)b", "b", Groups{"b", ""}, 0, 1},
        {"optional group", "(x)?y", "y", Groups{"y", kNone}, 0, 1},
        {"nested", "((a)(b)?)c", "ac", Groups{"ac", "a", "a", kNone}, 0, 2},
        {"repeated group keeps earlier capture", "(a|(b))+", "ba", Groups{"ba", "a", "b"}, 0, 2},
        {"all empty", "(a*)", "", Groups{"", ""}, 0, 0},
        {"no match in empty", "a", "", std::nullopt},
        // First match anywhere, leftmost.
        {"first match", "(\\d+)", "ab12cd345", Groups{"12", "12"}, 2, 4},
        {"no match", "(\\d+)", "abc", std::nullopt},
        // ^ and $ refer to the whole subject only.
        {"caret at start", "^(a)", "ab", Groups{"a", "a"}, 0, 1},
        {"caret not mid-subject", "^b", "ab", std::nullopt},
        {"caret not after newline", "^b", "a\nb", std::nullopt},
        {"dollar before final CRLF", "(a)$", "xa\r\n", Groups{"a", "a"}, 1, 2},
        {"dollar not before inner newline", "a$", "a\nb", std::nullopt},
        {"dot stops at CR", "(.+)", "AB\r\n", Groups{"AB", "AB"}, 0, 2},
        // Lazy quantifiers.
        {"lazy plus", "<(.+?)>", "<a><b>", Groups{"<a>", "a"}, 0, 3},
        {"lazy digits", "(\\d+?)", "123", Groups{"1", "1"}, 0, 1},
        {"lazy star matches empty", "(a*?)", "aaa", Groups{"", ""}, 0, 0},
        // \d and \s are ASCII only.
        {"arabic-indic digit is not \\d", "(\\d+)", "\u0663\u0664", std::nullopt},
        {"ascii digit after arabic-indic", "(\\d+)", "\u06634", Groups{"4", "4"}, 2, 3},
        {"no-break space is not \\s", "a\\sb", "a\u00A0b", std::nullopt},
        {"ascii whitespace is \\s", "a(\\s+)b", "a \t\r\n\fb", Groups{"a \t\r\n\fb", " \t\r\n\f"}, 0, 7},
        // A received Latin-1 byte arrives as one UTF-8 character.
        {"degree sign by escape", "([\\x{b0}])C", "25\u00B0C", Groups{"\u00B0C", "\u00B0"}, 2, 5},
        {"degree sign literal", "(\u00B0)", "25\u00B0C", Groups{"\u00B0", "\u00B0"}, 2, 4},
        {"dot takes a whole character", "^(.)C", "\u00B0C", Groups{"\u00B0C", "\u00B0"}, 0, 3},
        // Expressions the instrument presets rely on.
        {"weight", "([-+]?\\s*[0-9]*[\\.,]?[0-9]+)", "ST, +00012.34 kg\r\n", Groups{"+00012.34", "+00012.34"},
         4, 13},
        {"lazy prefix then number", "^N.*?(-?\\s*[0-9]*[\\.,]?[0-9]+)\\s*kg", "NET  WEIGHT  3.3kg\n",
         Groups{"NET  WEIGHT  3.3kg", "  3.3"}, 0, 18},
        {"lazy dot before blanks", "\\d.+?(\\s*-?[0-9]*[\\.,]?[0-9]+)", " 2GM      -7.650kg ",
         Groups{"2GM      -7.650", "      -7.650"}, 1, 16},
        {"anchored line after newline", "^0(-?\\s+[0-9]*\\.?[0-9]+)", "\nA    2.10", std::nullopt},
    };
}

void expectSearches(Regex::Engine engine) {
    for (const auto& row : searchRows()) {
        const Regex regex(row.pattern, engine);
        const auto match = regex.search(row.subject);
        if (!row.groups) {
            EXPECT_FALSE(match.has_value()) << row.name;
            continue;
        }
        ASSERT_TRUE(match.has_value()) << row.name;
        EXPECT_EQ(match->groups, *row.groups) << row.name;
        EXPECT_EQ(match->start, row.start) << row.name;
        EXPECT_EQ(match->end, row.end) << row.name;
        EXPECT_EQ(static_cast<std::size_t>(regex.groupCount()) + 1, match->groups.size()) << row.name;
    }
}

bool platformHasJit() {
    std::uint32_t jit = 0;
    pcre2_config(PCRE2_CONFIG_JIT, &jit);
    return jit != 0;
}

}  // namespace

TEST(RegexTest, SearchSemantics) {
    expectSearches(Regex::Engine::Auto);
}

TEST(RegexTest, InterpreterGivesTheSameResults) {
    expectSearches(Regex::Engine::Interpreter);
}

TEST(RegexTest, UsesJitWhereThePlatformHasIt) {
    EXPECT_EQ(Regex("a").usesJit(), platformHasJit());
    EXPECT_FALSE(Regex("a", Regex::Engine::Interpreter).usesJit());
}

TEST(RegexTest, GroupCount) {
    const std::vector<std::pair<std::string, int>> rows = {
        {"abc", 0}, {"(a)(?:b)(c(d))", 3}, {"(?<name>x)", 1}, {"\\(a\\)", 0}, {"[(]", 0}, {"(?=(a))", 1},
    };
    for (const auto& [pattern, count] : rows)
        EXPECT_EQ(Regex(pattern).groupCount(), count) << pattern;
}

TEST(RegexTest, SyntaxErrorsCarryMessageAndOffset) {
    struct Row {
        std::string pattern;
        std::string message;
        std::size_t offset;
    };
    const std::vector<Row> rows = {
        {"([0-9]", "missing closing parenthesis", 6},
        {"a)", "unmatched closing parenthesis", 1},
        {"[z-a]", "range out of order in character class", 3},
        {"*a", "quantifier does not follow a repeatable item", 0},
        // A single code unit could split a UTF-8 character.
        {"\\C", "using \\C is disabled by the application", 2},
        {"\xFF", "UTF-8 error: illegal byte (0xfe or 0xff)", 0},
    };
    for (const auto& row : rows) {
        try {
            Regex regex(row.pattern);
            ADD_FAILURE() << row.pattern << " compiled";
        } catch (const RegexSyntaxError& e) {
            EXPECT_EQ(std::string(e.what()), row.message) << row.pattern;
            EXPECT_EQ(e.offset(), row.offset) << row.pattern;
        }
    }
}

TEST(RegexTest, RunawaySearchesFailInsteadOfHanging) {
    struct Row {
        std::string pattern;
        std::string subject;
    };
    const std::vector<Row> rows = {
        // Catastrophic backtracking: stopped by the match limit.
        {"(a+)+$", std::string(36, 'a') + "b"},
        {"(a|aa)+$", std::string(60, 'a') + "b"},
        // A capture repeated over a huge line: stopped by the JIT stack or the heap limit.
        {"(?:(a)|b)*$", std::string(300000, 'a')},
    };
    for (const auto engine : {Regex::Engine::Auto, Regex::Engine::Interpreter}) {
        for (const auto& row : rows) {
            const Regex regex(row.pattern, engine);
            EXPECT_THROW(regex.search(row.subject), RegexMatchError) << row.pattern;
            // The expression stays usable for ordinary lines.
            EXPECT_TRUE(regex.search("aa").has_value()) << row.pattern;
        }
    }
}

TEST(RegexTest, LongLinesWithinTheLimitsStillMatch) {
    // Each repetition of the group costs backtracking memory; a few thousand characters must still fit.
    const std::string line(5000, 'a');
    for (const auto engine : {Regex::Engine::Auto, Regex::Engine::Interpreter}) {
        const auto match = Regex("(?:(a)|b)*$", engine).search(line);
        ASSERT_TRUE(match.has_value());
        EXPECT_EQ(match->end, line.size());
        EXPECT_EQ(match->group(1), "a");
    }
}

TEST(RegexTest, InvalidUtf8SubjectIsAMatchError) {
    const Regex regex("a");
    for (const std::string subject : {"\xFF", "a\xC3", "\xC3\x28"})
        EXPECT_THROW(regex.search(subject), RegexMatchError) << subject;
}

TEST(RegexTest, SharedAcrossThreads) {
    const Regex regex("([-+]?\\s*[0-9]*[\\.,]?[0-9]+)\\s*(kg|g)");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&regex, &wrong, t] {
            for (int i = 0; i < 2000; ++i) {
                const std::string value = std::to_string(t * 100000 + i);
                const auto match = regex.search("ST, +" + value + " g\r\n");
                if (!match || match->group(1) != "+" + value || match->group(2) != "g") ++wrong;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(RegexTest, MoveKeepsTheCompiledExpression) {
    Regex source("(b+)");
    Regex moved(std::move(source));
    EXPECT_EQ(moved.pattern(), "(b+)");
    EXPECT_EQ(moved.search("abbc")->group(1), "bb");
    Regex assigned("x");
    assigned = std::move(moved);
    EXPECT_EQ(assigned.search("abbc")->group(1), "bb");
    EXPECT_THROW(assigned.search("abbc")->group(2), std::out_of_range);
}
