// Entry point of the game bundle's executable: decides from the command line
// whether to run the game, the terminal relay or the control-scheme chooser,
// and otherwise relaunches itself in "-game" mode.

#include "engine_interface.h"
#include "platform.h"
#include "relaunch.h"
#include "standard_streams.h"
#include "terminal_relay.h"

#include "chooser/chooser.h"

#include <cstring>

namespace {

enum class LaunchMode { Game, TerminalRelay, ForcedChooser, Default };

constexpr int noChooserShown = -1;

// The last keyword on the line wins; argv[0] is never a keyword.
LaunchMode scanArguments(int argc, char** argv)
{
    for (int i = argc - 1; i >= 1; --i) {
        if (std::strcmp(argv[i], "-game") == 0)
            return LaunchMode::Game;
        if (std::strcmp(argv[i], "-tty") == 0)
            return LaunchMode::TerminalRelay;
        if (std::strcmp(argv[i], "-launcher") == 0)
            return LaunchMode::ForcedChooser;
    }
    return LaunchMode::Default;
}

} // namespace

int main(int argc, char** argv)
{
    occupyClosedStandardStreams();
    registerActivationObserver();

    int chooserResult = noChooserShown;
    switch (scanArguments(argc, argv)) {
    case LaunchMode::Game:
        return PlayerMain(argc, const_cast<const char**>(argv));
    case LaunchMode::TerminalRelay:
        return runTtyRelay(argc, argv);
    case LaunchMode::ForcedChooser:
        // Whatever the first-run test would say; only a set-up engine names
        // the folder controls.ini goes into (if it refuses, none is written).
        setUpEngine();
        chooserResult = runChooser();
        break;
    case LaunchMode::Default:
        // Option held at start is the player's way back to the chooser.
        chooserResult = controlsFileMissing() ? runChooser() : runChooserIfOptionHeld();
        break;
    }
    if (chooserResult > 0)
        return chooserResult;
    if (chooserResult == 0)
        yieldActivationToRelaunch();

    return relaunchWithMarker(argc, argv, chooserResult == 0 ? "/note" : "");
}
