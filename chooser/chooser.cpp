#include "chooser.h"

#include "chooser_state.h"
#include "chooser_window.h"
#include "fltk_window_system.h"
#include "key_cap_drawing.h"
#include "launcher/display.h"
#include "scheme_selection.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>

#include <unistd.h>

// FLTK keeps its option table private and would fill it from its preference
// files on first use. An explicit instantiation may name private members, so
// this template hands their addresses out at program start.
namespace {
unsigned char* fltkOptions = nullptr;
unsigned char* fltkOptionsRead = nullptr;
} // namespace

template <unsigned char (*Options)[Fl::OPTION_LAST], unsigned char* OptionsRead>
struct grab_private_options {
    struct Constructor {
        Constructor()
        {
            fltkOptions = *Options;
            fltkOptionsRead = OptionsRead;
        }
    };
    static Constructor ctor;
};
template <unsigned char (*Options)[Fl::OPTION_LAST], unsigned char* OptionsRead>
typename grab_private_options<Options, OptionsRead>::Constructor grab_private_options<Options, OptionsRead>::ctor;
template struct grab_private_options<&Fl::options_, &Fl::options_read_>;

namespace {

void ignoreMessage(const char*, ...) {}

// A lost X connection or another fatal error: as if the window were closed.
void endAsClosed(const char*, ...)
{
    _exit(1);
}

// The window's whole life: shown collapsed, then FLTK's loop until the player
// confirms a layout with Return (0) or closes the window (1).
int showChooser()
{
    silenceFltkMessages();
    applyChooserOptions();
    attachFltkToWindowSystem();
    Fl::visual(FL_DOUBLE);
    registerChooserTypes();
    Fl_Double_Window* window = buildChooserWindow(Fl::w(), Fl::h());
    window->resize(window->x(), window->y(), 512, 154);
    window->show();
    chooserState.schemePanel[0]->hide();
    chooserState.schemePanel[1]->hide();
    windowShown();

    Fl::add_handler(chooserKeyHandler);
    Fl::set_color(FL_BACKGROUND_COLOR, 236, 236, 236);
    Fl::set_color(FL_FOREGROUND_COLOR, 0, 0, 0);
    Fl::set_color(FL_SELECTION_COLOR, 10, 132, 255);
    Fl::reload_scheme();

    chooserState.running = true;
    while (Fl::wait() && chooserState.running) {
    }
    destroyChooserWindow(window);
    return chooserState.running ? 1 : 0;
}

} // namespace

void silenceFltkMessages()
{
    Fl::warning = ignoreMessage;
    Fl::error = ignoreMessage;
    Fl::fatal = endAsClosed;
}

void applyChooserOptions()
{
    // Arrow focus, visible focus and text drag-and-drop off; tooltips and the
    // GTK file chooser on. Without a visible focus no button takes the keys.
    const unsigned char options[Fl::OPTION_LAST] = {0, 0, 0, 1, 1};
    for (int i = 0; i < Fl::OPTION_LAST; ++i)
        fltkOptions[i] = options[i];
    *fltkOptionsRead = 1;
}

int runChooser()
{
    return runOnDisplay(showChooser, false);
}

int runChooserIfOptionHeld()
{
    return runOnDisplay(showChooser, true);
}
