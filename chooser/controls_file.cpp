#include "controls_file.h"

#include "control_schemes.h"
#include "file_attributes.h"
#include "launcher/engine_interface.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// "%s=%s\n" for every bound key, in table order.
std::string bindingsText(const ControlScheme& scheme)
{
    std::string text;
    for (const KeyCap& key : scheme.keys) {
        if (!key.action)
            continue;
        text += key.action;
        text += '=';
        text += controlsKeyName(key.label);
        text += '\n';
    }
    return text;
}

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

mode_t newFileMode()
{
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

void syncFolder(const std::string& folder)
{
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

// NoStandIn: the replacement could not be given the file's owner, group,
// extended attributes or ACL, so it would not stand in for the file.
enum class Replacement { Done, NoTemporaryFile, NoStandIn, Failed };

// The file must be complete before it appears under its real name: a
// truncated controls.ini would pass the first-run test for ever.
Replacement replaceFile(const std::string& path, const std::string& contents, const struct stat* existing)
{
    std::string temporaryPath = path + ".XXXXXX";
    int fd = mkstemp(temporaryPath.data());
    if (fd < 0)
        return Replacement::NoTemporaryFile;
    mode_t mode = existing ? existing->st_mode & 0777 : newFileMode();
    // Root replacing another user's file must not take it from them, and a
    // player's file that another user owns cannot be given away by the player.
    bool owned = !existing || (existing->st_uid == geteuid() && existing->st_gid == getegid()) ||
                 fchown(fd, existing->st_uid, existing->st_gid) == 0;
    // After the mode: the ACL's entries are the mode's group bits.
    bool standsIn = owned && fchmod(fd, mode) == 0 && (!existing || copyFileAttributes(path.c_str(), fd));
    bool written = standsIn && writeAllAt(fd, contents) && fsync(fd) == 0;
    bool closed = close(fd) == 0;
    if (!written || !closed || std::rename(temporaryPath.c_str(), path.c_str()) != 0) {
        unlink(temporaryPath.c_str());
        return standsIn ? Replacement::Failed : Replacement::NoStandIn;
    }
    syncFolder(folderOf(path));
    return Replacement::Done;
}

// Where no file can be made beside it (a read-only folder), or none that
// keeps what the file carries, the file itself is rewritten. Nothing is
// truncated before the new bytes are in; if they do not all go in, the old
// bytes are put back.
void rewriteInPlace(const std::string& path, const std::string& contents)
{
    int fd = open(path.c_str(), O_RDWR);
    if (fd < 0)
        return;
    std::string previous;
    char chunk[4096];
    ssize_t count;
    while ((count = pread(fd, chunk, sizeof chunk, off_t(previous.size()))) > 0)
        previous.append(chunk, std::size_t(count));
    if (count == 0) {
        bool written = writeAllAt(fd, contents) && ftruncate(fd, off_t(contents.size())) == 0 && fsync(fd) == 0;
        if (!written) {
            writeAllAt(fd, previous);
            ftruncate(fd, off_t(previous.size()));
        }
    }
    close(fd);
}

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

const char* controlsKeyName(const char* label)
{
    switch (static_cast<unsigned char>(label[0])) {
    case 0xAB: return "leftarrow";
    case 0xBB: return "rightarrow";
    case '-': return "downarrow";
    case '^': return "uparrow";
    default: return label;
    }
}

void writeControlsFile(int scheme)
{
    if (!engineIsReady() || scheme < 0 || scheme >= schemeCount)
        return;

    fetchControlsFilePath();
    std::string path = followLinks(userFolderPath);
    delete[] userFolderPath;
    std::string contents = bindingsText(controlSchemes[scheme]);

    // An existing file keeps its permissions, and one the player may not
    // write (made read-only, say) is left alone, as fopen would have.
    struct stat existing {};
    bool exists = stat(path.c_str(), &existing) == 0;
    if (exists && !mayChange(path, existing))
        return;
    Replacement replaced = replaceFile(path, contents, exists ? &existing : nullptr);
    if (exists && (replaced == Replacement::NoTemporaryFile || replaced == Replacement::NoStandIn))
        rewriteInPlace(path, contents);
}
