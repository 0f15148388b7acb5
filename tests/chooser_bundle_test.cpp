#include <gtest/gtest.h>

#include "expected_controls.h"
#include "process_runner.h"
#include "x_session.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

const std::string bundle = GAME_BUNDLE;
const std::string game = bundle + "/Contents/MacOS/Game";

const std::string selectionBlue = "10,132,255";
const std::string triangleGlyph = "0,255,228";
const std::string crossGlyph = "173,212,255";

// x, y, width, height in the window.
using Area = std::array<int, 4>;

// Another machine may smooth text otherwise (subpixel smoothing moves its edge
// pixels by up to 89), so inside text a channel may differ by this much: less
// than ink (0, or 117 on keys without an action) differs from a key's face (236).
constexpr int textTolerance = 96;

// Where text stands, as measured on the pictures with a pixel to spare: the
// title, the gift's "?", both layouts' names (by the Arrow Keys button's top)
// and, in an open panel at panelY, "hit key to start!" and the rows of key labels.
std::vector<Area> textAreas(int arrowButtonTop, int panelY = -1)
{
    std::vector<Area> areas = {{98, 19, 185, 15}, {39, 58, 17, 26}, {118, 57, 86, 17},
                               {118, arrowButtonTop + 1, 86, 17}};
    if (panelY >= 0) {
        areas.push_back({117 + 199, panelY + 11, 115, 18});
        for (int row = 0; row < 4; ++row)
            areas.push_back({117, panelY + 32 * row + 13, 395, 16});
    }
    return areas;
}

// Pixels of shot unlike expected's (-1 for another size); marked, when given,
// shows them in red on a faded copy of shot.
long differingPixels(const Picture& shot, const Picture& expected, const std::vector<Area>& text,
                     Picture* marked = nullptr)
{
    if (shot.width != expected.width || shot.height != expected.height)
        return -1;
    if (marked)
        *marked = shot;
    long count = 0;
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            bool inText = std::any_of(text.begin(), text.end(), [&](const Area& a) {
                return x >= a[0] && x < a[0] + a[2] && y >= a[1] && y < a[1] + a[3];
            });
            bool differs = false;
            for (int c = 0; c < 3; ++c)
                differs = differs || std::abs(shot.at(x, y)[c] - expected.at(x, y)[c]) > (inText ? textTolerance : 0);
            count += differs;
            for (int c = 0; marked && c < 3; ++c) {
                unsigned char& channel = marked->at(x, y)[c];
                channel = differs ? (c == 0 ? 255 : 0) : static_cast<unsigned char>(255 - (255 - channel) / 4);
            }
        }
    }
    return count;
}

// The bundle started as a player would, on a private X server, with its own
// HOME; the stand-in engine records what it was handed.
class ChooserBundle : public ::testing::Test {
protected:
    // withCookie: the server asks for a cookie that the bundle is not given.
    explicit ChooserBundle(XServerOptions options = {}, bool withCookie = false)
        : x(withCookie ? XServerOptions {false, {}, home.file("cookie")} : options)
    {
    }

    TemporaryFolder home;
    XSession x;
    std::unique_ptr<BackgroundProcess> process;
    std::string window;

    std::string userFolder() const { return engineUserFolder(home.path(), home.file("config")); }
    std::string controlsFile() const { return userFolder() + "/controls.ini"; }
    std::string recordFile() const { return home.file("engine-record"); }

    void SetUp() override { ASSERT_TRUE(x.ready()) << "Xvfb did not start"; }

    void start(std::vector<std::string> arguments, const std::string& program = game,
               bool standardErrorClosed = false, const std::string& display = "",
               const std::function<void()>& callerLeaves = {})
    {
        process = std::make_unique<BackgroundProcess>(
            program, arguments,
            std::vector<std::pair<std::string, std::string>> {{"DISPLAY", display.empty() ? x.display() : display},
                                                              {"HOME", home.path()},
                                                              {"XDG_CONFIG_HOME", home.file("config")},
                                                              {"STANDIN_ENGINE_RECORD", recordFile()},
                                                              {"STANDIN_ENGINE_INHERITED", home.file("inherited")}},
            std::vector<std::string> {"STANDIN_ENGINE_EXIT", "XAUTHORITY"}, home.file("stdout"),
            standardErrorClosed ? closedStream : home.file("stderr"), callerLeaves);
    }

