#pragma once

// How FLTK meets the window system, which differs between its X11 build
// (Linux) and its Cocoa build (macOS); CMake picks the file for the platform.

// Before the window is built: FLTK takes the display the launcher reached,
// and adds nothing of its own that the chooser does not want.
void attachFltkToWindowSystem();
