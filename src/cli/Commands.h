#pragma once

#include <CLI/CLI.hpp>

namespace rszorvik::cli {

// Options every subcommand shares.
struct GlobalOptions {
    std::string prefsFile;  // --prefs: another settings file
};

// Each subcommand lives in its own file and registers itself on the application here.
void addPresetsCommand(CLI::App& app, const GlobalOptions& global);

}  // namespace rszorvik::cli
