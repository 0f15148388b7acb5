#include <gtest/gtest.h>

#include "chooser.h"
#include "chooser_state.h"
#include "chooser_window.h"
#include "key_cap_drawing.h"
#include "scheme_selection.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Preferences.H>
#include <FL/Fl_Radio_Button.H>
#include <FL/Fl_Scroll.H>

#ifndef __APPLE__
#include "x_server.h"
#endif

#include <array>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <cstring>

namespace {

// A freshly built (not shown) chooser window in a fresh state, sized as it
// opens, with no idle callbacks left from an earlier test.
class Chooser : public ::testing::Test {
protected:
    Fl_Double_Window* window = nullptr;
    ChooserState& s = chooserState;

    void SetUp() override
    {
        removeAllIdle();
        s = ChooserState {};
        Fl::set_color(FL_BACKGROUND_COLOR, 236, 236, 236);
        window = buildChooserWindow(1439, 875);
        window->resize(window->x(), window->y(), 512, 154);
        s.schemePanel[0]->hide();
        s.schemePanel[1]->hide();
    }
    void TearDown() override
    {
        removeAllIdle();
        destroyChooserWindow(window);
    }

    static void removeAllIdle()
    {
        while (Fl::has_idle(expandStep, nullptr))
            Fl::remove_idle(expandStep, nullptr);
        for (long i = 0; i < schemeCount; ++i)
            while (Fl::has_idle(fadeStep, schemeCallbackData(i)))
                Fl::remove_idle(fadeStep, schemeCallbackData(i));
    }

    // One expansion step as if it ran at the given progress.
    void expandAt(float progress)
    {
        s.expandProgress = progress;
        s.expandStamp = std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now());
        expandStep(nullptr);
    }

    int press(int key, int event = FL_SHORTCUT)
    {
        Fl::e_original_keysym = key;
        return chooserKeyHandler(event);
    }

    std::array<int, 4> bounds(Fl_Widget* widget) const
    {
        return {widget->x(), widget->y(), widget->w(), widget->h()};
    }

    // FLTK's own loop, as the chooser runs it, until no animation is left.
    static bool runAnimations(double seconds = 5)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        auto animating = [] {
            return Fl::has_idle(expandStep, nullptr) || Fl::has_idle(fadeStep, schemeCallbackData(0)) ||
                   Fl::has_idle(fadeStep, schemeCallbackData(1));
        };
        while (animating()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            Fl::wait(0.01);
        }
        return true;
    }
};

using Bounds = std::array<int, 4>;

// Showing a panel opens the display; the tests that move panels get a
// private X server when none is given.
void needDisplay()
{
#ifndef __APPLE__
    static std::unique_ptr<XServer> server;
    const char* display = std::getenv("DISPLAY");
    if ((display && *display) || server)
        return;
    server = std::make_unique<XServer>();
    ASSERT_TRUE(server->running()) << "Xvfb did not start";
    setenv("DISPLAY", server->display().c_str(), 1);
#endif
}

} // namespace