    void startAndFindWindow(std::vector<std::string> arguments = {"P"}, const std::string& program = game,
                            const std::function<void()>& callerLeaves = {})
    {
        start(std::move(arguments), program, false, "", callerLeaves);
        window = x.findWindow(process->pid());
        ASSERT_FALSE(window.empty()) << "no chooser window appeared";
    }

    void press(const std::string& key) { ASSERT_TRUE(x.pressKey(window, key)) << key; }

    int windowHeight() const { return x.geometry(window)[3]; }

    // Waits for a pixel of the window (window coordinates) to take a colour.
    bool pixelBecomes(int wx, int wy, const std::string& rgb)
    {
        auto box = x.geometry(window);
        return waitUntil([&] { return x.pixel(box[0] + wx, box[1] + wy) == rgb; });
    }

    // Once its animations have ended the window looks as pictures/NAME.png
    // beside this file shows it. CHOOSER_PICTURES_UPDATE=1 rewrites the picture.
    void expectLooksLike(const std::string& name, const std::vector<Area>& text)
    {
        const std::string reference = std::string(REFERENCE_PICTURES) + "/" + name + ".png";
        const std::string captured = std::string(CAPTURED_PICTURES) + "/" + name;
        std::remove((captured + ".png").c_str()); // a past failure's
        std::remove((captured + "-difference.png").c_str());
        Picture shot;
        const char* update = std::getenv("CHOOSER_PICTURES_UPDATE");
        if (update && std::string(update) == "1") {
            // Still for a while: nothing moves any more.
            Picture earlier;
            ASSERT_TRUE(waitUntil([&] {
                earlier = std::exchange(shot, x.capture(window));
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                return !shot.rgb.empty() && shot.rgb == earlier.rgb;
            })) << name << " did not settle";
            ASSERT_TRUE(shot.save(reference)) << reference;
            return;
        }
        Picture expected;
        ASSERT_TRUE(expected.load(reference)) << "no picture " << reference;
        // The animations take under a second: no fixed wait, the match ends it.
        long differing = 0;
        if (waitUntil([&] { return (differing = differingPixels(shot = x.capture(window), expected, text)) == 0; }, 5))
            return;
        Picture marked;
        differingPixels(shot, expected, text, &marked);
        std::error_code ignored;
        std::filesystem::create_directories(CAPTURED_PICTURES, ignored);
        shot.save(captured + ".png");
        if (!marked.rgb.empty())
            marked.save(captured + "-difference.png");
        ADD_FAILURE() << name << " looks otherwise than " << reference << ": "
                      << (differing < 0 ? "another size" : std::to_string(differing) + " pixels differ") << "; see "
                      << captured << ".png" << (marked.rgb.empty() ? "" : " and " + captured + "-difference.png");
    }

    std::vector<std::string> engineArguments() const
    {
        return fileExists(recordFile()) ? splitRecord(readFile(recordFile())) : std::vector<std::string> {};
    }

    void expectNoOutputBeforeTheGame() const { EXPECT_EQ(readFile(home.file("stderr")), ""); }
};

// Xvfb's default: the server resets whenever its last client leaves.
class ChooserOnResettingServer : public ChooserBundle {
protected:
    ChooserOnResettingServer() : ChooserBundle({true, {}, ""}) {}
};

// As some VNC and remote servers are.
class ChooserWithoutDoubleBuffer : public ChooserBundle {
protected:
    ChooserWithoutDoubleBuffer() : ChooserBundle({false, {"-extension", "DOUBLE-BUFFER"}, ""}) {}
};

class ChooserOnAuthorizingServer : public ChooserBundle {
protected:
    ChooserOnAuthorizingServer() : ChooserBundle({}, true) {}
};

using Arguments = std::vector<std::string>;

} // namespace

