#include "base/Regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <memory>
#include <new>
#include <utility>

#include "base/ThreadExit.h"

namespace rszorvik::base {

namespace {

std::string errorMessage(int code) {
    PCRE2_UCHAR buffer[256];
    const int length = pcre2_get_error_message(code, buffer, sizeof buffer);
    if (length < 0) return "PCRE2 error " + std::to_string(code);
    return std::string(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

struct MatchDataDeleter {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

// Limits, JIT stack and match block of the calling thread. A match context with an assigned JIT stack must
// not be used by two threads at once, so each thread has its own; the compiled code stays shared.
class ThreadMatchContext {
  public:
    ThreadMatchContext() : matchContext(pcre2_match_context_create(nullptr)) {
        if (matchContext == nullptr) throw std::bad_alloc();
        pcre2_set_match_limit(matchContext, Regex::kMatchLimit);
        pcre2_set_depth_limit(matchContext, Regex::kDepthLimit);
        pcre2_set_heap_limit(matchContext, Regex::kHeapLimitKiB);
        // Null where the platform has no JIT; the interpreter then needs no stack.
        jitStack = pcre2_jit_stack_create(32 * 1024, Regex::kJitStackMaxBytes, nullptr);
        if (jitStack != nullptr) pcre2_jit_stack_assign(matchContext, nullptr, jitStack);
    }
    ~ThreadMatchContext() {
        pcre2_match_context_free(matchContext);
        pcre2_jit_stack_free(jitStack);
    }
    ThreadMatchContext(const ThreadMatchContext&) = delete;
    ThreadMatchContext& operator=(const ThreadMatchContext&) = delete;

    pcre2_match_context* get() const { return matchContext; }

    // Room for at least `pairs` offset pairs. The block is kept between lines: a new one for every line
    // cost an allocation and a release on the way to each value's first key. (Without a JIT the
    // interpreter keeps its frames there too, at most Regex::kHeapLimitKiB.)
    pcre2_match_data* matchData(std::uint32_t pairs) {
        if (!data || pcre2_get_ovector_count(data.get()) < pairs) {
            data.reset(pcre2_match_data_create(pairs, nullptr));
            if (!data) throw std::bad_alloc();
        }
        return data.get();
    }

  private:
    pcre2_match_context* matchContext;
    pcre2_jit_stack* jitStack = nullptr;
    std::unique_ptr<pcre2_match_data, MatchDataDeleter> data;
};

ThreadMatchContext& threadMatchContext() {
    // A plain pointer: the context is released when the thread ends (base/ThreadExit.h says why).
    thread_local ThreadMatchContext* context = nullptr;
    if (context == nullptr) {
        auto owned = std::make_unique<ThreadMatchContext>();
        atThreadExit([](void* released) { delete static_cast<ThreadMatchContext*>(released); }, owned.get());
        context = owned.release();
    }
    return *context;
}

struct CompileContextDeleter {
    void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};

}  // namespace

RegexSyntaxError::RegexSyntaxError(const std::string& message, std::size_t offset)
    : std::invalid_argument(message), patternOffset(offset) {}

struct Regex::Impl {
    pcre2_code* code = nullptr;
    bool jit = false;
    int captureCount = 0;

    ~Impl() { pcre2_code_free(code); }
};

Regex::Regex(std::string_view pattern) : Regex(pattern, Engine::Auto) {}

Regex::Regex(std::string_view pattern, Engine engine) : patternText(pattern), impl(std::make_unique<Impl>()) {
    std::unique_ptr<pcre2_compile_context, CompileContextDeleter> compileContext(
        pcre2_compile_context_create(nullptr));
    if (!compileContext) throw std::bad_alloc();
    // CR, LF and CRLF end a line: "." does not match them and "$" may stand before a final one.
    pcre2_set_newline(compileContext.get(), PCRE2_NEWLINE_ANYCRLF);

    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    // \C could split a UTF-8 character and yield invalid text, so it is refused.
    impl->code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(patternText.data()), patternText.size(),
                      PCRE2_UTF | PCRE2_NEVER_BACKSLASH_C, &errorCode, &errorOffset, compileContext.get());
    if (impl->code == nullptr) throw RegexSyntaxError(errorMessage(errorCode), errorOffset);

    std::uint32_t captures = 0;
    pcre2_pattern_info(impl->code, PCRE2_INFO_CAPTURECOUNT, &captures);
    impl->captureCount = static_cast<int>(captures);

    if (engine == Engine::Auto) {
        const int rc = pcre2_jit_compile(impl->code, PCRE2_JIT_COMPLETE);
        if (rc == 0)
            impl->jit = true;
        else if (rc == PCRE2_ERROR_NOMEMORY)
            throw std::bad_alloc();
        // Otherwise the platform has no JIT: the interpreter gives the same results.
    }
}

Regex::~Regex() = default;
Regex::Regex(Regex&&) noexcept = default;
Regex& Regex::operator=(Regex&&) noexcept = default;

int Regex::groupCount() const {
    if (!impl) throw std::logic_error("Regex used after move");
    return impl->captureCount;
}

bool Regex::usesJit() const {
    return impl && impl->jit;
}

std::optional<RegexMatch> Regex::search(std::string_view subject) const {
    if (!impl) throw std::logic_error("Regex used after move");
    const auto pairs = static_cast<std::size_t>(impl->captureCount) + 1;
    ThreadMatchContext& context = threadMatchContext();
    pcre2_match_data* data = context.matchData(static_cast<std::uint32_t>(pairs));

    // PCRE2 checks the subject's UTF-8 itself; invalid text comes back as an error code.
    const char* text = subject.data() != nullptr ? subject.data() : "";
    const int rc = pcre2_match(impl->code, reinterpret_cast<PCRE2_SPTR>(text), subject.size(), 0, 0, data,
                               context.get());
    if (rc == PCRE2_ERROR_NOMATCH) return std::nullopt;
    if (rc < 0) throw RegexMatchError(errorMessage(rc));

    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
    RegexMatch match;
    match.groups.reserve(pairs);
    for (std::size_t i = 0; i < pairs; ++i) {
        const PCRE2_SIZE start = ovector[2 * i];
        const PCRE2_SIZE end = ovector[2 * i + 1];
        // Groups past rc took no part in the match.
        if (i >= static_cast<std::size_t>(rc) || start == PCRE2_UNSET) {
            match.groups.emplace_back(std::nullopt);
        } else {
            // \K inside a lookaround could put start past end; read that as empty text.
            match.groups.emplace_back(start <= end ? std::string(subject.substr(start, end - start))
                                                   : std::string());
        }
    }
    match.start = ovector[0];
    match.end = ovector[1];
    return match;
}

}  // namespace rszorvik::base
