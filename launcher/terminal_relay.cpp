#include "terminal_relay.h"

#include "ready_set.h"
#include "relay_output.h"
#include "relay_signals.h"
#include "terminal_names.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int standardInput = 0;

// One direction's bytes read and not yet written. Each direction has its
// own, so a destination that takes nothing for a while (a device waiting to
// write its echo back) holds up only its own side.
constexpr std::size_t readSize = 16384;

struct RelayBuffer {
    char bytes[2 * readSize];
    std::size_t start = 0;
    std::size_t end = 0;

    bool isEmpty() const { return start == end; }
    bool hasRoom() const { return end - start < sizeof bytes; }
};

// Static: nothing is allocated while relaying.
RelayBuffer toDevice;
RelayBuffer toOutput;

enum class Outcome { Moved, Nothing, Ended };

bool isTransient(int error)
{
    return error == EINTR || error == EAGAIN || error == EWOULDBLOCK;
}

Outcome fill(RelayBuffer& buffer, int source)
{
    // Whole reads: what still waits moves to the front when the end is near.
    if (sizeof buffer.bytes - buffer.end < readSize && buffer.start > 0) {
        std::memmove(buffer.bytes, buffer.bytes + buffer.start, buffer.end - buffer.start);
        buffer.end -= buffer.start;
        buffer.start = 0;
    }
    ssize_t count = read(source, buffer.bytes + buffer.end, std::min(readSize, sizeof buffer.bytes - buffer.end));
    if (count > 0) {
        buffer.end += std::size_t(count);
        return Outcome::Moved;
    }
    return count < 0 && isTransient(errno) ? Outcome::Nothing : Outcome::Ended;
}

// Writes what the destination takes now; a shared description gets one
// write, which select promised room for.
template <typename Write>
Outcome drain(RelayBuffer& buffer, Write write, bool oneWrite = false)
{
    while (!buffer.isEmpty()) {
        ssize_t written = write(buffer.bytes + buffer.start, buffer.end - buffer.start);
        if (written > 0) {
            buffer.start += std::size_t(written);
            if (oneWrite)
                return Outcome::Moved;
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else {
            return written < 0 && isTransient(errno) ? Outcome::Nothing : Outcome::Ended;
        }
    }
    buffer.start = buffer.end = 0;
    return Outcome::Moved;
}

// Only a character device: a disk, a file or a folder named by mistake would
// be overwritten, and a FIFO or socket would be read back into itself.
int openDevice(const char* path)
{
    int device = open(path, O_RDWR);
    struct stat info {};
    if (device >= 0 && (fstat(device, &info) != 0 || !S_ISCHR(info.st_mode))) {
        close(device);
        return -1;
    }
    return device;
}

termios inputSettings;
bool inputIsTerminal = false;

// Raw input; the device gets input's settings with only ISIG kept and no
// output processing (or its own, where input is no terminal).
void configureTerminals(int input, int device)
{
    termios settings {};
    if (tcgetattr(input, &settings) == 0) {
        inputSettings = settings;
        inputIsTerminal = true;
        endingPutsBack(device, input, &inputSettings);
        settings.c_lflag = 0;
        tcsetattr(input, TCSANOW, &settings);
    } else if (tcgetattr(device, &settings) != 0) {
        return;
    }
    settings.c_lflag = ISIG;
    settings.c_oflag = 0;
    tcsetattr(device, TCSANOW, &settings);
}

// Whether input's end means the caller's terminal, output's too, has gone: in
// raw mode waiting for a byte (VMIN) a terminal reads end of file only once
// hung up. xnu keeps answering tcgetattr on a hung-up terminal, Linux fails it.
bool callerTerminalGone(int input, int output)
{
    struct stat in {}, out {};
    if (!inputIsTerminal || fstat(input, &in) != 0 || fstat(output, &out) != 0 || !S_ISCHR(out.st_mode) ||
        in.st_rdev != out.st_rdev)
        return false;
    termios settings {};
    return inputSettings.c_cc[VMIN] > 0 || tcgetattr(output, &settings) != 0;
}

bool isWritableBy(int fd, ReadySet& set, std::chrono::steady_clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return false;
    timeval limit = {time_t(left.count() / 1000000), suseconds_t(left.count() % 1000000)};
    return select(fd + 1, nullptr, set.only(fd), nullptr, &limit) > 0;
}

// The device has hung up or failed: what it said last still goes out, for
// as long as standard output takes it, at most two seconds.
[[noreturn]] void endAsDeviceGone(const RelayOutput& output, ReadySet& set)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    auto write = [&](const char* bytes, std::size_t count) { return writeRelayOutput(output, bytes, count); };
    while (!toOutput.isEmpty() && isWritableBy(output.fd, set, deadline)) {
        if (drain(toOutput, write, output.isShared) == Outcome::Ended)
            endRelayAsOutputGone();
    }
    endRelay(0);
}

