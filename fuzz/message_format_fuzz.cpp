// Filling a catalogue text's placeholders: the catalogues come from translators, the arguments from
// instruments, files and the system.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "base/MessageFormat.h"

using rszorvik::base::formatMessage;
using namespace rszorvik::fuzz;

// Input: "PATTERN\0ARG1\0ARG2\0ARG3".
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest = asText(data, size);
    const std::string_view pattern = takeUntil(rest, std::string_view("\0", 1));
    const std::string_view a = takeUntil(rest, std::string_view("\0", 1));
    const std::string_view b = takeUntil(rest, std::string_view("\0", 1));
    const std::string_view c = rest;

    const std::string filled = formatMessage(pattern, {a, b, c});
    // A pattern without arguments keeps every placeholder as written, so only "%%" changes.
    const std::string bare = formatMessage(pattern, {});
    check(bare.size() <= pattern.size(), "filling without arguments made the text longer");
    // Arguments are inserted, never interpreted: an argument that looks like a placeholder stays as is.
    const std::string again = formatMessage("{0}", {filled});
    check(again == filled, "an argument was interpreted", filled);
    return 0;
}
