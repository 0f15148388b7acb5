#include "relay_signals.h"

#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t device = -1;
volatile sig_atomic_t input = -1;
termios savedSettings;
int hangupPipe[2] = {-1, -1};

// Every signal whose default action ends the process, SIGHUP apart.
const int endingSignals[] = {
    SIGINT, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM,
    SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGEMT
    SIGEMT,
#endif
#ifdef __linux__
    SIGSTKFLT, SIGIO, SIGPWR,
#endif
};

// A session leader's exit on a Mac waits, without limit, for its terminal's
// output to drain: what the far side has not taken in a moment is dropped.
void putBack()
{
    if (input >= 0)
        tcsetattr(input, TCSANOW, &savedSettings);
    if (device < 0)
        return;
    for (int wait = 0; wait < 20; ++wait) {
        int queued = 0;
        if (ioctl(device, TIOCOUTQ, &queued) != 0 || queued <= 0)
            break;
        timeval tick = {0, 10000};
        select(0, nullptr, nullptr, nullptr, &tick);
    }
    tcflush(device, TCOFLUSH);
}

void endBySignal(int signalNumber)
{
    putBack();
    // The default action back by hand: xnu ignores SA_RESETHAND for SIGILL
    // and SIGTRAP. Once the handler returns, the signal ends the process.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signalNumber, &fallback, nullptr);
    raise(signalNumber);
}

void noteHangup(int)
{
    (void)!write(hangupPipe[1], "", 1);
}

// Only what has its default action: nohup's SIG_IGN stays, and so does a
// handler a runtime of ours installed (a sanitizer's).
bool hasDefaultAction(int signalNumber)
{
    struct sigaction current {};
    return sigaction(signalNumber, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
           current.sa_handler == SIG_DFL;
}

} // namespace

void endingPutsBack(int deviceFd, int inputFd, const termios* inputSettings)
{
    device = deviceFd;
    if (inputSettings) {
        savedSettings = *inputSettings;
        input = inputFd;
    }
}

int watchEndingSignals()
{
    struct sigaction action {};
    action.sa_handler = endBySignal;
    sigfillset(&action.sa_mask);
    auto install = [&](int signalNumber) {
        if (hasDefaultAction(signalNumber))
            sigaction(signalNumber, &action, nullptr);
    };
    for (int signalNumber : endingSignals)
        install(signalNumber);
#ifdef SIGRTMIN
    for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber)
        install(signalNumber);
#endif

    // A byte in a pipe of our own wakes the wait whenever the signal comes,
    // also between two waits, and whatever the caller had blocked.
    if (hasDefaultAction(SIGHUP) && pipe(hangupPipe) == 0) {
        for (int end : hangupPipe) {
            fcntl(end, F_SETFD, FD_CLOEXEC);
            fcntl(end, F_SETFL, O_NONBLOCK);
        }
        struct sigaction hangup {};
        hangup.sa_handler = noteHangup;
        hangup.sa_flags = SA_RESTART;
        sigfillset(&hangup.sa_mask);
        sigaction(SIGHUP, &hangup, nullptr);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, SIGHUP);
        sigprocmask(SIG_UNBLOCK, &only, nullptr);
    }
    return hangupPipe[0];
}

void endRelay(int status)
{
    putBack();
    _exit(status);
}

void endRelayBySignal(int signalNumber)
{
    // Raised while the caller may have it blocked: it ends the process once let through.
    endBySignal(signalNumber);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    _exit(128 + signalNumber);
}

void endRelayAsOutputGone()
{
    struct sigaction current {};
    sigaction(SIGPIPE, nullptr, &current);
    if (current.sa_handler != SIG_IGN)
        endRelayBySignal(SIGPIPE);
    endRelay(1);
}
