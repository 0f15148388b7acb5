#pragma once

// Where a terminal or pipe the relay was given can be opened anew, for a
// description of its own: never /dev/tty, which on a Mac follows whatever
// terminal the caller has at each call, and after setsid names the device.

#include <cstddef>

// False where there is none: a socket, a Mac's pipe, a pseudo-terminal's
// master (whose opening would make a new one). Asked before setsid.
bool reopeningPath(int fd, char* path, std::size_t size);
