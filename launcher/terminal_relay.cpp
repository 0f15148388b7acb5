#include "terminal_relay.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/socket.h>
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
// nothing for a while never holds up the other one. Twice a read's size, so
// that a source can be read while the last read's bytes still wait: a chunk
// then costs one wait, one read and one write.
constexpr std::size_t readSize = 4096;

struct RelayBuffer {
    char bytes[2 * readSize];
    std::size_t start = 0; // first byte not yet taken
    std::size_t end = 0;   // one past the last

    bool isEmpty() const { return start == end; }
    bool hasRoom() const { return end - start < sizeof bytes; }
    // Where the next read goes, and how much it may take: whole reads, the
    // bytes still waiting moved to the front first when the end is near.
    char* room(std::size_t* size)
    {
        if (sizeof bytes - end < readSize && start > 0) {
            std::memmove(bytes, bytes + start, end - start);
            end -= start;
            start = 0;
        }
        *size = std::min(readSize, sizeof bytes - end);
        return bytes + end;
    }
    void added(std::size_t size) { end += size; }
    void taken(std::size_t size)
    {
        start += size;
        if (start == end)
            start = end = 0;
    }
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

// Standard input's settings as they were, put back however the relay ends.
termios originalInputSettings;
volatile sig_atomic_t inputSettingsSaved = 0;

void restoreInput()
{
    if (inputSettingsSaved)
        tcsetattr(standardInput, TCSANOW, &originalInputSettings);
}

// Every signal whose default action ends the process: none of them may leave
// the caller's terminal raw. SIGHUP is handled apart (see below).
const int endingSignals[] = {
    SIGINT, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM,
    SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef SIGEMT
    SIGEMT,
#endif
#ifdef __linux__
    SIGSTKFLT, SIGIO, SIGPWR,
#endif
};

[[noreturn]] void endBySignal(int signalNumber)
{
    signal(signalNumber, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    raise(signalNumber);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    _exit(128 + signalNumber);
}

void restoreInputAndEnd(int signalNumber)
{
    restoreInput();
    // The default action back, here rather than by SA_RESETHAND alone, which
    // xnu ignores for SIGILL and SIGTRAP: once this returns, the signal ends
    // the process as it would have without us, with the same status.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signalNumber, &fallback, nullptr);
    raise(signalNumber);
}

// After setsid the device is our controlling terminal, so its hang-up comes
// as SIGHUP first. Whether that is the device gone or a plain kill -HUP is
// decided in the relay loop, the one place SIGHUP is let through.
volatile sig_atomic_t hangupSignalled = 0;
sigset_t maskWhileWaiting;

void noteHangup(int)
{
    hangupSignalled = 1;
}

// Only what still has its default action: what the caller ignores (nohup,
// trap '') stays ignored, and a handler that a runtime of ours installed
// (a sanitizer's) stays in place.
bool hasDefaultAction(int signalNumber)
{
    struct sigaction current {};
    return sigaction(signalNumber, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
           current.sa_handler == SIG_DFL;
}

void handleEndingSignals()
{
    struct sigaction action {};
    action.sa_handler = restoreInputAndEnd;
    action.sa_flags = SA_RESETHAND;
    sigfillset(&action.sa_mask);
    auto install = [&](int signalNumber) {
        if (hasDefaultAction(signalNumber))
            sigaction(signalNumber, &action, nullptr);
    };
    for (int signalNumber : endingSignals)
        install(signalNumber);
#ifdef SIGRTMIN
    for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber)
        install(signalNumber);
#endif

    sigprocmask(SIG_SETMASK, nullptr, &maskWhileWaiting);
    if (hasDefaultAction(SIGHUP)) {
        struct sigaction hangup {};
        hangup.sa_handler = noteHangup;
        sigfillset(&hangup.sa_mask);
        sigaction(SIGHUP, &hangup, nullptr);
        sigdelset(&maskWhileWaiting, SIGHUP);
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGHUP);
        sigprocmask(SIG_BLOCK, &blocked, nullptr);
    }
}

// The reader of standard output has gone: end as a filter does then, by
// SIGPIPE, or with 1 where the caller ignores SIGPIPE.
[[noreturn]] void endAsOutputGone()
{
    restoreInput();
    struct sigaction current {};
    sigaction(SIGPIPE, nullptr, &current);
    if (current.sa_handler != SIG_IGN)
        endBySignal(SIGPIPE);
    _exit(1);
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

// Standard output, written so that no write can block and hold up the
// other direction, signals or the device's hang-up, while the caller's open
// file stays as the caller made it (no O_NONBLOCK there): a terminal (or
// another device) gets a description of the relay's own, non-blocking, on
// the same device; a socket is sent to without waiting; a file never
// blocks. Anything else (a pipe, which another writer may fill between
// select and write; a terminal the relay may not reopen) is written at most
// PIPE_BUF bytes at a time once writable, and a watchdog interrupts a write
// that still waits after a while: it returns what went in.
int outputFd = standardOutput;
bool outputIsSocket = false;
bool outputTakesPipeBufOnly = false;

constexpr auto longestWrite = std::chrono::milliseconds(200);
std::atomic<std::int64_t> writeStartedAt {0}; // steady nanoseconds; 0: not writing
std::atomic<bool> watchdogSleeps {false};
int watchdogKick[2] = {-1, -1};
pthread_t relayThread;

std::int64_t steadyNow()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void interruptWrite(int) {}

void* watchWrites(void*)
{
    for (;;) {
        watchdogSleeps = true;
        bool writing = writeStartedAt != 0;
        pollfd kick = {watchdogKick[0], POLLIN, 0};
        if (poll(&kick, 1, writing ? 50 : -1) > 0) {
            char bytes[16];
            (void)!read(watchdogKick[0], bytes, sizeof bytes);
        }
        watchdogSleeps = false;
        std::int64_t started = writeStartedAt;
        if (started != 0 && steadyNow() - started >= std::chrono::nanoseconds(longestWrite).count())
            pthread_kill(relayThread, SIGURG);
    }
}

// False where no watchdog can be had; writes are then as select allows.
bool startWriteWatchdog()
{
    struct sigaction interrupt {};
    interrupt.sa_handler = interruptWrite; // no SA_RESTART: the write returns
    sigemptyset(&interrupt.sa_mask);
    sigaction(SIGURG, &interrupt, nullptr);
    sigset_t urgent;
    sigemptyset(&urgent);
    sigaddset(&urgent, SIGURG);
    sigprocmask(SIG_UNBLOCK, &urgent, nullptr);
    sigdelset(&maskWhileWaiting, SIGURG);
    if (pipe(watchdogKick) != 0)
        return false;
    fcntl(watchdogKick[0], F_SETFD, FD_CLOEXEC);
    fcntl(watchdogKick[1], F_SETFD, FD_CLOEXEC);
    fcntl(watchdogKick[1], F_SETFL, O_NONBLOCK);
    relayThread = pthread_self();
    // The watchdog takes none of the signals meant for the relay.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    pthread_t watchdog;
    bool started = pthread_create(&watchdog, nullptr, watchWrites, nullptr) == 0;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (started)
        pthread_detach(watchdog);
    return started;
}

ssize_t boundedWrite(int destination, const char* bytes, std::size_t count)
{
    writeStartedAt = steadyNow();
    if (watchdogSleeps)
        (void)!write(watchdogKick[1], "k", 1);
    ssize_t written = write(destination, bytes, count);
    int savedErrno = errno;
    writeStartedAt = 0;
    errno = savedErrno;
    return written;
}

// A device reopened by its name: on Linux the descriptor's own, which names
// even a terminal of another namespace; ttyname's on a Mac. Not /dev/tty,
// which after setsid names the device, nor a pty's master, whose reopening
// makes a new pty.
int openOwnDescription(const struct stat& output)
{
    char name[PATH_MAX] = "";
    ssize_t length = readlink("/proc/self/fd/1", name, sizeof name - 1);
    if (length > 0)
        name[length] = '\0';
    else if (const char* found = ttyname(standardOutput))
        std::snprintf(name, sizeof name, "%s", found);
    std::string path = name;
    if (path.empty() || path == "/dev/tty" || (path.size() >= 4 && path.compare(path.size() - 4, 4, "ptmx") == 0))
        return -1;
    int own = open(length > 0 ? "/proc/self/fd/1" : name, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct stat opened {};
    if (own >= 0 && (fstat(own, &opened) != 0 || opened.st_rdev != output.st_rdev || !S_ISCHR(opened.st_mode))) {
        close(own);
        own = -1;
    }
    return own;
}

void prepareOutput()
{
    struct stat output {};
    if (fstat(standardOutput, &output) != 0)
        return;
    if (S_ISSOCK(output.st_mode)) {
        outputIsSocket = true;
    } else if (S_ISCHR(output.st_mode) && (fcntl(standardOutput, F_GETFL) & O_ACCMODE) != O_RDONLY) {
        int own = openOwnDescription(output);
        if (own >= 0)
            outputFd = own;
        else
            outputTakesPipeBufOnly = true;
    } else if (!S_ISREG(output.st_mode) && !S_ISBLK(output.st_mode)) {
        outputTakesPipeBufOnly = true;
    }
}

bool writesBounded = false;

ssize_t writeOut(int destination, const char* bytes, std::size_t count)
{
    if (destination == outputFd && outputIsSocket)
        return send(destination, bytes, count, MSG_DONTWAIT);
    if (destination == outputFd && writesBounded)
        return boundedWrite(destination, bytes, count);
    return write(destination, bytes, count);
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
    std::size_t size = 0;
    char* into = buffer.room(&size);
    ssize_t count = read(source, into, size);
    if (count > 0) {
        buffer.added(static_cast<std::size_t>(count));
        return Outcome::Moved;
    }
    return count < 0 && isTransient(errno) ? Outcome::Nothing : Outcome::Ended;
}

// A destination that never blocks takes all it can now; a pipe gets one
// write, of at most PIPE_BUF bytes (which it takes whole once writable),
// each time select calls it writable.
Outcome drain(RelayBuffer& buffer, int destination)
{
    bool mayBlock = destination == outputFd && outputTakesPipeBufOnly;
    while (!buffer.isEmpty()) {
        std::size_t count = std::min<std::size_t>(buffer.end - buffer.start, mayBlock ? PIPE_BUF : sizeof buffer.bytes);
        ssize_t written = writeOut(destination, buffer.bytes + buffer.start, count);
        if (written > 0)
            buffer.taken(static_cast<std::size_t>(written));
        else if (written < 0 && errno == EINTR && mayBlock)
            return Outcome::Nothing; // cut off by the watchdog: wait again
        else if (written < 0 && errno == EINTR)
            continue;
        else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return Outcome::Nothing;
        else
            return Outcome::Ended;
        if (mayBlock)
            break;
    }
    return Outcome::Moved;
}

// Whether standard input ending means the caller's terminal has gone, with
// standard output on that same terminal: then nothing typed or shown can
// reach anyone any more. In the relay's raw mode a terminal reads end of
// file only once hung up, as long as a read waits for a byte (VMIN); xnu
// keeps answering tcgetattr on a hung-up terminal, Linux fails it.
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
    return originalInputSettings.c_cc[VMIN] > 0 || tcgetattr(standardOutput, &settings) != 0;
}

// Whether standard output takes bytes before the deadline (now: at once).
bool isOutputWritableBy(std::chrono::steady_clock::time_point deadline = {})
{
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
    timeval limit {};
    if (left.count() > 0)
        limit = {static_cast<time_t>(left.count() / 1000000), static_cast<suseconds_t>(left.count() % 1000000)};
    clearSet(writableSet);
    addToSet(writableSet, outputFd);
    return select(outputFd + 1, nullptr, asFdSet(writableSet), nullptr, &limit) > 0;
}

// The device has hung up or failed for good: what it said last still goes
// out, unless standard output takes nothing for a while, then the relay ends.
[[noreturn]] void endAsDeviceGone()
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!deviceToOutput.isEmpty() && std::chrono::steady_clock::now() < deadline && isOutputWritableBy(deadline)) {
        if (drain(deviceToOutput, outputFd) == Outcome::Ended)
            endAsOutputGone();
    }
    restoreInput();
    _exit(0);
}

