#pragma once

// The chooser's own box and label types: scheme buttons with disclosure
// triangles, the gift picture, gamepad key caps and hint labels with arrows.

#include <FL/Enumerations.H>

struct Fl_Label;

static_assert(FL_FREE_BOXTYPE == 56, "the chooser's box type numbers need an FLTK whose FL_FREE_BOXTYPE is 56");
static_assert(FL_FREE_LABELTYPE == 8, "the chooser's label type numbers need an FLTK whose FL_FREE_LABELTYPE is 8");

// Not constexpr: the key caps' numbers (68 to 82) lie past Fl_Boxtype's
// enumerators, which clang 16 and later refuse in a constant expression.
inline const Fl_Boxtype SCHEME_BUTTON_BOX = Fl_Boxtype(FL_FREE_BOXTYPE + 0);
inline const Fl_Boxtype SCHEME_BUTTON_DOWN_BOX = Fl_Boxtype(FL_FREE_BOXTYPE + 1);
inline const Fl_Boxtype GIFT_PICTURE_BOX = Fl_Boxtype(FL_FREE_BOXTYPE + 2);
inline const Fl_Boxtype TRIANGLE_CAP_BOX = Fl_Boxtype(FL_FREE_BOXTYPE + 12);
inline const Fl_Boxtype CIRCLE_CAP_BOX = Fl_Boxtype(FL_FREE_BOXTYPE + 14);
inline const Fl_Boxtype CROSS_CAP_BOX = Fl_Boxtype(FL_FREE_BOXTYPE + 16);
inline const Fl_Boxtype SQUARE_CAP_BOX = Fl_Boxtype(FL_FREE_BOXTYPE + 18);
inline const Fl_Boxtype DPAD_UP_CAP_BOX = Fl_Boxtype(FL_FREE_BOXTYPE + 20);
inline const Fl_Boxtype DPAD_RIGHT_CAP_BOX = Fl_Boxtype(FL_FREE_BOXTYPE + 22);
inline const Fl_Boxtype DPAD_DOWN_CAP_BOX = Fl_Boxtype(FL_FREE_BOXTYPE + 24);
inline const Fl_Boxtype DPAD_LEFT_CAP_BOX = Fl_Boxtype(FL_FREE_BOXTYPE + 26);

// Corner of the label's box where the hint arrow's head sits.
enum HintDirection { HINT_DOWN_RIGHT = 0, HINT_DOWN_LEFT = 1, HINT_UP_LEFT = 2, HINT_UP_RIGHT = 3 };
constexpr int HINT_ARROW_LABEL = FL_FREE_LABELTYPE;

constexpr int giftSegmentCount = 70;
// End points (x0, y0, x1, y1) as fractions of the box's width and height.
extern const float giftPictureSegments[giftSegmentCount][4];

void drawSchemeButtonBox(int x, int y, int w, int h, Fl_Color c);
void drawSchemeButtonDownBox(int x, int y, int w, int h, Fl_Color c);
void drawGiftPictureBox(int x, int y, int w, int h, Fl_Color c);
void drawButtonCapBase(int x, int y, int w, int h, Fl_Color c);
void drawTriangleCap(int x, int y, int w, int h, Fl_Color c);
void drawCircleCap(int x, int y, int w, int h, Fl_Color c);
void drawCrossCap(int x, int y, int w, int h, Fl_Color c);
void drawSquareCap(int x, int y, int w, int h, Fl_Color c);
void drawDpadUpCap(int x, int y, int w, int h, Fl_Color c);
void drawDpadRightCap(int x, int y, int w, int h, Fl_Color c);
void drawDpadDownCap(int x, int y, int w, int h, Fl_Color c);
void drawDpadLeftCap(int x, int y, int w, int h, Fl_Color c);
void drawHintArrowLabel(const Fl_Label* label, int x, int y, int w, int h, HintDirection direction);

// Hands all fifteen types to FLTK; the window does this before building widgets.
void registerChooserTypes();
