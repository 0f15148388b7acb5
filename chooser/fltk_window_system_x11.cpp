#include "fltk_window_system.h"

#include "launcher/platform.h"

#include <FL/x.H>

bool connectFltkToWindowSystem()
{
    if (!openDisplay())
        return false;
    // The connection the Option-key check opened: a second one could make a
    // resetting X server lose the window.
    fl_open_display(static_cast<Display*>(displayConnection()));
    return true;
}
