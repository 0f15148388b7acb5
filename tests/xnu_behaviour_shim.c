// Preloaded into the relay, this makes Linux behave as xnu does where the
// relay must not lean on Linux: SA_RESETHAND is ignored for SIGILL and
// SIGTRAP; poll refuses a negative timeout other than -1; a terminal that
// has hung up still answers tcgetattr, isatty and FIONREAD (nothing queued),
// leaving errno as it was; a descriptor opened as /dev/tty follows the
// controlling terminal at every call, and ttyname calls it "/dev/tty"; and a
// session leader's exit waits for ever while output it gave its controlling
// terminal is still queued. The far side's reads are not seen here, so
// every byte counts as queued until a flush (TCOFLUSH) drops it. There is no
// /proc, so a pipe is never opened anew.

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#define NEXT(name) \
    static __typeof__(&name) next_##name; \
    if (!next_##name) \
    next_##name = (__typeof__(&name))dlsym(RTLD_NEXT, #name)

static long queuedForTerminal;

static int isDevTty(int fd)
{
    struct stat info;
    return fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == makedev(5, 0);
}

// The controlling terminal as it is now, opened anew; -1 when there is none.
static int openControllingTerminal(int flags)
{
    NEXT(open);
    return next_open("/dev/tty", (flags & (O_ACCMODE | O_NONBLOCK)) | O_NOCTTY);
}

static int isControllingTerminal(int fd)
{
    // A /dev/tty descriptor's own device is the terminal behind it (TIOCGDEV).
    NEXT(ioctl);
    struct stat given;
    unsigned int terminal = 0;
    int current = openControllingTerminal(O_RDONLY);
    int same = current >= 0 && fstat(fd, &given) == 0 && S_ISCHR(given.st_mode) &&
               next_ioctl(current, TIOCGDEV, &terminal) == 0 && given.st_rdev == (dev_t)terminal;
    if (current >= 0)
        close(current);
    return same;
}

// xnu's exit: a session leader waits, out of every signal's reach, for the
// output of a terminal still there to drain.
static void waitForQueuedOutput(void)
{
    int terminal = openControllingTerminal(O_RDONLY);
    if (terminal < 0 || queuedForTerminal == 0 || getsid(0) != getpid())
        return;
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_SETMASK, &all, NULL);
    for (;;)
        pause();
}

void _exit(int status)
{
    NEXT(_exit);
    waitForQueuedOutput();
    next__exit(status);
    abort();
}

void exit(int status)
{
    NEXT(exit);
    waitForQueuedOutput();
    next_exit(status);
    abort();
}

int raise(int signum)
{
    NEXT(raise);
    struct sigaction current;
    if (sigaction(signum, NULL, &current) == 0 && current.sa_handler == SIG_DFL && signum != SIGCHLD &&
        signum != SIGURG && signum != SIGWINCH && signum != SIGCONT)
        waitForQueuedOutput();
    return next_raise(signum);
}

int sigaction(int signum, const struct sigaction* action, struct sigaction* previous)
{
    NEXT(sigaction);
    if (action && (signum == SIGILL || signum == SIGTRAP) && (action->sa_flags & SA_RESETHAND)) {
        struct sigaction kept = *action;
        kept.sa_flags &= ~SA_RESETHAND;
        return next_sigaction(signum, &kept, previous);
    }
    return next_sigaction(signum, action, previous);
}

int poll(struct pollfd* descriptors, nfds_t count, int milliseconds)
{
    NEXT(poll);
    if (milliseconds < -1) {
        errno = EINVAL;
        return -1;
    }
    return next_poll(descriptors, count, milliseconds);
}

ssize_t readlink(const char* path, char* target, size_t size)
{
    NEXT(readlink);
    if (strncmp(path, "/proc/", 6) == 0) {
        errno = ENOENT;
        return -1;
    }
    return next_readlink(path, target, size);
}

ssize_t read(int fd, void* bytes, size_t count)
{
    NEXT(read);
    if (!isDevTty(fd))
        return next_read(fd, bytes, count);
    int terminal = openControllingTerminal(fcntl(fd, F_GETFL));
    if (terminal < 0)
        return -1;
    ssize_t got = next_read(terminal, bytes, count);
    int saved = errno;
    close(terminal);
    errno = saved;
    return got;
}

ssize_t write(int fd, const void* bytes, size_t count)
{
    NEXT(write);
    int terminal = isDevTty(fd) ? openControllingTerminal(fcntl(fd, F_GETFL)) : fd;
    if (terminal < 0)
        return -1;
    ssize_t written = next_write(terminal, bytes, count);
    int saved = errno;
    if (written > 0 && isControllingTerminal(terminal))
        queuedForTerminal += written;
    if (terminal != fd)
        close(terminal);
    errno = saved;
    return written;
}

int tcflush(int fd, int queue)
{
    NEXT(tcflush);
    int result = next_tcflush(fd, queue);
    if (result == 0 && queue != TCIFLUSH && isControllingTerminal(fd))
        queuedForTerminal = 0;
    return result;
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
    NEXT(tcsetattr);
    int terminal = isDevTty(fd) ? openControllingTerminal(O_RDONLY) : fd;
    int result = terminal < 0 ? -1 : next_tcsetattr(terminal, when, settings);
    if (terminal != fd && terminal >= 0)
        close(terminal);
    if (result == 0)
        remember(fd, settings);
    return result;
}

int tcgetattr(int fd, struct termios* settings)
{
    NEXT(tcgetattr);
    int saved = errno;
    int terminal = isDevTty(fd) ? openControllingTerminal(O_RDONLY) : fd;
    int result = terminal < 0 ? -1 : next_tcgetattr(terminal, settings);
    if (terminal != fd && terminal >= 0)
        close(terminal);
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

char* ttyname(int fd)
{
    NEXT(ttyname);
    static char generic[] = "/dev/tty";
    return isDevTty(fd) ? generic : next_ttyname(fd);
}

int ttyname_r(int fd, char* name, size_t size)
{
    NEXT(ttyname_r);
    if (!isDevTty(fd))
        return next_ttyname_r(fd, name, size);
    if (size < sizeof "/dev/tty")
        return ERANGE;
    strcpy(name, "/dev/tty");
    return 0;
}

int ioctl(int fd, unsigned long request, ...)
{
    NEXT(ioctl);
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    int saved = errno;
    if (request == TIOCOUTQ && isControllingTerminal(fd)) {
        *(int*)argument = (int)queuedForTerminal;
        return 0;
    }
    int terminal = isDevTty(fd) ? openControllingTerminal(O_RDONLY) : fd;
    int result = terminal < 0 ? -1 : next_ioctl(terminal, request, argument);
    if (terminal != fd && terminal >= 0)
        close(terminal);
    if (result != 0 && errno == EIO && request == FIONREAD) {
        *(int*)argument = 0;
        errno = saved;
        return 0;
    }
    return result;
}