// Whether a terminal device has hung up, looked at without reading it: it
// is readable, and then fails its ioctls (Linux) or has nothing queued where
// a read waits for a byte (xnu). Another device never says.
bool deviceHungUp(int device, ReadySet& set)
{
    if (!isatty(device) && errno != EIO)
        return false;
    timeval now {};
    if (select(device + 1, set.only(device), nullptr, nullptr, &now) <= 0 || !set.has(device))
        return false;
    int queued = 0;
    termios settings {};
    if (ioctl(device, FIONREAD, &queued) != 0 || tcgetattr(device, &settings) != 0)
        return errno == EIO || errno == ENXIO;
    return queued == 0 && settings.c_cc[VMIN] > 0;
}

[[noreturn]] void relay(int input, int device, const RelayOutput& output, int hangup)
{
    // Both sets as long as select reads them: up to the highest of all.
    int highest = std::max({input, device, output.fd, hangup});
    ReadySet readable(highest), writable(highest);
    auto toDeviceWrite = [device](const char* bytes, std::size_t count) { return write(device, bytes, count); };
    auto toOutputWrite = [&output](const char* bytes, std::size_t count) {
        return writeRelayOutput(output, bytes, count);
    };
    bool inputOpen = true;
    for (;;) {
        // A source is read while its buffer has room, a destination waited
        // for while it has bytes to take.
        readable.clear();
        writable.clear();
        if (hangup >= 0)
            readable.add(hangup);
        if (inputOpen && toDevice.hasRoom())
            readable.add(input);
        if (toOutput.hasRoom())
            readable.add(device);
        if (!toDevice.isEmpty())
            writable.add(device);
        if (!toOutput.isEmpty())
            writable.add(output.fd);
        // While the device is not read (standard output takes nothing), its
        // hang-up is looked for four times a second instead.
        bool deviceUnread = !toOutput.hasRoom();
        timeval quarterSecond = {0, 250000};
        int ready = select(highest + 1, readable.get(), writable.get(), nullptr, deviceUnread ? &quarterSecond : nullptr);
        if (ready < 0) {
            // The sets say nothing then: wait again rather than read a side that may have nothing.
            if (errno == EINTR)
                continue;
            endRelay(1);
        }
        if (hangup >= 0 && readable.has(hangup)) {
            // The device's own hang-up leaves it reading end of file or
            // failing; a kill -HUP leaves it there.
            char byte;
            ssize_t got = read(device, &byte, 1);
            if (got == 0 || (got < 0 && !isTransient(errno)))
                endAsDeviceGone(output, writable);
            endRelayBySignal(SIGHUP);
        }
        if (ready == 0) {
            if (deviceUnread && deviceHungUp(device, writable))
                endAsDeviceGone(output, writable);
            continue;
        }

        // Standard input first when both sides have something.
        if (readable.has(input) && fill(toDevice, input) == Outcome::Ended) {
            // Neither its end nor its failure ends the relay while the device
            // still talks, unless the caller's terminal has gone.
            inputOpen = false;
            if (callerTerminalGone(input, output.fd))
                endRelayAsOutputGone();
        }
        if (!toDevice.isEmpty() && drain(toDevice, toDeviceWrite) == Outcome::Ended)
            endAsDeviceGone(output, writable);

        if (readable.has(device) && fill(toOutput, device) == Outcome::Ended)
            endAsDeviceGone(output, writable);
        // A shared description takes its bytes only once select calls it writable.
        if (!toOutput.isEmpty() && (!output.isShared || writable.has(output.fd)) &&
            drain(toOutput, toOutputWrite, output.isShared) == Outcome::Ended)
            endRelayAsOutputGone();
    }
}

} // namespace

int runTtyRelay(int argc, char** argv)
{
    // The caller's terminal through descriptions of the relay's own, opened
    // while its names are the caller's: a Mac's /dev/tty descriptor would
    // follow the controlling terminal, which after setsid is the device.
    char name[PATH_MAX] = "";
    int input = isatty(standardInput) && reopeningPath(standardInput, name, sizeof name)
                    ? open(name, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)
                    : -1;
    if (input < 0)
        input = standardInput;
    RelayOutput output = openRelayOutput();

    setpgid(getpid(), getpgid(getppid()));
    setsid();
    int device = openDevice(argv[argc - 1]);
    if (device < 0)
        return 1;

    int hangup = watchEndingSignals();
    endingPutsBack(device, -1, nullptr);
    configureTerminals(input, device);
    // Never blocking on the device, which is ours alone, is what lets a
    // device that waits to write its echo back still be read.
    fcntl(device, F_SETFL, fcntl(device, F_GETFL) | O_NONBLOCK);
    // The newline is the first byte the device gets, before anything typed.
    toDevice.bytes[0] = '\n';
    toDevice.end = 1;
    relay(input, device, output, hangup);
}
