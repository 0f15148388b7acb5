// Preloaded into the relay, this brings about what no outside act can aim
// at: SIGHUP just before it writes a buffer holding "hup!" (a hang-up that
// comes while the relay is busy, not waiting), and every wait failing for
// good (out of memory) once it has written "die!".

#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/select.h>
#include <unistd.h>

static int waitsFail;

ssize_t write(int fd, const void* bytes, size_t count)
{
    static ssize_t (*next)(int, const void*, size_t);
    if (!next)
        next = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    if (memmem(bytes, count, "hup!", 4))
        raise(SIGHUP);
    if (memmem(bytes, count, "die!", 4))
        waitsFail = 1;
    return next(fd, bytes, count);
}

int select(int count, fd_set* readable, fd_set* writable, fd_set* failed, struct timeval* limit)
{
    static int (*next)(int, fd_set*, fd_set*, fd_set*, struct timeval*);
    if (!next)
        next = (int (*)(int, fd_set*, fd_set*, fd_set*, struct timeval*))dlsym(RTLD_NEXT, "select");
    if (waitsFail) {
        errno = ENOMEM;
        return -1;
    }
    return next(count, readable, writable, failed, limit);
}
