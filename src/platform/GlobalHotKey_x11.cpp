// The hot key on an X server: a passive grab of the combination on the root window, on a connection of
// its own that a thread of ours reads.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/GlobalHotKey.h"

namespace rszorvik::platform {

namespace {

// Xlib's handlers are process-wide and its default ones end the process. Ours take the errors of the
// hot keys' connections and hand every other one to the handler that was there before (the keyboard
// output's, or Xlib's).
struct Handlers {
    std::mutex mutex;
    std::map<Display*, int> lastError;  // per hot key connection: the last error code, 0 for none
    std::map<Display*, bool> lost;
    XErrorHandler previousError = nullptr;
    XIOErrorHandler previousIoError = nullptr;
};

Handlers& handlers() {
    static Handlers* const instance = new Handlers;  // used by Xlib until the process ends
    return *instance;
}

int onError(Display* display, XErrorEvent* event) {
    Handlers& h = handlers();
    XErrorHandler previous;
    {
        std::lock_guard lock(h.mutex);
        const auto it = h.lastError.find(display);
        if (it != h.lastError.end()) {
            it->second = event->error_code;
            return 0;
        }
        previous = h.previousError;
    }
    return previous ? previous(display, event) : 0;
}

int onIoError(Display* display) {
    Handlers& h = handlers();
    XIOErrorHandler previous;
    {
        std::lock_guard lock(h.mutex);
        if (h.lost.contains(display)) {
            h.lost[display] = true;
            return 0;
        }
        previous = h.previousIoError;
    }
    return previous ? previous(display) : 0;
}

// Instead of exit(): Xlib returns, and the reading thread ends.
void onIoErrorExit(Display* display, void*) {
    Handlers& h = handlers();
    std::lock_guard lock(h.mutex);
    h.lost[display] = true;
}

void installHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        Handlers& h = handlers();
        std::lock_guard lock(h.mutex);
        h.previousError = XSetErrorHandler(onError);
        h.previousIoError = XSetIOErrorHandler(onIoError);
    });
}

KeySym keysymOf(const std::string& key) {
    static const std::map<std::string_view, KeySym> named{
        {"Space", XK_space}, {"Insert", XK_Insert},          {"Delete", XK_Delete}, {"Home", XK_Home},
        {"End", XK_End},     {"PageUp", XK_Prior},           {"PageDown", XK_Next}, {"Pause", XK_Pause},
        {"Print", XK_Print}, {"ScrollLock", XK_Scroll_Lock},
    };
    if (key.size() == 1 && key[0] >= 'A' && key[0] <= 'Z') return XK_a + static_cast<KeySym>(key[0] - 'A');
    if (key.size() == 1 && key[0] >= '0' && key[0] <= '9') return XK_0 + static_cast<KeySym>(key[0] - '0');
    if (key.size() > 1 && key[0] == 'F') return XK_F1 + static_cast<KeySym>(std::atoi(key.c_str() + 1) - 1);
    const auto it = named.find(key);
    return it == named.end() ? NoSymbol : it->second;
}

bool onWayland() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* session = std::getenv("XDG_SESSION_TYPE");
    return (wayland != nullptr && wayland[0] != '\0') ||
           (session != nullptr && std::string_view(session) == "wayland");
}

