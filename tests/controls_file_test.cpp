#include <gtest/gtest.h>

#include "control_schemes.h"
#include "controls_file.h"
#include "expected_controls.h"
#include "launcher/engine_interface.h"
#include "process_runner.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <functional>
#include <grp.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <climits>
#include <cstdint>
#include <sys/stat.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif
#ifdef __APPLE__
#include <sys/acl.h>
#endif
#include <sys/xattr.h>
#include <unistd.h>

#ifdef __linux__
// A file system that refuses one attribute call, for the writer's calls made
// from a child: the kernel's answer otherwise.
static const char* refusedCall = "";
extern "C" ssize_t getxattr(const char* path, const char* name, void* value, size_t size)
{
    if (size > 0 && std::strcmp(refusedCall, "getxattr") == 0)
        return errno = EIO, -1;
    return syscall(SYS_getxattr, path, name, value, size);
}
extern "C" int fremovexattr(int fd, const char* name)
{
    if (std::strcmp(refusedCall, "fremovexattr") == 0)
        return errno = EPERM, -1;
    return static_cast<int>(syscall(SYS_fremovexattr, fd, name));
}
#endif

// What the writer last put in place by renaming, from where.
static std::string renamedFrom, renamedTo;
extern "C" int rename(const char* from, const char* to)
{
    renamedFrom = from;
    renamedTo = to;
    return renameat(AT_FDCWD, from, AT_FDCWD, to);
}

namespace {

// The engine learns its per-user folder once per process, so every case
// writes from a child process with its own configuration folder.
class ControlsFile : public ::testing::Test {
protected:
    TemporaryFolder home;

    std::string configFolder() const { return engineConfigFolder(home.path(), home.file("config")); }
    std::string userFolder() const { return engineUserFolder(home.path(), home.file("config")); }
    std::string controlsFile() const { return userFolder() + "/controls.ini"; }

    Ending inChild(const std::function<void()>& beforeWriting, int scheme, bool setUp = true) const
    {
        pid_t child = fork();
        if (child == 0) {
            setenv("HOME", home.path().c_str(), 1);
            setenv("XDG_CONFIG_HOME", home.file("config").c_str(), 1);
            beforeWriting();
            if (setUp && !setUpEngine())
                std::exit(2);
            // A writer that leaves a descriptor open, or closes one not its
            // own, fails as surely as one that writes the wrong bytes.
            auto openDescriptors = [] {
                std::string open;
                for (int fd = 0; fd < 1024; ++fd)
                    open += fcntl(fd, F_GETFD) != -1 ? '1' : '0';
                return open;
            };
            std::string before = openDescriptors();
            writeControlsFile(scheme);
            // The file was written beside itself under a hidden name no
            // longer than its own, which any path that holds it can hold.
            std::size_t slash = renamedTo.rfind('/');
            bool besideAndHidden = renamedFrom.empty() ||
                                   (renamedFrom.compare(0, slash + 2, renamedTo.substr(0, slash + 1) + ".") == 0 &&
                                    renamedFrom.size() <= renamedTo.size() && renamedFrom.rfind('/') == slash);
            std::exit(openDescriptors() == before && besideAndHidden ? 0 : 4);
        }
        return waitForEnding(child, -1);
    }

    void makeUserFolderWith(const std::string& contents) const
    {
        ASSERT_EQ(std::system(("mkdir -p '" + userFolder() + "'").c_str()), 0);
        writeFile(controlsFile(), contents);
    }

    // The writer runs as unprivileged user, who owns the whole home folder.
    std::function<void()> asUnprivilegedOwner() const
    {
        auto [uid, gid] = unprivilegedUser();
        home.giveTo(uid, gid);
        return [uid = uid, gid = gid] {
            if (getuid() == 0 && (setgid(gid) != 0 || setuid(uid) != 0))
                std::exit(3);
        };
    }

