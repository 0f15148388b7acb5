#include "x_session.h"

#include "process_runner.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <png.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <vector>
#include <unistd.h>

bool waitUntil(const std::function<bool()>& condition, double seconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::pair<Ending, std::string> shell(const std::string& command)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return {stillRunning, output};
    char chunk[4096];
    std::size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output.append(chunk, got);
    int status = pclose(pipe);
    return {endingOf(status), output};
}

XSession::XSession(const XServerOptions& options) : server_(options) {}

std::string XSession::run(const std::string& command) const
{
    return shell("DISPLAY=" + display() + " " + command + " 2>/dev/null").second;
}

std::string XSession::findWindow(pid_t pid, double seconds) const
{
    std::string window;
    waitUntil(
        [&] {
            std::istringstream found(run("xdotool search --onlyvisible --all --pid " + std::to_string(pid) +
                                         " --class FLTK"));
            // The chooser's window is the one 512 pixels wide: the panels
            // are nested FLTK windows too, 395 wide.
            std::string candidate;
            while (found >> candidate) {
                auto box = geometry(candidate);
                if (box[2] == 512) {
                    window = candidate;
                    return true;
                }
            }
            return false;
        },
        seconds);
    return window;
}

std::array<int, 4> XSession::geometry(const std::string& window) const
{
    std::istringstream lines(run("xdotool getwindowgeometry --shell " + window));
    std::array<int, 4> box = {-1, -1, -1, -1};
    std::string line;
    while (std::getline(lines, line)) {
        auto equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        std::string name = line.substr(0, equals);
        int value = std::atoi(line.c_str() + equals + 1);
        if (name == "X")
            box[0] = value;
        else if (name == "Y")
            box[1] = value;
        else if (name == "WIDTH")
            box[2] = value;
        else if (name == "HEIGHT")
            box[3] = value;
    }
    return box;
}

bool XSession::xdotool(const std::string& arguments) const
{
    return shell("DISPLAY=" + display() + " xdotool " + arguments + " 2>/dev/null").first == exitedWith(0);
}

bool XSession::pressKey(const std::string& window, const std::string& key) const
{
    return xdotool("windowfocus --sync " + window + " key " + key);
}

// By the key's own keycode, through XTEST: xdotool's keydown Alt_R holds
// Alt_L too. The server keeps the key down after this connection closes.
// All the events go out in one request batch, so they reach the program
// together, as keys typed while it is busy do.
bool XSession::fakeKeys(const std::vector<std::pair<std::string, bool>>& keys) const
{
    Display* connection = XOpenDisplay(display().c_str());
    if (!connection)
        return false;
    bool sent = true;
    for (const auto& [key, down] : keys) {
        KeyCode code = XKeysymToKeycode(connection, XStringToKeysym(key.c_str()));
        sent = sent && code != 0 && XTestFakeKeyEvent(connection, code, down, CurrentTime);
    }
    XSync(connection, False);
    XCloseDisplay(connection);
    return sent;
}

bool XSession::holdKey(const std::string& key) const
{
    return fakeKeys({{key, true}});
}

bool XSession::releaseKey(const std::string& key) const
{
    return fakeKeys({{key, false}});
}

bool XSession::pressKeysAtOnce(const std::string& window, const std::vector<std::string>& keys) const
{
    std::vector<std::pair<std::string, bool>> events;
    for (const std::string& key : keys)
        events.insert(events.end(), {{key, true}, {key, false}});
    return xdotool("windowfocus --sync " + window) && fakeKeys(events);
}

bool XSession::moveWindow(const std::string& window, int x, int y) const
{
    return xdotool("windowmove --sync " + window + " " + std::to_string(x) + " " + std::to_string(y));
}

bool XSession::requestClose(const std::string& window) const
{
    Display* x = XOpenDisplay(display().c_str());
    if (!x)
        return false;
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = std::stoul(window);
    event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    Status sent = XSendEvent(x, event.xclient.window, False, NoEventMask, &event);
    XSync(x, False);
    XCloseDisplay(x);
    return sent != 0;
}

