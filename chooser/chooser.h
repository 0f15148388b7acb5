#pragma once

// Shows "Select Control Scheme" until the player confirms a layout (0, and
// controls.ini has been written) or closes the window (1, also where no
// display answers).
int runChooser();

// The same, where the Option key (Alt on Linux) is held at start, the
// player's way back to the chooser; -1 where it is not.
int runChooserIfOptionHeld();

// FLTK's warnings and errors print nothing; a fatal error ends the process
// with 1, as a chooser closed without confirming.
void silenceFltkMessages();

// Fixes FLTK's options without consulting its preference files.
void applyChooserOptions();