class X11GlobalHotKey final : public GlobalHotKey {
  public:
    X11GlobalHotKey(const base::HotKey& key, std::function<void()> press) : onPress(std::move(press)) {
        installHandlers();
        display = XOpenDisplay(nullptr);
        if (display == nullptr) {
            const char* name = std::getenv("DISPLAY");
            throw HotKeyUnavailable(HotKeyUnavailable::Reason::NoDesktop,
                                    "Cannot open the X display \"" + std::string(name ? name : "") + "\"");
        }
        XSetIOErrorExitHandler(display, onIoErrorExit, nullptr);
        {
            std::lock_guard lock(handlers().mutex);
            handlers().lastError[display] = 0;
            handlers().lost[display] = false;
        }
        root = DefaultRootWindow(display);
        const KeySym keysym = keysymOf(key.key);
        keycode = keysym == NoSymbol ? 0 : XKeysymToKeycode(display, keysym);
        if (keycode == 0) {
            release();
            throw HotKeyUnavailable(HotKeyUnavailable::Reason::NoSuchKey, "No key " + key.key);
        }
        grab(key.modifiers);
        XkbSetDetectableAutoRepeat(display, True, nullptr);
        wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd < 0) {
            const int error = errno;
            release();
            throw HotKeyUnavailable(HotKeyUnavailable::Reason::NoDesktop,
                                    "eventfd: " + std::string(std::strerror(error)));
        }
        reader = std::thread([this] { read(); });
    }

    ~X11GlobalHotKey() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd, &one, sizeof one);
        reader.join();
        ::close(wakeFd);
        release();
    }

    X11GlobalHotKey(const X11GlobalHotKey&) = delete;
    X11GlobalHotKey& operator=(const X11GlobalHotKey&) = delete;

    Reach reach() const override { return onWayland() ? Reach::X11WindowsOnly : Reach::Everywhere; }

  private:
    // The combination with Caps Lock and Num Lock on or off: a grab matches its modifiers exactly.
    void grab(unsigned modifiers) {
        unsigned mask = 0;
        if (modifiers & base::HotKey::kCtrl) mask |= ControlMask;
        if (modifiers & base::HotKey::kAlt) mask |= Mod1Mask;
        if (modifiers & base::HotKey::kShift) mask |= ShiftMask;
        if (modifiers & base::HotKey::kSuper) mask |= Mod4Mask;
        const unsigned numLock = numLockMask();
        for (unsigned locks : {0U, static_cast<unsigned>(LockMask), numLock, numLock | LockMask}) {
            const unsigned combination = mask | locks;
            if (std::find(grabbed.begin(), grabbed.end(), combination) != grabbed.end()) continue;
            XGrabKey(display, keycode, combination, root, False, GrabModeAsync, GrabModeAsync);
            grabbed.push_back(combination);
        }
        XSync(display, False);
        int error = 0;
        {
            std::lock_guard lock(handlers().mutex);
            error = handlers().lastError[display];
        }
        if (error == 0) return;
        release();
        if (error == BadAccess)
            throw HotKeyUnavailable(HotKeyUnavailable::Reason::Taken, "The combination is taken");
        throw HotKeyUnavailable(HotKeyUnavailable::Reason::NoDesktop,
                                "The X server refused the grab (error " + std::to_string(error) + ")");
    }

    unsigned numLockMask() const {
        const KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
        XModifierKeymap* map = XGetModifierMapping(display);
        unsigned mask = 0;
        if (map != nullptr && numLock != 0) {
            for (int modifier = 0; modifier < 8; ++modifier)
                for (int k = 0; k < map->max_keypermod; ++k)
                    if (map->modifiermap[modifier * map->max_keypermod + k] == numLock) mask = 1U << modifier;
        }
        if (map != nullptr) XFreeModifiermap(map);
        return mask;
    }

    bool lost() const {
        std::lock_guard lock(handlers().mutex);
        return handlers().lost[display];
    }

    void read() {
        bool down = false;
        for (;;) {
            std::array<pollfd, 2> fds{{{ConnectionNumber(display), POLLIN, 0}, {wakeFd, POLLIN, 0}}};
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents != 0) return;
            // A connection that broke reports it here, through the handlers.
            while (!lost() && XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
                if (event.type == KeyPress && event.xkey.keycode == keycode) {
                    // Auto-repeat comes as more presses without releases: one request per press.
                    if (!down) onPress();
                    down = true;
                } else if (event.type == KeyRelease && event.xkey.keycode == keycode) {
                    down = false;
                }
            }
            if (lost() || (fds[0].revents & (POLLHUP | POLLERR)) != 0) return;
        }
    }

    void release() {
        if (!lost()) {
            for (unsigned combination : grabbed)
                XUngrabKey(display, keycode, combination, root);
            XCloseDisplay(display);
        }
        std::lock_guard lock(handlers().mutex);
        handlers().lastError.erase(display);
        handlers().lost.erase(display);
    }

    std::function<void()> onPress;
    Display* display = nullptr;
    Window root = 0;
    KeyCode keycode = 0;
    std::vector<unsigned> grabbed;
    int wakeFd = -1;
    std::thread reader;
};

}  // namespace

std::unique_ptr<GlobalHotKey> GlobalHotKey::create(const base::HotKey& key, std::function<void()> onPress) {
    return std::make_unique<X11GlobalHotKey>(key, std::move(onPress));
}

}  // namespace rszorvik::platform