TEST_F(Chooser, WindowCentredOnOddWorkAreaWithTwoCollapsedSchemes)
{
    EXPECT_EQ(window->x(), 463);
    EXPECT_EQ(window->y(), 283);
    EXPECT_STREQ(window->label(), "");
    // The title, and the gift picture with its grey "?".
    Fl_Widget* title = window->child(0);
    Fl_Widget* gift = window->child(1);
    EXPECT_EQ(bounds(title), (Bounds {96, 18, 416, 18}));
    EXPECT_EQ(title->labelfont(), FL_HELVETICA_BOLD);
    EXPECT_EQ(bounds(gift), (Bounds {16, 40, 64, 64}));
    EXPECT_EQ(int(gift->box()), int(GIFT_PICTURE_BOX));
    EXPECT_EQ(gift->labelcolor(), 35u);
    EXPECT_EQ(gift->labelsize(), 32);
    ASSERT_EQ(window->children(), 3);
    Fl_Widget* column = window->child(2);
    EXPECT_EQ(bounds(column), (Bounds {96, 36, 416, 272}));
    EXPECT_EQ(column->box(), FL_FLAT_BOX);
    EXPECT_EQ(bounds(s.schemeScroll[1]), (Bounds {0, 0, 395, 160}));
    EXPECT_EQ(bounds(s.schemeButton[0]), (Bounds {103, 56, 395, 20}));
    EXPECT_EQ(bounds(s.schemeButton[1]), (Bounds {103, 104, 395, 20}));
    EXPECT_EQ(bounds(s.schemePanel[0]), (Bounds {117, 84, 395, 160}));
    EXPECT_EQ(bounds(s.schemePanel[1]), (Bounds {117, 132, 395, 160}));
    EXPECT_STREQ(s.schemeButton[1]->label(), "Arrow Keys");
    EXPECT_EQ(s.schemeButton[0]->box(), SCHEME_BUTTON_BOX);
    EXPECT_EQ(s.schemeButton[0]->down_box(), SCHEME_BUTTON_DOWN_BOX);
    EXPECT_EQ(s.schemeButton[0]->align(), FL_ALIGN_TOP | FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    EXPECT_EQ(bounds(s.startBanner[0]), (Bounds {176, 0, 163, 38}));
    EXPECT_EQ(s.startBanner[0]->labelfont(), FL_HELVETICA_ITALIC);
    EXPECT_EQ(s.selectHint[0]->labelfont(), FL_HELVETICA_ITALIC);
    EXPECT_EQ(s.selectHint[0]->labeltype(), Fl_Labeltype(11));
    EXPECT_EQ(s.selectHint[1]->labeltype(), Fl_Labeltype(10));
    EXPECT_EQ(s.startBanner[1]->labeltype(), Fl_Labeltype(8));
    ASSERT_NE(s.startBanner[0]->image(), nullptr);
    EXPECT_EQ(s.startBanner[0]->image()->w(), 140);
}

TEST_F(Chooser, KeyCapsWithoutTabPlainOnesLowerAndInactiveGrey)
{
    for (int scheme = 0; scheme < schemeCount; ++scheme) {
        std::vector<Fl_Widget*> caps;
        Fl_Scroll* scroll = s.schemeScroll[scheme];
        for (int i = 0; i < scroll->children(); ++i) {
            Fl_Widget* child = scroll->child(i);
            if (child->label() && child->labelfont() == FL_COURIER_BOLD)
                caps.push_back(child);
        }
        ASSERT_EQ(caps.size(), 32u);
        for (Fl_Widget* cap : caps)
            EXPECT_STRNE(cap->label(), "tab");
        EXPECT_EQ(bounds(caps[30]), (Bounds {300, 38, 75, 25}));  // "return"
        EXPECT_EQ(bounds(caps[31]), (Bounds {76, 102, 150, 25})); // "space"
        EXPECT_EQ(caps[30]->box(), FL_UP_BOX);
        EXPECT_EQ(caps[5]->labelcolor(), 42u);                 // "y" has no action
        EXPECT_EQ(caps[4]->labelcolor(), FL_FOREGROUND_COLOR); // "t" is the console
        EXPECT_EQ(caps[0]->align(), FL_ALIGN_BOTTOM | FL_ALIGN_INSIDE);
    }
    // The scroll area's two scrollbars come first.
    Fl_Widget* downArrow = s.schemeScroll[0]->child(2 + 28);
    EXPECT_EQ(bounds(downArrow), (Bounds {288, 96, 25, 31}));
    // Compared as numbers: the glyph types lie beyond Fl_Boxtype's enumerators.
    EXPECT_EQ(int(downArrow->box()), int(CROSS_CAP_BOX));
    EXPECT_EQ(int(s.schemeScroll[1]->child(2 + 28)->box()), int(DPAD_DOWN_CAP_BOX));
}

TEST_F(Chooser, EaseValueFollowsTheQuadraticCurve)
{
    const std::pair<float, int> expected[] = {{0, 0},     {0.1f, 3},   {0.25f, 20}, {0.5f, 80},
                                              {0.6f, 109}, {0.75f, 140}, {0.9f, 157}, {1, 160}};
    for (auto [progress, value] : expected) {
        s.expandProgress = progress;
        EXPECT_EQ(easeValue(0, 160), value) << progress;
        EXPECT_EQ(easeValue(160, 0), 160 - value) << progress;
    }
    s.expandProgress = 0;
    EXPECT_EQ(easeValue(37, 5), 37);
    s.expandProgress = 1;
    EXPECT_EQ(easeValue(37, 5), 5);
}

TEST_F(Chooser, FirstSelectionOpensDownwardAndTheWindowGrows)
{
    needDisplay();
    selectScheme(s.schemeButton[0], schemeCallbackData(0));
    EXPECT_TRUE(Fl::has_idle(expandStep, nullptr));
    expandAt(0.25f);
    EXPECT_EQ(s.panelTop[0], 0);
    EXPECT_EQ(s.panelBottom[0], 20);
    EXPECT_EQ(window->h(), 20 + 48 + 48 + 52);
    EXPECT_EQ(window->w(), 512) << "the window grows only downward";

    expandAt(1);
    EXPECT_FALSE(Fl::has_idle(expandStep, nullptr));
    EXPECT_TRUE(s.schemePanel[0]->visible());
    EXPECT_FALSE(s.schemePanel[1]->visible());
    EXPECT_EQ(bounds(s.schemePanel[0]), (Bounds {117, 84, 395, 160}));
    EXPECT_EQ(s.schemePanel[1]->h(), 0);
    EXPECT_EQ(s.schemeButton[1]->y(), 264);
    EXPECT_EQ(window->h(), 308);
}

TEST_F(Chooser, SwappingSchemesClosesOneAsTheOtherSlidesIn)
{
    needDisplay();
    selectScheme(s.schemeButton[0], schemeCallbackData(0));
    expandAt(1);
    selectScheme(s.schemeButton[1], schemeCallbackData(1));
    EXPECT_EQ(s.previousScheme, 0);
    expandAt(0.25f);
    EXPECT_EQ(s.panelTop[0], 0);
    EXPECT_EQ(s.panelBottom[0], 140);
    EXPECT_EQ(s.panelTop[1], 140);
    EXPECT_EQ(s.panelBottom[1], 160);
    EXPECT_EQ(s.schemeScroll[1]->yposition(), 140);
    EXPECT_EQ(bounds(s.schemePanel[0]), (Bounds {117, 84, 395, 140}));
    EXPECT_EQ(s.schemeButton[1]->y(), 244);
    EXPECT_EQ(bounds(s.schemePanel[1]), (Bounds {117, 272, 395, 20}));
    EXPECT_EQ(window->h(), 308);

    expandAt(1);
    EXPECT_FALSE(s.schemePanel[0]->visible());
    EXPECT_TRUE(s.schemePanel[1]->visible());
    EXPECT_EQ(s.schemeButton[1]->y(), 104);
    EXPECT_EQ(bounds(s.schemePanel[1]), (Bounds {117, 132, 395, 160}));
    EXPECT_EQ(window->h(), 308) << "the window never shrinks";

    // Back to scheme 0: it opens downward while panel 1 scrolls its top away.
    selectScheme(s.schemeButton[0], schemeCallbackData(0));
    expandAt(0.5f);
    EXPECT_EQ(s.panelTop[0], 0);
    EXPECT_EQ(s.panelBottom[0], 80);
    EXPECT_EQ(s.panelTop[1], 80);
    EXPECT_EQ(s.panelBottom[1], 160);

    // And back to 1 half-way: the top it scrolled away comes back into view.
    selectScheme(s.schemeButton[1], schemeCallbackData(1));
    expandAt(0.5f);
    EXPECT_EQ(s.panelTop[1], 40);
    EXPECT_EQ(s.panelBottom[1], 160);
    expandAt(1);
    EXPECT_EQ(s.panelTop[1], 0);
    EXPECT_EQ(bounds(s.schemePanel[1]), (Bounds {117, 132, 395, 160}));
}

// The player changes their mind once the first choice has settled: the new
// panel opens all the way, the old one closes, the new banner fades in whole.
TEST_F(Chooser, ChangeOfMindAfterTheAnimationsEndedRunsThemAgain)
{
    needDisplay();
    ASSERT_EQ(press(FL_Down), 1);
    ASSERT_TRUE(runAnimations());
    ASSERT_EQ(press('z'), 1);
    ASSERT_TRUE(runAnimations());
    EXPECT_FALSE(s.schemePanel[0]->visible());
    EXPECT_TRUE(s.schemePanel[1]->visible());
    EXPECT_EQ(bounds(s.schemePanel[1]), (Bounds {117, 132, 395, 160}));
    const unsigned char* banner = s.bannerPixels[1];
    EXPECT_EQ(banner[4 * (bannerWidth - 1) + 3], 255) << "the fade did not end opaque";
    for (int row = 1; row < bannerHeight; ++row)
        EXPECT_EQ(std::memcmp(banner + row * bannerRowBytes, banner, bannerRowBytes), 0) << "row " << row;
}

TEST_F(Chooser, SelectionDuringAnimationRestartsWithoutSecondRegistration)
{
    needDisplay();
    selectScheme(s.schemeButton[0], schemeCallbackData(0));
    expandAt(0.25f);
    selectScheme(s.schemeButton[1], schemeCallbackData(1));
    EXPECT_EQ(s.expandProgress, 0);
    EXPECT_EQ(s.panelBottomStart[0], 20);
    Fl::remove_idle(expandStep, nullptr);
    EXPECT_FALSE(Fl::has_idle(expandStep, nullptr));

    // Selecting the selected scheme again changes nothing.
    s.expandProgress = 0.5f;
    selectScheme(s.schemeButton[1], schemeCallbackData(1));
    EXPECT_EQ(s.expandProgress, 0.5f);
    EXPECT_FALSE(Fl::has_idle(expandStep, nullptr));
}

TEST_F(Chooser, FadeFillsEveryRowWithTheQuarticRamp)
{
    selectScheme(s.schemeButton[0], schemeCallbackData(0));
    confirmScheme(0);
    auto alphaAt = [&](int row, int column) { return int(s.bannerPixels[0][row * bannerRowBytes + 4 * column + 3]); };

    s.fadeProgress = 0.5f;
    s.fadeStamp = std::chrono::time_point_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now());
    fadeStep(schemeCallbackData(0));
    EXPECT_EQ((std::array<int, 4> {alphaAt(0, 0), alphaAt(0, 35), alphaAt(0, 70), alphaAt(31, 139)}),
              (std::array<int, 4> {0, 87, 119, 127}));
    EXPECT_TRUE(Fl::has_idle(fadeStep, schemeCallbackData(0)));

    s.fadeProgress = 1;
    fadeStep(schemeCallbackData(0));
    const int columns[] = {0, 1, 10, 35, 70, 105, 139};
    const int alphas[] = {0, 7, 65, 174, 239, 254, 255};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(alphaAt(17, columns[i]), alphas[i]) << "column " << columns[i];
    EXPECT_EQ(std::memcmp(s.bannerPixels[0], "\xEC\xEC\xEC", 3), 0) << "the panel's colour";
    EXPECT_EQ(std::memcmp(s.bannerPixels[0], s.bannerPixels[0] + 31 * bannerRowBytes, bannerRowBytes), 0);
    EXPECT_FALSE(Fl::has_idle(fadeStep, schemeCallbackData(0)));
}

