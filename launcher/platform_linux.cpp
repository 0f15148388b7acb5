#include "platform.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

void registerActivationObserver()
{
    // No Cocoa application here, so nothing ever posts the launch notification.
}

void yieldActivationToRelaunch() {}

int executablePath(char* buffer, std::uint32_t* size)
{
    char path[PATH_MAX + 1];
    ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
    if (length < 0)
        length = 0;
    std::uint32_t needed = static_cast<std::uint32_t>(length) + 1;
    if (!buffer || *size < needed) {
        *size = needed;
        return -1;
    }
    std::memcpy(buffer, path, static_cast<std::size_t>(length));
    buffer[length] = '\0';
    return 0;
}

namespace {

Display* display = nullptr;
bool displayTried = false;

// One deadline for all that a start asks of the display before the game or
// the chooser's window: connecting, the Option-key check, the chooser's set-up.
// A server that took the connection and then never answers (a hung one, a
// stalled forwarded display) would otherwise keep the game waiting for ever.
// The time between asks (the engine's set-up, say) is not the display's.
std::chrono::nanoseconds displayTimeLeft = std::chrono::seconds(2);
std::chrono::steady_clock::time_point displayDeadline;

// At the deadline every descriptor opened during the ask (the connection
// being made, or a name lookup's) is shut down, which ends Xlib's wait; once
// connected, only the connection. A watchdog thread of its own does it, with
// no signal: whatever the caller blocked, left pending or set a timer for
// stays as it was, for the game too.
std::vector<unsigned char> openBefore; // never resized while a watchdog runs
std::atomic<int> connectionDescriptor {-1};
std::atomic<bool> deadlinePassed {false};
std::atomic<bool> jumpOnCut {false};
sigjmp_buf abandonedAsk;

// Which descriptors are open, whatever their number: a start may inherit
// thousands. The margin covers what the ask itself opens past the highest.
void noteOpenDescriptors()
{
    constexpr int margin = 64;
    std::vector<int> open;
    if (DIR* folder = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(folder))
            if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != dirfd(folder))
                open.push_back(std::atoi(entry->d_name));
        closedir(folder);
    } else {
        rlimit limit {};
        int count = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536 ? int(limit.rlim_cur) : 65536;
        std::vector<pollfd> descriptors(std::size_t(count), pollfd {});
        for (int fd = 0; fd < count; ++fd)
            descriptors[std::size_t(fd)].fd = fd;
        poll(descriptors.data(), descriptors.size(), 0);
        for (const pollfd& descriptor : descriptors)
            if (!(descriptor.revents & POLLNVAL))
                open.push_back(descriptor.fd);
    }
    int highest = open.empty() ? -1 : *std::max_element(open.begin(), open.end());
    openBefore.assign(std::size_t(highest + 1 + margin), 0);
    for (int fd : open)
        openBefore[std::size_t(fd)] = 1;
}

void cutConnection()
{
    deadlinePassed = true;
    if (connectionDescriptor >= 0) {
        shutdown(connectionDescriptor, SHUT_RDWR);
    } else {
        for (std::size_t fd = 0; fd < openBefore.size(); ++fd)
            if (!openBefore[fd])
                shutdown(int(fd), SHUT_RDWR);
    }
}

// A lost display ends the run silently, as a chooser window closed without
// confirming; Xlib's own handler would print first. A connection that the
// deadline cut ends only the ask that was waiting on it, where it can.
int onLostDisplay(Display*)
{
    if (deadlinePassed && jumpOnCut)
        siglongjmp(abandonedAsk, 1);
    _exit(1);
}

// Xlib's default handler prints and exits on any protocol error, such as a
// drawable of a window just closed; none of them is worth ending the chooser.
int ignoreProtocolError(Display*, XErrorEvent*)
{
    return 0;
}

// One watchdog for the process, started at the first ask and parked
// between asks: a thread costs more than the asks themselves. Its lock and
// condition are never destroyed: at exit it still waits on them.
std::mutex& watchdogLock = *new std::mutex;
std::condition_variable& watchdogWakes = *new std::condition_variable;
bool asking = false; // an ask is under way, until displayDeadline
std::thread::id watchdogThread;

// Cuts again until the ask ends: a connection opened after a cut (the next
// attempt, the next address) must not escape the deadline.
void watch()
{
    std::unique_lock<std::mutex> held(watchdogLock);
    for (;;) {
        watchdogWakes.wait(held, [] { return asking; });
        if (watchdogWakes.wait_until(held, displayDeadline, [] { return !asking; }))
            continue;
        do
            cutConnection();
        while (!watchdogWakes.wait_for(held, std::chrono::milliseconds(10), [] { return !asking; }));
    }
}

