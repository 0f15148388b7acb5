#include <gtest/gtest.h>

#include "key_cap_drawing.h"
#include "x_server.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <array>
#include <cstdlib>
#include <memory>

namespace {

using Rgb = std::array<int, 3>;

const Rgb discTop = {126, 126, 126};
const Rgb shadow = {63, 63, 63};

// The caps drawn side by side into an offscreen surface on a real X server,
// then read back, so the glyph colours are checked as they reach the screen.
class RenderedCaps : public ::testing::Test {
protected:
    static constexpr int pitch = 30;
    static constexpr int width = 8 * pitch;
    static constexpr int height = 31;
    static inline std::unique_ptr<XServer> server;
    static inline uchar* pixels = nullptr;

    static void SetUpTestSuite()
    {
        server = std::make_unique<XServer>();
        if (!server->running())
            return;
        setenv("DISPLAY", server->display().c_str(), 1);
        fl_open_display();
        Fl::set_color(FL_BACKGROUND_COLOR, 236, 236, 236);

        void (*caps[8])(int, int, int, int, Fl_Color) = {drawTriangleCap, drawCircleCap,    drawCrossCap,
                                                          drawSquareCap,   drawDpadUpCap,    drawDpadDownCap,
                                                          drawDpadRightCap, drawDpadLeftCap};
        Fl_Offscreen surface = fl_create_offscreen(width, height);
        fl_begin_offscreen(surface);
        fl_color(FL_WHITE);
        fl_rectf(0, 0, width, height);
        for (int i = 0; i < 8; ++i)
            caps[i](i * pitch, 0, 25, height, FL_BACKGROUND_COLOR);
        pixels = fl_read_image(nullptr, 0, 0, width, height);
        fl_end_offscreen();
        fl_delete_offscreen(surface);
    }
    static void TearDownTestSuite()
    {
        delete[] pixels;
        server.reset();
    }

    void SetUp() override { ASSERT_NE(pixels, nullptr) << "nothing was rendered"; }

    static Rgb at(int x, int y)
    {
        const uchar* p = pixels + 3 * (y * width + x);
        return {p[0], p[1], p[2]};
    }

    // The colour at (x, y) of cap i, or at one of its neighbours: thin
    // outlines may fall a pixel either way.
    static bool near(int cap, int x, int y, const Rgb& colour)
    {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (at(cap * pitch + x + dx, y + dy) == colour)
                    return true;
        return false;
    }
};

} // namespace

TEST_F(RenderedCaps, FaceButtonGlyphsInTheirColours)
{
    EXPECT_TRUE(near(0, 12, 12, {0, 255, 228})) << "triangle";
    EXPECT_TRUE(near(1, 12, 3, {255, 89, 119})) << "circle";
    EXPECT_TRUE(near(2, 12, 8, {173, 212, 255})) << "cross";
    EXPECT_TRUE(near(3, 8, 8, {255, 177, 233})) << "square";
    for (int cap = 0; cap < 4; ++cap) {
        EXPECT_EQ(at(cap * pitch + 12, 18), shadow) << "rim of cap " << cap;
        EXPECT_EQ(at(cap * pitch + 3, 15), (Rgb {236, 236, 236})) << "key face of cap " << cap;
    }
    EXPECT_EQ(at(1 * pitch + 12, 8), discTop) << "disc inside the circle";
}

TEST_F(RenderedCaps, PadArmsWithShadowBelow)
{
    EXPECT_EQ(at(4 * pitch + 12, 4), discTop);
    EXPECT_EQ(at(4 * pitch + 12, 19), shadow);
    EXPECT_EQ(at(5 * pitch + 12, 12), discTop);
    EXPECT_EQ(at(5 * pitch + 12, 18), shadow);
    EXPECT_EQ(at(6 * pitch + 16, 8), discTop);
    EXPECT_EQ(at(6 * pitch + 16, 18), shadow);
    EXPECT_EQ(at(7 * pitch + 8, 8), discTop);
    EXPECT_EQ(at(7 * pitch + 8, 18), shadow);
}
