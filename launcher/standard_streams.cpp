#include "standard_streams.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

void occupyClosedStandardStreams()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // The lowest free number is fd itself, as every lower one is open.
        int placeholder = open("/dev/null", O_RDWR);
        if (placeholder >= 0 && placeholder != fd) {
            dup2(placeholder, fd);
            close(placeholder);
        }
    }
}
