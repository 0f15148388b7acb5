#include "key_cap_drawing.h"

#include <FL/Fl.H>
#include <FL/Fl_Image.H>
#include <FL/fl_draw.H>

// Stored as k/88 rounded to six decimals; drawn in a square box they outline
// a wrapped present with its lid, ribbon and bow.
const float giftPictureSegments[giftSegmentCount][4] = {
    {0.772727f, 0.829545f, 0.943182f, 0.738636f},
    {0.0f, 0.215909f, 0.0f, 0.340909f},
    {1.0f, 0.340909f, 1.0f, 0.215909f},
    {0.295455f, 0.363636f, 0.5f, 0.465909f},
    {0.670455f, 0.090909f, 0.5f, 0.022727f},
    {0.818182f, 0.306818f, 1.0f, 0.215909f},
    {0.818182f, 0.431818f, 1.0f, 0.340909f},
    {0.113636f, 0.170455f, 0.0f, 0.215909f},
    {0.0f, 0.215909f, 0.181818f, 0.306818f},
    {0.0f, 0.340909f, 0.181818f, 0.431818f},
    {0.181818f, 0.306818f, 0.181818f, 0.431818f},
    {0.181818f, 0.306818f, 0.295455f, 0.363636f},
    {0.181818f, 0.431818f, 0.295455f, 0.488636f},
    {1.0f, 0.215909f, 0.886364f, 0.170455f},
    {0.295455f, 0.363636f, 0.295455f, 0.488636f},
    {0.5f, 0.465909f, 0.704545f, 0.363636f},
    {0.943182f, 0.738636f, 0.943182f, 0.352273f},
    {0.181818f, 0.306818f, 0.386364f, 0.215909f},
    {0.295455f, 0.363636f, 0.5f, 0.261364f},
    {0.5f, 0.261364f, 0.386364f, 0.215909f},
    {0.704545f, 0.363636f, 0.704545f, 0.488636f},
    {0.704545f, 0.363636f, 0.5f, 0.261364f},
    {0.704545f, 0.363636f, 0.818182f, 0.306818f},
    {0.704545f, 0.488636f, 0.818182f, 0.431818f},
    {0.5f, 0.261364f, 0.613636f, 0.215909f},
    {0.5f, 0.022727f, 0.329545f, 0.090909f},
    {0.818182f, 0.306818f, 0.818182f, 0.431818f},
    {0.818182f, 0.306818f, 0.613636f, 0.215909f},
    {0.056818f, 0.352273f, 0.056818f, 0.738636f},
    {0.318182f, 0.875f, 0.5f, 0.965909f},
    {0.5f, 0.965909f, 0.5f, 0.590909f},
    {0.5f, 0.590909f, 0.5f, 0.465909f},
    {0.295455f, 0.488636f, 0.5f, 0.590909f},
    {0.5f, 0.590909f, 0.704545f, 0.488636f},
    {0.056818f, 0.738636f, 0.227273f, 0.829545f},
    {0.227273f, 0.829545f, 0.227273f, 0.443182f},
    {0.227273f, 0.829545f, 0.318182f, 0.875f},
    {0.318182f, 0.875f, 0.318182f, 0.5f},
    {0.5f, 0.965909f, 0.681818f, 0.875f},
    {0.681818f, 0.875f, 0.681818f, 0.488636f},
    {0.681818f, 0.875f, 0.772727f, 0.829545f},
    {0.772727f, 0.829545f, 0.772727f, 0.443182f},
    {0.431818f, 0.25f, 0.147727f, 0.25f},
    {0.147727f, 0.25f, 0.113636f, 0.215909f},
    {0.545455f, 0.147727f, 0.738636f, 0.045455f},
    {0.852273f, 0.25f, 0.886364f, 0.215909f},
    {0.852273f, 0.25f, 0.568182f, 0.25f},
    {0.886364f, 0.159091f, 0.886364f, 0.215909f},
    {0.181818f, 0.159091f, 0.181818f, 0.181818f},
    {0.181818f, 0.181818f, 0.204545f, 0.204545f},
    {0.113636f, 0.215909f, 0.113636f, 0.159091f},
    {0.818182f, 0.181818f, 0.795455f, 0.204545f},
    {0.795455f, 0.204545f, 0.681818f, 0.204545f},
    {0.261364f, 0.045455f, 0.454545f, 0.147727f},
    {0.818182f, 0.159091f, 0.818182f, 0.181818f},
    {0.204545f, 0.204545f, 0.318182f, 0.204545f},
    {0.818182f, 0.159091f, 0.784091f, 0.159091f},
    {0.113636f, 0.159091f, 0.147727f, 0.102273f},
    {0.147727f, 0.102273f, 0.193182f, 0.045455f},
    {0.193182f, 0.045455f, 0.261364f, 0.045455f},
    {0.454545f, 0.147727f, 0.545455f, 0.147727f},
    {0.738636f, 0.045455f, 0.806818f, 0.045455f},
    {0.806818f, 0.045455f, 0.852273f, 0.102273f},
    {0.852273f, 0.102273f, 0.886364f, 0.159091f},
    {0.568182f, 0.25f, 0.556818f, 0.261364f},
    {0.556818f, 0.261364f, 0.443182f, 0.261364f},
    {0.443182f, 0.261364f, 0.431818f, 0.25f},
    {0.681818f, 0.204545f, 0.784091f, 0.159091f},
    {0.215909f, 0.159091f, 0.181818f, 0.159091f},
    {0.215909f, 0.159091f, 0.318182f, 0.204545f},
};

