#include "fltk_window_system.h"

#include <FL/x.H>

void attachFltkToWindowSystem()
{
    // No "Print Front Window" item of FLTK's own in the application menu.
    Fl_Mac_App_Menu::print = "";
    // Quit (Cmd-Q, the Dock's, a logout) closes the windows and ends the
    // loop, as closing the window does, instead of FLTK's exit(0) from
    // inside Fl::wait, which would pass for a confirmed choice.
    fl_mac_quit_early = 0;
}
