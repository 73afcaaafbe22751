#include "cli/CliSupport.h"

#include <CLI/CLI.hpp>
#include <iostream>

#include "base/MessageCatalog.h"
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

std::string cliText(std::string_view key) {
    return base::MessageCatalog::get(base::catalogues::kCli).getString(key);
}

void requireNativeSerialModule(std::string_view command) {
    if (!Zivaraze::SerialPortLocal::isLibraryLoaded())
        fail(command, programText("library.zspwin.not.found.or.not.matching.your.system"), kNoNativeModule);
}

}  // namespace rszorvik::cli
