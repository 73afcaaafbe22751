// Minimise to tray with a real tray host: the window under a private Xvfb with trayer as the system tray.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSystemTrayIcon>
#include <QTest>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "app/RevareRiDevFrame2.h"
#include "support/ChildProcess.h"
#include "support/XvfbDisplay.h"

// clang-format off
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
// clang-format on

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

namespace {

using namespace std::chrono_literals;
using rszorvik::RevareRiDevFrame2;
using rszorvik::test::ChildProcess;
using rszorvik::test::XvfbDisplay;

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds patience) {
    const auto end = std::chrono::steady_clock::now() + patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QTest::qWait(20);
    }
    return true;
}

bool onPath(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(WindowTray, MinimisedIntoTheTrayAndBackByDoubleClick) {
    if (!XvfbDisplay::available() || !onPath("trayer")) GTEST_SKIP() << "Xvfb or trayer is not installed";
    XvfbDisplay xvfb;
    setenv("DISPLAY", xvfb.name().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    ChildProcess tray({"/usr/bin/env", "trayer", "--edge", "top", "--align", "right", "--widthtype",
                       "request", "--height", "32"});
    int argc = 1;
    char name[] = "zorvik-tray-test";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    ASSERT_TRUE(waitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10s)) << tray.err;

    rszorvik::config::Config config;
    config.notifyWhenMinimizedToTray = true;
    RevareRiDevFrame2 frame(config, {});
    frame.addMinimizeToTraySupport();
    ASSERT_NE(frame.trayIcon(), nullptr);
    EXPECT_EQ(frame.trayIcon()->toolTip(), QStringLiteral("zorvik"));
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    EXPECT_FALSE(frame.trayIcon()->isVisible());

    frame.showMinimized();
    ASSERT_TRUE(waitUntil([&] { return !frame.isVisible() && frame.trayIcon()->isVisible(); }, 5s));
    // The icon sits in trayer's panel: double-click it there, as a user would.
    QRect icon;
    ASSERT_TRUE(waitUntil(
        [&] {
            icon = frame.trayIcon()->geometry();
            return icon.isValid() && !icon.isEmpty();
        },
        5s));
    Display* dpy = XOpenDisplay(xvfb.name().c_str());
    ASSERT_NE(dpy, nullptr);
    XTestFakeMotionEvent(dpy, -1, icon.center().x(), icon.center().y(), CurrentTime);
    for (int click = 0; click < 2; ++click) {
        XTestFakeButtonEvent(dpy, 1, True, CurrentTime);
        XTestFakeButtonEvent(dpy, 1, False, CurrentTime);
    }
    XSync(dpy, False);
    XCloseDisplay(dpy);
    EXPECT_TRUE(waitUntil([&] { return frame.isVisible() && !frame.isMinimized(); }, 5s));
    EXPECT_TRUE(waitUntil([&] { return !frame.trayIcon()->isVisible(); }, 2s));

    // Manual start takes the support away: minimising no longer hides the window.
    frame.removeMinimizeToTraySupport();
    frame.showMinimized();
    QTest::qWait(300);
    EXPECT_TRUE(frame.isVisible());
    EXPECT_FALSE(frame.trayIcon()->isVisible());
}

}  // namespace
