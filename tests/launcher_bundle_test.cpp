#include <gtest/gtest.h>

#include "process_runner.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <functional>
#include <map>
#include <netinet/in.h>
#ifdef __linux__
#include <sched.h>
#include <sys/mount.h>
#endif
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

const std::string bundle = GAME_BUNDLE;
const std::string game = bundle + "/Contents/MacOS/Game";

// Each test gets its own HOME and XDG_CONFIG_HOME, and reads what the
// stand-in engine was handed from its record file.
class LauncherBundle : public ::testing::Test {
protected:
    TemporaryFolder home;
    std::string display; // DISPLAY for the run; none when empty

    std::string configFolder() const { return engineConfigFolder(home.path(), home.file("config")); }
    std::string userFolder() const { return engineUserFolder(home.path(), home.file("config")); }
    std::string controlsFile() const { return userFolder() + "/controls.ini"; }
    std::string recordFile() const { return home.file("engine-record"); }
    std::string allocationsFile() const { return home.file("engine-allocations"); }
    std::string foldersFile() const { return home.file("engine-folders"); }

    void createControlsFile() const
    {
        ASSERT_EQ(std::system(("mkdir -p '" + userFolder() + "'").c_str()), 0);
        writeFile(controlsFile(), "up=w\n");
    }

    std::string inheritedFile() const { return home.file("engine-inherited"); }

    ProcessResult run(std::vector<std::string> arguments, const std::string& program = game,
                      bool unprivileged = false, std::function<void()> callerLeaves = {}) const
    {
        ProcessOptions options;
        options.beforeExec = std::move(callerLeaves);
        options.program = program;
        options.arguments = std::move(arguments);
        options.environment = {{"HOME", home.path()},
                               {"XDG_CONFIG_HOME", home.file("config")},
                               {"STANDIN_ENGINE_RECORD", recordFile()},
                               {"STANDIN_ENGINE_ALLOCATIONS", allocationsFile()},
                               {"STANDIN_ENGINE_FOLDERS", foldersFile()},
                               {"STANDIN_ENGINE_INHERITED", inheritedFile()}};
        // Without a display the chooser ends at once as if closed.
        options.unsetEnvironment = {"DISPLAY", "STANDIN_ENGINE_EXIT"};
        if (!display.empty())
            options.environment.emplace_back("DISPLAY", display);
        options.runAsUnprivileged = unprivileged;
        return runProcess(options);
    }

    // What the game inherited from the process that became it, by name:
    // "umask", "blocked", "pending" and "ignored" (signals), "timer" (ms
    // left), "descriptors".
    std::map<std::string, std::string> inherited() const
    {
        std::map<std::string, std::string> items;
        for (const std::string& line : splitRecord(fileExists(inheritedFile()) ? readFile(inheritedFile()) : "")) {
            std::size_t space = line.find(' ');
            items[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(space + 1);
        }
        return items;
    }

    std::vector<std::string> engineArguments() const
    {
        if (!fileExists(recordFile()))
            return {};
        return splitRecord(readFile(recordFile()));
    }

    // The engine's allocation operators serve the executable ('n' for each
    // allocation, 'd' for each release), except under AddressSanitizer,
    // whose own operators come first by design.
    void expectAllocationsServedByTheEngine() const
    {
        std::string served = fileExists(allocationsFile()) ? readFile(allocationsFile()) : "";
#ifdef UNDER_ADDRESS_SANITIZER
        std::printf("note: AddressSanitizer's allocation operators are bound first; the engine served none\n");
        EXPECT_EQ(served, "");
#else
        EXPECT_NE(served.find('n'), std::string::npos) << "the executable allocated nothing through the engine";
        EXPECT_NE(served.find('d'), std::string::npos) << "the executable released nothing through the engine";
#endif
    }
};

using Arguments = std::vector<std::string>;

// Without a display the chooser ends at once as if closed; a Mac always has
// its window server, where the chooser waits for the player (its own suites
// drive it there), so these cases are listed as not run.
bool chooserWaitsForThePlayer()
{
    utsname system {};
    return uname(&system) == 0 && std::strcmp(system.sysname, "Darwin") == 0;
}

// An X display whose server takes every connection and never answers, as a
// hung server or a stale forwarded display does.
class SilentDisplay {
public:
    SilentDisplay() { listening_ = listenAsDisplay(100, 400, &name_); }
    ~SilentDisplay()
    {
        if (listening_ >= 0)
            close(listening_);
    }
    const std::string& name() const { return name_; }

private:
    int listening_ = -1;
    std::string name_;
};

// Host name lookups that are never answered, as when the resolver has gone
// away: in a mount namespace of the child's own, resolv.conf names a server
// here that takes every query and answers none. Linux and root only.
class UnansweredLookups {
public:
    static constexpr int notEntered = 99; // the child's status where it could not enter

