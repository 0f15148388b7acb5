// Stand-in for the closed engine library. It honours the launcher-facing
// contract strictly: any call out of order ends the process with status 70,
// so a broken caller can never pass a test by accident.

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

#include "standin_routines.h"

// The engine's own view of the 40-byte string record it shares with callers.
struct EngineRecord {
    const char* characters;
    std::uint64_t count;
    std::uint64_t reserved16;
    std::uint64_t length;
    std::uint32_t flags;
    std::uint32_t reserved36;
};
static_assert(sizeof(EngineRecord) == 40, "record layout is fixed");

namespace {

constexpr int contractBreakStatus = 70;

enum class Stage { Fresh, Prepared, FoldersAccepted, FoldersRefused };

Stage stage = Stage::Fresh;
std::string dataFolder;
std::string contentsFolder;
// Lives for the whole process: callers keep pointers into it.
std::string* userFolder = nullptr;

[[noreturn]] void contractBreak(const char* what)
{
    std::fprintf(stderr, "stand-in engine: contract broken: %s\n", what);
    std::fflush(stderr);
    _exit(contractBreakStatus);
}

std::string copyRecord(const EngineRecord* record, const char* which)
{
    if (!record)
        contractBreak(which);
    if (record->length == 0)
        return {};
    if (!record->characters)
        contractBreak(which);
    return std::string(record->characters, record->length);
}

bool isFolder(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The path components must be usable as folder names; a NUL would cut the
// folder short and name another one.
bool isSafeName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool readAppInfo(const std::string& folder, std::string& company, std::string& product)
{
    std::ifstream info(folder + "/app.info");
    if (!info)
        return false;
    if (!std::getline(info, company) || !std::getline(info, product))
        return false;
    if (!company.empty() && company.back() == '\r')
        company.pop_back();
    if (!product.empty() && product.back() == '\r')
        product.pop_back();
    return isSafeName(company) && isSafeName(product);
}

std::string userFolderBase()
{
    const char* home = std::getenv("HOME");
    std::string homeFolder = home ? home : "";
#ifdef __APPLE__
    return homeFolder + "/Library/Application Support";
#else
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config == '/')
        return config;
    return homeFolder + "/.config";
#endif
}

// Like `mkdir -p`: an engine creates its per-user folder at start-up.
void createFolders(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (!part.empty())
            mkdir(part.c_str(), 0755);
        if (slash == std::string::npos)
            break;
    }
}

// Into the file the variable names, if set: each text followed by one NUL.
void writeRecord(const char* variable, const std::vector<std::string>& texts)
{
    const char* recordPath = std::getenv(variable);
    if (!recordPath || !*recordPath)
        return;
    std::FILE* record = std::fopen(recordPath, "wb");
    if (!record)
        contractBreak("cannot write a record file");
    for (const std::string& text : texts)
        std::fwrite(text.c_str(), 1, text.size() + 1, record);
    if (std::fclose(record) != 0)
        contractBreak("cannot write a record file");
}

void prepare()
{
    if (stage != Stage::Fresh)
        contractBreak("enginePrepare called twice or after the data folders");
    stage = Stage::Prepared;
}

bool setDataFolders(const EngineRecord* data, const EngineRecord* contents)
{
    if (stage != Stage::Prepared)
        contractBreak("engineSetDataFolders called before enginePrepare or more than once");
    dataFolder = copyRecord(data, "data-folder record missing");
    contentsFolder = copyRecord(contents, "contents-folder record missing");
    if (data->count != data->length || contents->count != contents->length)
        contractBreak("record count and length differ");
    // The caller terminates the data folder: an engine may take it as a C string.
    if (data->characters && data->characters[data->length] != '\0')
        contractBreak("data-folder record not terminated");
    writeRecord("STANDIN_ENGINE_FOLDERS", {dataFolder, contentsFolder});

    std::string company, product;
    if (!isFolder(dataFolder) || !readAppInfo(dataFolder, company, product)) {
        stage = Stage::FoldersRefused;
        return false;
    }
    userFolder = new std::string(userFolderBase() + "/" + company + "/" + product);
    createFolders(*userFolder);
    stage = Stage::FoldersAccepted;
    return true;
}

