#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "base/Log.h"

// What the subcommands of zorvik-cli share: how they report and fail, and the checks they all make.
namespace rszorvik::cli {

// The exit status of every subcommand that needs the native serial module and cannot load it.
inline constexpr int kNoNativeModule = 4;

// The subcommands' messages on standard error, "zorvik-cli <command>: <message>".
base::LogChannel& commandLog();

// Reports a message of a subcommand; the command goes on.
void report(std::string_view command, const std::string& message);

// Reports the message and ends the subcommand with the exit status.
[[noreturn]] void fail(std::string_view command, const std::string& message, int status);

// A text of the program's catalogue (the window's texts, which the subcommands share).
std::string programText(std::string_view key);

// The document as the subcommands print it (indented by two), always valid UTF-8: a byte that is not
// part of a UTF-8 character (a file or port name, a stored value) shows as U+FFFD.
std::string jsonText(const nlohmann::ordered_json& document);

// A name from outside (a USB product name, a port name) as a terminal may show it: control characters
// as "<code>" the way raw data is shown, bytes that are not UTF-8 as U+FFFD.
std::string visibleText(std::string_view text);

// A sentence of zorvik-cli itself, from its own catalogue.
std::string cliText(std::string_view key);

// Ends the subcommand with kNoNativeModule and the catalogue's message when the native serial module
// cannot be loaded. Loading it prints diagnostics: point those away from standard output first where the
// subcommand prints its results there.
void requireNativeSerialModule(std::string_view command);

}  // namespace rszorvik::cli
