#include "terminal_names.h"

#include <cstdio>
#include <cstring>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

bool reopeningPath(int fd, char* path, std::size_t size)
{
    // A /dev/tty descriptor's own terminal, by its device number, where it is
    // a pseudo-terminal: opened through /proc it would be /dev/tty again.
    unsigned int device = 0;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == makedev(5, 0) &&
        ioctl(fd, TIOCGDEV, &device) == 0 && major(device) >= 136 && major(device) <= 143)
        return std::snprintf(path, size, "/dev/pts/%u", (major(device) - 136) * 256 + minor(device)) < int(size);

    std::snprintf(path, size, "/proc/self/fd/%d", fd);
    char target[64] = "";
    ssize_t length = readlink(path, target, sizeof target - 1);
    target[length > 0 ? length : 0] = '\0';
    return length > 0 && std::strstr(target, "ptmx") == nullptr;
}