bool watchdogRunning()
{
    if (watchdogThread != std::thread::id())
        return true;
    // The watchdog takes no signal meant for the process.
    sigset_t all, callers;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &callers);
    try {
        std::thread watchdog(watch);
        watchdogThread = watchdog.get_id();
        watchdog.detach();
    } catch (const std::system_error&) {
    }
    pthread_sigmask(SIG_SETMASK, &callers, nullptr);
    return watchdogThread != std::thread::id();
}

// Runs ask within what is left of the deadline; false when it passed. A
// wait that cannot be bounded (no watchdog) is not begun.
bool askInTime(const std::function<void()>& ask, bool returnsWhenCut)
{
    auto started = std::chrono::steady_clock::now();
    if (deadlinePassed || displayTimeLeft.count() <= 0 || !watchdogRunning()) {
        deadlinePassed = true;
        return false;
    }
    if (connectionDescriptor < 0)
        noteOpenDescriptors();
    {
        std::lock_guard<std::mutex> held(watchdogLock);
        displayDeadline = started + displayTimeLeft;
        asking = true;
    }
    watchdogWakes.notify_one();

    // However the ask ends (an exception too), the watchdog stands down;
    // once it has, it cuts nothing more.
    struct StandDown {
        ~StandDown()
        {
            {
                std::lock_guard<std::mutex> held(watchdogLock);
                asking = false;
            }
            watchdogWakes.notify_one();
        }
    };
    {
        StandDown standDown;
        jumpOnCut = returnsWhenCut;
        if (sigsetjmp(abandonedAsk, 1) == 0)
            ask();
        jumpOnCut = false;
    }
    displayTimeLeft -= std::chrono::steady_clock::now() - started;
    return !deadlinePassed;
}

// The host part of a display name such as "host:0.0" or "tcp/host:0", or ""
// for a local display (":0", "unix:0", a socket path).
std::string displayHost(const std::string& name)
{
    if (name.empty() || name[0] == '/')
        return "";
    std::size_t colon = name.rfind(':');
    if (colon == std::string::npos || (colon > 0 && name[colon - 1] == ':'))
        return "";
    std::size_t slash = name.find('/');
    std::size_t start = slash != std::string::npos && slash < colon ? slash + 1 : 0;
    std::string host = name.substr(start, colon - start);
    return host == "unix" ? "" : host;
}

// The display's name with its host looked up within the deadline, once for
// each of the host's addresses, to be tried in turn as Xlib would: by a
// lookup that can be left waiting, as Xlib's own, cut off, spins in the
// resolver. None when the host is not found in time.
std::vector<std::string> withHostLookedUp(const std::string& name)
{
    std::string host = displayHost(name);
    if (host.empty() || host[0] == '[')
        return {name};
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* numeric = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &numeric) == 0) {
        freeaddrinfo(numeric);
        return {name};
    }

    // Left to the lookup's own thread if it outlives us; static, as it may.
    static std::string lookedUp;
    static addrinfo lookupHints;
    static gaicb lookup;
    lookedUp = host;
    lookupHints = {};
    lookupHints.ai_family = AF_UNSPEC;
    lookupHints.ai_socktype = SOCK_STREAM;
    lookupHints.ai_flags = AI_ADDRCONFIG;
    lookup = {};
    lookup.ar_name = lookedUp.c_str();
    lookup.ar_request = &lookupHints;
    gaicb* requests[] = {&lookup};
    if (getaddrinfo_a(GAI_NOWAIT, requests, 1, nullptr) != 0)
        return {};
    auto started = std::chrono::steady_clock::now();
    for (;;) {
        auto left = displayTimeLeft - (std::chrono::steady_clock::now() - started);
        if (left.count() <= 0)
            break;
        timespec wait = {time_t(left.count() / 1000000000), long(left.count() % 1000000000)};
        int waited = gai_suspend(requests, 1, &wait);
        if (waited == 0 || (waited != EAI_INTR && waited != EAI_AGAIN))
            break;
    }
    displayTimeLeft -= std::chrono::steady_clock::now() - started;
    if (gai_error(&lookup) != 0) {
        gai_cancel(&lookup);
        deadlinePassed = gai_error(&lookup) == EAI_INPROGRESS;
        return {};
    }
    std::vector<std::string> names;
    std::size_t colon = name.rfind(':');
    std::string before = name.substr(0, colon - host.size()), after = name.substr(colon);
    for (addrinfo* entry = lookup.ar_result; entry; entry = entry->ai_next) {
        char address[INET6_ADDRSTRLEN];
        if (getnameinfo(entry->ai_addr, entry->ai_addrlen, address, sizeof address, nullptr, 0, NI_NUMERICHOST) != 0)
            continue;
        std::string numericName = before + (entry->ai_family == AF_INET6 ? "[" + std::string(address) + "]" : address) + after;
        if (std::find(names.begin(), names.end(), numericName) == names.end())
            names.push_back(numericName);
    }
    freeaddrinfo(lookup.ar_result);
    return names;
}

