#include "terminal_names.h"

#include <cstdio>
#include <cstring>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

bool reopeningPath(int fd, char* path, std::size_t size)
{
    // What fd has open, itself: a /dev/tty descriptor is bound to its
    // terminal when opened here.
    std::snprintf(path, size, "/proc/self/fd/%d", fd);
    char target[64] = "";
    ssize_t length = readlink(path, target, sizeof target - 1);
    target[length > 0 ? length : 0] = '\0';
    if (length > 0)
        return std::strstr(target, "ptmx") == nullptr;
    // Without /proc, a /dev/tty descriptor's pseudo-terminal: major 136, its number the minor.
    unsigned int device = 0;
    struct stat info {};
    return fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == makedev(5, 0) &&
           ioctl(fd, TIOCGDEV, &device) == 0 && major(device) == 136 &&
           std::snprintf(path, size, "/dev/pts/%u", minor(device)) < int(size);
}
