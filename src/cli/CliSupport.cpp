#include "cli/CliSupport.h"

#include <CLI/CLI.hpp>
#include <cstdint>
#include <iostream>

#include "base/MessageCatalog.h"
#include "base/Utf8.h"
#include "serial/SerialPortLocal.h"

namespace rszorvik::cli {

base::LogChannel& commandLog() {
    static base::LogChannel channel(std::cerr, base::LogChannel::Level::FINE,
                                    base::LogChannel::loggerAndMessage);
    return channel;
}

void report(std::string_view command, const std::string& message) {
    commandLog().log(base::LogChannel::Level::WARNING, "zorvik-cli " + std::string(command), message);
}

void fail(std::string_view command, const std::string& message, int status) {
    commandLog().log(base::LogChannel::Level::SEVERE, "zorvik-cli " + std::string(command), message);
    throw CLI::RuntimeError(status);
}

std::string programText(std::string_view key) {
    return base::MessageCatalog::get(base::catalogues::kProgram).getString(key);
}

std::string jsonText(const nlohmann::ordered_json& document) {
    return document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string visibleText(std::string_view text) {
    std::string shown;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        const auto cp = base::utf8::decode(text, i);
        if (!cp) {
            shown += "\uFFFD";
            i = start + 1;
        } else if (*cp < 0x20 || (*cp >= 0x7F && *cp < 0xA0)) {
            shown += "<" + std::to_string(static_cast<std::uint32_t>(*cp)) + ">";
        } else {
            shown += text.substr(start, i - start);
        }
    }
    return shown;
}

std::string cliText(std::string_view key) {
    return base::MessageCatalog::get(base::catalogues::kCli).getString(key);
}

void requireNativeSerialModule(std::string_view command) {
    if (!Zivaraze::SerialPortLocal::isLibraryLoaded())
        fail(command, programText("library.zspwin.not.found.or.not.matching.your.system"), kNoNativeModule);
}

}  // namespace rszorvik::cli
