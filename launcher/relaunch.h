#pragma once

// Replacing the process image with a fresh run of the executable in "-game" mode.

// The vector P..., "-game", marker, null (array new; the caller owns it).
// With argc of 0 or less the program name is the empty string.
char** buildRelaunchVector(int argc, char** argv, const char* marker);

// execv of the executable itself; returns only on failure, with execv's result.
int relaunchAsGame(char** vector);

// Builds the vector for argv plus "-game" and marker and relaunches; returns
// only when that fails, with execv's result, after releasing the vector.
int relaunchWithMarker(int argc, char** argv, const char* marker);
