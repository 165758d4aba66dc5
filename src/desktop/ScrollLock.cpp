#include "desktop/ScrollLock.h"

#include <X11/Xlib.h>

#include <memory>

namespace
{
constexpr int ScrollLockLed = 3;

struct DisplayCloser
{
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

// An X error (a keyboard without that LED, a server going away) must not end
// the program through Xlib's default handler; it is dropped while we talk.
class IgnoreXErrors
{
public:
    IgnoreXErrors() : FPrevious(XSetErrorHandler([](Display*, XErrorEvent*) { return 0; })) {}
    ~IgnoreXErrors() { XSetErrorHandler(FPrevious); }
    IgnoreXErrors(const IgnoreXErrors&) = delete;
    IgnoreXErrors& operator=(const IgnoreXErrors&) = delete;

private:
    XErrorHandler FPrevious;
};

// A connection of our own for each call: the LED changes twice a second at
// most, and it keeps us independent of the toolkit's connection and thread.
DisplayHandle OpenDisplay()
{
    return DisplayHandle(XOpenDisplay(nullptr));
}
}

bool ScrollLockLedOn()
{
    IgnoreXErrors ignore;
    DisplayHandle display = OpenDisplay();
    if (!display)
        return false;
    XKeyboardState state{};
    XGetKeyboardControl(display.get(), &state);
    return (state.led_mask & (1UL << (ScrollLockLed - 1))) != 0;
}

void SetScrollLockLed(bool on)
{
    IgnoreXErrors ignore;
    DisplayHandle display = OpenDisplay();
    if (!display)
        return;
    XKeyboardControl control{};
    control.led = ScrollLockLed;
    control.led_mode = on ? LedModeOn : LedModeOff;
    XChangeKeyboardControl(display.get(), KBLed | KBLedMode, &control);
    // Wait for the server, so a read right after sees the change.
    XSync(display.get(), False);
}
