#include "relay_output.h"

#include "terminal_names.h"

#include <algorithm>
#include <climits>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int standardOutput = 1;

// The same terminal or pipe, opened anew: a regular file would get an offset
// of its own, so only those.
int openOwnDescription(const struct stat& output)
{
    char path[PATH_MAX] = "";
    if (!(S_ISCHR(output.st_mode) || S_ISFIFO(output.st_mode)) || !reopeningPath(standardOutput, path, sizeof path))
        return -1;
    return open(path, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

} // namespace

RelayOutput openRelayOutput()
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
    int own = (fcntl(standardOutput, F_GETFL) & O_ACCMODE) != O_RDONLY ? openOwnDescription(info) : -1;
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
