#include "terminal_relay.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// One buffer serves both directions; nothing is allocated while relaying.
char relayBuffer[4096];

constexpr int standardInput = 0;
constexpr int standardOutput = 1;

bool hasInputReady(int fd)
{
    pollfd probe = {fd, POLLIN, 0};
    int ready;
    do {
        ready = poll(&probe, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (probe.revents & (POLLIN | POLLHUP | POLLERR));
}

// A terminal may take fewer bytes than offered; keep going until all are out.
bool writeAll(int fd, const char* bytes, std::size_t count)
{
    while (count > 0) {
        ssize_t written = write(fd, bytes, count);
        if (written > 0) {
            bytes += written;
            count -= static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EAGAIN) {
            pollfd writable = {fd, POLLOUT, 0};
            poll(&writable, 1, -1);
        } else if (written == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

// Copies what is ready on source to destination. False once the source has
// reached its end or failed, or the destination no longer takes bytes, so
// that the caller stops watching this direction.
bool relayCopy(int source, int destination)
{
    for (;;) {
        ssize_t count = read(source, relayBuffer, sizeof relayBuffer);
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            return true;
        if (count <= 0)
            return false;
        if (!writeAll(destination, relayBuffer, static_cast<std::size_t>(count)))
            return false;
        // A full buffer may mean more is pending; read on only if it is
        // already there, so the other direction is never held up.
        if (count < static_cast<ssize_t>(sizeof relayBuffer) || !hasInputReady(source))
            return true;
    }
}

void configureTerminals(int device)
{
    termios settings {};
    bool inputIsTerminal = tcgetattr(standardInput, &settings) == 0;
    if (inputIsTerminal) {
        settings.c_lflag = 0;
        tcsetattr(standardInput, TCSANOW, &settings);
    } else if (tcgetattr(device, &settings) != 0) {
        return;
    }
    settings.c_lflag = ISIG;
    settings.c_oflag = 0;
    tcsetattr(device, TCSANOW, &settings);
}

[[noreturn]] void relayForever(int device)
{
    bool inputOpen = true;
    bool deviceOpen = true;
    for (;;) {
        pollfd watched[2] = {{inputOpen ? standardInput : -1, POLLIN, 0},
                             {deviceOpen ? device : -1, POLLIN, 0}};
        // With both sides finished there is nothing left but to wait for the
        // end from outside; poll on no descriptor sleeps without using CPU.
        if (poll(watched, 2, -1) < 0)
            continue;
        const short readyEvents = POLLIN | POLLHUP | POLLERR;
        if (inputOpen && (watched[0].revents & readyEvents))
            inputOpen = relayCopy(standardInput, device);
        if (deviceOpen && (watched[1].revents & readyEvents))
            deviceOpen = relayCopy(device, standardOutput);
        if (watched[0].revents & POLLNVAL)
            inputOpen = false;
        if (watched[1].revents & POLLNVAL)
            deviceOpen = false;
    }
}

} // namespace

int runTtyRelay(int argc, char** argv)
{
    setpgid(getpid(), getpgid(getppid()));
    setsid();

    const char* devicePath = argv[argc - 1];
    int device = open(devicePath, O_RDWR);
    if (device < 0)
        return 1;

    configureTerminals(device);
    writeAll(device, "\n", 1);
    relayForever(device);
}
