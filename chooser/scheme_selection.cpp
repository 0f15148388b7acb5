#include "scheme_selection.h"

#include "chooser_state.h"
#include "controls_file.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Image.H>
#include <FL/Fl_Radio_Button.H>
#include <FL/Fl_Scroll.H>

#include <cstdint>
#include <cstring>

ChooserState chooserState;

namespace {

SteadyTime now()
{
    return std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now());
}

// Progress earned since the stamp, at rate units per second; moves the stamp.
void advance(float& progress, SteadyTime& stamp, float rate)
{
    SteadyTime current = now();
    float seconds = static_cast<float>((current - stamp).count()) / 1e9f;
    progress += rate * seconds;
    stamp = current;
}

long schemeFromData(void* data)
{
    return static_cast<long>(reinterpret_cast<std::intptr_t>(data));
}

void updatePanelRanges(long selected)
{
    ChooserState& s = chooserState;
    // Panels above the selection close from the bottom.
    for (long i = 0; i < selected; ++i)
        s.panelBottom[i] = easeValue(s.panelBottomStart[i], s.panelTopStart[i]);

    bool wasClosed = s.panelTopStart[selected] == s.panelBottomStart[selected];
    if (wasClosed && s.previousScheme >= 0 && s.previousScheme < selected) {
        // Slides in from above, following the panel that closes over it.
        s.panelTop[selected] = easeValue(fullPanelHeight, 0);
        s.panelBottom[selected] = fullPanelHeight;
    } else if (wasClosed) {
        s.panelTop[selected] = 0;
        s.panelBottom[selected] = easeValue(0, fullPanelHeight);
    } else {
        s.panelTop[selected] = easeValue(s.panelTopStart[selected], 0);
        s.panelBottom[selected] = easeValue(s.panelBottomStart[selected], fullPanelHeight);
    }

    // Panels below it close by scrolling their content up.
    for (long i = selected + 1; i < schemeCount; ++i)
        s.panelTop[i] = easeValue(s.panelTopStart[i], s.panelBottomStart[i]);
}

// Stacks buttons and panels; returns the height the column needs.
int layOutColumn()
{
    ChooserState& s = chooserState;
    int y = 0;
    for (int i = 0; i < schemeCount; ++i) {
        int visible = s.panelBottom[i] - s.panelTop[i];
        s.schemeScroll[i]->scroll_to(0, s.panelTop[i]);
        Fl_Widget* button = s.schemeButton[i];
        button->resize(button->x(), y + 56, button->w(), button->h());
        Fl_Widget* panel = s.schemePanel[i];
        panel->resize(panel->x(), y + 84, panel->w(), visible);
        // A panel is a window of its own: X has no empty pixmap for it.
        if (visible == 0)
            panel->hide();
        y += visible + 48;
    }
    return y;
}

Fl_Widget* topLevelOf(Fl_Widget* widget)
{
    while (widget->parent())
        widget = widget->parent();
    return widget;
}

} // namespace

void* schemeCallbackData(long scheme)
{
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(scheme));
}

int chooserKeyHandler(int event)
{
    if (event != FL_SHORTCUT)
        return 0;
    ChooserState& s = chooserState;
    if (s.finished)
        return 1;
    int key = Fl::event_original_key();

    if (key == FL_Enter) {
        if (!s.confirmed)
            return 0;
        s.finished = true;
        writeControlsFile(static_cast<int>(s.selectedScheme));
        s.running = false;
        return 1;
    }
    if (s.selectedScheme >= 0 && key == controlSchemes[s.selectedScheme].selectKey) {
        if (s.confirmed)
            return 0;
        confirmScheme(static_cast<long>(s.selectedScheme));
        return 1;
    }
    for (long i = 0; i < schemeCount; ++i) {
        if (key != controlSchemes[i].selectKey)
            continue;
        s.schemeButton[i]->setonly();
        selectScheme(s.schemeButton[i], schemeCallbackData(i));
        confirmScheme(i);
        return 1;
    }
    return 0;
}