    std::vector<std::string> userFolderEntries() const
    {
        std::vector<std::string> names;
        if (DIR* folder = opendir(userFolder().c_str())) {
            while (dirent* entry = readdir(folder))
                if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                    names.push_back(entry->d_name);
            closedir(folder);
        }
        return names;
    }
};

#ifdef __linux__
// ACLs as Linux stores them: a version, then tag | perm << 16 and an id.
constexpr std::uint32_t noId = 0xFFFFFFFF;
// u::rw, u:1:rw, g::-, mask::rw, o::-
constexpr std::uint32_t userOneMayWrite[] = {2, 0x60001, noId, 0x60002, 1, 0x4, noId, 0x60010, noId, 0x20, noId};
// u::rw, u:1:r, g::-, mask::r, o::-
constexpr std::uint32_t userOneMayRead[] = {2, 0x60001, noId, 0x40002, 1, 0x4, noId, 0x40010, noId, 0x20, noId};
#endif

// All that a file carries besides its bytes, which a rewrite must keep:
// mode, owner, group, links, and its extended attributes and ACL (on a Mac
// those the tests give: a new file there may get com.apple.provenance).
std::string standing(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0)
        return "missing";
    char text[96];
    std::snprintf(text, sizeof text, "mode %04o owner %u:%u links %u", unsigned(info.st_mode & 07777),
                  unsigned(info.st_uid), unsigned(info.st_gid), unsigned(info.st_nlink));
    std::string described = text;
#ifdef __linux__
    char names[4096];
    ssize_t size = listxattr(path.c_str(), names, sizeof names);
    std::vector<std::string> sorted;
    for (ssize_t at = 0; at < size; at += ssize_t(std::strlen(names + at)) + 1)
        sorted.push_back(names + at);
    std::sort(sorted.begin(), sorted.end());
    for (const std::string& name : sorted) {
        char value[512];
        ssize_t length = getxattr(path.c_str(), name.c_str(), value, sizeof value);
        described += " " + name + "=";
        for (ssize_t i = 0; i < length; ++i) {
            std::snprintf(text, sizeof text, "%02x", unsigned(static_cast<unsigned char>(value[i])));
            described += text;
        }
    }
#else
    char value[512];
    ssize_t length = getxattr(path.c_str(), "user.origin", value, sizeof value, 0, 0);
    if (length >= 0)
        described += " user.origin=" + std::string(value, std::size_t(length));
    if (acl_t acl = acl_get_file(path.c_str(), ACL_TYPE_EXTENDED)) {
        if (char* acl_text = acl_to_text(acl, nullptr)) {
            described += std::string(" acl=") + acl_text;
            acl_free(acl_text);
        }
        acl_free(acl);
    }
#endif
    return described;
}

} // namespace

TEST_F(ControlsFile, BothSchemesWriteTheirSixteenLinesExactly)
{
    ASSERT_EQ(inChild([] {}, 0), exitedWith(0));
    EXPECT_EQ(readFile(controlsFile()), wasdControlsFile);
    ASSERT_EQ(inChild([] {}, 1), exitedWith(0));
    EXPECT_EQ(readFile(controlsFile()), arrowControlsFile);
    EXPECT_EQ(userFolderEntries(), std::vector<std::string> {"controls.ini"});

    // A relative configuration folder counts as none: the usual one is used.
    ASSERT_EQ(inChild([&] { (void)!chdir(home.path().c_str()); setenv("XDG_CONFIG_HOME", "config", 1); }, 0), exitedWith(0));
    EXPECT_EQ(readFile(engineUserFolder(home.path(), home.file(".config")) + "/controls.ini"), wasdControlsFile);
}

