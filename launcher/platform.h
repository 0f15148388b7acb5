#pragma once

// The few operating-system services the launcher needs that differ between
// macOS (the shipping target) and Linux (where we develop and test).

#include <cstdint>

// Brings the application to the front once it has finished launching.
// A no-op where no Cocoa application exists.
void registerActivationObserver();

// Lets the game that a confirmed chooser relaunches into come to the front
// (macOS 14's cooperative activation); a no-op elsewhere.
void yieldActivationToRelaunch();

// The running executable's path, with _NSGetExecutablePath's contract: with a
// buffer too small (or null) it stores the size needed, NUL included, in
// *size and returns -1; otherwise it fills the buffer and returns 0.
int executablePath(char* buffer, std::uint32_t* size);

// Opens the process's one connection to the window system, kept for the
// chooser to hand to FLTK: a probe connection closed first could be the X
// server's last client and make it reset under FLTK. False when there is no
// display; on macOS always true, as Cocoa connects by itself.
bool openDisplay();

// The connection openDisplay made (an X Display* on Linux), or null.
void* displayConnection();

// Runs ask(context), which talks to the display, within what is left of the one
// deadline that a start gives the display (connecting included), and waits
// for the display to have answered all of it. A display that stops
// answering ends the process with 1, silently, as a chooser closed without
// confirming; false when there is no display, or the deadline passed just
// as ask finished (the display then counts as absent). On macOS: ask, true.
bool askDisplayInTime(void (*ask)(void*), void* context);

// Whether the Option key (Alt on Linux) is held down right now; false when
// no display can be reached, or it does not answer within the deadline.
// Opens the display the chooser would use.
bool optionKeyHeld();
