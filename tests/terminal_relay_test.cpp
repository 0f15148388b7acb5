#include <gtest/gtest.h>

#include "process_runner.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#ifdef __APPLE__
#include <util.h>
#else
#include <pty.h>
#endif
#include <sstream>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

const std::string game = std::string(GAME_BUNDLE) + "/Contents/MacOS/Game";

// So that a relay or helper started later holds no end of the test's own:
// a device or pipe held open there would never hang up or lose its reader.
void keepFromChildren(int fd)
{
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

struct PseudoTerminal {
    int master = -1;
    int slave = -1;
    std::string slavePath;

    PseudoTerminal()
    {
        char name[128];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        slavePath = name;
        keepFromChildren(master);
        keepFromChildren(slave);
    }
    ~PseudoTerminal()
    {
        close(master);
        close(slave);
    }
};

// A pipe for the relay's standard input; both ends are closed at the end.
struct InputPipe {
    int readEnd = -1;
    int writeEnd = -1;

    InputPipe()
    {
        int ends[2];
        if (pipe(ends) != 0)
            throw std::runtime_error("pipe failed");
        readEnd = ends[0];
        writeEnd = ends[1];
        keepFromChildren(readEnd);
        keepFromChildren(writeEnd);
    }
    ~InputPipe()
    {
        closeReadEnd();
        closeWriteEnd();
    }
    // Once the relay holds its copy, so that closing the write end is its end of input.
    void closeReadEnd() { closeEnd(readEnd); }
    void closeWriteEnd() { closeEnd(writeEnd); }

private:
    static void closeEnd(int& fd)
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
};

// How the relay's child process is set up before the bundle starts.
struct RelaySetup {
    // Made the controlling terminal of a new session that the relay starts in.
    int controllingTerminal = -1;
    std::string folder;
    // Low descriptors filled, so that the device lands above them.
    int occupiedDescriptors = 0;
    // A standard stream (0 or 1) closed when the relay starts.
    int closedStream = -1;
    // A signal the caller ignores, as nohup or trap '' does.
    int ignoredSignal = 0;
    // Standard output on standard input's terminal, as a shell leaves it.
    bool outputOnInput = false;
    // The kernel behaving as a Mac's does where it differs (a preloaded shim).
    bool asOnAMac = false;
    // SIGHUP sent by the relay's own write of "hup!", and its waits failing
    // after it wrote "die!" (another preloaded shim).
    bool withMishaps = false;
    // Standard output, or input, opened as /dev/tty, the controlling
    // terminal's name, and the relay started from a shell, so that it is not
    // its session's leader: its own session then begins, where /dev/tty
    // names the device.
    bool outputAsDevTty = false;
    bool inputAsDevTty = false;
    // Standard output a socket (as under inetd or ssh's forwarding) rather than a pipe.
    bool outputToSocket = false;
    // A signal the caller leaves blocked.
    int blockedSignal = 0;
    // One more descriptor left open above the occupied ones (a copy of standard output).
    int alsoOpen = -1;
};

// Forks: the parent stays behind as the shell that leads the session and
// ends as the relay does (so pid names the shell); only the relay returns,
// and it dies with its shell.
void startUnderAShell()
{
    pid_t relay = fork();
    if (relay < 0)
        _exit(124);
    if (relay == 0) {
#ifdef __linux__
        prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
        return;
    }
    // The shell holds nothing of the test's, such as the device's master.
    for (int fd = 3; fd < 1024; ++fd)
        close(fd);
    Ending ending = waitForEnding(relay, -1);
    // A Mac's session leader waits in its exit for its terminal's unread output.
    tcflush(0, TCOFLUSH);
    if (ending == stillRunning)
        _exit(125);
    if (ending.kind == Ending::Signalled) {
        signal(ending.value, SIG_DFL);
        raise(ending.value);
    }
    _exit(ending.value);
}

// The relay as a child process: stdin from inputFd, stdout into a pipe the
// test reads.
class Relay {
public:
    Relay(int inputFd, std::vector<std::string> arguments, const RelaySetup& setup = {})
    {
        int output[2];
        if ((setup.outputToSocket ? socketpair(AF_UNIX, SOCK_STREAM, 0, output) : pipe(output)) != 0)
            throw std::runtime_error("pipe failed");
        keepFromChildren(output[0]);
        pid = fork();
        if (pid == 0) {
            if (setup.controllingTerminal >= 0) {
                setsid();
                ioctl(setup.controllingTerminal, TIOCSCTTY, 0);
            }
            dup2(inputFd, 0);
            dup2(setup.outputOnInput ? inputFd : output[1], 1);
            if (setup.outputAsDevTty)
                dup2(open("/dev/tty", O_WRONLY), 1);
            if (setup.inputAsDevTty)
                dup2(open("/dev/tty", O_RDONLY), 0);
            if (!setup.folder.empty() && chdir(setup.folder.c_str()) != 0)
                _exit(126);
            for (int fd = 3; fd < 3 + setup.occupiedDescriptors; ++fd)
                if (dup2(0, fd) < 0)
                    _exit(125);
            if (setup.alsoOpen >= 0 && dup2(1, setup.alsoOpen) < 0)
                _exit(125);
            if (setup.closedStream >= 0)
                close(setup.closedStream);
            // Nothing ignored but what the case asks for, even when the
            // tests run in the background or under nohup.
            for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber)
                signal(signalNumber, SIG_DFL);
            if (setup.ignoredSignal != 0)
                signal(setup.ignoredSignal, SIG_IGN);
            sigset_t blocked;
            sigemptyset(&blocked);
            if (setup.blockedSignal != 0)
                sigaddset(&blocked, setup.blockedSignal);
            sigprocmask(SIG_SETMASK, &blocked, nullptr);
            rlimit noCore = {0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
#ifdef XNU_BEHAVIOUR_SHIM
            const char* shim = setup.asOnAMac      ? XNU_BEHAVIOUR_SHIM
                               : setup.withMishaps ? RELAY_MISHAPS_SHIM
                                                   : nullptr;
            if (shim) {
                setenv("LD_PRELOAD", shim, 1);
                // Ahead of AddressSanitizer's runtime, which by default insists on coming first.
                std::string options = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
                setenv("ASAN_OPTIONS", (options + ":verify_asan_link_order=0").c_str(), 1);
            }
#endif
            if (setup.outputAsDevTty || setup.inputAsDevTty)
                startUnderAShell();
            std::vector<char*> argv;
            for (auto& argument : arguments)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            execv(game.c_str(), argv.data());
            _exit(127);
        }
        close(output[1]);
        outputFd = output[0];
    }
    ~Relay()
    {
        if (pid > 0 && ending == stillRunning) {
            kill(pid, SIGKILL);
            // Bounded: a Mac's session leader may wait in its exit for its
            // terminal's output until the test's master closes.
            waitForEnding(pid, 5);
        }
        close(outputFd);
    }

    // How the relay ended, or stillRunning after the time limit.
    Ending waitForExit(double seconds)
    {
        if (ending == stillRunning)
            ending = waitForEnding(pid, seconds);
        return ending;
    }

    double cpuSeconds() const { return processCpuSeconds(pid); }

    pid_t pid = -1;
    int outputFd = -1;
    Ending ending;
};

// A terminal's settings as bytes, to compare whole.
std::string bytesOf(const termios& settings)
{
    return std::string(reinterpret_cast<const char*>(&settings), sizeof settings);
}

// Read through a pseudo-terminal's master, which shares them: on a Mac the
// end of the slave's session revokes every descriptor on the slave.
std::string settingsOf(int fd)
{
    termios settings {};
    return tcgetattr(fd, &settings) == 0 ? bytesOf(settings) : "unreadable";
}

// Reads exactly count bytes, or fewer at end of file or when the time limit runs out.
std::string readBytes(int fd, std::size_t count, double seconds = 20)
{
    std::string data;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    char chunk[65536];
    while (data.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        // select, not poll: macOS's poll refuses devices.
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        timeval limit {static_cast<time_t>(left.count() / 1000), static_cast<suseconds_t>(left.count() % 1000 * 1000)};
        if (select(fd + 1, &readable, nullptr, nullptr, &limit) <= 0)
            continue;
        ssize_t got = read(fd, chunk, std::min(sizeof chunk, count - data.size()));
        if (got > 0)
            data.append(chunk, static_cast<std::size_t>(got));
        else if (got == 0 || (errno != EINTR && errno != EAGAIN))
            break;
    }
    return data;
}

// Writes all of data; on a non-blocking descriptor, gives up when it takes
// nothing for the given seconds.
void writeBytes(int fd, const std::string& data, double seconds = 20)
{
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t written = write(fd, data.data() + done, data.size() - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
        } else if (errno == EAGAIN) {
            fd_set writable;
            FD_ZERO(&writable);
            FD_SET(fd, &writable);
            auto micros = static_cast<long long>(seconds * 1e6);
            timeval limit {static_cast<time_t>(micros / 1000000), static_cast<suseconds_t>(micros % 1000000)};
            if (select(fd + 1, nullptr, &writable, nullptr, &limit) == 0)
                return;
        } else if (errno != EINTR) {
            return;
        }
    }
}

