// What every zorvik-cli subcommand that needs the serial port does without the native serial module:
// the same catalogue message and the same exit status.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace {

using namespace std::chrono_literals;
using rszorvik::test::ChildProcess;
namespace fs = std::filesystem;

struct Case {
    std::string name;
    std::vector<std::string> args;  // after the global options
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class NativeModuleMissing : public ::testing::TestWithParam<Case> {
  protected:
    // A copy of zorvik-cli in a folder of its own, where the module beside the executable is missing.
    static void SetUpTestSuite() {
        dir = new fs::path(fs::temp_directory_path() / ("zorvik-cli-nomodule-" + std::to_string(::getpid())));
        fs::create_directories(*dir);
        fs::copy_file(ZORVIK_CLI_PATH, *dir / "zorvik-cli", fs::copy_options::overwrite_existing);
    }
    static void TearDownTestSuite() {
        fs::remove_all(*dir);
        delete dir;
        dir = nullptr;
    }
    static fs::path* dir;
};

fs::path* NativeModuleMissing::dir = nullptr;

TEST_P(NativeModuleMissing, SaysSoAndExitsWithFour) {
    const std::string command = GetParam().args.front();
    std::vector<std::string> args{"/usr/bin/env",    "-u",
                                  "LD_LIBRARY_PATH", (*dir / "zorvik-cli").string(),
                                  "--prefs",         (*dir / "prefs.txt").string()};
    args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
    ChildProcess cli(args);
    ASSERT_EQ(cli.wait(15s), 4) << cli.err;
    EXPECT_EQ(cli.out, "") << "standard output carries results only";
    const std::string expected =
        "zorvik-cli " + command +
        ": Die native serielle Bibliothek zspWin fehlt oder passt nicht zu diesem System\n";
    ASSERT_GE(cli.err.size(), expected.size()) << cli.err;
    EXPECT_EQ(cli.err.substr(cli.err.size() - expected.size()), expected) << cli.err;
    EXPECT_FALSE(fs::exists(*dir / "prefs.txt")) << "nothing is written";
}

INSTANTIATE_TEST_SUITE_P(Cli, NativeModuleMissing,
                         ::testing::Values(Case{"Ports", {"ports"}}, Case{"PortsJson", {"ports", "--json"}},
                                           Case{"Detect", {"detect"}},
                                           Case{"DetectGivenPort", {"detect", "--json", "/dev/ttyS0"}},
                                           Case{"Run", {"run", "--output", "stdout", "/dev/ttyS0"}},
                                           Case{"RunWithSets", {"run", "--set", "delay=5"}}),
                         [](const auto& param) { return param.param.name; });

}  // namespace
