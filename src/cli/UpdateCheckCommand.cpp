#include <chrono>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "base/SystemProperties.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "util/ReadRemoteUpdate.h"

namespace rszorvik::cli {
namespace {

using Json = nlohmann::ordered_json;
using util::ReadRemoteUpdate;

void updateCheck(bool json, const std::string& language) {
    // The address, the version text and the reasons come from outside (the environment, the server): JSON
    // shows bytes that are not UTF-8 as U+FFFD, a terminal gets control characters as "<code>".
    const auto request =
        util::UpdateRequest::fromEnvironment(base::SystemProperties::get("VERSION", ""), language);
    try {
        const ReadRemoteUpdate update(request);
        const bool newer = update.newerVersionAvailable();
        if (json) {
            std::cout << jsonText(Json{{"url", request.url},
                                       {"current", update.getCurrentVersion()},
                                       {"remote", update.getRemoteVersion()},
                                       {"newer", newer}})
                      << '\n';
        } else {
            const std::string& remote = update.getRemoteVersion();
            std::cout << "current version: " << visibleText(update.getCurrentVersion()) << '\n'
                      << "remote version: " << (remote.empty() ? "(none)" : visibleText(remote)) << '\n'
                      << "newer version available: " << (newer ? "yes" : "no") << '\n';
        }
    } catch (const util::UpdateIOError& e) {
        if (json)
            std::cout << jsonText(Json{
                             {"url", request.url}, {"current", request.currentVersion}, {"error", e.what()}})
                      << '\n';
        std::string message = visibleText(request.url) + ": " + visibleText(e.what());
        if (!e.cause().empty() && std::string(e.what()).find(e.cause()) == std::string::npos)
            message += " (" + visibleText(e.cause()) + ')';
        fail("update-check", message, 1);
    }
}

}  // namespace

void addUpdateCheckCommand(CLI::App& app, const GlobalOptions& global) {
    (void)global;  // the check neither reads nor changes the settings
    auto json = std::make_shared<bool>(false);
    auto language = std::make_shared<std::string>("de");
    auto* command = app.add_subcommand(
        "update-check", "Ask the vendor's site now whether a newer zorvik version is published");
    command->add_flag("--json", *json,
                      "Print one JSON object {url, current, remote, newer} (or {url, current, error})");
    command->add_option("--language", *language,
                        "Language code of the version entry to read: <version2_LANG> (default de; an empty "
                        "code reads <version2>)");
    command->footer(
        "ZORVIK_UPDATE_URL replaces the address of the version file (https only); ZORVIK_CA_FILE names PEM "
        "certificate authorities trusted besides the system's (a regular file of at most 1 MiB). The whole "
        "check ends after " +
        std::to_string(
            std::chrono::duration_cast<std::chrono::seconds>(util::UpdateRequest::DEADLINE).count()) +
        " seconds at most.\nExit status: 0 checked (whatever the answer), 1 the check failed.");
    command->callback([json, language] { updateCheck(*json, *language); });
}

}  // namespace rszorvik::cli
