#pragma once

// The chooser's one process-wide record: what is selected, the animations'
// progress, the panels' visible ranges and the widgets they move.

#include "control_schemes.h"

#include <chrono>
#include <cstdint>

class Fl_Box;
class Fl_Double_Window;
class Fl_Radio_Button;
class Fl_Scroll;

constexpr int bannerWidth = 140;
constexpr int bannerHeight = 32;
constexpr int bannerRowBytes = bannerWidth * 4;

using SteadyTime = std::chrono::time_point<std::chrono::steady_clock, std::chrono::nanoseconds>;

struct ChooserState {
    std::int64_t selectedScheme = -1;
    std::int64_t previousScheme = -1;
    bool confirmed = false;
    bool running = false;
    // Set with the file written: keys queued behind that Return change nothing.
    bool finished = false;
    float expandProgress = 0;
    SteadyTime expandStamp {};
    float fadeProgress = 0;
    SteadyTime fadeStamp {};
    // Visible content rows of each panel: [panelTop, panelBottom).
    std::int32_t panelTop[schemeCount] = {};
    std::int32_t panelBottom[schemeCount] = {};
    std::int32_t panelTopStart[schemeCount] = {};
    std::int32_t panelBottomStart[schemeCount] = {};
    Fl_Radio_Button* schemeButton[schemeCount] = {};
    Fl_Double_Window* schemePanel[schemeCount] = {};
    Fl_Scroll* schemeScroll[schemeCount] = {};
    Fl_Box* selectHint[schemeCount] = {};
    Fl_Box* startBanner[schemeCount] = {};
    // RGBA rows behind "hit key to start!"; they outlive the window.
    unsigned char bannerPixels[schemeCount][bannerRowBytes * bannerHeight] = {};
};

extern ChooserState chooserState;
