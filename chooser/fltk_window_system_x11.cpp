#include "fltk_window_system.h"

#include "launcher/platform.h"

#include <FL/x.H>

bool showOnWindowSystem(const std::function<void()>& setUp)
{
    // The connection the Option-key check opened: a second one could make a
    // resetting X server lose the window.
    auto connectAndSetUp = [](void* context) {
        fl_open_display(static_cast<Display*>(displayConnection()));
        (*static_cast<const std::function<void()>*>(context))();
    };
    return askDisplayInTime(connectAndSetUp, const_cast<std::function<void()>*>(&setUp));
}
