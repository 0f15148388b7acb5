#include "platform.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

void registerActivationObserver()
{
    // No Cocoa application here, so nothing ever posts the launch notification.
}

int executablePath(char* buffer, std::uint32_t* size)
{
    char path[PATH_MAX + 1];
    ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
    if (length < 0)
        length = 0;
    std::uint32_t needed = static_cast<std::uint32_t>(length) + 1;
    if (!buffer || *size < needed) {
        *size = needed;
        return -1;
    }
    std::memcpy(buffer, path, static_cast<std::size_t>(length));
    buffer[length] = '\0';
    return 0;
}

namespace {

Display* display = nullptr;

// Xlib's own handler prints before it exits; a lost display ends the run
// silently, as a chooser window closed without confirming.
int endOnLostDisplay(Display*)
{
    _exit(1);
}

} // namespace

bool openDisplay()
{
    if (!display) {
        XSetIOErrorHandler(endOnLostDisplay);
        display = XOpenDisplay(nullptr);
        // The game that this process may become must not inherit it.
        if (display)
            fcntl(ConnectionNumber(display), F_SETFD, FD_CLOEXEC);
    }
    return display != nullptr;
}

void* displayConnection()
{
    return display;
}

bool optionKeyHeld()
{
    if (!openDisplay())
        return false;
    char keys[32];
    XQueryKeymap(display, keys);
    for (KeySym alt : {XK_Alt_L, XK_Alt_R}) {
        KeyCode code = XKeysymToKeycode(display, alt);
        if (code != 0 && (keys[code / 8] & (1 << (code % 8))))
            return true;
    }
    return false;
}
