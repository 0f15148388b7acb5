#include "platform.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <cerrno>
#include <climits>
#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
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

// A server that took the connection and never answers (a hung one, a stale
// forwarded display) would keep Xlib waiting for ever, and the game with it.
constexpr int connectionDeadlineSeconds = 2;

// Descriptors open before connecting. At the deadline every socket beyond
// them, the connection being made (or a name lookup's), is shut down, which
// ends Xlib's wait; a thread to wait on instead would cost every start.
constexpr int watchedDescriptors = 1024;
bool openBefore[watchedDescriptors];
volatile sig_atomic_t deadlinePassed = 0;
sigjmp_buf abandonedConnection;

void noteOpenDescriptors()
{
    static pollfd descriptors[watchedDescriptors];
    for (int fd = 0; fd < watchedDescriptors; ++fd)
        descriptors[fd] = {fd, 0, 0};
    poll(descriptors, watchedDescriptors, 0);
    for (int fd = 0; fd < watchedDescriptors; ++fd)
        openBefore[fd] = !(descriptors[fd].revents & POLLNVAL);
}

void cutConnection(int)
{
    int savedErrno = errno;
    deadlinePassed = 1;
    for (int fd = 0; fd < watchedDescriptors; ++fd)
        if (!openBefore[fd])
            shutdown(fd, SHUT_RDWR);
    errno = savedErrno;
}

// A connection cut after the server's first answer ends in Xlib's handler
// for a lost display, which must not return: the attempt is given up.
int abandonCutConnection(Display* connection)
{
    if (deadlinePassed)
        siglongjmp(abandonedConnection, 1);
    return endOnLostDisplay(connection);
}

// Whether Xlib said anything since the last look: a display that refuses us
// says why; one still resetting after its last client takes none, silently.
bool saidSomething(int said)
{
    char bytes[256];
    bool anything = false;
    while (read(said, bytes, sizeof bytes) > 0)
        anything = true;
    return anything;
}

// Up to three attempts, 20 ms apart, all within the deadline.
Display* attemptConnections(int said)
{
    Display* opened = nullptr;
    for (int attempt = 0; attempt < 3 && !deadlinePassed; ++attempt) {
        if (attempt > 0)
            usleep(20000);
        opened = XOpenDisplay(nullptr);
        if (opened || (said >= 0 && saidSomething(said)))
            break;
    }
    return opened;
}

// Xlib prints why a display refused us (no authorization, say); we print
// nothing. Standard error goes into a pipe meanwhile, which also tells
// whether Xlib had anything to say. Past the deadline the display counts
// as absent.
Display* connectToDisplay()
{
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name)
        return nullptr;
    // Out of descriptors, Xlib is left to speak rather than the display lost.
    int savedError = dup(STDERR_FILENO);
    int said[2] = {-1, -1};
    if (savedError >= 0 && pipe(said) == 0) {
        // Xlib's message must never wait for a reader.
        fcntl(said[0], F_SETFL, O_NONBLOCK);
        fcntl(said[1], F_SETFL, O_NONBLOCK);
        dup2(said[1], STDERR_FILENO);
        close(said[1]);
    }

    noteOpenDescriptors();
    struct sigaction cut {}, previous {};
    cut.sa_handler = cutConnection;
    sigfillset(&cut.sa_mask);
    sigaction(SIGALRM, &cut, &previous);
    XIOErrorHandler lostDisplay = XSetIOErrorHandler(abandonCutConnection);
    itimerval deadline {};
    deadline.it_value.tv_sec = connectionDeadlineSeconds;
    setitimer(ITIMER_REAL, &deadline, nullptr);

    Display* opened = nullptr;
    if (sigsetjmp(abandonedConnection, 1) == 0)
        opened = attemptConnections(said[0]);

    itimerval none {};
    setitimer(ITIMER_REAL, &none, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    XSetIOErrorHandler(lostDisplay);
    // Answered just as the deadline cut it: a connection no longer.
    if (opened && deadlinePassed) {
        close(ConnectionNumber(opened));
        opened = nullptr;
    }
    // The game that this process may become must not inherit it.
    if (opened)
        fcntl(ConnectionNumber(opened), F_SETFD, FD_CLOEXEC);

    if (said[0] >= 0)
        close(said[0]);
    if (savedError >= 0) {
        dup2(savedError, STDERR_FILENO);
        close(savedError);
    }
    return opened;
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