TEST_F(Chooser, FadesOfBothSchemesShareProgressAndBothEnd)
{
    ASSERT_EQ(press(FL_Down), 1);
    ASSERT_EQ(press('z'), 1);
    EXPECT_TRUE(Fl::has_idle(fadeStep, schemeCallbackData(0)));
    EXPECT_TRUE(Fl::has_idle(fadeStep, schemeCallbackData(1)));
    s.fadeProgress = 1;
    fadeStep(schemeCallbackData(0));
    fadeStep(schemeCallbackData(1));
    EXPECT_FALSE(Fl::has_idle(fadeStep, schemeCallbackData(0)));
    EXPECT_FALSE(Fl::has_idle(fadeStep, schemeCallbackData(1)));
}

TEST_F(Chooser, KeyHandlerSelectsConfirmsAndFinishes)
{
    s.running = true;
    EXPECT_EQ(press(FL_Down, FL_KEYDOWN), 0) << "only shortcut events are used";
    EXPECT_EQ(press(FL_Enter), 0) << "Return before any selection";
    EXPECT_EQ(press('q'), 0);
    EXPECT_EQ(s.selectedScheme, -1);

    EXPECT_EQ(press(FL_Down), 1);
    EXPECT_EQ(s.selectedScheme, 0);
    EXPECT_TRUE(s.confirmed);
    EXPECT_EQ(s.schemeButton[0]->value(), 1);
    EXPECT_FALSE(s.selectHint[0]->visible());
    EXPECT_TRUE(s.startBanner[0]->visible());
    EXPECT_EQ(press(FL_Down), 0) << "the confirmed scheme's own key";

    EXPECT_EQ(press('z'), 1) << "the other scheme's key while confirmed";
    EXPECT_EQ(s.previousScheme, 0);
    EXPECT_EQ(s.selectedScheme, 1);
    EXPECT_TRUE(s.confirmed);
    EXPECT_EQ(s.schemeButton[0]->value(), 0);
    EXPECT_EQ(s.schemeButton[1]->value(), 1);

    // A click selects without confirming; Return then does nothing.
    s.schemeButton[0]->setonly();
    selectScheme(s.schemeButton[0], schemeCallbackData(0));
    EXPECT_FALSE(s.confirmed);
    EXPECT_TRUE(s.selectHint[0]->visible());
    EXPECT_FALSE(s.startBanner[0]->visible());
    EXPECT_EQ(press(FL_Enter), 0);
    EXPECT_TRUE(s.running);

    EXPECT_EQ(press(FL_Down), 1) << "the selected scheme's key confirms it";
    EXPECT_EQ(press(FL_Enter), 1);
    EXPECT_FALSE(s.running) << "cleared although no controls file could be written";
    // Keys queued behind that Return change nothing.
    press('z');
    EXPECT_EQ(s.schemeButton[0]->value(), 1);
    EXPECT_EQ(s.selectedScheme, 0);
}

