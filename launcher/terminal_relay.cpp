#include "terminal_relay.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <termios.h>
#include <type_traits>
#include <unistd.h>
#include <utility>

namespace {

constexpr int standardInput = 0;
constexpr int standardOutput = 1;

// One direction of the relay: bytes read from source that destination has
// not taken yet. Each direction has its own, so that a destination that takes
// nothing for a while never holds up the other one.
struct RelayBuffer {
    char bytes[4096];
    std::size_t start = 0;
    std::size_t end = 0;

    bool isEmpty() const { return start == end; }
};

// Static, so nothing is allocated while relaying.
RelayBuffer inputToDevice;
RelayBuffer deviceToOutput;

// Readiness sets as select reads them, but sized for the device descriptor,
// which may lie past FD_SETSIZE: Linux's select takes any descriptor count,
// and macOS's does with _DARWIN_UNLIMITED_SELECT (set by the build). FD_SET
// would refuse (or overrun) past the limit, so the bits are set here directly.
using SetWord = std::remove_reference_t<decltype(std::declval<fd_set&>().fds_bits[0])>;
constexpr int setWordBits = sizeof(SetWord) * CHAR_BIT;
SetWord* readableSet = nullptr;
SetWord* writableSet = nullptr;
std::size_t setWords = 0;

void allocateSets(int highestDescriptor)
{
    std::size_t minimumWords = sizeof(fd_set) / sizeof(SetWord);
    setWords = std::max(minimumWords, std::size_t(highestDescriptor) / setWordBits + 1);
    readableSet = new SetWord[setWords];
    writableSet = new SetWord[setWords];
}

void clearSet(SetWord* set)
{
    std::memset(set, 0, setWords * sizeof(SetWord));
}

void addToSet(SetWord* set, int fd)
{
    set[fd / setWordBits] |= SetWord(1) << (fd % setWordBits);
}

bool isInSet(const SetWord* set, int fd)
{
    return (set[fd / setWordBits] >> (fd % setWordBits)) & 1;
}

fd_set* asFdSet(SetWord* set)
{
    return reinterpret_cast<fd_set*>(set);
}

// Whether fd takes bytes within the time limit (none: wait as long as it takes).
bool isWritableWithin(int fd, timeval* limit)
{
    clearSet(writableSet);
    addToSet(writableSet, fd);
    int ready;
    do {
        ready = select(fd + 1, nullptr, asFdSet(writableSet), nullptr, limit);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

bool isWritableNow(int fd)
{
    timeval noWait {};
    return isWritableWithin(fd, &noWait);
}

// Standard input's settings as they were, put back however the relay ends.
termios originalInputSettings;
volatile sig_atomic_t inputSettingsSaved = 0;

void restoreInput()
{
    if (inputSettingsSaved)
        tcsetattr(standardInput, TCSANOW, &originalInputSettings);
}

// SIGPIPE too: a reader of standard output that goes away must not leave the
// caller's terminal raw.
const int endingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGPIPE};

void restoreInputAndEnd(int signalNumber)
{
    restoreInput();
    // The handler was reset on entry: once this returns, the signal ends the
    // process as it would have without us, so the caller sees the same status.
    raise(signalNumber);
}

void restoreInputOnEndingSignals()
{
    struct sigaction action {};
    action.sa_handler = restoreInputAndEnd;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : endingSignals)
        sigaddset(&action.sa_mask, signalNumber);
    for (int signalNumber : endingSignals) {
        struct sigaction current {};
        sigaction(signalNumber, nullptr, &current);
        // What the caller chose to ignore (nohup, trap '' HUP) stays ignored.
        if (current.sa_handler != SIG_IGN)
            sigaction(signalNumber, &action, nullptr);
    }
}

// The reader of standard output has gone: end as a filter does then, by
// SIGPIPE, or with 1 where the caller ignores SIGPIPE.
[[noreturn]] void endAsOutputGone()
{
    restoreInput();
    struct sigaction current {};
    sigaction(SIGPIPE, nullptr, &current);
    if (current.sa_handler != SIG_IGN) {
        signal(SIGPIPE, SIG_DFL);
        raise(SIGPIPE);
    }
    _exit(1);
}

// Were 0, 1 or 2 closed, the device would take its number and the relay
// would copy the device's bytes back into it.
void occupyClosedStandardStreams()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        int placeholder = open("/dev/null", O_RDWR);
        if (placeholder >= 0 && placeholder != fd) {
            dup2(placeholder, fd);
            close(placeholder);
        }
    }
}

// Only a character device: a disk, a file or a folder named by mistake would
// be overwritten, and a FIFO or socket would be read back into itself.
int openDevice(const char* path)
{
    int device = open(path, O_RDWR);
    if (device < 0)
        return -1;
    struct stat info {};
    if (fstat(device, &info) != 0 || !S_ISCHR(info.st_mode)) {
        close(device);
        return -1;
    }
    return device;
}

// Both standard streams belong to the caller's open files, so they stay as
// the caller made them; the device's description is our own, and never
// blocking there is what lets a device that waits to write its echo back
// still be read.
void makeDeviceNonBlocking(int device)
{
    int flags = fcntl(device, F_GETFL);
    if (flags >= 0)
        fcntl(device, F_SETFL, flags | O_NONBLOCK);
}

