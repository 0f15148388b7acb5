#include "fltk_window_system.h"

#include "launcher/display.h"

#include <FL/x.H>

void attachFltkToWindowSystem()
{
    // The connection that answered within the start's deadline.
    fl_open_display(static_cast<Display*>(displayConnection()));
}