void fillUserDataFolder(EngineRecord* out)
{
    if (stage != Stage::FoldersAccepted)
        contractBreak("engineUserDataFolder called before the data folders were accepted");
    if (!out)
        contractBreak("engineUserDataFolder given no record");
    out->characters = userFolder->data();
    out->length = userFolder->size();
}

} // namespace

extern "C" void standinPrepare()
{
    prepare();
}

extern "C" bool standinSetDataFolders(const EngineRecord* data, const EngineRecord* contents)
{
    return setDataFolders(data, contents);
}

extern "C" void standinUserDataFolder(EngineRecord* out)
{
    fillUserDataFolder(out);
}

namespace {

void recordArguments(int argc, const char** argv)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.push_back(argv[i] ? argv[i] : "");
    writeRecord("STANDIN_ENGINE_RECORD", arguments);
}

#ifdef STANDIN_OTHER_BUILD
// Another build of the engine: the same code, another image and identity.
constexpr char engineBanner[] = "stand-in engine (another build): PlayerMain argc=";
#else
constexpr char engineBanner[] = "stand-in engine: PlayerMain argc=";
#endif

// What the process that became the game left it (umask, blocked, pending and
// ignored signals, the real-time timer, open descriptors), for tests of the
// launcher's clean hand-over.
void recordInheritance()
{
    if (!std::getenv("STANDIN_ENGINE_INHERITED"))
        return;
    mode_t mask = umask(0);
    umask(mask);
    sigset_t blocked;
    sigprocmask(SIG_SETMASK, nullptr, &blocked);
    sigset_t pending;
    sigpending(&pending);
    std::string blockedList, pendingList, ignoredList;
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        if (sigismember(&blocked, signalNumber) == 1)
            blockedList += " " + std::to_string(signalNumber);
        if (sigismember(&pending, signalNumber) == 1)
            pendingList += " " + std::to_string(signalNumber);
        struct sigaction action {};
        if (sigaction(signalNumber, nullptr, &action) == 0 && action.sa_handler == SIG_IGN)
            ignoredList += " " + std::to_string(signalNumber);
    }
    itimerval timer {};
    getitimer(ITIMER_REAL, &timer);
    std::string descriptors;
    for (int fd = 0; fd < 4096; ++fd) {
        int flags = fcntl(fd, F_GETFL);
        struct stat info {};
        if (flags < 0 || fstat(fd, &info) != 0)
            continue;
        descriptors += " " + std::to_string(fd) + ((flags & O_ACCMODE) == O_RDONLY ? "r" : (flags & O_ACCMODE) == O_WRONLY ? "w" : "rw");
        if (S_ISSOCK(info.st_mode))
            descriptors += "socket";
        if (S_ISFIFO(info.st_mode))
            descriptors += "pipe";
    }
    char umaskText[8];
    std::snprintf(umaskText, sizeof umaskText, "%04o", unsigned(mask));
    writeRecord("STANDIN_ENGINE_INHERITED",
                {std::string("umask ") + umaskText, "blocked" + blockedList, "pending" + pendingList,
                 "ignored" + ignoredList,
                 "timer " + std::to_string(timer.it_value.tv_sec * 1000 + timer.it_value.tv_usec / 1000),
                 "descriptors" + descriptors});
}

} // namespace

extern "C" __attribute__((visibility("default"))) int PlayerMain(int argc, const char** argv)
{
    std::string line = engineBanner + std::to_string(argc);
    for (int i = 0; i < argc; ++i) {
        line += " \"";
        line += argv[i] ? argv[i] : "(null)";
        line += "\"";
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);

    recordArguments(argc, argv);
    recordInheritance();

    const char* exitValue = std::getenv("STANDIN_ENGINE_EXIT");
    return exitValue ? std::atoi(exitValue) : 0;
}