TEST(ChooserMessages, FltkWarningsAndErrorsAreSilentAndFatalEndsAsClosed)
{
    auto reportEverything = [] {
        silenceFltkMessages();
        Fl::warning("a warning %d", 1);
        Fl::error("an error %d", 2);
        Fl::fatal("a fatal error %d", 3);
        std::exit(0);
    };
    EXPECT_EXIT(reportEverything(), ::testing::ExitedWithCode(1), "^$");
}

// The five FLTK options are the chooser's (only tooltips and the GTK file
// chooser on), whatever the player's own FLTK preferences say.
TEST(ChooserOptions, FixedWhateverThePlayersFltkPreferencesSay)
{
    auto optionsAsBits = [] {
        char home[] = "/tmp/chooser-options-XXXXXX";
        if (!mkdtemp(home))
            std::exit(255);
        setenv("HOME", home, 1);
        {
            Fl_Preferences user(Fl_Preferences::USER, "fltk.org", "fltk");
            Fl_Preferences options(user, "options");
            for (const char* on : {"ArrowFocus", "VisibleFocus", "DNDText"})
                options.set(on, 1);
            for (const char* off : {"ShowTooltips", "FNFCUsesGTK"})
                options.set(off, 0);
        }
        applyChooserOptions();
        int bits = 0;
        for (int i = 0; i < Fl::OPTION_LAST; ++i)
            bits |= Fl::option(Fl::Fl_Option(i)) << i;
        std::system((std::string("rm -rf ") + home).c_str());
        std::exit(bits);
    };
    EXPECT_EXIT(optionsAsBits(), ::testing::ExitedWithCode(0b11000), "^$");
}
