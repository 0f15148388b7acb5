#pragma once

// Driving a program under a private X server with real input, as a player
// would: xdotool for keys and window lookups, screenshots for pixels.

#include "process_runner.h"
#include "x_server.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <utility>
#include <vector>

// Waits until condition holds or the time limit passes; true if it held.
bool waitUntil(const std::function<bool()>& condition, double seconds = 10);

// How a command run through the shell ended, and its output.
std::pair<Ending, std::string> shell(const std::string& command);

// Pixels row by row, three bytes (red, green, blue) each.
struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    unsigned char* at(int x, int y) { return &rgb[3 * (std::size_t(y) * width + x)]; }
    const unsigned char* at(int x, int y) const { return &rgb[3 * (std::size_t(y) * width + x)]; }
    // As an 8-bit RGB PNG file; false when it cannot be written or read.
    bool save(const std::string& path) const;
    bool load(const std::string& path);
};

class XSession {
public:
    explicit XSession(const XServerOptions& options = {});
    bool ready() const { return server_.running(); }
    void stopServer() { server_.stop(); }
    const std::string& display() const { return server_.display(); }

    // The process's visible FLTK window 512 pixels wide (the chooser's, not
    // its nested panels), or "" after the limit.
    std::string findWindow(pid_t pid, double seconds = 15) const;
    // x, y, width, height of a window on the screen.
    std::array<int, 4> geometry(const std::string& window) const;
    // A real key press and release (XTEST) with the window focused.
    bool pressKey(const std::string& window, const std::string& key) const;
    // Holds a key down (XTEST, by its own keycode alone) until released,
    // whichever window has the focus.
    bool holdKey(const std::string& key) const;
    bool releaseKey(const std::string& key) const;
    // Presses and releases each key in turn, all sent at once.
    bool pressKeysAtOnce(const std::string& window, const std::vector<std::string>& keys) const;
    // Moves a window, on the screen or partly off it.
    bool moveWindow(const std::string& window, int x, int y) const;
    // What a window manager sends when the close button is clicked.
    bool requestClose(const std::string& window) const;
    // "r,g,b" of a screen pixel, read from a screenshot.
    std::string pixel(int x, int y) const;
    // The window's rectangle as the screen shows it, nested windows and all;
    // empty when it cannot be read.
    Picture capture(const std::string& window) const;

private:
    std::string run(const std::string& command) const;
    bool fakeKeys(const std::vector<std::pair<std::string, bool>>& keys) const;
    // True when xdotool with these arguments succeeded.
    bool xdotool(const std::string& arguments) const;
    XServer server_;
};

// The X server reached over TCP through a relay that drops every connection
// made in the first dropMilliseconds after the first one, as a server still
// resetting does, and forwards the later ones. It counts those still open.
// With silentFromRequest, it answers nothing more once a client has asked a
// request with that major opcode, as a server that hangs; with
// answerDelayMilliseconds, every answer comes that late, as over a slow link.
class DisplayRelay {
public:
    DisplayRelay(const std::string& display, int dropMilliseconds, int silentFromRequest = -1,
                 int answerDelayMilliseconds = 0);
    ~DisplayRelay();
    DisplayRelay(const DisplayRelay&) = delete;
    DisplayRelay& operator=(const DisplayRelay&) = delete;

    const std::string& name() const { return name_; } // as DISPLAY
    int openConnections() const { return open_; }
    int connectionsMade() const { return made_; } // dropped ones too

private:
    void relay();

    std::string upstream_;
    std::string name_;
    int listening_ = -1;
    int dropMilliseconds_;
    int silentFromRequest_;
    int answerDelayMilliseconds_;
    std::atomic<bool> stopping_ {false};
    std::atomic<int> open_ {0};
    std::atomic<int> made_ {0};
    std::thread thread_;
};

// As a BackgroundProcess's errorFile: the stream closed, as 2>&- does.
extern const std::string closedStream;

// A program started in the background, killed if still running at the end.
class BackgroundProcess {
public:
    BackgroundProcess(const std::string& program, const std::vector<std::string>& arguments,
                      const std::vector<std::pair<std::string, std::string>>& environment,
                      const std::vector<std::string>& unset = {}, const std::string& outputFile = "",
                      const std::string& errorFile = "", const std::function<void()>& callerLeaves = {});
    ~BackgroundProcess();
    pid_t pid() const { return pid_; }
    // How it ended, or stillRunning after the limit.
    Ending waitForExit(double seconds);
    bool running();

private:
    pid_t pid_ = -1;
    Ending ending_;
};
