#include "x_server.h"

#include <X11/Xlib.h>
#include <chrono>
#include <thread>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

XServer::XServer(bool resetsWithLastClient)
{
    int report[2];
    if (pipe(report) != 0)
        return;
    pid_ = fork();
    if (pid_ == 0) {
        close(report[0]);
        int quiet = open("/dev/null", O_RDWR);
        dup2(quiet, 0);
        dup2(quiet, 1);
        dup2(quiet, 2);
        std::string fd = std::to_string(report[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
               resetsWithLastClient ? static_cast<char*>(nullptr) : "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(report[1]);
    // Xvfb writes the display number once it accepts connections.
    std::string number;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd ready = {report[0], POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0)
            continue;
        char c;
        ssize_t got = read(report[0], &c, 1);
        if (got <= 0 || c == '\n')
            break;
        number += c;
    }
    // Kept open while the server runs: Xvfb may write its number again
    // later, and a closed pipe then ends it with a fatal error.
    report_ = report[0];
    if (number.empty())
        return;
    // The number comes before the server always accepts clients; wait for that.
    std::string name = ":" + number;
    while (std::chrono::steady_clock::now() < deadline) {
        if (Display* connection = XOpenDisplay(name.c_str())) {
            XCloseDisplay(connection);
            display_ = name;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

XServer::~XServer()
{
    stop();
}

void XServer::stop()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    if (report_ >= 0)
        close(report_);
    report_ = -1;
}
