// The smallest program that can be called a keyboard wedge, as the yardstick of KeyLatencyBench: it reads
// the terminal one byte per blocking read() and types each byte at once through XTest (digits, point,
// minus; a carriage return as Return; everything else is skipped). No line assembly, no expression, no
// second thread.
//   ReferenceWedge TTY      (the display from $DISPLAY)
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

namespace {

KeySym keysymOf(unsigned char c) {
    if (c >= '0' && c <= '9') return XK_0 + (c - '0');
    if (c == '.') return XK_period;
    if (c == '-') return XK_minus;
    if (c == '\r') return XK_Return;
    return NoSymbol;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: ReferenceWedge TTY\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "ReferenceWedge: no X display\n");
        return 1;
    }
    const int fd = open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &t);

    unsigned char c = 0;
    while (read(fd, &c, 1) == 1) {
        const KeySym keysym = keysymOf(c);
        if (keysym == NoSymbol) continue;
        const KeyCode keycode = XKeysymToKeycode(display, keysym);
        XTestFakeKeyEvent(display, keycode, True, CurrentTime);
        XTestFakeKeyEvent(display, keycode, False, CurrentTime);
        XFlush(display);
    }
    XCloseDisplay(display);
    return 0;
}
