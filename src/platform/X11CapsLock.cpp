#include "platform/X11CapsLock.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <memory>
#include <stdexcept>

namespace rszorvik::platform {

bool x11CapsLockOn(const std::string& displayName) {
    std::unique_ptr<Display, int (*)(Display*)> display(
        XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str()), &XCloseDisplay);
    if (!display) throw std::runtime_error("Cannot open the X display");
    int opcode = 0, event = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    if (!XkbQueryExtension(display.get(), &opcode, &event, &error, &major, &minor))
        throw std::runtime_error("The X server has no XKB extension");

    Bool on = False;
    int index = 0;
    const Atom name = XInternAtom(display.get(), "Caps Lock", False);
    if (XkbGetNamedIndicator(display.get(), name, &index, &on, nullptr, nullptr)) return on == True;

    XkbStateRec state{};
    if (XkbGetState(display.get(), XkbUseCoreKbd, &state) != Success)
        throw std::runtime_error("Cannot read the keyboard state");
    return (state.locked_mods & LockMask) != 0;
}

}  // namespace rszorvik::platform
