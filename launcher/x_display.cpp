#include "display.h"

#include <X11/Xlib.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

namespace {

using Clock = std::chrono::steady_clock;

// Connecting, a host name's lookup, the Option key and the chooser's set-up
// share one budget of waiting; a slow display gets the set-up time in
// proportion to one round trip.
constexpr auto displayBudget = std::chrono::seconds(2);
constexpr auto longestSetUp = std::chrono::seconds(30);

// In the chooser's process: its connection, and where it reports (one round
// trip's nanoseconds, then 's' once the window is up, then its result).
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

// Waits for what is said next on from, in one write, until deadline unless
// it is null: 1 when it came, 0 when the writer ended first, -1 at the deadline.
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

// Up to three attempts 20 ms apart: a server resetting after its last
// client takes none for a moment.
template <typename Connect>
auto withRetries(Connect connect) -> decltype(connect())
{
    auto opened = connect();
    for (int attempt = 1; attempt < 3 && !opened; ++attempt) {
        usleep(20000);
        opened = connect();
    }
    return opened;
}

// 'y' or 'n' as Alt (Mod1) is held, nothing where no display answers. With
// xcb, which prints nothing where Xlib would say why a display refused us.
void* askOptionKey(void* answer)
{
    int screen = 0;
    xcb_connection_t* connection = withRetries([&]() -> xcb_connection_t* {
        xcb_connection_t* made = xcb_connect(nullptr, &screen);
        if (!xcb_connection_has_error(made))
            return made;
        xcb_disconnect(made);
        return nullptr;
    });
    if (connection) {
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (; screens.rem > 1 && screen > 0; --screen)
            xcb_screen_next(&screens);
        xcb_query_pointer_reply_t* pointer =
            xcb_query_pointer_reply(connection, xcb_query_pointer(connection, screens.data->root), nullptr);
        char held = pointer && (pointer->mask & XCB_MOD_MASK_1) ? 'y' : 'n';
        std::free(pointer);
        xcb_disconnect(connection);
        (void)!write(*static_cast<int*>(answer), &held, 1);
    }
    close(*static_cast<int*>(answer));
    delete static_cast<int*>(answer);
    return nullptr;
}

// Asked by a thread of its own, which takes none of the process's signals:
// a display that never answers is left behind with it, and the game that
// this process becomes ends it.
bool optionKeyHeldBefore(Clock::time_point deadline)
{
    int answer[2];
    if (pipe2(answer, O_CLOEXEC) != 0)
        return false;
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    pthread_t asker;
    int* writeEnd = new int(answer[1]);
    bool started = pthread_create(&asker, nullptr, askOptionKey, writeEnd) == 0;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (!started) {
        delete writeEnd;
        close(answer[1]);
    } else {
        pthread_detach(asker);
    }
    char held = 'n';
    int outcome = started ? receive(answer[0], &held, 1, &deadline) : 0;
    // Left open where the thread may still answer: a write to a closed pipe would signal.
    if (outcome >= 0)
        close(answer[0]);
    return outcome > 0 && held == 'y';
}

int endAsClosed(Display*)
{
    _exit(1);
}

int ignoreProtocolError(Display*, XErrorEvent*)
{
    return 0;
}

// Xlib says why a display refused us; we print nothing.
Display* connectToDisplay()
{
    int savedError = movedHigh(dup(STDERR_FILENO));
    int quiet = open("/dev/null", O_WRONLY);
    dup2(quiet, STDERR_FILENO);
    close(quiet);
    Display* opened = withRetries([] { return XOpenDisplay(nullptr); });
    dup2(savedError, STDERR_FILENO);
    close(savedError);
    return opened;
}

[[noreturn]] void serveDisplay(pid_t launcher, int (*chooser)())
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
    auto asked = Clock::now();
    XSync(display, False);
    std::int64_t roundTrip = std::chrono::nanoseconds(Clock::now() - asked).count();
    (void)!write(toLauncher, &roundTrip, sizeof roundTrip);
    char result = char(chooser());
    (void)!write(toLauncher, &result, 1);
    _exit(result);
}

// The chooser in a process of its own: the launcher's signals, timers and
// descriptors are never touched, and a display that stops answering before
// the window is up is left behind with that process.
int runChooserProcess(int (*chooser)(), Clock::time_point deadline)
{
    int report[2];
    if (pipe(report) != 0)
        return 1;
    for (int& end : report)
        end = movedHigh(end);
    sigset_t pendingBefore;
    sigpending(&pendingBefore);
    pid_t launcher = getpid();
    pid_t child = fork();
    if (child == 0) {
        toLauncher = report[1];
        serveDisplay(launcher, chooser);
    }
    close(report[1]);

    std::int64_t roundTrip = 0;
    char shown = 0, result = 1;
    int outcome = child < 0 ? 0 : receive(report[0], &roundTrip, sizeof roundTrip, &deadline);
    bool answered = outcome > 0;
    if (answered) {
        deadline += std::min<Clock::duration>(std::chrono::nanoseconds(roundTrip) * 100, longestSetUp);
        outcome = receive(report[0], &shown, 1, &deadline);
        if (outcome > 0)
            outcome = receive(report[0], &result, 1, nullptr);
    }
    // Ended by itself before its result (a lost display, a sanitizer's
    // report), its status is the chooser's; otherwise it is ended now.
    if (child > 0 && outcome != 0)
        kill(child, SIGKILL);
    int status = 0;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (answered && outcome == 0 && WIFEXITED(status) && WEXITSTATUS(status) != 0)
        result = char(WEXITSTATUS(status));
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
    return answered && outcome >= 0 ? result : 1;
}

} // namespace

int runOnDisplay(int (*chooser)(), bool onlyIfOptionHeld)
{
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name)
        return onlyIfOptionHeld ? -1 : 1;
    auto deadline = Clock::now() + displayBudget;
    if (onlyIfOptionHeld && !optionKeyHeldBefore(deadline))
        return -1;
    return runChooserProcess(chooser, deadline);
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
