// Milliseconds from starting COMMAND... until its first top-level window is
// mapped on the X server named by DISPLAY; the program is then ended.

#include <X11/Xlib.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        int quiet = open("/dev/null", O_RDWR);
        dup2(quiet, 0);
        dup2(quiet, 1);
        dup2(quiet, 2);
        execv(argv[1], argv + 1);
        _exit(127);
    }
    int status = 1;
    for (;;) {
        pollfd ready = {ConnectionNumber(display), POLLIN, 0};
        if (!XPending(display) && poll(&ready, 1, 10000) <= 0)
            break;
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify) {
            double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            std::printf("%.2f\n", ms);
            status = 0;
            break;
        }
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    XCloseDisplay(display);
    return status;
}