    UnansweredLookups()
    {
#ifdef __linux__
        writeFile(folder_.file("resolv.conf"), "nameserver 127.0.0.1\noptions timeout:30 attempts:1\n");
        writeFile(folder_.file("nsswitch.conf"), "hosts: files dns\n");
        server_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (server_ >= 0 && bind(server_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(server_);
            server_ = -1;
        }
#endif
    }
    ~UnansweredLookups()
    {
        if (server_ >= 0)
            close(server_);
    }
    bool ready() const { return server_ >= 0; }
    // Whether a query has come since.
    bool asked() const
    {
        char byte;
        return server_ >= 0 && recv(server_, &byte, 1, MSG_DONTWAIT | MSG_PEEK) >= 0;
    }
    // In the child, before the bundle starts.
    void enter() const
    {
#ifdef __linux__
        std::string resolver = folder_.file("resolv.conf"), sources = folder_.file("nsswitch.conf");
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(resolver.c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0 ||
            mount(sources.c_str(), "/etc/nsswitch.conf", nullptr, MS_BIND, nullptr) != 0)
            _exit(notEntered);
#endif
    }

private:
    TemporaryFolder folder_;
    int server_ = -1;
};

#define SKIP_WHERE_THE_CHOOSER_WAITS() \
    if (chooserWaitsForThePlayer()) \
    GTEST_SKIP() << "the chooser waits for the player on a Mac's window server"

} // namespace

TEST_F(LauncherBundle, ControlsFilePresentRelaunchesWithEmptyMarker)
{
    createControlsFile();
    ProcessResult result = run({"P"});
    EXPECT_EQ(result.ending, exitedWith(0));
    EXPECT_EQ(engineArguments(), (Arguments {"P", "-game", ""}));
    EXPECT_EQ(result.standardError, "");
    EXPECT_EQ(result.standardOutput, "stand-in engine: PlayerMain argc=3 \"P\" \"-game\" \"\"\n");
    expectAllocationsServedByTheEngine();
    std::string descriptors = inherited()["descriptors"];

    // The folders as the loader names the engine, not normalised: the
    // contents folder without a '/' at its end, the data folder inside it.
    std::vector<std::string> folders = fileExists(foldersFile()) ? splitRecord(readFile(foldersFile())) : Arguments {};
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[0], folders[1] + "/Resources/Data");
    ASSERT_FALSE(folders[1].empty());
    EXPECT_NE(folders[1].back(), '/');
    char* contents = realpath(folders[1].c_str(), nullptr);
    char* expected = realpath((bundle + "/Contents").c_str(), nullptr);
    EXPECT_STREQ(contents, expected);
    std::free(contents);
    std::free(expected);

    // The game gets the caller's standard streams, a closed one filled for
    // reading and writing, and no descriptor the start opened.
    EXPECT_EQ(descriptors.substr(0, 21), "0rpipe 1wpipe 2wpipe ");
    ASSERT_EQ(run({"P", "-game", ""}).ending, exitedWith(0));
    EXPECT_EQ(inherited()["descriptors"], descriptors);
    // With nothing else open, and no journal either:
    unlink(allocationsFile().c_str());
    ASSERT_EQ(mkdir(allocationsFile().c_str(), 0755), 0);
    auto onlyOutputOpen = [] {
        for (int fd = 0; fd < 1024; ++fd)
            if (fd != 1)
                close(fd);
    };
    ASSERT_EQ(run({"P"}, game, false, onlyOutputOpen).ending, exitedWith(0));
    EXPECT_EQ(inherited()["descriptors"], "0rw 1wpipe 2rw");
}

