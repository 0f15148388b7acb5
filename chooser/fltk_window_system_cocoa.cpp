#include "fltk_window_system.h"

#include "launcher/platform.h"

#include <FL/x.H>

bool showOnWindowSystem(const std::function<void()>& setUp)
{
    // No "Print Front Window" item of FLTK's own in the application menu.
    Fl_Mac_App_Menu::print = "";
    auto run = [](void* context) { (*static_cast<const std::function<void()>*>(context))(); };
    return askDisplayInTime(run, const_cast<std::function<void()>*>(&setUp));
}
