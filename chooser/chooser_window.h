#pragma once

// Building the "Select Control Scheme" window.

#include "control_schemes.h"

class Fl_Double_Window;

// The window, 512 x 308, centred on a work area of the given size, with both
// schemes' buttons and panels; fills chooserState's widget references. Not
// shown yet (the chooser shows it 154 high until a panel opens).
Fl_Double_Window* buildChooserWindow(int workAreaWidth, int workAreaHeight);

// Deletes the window with everything in it, banner images included.
void destroyChooserWindow(Fl_Double_Window* window);

// One key cap in the current group (a scheme's scroll area).
void addKeyCap(const KeyCap& key, int x, int y, int widthUnits);