// Whether a terminal device has hung up, looked at without reading it: it
// is readable, and then fails its ioctls (Linux) or has nothing queued
// (where a read waits for a byte, VMIN). Another device never says.
bool deviceHungUp(int device)
{
    if (!isatty(device) && errno != EIO)
        return false;
    clearSet(readableSet);
    addToSet(readableSet, device);
    timeval now {};
    if (select(device + 1, asFdSet(readableSet), nullptr, nullptr, &now) <= 0)
        return false;
    int queued = 0;
    termios settings {};
    if (ioctl(device, FIONREAD, &queued) != 0 || tcgetattr(device, &settings) != 0)
        return errno == EIO || errno == ENXIO;
    return queued == 0 && settings.c_cc[VMIN] > 0;
}

// A kernel's hang-up leaves the device reading end of file or failing; a
// kill -HUP leaves it there, with nothing to read or more to say.
[[noreturn]] void endOnHangup(int device)
{
    char byte;
    ssize_t got = read(device, &byte, 1);
    if (got == 0 || (got < 0 && !isTransient(errno)))
        endAsDeviceGone();
    restoreInput();
    endBySignal(SIGHUP);
}

[[noreturn]] void relayUntilEnded(int device)
{
    bool inputOpen = true;
    int highest = std::max(device, outputFd);
    for (;;) {
        clearSet(readableSet);
        clearSet(writableSet);
        // Read a source while its buffer has room, and wait for a
        // destination only while it has bytes to take.
        if (inputOpen && inputToDevice.hasRoom())
            addToSet(readableSet, standardInput);
        if (deviceToOutput.hasRoom())
            addToSet(readableSet, device);
        if (!inputToDevice.isEmpty())
            addToSet(writableSet, device);
        if (!deviceToOutput.isEmpty())
            addToSet(writableSet, outputFd);
        // While the device is not read (standard output takes nothing), its
        // hang-up is looked for four times a second instead.
        const timespec quarterSecond = {0, 250000000};
        bool deviceUnread = !deviceToOutput.hasRoom();
        int ready = pselect(highest + 1, asFdSet(readableSet), asFdSet(writableSet), nullptr,
                            deviceUnread ? &quarterSecond : nullptr, &maskWhileWaiting);
        if (hangupSignalled)
            endOnHangup(device);
        if (ready == 0) {
            if (deviceUnread && deviceHungUp(device))
                endAsDeviceGone();
            continue;
        }
        if (ready < 0) {
            // A signal or the like: the sets say nothing, so wait again
            // rather than read a side that may have nothing.
            if (isTransient(errno))
                continue;
            restoreInput();
            _exit(1);
        }

        // Standard input first when both sides have something.
        bool deviceWritable = isInSet(writableSet, device);
        if (isInSet(readableSet, standardInput)) {
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

        // Standard output was waited for only if it had bytes already; bytes
        // that arrive in an empty buffer are sent on once it is writable now.
        bool outputPolled = !deviceToOutput.isEmpty();
        bool outputWritable = isInSet(writableSet, outputFd);
        if (isInSet(readableSet, device)) {
            Outcome read = fill(deviceToOutput, device);
            if (read == Outcome::Ended)
                endAsDeviceGone();
            if (read == Outcome::Moved && !outputPolled)
                outputWritable = isOutputWritableBy();
        }
        if (outputWritable && drain(deviceToOutput, outputFd) == Outcome::Ended)
            endAsOutputGone();
    }
}

} // namespace

int runTtyRelay(int argc, char** argv)
{
    setpgid(getpid(), getpgid(getppid()));
    setsid();

    const char* devicePath = argv[argc - 1];
    int device = openDevice(devicePath);
    if (device < 0)
        return 1;
    // After the device, which is to become the relay's terminal.
    prepareOutput();
    allocateSets(std::max(device, outputFd));

    handleEndingSignals();
    if (outputTakesPipeBufOnly)
        writesBounded = startWriteWatchdog();
    configureTerminals(device);
    makeDeviceNonBlocking(device);
    // The newline is the first byte the device gets, before anything typed.
    inputToDevice.bytes[0] = '\n';
    inputToDevice.added(1);
    relayUntilEnded(device);
}
