#include "platform.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <climits>
#include <cstdlib>
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

// Xlib's default handler prints and exits on any protocol error, such as a
// drawable of a window just closed; none of them is worth ending the chooser.
int ignoreProtocolError(Display*, XErrorEvent*)
{
    return 0;
}

bool displayTried = false;

// Xlib prints why a display refused us (no authorization, say); we print
// nothing. Single-threaded here, so standard error may be moved aside: into
// a pipe, which tells whether Xlib had anything to say.
Display* openDisplayQuietly(bool* refused)
{
    int savedError = dup(STDERR_FILENO);
    int said[2] = {-1, -1};
    if (savedError >= 0 && pipe(said) == 0) {
        // Xlib's message must never wait for a reader.
        fcntl(said[1], F_SETFL, O_NONBLOCK);
        dup2(said[1], STDERR_FILENO);
        close(said[1]);
    }
    Display* opened = XOpenDisplay(nullptr);
    if (savedError >= 0) {
        dup2(savedError, STDERR_FILENO);
        close(savedError);
    }
    if (said[0] >= 0) {
        fcntl(said[0], F_SETFL, O_NONBLOCK);
        char byte;
        *refused = read(said[0], &byte, 1) > 0;
        close(said[0]);
    }
    return opened;
}

// A server that resets when its last client leaves takes no connection
// during the reset and says nothing; one that refuses us says why.
Display* connectToDisplay()
{
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name)
        return nullptr;
    for (int attempt = 0; attempt < 3; ++attempt) {
        bool refused = false;
        if (Display* opened = openDisplayQuietly(&refused))
            return opened;
        if (refused)
            break;
        usleep(20000);
    }
    return nullptr;
}

} // namespace

bool openDisplay()
{
    // Once per process: a display that refused us will not take us later,
    // and Xlib would say so again.
    if (!displayTried) {
        displayTried = true;
        XSetIOErrorHandler(endOnLostDisplay);
        XSetErrorHandler(ignoreProtocolError);
        display = connectToDisplay();
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
