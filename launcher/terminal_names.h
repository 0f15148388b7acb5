#pragma once

// Names by which the relay opens a terminal (or pipe) anew, for a description
// of its own: /dev/tty names whatever terminal the caller has at each call on
// a Mac, and after the relay's setsid it names the relay's device.

#include <cstddef>

// The device path of the process's controlling terminal, never "/dev/tty";
// false when it has none or the name cannot be found.
bool controllingTerminalPath(char* path, std::size_t size);

// A path whose opening gives a new description of what fd has open; false
// where there is none (a socket, a Mac's pipe, a pseudo-terminal's master,
// whose reopening would make a new one).
bool reopeningPath(int fd, char* path, std::size_t size);
