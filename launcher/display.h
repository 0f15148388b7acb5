#pragma once

// Where the chooser is shown: a Mac's window server, or on Linux an X
// display, which may take the connection and then never answer (a hung
// server, a stale forwarded display) and must not hold a start up.

// Runs chooser, which shows its window, calls windowShown() once it is up
// and returns its result. 1, as a chooser closed, where no display answers
// in time; -1, without running it, where onlyIfOptionHeld and the Option
// key (Alt on Linux) is not held. On Linux chooser runs in a process of its
// own, so that a display that stops answering is left behind whole.
int runOnDisplay(int (*chooser)(), bool onlyIfOptionHeld);

// From the chooser: its window is up, and the player takes the time they need.
void windowShown();

// The connection to hand FLTK (an X Display*), or null.
void* displayConnection();