// The pipe made as small as it goes, and what it then holds, measured on a
// pipe of that size written as the relay writes (the kernel may keep more
// than it says): 0 where its size cannot be set (macOS), so that a test
// relies on no size there.
int shrinkPipe(int fd)
{
#ifdef F_SETPIPE_SZ
    fcntl(fd, F_SETPIPE_SZ, 4096);
    int scratch[2];
    if (pipe(scratch) != 0)
        return 0;
    fcntl(scratch[1], F_SETPIPE_SZ, 4096);
    fcntl(scratch[1], F_SETFL, O_NONBLOCK);
    int held = 0;
    char bytes[PIPE_BUF - 1] = {};
    for (std::size_t chunk : {sizeof bytes, std::size_t(1)}) {
        ssize_t written;
        while ((written = write(scratch[1], bytes, chunk)) > 0)
            held += int(written);
    }
    close(scratch[0]);
    close(scratch[1]);
    return held;
#else
    (void)fd;
    return 0;
#endif
}

// Printable bytes only: the device keeps ISIG and the input flags it was given.
std::string printablePattern(std::size_t size, unsigned seed)
{
    std::string data(size, ' ');
    for (std::size_t i = 0; i < size; ++i)
        data[i] = static_cast<char>('!' + (i * 7 + seed + i / 4093) % 90);
    return data;
}

} // namespace

