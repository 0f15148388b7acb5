#pragma once

// Runs a program as a child process and collects what it did, for tests that
// treat the bundle's executable as a black box.

#include <functional>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

struct ProcessOptions {
    std::vector<std::string> arguments;            // arguments[0] is argv[0]
    std::string program;                           // defaults to arguments[0]
    std::vector<std::pair<std::string, std::string>> environment; // set on top of the inherited one
    std::vector<std::string> unsetEnvironment;
    bool runAsUnprivileged = false;                // switch to unprivilegedUser() first
    double timeLimitSeconds = 20;
    std::function<void()> beforeExec;              // in the child, what a caller leaves (masks, timers)
};

// How a child process ended, as its parent sees it: an exit status or the
// signal that ended it, never folded into one number; or not yet.
struct Ending {
    enum Kind { Running, Exited, Signalled } kind = Running;
    int value = 0; // the exit status or the signal's number
    friend bool operator==(const Ending& a, const Ending& b) { return a.kind == b.kind && a.value == b.value; }
    friend bool operator!=(const Ending& a, const Ending& b) { return !(a == b); }
};
inline Ending exitedWith(int status) { return {Ending::Exited, status}; }
inline Ending endedBy(int signalNumber) { return {Ending::Signalled, signalNumber}; }
inline const Ending stillRunning {};
std::ostream& operator<<(std::ostream& out, const Ending& ending);
// As waitpid's status says.
Ending endingOf(int waitStatus);

// Waits up to seconds (no limit where negative) for the child pid to end;
// looks at least once. stillRunning when it has not ended by then.
Ending waitForEnding(pid_t pid, double seconds);

struct ProcessResult {
    Ending ending;
    bool timedOut = false;
    std::string standardOutput;
    std::string standardError;
};

ProcessResult runProcess(const ProcessOptions& options);

// In a forked child: adjusts the environment and replaces the image with
// program; exits with 127 if that fails.
[[noreturn]] void execWithEnvironment(const std::string& program, const std::vector<std::string>& arguments,
                                      const std::vector<std::pair<std::string, std::string>>& environment,
                                      const std::vector<std::string>& unset);

// The user that permission tests run as: the current one when it is not root,
// "nobody" otherwise. The pair is uid, gid.
std::pair<uid_t, gid_t> unprivilegedUser();

// A fresh folder under the system's temporary folder, removed by the destructor.
// When owner is given, the folder is handed to that user.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    void giveTo(uid_t uid, gid_t gid) const;

private:
    std::string path_;
};

// Where the stand-in engine keeps the demo bundle's per-user folder for a
// run with these HOME and XDG_CONFIG_HOME (a Mac ignores the latter and
// uses HOME/Library/Application Support): the folder it makes it in, and
// the per-user folder itself.
std::string engineConfigFolder(const std::string& home, const std::string& config);
std::string engineUserFolder(const std::string& home, const std::string& config);

// User and system CPU seconds that a running process has used so far.
double processCpuSeconds(pid_t pid);
// How often a running process's threads have been switched to so far: an
// idle one that wakes up by itself (a timer, a poll) counts up.
long processWakeups(pid_t pid);

std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);
// Arguments as the stand-in engine records them: each followed by one NUL.
std::vector<std::string> splitRecord(const std::string& record);

// A socket listening on 127.0.0.1 where the X display "127.0.0.1:N" is
// reached (port 6000 + N), for the first N from first to last that is free;
// its name goes into name. -1 when none is.
int listenAsDisplay(int first, int last, std::string* name);
