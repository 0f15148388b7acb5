#pragma once

// A graphics driver that records the drawing calls instead of drawing, so the
// custom box and label types can be checked call by call without a display.
// FL_UP_BOX is recorded as one "box up" call rather than its frame lines.

#include <FL/Fl.H>
#include <FL/Fl_Device.H>
#include <FL/Fl_Image.H>
#include <FL/fl_draw.H>

#include <cstdio>
#include <string>
#include <vector>

class DrawingRecorder : public Fl_Graphics_Driver {
public:
    explicit DrawingRecorder(int characterWidth = 7) : characterWidth_(characterWidth)
    {
        previousDriver_ = fl_graphics_driver;
        fl_graphics_driver = this;
        current_ = this;
        Fl::set_boxtype(savedUpBox, FL_UP_BOX);
        Fl::set_boxtype(FL_UP_BOX, recordUpBox, 2, 2, 4, 4);
    }
    ~DrawingRecorder() override
    {
        Fl::set_boxtype(FL_UP_BOX, savedUpBox);
        fl_graphics_driver = previousDriver_;
        current_ = nullptr;
    }

    std::vector<std::string> calls;

    void rect(int x, int y, int w, int h) override { add("rect", {x, y, w, h}); }
    void rectf(int x, int y, int w, int h) override { add("rectf", {x, y, w, h}); }
    void xyline(int x, int y, int x1) override { add("xyline", {x, y, x1}); }
    void yxline(int x, int y, int y1) override { add("yxline", {x, y, y1}); }
    void line(int x, int y, int x1, int y1) override { add("line", {x, y, x1, y1}); }
    void loop(int x0, int y0, int x1, int y1, int x2, int y2) override { add("loop", {x0, y0, x1, y1, x2, y2}); }
    void loop(int x0, int y0, int x1, int y1, int x2, int y2, int x3, int y3) override
    {
        add("loop", {x0, y0, x1, y1, x2, y2, x3, y3});
    }
    void polygon(int x0, int y0, int x1, int y1, int x2, int y2) override
    {
        add("polygon", {x0, y0, x1, y1, x2, y2});
    }
    void polygon(int x0, int y0, int x1, int y1, int x2, int y2, int x3, int y3) override
    {
        add("polygon", {x0, y0, x1, y1, x2, y2, x3, y3});
    }
    void pie(int x, int y, int w, int h, double a1, double a2) override
    {
        add("pie", {x, y, w, h, int(a1), int(a2)});
    }
    void arc(int x, int y, int w, int h, double a1, double a2) override
    {
        add("arc", {x, y, w, h, int(a1), int(a2)});
    }
    void circle(double x, double y, double r) override
    {
        char text[96];
        std::snprintf(text, sizeof text, "circle %g %g %g", x, y, r);
        calls.push_back(text);
    }
    void color(Fl_Color c) override
    {
        Fl_Graphics_Driver::color(c);
        if (c & 0xFFFFFF00)
            add("color rgb", {int(c >> 24), int((c >> 16) & 255), int((c >> 8) & 255)});
        else
            add("color", {int(c)});
    }
    void color(uchar r, uchar g, uchar b) override { add("color rgb", {r, g, b}); }
    void font(Fl_Font face, Fl_Fontsize size) override
    {
        Fl_Graphics_Driver::font(face, size);
        add("font", {int(face), int(size)});
    }
    double width(const char*, int n) override { return n * characterWidth_; }
    double width(unsigned int) override { return characterWidth_; }
    int height() override { return size(); }
    int descent() override { return 0; }
    void draw(const char* text, int n, int x, int y) override
    {
        calls.push_back("draw \"" + std::string(text, static_cast<std::size_t>(n)) + "\" " + std::to_string(x) + " " +
                        std::to_string(y));
    }
    void draw(Fl_RGB_Image*, int x, int y, int w, int h, int, int) override { add("image", {x, y, w, h}); }
    void push_clip(int, int, int, int) override {}
    void pop_clip() override {}
    void push_no_clip() override {}
    int not_clipped(int, int, int, int) override { return 1; }
    int clip_box(int x, int y, int w, int h, int& X, int& Y, int& W, int& H) override
    {
        X = x, Y = y, W = w, H = h;
        return 0;
    }

private:
    void add(const char* name, std::initializer_list<int> values)
    {
        std::string text = name;
        for (int value : values)
            text += " " + std::to_string(value);
        calls.push_back(text);
    }

    static void recordUpBox(int x, int y, int w, int h, Fl_Color c)
    {
        current_->add("box up", {x, y, w, h, int(c)});
    }

    // Past the enumerators: not constexpr, which clang 16 and later refuse.
    static inline const Fl_Boxtype savedUpBox = Fl_Boxtype(FL_FREE_BOXTYPE + 100);
    static inline DrawingRecorder* current_ = nullptr;
    Fl_Graphics_Driver* previousDriver_;
    int characterWidth_;
};
