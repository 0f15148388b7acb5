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
