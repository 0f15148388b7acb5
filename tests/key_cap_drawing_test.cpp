#include <gtest/gtest.h>

#include <array>

#include "drawing_recorder.h"
#include "key_cap_drawing.h"

#include <FL/Fl_Image.H>

using Calls = std::vector<std::string>;

namespace {

const Fl_Color background = FL_BACKGROUND_COLOR;

Calls recordBox(void (*draw)(int, int, int, int, Fl_Color), int x, int y, int w, int h)
{
    DrawingRecorder recorder;
    draw(x, y, w, h, background);
    return recorder.calls;
}

Fl_Label hintLabel(const char* text, Fl_Labeltype type)
{
    Fl_Label label {};
    label.value = text;
    label.font = FL_HELVETICA_ITALIC;
    label.size = 14;
    label.color = FL_FOREGROUND_COLOR;
    label.type = type;
    return label;
}

Calls recordLabel(const Fl_Label& label, int x, int y, int w, int h, Fl_Align align = FL_ALIGN_CENTER,
                  int characterWidth = 7)
{
    DrawingRecorder recorder(characterWidth);
    label.draw(x, y, w, h, align);
    return recorder.calls;
}

class ChooserTypes : public ::testing::Test {
protected:
    static void SetUpTestSuite() { registerChooserTypes(); }
};

} // namespace

TEST_F(ChooserTypes, FaceButtonCapsDrawTheirDiscAndGlyph)
{
    const Calls base = {"box up 0 6 25 25 49", "color rgb 63 63 63", "pie 4 0 17 19 180 360",
                        "color rgb 126 126 126", "pie 4 0 17 17 0 360"};
    auto withGlyph = [&](std::initializer_list<std::string> glyph) {
        Calls calls = base;
        calls.insert(calls.end(), glyph);
        return calls;
    };
    EXPECT_EQ(recordBox(drawTriangleCap, 0, 0, 25, 31), withGlyph({"color rgb 0 255 228", "loop 7 12 12 2 17 12"}));
    EXPECT_EQ(recordBox(drawCircleCap, 0, 0, 25, 31), withGlyph({"color rgb 255 89 119", "circle 12 8 5"}));
    EXPECT_EQ(recordBox(drawCrossCap, 0, 0, 25, 31),
              withGlyph({"color rgb 173 212 255", "line 8 4 16 12", "line 16 4 8 12"}));
    EXPECT_EQ(recordBox(drawSquareCap, 0, 0, 25, 31),
              withGlyph({"color rgb 255 177 233", "loop 8 4 8 12 16 12 16 4"}));
}

TEST_F(ChooserTypes, WideCapCentresItsGlyphAndBoxTypesDrawThroughFltk)
{
    Calls wide = recordBox(drawCircleCap, 0, 0, 75, 31);
    EXPECT_EQ(wide.front(), "box up 0 6 75 25 49");
    EXPECT_EQ(wide.back(), "circle 37 8 5");

    // Registered under their numbers: fl_draw_box on each reaches its function.
    const std::pair<int, void (*)(int, int, int, int, Fl_Color)> caps[] = {
        {68, drawTriangleCap}, {70, drawCircleCap},    {72, drawCrossCap},     {74, drawSquareCap},
        {76, drawDpadUpCap},   {78, drawDpadRightCap}, {80, drawDpadDownCap}, {82, drawDpadLeftCap}};
    for (const auto& [number, draw] : caps) {
        DrawingRecorder recorder;
        fl_draw_box(Fl_Boxtype(number), 288, 96, 25, 31, background);
        EXPECT_EQ(recorder.calls, recordBox(draw, 288, 96, 25, 31)) << number;
    }
    // The scheme buttons' labels 14 px right of the box, beside the triangle;
    // every other type's label where FLTK puts it.
    // As numbers: the custom types lie beyond Fl_Boxtype's enumerators.
    auto insets = [](int number) {
        auto type = Fl_Boxtype(number);
        return std::array<int, 4> {Fl::box_dx(type), Fl::box_dy(type), Fl::box_dw(type), Fl::box_dh(type)};
    };
    EXPECT_EQ(insets(SCHEME_BUTTON_BOX), (std::array<int, 4> {14, 0, 0, 0}));
    EXPECT_EQ(insets(SCHEME_BUTTON_DOWN_BOX), (std::array<int, 4> {14, 0, 0, 0}));
    for (int type : {58, 68, 70, 72, 74, 76, 78, 80, 82})
        EXPECT_EQ(insets(type), (std::array<int, 4> {0, 0, 0, 0})) << type;
}