TEST_F(LauncherBundle, GameModeHandsArgumentsUnchangedAndReturnsEngineStatus)
{
    ProcessOptions options;
    options.program = game;
    options.arguments = {"P", "x", "-game", "/note"};
    options.environment = {{"HOME", home.path()},
                           {"XDG_CONFIG_HOME", home.file("config")},
                           {"STANDIN_ENGINE_RECORD", recordFile()},
                           {"STANDIN_ENGINE_EXIT", "42"}};
    ProcessResult result = runProcess(options);
    EXPECT_EQ(result.ending, exitedWith(42));
    EXPECT_EQ(engineArguments(), (Arguments {"P", "x", "-game", "/note"}));
    // No first-run test ran: the engine never created its per-user folder.
    EXPECT_FALSE(fileExists(configFolder()));

    // The engine's journal holds the executable's allocations, not the
    // engine's own: not one for each argument the engine copies.
    Arguments many(64, std::string(300, 'a'));
    many[1] = "-game";
    options.arguments = many;
    options.environment.emplace_back("STANDIN_ENGINE_ALLOCATIONS", allocationsFile());
    ASSERT_EQ(runProcess(options).ending, exitedWith(42));
    std::string served = fileExists(allocationsFile()) ? readFile(allocationsFile()) : "";
    EXPECT_LT(std::count(served.begin(), served.end(), 'n'), 62) << served;
}

TEST_F(LauncherBundle, LastKeywordWins)
{
    createControlsFile();
    // The chooser runs (and ends as closed, for want of a display): no engine.
    if (!chooserWaitsForThePlayer()) {
        ProcessResult chooser = run({"P", "-game", "-launcher"});
        EXPECT_EQ(chooser.ending, exitedWith(1));
        EXPECT_FALSE(fileExists(recordFile()));
    }

    ProcessResult engine = run({"P", "-launcher", "-game"});
    EXPECT_EQ(engine.ending, exitedWith(0));
    EXPECT_EQ(engineArguments(), (Arguments {"P", "-launcher", "-game"}));

    ProcessResult gameAfterTty = run({"P", "-tty", "-game"});
    EXPECT_EQ(gameAfterTty.ending, exitedWith(0));
    EXPECT_EQ(engineArguments(), (Arguments {"P", "-tty", "-game"}));
}

TEST_F(LauncherBundle, ProgramNameAndNearMissesAreNoKeywords)
{
    createControlsFile();
    ProcessResult result = run({"-game", "-Game", "--game", "-gamex", "-GAME", "-launcher2", "tty"});
    EXPECT_EQ(result.ending, exitedWith(0));
    EXPECT_EQ(engineArguments(),
              (Arguments {"-game", "-Game", "--game", "-gamex", "-GAME", "-launcher2", "tty", "-game", ""}));
}

TEST_F(LauncherBundle, NoControlsFileShowsChooserAndClosedChooserEndsWithOne)
{
    SKIP_WHERE_THE_CHOOSER_WAITS();
    ProcessResult result = run({"P"});
    EXPECT_EQ(result.ending, exitedWith(1));
    EXPECT_FALSE(fileExists(recordFile()));
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(result.standardError, "");
    // The engine created the per-user folder during the first-run test.
    EXPECT_TRUE(fileExists(userFolder()));
    EXPECT_FALSE(fileExists(controlsFile()));
    expectAllocationsServedByTheEngine();

    // The same folder where app.info was saved with Windows line ends.
    TemporaryFolder copy;
    ASSERT_EQ(std::system(("cp -a '" + bundle + "' '" + copy.path() + "/'").c_str()), 0);
    std::string appInfo = copy.path() + "/Game.app/Contents/Resources/Data/app.info", crlf;
    for (char c : readFile(appInfo))
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    writeFile(appInfo, crlf);
    ASSERT_EQ(std::system(("rm -r '" + configFolder() + "'").c_str()), 0);
    EXPECT_EQ(run({"P"}, copy.path() + "/Game.app/Contents/MacOS/Game").ending, exitedWith(1));
    EXPECT_TRUE(fileExists(userFolder()));
}

