#include "chooser_state.h"
#include "chooser_window.h"
#include "key_cap_drawing.h"
#include "scheme_selection.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Image.H>
#include <FL/Fl_Radio_Button.H>
#include <FL/Fl_Scroll.H>

#include <cstdint>

namespace {

constexpr Fl_Color titleGiftLabelColor = 35;
constexpr Fl_Color inactiveKeyLabelColor = 42;

// The glyph cap of each KeyKind from 1 to 8 (returned, never stored: its
// numbers lie past Fl_Boxtype's enumerators); any other kind is plain.
Fl_Boxtype capBoxFor(std::int32_t kind)
{
    switch (kind) {
    case PadLeft: return DPAD_LEFT_CAP_BOX;
    case PadRight: return DPAD_RIGHT_CAP_BOX;
    case PadUp: return DPAD_UP_CAP_BOX;
    case PadDown: return DPAD_DOWN_CAP_BOX;
    case Triangle: return TRIANGLE_CAP_BOX;
    case Circle: return CIRCLE_CAP_BOX;
    case Square: return SQUARE_CAP_BOX;
    case Cross: return CROSS_CAP_BOX;
    default: return FL_NO_BOX;
    }
}

void addSchemePanel(int scheme, int top)
{
    const ControlScheme& data = controlSchemes[scheme];
    ChooserState& s = chooserState;

    auto* button = new Fl_Radio_Button(103, top + 20, 395, 20, data.name);
    button->box(SCHEME_BUTTON_BOX);
    button->down_box(SCHEME_BUTTON_DOWN_BOX);
    button->align(FL_ALIGN_TOP | FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    button->callback(selectScheme, schemeCallbackData(scheme));

    auto* panel = new Fl_Double_Window(117, top + 48, 395, 160);
    panel->border(0);
    auto* scroll = new Fl_Scroll(0, 0, 395, 160);
    scroll->type(0);
    // A scroll area hides its scrollbars only when it first draws; until
    // then (a panel below the screen's edge or under another window) they
    // would take the arrow keys before the chooser's handler.
    scroll->scrollbar.hide();
    scroll->hscrollbar.hide();

    for (int index = 0; index < keysPerScheme; ++index) {
        KeyPlacement place = keyPlacement(index);
        if (place.widthUnits > 0)
            addKeyCap(data.keys[index], place.x, place.y, place.widthUnits);
    }

    auto* hint = new Fl_Box(data.hintX, data.hintY, data.hintW, data.hintH, "hit key to select this layout");
    hint->box(FL_NO_BOX);
    hint->labeltype(Fl_Labeltype(HINT_ARROW_LABEL + data.hintStyle));
    hint->labelfont(FL_HELVETICA_ITALIC);

    auto* image = new Fl_RGB_Image(s.bannerPixels[scheme], bannerWidth, bannerHeight, 4, 0);
    auto* banner = new Fl_Box(176, 0, 163, 38, "hit key to start!");
    banner->box(FL_NO_BOX);
    banner->labeltype(Fl_Labeltype(HINT_ARROW_LABEL + HINT_DOWN_RIGHT));
    banner->labelfont(FL_HELVETICA_ITALIC);
    banner->image(image);

    panel->end();

    s.schemeButton[scheme] = button;
    s.schemePanel[scheme] = panel;
    s.schemeScroll[scheme] = scroll;
    s.selectHint[scheme] = hint;
    s.startBanner[scheme] = banner;
}

} // namespace

void addKeyCap(const KeyCap& key, int x, int y, int widthUnits)
{
    auto* cap = new Fl_Box(x, y, keyUnitWidth * widthUnits, 31, key.label);
    cap->align(FL_ALIGN_BOTTOM | FL_ALIGN_INSIDE);
    cap->labelfont(FL_COURIER_BOLD);
    if (!key.action)
        cap->labelcolor(inactiveKeyLabelColor);
    Fl_Boxtype glyphBox = capBoxFor(key.kind);
    if (glyphBox != FL_NO_BOX) {
        cap->box(glyphBox);
    } else {
        // Plain caps are shorter and sit lower, level with the glyph caps' keys.
        cap->resize(x, y + 6, cap->w(), 25);
        cap->box(FL_UP_BOX);
    }
}

Fl_Double_Window* buildChooserWindow(int workAreaWidth, int workAreaHeight)
{
    auto* window = new Fl_Double_Window(workAreaWidth / 2 - 256, workAreaHeight / 2 - 154, 512, 308, "");

    auto* title = new Fl_Box(96, 18, 416, 18, "Select Control Scheme");
    title->box(FL_NO_BOX);
    title->labelfont(FL_HELVETICA_BOLD);
    title->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);

    auto* gift = new Fl_Box(16, 40, 64, 64, "?");
    gift->box(GIFT_PICTURE_BOX);
    gift->labelsize(32);
    gift->labelcolor(titleGiftLabelColor);

    auto* schemeColumn = new Fl_Group(96, 36, 416, 272);
    schemeColumn->box(FL_FLAT_BOX);
    for (int scheme = 0; scheme < schemeCount; ++scheme)
        addSchemePanel(scheme, 36 + 48 * scheme);
    schemeColumn->end();
    Fl::visible_focus(0);
    window->end();
    return window;
}

void destroyChooserWindow(Fl_Double_Window* window)
{
    // The banner images are the only things the widget tree does not own.
    for (Fl_Box* banner : chooserState.startBanner) {
        if (Fl_Image* image = banner->image())
            delete image;
    }
    delete window;
}
