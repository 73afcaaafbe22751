// The window program without its native serial module: a copy of zorvik in a folder of its own says so in
// its fatal dialog (answered by the unattended seam) and ends with status 2 before it writes anything.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

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

}  // namespace
