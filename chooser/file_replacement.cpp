#include "file_replacement.h"

#include "file_attributes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool writeAllAt(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = pwrite(fd, bytes.data() + done, bytes.size() - done, off_t(done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += std::size_t(written);
    }
    return true;
}

std::string folderOf(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A controls.ini that links to a file kept elsewhere: that file is the one
// the player means, and replacing the link would leave it stale.
std::string followLinks(std::string path)
{
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            break;
        std::string target(std::size_t(info.st_size > 0 ? info.st_size : PATH_MAX), '\0');
        ssize_t length = readlink(path.c_str(), target.data(), target.size());
        if (length <= 0)
            break;
        target.resize(std::size_t(length));
        path = target[0] == '/' ? target : folderOf(path) + "/" + target;
    }
    return path;
}

void syncFolder(const std::string& folder)
{
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

// A Mac's fsync leaves the bytes in the drive's cache; only F_FULLFSYNC
// reaches the disk there (and fails on file systems that lack it).
bool flushToDisk(int fd)
{
#ifdef F_FULLFSYNC
    if (fcntl(fd, F_FULLFSYNC) == 0)
        return true;
#endif
    return fsync(fd) == 0;
}

// A name beside the file that is never longer than "controls.ini", so that
// every path a plain open takes (up to PATH_MAX) can be replaced.
int createBeside(const std::string& path, mode_t mode, std::string* created)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::uint64_t drawn = 0;
    std::size_t slash = path.rfind('/');
    std::string prefix = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::uint64_t value = std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                              (std::uint64_t(getpid()) << 40) ^ (++drawn * 0x9E3779B97F4A7C15u);
        std::string name = prefix + ".c";
        for (int i = 0; i < 6; ++i, value /= 36)
            name += letters[value % 36];
        int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            *created = name;
            return fd;
        }
    }
    return -1;
}

// Owner and group as the file has them. A new file takes its folder's group
// on a Mac (and in a setgid folder on Linux), whoever makes it.
bool takeOwnership(int fd, const struct stat& existing)
{
    struct stat made {};
    if (fstat(fd, &made) != 0)
        return false;
    return (made.st_uid == existing.st_uid && made.st_gid == existing.st_gid) ||
           fchown(fd, existing.st_uid, existing.st_gid) == 0;
}

// NoStandIn: the replacement could not be given the file's owner, group,
// extended attributes or ACL, so it would not stand in for the file.
enum class Replacement { Done, NoTemporaryFile, NoStandIn, Failed };

// The file must be complete before it appears under its real name: a
// truncated controls.ini would pass the first-run test for ever.
Replacement replaceFile(const std::string& path, const std::string& contents, const struct stat* existing)
{
    // A new file gets what a plain open would give it there: the umask, or
    // the folder's default ACL, which the kernel applies only at creation.
    std::string temporaryPath;
    int fd = createBeside(path, existing ? 0600 : 0666, &temporaryPath);
    if (fd < 0)
        return Replacement::NoTemporaryFile;
    // After the owner (which clears set-id bits) the mode; after the mode,
    // the ACL, whose entries are the mode's group bits.
    bool standsIn = !existing || (takeOwnership(fd, *existing) && fchmod(fd, existing->st_mode & 0777) == 0 &&
                                  copyFileAttributes(path.c_str(), fd));
    bool written = standsIn && writeAllAt(fd, contents) && flushToDisk(fd);
    bool closed = close(fd) == 0;
    if (!written || !closed || std::rename(temporaryPath.c_str(), path.c_str()) != 0) {
        unlink(temporaryPath.c_str());
        return standsIn ? Replacement::Failed : Replacement::NoStandIn;
    }
    syncFolder(folderOf(path));
    return Replacement::Done;
}

// The file itself rewritten: nothing is truncated before the new bytes are
// in, and if they do not all go in, the old bytes are put back.
void rewriteInPlace(const std::string& path, const std::string& contents)
{
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return;
    std::string previous;
    char chunk[4096];
    ssize_t count;
    while ((count = pread(fd, chunk, sizeof chunk, off_t(previous.size()))) > 0)
        previous.append(chunk, std::size_t(count));
    if (count == 0) {
        bool written = writeAllAt(fd, contents) && ftruncate(fd, off_t(contents.size())) == 0 && flushToDisk(fd);
        if (!written) {
            writeAllAt(fd, previous);
            ftruncate(fd, off_t(previous.size()));
        }
    }
    close(fd);
}

// Where not even a short name can be made beside it, a new file is written
// straight under its own name; one left incomplete is removed, so the
// player is asked again rather than held to half a file.
void createInPlace(const std::string& path, const std::string& contents)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    bool written = writeAllAt(fd, contents) && flushToDisk(fd);
    if (close(fd) != 0 || !written)
        unlink(path.c_str());
}

// Past RLIMIT_FSIZE a write fails with EFBIG (the old bytes go back) instead
// of SIGXFSZ ending the chooser half-way. Unblocked meanwhile, unless pending:
// a blocked signal is kept even while ignored, and the game would inherit it.
class FileSizeSignalHeldOff {
public:
    FileSizeSignalHeldOff()
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &previous_);
        sigprocmask(SIG_BLOCK, nullptr, &mask_);
        sigset_t pending, fileSize;
        sigemptyset(&fileSize);
        sigaddset(&fileSize, SIGXFSZ);
        sigpending(&pending);
        if (sigismember(&pending, SIGXFSZ) != 1)
            sigprocmask(SIG_UNBLOCK, &fileSize, nullptr);
    }
    ~FileSizeSignalHeldOff()
    {
        sigprocmask(SIG_SETMASK, &mask_, nullptr);
        sigaction(SIGXFSZ, &previous_, nullptr);
    }
    FileSizeSignalHeldOff(const FileSizeSignalHeldOff&) = delete;
    FileSizeSignalHeldOff& operator=(const FileSizeSignalHeldOff&) = delete;

private:
    struct sigaction previous_ {};
    sigset_t mask_ {};
};

bool isInGroup(gid_t group)
{
    if (group == getegid())
        return true;
    int count = getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    count = getgroups(count, groups.data());
    return count > 0 && std::find(groups.begin(), groups.begin() + count, group) != groups.begin() + count;
}

// Whether the player has left this file writable. access() alone would let
// root change a file made read-only, so the permission bits decide for root
// as well: root stands in for the owner.
bool mayChange(const std::string& path, const struct stat& info)
{
    if (!S_ISREG(info.st_mode) || access(path.c_str(), W_OK) != 0)
        return false;
    if (geteuid() != 0)
        return true;
    return (info.st_mode & S_IWUSR) || ((info.st_mode & S_IWGRP) && isInGroup(info.st_gid)) ||
           (info.st_mode & S_IWOTH);
}

} // namespace

void replaceFileWhole(const std::string& given, const std::string& contents)
{
    std::string path = followLinks(given);
    // An existing file keeps its permissions, and one the player may not
    // write (made read-only, say) is left alone, as fopen would have.
    struct stat existing {};
    bool exists = stat(path.c_str(), &existing) == 0;
    if (exists && !mayChange(path, existing))
        return;
    FileSizeSignalHeldOff heldOff;
    if (exists && existing.st_nlink > 1) {
        rewriteInPlace(path, contents);
        return;
    }
    Replacement replaced = replaceFile(path, contents, exists ? &existing : nullptr);
    if (replaced == Replacement::NoTemporaryFile || replaced == Replacement::NoStandIn) {
        if (exists)
            rewriteInPlace(path, contents);
        else
            createInPlace(path, contents);
    }
}
