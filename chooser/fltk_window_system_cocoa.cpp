#include "fltk_window_system.h"

#include "launcher/platform.h"

#include <FL/x.H>

bool connectFltkToWindowSystem()
{
    // No "Print Front Window" item of FLTK's own in the application menu.
    Fl_Mac_App_Menu::print = "";
    return openDisplay();
}
