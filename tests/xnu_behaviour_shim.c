// Preloaded into the relay, this makes Linux behave as xnu does where the
// relay must not lean on Linux: SA_RESETHAND is ignored for SIGILL and
// SIGTRAP, and a terminal that has hung up still answers tcgetattr.

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <string.h>
#include <termios.h>

int sigaction(int signum, const struct sigaction* action, struct sigaction* previous)
{
    static int (*next)(int, const struct sigaction*, struct sigaction*);
    if (!next)
        next = (int (*)(int, const struct sigaction*, struct sigaction*))dlsym(RTLD_NEXT, "sigaction");
    if (action && (signum == SIGILL || signum == SIGTRAP) && (action->sa_flags & SA_RESETHAND)) {
        struct sigaction kept = *action;
        kept.sa_flags &= ~SA_RESETHAND;
        return next(signum, &kept, previous);
    }
    return next(signum, action, previous);
}

int tcgetattr(int fd, struct termios* settings)
{
    static int (*next)(int, struct termios*);
    if (!next)
        next = (int (*)(int, struct termios*))dlsym(RTLD_NEXT, "tcgetattr");
    int result = next(fd, settings);
    if (result != 0 && errno == EIO) {
        memset(settings, 0, sizeof *settings);
        return 0;
    }
    return result;
}
