#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "base/SystemProperties.h"
#include "cli/CliSupport.h"
#include "cli/Commands.h"

namespace {

// What the README promises for every refused command line.
constexpr int kUsageError = 2;

// The first word that stands where the subcommand belongs and names none (CLI11 would only say that a
// subcommand is required). Help requests are left to CLI11.
std::optional<std::string> unknownSubcommand(CLI::App& app, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == "--prefs") {
            ++i;
            continue;
        }
        if (word.starts_with("-")) continue;
        for (const auto* command : app.get_subcommands([](CLI::App*) { return true; }))
            if (command->check_name(std::string(word))) return std::nullopt;
        return std::string(word);
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    rszorvik::base::SystemProperties::setProgramProperties();

    // Results go out in one piece at the end, where a failed write is seen with its reason; whatever must
    // go out at once (run's values, detect's progress) is flushed where it is written.
    static char outputBuffer[1 << 16];
    if (::isatty(STDOUT_FILENO) == 0) std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);

    CLI::App app{"zorvik-cli: the zorvik keyboard wedge without a window"};
    app.require_subcommand(1);
    rszorvik::cli::GlobalOptions global;
    app.add_option("--prefs", global.prefsFile, "Settings file to use instead of the default one");
    app.set_version_flag("--version", "zorvik-cli " + rszorvik::base::SystemProperties::programVersion(),
                         "Print the version and exit");

    rszorvik::cli::addPresetsCommand(app, global);
    rszorvik::cli::addSettingsCommand(app, global);
    rszorvik::cli::addRunCommand(app, global);
    rszorvik::cli::addDetectCommand(app, global);
    rszorvik::cli::addTypeCommand(app, global);
    rszorvik::cli::addReplayCommand(app, global);
    rszorvik::cli::addPortsCommand(app, global);
    rszorvik::cli::addUpdateCheckCommand(app, global);
    rszorvik::cli::addMessageCommand(app, global);

    if (const auto unknown = unknownSubcommand(app, argc, argv)) {
        std::cerr << "zorvik-cli: unknown subcommand \"" << *unknown << "\"; the subcommands are";
        for (const auto* command : app.get_subcommands([](CLI::App*) { return true; }))
            std::cerr << ' ' << command->get_name();
        std::cerr << "\nRun with --help for more information.\n";
        return kUsageError;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::RuntimeError& e) {
        return app.exit(e);  // a subcommand's own exit status
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        // --help and --version succeed; every refused command line is a usage error.
        return status == 0 ? 0 : kUsageError;
    }
    // std::cout writes through stdout's buffer, so one flush of it reports an error with its errno; an error
    // met earlier (output beyond the buffer) is only known as an error.
    errno = 0;
    const bool flushFailed = std::fflush(stdout) != 0;
    const int error = flushFailed ? errno : 0;
    if (flushFailed || std::ferror(stdout) || !std::cout) {
        std::cerr << "zorvik-cli: " << rszorvik::cli::cliText("cannot.write.output")
                  << (error != 0 ? std::strerror(error) : "write error") << '\n';
        return 1;
    }
    return 0;
}