namespace {

const Fl_Color buttonTopColor = fl_rgb_color(126, 126, 126);
const Fl_Color buttonRimColor = fl_rgb_color(63, 63, 63);
const Fl_Color triangleGlyphColor = fl_rgb_color(0, 255, 228);
const Fl_Color circleGlyphColor = fl_rgb_color(255, 89, 119);
const Fl_Color crossGlyphColor = fl_rgb_color(173, 212, 255);
const Fl_Color squareGlyphColor = fl_rgb_color(255, 177, 233);
constexpr Fl_Color giftLineColor = 40;

int centreX(int x, int w)
{
    return x + w / 2;
}

// The cap itself: the same raised box and rectangle that plain keys get.
void drawRaisedCap(int x, int y, int w, int h, Fl_Color c)
{
    fl_draw_box(FL_UP_BOX, x, y + 6, w, h - 6, c);
}

// Single precision, in this order, so that every segment lands on the same
// pixels wherever it is drawn.
int giftCoordinate(float fraction, int origin, int size)
{
    float position = fraction * static_cast<float>(size);
    position = position + static_cast<float>(origin);
    position = position + 0.5f;
    return static_cast<int>(position);
}

void drawHintDownRight(const Fl_Label* label, int x, int y, int w, int h, Fl_Align)
{
    drawHintArrowLabel(label, x, y, w, h, HINT_DOWN_RIGHT);
}

void drawHintDownLeft(const Fl_Label* label, int x, int y, int w, int h, Fl_Align)
{
    drawHintArrowLabel(label, x, y, w, h, HINT_DOWN_LEFT);
}

void drawHintUpLeft(const Fl_Label* label, int x, int y, int w, int h, Fl_Align)
{
    drawHintArrowLabel(label, x, y, w, h, HINT_UP_LEFT);
}

void drawHintUpRight(const Fl_Label* label, int x, int y, int w, int h, Fl_Align)
{
    drawHintArrowLabel(label, x, y, w, h, HINT_UP_RIGHT);
}

} // namespace

void drawSchemeButtonBox(int x, int y, int w, int h, Fl_Color c)
{
    fl_color(c);
    fl_rectf(x, y, w, h);
    fl_color(FL_FOREGROUND_COLOR);
    fl_polygon(x + 3, y + 1, x + 10, y + 8, x + 3, y + 15);
}

void drawSchemeButtonDownBox(int x, int y, int w, int h, Fl_Color c)
{
    fl_color(c);
    fl_rectf(x, y, w, h);
    fl_color(FL_SELECTION_COLOR);
    fl_rect(x, y, w, h);
    fl_color(FL_FOREGROUND_COLOR);
    fl_polygon(x, y + 4, x + 7, y + 11, x + 14, y + 4);
}