std::string XSession::pixel(int x, int y) const
{
    Display* connection = XOpenDisplay(display().c_str());
    if (!connection)
        return "";
    XImage* image = XGetImage(connection, DefaultRootWindow(connection), x, y, 1, 1, AllPlanes, ZPixmap);
    std::string rgb;
    if (image) {
        unsigned long value = XGetPixel(image, 0, 0);
        rgb = std::to_string((value >> 16) & 255) + "," + std::to_string((value >> 8) & 255) + "," +
              std::to_string(value & 255);
        XDestroyImage(image);
    }
    XCloseDisplay(connection);
    return rgb;
}

Picture XSession::capture(const std::string& window) const
{
    Picture picture;
    auto box = geometry(window);
    Display* connection = XOpenDisplay(display().c_str());
    if (!connection || box[2] <= 0 || box[3] <= 0) {
        if (connection)
            XCloseDisplay(connection);
        return picture;
    }
    XImage* image = XGetImage(connection, DefaultRootWindow(connection), box[0], box[1], unsigned(box[2]),
                              unsigned(box[3]), AllPlanes, ZPixmap);
    if (image) {
        picture.width = box[2];
        picture.height = box[3];
        for (int y = 0; y < box[3]; ++y) {
            for (int x = 0; x < box[2]; ++x) {
                unsigned long value = XGetPixel(image, x, y);
                picture.rgb.insert(picture.rgb.end(), {static_cast<unsigned char>(value >> 16),
                                                       static_cast<unsigned char>(value >> 8),
                                                       static_cast<unsigned char>(value)});
            }
        }
        XDestroyImage(image);
    }
    XCloseDisplay(connection);
    return picture;
}

bool Picture::save(const std::string& path) const
{
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}

bool Picture::load(const std::string& path)
{
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_RGB;
    rgb.resize(PNG_IMAGE_SIZE(image));
    width = int(image.width);
    height = int(image.height);
    return png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) != 0;
}

const std::string closedStream = "&-";

