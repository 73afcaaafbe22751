#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "prefs/SettingsStore.h"

namespace rszorvik::cli {

// Options every subcommand shares.
struct GlobalOptions {
    std::string prefsFile;  // --prefs: another settings file
};

// Each subcommand lives in its own file and registers itself on the application here.
void addPresetsCommand(CLI::App& app, const GlobalOptions& global);
void addSettingsCommand(CLI::App& app, const GlobalOptions& global);
void addRunCommand(CLI::App& app, const GlobalOptions& global);
void addDetectCommand(CLI::App& app, const GlobalOptions& global);
void addTypeCommand(CLI::App& app, const GlobalOptions& global);
void addReplayCommand(CLI::App& app, const GlobalOptions& global);
void addPortsCommand(CLI::App& app, const GlobalOptions& global);
void addUpdateCheckCommand(CLI::App& app, const GlobalOptions& global);
void addMessageCommand(CLI::App& app, const GlobalOptions& global);

// The stored settings for a subcommand: the file named by --prefs, else the default store (whose folders
// are created), loaded with the given port list ("port" is read only when it is not empty). Throws
// std::exception when the store cannot be opened.
prefs::StoredSettings openStoredSettings(const GlobalOptions& global,
                                         const std::vector<std::string>& portList);

// Applies each --set KEY=VALUE in its stored encoding. A malformed or refused one is reported as
// "zorvik-cli <command>: <why>" and ends the command with exit status 2; the record is then unusable.
void applySets(config::Config& config, const std::vector<std::string>& sets, std::string_view command);

}  // namespace rszorvik::cli