TEST_F(LauncherBundle, ForcedChooserIgnoresAnExistingControlsFile)
{
    SKIP_WHERE_THE_CHOOSER_WAITS();
    createControlsFile();
    ProcessResult result = run({"P", "-launcher"});
    EXPECT_EQ(result.ending, exitedWith(1));
    EXPECT_FALSE(fileExists(recordFile()));
    EXPECT_EQ(readFile(controlsFile()), "up=w\n");
}

// An engine that refuses the data folder, and engines the launcher was not
// built for, whose internal routines must never be called.
TEST_F(LauncherBundle, UnusableEngineMeansNoChooserAndNoEngineRoutines)
{
    const std::string engines = ENGINE_VARIANTS;
    struct Breakage {
        const char* what;
        std::string command;
    } breakages[] = {
        {"app.info missing", "rm Contents/Resources/Data/app.info"},
        {"NUL in the company name", "printf 'Demo\\0Company\\nDemo Game\\n' > Contents/Resources/Data/app.info"},
        {"another build of the engine", "cp '" + engines + "/other-build/UnityPlayer.dylib' Contents/Frameworks/"},
        {"PlayerMain alone, an identity of its own", "cp '" + engines + "/unplaced/UnityPlayer.dylib' Contents/Frameworks/"},
    };
    for (const Breakage& breakage : breakages) {
        SCOPED_TRACE(breakage.what);
        TemporaryFolder copy;
        ASSERT_EQ(std::system(("cp -a '" + bundle + "' '" + copy.path() + "/'").c_str()), 0);
        std::string copiedBundle = copy.path() + "/Game.app";
        ASSERT_EQ(std::system(("cd '" + copiedBundle + "' && " + breakage.command).c_str()), 0);

        ProcessResult result = run({"P"}, copiedBundle + "/Contents/MacOS/Game");
        EXPECT_EQ(result.ending, exitedWith(0));
        EXPECT_EQ(engineArguments(), (Arguments {"P", "-game", ""}));
        EXPECT_EQ(result.standardError, "");
        EXPECT_FALSE(fileExists(configFolder())) << "an engine routine made the per-user folder";

        // Forced, the chooser still opens, but nothing can be written without an engine.
        if (chooserWaitsForThePlayer())
            continue;
        ProcessResult forced = run({"P", "-launcher"}, copiedBundle + "/Contents/MacOS/Game");
        EXPECT_EQ(forced.ending, exitedWith(1));
        EXPECT_EQ(forced.standardError, "");
        EXPECT_FALSE(fileExists(configFolder()));
    }
}

class LauncherBundlePermissions : public LauncherBundle {
protected:
    void SetUp() override
    {
        auto [uid, gid] = unprivilegedUser();
        home.giveTo(uid, gid);
        ProcessOptions probe;
        probe.program = game;
        probe.arguments = {"P", "-game"};
        probe.runAsUnprivileged = true;
        if (runProcess(probe).ending != exitedWith(0))
            GTEST_SKIP() << "the bundle cannot be run as uid " << uid << " here; permission cases skipped";
    }

    void createControlsFileAsUser()
    {
        createControlsFile();
        auto [uid, gid] = unprivilegedUser();
        home.giveTo(uid, gid);
    }
};

TEST_F(LauncherBundlePermissions, UnreadableControlsFileStillCountsAsPresent)
{
    createControlsFileAsUser();
    ASSERT_EQ(chmod(controlsFile().c_str(), 0), 0);
    ProcessResult result = run({"P"}, game, true);
    EXPECT_EQ(result.ending, exitedWith(0));
    EXPECT_EQ(engineArguments(), (Arguments {"P", "-game", ""}));
}

