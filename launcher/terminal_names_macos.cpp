#include "terminal_names.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysctl.h>
#include <unistd.h>

bool controllingTerminalPath(char* path, std::size_t size)
{
    int request[] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, int(getpid())};
    kinfo_proc process {};
    std::size_t length = sizeof process;
    if (sysctl(request, 4, &process, &length, nullptr, 0) != 0 || length == 0 || process.kp_eproc.e_tdev == NODEV)
        return false;
    const char* name = devname(process.kp_eproc.e_tdev, S_IFCHR);
    if (!name || std::strcmp(name, "tty") == 0)
        return false;
    return std::snprintf(path, size, "/dev/%s", name) < int(size);
}

bool reopeningPath(int fd, char* path, std::size_t size)
{
    // Only a terminal has a name here; ttyname of a /dev/tty descriptor answers "/dev/tty".
    if (ttyname_r(fd, path, size) != 0)
        return false;
    std::size_t length = std::strlen(path);
    return std::strcmp(path, "/dev/tty") != 0 && !(length >= 4 && std::strcmp(path + length - 4, "ptmx") == 0);
}
