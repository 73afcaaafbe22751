#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace rszorvik::base {

// An expression that does not compile: the PCRE2 message and the offset in the pattern.
class RegexSyntaxError : public std::invalid_argument {
  public:
    RegexSyntaxError(const std::string& message, std::size_t offset);
    std::size_t offset() const { return patternOffset; }

  private:
    std::size_t patternOffset;
};

// A search that could not finish (match or depth limit hit by a runaway expression, bad input).
class RegexMatchError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The result of one search: group 0 is the whole match; a group that did not take part is empty (nullopt),
// a group that matched empty text holds "".
struct RegexMatch {
    std::vector<std::optional<std::string>> groups;
    std::size_t start = 0;  // byte offsets of the whole match in the subject
    std::size_t end = 0;

    const std::optional<std::string>& group(std::size_t index) const { return groups.at(index); }
};

// A compiled PCRE2 expression (UTF, no UCP: \d and \s stay ASCII; JIT where available). Immutable after
// construction and safe to search from several threads at once.
class Regex {
  public:
    // Bounds of one search. The match limit stops runaway backtracking in both engines; the heap limit bounds
    // the interpreter's backtracking memory, the JIT stack bounds the compiled code's.
    static constexpr std::uint32_t kMatchLimit = 10'000'000;
    static constexpr std::uint32_t kDepthLimit = 100'000;
    static constexpr std::uint32_t kHeapLimitKiB = 4 * 1024;
    static constexpr std::size_t kJitStackMaxBytes = 1024 * 1024;

    // Auto uses the JIT compiler where the platform has one; Interpreter never does (tests compare both).
    enum class Engine { Auto, Interpreter };

    explicit Regex(std::string_view pattern);  // throws RegexSyntaxError
    Regex(std::string_view pattern, Engine engine);
    ~Regex();
    Regex(Regex&&) noexcept;
    Regex& operator=(Regex&&) noexcept;

    const std::string& pattern() const { return patternText; }
    int groupCount() const;  // number of capture groups, not counting group 0
    bool usesJit() const;

    // First match anywhere in subject (UTF-8), or nullopt. Throws RegexMatchError when the match limit
    // is hit, so a runaway expression fails this one search instead of hanging the caller.
    std::optional<RegexMatch> search(std::string_view subject) const;

  private:
    struct Impl;
    std::string patternText;
    std::unique_ptr<Impl> impl;
};

}  // namespace rszorvik::base
