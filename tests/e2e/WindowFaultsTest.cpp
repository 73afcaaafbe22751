// The window under faults, as an adversary would cause them: the real zorvik on a private Xvfb with the
// automatic start, typing slowly what zorvik-sim sends on a pseudo-terminal, while its X server dies, a
// stop signal or the close button comes mid-typing, or another program saves the settings. Every case
// checks how the program ends, that no key stays down and that no value vanishes without a line naming it.
// (A flooding instrument is WindowFloodBench's: what it measures is memory and time.)
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/XvfbDisplay.h"
#include "worker/WeightWorker.h"

// Last: Xlib's macros break the headers above.
#include "support/X11Desktop.h"

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

namespace {

using namespace std::chrono_literals;
using rszorvik::test::ChildProcess;
using rszorvik::test::readFile;
using rszorvik::test::X11Desktop;
using rszorvik::test::XvfbDisplay;
using rszorvik::worker::WeightWorker;
namespace fs = std::filesystem;

constexpr auto kPatience = 30s;  // a limit for a hung child, not a timing check

enum class Fault {
    XServerLost,   // the X server is killed while values wait to be typed
    Signal,        // a stop signal while a key is held down
    Close,         // the close button while a key is held down
    SettingsSaved  // zorvik-cli saves a setting while the untouched window is open, then it closes
};

struct FaultCase {
    std::string name;
    Fault fault;
    int signal;     // Fault::Signal
    int status;     // how the window ends
    bool notTyped;  // standard error names the values received but not typed
    bool saved;     // the window's settings reached the file (keys it had not stored before)
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class WindowFaults : public ::testing::TestWithParam<FaultCase> {
  protected:
    fs::path prefsFile() const { return home / "vexlune" / "zorvik" / "prefs.txt"; }

    void storeSettings(const std::vector<std::string>& settings) {
        std::string text;
        for (const auto& setting : settings)
            text += "com.vexlune.zorvik." + setting + "\n";
        rszorvik::test::writeFile(prefsFile(), text);
    }

    std::unique_ptr<ChildProcess> startWindow(const XvfbDisplay& xvfb, const std::string& port) {
        return std::make_unique<ChildProcess>(std::vector<std::string>{
            "/usr/bin/env", "-u", "XDG_CONFIG_HOME", "ZORVIK_UNATTENDED=1", "QT_QPA_PLATFORM=xcb",
            "DISPLAY=" + xvfb.name(), "ProgramData=" + home.path().string(), ZORVIK_ZORVIK_PATH, port});
    }

    rszorvik::test::TempDir home{"zorvik-e2e-faults"};
};

// Xlib ends the process when a connection whose server died is closed: such a connection is kept, unused.
void abandon(std::unique_ptr<X11Desktop> desktop) {
    static auto* const abandoned = new std::vector<X11Desktop*>;
    abandoned->push_back(desktop.release());
}

// Waits until zorvik has pressed a few keys and holds one down: it is typing in the middle of a value, and
// values received meanwhile wait for their turn.
bool awaitKeyDown(X11Desktop& desktop, ChildProcess& window) {
    int presses = 0;
    bool down = false;
    return window.collectUntil(
        [&] {
            const bool now = !desktop.keysDown().empty();
            if (now && !down) ++presses;
            down = now;
            return down && presses >= 3;
        },
        kPatience);
}

TEST_P(WindowFaults, EndCleanly) {
    const FaultCase& c = GetParam();
    if (!XvfbDisplay::available()) {
        if (XvfbDisplay::required()) FAIL() << "Xvfb is not installed (CI is set)";
        GTEST_SKIP() << "Xvfb is not installed";
    }
    // Each key pressed and released with a long pause, so that values queue up and a key is often down.
    storeSettings({"instrument=GENERIC", "inputTerminator=13", "outputTerminator=ENTER", "delay=150",
                   "checkForUpdates=false", "minimizeToTray=false",
                   "abortAutoStartWhenPrevPortNotAvailable=false",
                   std::string("connect=") + (c.fault == Fault::SettingsSaved ? "MANUAL" : "AUTO")});
    auto xvfb = std::make_unique<XvfbDisplay>();
    auto desktopOwner = std::make_unique<X11Desktop>(xvfb->name());
    X11Desktop& desktop = *desktopOwner;

    ChildProcess sim({ZORVIK_SIM_PATH, "--quiet", "--interval-ms", "30", "--format", "generic", "--values",
                      "1.5,2,3.25", "--count", "0"});
    const std::string port = sim.firstLine(kPatience);
    ASSERT_FALSE(port.empty()) << sim.err;
    auto window = startWindow(*xvfb, port);
    const auto frame = desktop.waitForWindow(window->processId(), "zorvik", kPatience);
    ASSERT_TRUE(frame.has_value()) << window->err;

    int status = -1;
    switch (c.fault) {
        case Fault::XServerLost:
            ASSERT_TRUE(awaitKeyDown(desktop, *window)) << window->err;
            abandon(std::move(desktopOwner));
            xvfb.reset();
            status = window->wait(kPatience);
            break;
        case Fault::Signal:
            ASSERT_TRUE(awaitKeyDown(desktop, *window)) << window->err;
            window->signal(c.signal);
            status = window->wait(kPatience);
            break;
        case Fault::Close:
            ASSERT_TRUE(awaitKeyDown(desktop, *window)) << window->err;
            desktop.askToClose(*frame);
            status = window->wait(kPatience);
            break;
        case Fault::SettingsSaved: {
            ChildProcess cli({ZORVIK_CLI_PATH, "--prefs", prefsFile().string(), "settings", "--set",
                              "delay=77", "--set", "bitRate=3", "--save"});
            ASSERT_EQ(cli.wait(kPatience), 0) << cli.err;
            desktop.askToClose(*frame);
            status = window->wait(kPatience);
            const std::string stored = readFile(prefsFile());
            EXPECT_NE(stored.find("com.vexlune.zorvik.delay=77\n"), std::string::npos) << stored;
            EXPECT_NE(stored.find("com.vexlune.zorvik.bitRate=3\n"), std::string::npos) << stored;
            break;
        }
    }
    EXPECT_EQ(status, c.status) << window->err;

    if (xvfb) {
        EXPECT_EQ(desktop.keysDown(), std::vector<int>{}) << "a key stayed down\n" << window->err;
    }
    const std::string notTyped = WeightWorker::text("values.not.typed") + " \"";
    EXPECT_EQ(window->err.find(notTyped) != std::string::npos, c.notTyped) << window->err;
    const std::string stored = readFile(prefsFile());
    EXPECT_EQ(stored.find("com.vexlune.zorvik.parity=") != std::string::npos, c.saved) << stored;
    sim.signal(SIGTERM);
    sim.wait(kPatience);
}

INSTANTIATE_TEST_SUITE_P(Window, WindowFaults,
                         ::testing::Values(FaultCase{"XServerLost", Fault::XServerLost, 0, 1, true, true},
                                           FaultCase{"SIGTERM", Fault::Signal, SIGTERM, 0, true, true},
                                           FaultCase{"SIGHUP", Fault::Signal, SIGHUP, 0, true, true},
                                           FaultCase{"SIGINT", Fault::Signal, SIGINT, 0, true, true},
                                           FaultCase{"CloseButton", Fault::Close, 0, 0, true, true},
                                           FaultCase{"SettingsSavedElsewhere", Fault::SettingsSaved, 0, 0,
                                                     false, true}),
                         [](const auto& param) { return param.param.name; });

}  // namespace
