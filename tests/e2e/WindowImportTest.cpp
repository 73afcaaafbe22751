// Importing settings in the real zorvik under a private Xvfb, worked with the keyboard: the Settings page,
// the import button, the file chooser and the restart question. The export comes from zorvik-cli, so the
// two front ends share their files as well as their store.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/XvfbDisplay.h"

// Last: Xlib's macros break the headers above.
#include "support/X11Desktop.h"

namespace {

using namespace std::chrono_literals;
using rszorvik::test::ChildProcess;
using rszorvik::test::readFile;
using rszorvik::test::writeFile;
using rszorvik::test::X11Desktop;
using rszorvik::test::XvfbDisplay;
namespace fs = std::filesystem;

constexpr auto kPatience = 20s;  // a limit for a hung child, not a timing check

bool holds(const fs::path& file, const std::string& setting) {
    return readFile(file).find("com.vexlune.zorvik." + setting + "\n") != std::string::npos;
}

TEST(WindowImport, OkEndsWithFourAndTheNextStartShowsTheImport) {
    if (!XvfbDisplay::available()) {
        if (XvfbDisplay::required()) FAIL() << "Xvfb is not installed (CI is set)";
        GTEST_SKIP() << "Xvfb is not installed";
    }
    const XvfbDisplay xvfb;
    X11Desktop desktop(xvfb.name());
    const rszorvik::test::TempDir dir("zorvik-e2e-import");
    const fs::path prefs = dir / "config" / "vexlune" / "zorvik" / "prefs.txt";
    fs::create_directories(prefs.parent_path());
    writeFile(prefs,
              "com.vexlune.zorvik.bitRate=7\ncom.vexlune.zorvik.delay=20\n"
              "com.vexlune.zorvik.checkForUpdates=false\n");
    const fs::path exported = dir / "in.xml";
    ChildProcess cli({ZORVIK_CLI_PATH, "--prefs", (dir / "other.txt").string(), "settings", "--set",
                      "bitRate=2", "--set", "delay=55", "--set", "checkForUpdates=false", "--export",
                      exported.string()});
    ASSERT_EQ(cli.wait(kPatience), 0) << cli.err;

    // A port on the command line: no discovery, and the closing save writes it, which shows it ran.
    const std::vector<std::string> window{"/usr/bin/env",
                                          "-u",
                                          "ProgramData",
                                          "-u",
                                          "QT_QPA_PLATFORMTHEME",  // Qt's own chooser, not a desktop's
                                          "-u",
                                          "XDG_CURRENT_DESKTOP",
                                          "-u",
                                          "ZORVIK_UNATTENDED",
                                          "QT_QPA_PLATFORM=xcb",
                                          "DISPLAY=" + xvfb.name(),
                                          "ZORVIK_LANGUAGE=en",
                                          "XDG_CONFIG_HOME=" + (dir / "config").string(),
                                          ZORVIK_ZORVIK_PATH,
                                          "/dev/zorvik-test-port"};
    {
        ChildProcess zorvik(window);
        const auto frame = desktop.waitForWindow(zorvik.processId(), "zorvik", kPatience);
        ASSERT_TRUE(frame.has_value()) << zorvik.err;
        desktop.focus(*frame);
        desktop.altKey(XK_g);  // the Settings page
        std::this_thread::sleep_for(300ms);
        desktop.altKey(XK_m);  // Import settings
        const auto chooser = desktop.waitForWindow(zorvik.processId(), "", kPatience, *frame);
        ASSERT_TRUE(chooser.has_value()) << zorvik.err;
        std::this_thread::sleep_for(500ms);  // the chooser reads its folder before it takes keys
        desktop.focus(*chooser);
        desktop.type(exported.string());
        std::optional<Window> question;
        // The first Return may only close the name completion's list.
        for (int i = 0; i < 3 && !question; ++i) {
            desktop.tap(XK_Return);
            question = desktop.waitForWindow(zorvik.processId(), "Restart required", 3s);
        }
        ASSERT_TRUE(question.has_value()) << zorvik.err;
        desktop.focus(*question);
        desktop.tap(XK_Return);  // OK
        ASSERT_EQ(zorvik.wait(kPatience), 4) << zorvik.err;
    }
    EXPECT_TRUE(holds(prefs, "bitRate=2")) << readFile(prefs);
    EXPECT_TRUE(holds(prefs, "delay=55")) << readFile(prefs);
    EXPECT_FALSE(holds(prefs, "port=/dev/zorvik-test-port")) << "no closing save after OK";

    ChildProcess next(window);
    const auto frame = desktop.waitForWindow(next.processId(), "zorvik", kPatience);
    ASSERT_TRUE(frame.has_value()) << next.err;
    desktop.askToClose(*frame);
    ASSERT_EQ(next.wait(kPatience), 0) << next.err;
    // The closing save wrote what the window showed: the imported settings.
    EXPECT_TRUE(holds(prefs, "port=/dev/zorvik-test-port")) << readFile(prefs);
    EXPECT_TRUE(holds(prefs, "bitRate=2")) << readFile(prefs);
    EXPECT_TRUE(holds(prefs, "delay=55")) << readFile(prefs);
}

}  // namespace