void drawGiftPictureBox(int x, int y, int w, int h, Fl_Color c)
{
    fl_color(c);
    fl_rectf(x, y, w, h);
    fl_color(giftLineColor);
    for (const auto& segment : giftPictureSegments) {
        fl_line(giftCoordinate(segment[0], x, w), giftCoordinate(segment[1], y, h),
                giftCoordinate(segment[2], x, w), giftCoordinate(segment[3], y, h));
    }
}

void drawButtonCapBase(int x, int y, int w, int h, Fl_Color c)
{
    int cx = centreX(x, w);
    drawRaisedCap(x, y, w, h, c);
    fl_color(buttonRimColor);
    fl_pie(cx - 8, y, 17, 19, 180, 360);
    fl_color(buttonTopColor);
    fl_pie(cx - 8, y, 17, 17, 0, 360);
}

void drawTriangleCap(int x, int y, int w, int h, Fl_Color c)
{
    int cx = centreX(x, w);
    drawButtonCapBase(x, y, w, h, c);
    fl_color(triangleGlyphColor);
    fl_loop(cx - 5, y + 12, cx, y + 2, cx + 5, y + 12);
}

void drawCircleCap(int x, int y, int w, int h, Fl_Color c)
{
    int cx = centreX(x, w);
    drawButtonCapBase(x, y, w, h, c);
    fl_color(circleGlyphColor);
    fl_circle(static_cast<double>(cx), static_cast<double>(y + 8), 5.0);
}

void drawCrossCap(int x, int y, int w, int h, Fl_Color c)
{
    int cx = centreX(x, w);
    drawButtonCapBase(x, y, w, h, c);
    fl_color(crossGlyphColor);
    fl_line(cx - 4, y + 4, cx + 4, y + 12);
    fl_line(cx + 4, y + 4, cx - 4, y + 12);
}

void drawSquareCap(int x, int y, int w, int h, Fl_Color c)
{
    int cx = centreX(x, w);
    drawButtonCapBase(x, y, w, h, c);
    fl_color(squareGlyphColor);
    fl_loop(cx - 4, y + 4, cx - 4, y + 12, cx + 4, y + 12, cx + 4, y + 4);
}

// Each pad arm points at the pad's centre; its shadow shows below it.
void drawDpadUpCap(int x, int y, int w, int h, Fl_Color c)
{
    int cx = centreX(x, w);
    drawRaisedCap(x, y, w, h, c);
    fl_color(buttonRimColor);
    fl_rectf(cx - 7, y, 15, 11);
    fl_polygon(cx - 8, y + 10, cx + 8, y + 10, cx, y + 20);
    fl_color(buttonTopColor);
    fl_rectf(cx - 7, y, 15, 9);
    fl_polygon(cx - 8, y + 8, cx + 8, y + 8, cx, y + 17);
}

void drawDpadDownCap(int x, int y, int w, int h, Fl_Color c)
{
    int cx = centreX(x, w);
    drawRaisedCap(x, y, w, h, c);
    fl_color(buttonRimColor);
    fl_rectf(cx - 7, y + 8, 15, 11);
    fl_color(buttonTopColor);
    fl_polygon(cx - 8, y + 8, cx + 8, y + 8, cx, y - 1);
    fl_rectf(cx - 7, y + 8, 15, 9);
}

void drawDpadRightCap(int x, int y, int w, int h, Fl_Color c)
{
    int cx = centreX(x, w);
    drawRaisedCap(x, y, w, h, c);
    fl_color(buttonRimColor);
    fl_polygon(cx - 8, y + 10, cx, y + 1, cx, y + 19);
    fl_rectf(cx, y, 8, 19);
    fl_color(buttonTopColor);
    fl_polygon(cx - 8, y + 8, cx, y - 1, cx, y + 17);
    fl_rectf(cx, y, 8, 17);
}

