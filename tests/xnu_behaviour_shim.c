// Preloaded into the relay, this makes Linux behave as xnu does where the
// relay must not lean on Linux: SA_RESETHAND is ignored for SIGILL and
// SIGTRAP, poll refuses a negative timeout other than -1, and a terminal
// that has hung up still answers tcgetattr, isatty and FIONREAD (nothing
// queued), leaving errno as it was.

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
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

int poll(struct pollfd* descriptors, nfds_t count, int milliseconds)
{
    static int (*next)(struct pollfd*, nfds_t, int);
    if (!next)
        next = (int (*)(struct pollfd*, nfds_t, int))dlsym(RTLD_NEXT, "poll");
    if (milliseconds < -1) {
        errno = EINVAL;
        return -1;
    }
    return next(descriptors, count, milliseconds);
}

// A hung-up terminal keeps its settings there: the last ones read or set.
enum { rememberedTerminals = 1024 };
static struct termios lastSettings[rememberedTerminals];
static char settingsKnown[rememberedTerminals];

static void remember(int fd, const struct termios* settings)
{
    if (fd >= 0 && fd < rememberedTerminals) {
        lastSettings[fd] = *settings;
        settingsKnown[fd] = 1;
    }
}

int tcsetattr(int fd, int when, const struct termios* settings)
{
    static int (*next)(int, int, const struct termios*);
    if (!next)
        next = (int (*)(int, int, const struct termios*))dlsym(RTLD_NEXT, "tcsetattr");
    int result = next(fd, when, settings);
    if (result == 0)
        remember(fd, settings);
    return result;
}

int tcgetattr(int fd, struct termios* settings)
{
    static int (*next)(int, struct termios*);
    if (!next)
        next = (int (*)(int, struct termios*))dlsym(RTLD_NEXT, "tcgetattr");
    int saved = errno;
    int result = next(fd, settings);
    if (result == 0) {
        remember(fd, settings);
    } else if (errno == EIO) {
        if (fd >= 0 && fd < rememberedTerminals && settingsKnown[fd])
            *settings = lastSettings[fd];
        else
            memset(settings, 0, sizeof *settings);
        errno = saved;
        return 0;
    }
    return result;
}

int isatty(int fd)
{
    struct termios settings;
    return tcgetattr(fd, &settings) == 0;
}

int ioctl(int fd, unsigned long request, ...)
{
    static int (*next)(int, unsigned long, ...);
    if (!next)
        next = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    int saved = errno;
    int result = next(fd, request, argument);
    if (result != 0 && errno == EIO && request == FIONREAD) {
        *(int*)argument = 0;
        errno = saved;
        return 0;
    }
    return result;
}
