#include "terminal_names.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysctl.h>
#include <unistd.h>

bool reopeningPath(int fd, char* path, std::size_t size)
{
    // Only a terminal has a name here.
    if (ttyname_r(fd, path, size) != 0 || std::strstr(path, "ptmx"))
        return false;
    if (std::strcmp(path, "/dev/tty") != 0)
        return true;
    // The controlling terminal's own device, as the kernel keeps it.
    int request[] = {CTL_KERN, KERN_PROC, KERN_PROC_PID, int(getpid())};
    kinfo_proc process {};
    std::size_t length = sizeof process;
    const char* name = nullptr;
    if (sysctl(request, 4, &process, &length, nullptr, 0) == 0 && length > 0 && process.kp_eproc.e_tdev != NODEV)
        name = devname(process.kp_eproc.e_tdev, S_IFCHR);
    return name && std::strcmp(name, "tty") != 0 && std::snprintf(path, size, "/dev/%s", name) < int(size);
}
