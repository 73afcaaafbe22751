// The newcomer's first run on a desktop: scripts/run-window (what scripts/run starts when there is a display)
// opens the window on the virtual instrument's terminal; Start, then the focus in a text field, and the
// simulator's values arrive there. Closing the window ends the script and the simulator with it.
#include <glob.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TypingWindow.h"
#include "support/X11Desktop.h"

namespace {

using namespace std::chrono_literals;
using rszorvik::test::ChildProcess;
using rszorvik::test::TypingWindow;
using rszorvik::test::X11Desktop;
namespace fs = std::filesystem;

constexpr auto kPatience = 20s;  // a limit for a hung child, not a timing check

bool instrumentAttached() {
    for (const char* pattern : {"/dev/ttyUSB*", "/dev/ttyACM*"}) {
        glob_t found{};
        const bool any = glob(pattern, 0, nullptr, &found) == 0 && found.gl_pathc > 0;
        globfree(&found);
        if (any) return true;
    }
    return false;
}

// The process running `name` whose parent is `parent`, once there is one.
std::optional<pid_t> childNamed(pid_t parent, const std::string& name, std::chrono::milliseconds patience) {
    const auto end = std::chrono::steady_clock::now() + patience;
    while (std::chrono::steady_clock::now() < end) {
        for (const auto& entry : fs::directory_iterator("/proc")) {
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            if (!std::getline(stat, line)) continue;
            // pid (comm) state ppid ...: the name may hold spaces, so it is cut at the last ')'.
            const auto open = line.find('('), close = line.rfind(')');
            if (open == std::string::npos || close == std::string::npos) continue;
            std::istringstream rest(line.substr(close + 2));
            char state = 0;
            pid_t ppid = 0;
            rest >> state >> ppid;
            if (ppid == parent && line.substr(open + 1, close - open - 1) == name)
                return static_cast<pid_t>(std::stol(line.substr(0, open)));
        }
        std::this_thread::sleep_for(50ms);
    }
    return std::nullopt;
}

TEST(RunWindowScript, TypesTheVirtualInstrumentsValuesAndStopsItWithTheWindow) {
    TypingWindow* field = TypingWindow::instance();
    ZORVIK_NEED_TYPING_WINDOW(field);
    if (instrumentAttached()) GTEST_SKIP() << "an instrument is attached: the script would open it";
    field->setLayout("us");

    setenv("ZORVIK_BUILD", ZORVIK_BUILD_DIR, 1);
    setenv("ZORVIK_LANGUAGE", "en", 1);
    ChildProcess script({"/bin/bash", ZORVIK_SOURCE_DIR "/scripts/run-window"});
    unsetenv("ZORVIK_LANGUAGE");
    unsetenv("ZORVIK_BUILD");

    // One line tells the user what to do, naming the simulator's terminal.
    ASSERT_TRUE(
        script.collectUntil([&] { return script.err.find("press Start") != std::string::npos; }, kPatience))
        << script.err;
    EXPECT_TRUE(std::regex_search(script.err, std::regex("virtual instrument /dev/pts/[0-9]+: press Start")))
        << script.err;
    const auto zorvik = childNamed(script.processId(), "zorvik", kPatience);
    const auto sim = childNamed(script.processId(), "zorvik-sim", kPatience);
    ASSERT_TRUE(zorvik && sim) << script.err;

    X11Desktop desktop(field->display().name());
    const auto frame = desktop.waitForWindow(*zorvik, "zorvik", kPatience);
    ASSERT_TRUE(frame.has_value()) << script.err;
    const auto target = desktop.waitForWindow(::getpid(), "", 5s);
    ASSERT_TRUE(target.has_value());

    // Three values or so (one a second): enough to see several whole lines.
    constexpr std::size_t kEnough = 14;
    const std::string typed = field->type(
        [&] {
            desktop.focus(*frame);
            desktop.altKey(XK_t);  // Start
            desktop.focus(*target);
            field->waitForLength(kEnough, 15s);
        },
        std::string(kEnough, '.'));
    std::istringstream lines(typed);
    std::vector<double> values;
    for (std::string line; std::getline(lines, line);) {
        if (lines.eof()) break;  // the last line may still be coming
        ASSERT_TRUE(std::regex_match(line, std::regex("[0-9]+(\\.[0-9]+)?"))) << typed;
        values.push_back(std::stod(line));
    }
    ASSERT_GE(values.size(), 2u) << typed << "\n" << script.err;
    for (const double value : values) {
        EXPECT_GE(value, 10.0) << typed;
        EXPECT_LE(value, 100.0) << typed;
    }

    // Closed as a window manager closes it: the output stops, the script ends and takes the simulator along.
    desktop.askToClose(*frame);
    EXPECT_EQ(script.wait(kPatience), 0) << script.err;
    EXPECT_TRUE(::kill(*sim, 0) != 0 && errno == ESRCH) << "zorvik-sim is still running";
}

}  // namespace
