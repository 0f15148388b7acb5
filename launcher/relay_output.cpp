#include "relay_output.h"

#include "terminal_names.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int standardOutput = 1;

bool isDevTty(const struct stat& info)
{
    struct stat generic {};
    return S_ISCHR(info.st_mode) && stat("/dev/tty", &generic) == 0 && info.st_rdev == generic.st_rdev;
}

// The same terminal or pipe, opened anew: a regular file would get an offset
// of its own, so only those.
int openOwnDescription(const struct stat& output, const char* callerTerminal)
{
    char path[PATH_MAX] = "";
    bool named = isDevTty(output) ? *callerTerminal != '\0' && std::snprintf(path, sizeof path, "%s", callerTerminal) > 0
                                  : reopeningPath(standardOutput, path, sizeof path);
    if (!named || !(S_ISCHR(output.st_mode) || S_ISFIFO(output.st_mode)))
        return -1;
    int own = open(path, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct stat opened {};
    bool same = own >= 0 && fstat(own, &opened) == 0 && (opened.st_mode & S_IFMT) == (output.st_mode & S_IFMT) &&
                (S_ISFIFO(output.st_mode) ? opened.st_ino == output.st_ino && opened.st_dev == output.st_dev
                                          : isDevTty(output) || opened.st_rdev == output.st_rdev);
    if (own >= 0 && !same) {
        close(own);
        own = -1;
    }
    return own;
}

} // namespace

RelayOutput openRelayOutput(const char* callerTerminal)
{
    RelayOutput output;
    struct stat info {};
    if (fstat(standardOutput, &info) != 0 || S_ISREG(info.st_mode) || S_ISBLK(info.st_mode))
        return output;
    if (S_ISSOCK(info.st_mode)) {
        output.isSocket = true;
        return output;
    }
    // One the caller opened read-only is not made writable behind its back.
    int own = (fcntl(standardOutput, F_GETFL) & O_ACCMODE) != O_RDONLY ? openOwnDescription(info, callerTerminal) : -1;
    if (own >= 0)
        output.fd = own;
    else
        output.isShared = true;
    return output;
}

ssize_t writeRelayOutput(const RelayOutput& output, const char* bytes, std::size_t count)
{
    if (output.isSocket)
        return send(output.fd, bytes, count, MSG_DONTWAIT);
    return write(output.fd, bytes, output.isShared ? std::min<std::size_t>(count, PIPE_BUF) : count);
}
