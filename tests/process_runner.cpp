#include "process_runner.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __APPLE__
#include <libproc.h>
#endif

namespace {

void readAvailable(int fd, std::string& into, bool& open)
{
    char chunk[4096];
    ssize_t count = read(fd, chunk, sizeof chunk);
    if (count > 0)
        into.append(chunk, static_cast<std::size_t>(count));
    else if (count == 0 || errno != EINTR)
        open = false;
}

[[noreturn]] void startChild(const ProcessOptions& options, int inputFd, int outputFd, int errorFd)
{
    dup2(inputFd, 0);
    dup2(outputFd, 1);
    dup2(errorFd, 2);
    if (options.runAsUnprivileged) {
        auto [uid, gid] = unprivilegedUser();
        if (getuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
            _exit(126);
    }
    if (options.beforeExec)
        options.beforeExec();
    const std::string& program = options.program.empty() ? options.arguments.at(0) : options.program;
    execWithEnvironment(program, options.arguments, options.environment, options.unsetEnvironment);
}

} // namespace

void execWithEnvironment(const std::string& program, const std::vector<std::string>& arguments,
                         const std::vector<std::pair<std::string, std::string>>& environment,
                         const std::vector<std::string>& unset)
{
    for (const auto& name : unset)
        unsetenv(name.c_str());
    for (const auto& [name, value] : environment)
        setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

ProcessResult runProcess(const ProcessOptions& options)
{
    int input[2], output[2], error[2];
    if (pipe(input) != 0 || pipe(output) != 0 || pipe(error) != 0)
        throw std::runtime_error("pipe failed");
    pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        close(input[1]);
        close(output[0]);
        close(error[0]);
        startChild(options, input[0], output[1], error[1]);
    }
    close(input[0]);
    close(output[1]);
    close(error[1]);

    // Standard input is empty: its end at once.
    close(input[1]);

    ProcessResult result;
    bool outputOpen = true, errorOpen = true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(options.timeLimitSeconds);
    while (outputOpen || errorOpen) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            kill(child, SIGKILL);
            break;
        }
        pollfd fds[2] = {{output[0], short(outputOpen ? POLLIN : 0), 0}, {error[0], short(errorOpen ? POLLIN : 0), 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0)
            continue;
        if (fds[0].revents)
            readAvailable(output[0], result.standardOutput, outputOpen);
        if (fds[1].revents)
            readAvailable(error[0], result.standardError, errorOpen);
    }
    close(output[0]);
    close(error[0]);

    result.ending = waitForEnding(child, -1);
    return result;
}

std::ostream& operator<<(std::ostream& out, const Ending& ending)
{
    if (ending.kind == Ending::Running)
        return out << "still running";
    if (ending.kind == Ending::Exited)
        return out << "exited with " << ending.value;
    return out << "ended by signal " << ending.value << " (" << strsignal(ending.value) << ")";
}

Ending endingOf(int waitStatus)
{
    return WIFEXITED(waitStatus) ? exitedWith(WEXITSTATUS(waitStatus)) : endedBy(WTERMSIG(waitStatus));
}

Ending waitForEnding(pid_t pid, double seconds)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int status = 0;
        pid_t ended = waitpid(pid, &status, seconds < 0 ? 0 : WNOHANG);
        if (ended == pid)
            return endingOf(status);
        if (ended < 0 && errno != EINTR)
            return stillRunning;
        if (seconds >= 0 && std::chrono::steady_clock::now() >= deadline)
            return stillRunning;
        if (seconds >= 0)
            usleep(5000);
    }
}

std::pair<uid_t, gid_t> unprivilegedUser()
{
    if (getuid() != 0)
        return {getuid(), getgid()};
    if (const passwd* nobody = getpwnam("nobody"))
        return {nobody->pw_uid, nobody->pw_gid};
    return {65534, 65534};
}

TemporaryFolder::TemporaryFolder()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/launcher-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    chmod(path_.c_str(), 0755);
}

TemporaryFolder::~TemporaryFolder()
{
    // Restore search rights that a test may have taken away, then remove all.
    std::string command = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
    int status = std::system(command.c_str());
    (void)status;
}

void TemporaryFolder::giveTo(uid_t uid, gid_t gid) const
{
    std::string command = "chown -R " + std::to_string(uid) + ":" + std::to_string(gid) + " '" + path_ + "'";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("chown failed");
}

std::string engineConfigFolder(const std::string& home, const std::string& config)
{
#ifdef __APPLE__
    (void)config;
    return home + "/Library/Application Support";
#else
    (void)home;
    return config;
#endif
}

std::string engineUserFolder(const std::string& home, const std::string& config)
{
    return engineConfigFolder(home, config) + "/Demo Company/Demo Game";
}

double processCpuSeconds(pid_t pid)
{
#ifdef __APPLE__
    proc_taskinfo info {};
    if (proc_pidinfo(pid, PROC_PIDTASKINFO, 0, &info, sizeof info) != int(sizeof info))
        return -1;
    // Nanoseconds on x86-64 Macs.
    return double(info.pti_total_user + info.pti_total_system) / 1e9;
#else
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15)
            ticks += std::stol(field);
    return double(ticks) / double(sysconf(_SC_CLK_TCK));
#endif
}

long processWakeups(pid_t pid)
{
#ifdef __APPLE__
    proc_taskinfo info {};
    if (proc_pidinfo(pid, PROC_PIDTASKINFO, 0, &info, sizeof info) != int(sizeof info))
        return -1;
    return info.pti_csw;
#else
    long switches = 0;
    std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    if (DIR* folder = opendir(tasks.c_str())) {
        while (dirent* entry = readdir(folder)) {
            if (entry->d_name[0] == '.')
                continue;
            std::ifstream status(tasks + "/" + entry->d_name + "/status");
            std::string line;
            while (std::getline(status, line))
                if (line.find("ctxt_switches:") != std::string::npos)
                    switches += std::stol(line.substr(line.find(':') + 1));
        }
        closedir(folder);
    }
    return switches;
#endif
}

std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

bool fileExists(const std::string& path)
{
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

void writeFile(const std::string& path, const std::string& contents)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << contents;
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> splitRecord(const std::string& record)
{
    std::vector<std::string> arguments;
    std::size_t start = 0;
    for (std::size_t end; (end = record.find('\0', start)) != std::string::npos; start = end + 1)
        arguments.push_back(record.substr(start, end - start));
    return arguments;
}

int listenAsDisplay(int first, int last, std::string* name)
{
    for (int number = first; number < last; ++number) {
        int listening = socket(AF_INET, SOCK_STREAM, 0);
        fcntl(listening, F_SETFD, FD_CLOEXEC);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(std::uint16_t(6000 + number));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(listening, 16) == 0) {
            *name = "127.0.0.1:" + std::to_string(number);
            return listening;
        }
        close(listening);
    }
    return -1;
}