TEST_F(LauncherBundlePermissions, UnsearchableUserFolderCountsAsMissing)
{
    SKIP_WHERE_THE_CHOOSER_WAITS();
    createControlsFileAsUser();
    ASSERT_EQ(chmod(userFolder().c_str(), 0600), 0);
    ProcessResult result = run({"P"}, game, true);
    EXPECT_EQ(result.ending, exitedWith(1));
    EXPECT_FALSE(fileExists(recordFile()));
}

// Past its deadline a display that never answers counts as absent, whatever
// the caller left blocked or running, and the game inherits exactly that.
TEST_F(LauncherBundle, DisplayThatNeverAnswersDelaysTheStartBoundedly)
{
    sigset_t all;
    sigfillset(&all);
    auto callerLeaves = [&all] {
        umask(027);
        for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber)
            signal(signalNumber, signalNumber == SIGPIPE ? SIG_IGN : SIG_DFL);
        sigprocmask(SIG_SETMASK, &all, nullptr);
        raise(SIGUSR2); // left pending
#ifdef SIGRTMAX
        raise(SIGRTMAX);
#endif
        itimerval timer {};
        timer.it_value.tv_sec = 30;
        setitimer(ITIMER_REAL, &timer, nullptr);
    };
    SilentDisplay wedged;
    ASSERT_FALSE(wedged.name().empty()) << "no free display port";
    display = wedged.name();
    createControlsFile();
    for (bool firstStart : {false, true}) {
        SCOPED_TRACE(firstStart ? "first start" : "normal start");
        if (firstStart) {
            if (chooserWaitsForThePlayer())
                break;
            ASSERT_EQ(unlink(controlsFile().c_str()), 0);
            ASSERT_EQ(unlink(recordFile().c_str()), 0);
        }
        auto started = std::chrono::steady_clock::now();
        ProcessResult result = run({"P"}, game, false, callerLeaves);
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(result.ending, exitedWith(firstStart ? 1 : 0));
        if (!firstStart) {
            auto throughTheStart = inherited();
            ASSERT_EQ(run({"P", "-game", ""}, game, false, callerLeaves).ending, exitedWith(0));
            auto direct = inherited();
            std::string leftPending = std::to_string(SIGUSR2);
#ifdef SIGRTMAX
            leftPending += " " + std::to_string(SIGRTMAX);
#endif
            EXPECT_EQ(direct["pending"], leftPending) << "the caller's pending signals were not recorded";
            EXPECT_EQ(direct["ignored"], std::to_string(SIGPIPE)) << "the caller's ignored signals were not recorded";
            // The caller's timer keeps running as if nothing had touched it.
            int left = std::stoi(throughTheStart["timer"]), leftDirect = std::stoi(direct["timer"]);
            EXPECT_GT(left, leftDirect - 6000);
            // A Mac never asks an X display: nothing holds its start up.
            if (!chooserWaitsForThePlayer()) {
                EXPECT_LT(left, leftDirect - 1000);
            }
            throughTheStart.erase("timer");
            direct.erase("timer");
            EXPECT_EQ(throughTheStart, direct);
        }
        EXPECT_EQ(engineArguments(), (firstStart ? Arguments {} : Arguments {"P", "-game", ""}));
        EXPECT_EQ(result.standardError, "");
        EXPECT_LT(took.count(), 6.0);
    }

    // A display by a host name whose lookup is never answered: the same bound.
    UnansweredLookups lookups;
    if (!lookups.ready()) {
        std::printf("note: no unanswered name server can be set up here (root on Linux only)\n");
        return;
    }
    display = "unanswered.test:0";
    createControlsFile();
    auto started = std::chrono::steady_clock::now();
    ProcessResult result = run({"P"}, game, false, [&] { lookups.enter(); });
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    if (result.ending == exitedWith(UnansweredLookups::notEntered)) {
        std::printf("note: no mount namespace here for an unanswered name server\n");
        return;
    }
    EXPECT_TRUE(lookups.asked()) << "no query reached the silent name server";
    EXPECT_EQ(result.ending, exitedWith(0));
    EXPECT_EQ(engineArguments(), (Arguments {"P", "-game", ""}));
    EXPECT_EQ(result.standardError, "");
    EXPECT_LT(took.count(), 6.0);
}
