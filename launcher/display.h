#pragma once

// Where the chooser is shown: a Mac's window server, or on Linux an X
// display, which may take the connection and then never answer (a hung
// server, a stale forwarded display) and must not hold a start up.

// Runs chooser (which calls windowShown() once its window is up) and returns
// its result: 1, as if closed, where no display answers in time; -1, not run,
// where onlyIfOptionHeld and Option (Alt on Linux) is up.
int runOnDisplay(int (*chooser)(), bool onlyIfOptionHeld);

// From the chooser: its window is up, and the player takes the time they need.
void windowShown();

// The connection to hand FLTK (an X Display*), or null.
void* displayConnection();