TEST(TerminalRelay, NewlineFirstThenPendingInputWholeAndInOrder)
{
    for (bool outputToSocket : {false, true}) {
        SCOPED_TRACE(outputToSocket ? "standard output a socket" : "standard output a pipe");
        PseudoTerminal device;
        InputPipe input;
        std::string pending = printablePattern(5000, 1);
        writeBytes(input.writeEnd, pending);

        RelaySetup setup;
        setup.outputToSocket = outputToSocket;
        Relay relay(input.readEnd, {"P", "-tty", device.slavePath}, setup);
        input.closeReadEnd();
        EXPECT_EQ(readBytes(device.master, 1 + pending.size()), "\n" + pending);
        std::string answer = printablePattern(3000, 2);
        writeBytes(device.master, answer);
        EXPECT_EQ(readBytes(relay.outputFd, answer.size(), 5), answer);
    }
}

TEST(TerminalRelay, MegabyteEachWayAtOnceArrivesWholeAndInOrder)
{
    PseudoTerminal device;
    InputPipe input;
    Relay relay(input.readEnd, {"P", "-tty", device.slavePath});
    input.closeReadEnd();
    ASSERT_EQ(readBytes(device.master, 1), "\n");

    const std::size_t size = 1 << 20;
    std::string toDevice = printablePattern(size, 3);
    std::string fromDevice = printablePattern(size, 5);
    std::string receivedOnDevice, receivedOnOutput;
    std::thread inputWriter([&] { writeBytes(input.writeEnd, toDevice); });
    std::thread deviceWriter([&] { writeBytes(device.master, fromDevice); });
    std::thread deviceReader([&] { receivedOnDevice = readBytes(device.master, size, 60); });
    receivedOnOutput = readBytes(relay.outputFd, size, 60);
    inputWriter.join();
    deviceWriter.join();
    deviceReader.join();

    EXPECT_EQ(receivedOnDevice.size(), size);
    EXPECT_TRUE(receivedOnDevice == toDevice);
    EXPECT_EQ(receivedOnOutput.size(), size);
    EXPECT_TRUE(receivedOnOutput == fromDevice);
}

