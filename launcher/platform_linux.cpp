#include "platform.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
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
constexpr auto connectionDeadline = std::chrono::seconds(2);

// What the connecting thread leaves for the main one. Shared, as a thread
// given up on may still finish after the main thread has gone on.
struct Connection {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    Display* display = nullptr;
};

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

// Up to three attempts, 20 ms apart, the last before the deadline.
void connect(const std::shared_ptr<Connection>& connection, int said,
             std::chrono::steady_clock::time_point deadline)
{
    Display* opened = nullptr;
    for (int attempt = 0; attempt < 3 && std::chrono::steady_clock::now() < deadline; ++attempt) {
        if (attempt > 0)
            usleep(20000);
        opened = XOpenDisplay(nullptr);
        if (opened || (said >= 0 && saidSomething(said)))
            break;
    }
    if (said >= 0)
        close(said);
    // The game that this process may become must not inherit it.
    if (opened)
        fcntl(ConnectionNumber(opened), F_SETFD, FD_CLOEXEC);
    std::lock_guard<std::mutex> hold(connection->lock);
    connection->display = opened;
    connection->done = true;
    connection->finished.notify_one();
}

// Xlib prints why a display refused us (no authorization, say); we print
// nothing. Standard error goes into a pipe meanwhile, which also tells
// whether Xlib had anything to say. The connection is made on a thread of
// its own, so that past the deadline the display counts as absent.
Display* connectToDisplay()
{
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name)
        return nullptr;
    // Out of descriptors, Xlib is left to speak rather than the display lost.
    int savedError = dup(STDERR_FILENO);
    int said[2] = {-1, -1};
    if (savedError >= 0 && pipe(said) == 0) {
        // Xlib's message must never wait for a reader, nor anyone wait for Xlib.
        fcntl(said[0], F_SETFL, O_NONBLOCK);
        fcntl(said[1], F_SETFL, O_NONBLOCK);
        fcntl(said[0], F_SETFD, FD_CLOEXEC);
        dup2(said[1], STDERR_FILENO);
        close(said[1]);
    }

    auto connection = std::make_shared<Connection>();
    auto deadline = std::chrono::steady_clock::now() + connectionDeadline;
    Display* opened = nullptr;
    try {
        std::thread connecting(connect, connection, said[0], deadline);
        std::unique_lock<std::mutex> hold(connection->lock);
        bool done = connection->finished.wait_until(hold, deadline, [&] { return connection->done; });
        opened = connection->display;
        hold.unlock();
        // Finished: gone before anything else runs. Past the deadline: left
        // waiting on a server that never answers, until the process ends.
        if (done)
            connecting.join();
        else
            connecting.detach();
    } catch (const std::system_error&) {
        // No thread to be had: no display either.
        if (said[0] >= 0)
            close(said[0]);
    }
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
