#pragma once

// Selecting and confirming a scheme, and the two animations that follow:
// the accordion of keyboard panels and the fade-in behind "hit key to start!".

class Fl_Widget;

// Global FLTK handler: a scheme's selection key selects and confirms it,
// Return after a confirmation writes controls.ini and ends the chooser.
int chooserKeyHandler(int event);

// The scheme index as the user data of the radio buttons' callback and of
// the fade's idle callback.
void* schemeCallbackData(long scheme);

// Radio-button callback; data carries the scheme index.
void selectScheme(Fl_Widget* button, void* data);
void confirmScheme(long scheme);

// from..to placed by the eased expansion progress.
int easeValue(int from, int to);

// Idle callbacks; each removes itself when its animation is complete.
void expandStep(void* data);
void fadeStep(void* data);

constexpr float expandRate = 2.0f; // progress per second
constexpr float fadeRate = 3.2f;
constexpr int fullPanelHeight = 160;
constexpr int maximumWindowHeight = 308;
