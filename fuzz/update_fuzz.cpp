// The update check's reading of the version file a server returns, and the version comparison.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "util/ReadRemoteUpdate.h"

using rszorvik::util::ReadRemoteUpdate;
using namespace rszorvik::fuzz;

// Input: "LANGUAGE\nCURRENT\nBODY"; the body's lines are joined as the fetch joins them.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest = asText(data, size);
    const std::string_view language = takeUntil(rest, "\n");
    const std::string_view current = takeUntil(rest, "\n");
    const std::string content = ReadRemoteUpdate::joinLines(rest);
    check(content.find_first_of("\r\n") == std::string::npos, "joinLines left a line separator");

    const std::string remote = ReadRemoteUpdate::findXML(content, ReadRemoteUpdate::VERSION_TAG, language);
    check(remote.empty() || content.find(remote) != std::string::npos, "findXML invented text", remote);

    const bool newer = ReadRemoteUpdate::compareVersions(remote, current);
    const bool older = ReadRemoteUpdate::compareVersions(current, remote);
    check(!(newer && older), "each version is newer than the other", remote + " / " + std::string(current));
    check(!ReadRemoteUpdate::compareVersions(current, current), "a version is newer than itself", current);
    return 0;
}