void drawDpadLeftCap(int x, int y, int w, int h, Fl_Color c)
{
    int cx = centreX(x, w);
    drawRaisedCap(x, y, w, h, c);
    fl_color(buttonRimColor);
    fl_rectf(cx - 7, y, 8, 19);
    fl_polygon(cx, y + 1, cx + 8, y + 10, cx, y + 19);
    fl_color(buttonTopColor);
    fl_rectf(cx - 7, y, 8, 17);
    fl_polygon(cx, y - 1, cx + 8, y + 8, cx, y + 17);
}

void drawHintArrowLabel(const Fl_Label* label, int x, int y, int w, int h, HintDirection direction)
{
    fl_font(label->font, label->size);
    int tw = 0, th = 0;
    if (label->value)
        fl_measure(label->value, tw, th, 1);
    if (label->image)
        label->image->draw(x, y);
    // An arrow only makes sense leading away from a text.
    if (!label->value)
        return;
    fl_color(label->color);
    fl_draw(label->value, x + w / 2 - tw / 2, y + h / 2 + th / 4);

    int arcW = w - 14 - tw;
    int arcH = h - 7;
    switch (direction) {
    case HINT_DOWN_RIGHT:
        fl_polygon(x + w - 14, y + h - 7, x + w, y + h - 7, x + w - 7, y + h);
        fl_arc(x + tw + 8, y + h / 2, arcW, arcH, 0, 83);
        break;
    case HINT_DOWN_LEFT:
        fl_polygon(x + 15, y + h - 7, x + 1, y + h - 7, x + 8, y + h);
        fl_arc(x + 8, y + h / 2, arcW, arcH, 97, 180);
        break;
    case HINT_UP_LEFT:
        fl_polygon(x + 15, y + 7, x + 1, y + 7, x + 8, y);
        fl_arc(x + 8, y + 7 - h / 2, arcW, arcH, 180, 263);
        break;
    case HINT_UP_RIGHT:
        fl_polygon(x + w - 14, y + 7, x + w, y + 7, x + w - 7, y);
        fl_arc(x + tw + 8, y + 7 - h / 2, arcW, arcH, 277, 360);
        break;
    }
}

void registerChooserTypes()
{
    Fl::set_boxtype(SCHEME_BUTTON_BOX, drawSchemeButtonBox, 14, 0, 0, 0);
    Fl::set_boxtype(SCHEME_BUTTON_DOWN_BOX, drawSchemeButtonDownBox, 14, 0, 0, 0);
    Fl::set_boxtype(GIFT_PICTURE_BOX, drawGiftPictureBox, 0, 0, 0, 0);

    Fl::set_labeltype(Fl_Labeltype(HINT_ARROW_LABEL + HINT_DOWN_RIGHT), drawHintDownRight, nullptr);
    Fl::set_labeltype(Fl_Labeltype(HINT_ARROW_LABEL + HINT_DOWN_LEFT), drawHintDownLeft, nullptr);
    Fl::set_labeltype(Fl_Labeltype(HINT_ARROW_LABEL + HINT_UP_LEFT), drawHintUpLeft, nullptr);
    Fl::set_labeltype(Fl_Labeltype(HINT_ARROW_LABEL + HINT_UP_RIGHT), drawHintUpRight, nullptr);

    Fl::set_boxtype(TRIANGLE_CAP_BOX, drawTriangleCap, 0, 0, 0, 0);
    Fl::set_boxtype(CIRCLE_CAP_BOX, drawCircleCap, 0, 0, 0, 0);
    Fl::set_boxtype(CROSS_CAP_BOX, drawCrossCap, 0, 0, 0, 0);
    Fl::set_boxtype(SQUARE_CAP_BOX, drawSquareCap, 0, 0, 0, 0);
    Fl::set_boxtype(DPAD_UP_CAP_BOX, drawDpadUpCap, 0, 0, 0, 0);
    Fl::set_boxtype(DPAD_RIGHT_CAP_BOX, drawDpadRightCap, 0, 0, 0, 0);
    Fl::set_boxtype(DPAD_DOWN_CAP_BOX, drawDpadDownCap, 0, 0, 0, 0);
    Fl::set_boxtype(DPAD_LEFT_CAP_BOX, drawDpadLeftCap, 0, 0, 0, 0);
}
