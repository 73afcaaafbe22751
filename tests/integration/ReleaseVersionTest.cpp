// The one version of a build: every program's --version and every file the package carries that names a
// version say the project's version, in full (four parts).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace {

using namespace std::chrono_literals;
using rszorvik::test::ChildProcess;

constexpr auto kPatience = 15s;  // a limit for a hung child, not a timing check

struct Case {
    std::string what;
    std::vector<std::string> command;  // its standard output is read
    std::string expected;              // a line of that output
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

TEST(ReleaseVersion, EveryOutputCarriesTheProjectVersion) {
    const std::string version = ZORVIK_VERSION;
    const std::string packaging = ZORVIK_PACKAGING_DIR;
    const auto unzip = [&](const std::string& file) {
        return std::vector<std::string>{"/bin/gzip", "-dc", packaging + "/" + file};
    };
    const std::vector<Case> cases{
        {"zorvik --version", {ZORVIK_ZORVIK_PATH, "--version"}, "zorvik " + version},
        {"zorvik-cli --version", {ZORVIK_CLI_PATH, "--version"}, "zorvik-cli " + version},
        {"zorvik-sim --version", {ZORVIK_SIM_PATH, "--version"}, "zorvik-sim " + version},
        {"zorvik.1", unzip("zorvik.1.gz"),
         ".TH ZORVIK 1 \"December 2026\" \"zorvik " + version + "\" \"User Commands\""},
        {"zorvik-cli.1", unzip("zorvik-cli.1.gz"),
         ".TH ZORVIK-CLI 1 \"December 2026\" \"zorvik " + version + "\" \"User Commands\""},
        {"zorvik-sim.1", unzip("zorvik-sim.1.gz"),
         ".TH ZORVIK-SIM 1 \"December 2026\" \"zorvik " + version + "\" \"User Commands\""},
        {"changelog", unzip("changelog.gz"), "zorvik (" + version + ") stable; urgency=medium"},
        {"AppStream release",
         {"/bin/cat", packaging + "/com.vexlune.zorvik.metainfo.xml"},
         "    <release version=\"" + version + "\" date=\"2026-12-09\"/>"},
        {"package version",
         {"/bin/cat", ZORVIK_BUILD_DIR "/CPackConfig.cmake"},
         "set(CPACK_PACKAGE_VERSION \"" + version + "\")"},
    };
    ASSERT_EQ(std::count(version.begin(), version.end(), '.'), 3) << version;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ChildProcess child(c.command);
        ASSERT_EQ(child.wait(kPatience), 0) << child.err;
        const auto output = lines(child.out);
        EXPECT_NE(std::find(output.begin(), output.end(), c.expected), output.end()) << child.out;
    }
}

}  // namespace
