// Measures a terminal relay started as COMMAND... with "DEVICE" replaced by a
// pty's slave path; its stdin and stdout are another pty, as at a terminal.
// Prints: round-trip microseconds (median), CPU seconds per 64 MiB one way,
// one-way MB/s, and whether every byte arrived in order.
// With --echo the device echoes as a serial console does (reads a chunk,
// writes it back, reads on) and a paste of MEBIBYTES comes back through the
// relay; prints MB/s and whether every byte arrived in order.

#include "process_runner.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool readExactly(int fd, char* into, std::size_t count, int timeoutMs = 5000)
{
    std::size_t done = 0;
    while (done < count) {
        pollfd ready = {fd, POLLIN, 0};
        if (poll(&ready, 1, timeoutMs) <= 0)
            return false;
        ssize_t got = read(fd, into + done, count - done);
        if (got <= 0)
            return false;
        done += std::size_t(got);
    }
    return true;
}

void drain(int fd)
{
    char scratch[4096];
    pollfd ready = {fd, POLLIN, 0};
    while (poll(&ready, 1, 300) > 0 && read(fd, scratch, sizeof scratch) > 0) {
    }
}

std::string printablePayload(std::size_t size)
{
    std::string payload(size, ' ');
    for (std::size_t i = 0; i < size; ++i)
        payload[i] = char('!' + (i * 7 + i / 4093) % 90);
    return payload;
}

// On a non-blocking descriptor, gives up after ten seconds without progress.
void writeAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t put = write(fd, data.data() + done, std::min<std::size_t>(65536, data.size() - done));
        if (put < 0 && errno == EAGAIN) {
            pollfd ready = {fd, POLLOUT, 0};
            if (poll(&ready, 1, 10000) <= 0)
                break;
            continue;
        }
        if (put <= 0)
            break;
        done += std::size_t(put);
    }
}

// The paste goes in at the terminal and comes back from the echoing device.
int measureEcho(int terminalMaster, int deviceMaster, std::size_t size, pid_t relay)
{
    std::string payload = printablePayload(size);
    std::string received(size, '\0');
    // Non-blocking both, so that a relay that stalls ends the measurement.
    fcntl(deviceMaster, F_SETFL, O_NONBLOCK);
    fcntl(terminalMaster, F_SETFL, O_NONBLOCK);
    auto start = Clock::now();
    std::thread echo([&] {
        char chunk[4096];
        std::size_t echoed = 0;
        while (echoed < size) {
            pollfd ready = {deviceMaster, POLLIN, 0};
            if (poll(&ready, 1, 10000) <= 0)
                return;
            ssize_t got = read(deviceMaster, chunk, std::min(sizeof chunk, size - echoed));
            if (got <= 0)
                return;
            writeAll(deviceMaster, std::string(chunk, std::size_t(got)));
            echoed += std::size_t(got);
        }
    });
    std::thread writer([&] { writeAll(terminalMaster, payload); });
    bool complete = readExactly(terminalMaster, received.data(), size, 10000);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    bool intact = complete && received == payload;
    std::printf("%.1f %s\n", complete ? double(size) / 1e6 / seconds : 0.0, intact ? "intact" : "CORRUPTED");
    echo.join();
    writer.join();
    kill(relay, SIGKILL);
    waitpid(relay, nullptr, 0);
    return intact ? 0 : 1;
}

void makeRaw(int fd)
{
    termios settings {};
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
}

} // namespace

int main(int argc, char** argv)
{
    // --raw-terminal: the relay's terminal starts raw, as socat's "rawer"
    // makes it, so that both pay the same line discipline.
    bool rawTerminal = false, echoDevice = false;
    for (; argc > 1 && argv[1][0] == '-' && argv[1][1] == '-'; --argc, ++argv) {
        rawTerminal = rawTerminal || std::strcmp(argv[1], "--raw-terminal") == 0;
        echoDevice = echoDevice || std::strcmp(argv[1], "--echo") == 0;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s [--raw-terminal] [--echo] MEBIBYTES COMMAND... (DEVICE stands for the device path)\n",
                     argv[0]);
        return 2;
    }
    std::size_t size = std::size_t(std::stoul(argv[1])) << 20;
    int terminalMaster, terminalSlave, deviceMaster, deviceSlave;
    char deviceName[128];
    if (openpty(&terminalMaster, &terminalSlave, nullptr, nullptr, nullptr) != 0 ||
        openpty(&deviceMaster, &deviceSlave, deviceName, nullptr, nullptr) != 0)
        return 1;
    makeRaw(deviceMaster);
    if (rawTerminal)
        makeRaw(terminalSlave);

    pid_t relay = fork();
    if (relay == 0) {
        setsid();
        dup2(terminalSlave, 0);
        dup2(terminalSlave, 1);
        int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 2);
        std::vector<std::string> words;
        for (int i = 2; i < argc; ++i) {
            std::string word = argv[i];
            auto at = word.find("DEVICE");
            if (at != std::string::npos)
                word.replace(at, 6, deviceName);
            words.push_back(word);
        }
        std::vector<char*> command;
        for (auto& word : words)
            command.push_back(word.data());
        command.push_back(nullptr);
        execvp(command[0], command.data());
        _exit(127);
    }
    close(terminalSlave);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    drain(deviceMaster);
    drain(terminalMaster);
    if (echoDevice)
        return measureEcho(terminalMaster, deviceMaster, size, relay);

    // One byte to the relay's stdin, echoed back by the device side.
    std::vector<double> trips;
    for (int i = 0; i < 2000; ++i) {
        char byte = char('a' + i % 26), echoed, returned;
        auto start = Clock::now();
        if (write(terminalMaster, &byte, 1) != 1 || !readExactly(deviceMaster, &echoed, 1) ||
            write(deviceMaster, &echoed, 1) != 1 || !readExactly(terminalMaster, &returned, 1) || returned != byte) {
            std::printf("round trip failed\n");
            kill(relay, SIGKILL);
            return 1;
        }
        trips.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::nth_element(trips.begin(), trips.begin() + trips.size() / 2, trips.end());
    double medianTrip = trips[trips.size() / 2];

    // One way: stdin to the device, printable bytes only.
    std::string payload = printablePayload(size);
    std::string received(size, '\0');
    double cpuBefore = processCpuSeconds(relay);
    auto start = Clock::now();
    std::thread writer([&] { writeAll(terminalMaster, payload); });
    bool complete = readExactly(deviceMaster, received.data(), size, 10000);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    double cpu = processCpuSeconds(relay) - cpuBefore;
    bool intact = complete && received == payload;

    std::printf("%.1f %.4f %.1f %s\n", medianTrip, cpu * 64.0 / double(size >> 20), double(size) / 1e6 / seconds,
                intact ? "intact" : "CORRUPTED");
    kill(relay, SIGKILL);
    waitpid(relay, nullptr, 0);
    return intact ? 0 : 1;
}