// A device that echoes as a serial console does: it reads a chunk and writes
// it back before it reads on, so it stops reading while its echo is not taken.
TEST(TerminalRelay, EchoingDeviceTakesAMegabytePasteWhole)
{
    PseudoTerminal device;
    InputPipe input;
    Relay relay(input.readEnd, {"P", "-tty", device.slavePath});
    input.closeReadEnd();

    const std::size_t size = 1 << 20;
    std::string paste = printablePattern(size, 7);
    // Non-blocking, so that a stalled relay fails the test instead of hanging it.
    fcntl(device.master, F_SETFL, O_NONBLOCK);
    std::thread echo([&] {
        std::size_t echoed = 0;
        while (echoed < 1 + size) {
            std::string chunk = readBytes(device.master, std::min<std::size_t>(4096, 1 + size - echoed), 5);
            if (chunk.empty())
                return;
            writeBytes(device.master, chunk, 5);
            echoed += chunk.size();
        }
    });
    std::thread paster([&] { writeBytes(input.writeEnd, paste); });
    std::string output = readBytes(relay.outputFd, 1 + size, 30);
    if (output.size() != 1 + size) {
        // Stalled: free the paster's write (EPIPE) rather than hang.
        signal(SIGPIPE, SIG_IGN);
        kill(relay.pid, SIGKILL);
        relay.waitForExit(5);
    }
    paster.join();
    echo.join();
    EXPECT_EQ(output.size(), 1 + size);
    EXPECT_TRUE(output == "\n" + paste);
}

TEST(TerminalRelay, InterruptTypedOnTerminalInputIsRelayedNotRaised)
{
    PseudoTerminal terminal;
    PseudoTerminal device;
    Relay relay(terminal.slave, {"P", "-tty", device.slavePath}, {terminal.slave, "", 0, -1});
    ASSERT_EQ(readBytes(device.master, 1), "\n");

    writeBytes(terminal.master, "a\x03z");
    EXPECT_EQ(readBytes(device.master, 3, 5), "a\x03z");
    EXPECT_EQ(relay.waitForExit(0.2), stillRunning) << "the relay was ended by the typed byte";
}

// Idle before anything has gone out, and after.
void keepsTalkingIdly(Relay& relay, PseudoTerminal& device)
{
    for (bool talked : {false, true}) {
        if (talked) {
            writeBytes(device.master, "still here");
            EXPECT_EQ(readBytes(relay.outputFd, 10, 5), "still here");
        }
        double before = relay.cpuSeconds();
        long wakeups = processWakeups(relay.pid);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        EXPECT_LT(relay.cpuSeconds() - before, 0.05);
        EXPECT_LT(processWakeups(relay.pid) - wakeups, 10) << "the idle relay keeps waking up";
    }
}

TEST(TerminalRelay, EndOfInputKeepsOtherDirectionAndIdlesWithoutCpu)
{
    PseudoTerminal device;
    InputPipe input;
    Relay relay(input.readEnd, {"P", "-tty", device.slavePath});
    input.closeReadEnd();
    writeBytes(input.writeEnd, "bye");
    input.closeWriteEnd();
    ASSERT_EQ(readBytes(device.master, 4), "\nbye");

    keepsTalkingIdly(relay, device);
    // A signal that interrupts the wait without ending anything (SIGURG, as
    // out-of-band data announces itself) is waited through.
    kill(relay.pid, SIGURG);
    EXPECT_EQ(relay.waitForExit(0.2), stillRunning);

    // Input that fails for good (a folder: EISDIR) is an end too, not
    // something to try again on every turn; on a Mac too.
    PseudoTerminal otherDevice;
    int folder = open("/", O_RDONLY | O_DIRECTORY);
    RelaySetup asOnAMac;
    asOnAMac.asOnAMac = true;
    Relay failing(folder, {"P", "-tty", otherDevice.slavePath}, asOnAMac);
    close(folder);
    ASSERT_EQ(readBytes(otherDevice.master, 1), "\n");
    keepsTalkingIdly(failing, otherDevice);
}

TEST(TerminalRelay, UnopenableOrNonDevicePathEndsWithOneAndChangesNothing)
{
    TemporaryFolder folder;
    writeFile(folder.file("notes.txt"), "keep me");
    ASSERT_EQ(mkfifo(folder.file("fifo").c_str(), 0600), 0);
    for (const std::string& path :
         {std::string("/nonexistent/device"), folder.file("notes.txt"), folder.path(), folder.file("fifo")}) {
        SCOPED_TRACE(path);
        PseudoTerminal terminal;
        std::string before = settingsOf(terminal.master);

        Relay relay(terminal.slave, {"P", "-tty", path}, {terminal.slave, "", 0, -1});
        writeBytes(terminal.master, "typed");
        // Its echo waits unread: on a Mac the relay, which leads the
        // terminal's session, would wait for it in its exit.
        tcflush(terminal.slave, TCOFLUSH);
        EXPECT_EQ(relay.waitForExit(10), exitedWith(1));
        EXPECT_EQ(settingsOf(terminal.master), before);
        EXPECT_EQ(readBytes(relay.outputFd, 1, 0.1), "");
    }
    EXPECT_EQ(readFile(folder.file("notes.txt")), "keep me");
}

