#include "display.h"

#include <X11/Xlib.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Connecting, a host name's lookup, the Option key and the chooser's set-up
// share one budget of waiting; a slow display gets the set-up time in
// proportion to one round trip.
constexpr auto displayBudget = std::chrono::seconds(2);
constexpr auto longestSetUp = std::chrono::seconds(30);

Display* display = nullptr;
// Closed (the write end) once the chooser's window is up.
int windowUp[2] = {-1, -1};

// The display is asked by a thread of its own, which takes none of the
// process's signals: one that does not answer in time is left behind with
// it, for the game this process becomes, or its exit, to end.
pthread_t asker;
bool askerStarted = false;
int answering = -1; // the asker's end of the pipe its answer goes through

struct Answer {
    Display* display;
    bool altHeld;
    std::int64_t roundTripNanoseconds;
};

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

// Whether fd became readable (or ended) before the deadline.
bool readyBefore(int fd, Clock::time_point deadline)
{
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd ready = {fd, POLLIN, 0};
        if (poll(&ready, 1, int(std::min<std::int64_t>(left + 1, 1000000))) > 0)
            return true;
    }
}

// Lost while asked, the display leaves the question unanswered; lost under
// the chooser, it ends the run as a closed window does.
int onLostDisplay(Display*)
{
    if (askerStarted && pthread_equal(pthread_self(), asker)) {
        close(answering);
        for (;;)
            pause();
    }
    _exit(1);
}

// X protocol errors (a drawable of a window just closed) end nothing.
int ignoreProtocolError(Display*, XErrorEvent*)
{
    return 0;
}

void* ask(void*)
{
    // Up to three attempts 20 ms apart: a server resetting after its last
    // client takes none for a moment.
    Display* opened = XOpenDisplay(nullptr);
    for (int attempt = 1; attempt < 3 && !opened; ++attempt) {
        usleep(20000);
        opened = XOpenDisplay(nullptr);
    }
    // One past FD_SETSIZE, FLTK's select loop could not watch.
    if (opened && ConnectionNumber(opened) < FD_SETSIZE) {
        Window root, child;
        int rootX, rootY, x, y;
        unsigned int modifiers = 0;
        auto asked = Clock::now();
        XQueryPointer(opened, DefaultRootWindow(opened), &root, &child, &rootX, &rootY, &x, &y, &modifiers);
        Answer answer = {opened, (modifiers & Mod1Mask) != 0,
                         std::chrono::nanoseconds(Clock::now() - asked).count()};
        (void)!write(answering, &answer, sizeof answer);
    }
    close(answering);
    return nullptr;
}

// Runs in a thread with none of the process's signals.
bool startThread(void* (*body)(void*), pthread_t* thread)
{
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    bool started = pthread_create(thread, nullptr, body, nullptr) == 0;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (started)
        pthread_detach(*thread);
    return started;
}

// The display's answer, where one comes before the deadline.
bool askDisplay(Clock::time_point deadline, Answer* answer)
{
    int answers[2];
    if (pipe2(answers, O_CLOEXEC) != 0)
        return false;
    int reading = movedHigh(answers[0]);
    answering = movedHigh(answers[1]);
    // Xlib says why a display refused us; we print nothing.
    int savedError = movedHigh(dup(STDERR_FILENO));
    int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(quiet, STDERR_FILENO);
    close(quiet);
    askerStarted = startThread(ask, &asker);
    if (!askerStarted)
        close(answering);
    bool answered = askerStarted && readyBefore(reading, deadline) && read(reading, answer, sizeof *answer) == sizeof *answer;
    dup2(savedError, STDERR_FILENO);
    close(savedError);
    return answered;
}

// Until the chooser's window is up, a display that stops answering is cut
// off at the deadline, which ends the run as a closed window does.
Clock::time_point setUpDeadline;

void* cutAtDeadline(void*)
{
    if (!readyBefore(windowUp[0], setUpDeadline))
        shutdown(ConnectionNumber(display), SHUT_RDWR);
    return nullptr;
}

} // namespace

int runOnDisplay(int (*chooser)(), bool onlyIfOptionHeld)
{
    const int absent = onlyIfOptionHeld ? -1 : 1;
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name)
        return absent;
    XSetIOErrorHandler(onLostDisplay);
    XSetErrorHandler(ignoreProtocolError);
    auto deadline = Clock::now() + displayBudget;
    Answer answer {};
    // Where the chooser does not follow, the connection is left to the game's exec to close.
    if (!askDisplay(deadline, &answer) || (onlyIfOptionHeld && !answer.altHeld))
        return absent;
    display = answer.display;
    setUpDeadline = deadline + std::min<Clock::duration>(std::chrono::nanoseconds(answer.roundTripNanoseconds) * 100,
                                                         longestSetUp);
    pthread_t cutter;
    if (pipe2(windowUp, O_CLOEXEC) != 0)
        return 1;
    // A set-up that no deadline can bound is not begun.
    if (!startThread(cutAtDeadline, &cutter))
        return 1;
    // A write to a display that has gone raises SIGPIPE (xcb sends without
    // MSG_NOSIGNAL); ignored, the loss reaches onLostDisplay. Not if blocked:
    // it cannot end us then, and ignoring would drop one pending for the game.
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    bool ignoring = sigismember(&mask, SIGPIPE) != 1 && sigaction(SIGPIPE, &ignore, &previous) == 0;
    int chosen = chooser();
    if (ignoring)
        sigaction(SIGPIPE, &previous, nullptr);
    return chosen;
}

void windowShown()
{
    // Answered: the server has done all that the set-up asked.
    XSync(display, False);
    close(windowUp[1]);
}

void* displayConnection()
{
    return display;
}