BackgroundProcess::BackgroundProcess(const std::string& program, const std::vector<std::string>& arguments,
                                     const std::vector<std::pair<std::string, std::string>>& environment,
                                     const std::vector<std::string>& unset, const std::string& outputFile,
                                     const std::string& errorFile, const std::function<void()>& callerLeaves)
{
    pid_ = fork();
    if (pid_ == 0) {
        int quiet = open("/dev/null", O_RDWR);
        dup2(quiet, 0);
        if (!outputFile.empty())
            dup2(open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        if (errorFile == closedStream)
            close(2);
        else if (!errorFile.empty())
            dup2(open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        if (callerLeaves)
            callerLeaves();
        execWithEnvironment(program, arguments, environment, unset);
    }
}

BackgroundProcess::~BackgroundProcess()
{
    if (running()) {
        kill(pid_, SIGKILL);
        waitForExit(-1);
    }
}

bool BackgroundProcess::running()
{
    return waitForExit(0) == stillRunning;
}

Ending BackgroundProcess::waitForExit(double seconds)
{
    if (pid_ > 0 && ending_ == stillRunning)
        ending_ = waitForEnding(pid_, seconds);
    return ending_;
}

DisplayRelay::DisplayRelay(const std::string& display, int dropMilliseconds, int silentFromRequest,
                           int answerDelayMilliseconds)
    : upstream_("/tmp/.X11-unix/X" + display.substr(display.find(':') + 1)), dropMilliseconds_(dropMilliseconds),
      silentFromRequest_(silentFromRequest), answerDelayMilliseconds_(answerDelayMilliseconds)
{
    listening_ = listenAsDisplay(400, 700, &name_);
    if (listening_ >= 0)
        thread_ = std::thread([this] { relay(); });
}

DisplayRelay::~DisplayRelay()
{
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listening_ >= 0)
        close(listening_);
}

namespace {

// One client's connection through the relay, and what it has asked so far.
struct RelayedConnection {
    int client, server;
    std::string unparsed; // the client's bytes not yet split into requests
    bool setUp = false;   // the connection set-up has gone by
    bool bigEndian = false; // as the set-up's first byte says: 'B' or 'l'
    bool silent = false;

    unsigned field(std::size_t at, int bytes) const
    {
        unsigned value = 0;
        for (int i = 0; i < bytes; ++i) {
            unsigned byte = static_cast<unsigned char>(unparsed[at + std::size_t(bigEndian ? i : bytes - 1 - i)]);
            value = value << 8 | byte;
        }
        return value;
    }

    // Splits off the set-up and whole requests; true once a request with
    // this major opcode has been asked.
    bool asks(int opcode)
    {
        for (;;) {
            std::size_t size;
            if (!setUp) {
                if (unparsed.size() < 12)
                    return false;
                bigEndian = unparsed[0] == 'B';
                auto padded = [](unsigned n) { return (n + 3) / 4 * 4; };
                size = 12 + padded(field(6, 2)) + padded(field(8, 2));
            } else {
                if (unparsed.size() < 4)
                    return false;
                if (static_cast<unsigned char>(unparsed[0]) == opcode)
                    return true;
                size = 4 * std::size_t(field(2, 2));
                if (size == 0) { // BIG-REQUESTS: the length follows
                    if (unparsed.size() < 8)
                        return false;
                    size = 4 * std::size_t(field(4, 4));
                }
            }
            if (unparsed.size() < size)
                return false;
            unparsed.erase(0, size);
            setUp = true;
        }
    }
};

} // namespace

void DisplayRelay::relay()
{
    std::vector<RelayedConnection> pairs;
    std::optional<std::chrono::steady_clock::time_point> firstConnection;
    while (!stopping_) {
        std::vector<pollfd> watched = {{listening_, POLLIN, 0}};
        for (const RelayedConnection& pair : pairs) {
            watched.push_back({pair.client, POLLIN, 0});
            watched.push_back({pair.server, POLLIN, 0});
        }
        if (poll(watched.data(), watched.size(), 20) <= 0)
            continue;
        if (watched[0].revents) {
            int client = accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
            auto now = std::chrono::steady_clock::now();
            if (!firstConnection)
                firstConnection = now;
            if (client >= 0)
                ++made_;
            int server = -1;
            if (client >= 0 && now - *firstConnection >= std::chrono::milliseconds(dropMilliseconds_)) {
                server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_un address {};
                address.sun_family = AF_UNIX;
                std::snprintf(address.sun_path, sizeof address.sun_path, "%s", upstream_.c_str());
                if (connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                    close(server);
                    server = -1;
                }
            }
            if (server >= 0) {
                pairs.push_back({client, server, "", false, false, false});
                ++open_;
            } else if (client >= 0) {
                close(client);
            }
        }
        // The pairs polled this turn; one just accepted waits for the next.
        for (std::size_t i = 0; i < (watched.size() - 1) / 2; ++i) {
            RelayedConnection& pair = pairs[i];
            bool ended = false;
            for (int side = 0; side < 2 && !ended; ++side) {
                if (!watched[1 + 2 * i + side].revents)
                    continue;
                char bytes[65536];
                int from = side == 0 ? pair.client : pair.server, to = side == 0 ? pair.server : pair.client;
                ssize_t got = read(from, bytes, sizeof bytes);
                if (got > 0 && side == 0 && silentFromRequest_ >= 0 && !pair.silent) {
                    pair.unparsed.append(bytes, std::size_t(got));
                    pair.silent = pair.asks(silentFromRequest_);
                }
                if (got > 0 && side == 1)
                    std::this_thread::sleep_for(std::chrono::milliseconds(answerDelayMilliseconds_));
                // A hung server: it reads what comes and answers nothing.
                ended = got <= 0 || (!pair.silent && write(to, bytes, std::size_t(got)) != got);
            }
            if (ended) {
                close(pair.client);
                close(pair.server);
                pair.client = -1;
                --open_;
            }
        }
        pairs.erase(std::remove_if(pairs.begin(), pairs.end(), [](const auto& pair) { return pair.client < 0; }),
                    pairs.end());
    }
    for (const RelayedConnection& pair : pairs) {
        close(pair.client);
        close(pair.server);
    }
}
