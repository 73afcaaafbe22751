#pragma once

// zorvik-cli run through the shell as a user would run it, in a temporary folder, with its output
// captured.
#include <sys/wait.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "support/PrefsTestSupport.h"

namespace rszorvik::test {

struct CliRun {
    int status = -1;
    std::string out, err;
    nlohmann::json json() const { return nlohmann::json::parse(out); }
};

// Runs "zorvik-cli arguments" in dir. No environment choice of store may leak in: every run names its
// file or its config folder (dir/config). prefix stands before the program (env settings, setpriv);
// redirect replaces the capture of standard output (">/dev/full").
inline CliRun runCli(const prefs::test::TempDir& dir, const std::string& arguments,
                     const std::string& prefix = "", const std::string& redirect = "") {
    const auto out = dir / "out.txt", err = dir / "err.txt";
    std::string command = "cd '" + dir.path().string() + "' && env -u ProgramData XDG_CONFIG_HOME='" +
                          (dir / "config").string() + "' " + prefix + " " + ZORVIK_CLI_PATH + " " +
                          arguments + " " + (redirect.empty() ? ">'" + out.string() + "'" : redirect) +
                          " 2>'" + err.string() + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, prefs::test::readFile(out), prefs::test::readFile(err)};
}

}  // namespace rszorvik::test
