#pragma once

// Building the "Select Control Scheme" window.

#include "control_schemes.h"

class Fl_Double_Window;

// The window, made 512 x 308 and centred on a work area of the given size
// (the chooser shows it 154 high until a panel opens), with both schemes'
// buttons and panels; fills the widget references of chooserState. Not
// shown yet.
Fl_Double_Window* buildChooserWindow(int workAreaWidth, int workAreaHeight);

// Deletes the window with everything in it, banner images included.
void destroyChooserWindow(Fl_Double_Window* window);

// One key cap in the current group (a scheme's scroll area).
void addKeyCap(const KeyCap& key, int x, int y, int widthUnits);