TEST_F(ChooserBundle, DownThenReturnWritesWasdAndStartsTheGame)
{
    // The caller leaves SIGPIPE blocked and pending, for the game to have so.
    startAndFindWindow({"P"}, game, [] {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        sigprocmask(SIG_BLOCK, &pipe, nullptr);
        raise(SIGPIPE);
    });
    auto box = x.geometry(window);
    EXPECT_EQ(box[2], 512);
    EXPECT_EQ(box[3], 154);
    // The window's grey, and the black disclosure triangle of "Arrow Keys".
    EXPECT_TRUE(pixelBecomes(4, 4, "236,236,236"));
    EXPECT_TRUE(pixelBecomes(108, 112, "0,0,0"));
    // The player takes their time: the start's two seconds for the display
    // are long gone, and nothing may cut the chooser's connection now.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));

    press("Down");
    EXPECT_TRUE(waitUntil([&] { return windowHeight() == 308; })) << "height " << windowHeight();
    // The expanded button's frame, and the triangle glyph on the "^" cap of the
    // opened keyboard (panel at 117, 84; cap at 288, 64; its glyph's base line).
    EXPECT_TRUE(pixelBecomes(103, 56, selectionBlue));
    EXPECT_TRUE(pixelBecomes(117 + 300, 84 + 64 + 12, triangleGlyph));

    press("Return");
    EXPECT_EQ(process->waitForExit(15), exitedWith(0)) << readFile(home.file("stderr"));
    EXPECT_EQ(readFile(controlsFile()), wasdControlsFile);
    EXPECT_EQ(engineArguments(), (Arguments {"P", "-game", "/note"}));
    expectNoOutputBeforeTheGame();
    // The game writes where the caller said, not where the display's
    // connection borrowed standard error.
    std::string inherited = readFile(home.file("inherited"));
    std::size_t streams = inherited.find("descriptors 0rw 1w 2w");
    ASSERT_NE(streams, std::string::npos) << inherited;
    EXPECT_TRUE(inherited[streams + 21] == ' ' || inherited[streams + 21] == '\0') << inherited;
    // Nor does it ignore a signal the caller did not.
    std::string ignored = "ignored";
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) {
        struct sigaction action {};
        if (sigaction(signalNumber, nullptr, &action) == 0 && action.sa_handler == SIG_IGN)
            ignored += " " + std::to_string(signalNumber);
    }
    EXPECT_NE(inherited.find(ignored + '\0'), std::string::npos) << inherited;
    EXPECT_NE(inherited.find("pending " + std::to_string(SIGPIPE) + '\0'), std::string::npos) << inherited;
}

TEST_F(ChooserBundle, ZThenReturnWritesArrowKeys)
{
    startAndFindWindow();
    press("z");
    EXPECT_TRUE(waitUntil([&] { return windowHeight() == 308; }));
    // Arrow Keys opens below its button, panel at 117, 132: the crossing of
    // the cross glyph on its "z" cap at 25, 64.
    EXPECT_TRUE(pixelBecomes(117 + 37, 132 + 64 + 8, crossGlyph));
    press("Return");
    EXPECT_EQ(process->waitForExit(15), exitedWith(0)) << readFile(home.file("stderr"));
    EXPECT_EQ(readFile(controlsFile()), arrowControlsFile);
    EXPECT_EQ(engineArguments(), (Arguments {"P", "-game", "/note"}));
}

TEST_F(ChooserBundle, ChangingTheChoiceBeforeReturnWritesTheLastOne)
{
    startAndFindWindow();
    press("Down");
    press("z");
    press("Return");
    EXPECT_EQ(process->waitForExit(15), exitedWith(0)) << readFile(home.file("stderr"));
    EXPECT_EQ(readFile(controlsFile()), arrowControlsFile);
}

// Panels that were never drawn (below the screen's edge here) take no key
// from the chooser; keys queued behind the finishing Return change nothing.
TEST_F(ChooserBundle, EveryKeyCountsWhereverTheWindowStandsAndNoneAfterTheEnd)
{
    startAndFindWindow();
    ASSERT_TRUE(x.moveWindow(window, 300, 1024 - 100));
    press("z");
    press("Down");
    press("Return");
    EXPECT_EQ(process->waitForExit(15), exitedWith(0)) << readFile(home.file("stderr"));
    EXPECT_EQ(readFile(controlsFile()), wasdControlsFile);

    startAndFindWindow({"P", "-launcher"});
    press("z");
    ASSERT_TRUE(x.pressKeysAtOnce(window, {"Return", "Down", "Return"}));
    EXPECT_EQ(process->waitForExit(15), exitedWith(0)) << readFile(home.file("stderr"));
    EXPECT_EQ(readFile(controlsFile()), arrowControlsFile);
}

TEST_F(ChooserBundle, ReturnBeforeSelectingIsIgnoredAndEscapeEndsWithOne)
{
    startAndFindWindow();
    // Return with nothing selected is ignored: the keys after it still work
    // (events arrive in order) and nothing has been written.
    press("Return");
    press("Down");
    EXPECT_TRUE(waitUntil([&] { return windowHeight() == 308; }));
    EXPECT_TRUE(process->running());
    EXPECT_FALSE(fileExists(controlsFile()));
    press("Escape");
    EXPECT_EQ(process->waitForExit(15), exitedWith(1)) << readFile(home.file("stderr"));
    EXPECT_FALSE(fileExists(controlsFile()));
    EXPECT_FALSE(fileExists(recordFile()));
    expectNoOutputBeforeTheGame();
}