TEST(TerminalRelay, ClosedStandardStreamNeverBecomesTheDevice)
{
    for (int closed : {0, 1}) {
        SCOPED_TRACE("closed descriptor " + std::to_string(closed));
        PseudoTerminal device;
        InputPipe input;
        Relay relay(input.readEnd, {"P", "-tty", device.slavePath}, {-1, "", 0, closed});
        input.closeReadEnd();
        ASSERT_EQ(readBytes(device.master, 1), "\n");

        writeBytes(device.master, "ping");
        if (closed == 0) {
            EXPECT_EQ(readBytes(relay.outputFd, 4, 5), "ping");
        }
        EXPECT_EQ(readBytes(device.master, 1, 0.3), "") << "the device's bytes came back to it";
        EXPECT_EQ(relay.waitForExit(0), stillRunning);
    }
}

TEST(TerminalRelay, EndingSignalRestoresTerminalInputAndEndsBySameSignal)
{
    // The device is the relay's own terminal, so a kill -HUP must not pass
    // for its hang-up. A Mac's kernel keeps the handler of SIGILL and SIGTRAP
    // in place after it ran. With nothing queued for the device no ending
    // waits (the shim, which cannot see the far side read, always has some).
    double fastestEnding = 1e9;
    for (bool asOnAMac : {false, true})
    for (int signalNumber : {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGILL, SIGTRAP}) {
        SCOPED_TRACE(std::string(strsignal(signalNumber)) + (asOnAMac ? ", as on a Mac" : ""));
        PseudoTerminal terminal;
        PseudoTerminal device;
        termios before {};
        ASSERT_EQ(tcgetattr(terminal.slave, &before), 0);
        RelaySetup setup;
        setup.asOnAMac = asOnAMac;
        // The hang-up signal counts even where the caller blocked it.
        setup.blockedSignal = signalNumber == SIGHUP ? SIGHUP : 0;
        Relay relay(terminal.slave, {"P", "-tty", device.slavePath}, setup);
        ASSERT_EQ(readBytes(device.master, 1), "\n");
        // A session of its own; raw input; the device with input's settings
        // but signal characters alone and no output processing.
        EXPECT_EQ(getsid(relay.pid), relay.pid);
        termios raw {}, onDevice {};
        ASSERT_EQ(tcgetattr(terminal.slave, &raw), 0);
        ASSERT_EQ(tcgetattr(device.slave, &onDevice), 0);
        EXPECT_EQ(raw.c_lflag, 0u);
        EXPECT_EQ(onDevice.c_lflag, tcflag_t(ISIG));
        EXPECT_EQ(onDevice.c_oflag, 0u);
        EXPECT_EQ(onDevice.c_iflag, before.c_iflag);
        EXPECT_EQ(onDevice.c_cflag, before.c_cflag);

        auto signalled = std::chrono::steady_clock::now();
        kill(relay.pid, signalNumber);
        EXPECT_EQ(relay.waitForExit(10), endedBy(signalNumber));
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - signalled;
        if (!asOnAMac)
            fastestEnding = std::min(fastestEnding, took.count());
        EXPECT_EQ(settingsOf(terminal.master), bytesOf(before));
    }
    EXPECT_LT(fastestEnding, 0.1);
#ifdef RELAY_MISHAPS_SHIM
    // One that comes while the relay writes, not while it waits, counts as
    // soon as it waits again.
    PseudoTerminal device;
    InputPipe input;
    RelaySetup mishaps;
    mishaps.withMishaps = true;
    Relay relay(input.readEnd, {"P", "-tty", device.slavePath}, mishaps);
    input.closeReadEnd();
    ASSERT_EQ(readBytes(device.master, 1), "\n");
    writeBytes(input.writeEnd, "hup!");
    EXPECT_EQ(relay.waitForExit(5), endedBy(SIGHUP));

    // A wait that fails for good ends the relay with 1, and the caller's
    // terminal as it was.
    PseudoTerminal terminal, otherDevice;
    std::string before = settingsOf(terminal.master);
    Relay failing(terminal.slave, {"P", "-tty", otherDevice.slavePath}, mishaps);
    ASSERT_EQ(readBytes(otherDevice.master, 1), "\n");
    writeBytes(terminal.master, "die!");
    EXPECT_EQ(failing.waitForExit(5), exitedWith(1));
    EXPECT_EQ(settingsOf(terminal.master), before);
#endif
}

