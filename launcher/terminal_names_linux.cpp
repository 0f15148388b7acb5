#include "terminal_names.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

bool isCharacterDevice(const std::string& path, dev_t device)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == device;
}

bool copyOut(const std::string& name, char* path, std::size_t size)
{
    if (name.size() >= size)
        return false;
    std::memcpy(path, name.c_str(), name.size() + 1);
    return true;
}

} // namespace

bool controllingTerminalPath(char* path, std::size_t size)
{
    // The seventh field of /proc/self/stat, after the parenthesised name.
    std::FILE* stat = std::fopen("/proc/self/stat", "r");
    if (!stat)
        return false;
    char line[1024] = "";
    bool read = std::fgets(line, sizeof line, stat) != nullptr;
    std::fclose(stat);
    const char* fields = read ? std::strrchr(line, ')') : nullptr;
    unsigned long terminal = 0;
    if (!fields || std::sscanf(fields + 1, " %*c %*d %*d %*d %lu", &terminal) != 1 || terminal == 0)
        return false;
    dev_t device = dev_t(terminal);

    // A pseudo-terminal's name follows from its number; any other is looked for in /dev.
    if (major(device) >= 136 && major(device) <= 143) {
        std::string pts = "/dev/pts/" + std::to_string((major(device) - 136) * 256 + minor(device));
        if (isCharacterDevice(pts, device))
            return copyOut(pts, path, size);
    }
    bool found = false;
    if (DIR* folder = opendir("/dev")) {
        while (dirent* entry = readdir(folder)) {
            std::string candidate = std::string("/dev/") + entry->d_name;
            if (candidate != "/dev/tty" && isCharacterDevice(candidate, device)) {
                found = copyOut(candidate, path, size);
                break;
            }
        }
        closedir(folder);
    }
    return found;
}

bool reopeningPath(int fd, char* path, std::size_t size)
{
    std::string own = "/proc/self/fd/" + std::to_string(fd);
    char target[256] = "";
    ssize_t length = readlink(own.c_str(), target, sizeof target - 1);
    if (length <= 0)
        return false;
    target[length] = '\0';
    std::string name = target;
    if (name == "/dev/tty" || (name.size() >= 4 && name.compare(name.size() - 4, 4, "ptmx") == 0))
        return false;
    return copyOut(own, path, size);
}