TEST_F(ChooserTypes, DirectionPadArmsDrawShadowThenArm)
{
    const std::string cap = "box up 0 6 25 25 49", shadow = "color rgb 63 63 63", arm = "color rgb 126 126 126";
    EXPECT_EQ(recordBox(drawDpadUpCap, 0, 0, 25, 31),
              (Calls {cap, shadow, "rectf 5 0 15 11", "polygon 4 10 20 10 12 20", arm, "rectf 5 0 15 9",
                      "polygon 4 8 20 8 12 17"}));
    EXPECT_EQ(recordBox(drawDpadDownCap, 0, 0, 25, 31),
              (Calls {cap, shadow, "rectf 5 8 15 11", arm, "polygon 4 8 20 8 12 -1", "rectf 5 8 15 9"}));
    EXPECT_EQ(recordBox(drawDpadRightCap, 0, 0, 25, 31),
              (Calls {cap, shadow, "polygon 4 10 12 1 12 19", "rectf 12 0 8 19", arm, "polygon 4 8 12 -1 12 17",
                      "rectf 12 0 8 17"}));
    EXPECT_EQ(recordBox(drawDpadLeftCap, 0, 0, 25, 31),
              (Calls {cap, shadow, "rectf 5 0 8 19", "polygon 12 1 20 10 12 19", arm, "rectf 5 0 8 17",
                      "polygon 12 -1 20 8 12 17"}));
}

TEST_F(ChooserTypes, SchemeButtonsCollapsedAndExpanded)
{
    DrawingRecorder recorder;
    drawSchemeButtonBox(103, 56, 395, 20, FL_BACKGROUND_COLOR);
    drawSchemeButtonDownBox(103, 56, 395, 20, FL_SELECTION_COLOR);
    EXPECT_EQ(recorder.calls, (Calls {"color 49", "rectf 103 56 395 20", "color 0", "polygon 106 57 113 64 106 71",
                                      "color 15", "rectf 103 56 395 20", "color 15", "rect 103 56 395 20",
                                      "color 0", "polygon 103 60 110 67 117 60"}));
}

TEST_F(ChooserTypes, GiftPictureLinesLandOnTheSamePixels)
{
    Calls calls = recordBox(drawGiftPictureBox, 16, 40, 64, 64);
    ASSERT_EQ(calls.size(), 3u + giftSegmentCount);
    EXPECT_EQ(calls[0], "color 49");
    EXPECT_EQ(calls[1], "rectf 16 40 64 64");
    EXPECT_EQ(calls[2], "color 40");
    EXPECT_EQ(calls[3], "line 65 93 76 87");
    EXPECT_EQ(calls[4], "line 16 54 16 62");
    // A fraction of 1 lands one column past the box.
    EXPECT_EQ(calls[5], "line 80 62 80 54");
    EXPECT_FLOAT_EQ(giftPictureSegments[0][0], 0.772727f);
    EXPECT_FLOAT_EQ(giftPictureSegments[1][1], 0.215909f);
    EXPECT_EQ(giftPictureSegments[69][3], 0.204545f);
}

TEST_F(ChooserTypes, StartBannerLabelDrawsImageTextAndArrow)
{
    static unsigned char pixels[140 * 32 * 4] = {};
    Fl_RGB_Image image(pixels, 140, 32, 4);
    // 17 characters of 7 px: tw 119, th 14.
    Fl_Label label = hintLabel("hit key to start!", Fl_Labeltype(HINT_ARROW_LABEL + HINT_DOWN_RIGHT));
    label.image = &image;
    Calls calls = recordLabel(label, 176, 0, 163, 38);
    EXPECT_EQ(calls, (Calls {"font 2 14", "image 176 0 140 32", "color 0", "draw \"hit key to start!\" 198 22",
                             "polygon 325 31 339 31 332 38", "arc 303 19 30 31 0 83"}));

    // A text as wide as the space for the arc leaves the arc empty.
    label.value = "!";
    EXPECT_EQ(recordLabel(label, 176, 0, 163, 38, FL_ALIGN_CENTER, 149).back(), "arc 333 19 0 31 0 83");
    EXPECT_EQ(recordLabel(label, 176, 0, 163, 38, FL_ALIGN_CENTER, 148).back(), "arc 332 19 1 31 0 83");
}

TEST_F(ChooserTypes, HintLabelsPointAtTheirCornerWhateverTheAlignment)
{
    // 29 characters of 7 px: tw 203.
    // By their fixed numbers: 8 + the direction.
    Fl_Label upRight = hintLabel("hit key to select this layout", Fl_Labeltype(11));
    Calls calls = recordLabel(upRight, 48, 122, 259, 58);
    EXPECT_EQ(calls, (Calls {"font 2 14", "color 0", "draw \"hit key to select this layout\" 76 154",
                             "polygon 293 129 307 129 300 122", "arc 259 100 42 51 277 360"}));
    EXPECT_EQ(recordLabel(upRight, 48, 122, 259, 58, FL_ALIGN_LEFT | FL_ALIGN_TOP), calls);

    Fl_Label upLeft = hintLabel("hit key to select this layout", Fl_Labeltype(10));
    Calls left = recordLabel(upLeft, 29, 90, 256, 122);
    EXPECT_EQ(left[3], "polygon 44 97 30 97 37 90");
    EXPECT_EQ(left[4], "arc 37 36 39 115 180 263");

    Fl_Label downLeft = hintLabel("x", Fl_Labeltype(9));
    Calls down = recordLabel(downLeft, 0, 0, 100, 40);
    EXPECT_EQ(down[3], "polygon 15 33 1 33 8 40");
    EXPECT_EQ(down[4], "arc 8 20 79 33 97 180");
}