TEST(TerminalRelay, SignalIgnoredByTheCallerStaysIgnored)
{
    PseudoTerminal terminal;
    PseudoTerminal device;
    Relay relay(terminal.slave, {"P", "-tty", device.slavePath}, {terminal.slave, "", 0, -1, SIGHUP});
    ASSERT_EQ(readBytes(device.master, 1), "\n");
    kill(relay.pid, SIGHUP);
    EXPECT_EQ(relay.waitForExit(0.3), stillRunning) << "nohup did not hold";
    writeBytes(device.master, "alive");
    EXPECT_EQ(readBytes(relay.outputFd, 5, 5), "alive");
}

// Nothing more can be relayed: the relay ends by itself, with the caller's
// terminal as it was.
TEST(TerminalRelay, EndsWhenTheDeviceHangsUpOrTheOutputsReaderGoes)
{
    enum Ending { OwnTerminalHangsUp, OtherSessionsTerminalHangsUp, UnreadAsAMacsTerminalHangsUp, OutputClosed,
                  OutputClosedUnderNohup, OutputReadOnly };
    for (Ending ending : {OwnTerminalHangsUp, OtherSessionsTerminalHangsUp, UnreadAsAMacsTerminalHangsUp, OutputClosed,
                          OutputClosedUnderNohup, OutputReadOnly}) {
        bool outputClosed = ending == OutputClosed || ending == OutputClosedUnderNohup || ending == OutputReadOnly;
        SCOPED_TRACE(ending == OwnTerminalHangsUp             ? "the relay's own terminal hung up"
                     : ending == OtherSessionsTerminalHangsUp ? "another session's terminal hung up"
                     : ending == UnreadAsAMacsTerminalHangsUp ? "a Mac's terminal hung up, output never read"
                     : ending == OutputClosed                 ? "output closed"
                     : ending == OutputClosedUnderNohup       ? "output closed, SIGPIPE ignored"
                                                              : "output the terminal, opened read-only");
        PseudoTerminal terminal;
        PseudoTerminal device;
        std::string before = settingsOf(terminal.master);
        // A device that no session has becomes the relay's terminal, whose
        // hang-up comes as SIGHUP; another session's sends the relay none.
        pid_t owner = -1;
        if (ending != OwnTerminalHangsUp) {
            owner = fork();
            if (owner == 0) {
                close(device.master);
                setsid();
                ioctl(device.slave, TIOCSCTTY, 0);
                pause();
                _exit(0);
            }
        }
        RelaySetup setup;
        setup.asOnAMac = ending == UnreadAsAMacsTerminalHangsUp;
        setup.ignoredSignal = ending == OutputClosedUnderNohup ? SIGPIPE : 0;
        setup.outputOnInput = ending == OutputReadOnly;
        int input = ending == OutputReadOnly ? open(terminal.slavePath.c_str(), O_RDONLY | O_NOCTTY) : terminal.slave;
        Relay relay(input, {"P", "-tty", device.slavePath}, setup);
        if (input != terminal.slave)
            close(input);
        ASSERT_EQ(readBytes(device.master, 1), "\n");
        if (outputClosed) {
            close(relay.outputFd);
            relay.outputFd = -1;
            writeBytes(device.master, "unheard");
            // Not made writable behind the caller's back either.
            if (ending == OutputReadOnly) {
                EXPECT_EQ(readBytes(terminal.master, 7, 1), "");
                EXPECT_NE(relay.waitForExit(10), stillRunning);
            } else {
                EXPECT_EQ(relay.waitForExit(10), ending == OutputClosedUnderNohup ? exitedWith(1) : endedBy(SIGPIPE));
            }
        } else {
            // Standard output unread and full, so that the relay still
            // holds what the device said last when it hangs up.
            int held = shrinkPipe(relay.outputFd);
            std::string said = printablePattern(std::size_t(held) + 65536, 11);
            fcntl(device.master, F_SETFL, O_NONBLOCK);
            writeBytes(device.master, said, 0.5);
            close(device.master);
            device.master = -1;
            if (ending == UnreadAsAMacsTerminalHangsUp) {
                // Its hang-up is seen although the device is not read, and
                // what nobody takes is given up on.
                EXPECT_EQ(relay.waitForExit(10), exitedWith(0));
            } else {
                // The reader comes back late, as a paused pager does.
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                std::string output = readBytes(relay.outputFd, said.size(), 10);
                EXPECT_EQ(relay.waitForExit(10), exitedWith(0));
                EXPECT_GT(output.size(), std::size_t(held)) << "nothing the relay held came out";
                EXPECT_TRUE(said.compare(0, output.size(), output) == 0);
            }
        }
        EXPECT_EQ(settingsOf(terminal.master), before);
        if (owner > 0) {
            kill(owner, SIGKILL);
            waitForEnding(owner, 5);
        }
    }
}