void configureTerminals(int device)
{
    termios settings {};
    if (tcgetattr(standardInput, &settings) == 0) {
        originalInputSettings = settings;
        inputSettingsSaved = 1;
        restoreInputOnEndingSignals();
        settings.c_lflag = 0;
        tcsetattr(standardInput, TCSANOW, &settings);
    } else if (tcgetattr(device, &settings) != 0) {
        return;
    }
    settings.c_lflag = ISIG;
    settings.c_oflag = 0;
    tcsetattr(device, TCSANOW, &settings);
}

bool isTransient(int error)
{
    return error == EINTR || error == EAGAIN || error == EWOULDBLOCK;
}

enum class Outcome { Moved, Nothing, Ended };

Outcome fill(RelayBuffer& buffer, int source)
{
    ssize_t count = read(source, buffer.bytes, sizeof buffer.bytes);
    if (count > 0) {
        buffer.start = 0;
        buffer.end = static_cast<std::size_t>(count);
        return Outcome::Moved;
    }
    return count < 0 && isTransient(errno) ? Outcome::Nothing : Outcome::Ended;
}

// Writes what the destination takes now. The device never blocks; standard
// output may, so it is written only while select calls it writable, and at
// most PIPE_BUF bytes at a time, which a writable pipe takes whole.
Outcome drain(RelayBuffer& buffer, int destination)
{
    bool mayBlock = destination == standardOutput;
    std::size_t largestWrite = mayBlock ? PIPE_BUF : sizeof buffer.bytes;
    while (!buffer.isEmpty()) {
        std::size_t count = std::min(buffer.end - buffer.start, largestWrite);
        ssize_t written = write(destination, buffer.bytes + buffer.start, count);
        if (written > 0) {
            buffer.start += static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return Outcome::Nothing;
        } else {
            return Outcome::Ended;
        }
        if (mayBlock && !buffer.isEmpty() && !isWritableNow(destination))
            return Outcome::Nothing;
    }
    return Outcome::Moved;
}

// Whether standard input ending means the caller's terminal has gone, with
// standard output on that same terminal: then nothing typed or shown can
// reach anyone any more.
bool callerTerminalGone()
{
    if (!inputSettingsSaved)
        return false;
    struct stat input {}, output {};
    if (fstat(standardInput, &input) != 0 || fstat(standardOutput, &output) != 0)
        return false;
    if (!S_ISCHR(output.st_mode) || input.st_rdev != output.st_rdev)
        return false;
    termios settings {};
    return tcgetattr(standardOutput, &settings) != 0;
}

// The device has hung up or failed for good: what it said last still goes
// out, then the relay ends.
[[noreturn]] void endAsDeviceGone()
{
    while (!deviceToOutput.isEmpty()) {
        isWritableWithin(standardOutput, nullptr);
        if (drain(deviceToOutput, standardOutput) == Outcome::Ended)
            endAsOutputGone();
    }
    restoreInput();
    _exit(0);
}

[[noreturn]] void relayUntilEnded(int device)
{
    bool inputOpen = true;
    int highest = std::max(device, standardOutput);
    for (;;) {
        clearSet(readableSet);
        clearSet(writableSet);
        // Read a source only into an empty buffer, and wait for a
        // destination only while it has bytes to take.
        if (inputOpen && inputToDevice.isEmpty())
            addToSet(readableSet, standardInput);
        if (deviceToOutput.isEmpty())
            addToSet(readableSet, device);
        if (!inputToDevice.isEmpty())
            addToSet(writableSet, device);
        if (!deviceToOutput.isEmpty())
            addToSet(writableSet, standardOutput);
        if (select(highest + 1, asFdSet(readableSet), asFdSet(writableSet), nullptr, nullptr) < 0) {
            // A signal or the like: the sets say nothing, so wait again
            // rather than read a side that may have nothing.
            if (isTransient(errno))
                continue;
            restoreInput();
            _exit(1);
        }
        bool inputReadable = isInSet(readableSet, standardInput);
        bool deviceReadable = isInSet(readableSet, device);
        bool deviceWritable = isInSet(writableSet, device);
        bool outputWritable = isInSet(writableSet, standardOutput);

        // Standard input first when both sides have something.
        if (inputReadable) {
            Outcome read = fill(inputToDevice, standardInput);
            if (read == Outcome::Ended) {
                // Neither its end nor its failure ends the relay while the
                // device still talks, unless the caller's terminal has gone.
                inputOpen = false;
                if (callerTerminalGone())
                    endAsOutputGone();
            }
            deviceWritable = deviceWritable || read == Outcome::Moved;
        }
        if (deviceWritable && drain(inputToDevice, device) == Outcome::Ended)
            endAsDeviceGone();

        if (deviceReadable) {
            Outcome read = fill(deviceToOutput, device);
            if (read == Outcome::Ended)
                endAsDeviceGone();
            if (read == Outcome::Moved)
                outputWritable = outputWritable || isWritableNow(standardOutput);
        }
        if (outputWritable && drain(deviceToOutput, standardOutput) == Outcome::Ended)
            endAsOutputGone();
    }
}

} // namespace

int runTtyRelay(int argc, char** argv)
{
    setpgid(getpid(), getpgid(getppid()));
    setsid();

    occupyClosedStandardStreams();
    const char* devicePath = argv[argc - 1];
    int device = openDevice(devicePath);
    if (device < 0)
        return 1;
    allocateSets(std::max(device, standardOutput));

    configureTerminals(device);
    makeDeviceNonBlocking(device);
    // The newline is the first byte the device gets, before anything typed.
    inputToDevice.bytes[0] = '\n';
    inputToDevice.end = 1;
    relayUntilEnded(device);
}