TEST_F(ChooserBundle, CloseButtonEndsWithOneAndWritesNothing)
{
    startAndFindWindow();
    press("Down");
    ASSERT_TRUE(x.requestClose(window));
    EXPECT_EQ(process->waitForExit(15), exitedWith(1)) << readFile(home.file("stderr"));
    EXPECT_FALSE(fileExists(controlsFile()));
    EXPECT_FALSE(fileExists(recordFile()));
}

TEST_F(ChooserBundle, LauncherShowsTheWindowEvenWithAControlsFile)
{
    ASSERT_EQ(std::system(("mkdir -p '" + userFolder() + "'").c_str()), 0);
    writeFile(controlsFile(), arrowControlsFile);
    startAndFindWindow({"P", "-launcher"});
    press("Down");
    press("Return");
    EXPECT_EQ(process->waitForExit(15), exitedWith(0)) << readFile(home.file("stderr"));
    EXPECT_EQ(readFile(controlsFile()), wasdControlsFile);
    EXPECT_EQ(engineArguments(), (Arguments {"P", "-launcher", "-game", "/note"}));

    // The next plain start finds the file and goes straight to the game.
    start({"P"});
    EXPECT_EQ(process->waitForExit(15), exitedWith(0)) << readFile(home.file("stderr"));
    EXPECT_EQ(engineArguments(), (Arguments {"P", "-game", ""}));
}

TEST_F(ChooserBundle, ForcedChooserWithoutAnEngineFolderWritesNothing)
{
    TemporaryFolder copy;
    ASSERT_EQ(std::system(("cp -a '" + bundle + "' '" + copy.path() + "/'").c_str()), 0);
    ASSERT_EQ(unlink((copy.path() + "/Game.app/Contents/Resources/Data/app.info").c_str()), 0);
    startAndFindWindow({"P", "-launcher"}, copy.path() + "/Game.app/Contents/MacOS/Game");
    press("z");
    press("Return");
    EXPECT_EQ(process->waitForExit(15), exitedWith(0)) << readFile(home.file("stderr"));
    EXPECT_FALSE(fileExists(engineConfigFolder(home.path(), home.file("config"))));
    EXPECT_EQ(engineArguments(), (Arguments {"P", "-launcher", "-game", "/note"}));
    expectNoOutputBeforeTheGame();
}

TEST_F(ChooserBundle, LostDisplayEndsWithOneAndPrintsNothing)
{
    // Also while a panel opens, when the chooser writes to the display more
    // than it reads from it.
    for (int delay : {-1, 0, 30, 90}) {
        SCOPED_TRACE("lost " + std::to_string(delay) + " ms after Down");
        XSession lost;
        ASSERT_TRUE(lost.ready()) << "Xvfb did not start";
        start({"P"}, game, false, lost.display());
        window = lost.findWindow(process->pid());
        ASSERT_FALSE(window.empty()) << "no chooser window appeared";
        if (delay >= 0) {
            ASSERT_TRUE(lost.pressKey(window, "Down"));
            usleep(useconds_t(delay) * 1000);
        }
        lost.stopServer();
        EXPECT_EQ(process->waitForExit(15), exitedWith(1));
        EXPECT_EQ(readFile(home.file("stdout")), "");
        expectNoOutputBeforeTheGame();
        EXPECT_FALSE(fileExists(recordFile()));
    }
}

TEST_F(ChooserWithoutDoubleBuffer, DownThenReturnWritesWasdAndPrintsNothing)
{
    startAndFindWindow();
    press("Down");
    EXPECT_TRUE(waitUntil([&] { return windowHeight() == 308; })) << "height " << windowHeight();
    EXPECT_TRUE(pixelBecomes(117 + 300, 84 + 64 + 12, triangleGlyph));
    press("Return");
    EXPECT_EQ(process->waitForExit(15), exitedWith(0)) << readFile(home.file("stderr"));
    EXPECT_EQ(readFile(controlsFile()), wasdControlsFile);
    expectNoOutputBeforeTheGame();
}

