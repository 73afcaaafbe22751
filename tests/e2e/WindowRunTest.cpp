// The window at work: the real zorvik on a zorvik-sim terminal under a private Xvfb, started and stopped
// through its mnemonics, typing into a Qt text field of this program, closed as a window manager closes it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TypingWindow.h"

// Last: Xlib's macros break the headers above.
#include "support/X11Desktop.h"

namespace {

using namespace std::chrono_literals;
using rszorvik::test::ChildProcess;
using rszorvik::test::TypingWindow;
using rszorvik::test::X11Desktop;
namespace fs = std::filesystem;

constexpr auto kPatience = 20s;  // a limit for a hung child, not a timing check

TEST(WindowRun, StartTypeStopAndClose) {
    TypingWindow* field = TypingWindow::instance();
    if (field == nullptr) GTEST_SKIP() << "Xvfb is not installed";
    field->setLayout("us");

    // A throw-away settings location with the settings of this run.
    const fs::path home = fs::temp_directory_path() / ("zorvik-e2e-window-" + std::to_string(::getpid()));
    fs::remove_all(home);
    fs::create_directories(home / "vexlune" / "zorvik");
    {
        std::ofstream prefs(home / "vexlune" / "zorvik" / "prefs.txt");
        for (const char* setting :
             {"instrument=GENERIC", "inputTerminator=13", "delay=1", "outputTerminator=TAB",
              "outputTerminator2=ENTER", "everyXValues=2", "ignoreDuplicates=true"})
            prefs << "com.vexlune.zorvik." << setting << '\n';
    }
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);

    // The values come slowly enough that Stop lands between the fifth and the sixth; the first waits until
    // the focus is in the field.
    ChildProcess sim({ZORVIK_SIM_PATH, "--quiet", "--format", "generic", "--values", "1,2,2,3,4,9",
                      "--interval-ms", "700", "--settle-ms", "1500"});
    const std::string pty = sim.firstLine(kPatience);
    ASSERT_FALSE(pty.empty()) << sim.err;

    ChildProcess zorvik({ZORVIK_ZORVIK_PATH, pty});
    X11Desktop desktop(field->display().name());
    const auto frame = desktop.waitForWindow(zorvik.processId(), "zorvik", kPatience);
    ASSERT_TRUE(frame.has_value()) << zorvik.err;
    const auto target = desktop.waitForWindow(::getpid(), "", 5s);
    ASSERT_TRUE(target.has_value());

    const std::string expected = "1\t2\n3\t4\n";  // the repeated 2 suppressed, Enter after every second
    const std::string typed = field->type(
        [&] {
            desktop.focus(*frame);
            desktop.altKey(XK_t);  // Start
            desktop.focus(*target);
            if (!field->waitForLength(expected.size(), 15s)) return;
            desktop.focus(*frame);
            desktop.altKey(XK_p);  // Stop, before the sixth value arrives
            std::this_thread::sleep_for(1500ms);
        },
        expected);
    EXPECT_EQ(typed, expected) << zorvik.err;

    desktop.askToClose(*frame);
    EXPECT_EQ(zorvik.wait(kPatience), 0) << zorvik.err;
    unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(home);
}

// The instrument is unplugged for 3 s between its third and fourth value and comes back under the same
// link: with reconnect on, the window goes on by itself, typing every value once, in order.
TEST(WindowRun, KeepsTypingThroughAnUnplug) {
    TypingWindow* field = TypingWindow::instance();
    if (field == nullptr) GTEST_SKIP() << "Xvfb is not installed";
    field->setLayout("us");

    const std::string tag = std::to_string(::getpid());
    const fs::path home = fs::temp_directory_path() / ("zorvik-e2e-window-reconnect-" + tag);
    const fs::path link = fs::temp_directory_path() / ("zorvik-e2e-window-reconnect-" + tag + ".tty");
    fs::remove_all(home);
    fs::remove(link);
    fs::create_directories(home / "vexlune" / "zorvik");
    {
        std::ofstream prefs(home / "vexlune" / "zorvik" / "prefs.txt");
        for (const char* setting : {"instrument=GENERIC", "inputTerminator=13", "delay=1",
                                    "outputTerminator=ENTER", "reconnect=true"})
            prefs << "com.vexlune.zorvik." << setting << '\n';
    }
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);

    // The first value waits until the focus is in the field.
    ChildProcess sim({ZORVIK_SIM_PATH, "--format", "generic", "--values", "1,2,3,4,5,6", "--interval-ms",
                      "200", "--settle-ms", "1500", "--link", link.string(), "--unplug-after", "3",
                      "--unplug-ms", "3000"});
    ASSERT_FALSE(sim.firstLine(kPatience).empty()) << sim.err;
    ChildProcess zorvik({ZORVIK_ZORVIK_PATH, link.string()});
    X11Desktop desktop(field->display().name());
    const auto frame = desktop.waitForWindow(zorvik.processId(), "zorvik", kPatience);
    ASSERT_TRUE(frame.has_value()) << zorvik.err;
    const auto target = desktop.waitForWindow(::getpid(), "", 5s);
    ASSERT_TRUE(target.has_value());

    const std::string expected = "1\n2\n3\n4\n5\n6\n";
    const std::string typed = field->type(
        [&] {
            desktop.focus(*frame);
            desktop.altKey(XK_t);  // Start
            desktop.focus(*target);
            if (!field->waitForLength(expected.size(), 15s)) return;
            desktop.focus(*frame);
            desktop.altKey(XK_p);  // Stop, while the run waits for the instrument that has left for good
            std::this_thread::sleep_for(1500ms);
        },
        expected);
    EXPECT_EQ(typed, expected) << zorvik.err << sim.err;
    EXPECT_EQ(sim.wait(kPatience), 0) << sim.err;

    desktop.askToClose(*frame);
    EXPECT_EQ(zorvik.wait(kPatience), 0) << zorvik.err;
    unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(home);
}

}  // namespace
