#pragma once

// How the relay ends: whatever ends it (a signal, the device gone, the
// caller's terminal gone) puts the caller's terminal settings back and leaves
// the device nothing to wait on.

#include <termios.h>

// From here on the relay's ending puts these back: the settings of the
// caller's terminal (read from input), and the device's queue of output.
void endingPutsBack(int device, int input, const termios* inputSettings);

// Signals whose default action ends a process end the relay so, after it puts
// things back; what the caller ignores stays ignored. A hang-up signal makes
// the descriptor returned readable, for the relay's wait to look into.
int watchEndingSignals();

[[noreturn]] void endRelay(int status);
[[noreturn]] void endRelayBySignal(int signalNumber);

// The reader of standard output has gone: by SIGPIPE, as a filter ends
// then, or with 1 where the caller ignores SIGPIPE.
[[noreturn]] void endRelayAsOutputGone();