// The panel's window may go while it still draws; X's complaints about that
// are no reason to print or to end otherwise.
TEST_F(ChooserBundle, ClosedWhileAPanelOpensEndsWithOneAndPrintsNothing)
{
    for (int delay : {0, 20, 60, 120, 250}) {
        SCOPED_TRACE("closed " + std::to_string(delay) + " ms after Down");
        startAndFindWindow();
        press("Down");
        usleep(useconds_t(delay) * 1000);
        ASSERT_TRUE(x.requestClose(window));
        EXPECT_EQ(process->waitForExit(15), exitedWith(1));
        EXPECT_EQ(readFile(home.file("stdout")), "");
        expectNoOutputBeforeTheGame();
        EXPECT_FALSE(fileExists(controlsFile()));
    }
}

// A display that refuses the bundle is no display: a first start ends as a
// closed chooser would, without a word from Xlib. With standard error closed
// (as some launchers start programs) the refused connection must not take
// its number and get Xlib's words: a normal start still reaches the engine.
TEST_F(ChooserOnAuthorizingServer, RefusedDisplayEndsWithOneAndPrintsNothing)
{
    start({"P"});
    EXPECT_EQ(process->waitForExit(15), exitedWith(1));
    EXPECT_EQ(readFile(home.file("stdout")), "");
    expectNoOutputBeforeTheGame();
    EXPECT_FALSE(fileExists(recordFile()));

    ASSERT_EQ(std::system(("mkdir -p '" + userFolder() + "'").c_str()), 0);
    writeFile(controlsFile(), arrowControlsFile);
    start({"P"}, game, true);
    EXPECT_EQ(process->waitForExit(15), exitedWith(0));
    EXPECT_EQ(engineArguments(), (Arguments {"P", "-game", ""}));
}

// A display that takes no connection at first, as a server resetting after
// its last client: the chooser still comes up, on its one connection. By
// a host name and answering late, as a far forwarded display ("localhost:10").
TEST_F(ChooserBundle, DisplayThatDropsItsFirstConnectionsStillGetsTheChooserOnOne)
{
    DisplayRelay relay(x.display(), 30, -1, 40);
    ASSERT_FALSE(relay.name().empty()) << "no free display port";
    start({"P"}, game, false, "localhost" + relay.name().substr(relay.name().find(':')));
    window = x.findWindow(process->pid());
    ASSERT_FALSE(window.empty()) << "no chooser window appeared";
    EXPECT_EQ(relay.openConnections(), 1);
    press("Down");
    press("Return");
    EXPECT_EQ(process->waitForExit(15), exitedWith(0));
    EXPECT_EQ(readFile(controlsFile()), wasdControlsFile);
    expectNoOutputBeforeTheGame();

    // One that drops every connection is given up after three attempts.
    DisplayRelay dropping(x.display(), 3600 * 1000);
    ASSERT_FALSE(dropping.name().empty()) << "no free display port";
    start({"P", "-launcher"}, game, false, dropping.name());
    EXPECT_EQ(process->waitForExit(15), exitedWith(1));
    EXPECT_EQ(dropping.connectionsMade(), 3);
    expectNoOutputBeforeTheGame();
}

