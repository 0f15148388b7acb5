#include "platform.h"

#include <climits>
#include <cstring>
#include <unistd.h>

// No Cocoa application here: nothing to bring to the front.
void registerActivationObserver() {}

void yieldActivationToRelaunch() {}

int executablePath(char* buffer, std::uint32_t* size)
{
    char path[PATH_MAX + 1];
    ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
    if (length < 0)
        length = 0;
    std::uint32_t needed = static_cast<std::uint32_t>(length) + 1;
    if (!buffer || *size < needed) {
        *size = needed;
        return -1;
    }
    std::memcpy(buffer, path, static_cast<std::size_t>(length));
    buffer[length] = '\0';
    return 0;
}
