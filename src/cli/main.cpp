#include <iostream>

#include "base/SystemProperties.h"
#include "cli/Commands.h"

int main(int argc, char** argv) {
    // The process properties the program sets at start-up; the platform name chooses the serial
    // library's feature set and native module, on every host.
    rszorvik::base::SystemProperties::set("VERSION", "2020.1.0.0");
    rszorvik::base::SystemProperties::set("ZSP_OSNAME", "Windows");
    rszorvik::base::SystemProperties::set("ZSP_OSARCH", "x86");

    CLI::App app{"zorvik-cli: the zorvik keyboard wedge without a window"};
    app.require_subcommand(1);
    rszorvik::cli::GlobalOptions global;
    app.add_option("--prefs", global.prefsFile, "Settings file to use instead of the default one");

    rszorvik::cli::addPresetsCommand(app, global);
    rszorvik::cli::addSettingsCommand(app, global);
    rszorvik::cli::addRunCommand(app, global);
    rszorvik::cli::addDetectCommand(app, global);
    rszorvik::cli::addTypeCommand(app, global);
    rszorvik::cli::addReplayCommand(app, global);
    rszorvik::cli::addPortsCommand(app, global);
    rszorvik::cli::addMessageCommand(app, global);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    }
    return 0;
}
