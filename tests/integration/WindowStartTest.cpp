// The window program without its native serial module: a copy of zorvik in a folder of its own says so in
// its fatal dialog (answered by the unattended seam) and ends with status 2 before it writes anything. Its
// command line without a display.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "base/SystemProperties.h"
#include "serial/PlatformSupport.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

using namespace std::chrono_literals;
using rszorvik::test::ChildProcess;
namespace fs = std::filesystem;

struct Case {
    const char* name;
    std::vector<std::string> args;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class WindowWithoutModule : public ::testing::TestWithParam<Case> {};

TEST_P(WindowWithoutModule, SaysSoAndExitsWithTwo) {
    const rszorvik::test::TempDir dir("zorvik-window-nomodule");
    fs::copy_file(ZORVIK_ZORVIK_PATH, dir / "zorvik");
    std::vector<std::string> args{"/usr/bin/env",
                                  "-u",
                                  "LD_LIBRARY_PATH",
                                  "-u",
                                  "ProgramData",
                                  "QT_QPA_PLATFORM=offscreen",
                                  "ZORVIK_UNATTENDED=1",
                                  "ZORVIK_LANGUAGE=en",
                                  "XDG_CONFIG_HOME=" + (dir / "config").string(),
                                  (dir / "zorvik").string()};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    ChildProcess window(args);
    ASSERT_EQ(window.wait(30s), 2) << window.err;
    // Names the system it runs on, not the platform the serial library's properties choose.
    EXPECT_NE(window.err.find("(" + Zivaraze::runningPlatform().shown() + ")"), std::string::npos)
        << window.err;
    EXPECT_EQ(window.err.find("Windows"), std::string::npos) << window.err;
    EXPECT_FALSE(fs::exists(dir / "config")) << "nothing is written";
}

INSTANTIATE_TEST_SUITE_P(Window, WindowWithoutModule,
                         ::testing::Values(Case{"NoArgument", {}}, Case{"EmptyArgument", {""}}),
                         [](const auto& param) { return std::string(param.param.name); });

// The command line is read before Qt starts: help, version and a refused command line need no display, and
// without one the window says so instead of aborting in Qt's platform plugin.
struct CommandLineCase {
    const char* name;
    std::vector<std::string> args;
    const char* language;
    int status;
    std::vector<std::string> out;  // parts of standard output; "VERSION" stands for the version line
    std::vector<std::string> err;  // parts of standard error
};

void PrintTo(const CommandLineCase& c, std::ostream* os) {
    *os << c.name;
}

// What --version prints: the program's version, as the programs set it at start.
std::string versionLine() {
    rszorvik::base::SystemProperties::setProgramProperties();
    return "zorvik " + rszorvik::base::SystemProperties::get("VERSION", "?") + "\n";
}

class WindowCommandLine : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(WindowCommandLine, WorksWithoutADisplay) {
    const CommandLineCase& c = GetParam();
    const rszorvik::test::TempDir dir("zorvik-window-commandline");
    std::vector<std::string> args{"/usr/bin/env",
                                  "-u",
                                  "DISPLAY",
                                  "-u",
                                  "WAYLAND_DISPLAY",
                                  "-u",
                                  "QT_QPA_PLATFORM",
                                  std::string("ZORVIK_LANGUAGE=") + c.language,
                                  "ZORVIK_UNATTENDED=1",
                                  "XDG_CONFIG_HOME=" + (dir / "config").string(),
                                  ZORVIK_ZORVIK_PATH};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ChildProcess window(args);
    ASSERT_EQ(window.wait(30s), c.status) << window.err;
    for (const auto& part : c.out)
        EXPECT_NE(window.out.find(part == "VERSION" ? versionLine() : part), std::string::npos)
            << part << " in\n"
            << window.out;
    for (const auto& part : c.err)
        EXPECT_NE(window.err.find(part), std::string::npos) << part << " in\n" << window.err;
    if (c.status == 0) {
        EXPECT_EQ(window.err, "");
    }
    EXPECT_FALSE(fs::exists(dir / "config")) << "nothing is written";
}

const std::string kNoDisplay = "the window cannot open: Qt found no display to show it on (DISPLAY: -)";

INSTANTIATE_TEST_SUITE_P(
    Window, WindowCommandLine,
    ::testing::Values(
        CommandLineCase{
            "Help",
            {"--help"},
            "en",
            0,
            {"Usage: zorvik [OPTION]... [PORT]", "\n  PORT ", "\n  --screenshot DIR ", "\n  --language LANG ",
             "\n  -h, --help ", "\n  -v, --version ", "-platform NAME", "Exit status: "},
            {}},
        CommandLineCase{"HelpInGerman", {"-h"}, "de", 0, {"Aufruf: zorvik", "--screenshot DIR"}, {}},
        CommandLineCase{"Version", {"--version"}, "en", 0, {"VERSION"}, {}},
        CommandLineCase{"UnknownOption",
                        {"--bogus"},
                        "en",
                        2,
                        {},
                        {"zorvik: unknown option --bogus\nRun \"zorvik --help\" for the options."}},
        CommandLineCase{"TwoPorts", {"/dev/ttyS0", "/dev/ttyS1"}, "en", 2, {}, {"/dev/ttyS1"}},
        CommandLineCase{
            "LanguageOptionOverTheEnvironment", {"--language", "en", "-h"}, "de", 0, {"Usage: zorvik"}, {}},
        CommandLineCase{"NoDisplay", {}, "en", 3, {}, {kNoDisplay}},
        CommandLineCase{"QtOptionsStillGoToQt", {"-platform", "xcb", "-reverse"}, "en", 3, {}, {kNoDisplay}}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
