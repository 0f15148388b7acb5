#pragma once

// Writes the confirmed scheme's bindings as controls.ini in the engine's
// per-user data folder. Either the complete file replaces any earlier one, or
// nothing changes; failures are silent (the player is simply asked again on
// the next start). A link is followed, an existing file keeps its permissions
// and is left alone when this user may not write it. Writes nothing unless
// the engine has been set up.
void writeControlsFile(int scheme);

// The key name written for a label: arrow glyphs become "leftarrow" etc.
const char* controlsKeyName(const char* label);
