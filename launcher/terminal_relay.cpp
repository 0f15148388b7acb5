// Without this, macOS's select refuses descriptors at or past FD_SETSIZE.
#ifdef __APPLE__
#define _DARWIN_UNLIMITED_SELECT 1
#endif

#include "terminal_relay.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <termios.h>
#include <type_traits>
#include <unistd.h>
#include <utility>

namespace {

// One buffer serves both directions; nothing is allocated while relaying.
char relayBuffer[4096];

constexpr int standardInput = 0;
constexpr int standardOutput = 1;

// Readiness sets as select reads them, but sized for the device descriptor,
// which may lie past FD_SETSIZE: Linux's select takes any descriptor count,
// and macOS's does with _DARWIN_UNLIMITED_SELECT. FD_SET would refuse (or
// overrun) past the limit, so the bits are set here directly.
using SetWord = std::remove_reference_t<decltype(std::declval<fd_set&>().fds_bits[0])>;
constexpr int setWordBits = sizeof(SetWord) * CHAR_BIT;
SetWord* readySet = nullptr;
SetWord* writableSet = nullptr;
std::size_t setWords = 0;

void allocateSets(int highestDescriptor)
{
    std::size_t minimumWords = sizeof(fd_set) / sizeof(SetWord);
    setWords = std::max(minimumWords, std::size_t(highestDescriptor) / setWordBits + 1);
    readySet = new SetWord[setWords];
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

int waitForReadable(int first, int second)
{
    clearSet(readySet);
    if (first >= 0)
        addToSet(readySet, first);
    if (second >= 0)
        addToSet(readySet, second);
    return select(std::max(first, second) + 1, reinterpret_cast<fd_set*>(readySet), nullptr, nullptr, nullptr);
}

// Standard input's settings as they were, put back if a signal ends the relay.
termios originalInputSettings;
volatile sig_atomic_t inputSettingsSaved = 0;

const int endingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};

void restoreInputAndEnd(int signalNumber)
{
    if (inputSettingsSaved)
        tcsetattr(standardInput, TCSANOW, &originalInputSettings);
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
    for (int signalNumber : endingSignals)
        sigaction(signalNumber, &action, nullptr);
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

// A regular file or a folder named by mistake must not be overwritten.
int openDevice(const char* path)
{
    int device = open(path, O_RDWR);
    if (device < 0)
        return -1;
    struct stat info {};
    if (fstat(device, &info) != 0 || S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)) {
        close(device);
        return -1;
    }
    return device;
}

// A terminal may take fewer bytes than offered; keep going until all are out.
bool writeAll(int fd, const char* bytes, std::size_t count)
{
    while (count > 0) {
        ssize_t written = write(fd, bytes, count);
        if (written > 0) {
            bytes += written;
            count -= static_cast<std::size_t>(written);
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A non-blocking descriptor handed down by the caller.
            clearSet(writableSet);
            addToSet(writableSet, fd);
            select(fd + 1, nullptr, reinterpret_cast<fd_set*>(writableSet), nullptr, nullptr);
        } else if (written == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool hasInputReady(int fd)
{
    timeval noWait {};
    clearSet(readySet);
    addToSet(readySet, fd);
    int ready;
    do {
        ready = select(fd + 1, reinterpret_cast<fd_set*>(readySet), nullptr, nullptr, &noWait);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

// Copies what is ready on source to destination. False once the source has
// reached its end or failed, or the destination no longer takes bytes, so
// that the caller stops watching this direction.
bool relayCopy(int source, int destination)
{
    for (;;) {
        ssize_t count = read(source, relayBuffer, sizeof relayBuffer);
        if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
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

[[noreturn]] void relayForever(int device)
{
    bool inputOpen = true;
    bool deviceOpen = true;
    for (;;) {
        if (!inputOpen && !deviceOpen) {
            // Nothing left to relay: wait for the end from outside, idle.
            pause();
            continue;
        }
        int watchedInput = inputOpen ? standardInput : -1;
        int watchedDevice = deviceOpen ? device : -1;
        // After a failed wait (a signal) the set says nothing: wait again
        // rather than read a side that may have nothing.
        if (waitForReadable(watchedInput, watchedDevice) < 0) {
            if (errno == EBADF) {
                inputOpen = inputOpen && fcntl(standardInput, F_GETFD) >= 0;
                deviceOpen = deviceOpen && fcntl(device, F_GETFD) >= 0;
            }
            continue;
        }
        bool inputReady = inputOpen && isInSet(readySet, standardInput);
        bool deviceReady = deviceOpen && isInSet(readySet, device);
        if (inputReady)
            inputOpen = relayCopy(standardInput, device);
        if (deviceReady)
            deviceOpen = relayCopy(device, standardOutput);
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
    allocateSets(device);

    configureTerminals(device);
    writeAll(device, "\n", 1);
    relayForever(device);
}