void selectScheme(Fl_Widget*, void* data)
{
    ChooserState& s = chooserState;
    long scheme = schemeFromData(data);
    if (scheme == s.selectedScheme || s.finished)
        return;
    // A selection while the panels move restarts from where they are, on the
    // registration that is already running.
    if (s.expandProgress <= 0 || s.expandProgress >= 1)
        Fl::add_idle(expandStep, nullptr);
    std::memcpy(s.panelTopStart, s.panelTop, sizeof s.panelTop);
    std::memcpy(s.panelBottomStart, s.panelBottom, sizeof s.panelBottom);
    s.previousScheme = s.selectedScheme;
    s.selectedScheme = scheme;
    s.confirmed = false;
    s.selectHint[scheme]->show();
    s.startBanner[scheme]->hide();
    s.expandStamp = now();
    s.expandProgress = 0;
}

void confirmScheme(long scheme)
{
    ChooserState& s = chooserState;
    s.confirmed = true;
    s.selectHint[scheme]->hide();
    s.startBanner[scheme]->show();
    Fl::add_idle(fadeStep, schemeCallbackData(scheme));
    s.fadeStamp = now();
    s.fadeProgress = 0;
}

int easeValue(int from, int to)
{
    float p = chooserState.expandProgress;
    float c = 2 * p * p;
    if (c > 0.5f)
        c = 4 * p - c - 1;
    return static_cast<int>(static_cast<float>(to - from) * c + static_cast<float>(from) + 0.5f);
}

void expandStep(void*)
{
    ChooserState& s = chooserState;
    advance(s.expandProgress, s.expandStamp, expandRate);
    if (s.expandProgress >= 1) {
        s.expandProgress = 1;
        s.schemePanel[0]->hide();
        s.schemePanel[1]->hide();
        Fl::remove_idle(expandStep, nullptr);
    }

    long selected = static_cast<long>(s.selectedScheme);
    updatePanelRanges(selected);
    int columnHeight = layOutColumn();
    if (s.schemePanel[selected]->h() > 0)
        s.schemePanel[selected]->show();

    // The window grows to fit and never shrinks.
    int height = columnHeight + 52;
    if (height > maximumWindowHeight)
        height = maximumWindowHeight;
    Fl_Widget* window = topLevelOf(s.schemePanel[selected]);
    if (window->h() < height)
        window->resize(window->x(), window->y(), 512, height);
    s.schemePanel[selected]->parent()->redraw();
}

void fadeStep(void* data)
{
    ChooserState& s = chooserState;
    long scheme = schemeFromData(data);
    advance(s.fadeProgress, s.fadeStamp, fadeRate);
    if (s.fadeProgress >= 1) {
        s.fadeProgress = 1;
        Fl::remove_idle(fadeStep, data);
    }

    uchar red, green, blue;
    Fl::get_color(s.schemePanel[scheme]->color(), red, green, blue);
    unsigned char* pixels = s.bannerPixels[scheme];
    // Transparent at the left edge, full at the right, on a quartic ease-out.
    for (int k = 0; k < bannerWidth; ++k) {
        float f = static_cast<float>(k) / -140.0f + 1.0f;
        float alpha = (1.0f - f * f * f * f) * 255.0f * s.fadeProgress;
        unsigned char* pixel = pixels + 4 * k;
        pixel[0] = red;
        pixel[1] = green;
        pixel[2] = blue;
        pixel[3] = static_cast<unsigned char>(static_cast<int>(alpha));
    }
    for (int row = 1; row < bannerHeight; ++row)
        std::memcpy(pixels + row * bannerRowBytes, pixels, bannerRowBytes);

    if (Fl_Image* image = s.startBanner[scheme]->image())
        image->uncache();
    s.schemePanel[scheme]->redraw();
}