// A display that answers the connection and then stops (a hung server, a
// stalled forwarded display) counts as absent once the start's deadline has
// passed, whatever it stopped at and however many descriptors the start
// inherited; so does a connection FLTK's select loop could not watch.
TEST_F(ChooserBundle, DisplayThatStopsAnsweringCountsAsAbsentWithinTheDeadline)
{
    // The Option-key check's request, the chooser's XOpenDisplay's first after
    // the set-up, the round trip that times the chooser's set-up, and the
    // chooser's first window; -1: a display that answers.
    constexpr int queryPointer = 38, queryExtension = 98, getInputFocus = 43, createWindow = 1;
    // As a launcher or build system that leaves its descriptors open does;
    // with fd 500 free, or none below FD_SETSIZE.
    auto manyDescriptors = [](bool hole) {
        return std::string("for fd in $(seq 3 1102); do eval \"exec $fd</dev/null\"; done; ") +
               (hole ? "exec 500<&-; " : "") + "exec -a P \"$0\" \"$@\"";
    };
    struct Case {
        int silentFrom;
        bool firstStart, inheritsDescriptors, hole;
    };
    for (Case c : {Case {queryPointer, false, false, false}, Case {queryExtension, true, true, true},
                   Case {getInputFocus, true, false, false}, Case {createWindow, true, false, false},
                   Case {-1, true, true, false}, Case {-1, true, true, true}}) {
        SCOPED_TRACE("silent from request " + std::to_string(c.silentFrom) + (c.firstStart ? ", first start" : "") +
                     (c.inheritsDescriptors ? ", 1100 descriptors" : "") + (c.hole ? ", one free" : ""));
        DisplayRelay relay(x.display(), 0, c.silentFrom);
        ASSERT_FALSE(relay.name().empty()) << "no free display port";
        std::remove(recordFile().c_str());
        std::remove(controlsFile().c_str());
        if (!c.firstStart) {
            ASSERT_EQ(std::system(("mkdir -p '" + userFolder() + "'").c_str()), 0);
            writeFile(controlsFile(), arrowControlsFile);
        }
        auto started = std::chrono::steady_clock::now();
        if (c.inheritsDescriptors)
            start({"bash", "-c", manyDescriptors(c.hole), game}, "/bin/bash", false, relay.name());
        else
            start({"P"}, game, false, relay.name());
        bool answers = c.silentFrom < 0 && c.hole;
        if (answers) {
            // The connection takes the free descriptor, which FLTK can watch.
            window = x.findWindow(process->pid());
            ASSERT_FALSE(window.empty()) << "no chooser window appeared";
            press("Down");
            press("Return");
        }
        EXPECT_EQ(process->waitForExit(10), exitedWith(c.firstStart && !answers ? 1 : 0));
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        if (!answers) {
            EXPECT_LT(took.count(), 4.0);
        }
        EXPECT_EQ(engineArguments(), (c.firstStart && !answers ? Arguments {}
                                      : answers            ? Arguments {"P", "-game", "/note"}
                                                           : Arguments {"P", "-game", ""}));
        EXPECT_EQ(fileExists(controlsFile()), !c.firstStart || answers);
        expectNoOutputBeforeTheGame();
    }
}

TEST_F(ChooserOnResettingServer, EveryStartKeepsItsWindowAndPrintsNothing)
{
    for (int run = 0; run < 25 && !HasFatalFailure(); ++run) {
        SCOPED_TRACE("start " + std::to_string(run));
        startAndFindWindow();
        if (HasFatalFailure())
            break;
        ASSERT_TRUE(x.requestClose(window));
        EXPECT_EQ(process->waitForExit(15), exitedWith(1));
        EXPECT_EQ(readFile(home.file("stdout")), "");
        expectNoOutputBeforeTheGame();
    }
}

// A player's way back to the chooser after the first start.
TEST_F(ChooserBundle, AltHeldAtStartReopensTheChooserOnlyWithoutKeyword)
{
    ASSERT_EQ(std::system(("mkdir -p '" + userFolder() + "'").c_str()), 0);
    writeFile(controlsFile(), arrowControlsFile);

    start({"P"});
    EXPECT_EQ(process->waitForExit(15), exitedWith(0)) << readFile(home.file("stderr"));
    EXPECT_EQ(engineArguments(), (Arguments {"P", "-game", ""}));

    for (const char* alt : {"Alt_L", "Alt_R"}) {
        SCOPED_TRACE(alt);
        unlink(recordFile().c_str());
        ASSERT_TRUE(x.holdKey(alt));
        startAndFindWindow({"P"});
        ASSERT_TRUE(x.releaseKey(alt));
        press(std::string(alt) == "Alt_L" ? "Down" : "z");
        press("Return");
        EXPECT_EQ(process->waitForExit(15), exitedWith(0)) << readFile(home.file("stderr"));
        EXPECT_EQ(readFile(controlsFile()), std::string(alt) == "Alt_L" ? wasdControlsFile : arrowControlsFile);
        EXPECT_EQ(engineArguments(), (Arguments {"P", "-game", "/note"}));
    }

    ASSERT_TRUE(x.holdKey("Alt_L"));
    start({"P", "-game"});
    EXPECT_EQ(process->waitForExit(15), exitedWith(0)) << readFile(home.file("stderr"));
    x.releaseKey("Alt_L");
    EXPECT_EQ(engineArguments(), (Arguments {"P", "-game"}));
}

// Each steady state a player sees, pixel by pixel: the window as it opens,
// then each layout chosen with its key, its panel open and its banner faded in.
TEST_F(ChooserBundle, LooksAsItsPicturesShow)
{
    startAndFindWindow();
    expectLooksLike("opened", textAreas(104));
    press("Down");
    expectLooksLike("wasd-chosen", textAreas(264, 84));
    press("z");
    expectLooksLike("arrows-chosen", textAreas(104, 132));
}