// The caller's terminal, holding both standard streams, goes away: nothing
// can be typed or shown any more, so the relay ends; with 1, as the caller
// ignores SIGPIPE (a relay under nohup).
TEST(TerminalRelay, EndsWhenTheCallersTerminalGoes)
{
    // A Mac's hung-up terminal still answers tcgetattr.
    for (bool asOnAMac : {false, true}) {
        SCOPED_TRACE(asOnAMac ? "as on a Mac" : "Linux");
        PseudoTerminal terminal;
        PseudoTerminal device;
        Relay relay(terminal.slave, {"P", "-tty", device.slavePath}, {-1, "", 0, -1, SIGPIPE, true, asOnAMac});
        ASSERT_EQ(readBytes(device.master, 1), "\n");
        close(terminal.master);
        terminal.master = -1;
        EXPECT_EQ(relay.waitForExit(5), exitedWith(1));
    }
}

// Standard output a terminal nobody reads (a suspended window, a stalled
// ssh session): what is typed still reaches the device, and the device's
// hang-up still ends the relay, with the terminal as it was.
// Named /dev/tty, the terminal cannot be reopened: after setsid that name
// is the device's.
TEST(TerminalRelay, OutputThatNobodyReadsHoldsUpNothingElse)
{
  enum Output { Terminal, DevTty, Pipe };
  for (Output output : {Terminal, DevTty, Pipe}) {
    bool asDevTty = output == DevTty;
    SCOPED_TRACE(output == Pipe ? "standard output a pipe" : asDevTty ? "standard output opened as /dev/tty"
                                                                      : "standard output the terminal itself");
    PseudoTerminal terminal;
    PseudoTerminal device;
    std::string before = settingsOf(terminal.master);
    RelaySetup setup;
    setup.outputOnInput = output != Pipe;
    setup.outputAsDevTty = asDevTty;
    setup.controllingTerminal = asDevTty ? terminal.slave : -1;
    Relay relay(terminal.slave, {"P", "-tty", device.slavePath}, setup);
    ASSERT_EQ(readBytes(device.master, 1), "\n");
    fcntl(device.master, F_SETFL, O_NONBLOCK);
    // In lines, which the terminal turns into more bytes than were written.
    std::string said = printablePattern(1 << 18, 13);
    for (std::size_t i = 79; i < said.size(); i += 80)
        said[i] = '\n';
    writeBytes(device.master, said, 0.3);
    // A slow reader of the pipe takes a page now and then: never a write
    // of more than there is room for then.
    if (output == Pipe) {
        EXPECT_EQ(readBytes(relay.outputFd, 4096, 1).size(), 4096u);
    }
    // A terminal whose reader takes a little now and then (a slow link):
    // each key still goes through at once, not after a write that waits
    // for that reader.
    if (output == Terminal) {
        std::vector<double> waits;
        for (int key = 0; key < 20; ++key) {
            readBytes(terminal.master, 1024, 0.02);
            auto typed = std::chrono::steady_clock::now();
            writeBytes(terminal.master, "+");
            ASSERT_EQ(readBytes(device.master, 1, 5), "+");
            waits.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - typed).count());
        }
        EXPECT_LE(std::count_if(waits.begin(), waits.end(), [](double wait) { return wait > 0.1; }), 3)
            << "keys wait for the slow reader";
    }

    writeBytes(terminal.master, "typed");
    EXPECT_EQ(readBytes(device.master, 5, 5), "typed");
    close(device.master);
    device.master = -1;
    EXPECT_EQ(relay.waitForExit(6), exitedWith(0));
    EXPECT_EQ(settingsOf(terminal.master), before);
  }

    // A device that is no terminal never hangs up, however long its output waits.
    InputPipe input;
    Relay zero(input.readEnd, {"P", "-tty", "/dev/zero"});
    input.closeReadEnd();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(readBytes(zero.outputFd, 1 << 16, 5), std::string(1 << 16, '\0'));
    EXPECT_EQ(zero.waitForExit(0.3), stillRunning);
}