// Whether Xlib said anything since the last look: a display that refuses us
// says why; one still resetting after its last client takes none, silently.
bool saidSomething(int said)
{
    char bytes[256];
    bool anything = false;
    while (read(said, bytes, sizeof bytes) > 0)
        anything = true;
    return anything;
}

// Up to three attempts, 20 ms apart, all within the deadline, at each
// address in turn.
Display* attemptConnections(const std::vector<std::string>& names, int said)
{
    Display* opened = nullptr;
    for (const std::string& name : names) {
        for (int attempt = 0; attempt < 3 && !opened; ++attempt) {
            if (attempt > 0)
                usleep(20000);
            if (deadlinePassed)
                return nullptr;
            opened = XOpenDisplay(name.c_str());
            if (!opened && said >= 0 && saidSomething(said))
                break;
        }
    }
    return opened;
}

int movedHigh(int fd)
{
    int moved = fd >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, FD_SETSIZE) : -1;
    if (moved < 0)
        return fd;
    close(fd);
    return moved;
}

// Xlib prints why a display refused us (no authorization, say); we print
// nothing. Standard error goes into a pipe meanwhile, which also tells
// whether Xlib had anything to say. Past the deadline the display counts
// as absent.
Display* connectToDisplay()
{
    const char* given = std::getenv("DISPLAY");
    if (!given || !*given)
        return nullptr;
    std::vector<std::string> names = withHostLookedUp(given);
    if (names.empty())
        return nullptr;

    // Out of descriptors, Xlib is left to speak rather than the display lost.
    // Ours go high, so that the connection takes the lowest free one: one
    // past FD_SETSIZE would count as no display.
    int savedError = movedHigh(dup(STDERR_FILENO));
    int said[2] = {-1, -1};
    if (savedError >= 0 && pipe(said) == 0) {
        said[0] = movedHigh(said[0]);
        said[1] = movedHigh(said[1]);
        // Xlib's message must never wait for a reader.
        fcntl(said[0], F_SETFL, O_NONBLOCK);
        fcntl(said[1], F_SETFL, O_NONBLOCK);
        dup2(said[1], STDERR_FILENO);
        close(said[1]);
    }

    Display* opened = nullptr;
    bool inTime = askInTime([&] { opened = attemptConnections(names, said[0]); }, true);
    // Answered just as the deadline cut it: a connection no longer. One past
    // FD_SETSIZE, FLTK's select loop could not watch (and would abort on).
    if (opened && (!inTime || ConnectionNumber(opened) >= FD_SETSIZE)) {
        close(ConnectionNumber(opened));
        opened = nullptr;
    }
    // The game that this process may become must not inherit it.
    if (opened) {
        fcntl(ConnectionNumber(opened), F_SETFD, FD_CLOEXEC);
        connectionDescriptor = ConnectionNumber(opened);
    }

    if (said[0] >= 0)
        close(said[0]);
    if (savedError >= 0) {
        dup2(savedError, STDERR_FILENO);
        close(savedError);
    }
    return opened;
}

// The display stopped answering within the deadline: it counts as absent
// from now on. Its connection is closed, never spoken on again.
void dropDisplay()
{
    close(ConnectionNumber(display));
    display = nullptr;
    connectionDescriptor = -1;
}

} // namespace

bool openDisplay()
{
    // Once per process: a display that refused us will not take us later,
    // and Xlib would say so again.
    if (!displayTried) {
        displayTried = true;
        XSetIOErrorHandler(onLostDisplay);
        XSetErrorHandler(ignoreProtocolError);
        display = connectToDisplay();
    }
    return display != nullptr;
}

void* displayConnection()
{
    return display;
}

bool askDisplayInTime(void (*ask)(void*), void* context)
{
    if (!openDisplay())
        return false;
    // A display far away (forwarded over a slow link) answers each of the
    // chooser's many round trips late but surely: one measured round trip
    // grants the set-up time in proportion, up to a bound; a display that
    // stops answering is cut all the same.
    auto started = std::chrono::steady_clock::now();
    if (askInTime([] { XSync(display, False); }, true)) {
        auto roundTrip = std::chrono::steady_clock::now() - started;
        displayTimeLeft += std::min<std::chrono::nanoseconds>(roundTrip * 100, std::chrono::seconds(30));
        if (askInTime([&] { ask(context); XSync(display, False); }, false))
            return true;
    }
    dropDisplay();
    return false;
}

bool optionKeyHeld()
{
    if (!openDisplay())
        return false;
    // Looking a key up may ask the server too (XKB's map).
    bool held = false;
    auto check = [&] {
        char keys[32] = {};
        XQueryKeymap(display, keys);
        for (KeySym alt : {XK_Alt_L, XK_Alt_R}) {
            KeyCode code = XKeysymToKeycode(display, alt);
            held = held || (code != 0 && (keys[code / 8] & (1 << (code % 8))));
        }
    };
    if (!askInTime(check, true)) {
        dropDisplay();
        return false;
    }
    return held;
}
