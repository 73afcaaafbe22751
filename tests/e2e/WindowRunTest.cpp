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

// Xlib's macros (Bool, Status, None) break Qt and GoogleTest headers included after it.
// clang-format off
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
// clang-format on

namespace {

using namespace std::chrono_literals;
using rszorvik::test::ChildProcess;
using rszorvik::test::TypingWindow;
namespace fs = std::filesystem;

constexpr auto kPatience = 20s;  // a limit for a hung child, not a timing check

// The test's own connection to the X server: finds windows by process, moves the focus, presses keys and
// asks a window to close, as a user with a window manager would.
class Desktop {
  public:
    explicit Desktop(const std::string& display) : dpy(XOpenDisplay(display.c_str())) {
        if (dpy == nullptr) throw std::runtime_error("cannot open " + display);
    }
    ~Desktop() { XCloseDisplay(dpy); }
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // The mapped top-level window of the process whose title holds `title`; waits for it to appear.
    std::optional<Window> waitForWindow(pid_t pid, const std::string& title,
                                        std::chrono::milliseconds patience) {
        const auto end = std::chrono::steady_clock::now() + patience;
        while (std::chrono::steady_clock::now() < end) {
            if (const auto found = find(pid, title)) return found;
            std::this_thread::sleep_for(50ms);
        }
        return std::nullopt;
    }

    void focus(Window window) {
        XSetInputFocus(dpy, window, RevertToParent, CurrentTime);
        XSync(dpy, False);
        std::this_thread::sleep_for(200ms);  // the client takes the focus event and activates
    }

    // Alt held, the letter's key tapped.
    void altKey(KeySym letter) {
        const KeyCode alt = XKeysymToKeycode(dpy, XK_Alt_L);
        const KeyCode key = XKeysymToKeycode(dpy, letter);
        XTestFakeKeyEvent(dpy, alt, True, CurrentTime);
        XTestFakeKeyEvent(dpy, key, True, CurrentTime);
        XTestFakeKeyEvent(dpy, key, False, CurrentTime);
        XTestFakeKeyEvent(dpy, alt, False, CurrentTime);
        XSync(dpy, False);
    }

    // WM_DELETE_WINDOW, as the close button of a window manager sends it.
    void askToClose(Window window) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(dpy, window, False, NoEventMask, &event);
        XSync(dpy, False);
    }

  private:
    std::optional<Window> find(pid_t pid, const std::string& title) {
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count)) return std::nullopt;
        std::optional<Window> found;
        for (unsigned int i = 0; i < count && !found; ++i)
            if (viewable(children[i]) && pidOf(children[i]) == pid &&
                titleOf(children[i]).find(title) != std::string::npos)
                found = children[i];
        if (children) XFree(children);
        return found;
    }

    bool viewable(Window window) {
        XWindowAttributes attributes{};
        return XGetWindowAttributes(dpy, window, &attributes) && attributes.map_state == IsViewable;
    }

    long pidOf(Window window) {
        Atom type = 0;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        long pid = -1;
        if (XGetWindowProperty(dpy, window, XInternAtom(dpy, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL,
                               &type, &format, &items, &after, &data) == Success &&
            data != nullptr && items == 1)
            pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
        if (data) XFree(data);
        return pid;
    }

    std::string titleOf(Window window) {
        char* name = nullptr;
        std::string title;
        if (XFetchName(dpy, window, &name) && name != nullptr) title = name;
        if (name) XFree(name);
        return title;
    }

    Display* dpy;
};

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

    ChildProcess zorvik({ZORVIK_APP_PATH, pty});
    Desktop desktop(field->display().name());
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

}  // namespace
