#include "x_server.h"

#include <X11/Xlib.h>
#include <chrono>
#include <thread>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <cstdlib>
#include <string>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// An Xauthority file with one MIT-MAGIC-COOKIE-1 for every display.
bool writeCookieFile(const std::string& path)
{
    auto field = [](const std::string& bytes) {
        return std::string {char(bytes.size() >> 8), char(bytes.size() & 0xff)} + bytes;
    };
    std::string entry = std::string("\xff\xff", 2) + field("") + field("") + field("MIT-MAGIC-COOKIE-1") +
                        field("0123456789abcdef");
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    bool written = fd >= 0 && write(fd, entry.data(), entry.size()) == ssize_t(entry.size());
    if (fd >= 0)
        close(fd);
    return written;
}

Display* openWithCookie(const std::string& name, const std::string& cookieFile)
{
    if (cookieFile.empty())
        return XOpenDisplay(name.c_str());
    setenv("XAUTHORITY", cookieFile.c_str(), 1);
    Display* connection = XOpenDisplay(name.c_str());
    unsetenv("XAUTHORITY");
    return connection;
}

} // namespace

XServer::XServer(const XServerOptions& options)
{
    if (!options.authorizationFile.empty() && !writeCookieFile(options.authorizationFile))
        return;
    std::vector<std::string> arguments = {"Xvfb", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"};
    if (!options.resetsWithLastClient)
        arguments.push_back("-noreset");
    if (!options.authorizationFile.empty()) {
        arguments.push_back("-auth");
        arguments.push_back(options.authorizationFile);
    }
    arguments.insert(arguments.end(), options.extraArguments.begin(), options.extraArguments.end());

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
        arguments.push_back("-displayfd");
        arguments.push_back(std::to_string(report[1]));
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        execvp("Xvfb", argv.data());
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
        if (Display* connection = openWithCookie(name, options.authorizationFile)) {
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
