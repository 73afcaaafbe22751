#pragma once

// The test's view of a private X server without a window manager: finds the windows of a process, moves
// the focus, presses keys and asks a window to close, as a user would. Xlib's macros (Bool, Status, None)
// break Qt and GoogleTest headers included after it: include this last.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// clang-format off
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
// clang-format on

namespace rszorvik::test {

class X11Desktop {
  public:
    explicit X11Desktop(const std::string& display) : dpy(XOpenDisplay(display.c_str())) {
        if (dpy == nullptr) throw std::runtime_error("cannot open " + display);
        // A window that goes between listing and asking about it (a closing dialog) is no reason to end
        // the test, which is what Xlib's own handler does; the failed request answers "not found".
        XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    }
    ~X11Desktop() { XCloseDisplay(dpy); }
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    // The mapped top-level window of the process whose title holds `title`, other than `except` (a dialog
    // beside a known window); waits for it to appear.
    std::optional<Window> waitForWindow(pid_t pid, const std::string& title,
                                        std::chrono::milliseconds patience, Window except = None) {
        const auto end = std::chrono::steady_clock::now() + patience;
        while (std::chrono::steady_clock::now() < end) {
            if (const auto found = find(pid, title, except)) return found;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return std::nullopt;
    }

    // Moves the focus to the window and waits until it stays there: a client that is still showing a
    // window may move the focus to another of its own.
    void focus(Window window) {
        for (int i = 0; i < 10; ++i) {
            XSetInputFocus(dpy, window, RevertToParent, CurrentTime);
            XSync(dpy, False);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the client activates
            if (focused() == window) return;
        }
    }

    Window focused() {
        Window window = None;
        int revert = 0;
        XGetInputFocus(dpy, &window, &revert);
        return window;
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

    // Types the text key by key, as a quick typist: letters (capitals with Shift), digits and the
    // characters on unshifted keys ("/.-"), whose keysym is their Latin-1 code.
    void type(const std::string& text) {
        const KeyCode shift = XKeysymToKeycode(dpy, XK_Shift_L);
        for (const char c : text) {
            const bool capital = c >= 'A' && c <= 'Z';
            const auto symbol = static_cast<KeySym>(static_cast<unsigned char>(capital ? c - 'A' + 'a' : c));
            const KeyCode key = XKeysymToKeycode(dpy, symbol);
            if (key == 0) throw std::runtime_error(std::string("no key for ") + c);
            if (capital) XTestFakeKeyEvent(dpy, shift, True, CurrentTime);
            XTestFakeKeyEvent(dpy, key, True, CurrentTime);
            XTestFakeKeyEvent(dpy, key, False, CurrentTime);
            if (capital) XTestFakeKeyEvent(dpy, shift, False, CurrentTime);
            XSync(dpy, False);
            // A burst loses keys while the typed text opens a popup that grabs the keyboard.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    void tap(KeySym symbol) {
        const KeyCode key = XKeysymToKeycode(dpy, symbol);
        XTestFakeKeyEvent(dpy, key, True, CurrentTime);
        XTestFakeKeyEvent(dpy, key, False, CurrentTime);
        XSync(dpy, False);
    }

    // The keycodes the server holds down at this moment, whoever pressed them.
    std::vector<int> keysDown() {
        char keys[32] = {};
        XQueryKeymap(dpy, keys);
        std::vector<int> down;
        for (int code = 0; code < 256; ++code)
            if ((keys[code / 8] >> (code % 8)) & 1) down.push_back(code);
        return down;
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
    std::optional<Window> find(pid_t pid, const std::string& title, Window other) {
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count)) return std::nullopt;
        std::optional<Window> found;
        for (unsigned int i = 0; i < count && !found; ++i)
            if (children[i] != other && viewable(children[i]) && pidOf(children[i]) == pid &&
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

}  // namespace rszorvik::test
