#pragma once

// How FLTK meets the window system, which differs between its X11 build
// (Linux) and its Cocoa build (macOS); CMake picks the file for the platform.

#include <functional>

// Makes FLTK use the process's one display connection (openDisplay), keeps
// it from adding anything of its own, such as Cocoa's application menu, and
// runs setUp, which shows the window, within the display's deadline. False
// when there is no display to show the chooser on.
bool showOnWindowSystem(const std::function<void()>& setUp);
