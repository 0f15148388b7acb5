// A bare look at the display's keymap, as the launcher's Option-key check
// makes one; linked like the bundle's executable.
#include <X11/Xlib.h>

int main()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    char keys[32];
    XQueryKeymap(display, keys);
    XCloseDisplay(display);
    return 0;
}
