#pragma once

// How the relay writes its standard output, so that no write holds it up
// (a terminal nobody reads, a stalled reader of a pipe) while the caller's
// own open file stays as the caller made it.

#include <cstddef>
#include <sys/types.h>

struct RelayOutput {
    int fd = 1;
    // A socket is sent to without waiting; a shared description (a Mac's
    // pipe, a terminal the relay may not open) takes at most PIPE_BUF bytes
    // once select calls it writable, which it then takes whole.
    bool isSocket = false;
    bool isShared = false;
};

// Standard output as the relay writes it: a non-blocking description of its
// own where one can be had. Opened before setsid.
RelayOutput openRelayOutput();

// What output takes now, as write answers.
ssize_t writeRelayOutput(const RelayOutput& output, const char* bytes, std::size_t count);
