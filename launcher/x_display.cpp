#include "display.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Connecting, a host name's lookup, the Option key and the chooser's set-up
// share one budget of waiting; a slow display gets the set-up time in
// proportion to one round trip.
constexpr auto displayBudget = std::chrono::seconds(2);
constexpr auto longestSetUp = std::chrono::seconds(30);

// What the display's process tells the launcher: this, then 's' once the
// window is up, then the chooser's result.
struct Answer {
    bool altHeld;
    std::int64_t roundTripNanoseconds;
};

// In the display's process.
Display* display = nullptr;
int toLauncher = -1;

// Past FD_SETSIZE (a start may inherit many descriptors), so that the
// connection takes a number FLTK's select can watch.
int movedHigh(int fd)
{
    int moved = fcntl(fd, F_DUPFD_CLOEXEC, FD_SETSIZE);
    if (moved < 0)
        return fd;
    close(fd);
    return moved;
}

int endAsClosed(Display*)
{
    _exit(1);
}

int ignoreProtocolError(Display*, XErrorEvent*)
{
    return 0;
}

// Up to three attempts 20 ms apart: a server resetting after its last
// client takes none for a moment. Xlib says why a display refused us; we
// print nothing.
Display* connectToDisplay()
{
    int savedError = movedHigh(dup(STDERR_FILENO));
    int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDERR_FILENO);
    close(quiet);
    Display* opened = nullptr;
    for (int attempt = 0; attempt < 3 && !opened; ++attempt) {
        if (attempt > 0)
            usleep(20000);
        opened = XOpenDisplay(nullptr);
    }
    dup2(savedError, STDERR_FILENO);
    close(savedError);
    return opened;
}

// Alt down now, and how long the one round trip took.
bool altHeld(std::int64_t* roundTripNanoseconds)
{
    char keys[32] = {};
    auto asked = Clock::now();
    XQueryKeymap(display, keys);
    *roundTripNanoseconds = std::chrono::nanoseconds(Clock::now() - asked).count();
    for (KeySym alt : {XK_Alt_L, XK_Alt_R}) {
        KeyCode code = XKeysymToKeycode(display, alt);
        if (code != 0 && (keys[code / 8] & (1 << (code % 8))))
            return true;
    }
    return false;
}

[[noreturn]] void serveDisplay(pid_t launcher, int (*chooser)(), bool onlyIfOptionHeld)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != launcher)
        _exit(1);
    // A lost display ends the chooser as a closed window does; X protocol
    // errors (a drawable of a window just closed) end nothing.
    XSetIOErrorHandler(endAsClosed);
    XSetErrorHandler(ignoreProtocolError);
    display = connectToDisplay();
    // One past FD_SETSIZE, FLTK's select loop could not watch.
    if (!display || ConnectionNumber(display) >= FD_SETSIZE)
        _exit(1);
    Answer answer {};
    answer.altHeld = altHeld(&answer.roundTripNanoseconds);
    (void)!write(toLauncher, &answer, sizeof answer);
    if (onlyIfOptionHeld && !answer.altHeld)
        _exit(0);
    char result = char(chooser());
    (void)!write(toLauncher, &result, 1);
    _exit(result);
}

// Waits for what the display's process says next, in one write, until
// deadline unless it is null: 1 when it came, 0 when the process ended
// first, -1 at the deadline.
int receive(int from, void* into, std::size_t size, const Clock::time_point* deadline)
{
    for (;;) {
        auto left = deadline ? std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count() : -1;
        if (deadline && left <= 0)
            return -1;
        pollfd ready = {from, POLLIN, 0};
        int polled = poll(&ready, 1, deadline ? int(std::min<std::int64_t>(left + 1, 1000000)) : -1);
        if (polled > 0)
            return read(from, into, size) == ssize_t(size) ? 1 : 0;
    }
}

} // namespace

int runOnDisplay(int (*chooser)(), bool onlyIfOptionHeld)
{
    const int absent = onlyIfOptionHeld ? -1 : 1;
    const char* name = std::getenv("DISPLAY");
    int report[2];
    if (!name || !*name || pipe(report) != 0)
        return absent;
    for (int& end : report)
        end = movedHigh(end);
    sigset_t pendingBefore;
    sigpending(&pendingBefore);
    pid_t launcher = getpid();
    pid_t child = fork();
    if (child == 0) {
        toLauncher = report[1];
        serveDisplay(launcher, chooser, onlyIfOptionHeld);
    }
    close(report[1]);

    // The launcher's own signals, timers and descriptors are never touched:
    // a display that does not answer in time is left behind with its process.
    auto deadline = Clock::now() + displayBudget;
    Answer answer {};
    int result = absent;
    int outcome = child < 0 ? 0 : receive(report[0], &answer, sizeof answer, &deadline);
    bool chooserRuns = outcome > 0 && (!onlyIfOptionHeld || answer.altHeld);
    if (chooserRuns) {
        deadline += std::min<Clock::duration>(std::chrono::nanoseconds(answer.roundTripNanoseconds) * 100, longestSetUp);
        char shown = 0, chosen = 1;
        outcome = receive(report[0], &shown, 1, &deadline);
        if (outcome > 0)
            outcome = receive(report[0], &chosen, 1, nullptr);
        result = outcome > 0 ? chosen : 1;
    }
    // Ended by itself (a lost display, a sanitizer's report), it is waited
    // for, and its status is the chooser's; otherwise it is ended now.
    if (child > 0 && outcome != 0)
        kill(child, SIGKILL);
    int status = 0;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (chooserRuns && outcome == 0 && WIFEXITED(status) && WEXITSTATUS(status) != 0)
        result = WEXITSTATUS(status);
    close(report[0]);
    // Where the caller blocked SIGCHLD, the child's end left one pending,
    // which the game would inherit.
    if (!sigismember(&pendingBefore, SIGCHLD)) {
        sigset_t childEnded;
        sigemptyset(&childEnded);
        sigaddset(&childEnded, SIGCHLD);
        timespec now {};
        sigtimedwait(&childEnded, nullptr, &now);
    }
    return result;
}

void windowShown()
{
    // Answered: the server has done all that the set-up asked.
    XSync(display, False);
    char shown = 's';
    (void)!write(toLauncher, &shown, 1);
}

void* displayConnection()
{
    return display;
}
