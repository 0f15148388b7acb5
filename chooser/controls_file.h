#pragma once

// Writes the confirmed scheme's bindings as controls.ini in the engine's
// per-user data folder, whole or not at all, silently (the player is asked
// again on the next start); nothing unless the engine has been set up.
void writeControlsFile(int scheme);

// The key name written for a label: arrow glyphs become "leftarrow" etc.
const char* controlsKeyName(const char* label);