TEST_F(ControlsFile, ReplacesAnEarlierFileCompletelyWithUsualPermissions)
{
    makeUserFolderWith(std::string(5000, '#') + "\n");
    struct stat before {};
    ASSERT_EQ(stat(controlsFile().c_str(), &before), 0);
    ASSERT_EQ(inChild([] { umask(022); }, 1), exitedWith(0));
    EXPECT_EQ(readFile(controlsFile()), arrowControlsFile);
    struct stat info {};
    ASSERT_EQ(stat(controlsFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    // Replaced by a complete file, not rewritten where it lies.
    EXPECT_NE(info.st_ino, before.st_ino);
}

TEST_F(ControlsFile, KeyNamesFromTheFirstByteOnly)
{
    EXPECT_STREQ(controlsKeyName("\xAB"), "leftarrow");
    EXPECT_STREQ(controlsKeyName("\xBB"), "rightarrow");
    EXPECT_STREQ(controlsKeyName("-x"), "downarrow");
    EXPECT_STREQ(controlsKeyName("^^"), "uparrow");
    EXPECT_STREQ(controlsKeyName("return"), "return");
    EXPECT_STREQ(controlsKeyName(""), "");
}

TEST_F(ControlsFile, NothingIsWrittenWithoutAnEngineSetUpOrAScheme)
{
    ASSERT_EQ(inChild([] {}, 0, false), exitedWith(0));
    EXPECT_FALSE(fileExists(configFolder()));
    for (int scheme : {-1, schemeCount}) {
        ASSERT_EQ(inChild([] {}, scheme), exitedWith(0));
        EXPECT_TRUE(userFolderEntries().empty());
    }
}

TEST_F(ControlsFile, NewFileTakesWhatAPlainOpenWouldUnderTheUmaskOrADefaultAcl)
{
#ifdef __linux__
    for (int withAcl : {0, 1}) {
#else
    for (int withAcl : {0}) { // a default ACL (system.posix_acl_default) is Linux's
#endif
        for (mode_t mask : {022, 077}) {
            std::string reference = home.file("reference");
            auto writeBoth = [&, mask] {
                umask(mask);
#ifdef __linux__
                if (withAcl && setxattr(home.path().c_str(), "system.posix_acl_default", userOneMayWrite,
                                        sizeof userOneMayWrite, 0) != 0)
                    std::exit(4);
#endif
                close(open(reference.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666));
                mkdir(configFolder().c_str(), 0777);
            };
            Ending status = inChild(writeBoth, 0);
            if (status == exitedWith(4))
                GTEST_SKIP() << "no ACLs on this file system";
            ASSERT_EQ(status, exitedWith(0));
            EXPECT_EQ(standing(controlsFile()), standing(reference));
            char mode[16];
            std::snprintf(mode, sizeof mode, "mode %04o", withAcl ? 0660u : 0666u & ~mask);
            EXPECT_EQ(standing(reference).substr(0, 9), mode);
            EXPECT_EQ(readFile(controlsFile()), wasdControlsFile);
            ASSERT_EQ(std::system(("rm -r '" + configFolder() + "' '" + reference + "'").c_str()), 0);
        }
    }
}

// Any path a plain open takes, up to PATH_MAX.
TEST_F(ControlsFile, LongestPathIsWritten)
{
    // A folder beneath `base` whose path is `length` bytes long.
    auto deepFolder = [](std::string folder, std::size_t length) {
        while (folder.size() < length)
            folder += "/" + std::string(std::min<std::size_t>(200, length - folder.size() - 1), 'd');
        EXPECT_EQ(std::system(("mkdir -p '" + folder + "'").c_str()), 0);
        return folder;
    };
    // The engine's folders beneath a deep one: HOME on a Mac, which ignores
    // XDG_CONFIG_HOME.
    std::string tail = engineUserFolder("", "") + "/controls.ini";
    std::string deep = deepFolder(home.file("deep"), PATH_MAX - 1 - tail.size());
#ifdef __APPLE__
    auto deepConfiguration = [&] { setenv("HOME", deep.c_str(), 1); };
#else
    auto deepConfiguration = [&] { setenv("XDG_CONFIG_HOME", deep.c_str(), 1); };
#endif
    ASSERT_EQ(inChild(deepConfiguration, 1), exitedWith(0));
    EXPECT_EQ(readFile(deep + tail), arrowControlsFile);

    // A link to a file not made yet, whose name is too short for a
    // temporary one beside it at that length: it is made in place.
    std::string target = deepFolder(home.file("kept"), PATH_MAX - 3) + "/a";
    ASSERT_EQ(unlink((deep + tail).c_str()), 0);
    ASSERT_EQ(symlink(target.c_str(), (deep + tail).c_str()), 0);
    ASSERT_EQ(inChild(deepConfiguration, 0), exitedWith(0));
    EXPECT_EQ(readFile(target), wasdControlsFile);
}

TEST_F(ControlsFile, MissingFolderLeavesNoFile)
{
    // The engine cannot create its folder beneath a plain file.
    ASSERT_EQ(std::system(("mkdir -p \"$(dirname '" + configFolder() + "')\"").c_str()), 0);
    writeFile(configFolder(), "");
    ASSERT_EQ(inChild([] {}, 0), exitedWith(0));
    EXPECT_EQ(readFile(configFolder()), "");
}

TEST_F(ControlsFile, FailedWritePartWayKeepsTheEarlierFile)
{
    makeUserFolderWith("old=file\n");
    // SIGXFSZ at its default, blocked as a caller may leave it: the writer
    // holds it off, so writes past 40 bytes fail with EFBIG, and the game
    // inherits it as the caller left it: default, blocked, nothing pending.
    auto limitFileSize = [] {
        sigset_t fileSize;
        sigemptyset(&fileSize);
        sigaddset(&fileSize, SIGXFSZ);
        sigprocmask(SIG_BLOCK, &fileSize, nullptr);
        std::atexit([] {
            sigset_t pending, blocked;
            sigpending(&pending);
            sigprocmask(SIG_BLOCK, nullptr, &blocked);
            struct sigaction action {};
            sigaction(SIGXFSZ, nullptr, &action);
            if (sigismember(&pending, SIGXFSZ) == 1 || sigismember(&blocked, SIGXFSZ) != 1 ||
                action.sa_handler != SIG_DFL)
                _exit(5);
        });
        rlimit limit = {40, 40};
        setrlimit(RLIMIT_FSIZE, &limit);
    };
    ASSERT_EQ(inChild(limitFileSize, 0), exitedWith(0));
    EXPECT_EQ(readFile(controlsFile()), "old=file\n");
    EXPECT_EQ(userFolderEntries(), std::vector<std::string> {"controls.ini"});
}

TEST_F(ControlsFile, ReadOnlyFolderRewritesTheFileInPlaceOrLeavesItWhole)
{
    makeUserFolderWith("old=file\n");
    auto dropPrivileges = asUnprivilegedOwner();
    ASSERT_EQ(chmod(userFolder().c_str(), 0555), 0);
    // A write that fails part-way puts the earlier bytes back.
    auto limitedFileSize = [&] {
        dropPrivileges();
        rlimit limit = {40, 40};
        setrlimit(RLIMIT_FSIZE, &limit);
    };
    ASSERT_EQ(inChild(limitedFileSize, 0), exitedWith(0));
    EXPECT_EQ(readFile(controlsFile()), "old=file\n");

    ASSERT_EQ(inChild(dropPrivileges, 0), exitedWith(0));
    EXPECT_EQ(readFile(controlsFile()), wasdControlsFile);
    EXPECT_EQ(userFolderEntries(), std::vector<std::string> {"controls.ini"});

    // Read-only for the test too where it is not root (a Mac's runner).
    ASSERT_EQ(chmod(userFolder().c_str(), 0755), 0);
    ASSERT_EQ(unlink(controlsFile().c_str()), 0);
    ASSERT_EQ(chmod(userFolder().c_str(), 0555), 0);
    ASSERT_EQ(inChild(dropPrivileges, 1), exitedWith(0));
    EXPECT_TRUE(userFolderEntries().empty());
}

TEST_F(ControlsFile, ExistingFileKeepsItsPermissionsAndAReadOnlyOneIsLeftAlone)
{
    makeUserFolderWith("old=file\n");
    auto dropPrivileges = asUnprivilegedOwner();
    ASSERT_EQ(chmod(controlsFile().c_str(), 0600), 0);
#ifdef __linux__
    // An attribute of its own, and not the folder's default ACL, which a
    // new file there takes; then an ACL of its own.
    bool ownAttribute = setxattr(controlsFile().c_str(), "user.origin", "restored", 8, 0) == 0;
    if (!ownAttribute) {
        ASSERT_EQ(errno, ENOTSUP);
    }
    bool withAcls = setxattr(userFolder().c_str(), "system.posix_acl_default", userOneMayWrite,
                             sizeof userOneMayWrite, 0) == 0;
#else
    // An attribute and an ACL of its own, which fcopyfile must carry over.
    ASSERT_EQ(setxattr(controlsFile().c_str(), "user.origin", "restored", 8, 0, 0), 0);
    ASSERT_EQ(std::system(("chmod +a 'everyone allow read' '" + controlsFile() + "'").c_str()), 0);
#endif
    // Replaced by a complete new file, which stands in for the old one.
    auto inode = [&] {
        struct stat info {};
        stat(controlsFile().c_str(), &info);
        return info.st_ino;
    };
    std::string before = standing(controlsFile());
    ino_t earlier = inode();
    EXPECT_EQ(before.substr(0, 9), "mode 0600");
    ASSERT_EQ(inChild([&] { umask(022); dropPrivileges(); }, 1), exitedWith(0));
    EXPECT_EQ(readFile(controlsFile()), arrowControlsFile);
    EXPECT_EQ(standing(controlsFile()), before);
    EXPECT_NE(inode(), earlier);
#ifdef __linux__
    // What cannot be carried over, or taken off, keeps the file where it is.
    std::vector<const char*> refusals;
    if (ownAttribute)
        refusals.push_back("getxattr");
    if (withAcls)
        refusals.push_back("fremovexattr");
    for (const char* refused : refusals) {
        SCOPED_TRACE(refused);
        before = standing(controlsFile());
        earlier = inode();
        std::string expected = readFile(controlsFile()) == arrowControlsFile ? wasdControlsFile : arrowControlsFile;
        ASSERT_EQ(inChild([&] { dropPrivileges(); refusedCall = refused; }, expected == arrowControlsFile ? 1 : 0), exitedWith(0));
        EXPECT_EQ(readFile(controlsFile()), expected);
        EXPECT_EQ(standing(controlsFile()), before);
        EXPECT_EQ(inode(), earlier);
    }
    if (withAcls) {
        ASSERT_EQ(setxattr(controlsFile().c_str(), "system.posix_acl_access", userOneMayRead, sizeof userOneMayRead, 0), 0);
        before = standing(controlsFile());
        earlier = inode();
        ASSERT_EQ(inChild([&] { umask(077); dropPrivileges(); }, 0), exitedWith(0));
        EXPECT_EQ(readFile(controlsFile()), wasdControlsFile);
        EXPECT_EQ(standing(controlsFile()), before);
        EXPECT_NE(inode(), earlier);
    }
#endif

    ASSERT_EQ(chmod(controlsFile().c_str(), 0444), 0);
    before = standing(controlsFile());
    std::string kept = readFile(controlsFile());
    ASSERT_EQ(inChild(dropPrivileges, kept == arrowControlsFile ? 0 : 1), exitedWith(0));
    EXPECT_EQ(readFile(controlsFile()), kept);
    EXPECT_EQ(standing(controlsFile()), before);
}

// Root may write anything, so the permission bits are what the player said.
TEST_F(ControlsFile, AsRootReadOnlyIsLeftAloneAndAnotherUsersFileStaysTheirs)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "runs as root only";
    makeUserFolderWith("old=file\n");
    ASSERT_EQ(chmod(controlsFile().c_str(), 0444), 0);
    ASSERT_EQ(inChild([] {}, 0), exitedWith(0));
    EXPECT_EQ(readFile(controlsFile()), "old=file\n");

    auto [uid, gid] = unprivilegedUser();
    ASSERT_NE(uid, 0u);
    // In a setgid folder of another group a new file takes the folder's
    // group (as every folder does on a Mac); the replacement must not.
    ASSERT_EQ(chown(userFolder().c_str(), 0, gid), 0);
    ASSERT_EQ(chmod(userFolder().c_str(), 02775), 0);
    ASSERT_EQ(chmod(controlsFile().c_str(), 0640), 0);
    ASSERT_EQ(inChild([] {}, 1), exitedWith(0));
    EXPECT_EQ(readFile(controlsFile()), arrowControlsFile);
    struct stat info {};
    ASSERT_EQ(stat(controlsFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_gid, 0u);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    // Root's own file in another group keeps that group.
    ASSERT_EQ(chmod(controlsFile().c_str(), 0664), 0);
    ASSERT_EQ(chown(controlsFile().c_str(), 0, gid), 0);
    ASSERT_EQ(inChild([] {}, 0), exitedWith(0));
    EXPECT_EQ(readFile(controlsFile()), wasdControlsFile);
    ASSERT_EQ(stat(controlsFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
    EXPECT_EQ(info.st_gid, gid);
    EXPECT_EQ(info.st_mode & 0777, 0664u);

    ASSERT_EQ(chmod(controlsFile().c_str(), 0640), 0);
    ASSERT_EQ(chown(controlsFile().c_str(), uid, gid), 0);
    ASSERT_EQ(inChild([] {}, 1), exitedWith(0));
    EXPECT_EQ(readFile(controlsFile()), arrowControlsFile);
    ASSERT_EQ(stat(controlsFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, uid);
    EXPECT_EQ(info.st_gid, gid);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    // Writable through one of root's supplementary groups only.
    ASSERT_EQ(chmod(controlsFile().c_str(), 0464), 0);
    std::string before = standing(controlsFile());
    ASSERT_EQ(inChild([] { if (setgroups(0, nullptr) != 0) std::exit(5); }, 0), exitedWith(0));
    EXPECT_EQ(readFile(controlsFile()), arrowControlsFile);
    ASSERT_EQ(inChild([gid = gid] { if (setgroups(1, &gid) != 0) std::exit(5); }, 0), exitedWith(0));
    EXPECT_EQ(readFile(controlsFile()), wasdControlsFile);
    EXPECT_EQ(standing(controlsFile()), before);

    // The other way round: the player may write a file that root owns
    // (as sudo leaves one), but cannot give a replacement root's ownership.
    auto dropPrivileges = asUnprivilegedOwner();
    ASSERT_EQ(chown(controlsFile().c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(controlsFile().c_str(), 0666), 0);
    ASSERT_EQ(inChild(dropPrivileges, 1), exitedWith(0));
    EXPECT_EQ(readFile(controlsFile()), arrowControlsFile);
    ASSERT_EQ(stat(controlsFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 0u);
}

TEST_F(ControlsFile, LinkKeepsPointingAtTheFileItNamesWhichIsReplaced)
{
    // controls.ini -> profile.ini -> the file, kept beside the per-user folder.
    makeUserFolderWith("");
    std::string kept = configFolder() + "/kept";
    ASSERT_EQ(unlink(controlsFile().c_str()), 0);
    ASSERT_EQ(mkdir(kept.c_str(), 0755), 0);
    writeFile(kept + "/controls.ini", "old=file\n");
    ASSERT_EQ(symlink("controls.ini", (kept + "/profile.ini").c_str()), 0);
    ASSERT_EQ(symlink("../../kept/profile.ini", controlsFile().c_str()), 0);
    auto isLink = [](const std::string& path) {
        struct stat info {};
        return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
    };

    ASSERT_EQ(inChild([] {}, 1), exitedWith(0));
    EXPECT_TRUE(isLink(controlsFile()));
    EXPECT_TRUE(isLink(kept + "/profile.ini"));
    EXPECT_EQ(readFile(kept + "/controls.ini"), arrowControlsFile);
    EXPECT_EQ(userFolderEntries(), std::vector<std::string> {"controls.ini"});

    // A second name (a backup, a shared profile) sees the choice as well.
    ASSERT_EQ(link((kept + "/controls.ini").c_str(), (kept + "/backup.ini").c_str()), 0);
    ASSERT_EQ(inChild([] {}, 0), exitedWith(0));
    EXPECT_TRUE(isLink(controlsFile()));
    EXPECT_EQ(readFile(kept + "/controls.ini"), wasdControlsFile);
    EXPECT_EQ(readFile(kept + "/backup.ini"), wasdControlsFile);
}