// Standard streams opened as /dev/tty are the caller's terminal, also on a
// Mac, where such a descriptor follows the controlling terminal at every
// call: after the relay's setsid that is the device.
TEST(TerminalRelay, StreamsOpenedAsDevTtyAreTheCallersTerminal)
{
    for (bool asOnAMac : {false, true}) {
        for (bool inputAsDevTty : {false, true}) {
            SCOPED_TRACE(std::string(inputAsDevTty ? "input" : "output") + " opened as /dev/tty" +
                         (asOnAMac ? ", as on a Mac" : ""));
            PseudoTerminal terminal;
            PseudoTerminal device;
            std::string before = settingsOf(terminal.master);
            RelaySetup setup;
            setup.controllingTerminal = terminal.slave;
            setup.outputOnInput = true;
            setup.outputAsDevTty = !inputAsDevTty;
            setup.inputAsDevTty = inputAsDevTty;
            setup.asOnAMac = asOnAMac;
            Relay relay(terminal.slave, {"P", "-tty", device.slavePath}, setup);
            ASSERT_EQ(readBytes(device.master, 1), "\n");
            termios raw {};
            ASSERT_EQ(tcgetattr(terminal.slave, &raw), 0);
            EXPECT_EQ(raw.c_lflag, 0u) << "the caller's terminal was not made raw";

            writeBytes(terminal.master, "typed");
            EXPECT_EQ(readBytes(device.master, 5, 5), "typed");
            writeBytes(device.master, "said");
            EXPECT_EQ(readBytes(terminal.master, 4, 5), "said");
            EXPECT_EQ(readBytes(device.master, 1, 0.3), "") << "the device's bytes came back to it";

            close(device.master);
            device.master = -1;
            EXPECT_EQ(relay.waitForExit(6), exitedWith(0));
            EXPECT_EQ(settingsOf(terminal.master), before);
        }
    }
}

// The device is the session's own terminal, reached by the name /dev/tty.
TEST(TerminalRelay, ControllingTerminalByItsGenericName)
{
    PseudoTerminal device;
    InputPipe input;
    Relay relay(input.readEnd, {"P", "-tty", "/dev/tty"}, {device.slave, "", 0, -1});
    input.closeReadEnd();
    ASSERT_EQ(readBytes(device.master, 1), "\n");
    writeBytes(input.writeEnd, "to tty");
    EXPECT_EQ(readBytes(device.master, 6, 5), "to tty");
    writeBytes(device.master, "from tty");
    EXPECT_EQ(readBytes(relay.outputFd, 8, 5), "from tty");
}

TEST(TerminalRelay, TtyAsLastArgumentOpensAFileOfThatName)
{
    TemporaryFolder folder;
    InputPipe input;
    {
        Relay missing(input.readEnd, {"P", "-tty"}, {-1, folder.path(), 0, -1});
        EXPECT_EQ(missing.waitForExit(10), exitedWith(1));
    }

    PseudoTerminal device;
    ASSERT_EQ(symlink(device.slavePath.c_str(), folder.file("-tty").c_str()), 0);
    Relay present(input.readEnd, {"P", "-tty"}, {-1, folder.path(), 0, -1});
    EXPECT_EQ(readBytes(device.master, 1), "\n");
}

TEST(TerminalRelay, DeviceDescriptorBeyondSelectLimitStillRelays)
{
    // A Mac's soft limit is 256: raised where the hard one allows.
    rlimit limit {};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < FD_SETSIZE + 128 && limit.rlim_max >= FD_SETSIZE + 128) {
        limit.rlim_cur = FD_SETSIZE + 128;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur < FD_SETSIZE + 128)
        GTEST_SKIP() << "the descriptor limit " << limit.rlim_cur << " is too low to place the device past " << FD_SETSIZE;

    // Then 3 to 1085 taken, 1086 and 1087 free for standard output's own
    // description and the device, 1088 open: the hang-up pipe alone in the
    // sets' last word.
    for (auto [occupied, alsoOpen] : {std::pair {FD_SETSIZE + 8, -1}, std::pair {1083, 1088}}) {
        SCOPED_TRACE(occupied);
        PseudoTerminal device;
        InputPipe input;
        RelaySetup many;
        many.occupiedDescriptors = occupied;
        many.alsoOpen = alsoOpen;
        Relay relay(input.readEnd, {"P", "-tty", device.slavePath}, many);
        input.closeReadEnd();
        ASSERT_EQ(readBytes(device.master, 1), "\n");
        writeBytes(input.writeEnd, "up");
        EXPECT_EQ(readBytes(device.master, 2, 5), "up");
        keepsTalkingIdly(relay, device);
    }
}
