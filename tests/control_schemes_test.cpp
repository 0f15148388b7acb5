#include <gtest/gtest.h>

#include "control_schemes.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <set>
#include <string>

namespace {

const std::set<std::string> sixteenActions = {"up", "down", "left", "right", "triangle", "circle", "square", "cross",
                                              "l1", "l2", "r1", "r2", "console", "switchInputMode", "start", "select"};

const std::map<std::string, std::int32_t> glyphKinds = {{"left", PadLeft},       {"right", PadRight},
                                                        {"up", PadUp},           {"down", PadDown},
                                                        {"triangle", Triangle}, {"circle", Circle},
                                                        {"square", Square},     {"cross", Cross}};

struct Rect {
    int x, y, w, h;
    bool contains(int px, int py) const { return px >= x && px <= x + w && py >= y && py <= y + h; }
};

// The cap rectangle: glyph caps are 31 high at the row, plain caps 25 high, 6 lower.
Rect capRect(const KeyCap& key, int index)
{
    KeyPlacement place = keyPlacement(index);
    int width = keyUnitWidth * place.widthUnits;
    if (key.kind >= PadLeft && key.kind <= Cross)
        return {place.x, place.y, width, 31};
    return {place.x, place.y + 6, width, 25};
}

// FLTK key code of the key a label names (only the keys that can select).
std::int32_t keyCodeOf(const char* label)
{
    if (std::strcmp(label, "-") == 0)
        return 0xFF54;
    if (std::strlen(label) == 1 && label[0] >= 'a' && label[0] <= 'z')
        return label[0];
    return -1;
}

} // namespace

TEST(ControlSchemes, NamesKeysAndHints)
{
    EXPECT_STREQ(controlSchemes[0].name, "WASD Keys");
    EXPECT_STREQ(controlSchemes[1].name, "Arrow Keys");
    EXPECT_EQ(controlSchemes[0].selectKey, 65364);
    EXPECT_EQ(controlSchemes[1].selectKey, 122);
    EXPECT_NE(controlSchemes[0].selectKey, controlSchemes[1].selectKey);
    const ControlScheme& wasd = controlSchemes[0];
    const ControlScheme& arrows = controlSchemes[1];
    EXPECT_EQ((std::array<int, 5> {wasd.hintX, wasd.hintY, wasd.hintW, wasd.hintH, wasd.hintStyle}),
              (std::array<int, 5> {48, 122, 259, 58, 3}));
    EXPECT_EQ((std::array<int, 5> {arrows.hintX, arrows.hintY, arrows.hintW, arrows.hintH, arrows.hintStyle}),
              (std::array<int, 5> {29, 90, 256, 122, 2}));
}

TEST(ControlSchemes, LabelsAreSharedAndArrowGlyphsAreSingleBytes)
{
    const char* expected[keysPerScheme] = {"q", "w", "e", "r", "t", "y", "u", "i", "o", "p", "a",
                                           "s", "d", "f", "g", "h", "j", "k", "l", "z", "x", "c",
                                           "v", "b", "n", "m", "^", "\xAB", "-", "\xBB", "tab", "return", "space"};
    for (const ControlScheme& scheme : controlSchemes)
        for (int i = 0; i < keysPerScheme; ++i)
            EXPECT_STREQ(scheme.keys[i].label, expected[i]) << scheme.name << " key " << i;
    EXPECT_EQ(std::strlen(controlSchemes[0].keys[27].label), 1u);
    EXPECT_EQ(static_cast<unsigned char>(controlSchemes[0].keys[27].label[0]), 171);
    EXPECT_EQ(static_cast<unsigned char>(controlSchemes[1].keys[29].label[0]), 187);
}

TEST(ControlSchemes, EachSchemeBindsTheSixteenActionsOnce)
{
    for (const ControlScheme& scheme : controlSchemes) {
        std::multiset<std::string> bound;
        for (const KeyCap& key : scheme.keys)
            if (key.action)
                bound.insert(key.action);
        EXPECT_EQ(bound.size(), 16u) << scheme.name;
        EXPECT_EQ(std::set<std::string>(bound.begin(), bound.end()), sixteenActions) << scheme.name;
    }
}

TEST(ControlSchemes, GlyphKindsExactlyOnGlyphActions)
{
    for (const ControlScheme& scheme : controlSchemes) {
        for (const KeyCap& key : scheme.keys) {
            auto glyph = key.action ? glyphKinds.find(key.action) : glyphKinds.end();
            if (glyph == glyphKinds.end())
                EXPECT_EQ(key.kind, Plain) << scheme.name << " " << key.label;
            else
                EXPECT_EQ(key.kind, glyph->second) << scheme.name << " " << key.label;
        }
    }
}

TEST(ControlSchemes, SelectKeyIsCrossAndTheHintPointsAtIt)
{
    for (const ControlScheme& scheme : controlSchemes) {
        int crossIndex = -1;
        for (int i = 0; i < keysPerScheme; ++i)
            if (scheme.keys[i].action && std::strcmp(scheme.keys[i].action, "cross") == 0)
                crossIndex = i;
        ASSERT_GE(crossIndex, 0);
        EXPECT_EQ(keyCodeOf(scheme.keys[crossIndex].label), scheme.selectKey) << scheme.name;

        // Corner named by the hint style: 0 down-right, 1 down-left, 2 up-left, 3 up-right.
        bool right = scheme.hintStyle == 0 || scheme.hintStyle == 3;
        bool down = scheme.hintStyle == 0 || scheme.hintStyle == 1;
        int cornerX = scheme.hintX + (right ? scheme.hintW : 0);
        int cornerY = scheme.hintY + (down ? scheme.hintH : 0);
        Rect cap = capRect(scheme.keys[crossIndex], crossIndex);
        EXPECT_TRUE(cap.contains(cornerX, cornerY))
            << scheme.name << ": (" << cornerX << ", " << cornerY << ") outside the cap at " << cap.x << ", " << cap.y;
    }
}

TEST(KeyPlacement, RowsAndWideKeys)
{
    // Every place, x, y and width in units: three staggered letter rows, the
    // arrow keys, no place for "tab", and the wide "return" and "space".
    const std::array<std::array<int, 3>, keysPerScheme> expected = {{
        {0, 0, 1}, {32, 0, 1}, {64, 0, 1}, {96, 0, 1}, {128, 0, 1}, {160, 0, 1}, {192, 0, 1}, {224, 0, 1},
        {256, 0, 1}, {288, 0, 1}, {12, 32, 1}, {44, 32, 1}, {76, 32, 1}, {108, 32, 1}, {140, 32, 1},
        {172, 32, 1}, {204, 32, 1}, {236, 32, 1}, {268, 32, 1}, {25, 64, 1}, {57, 64, 1}, {89, 64, 1},
        {121, 64, 1}, {153, 64, 1}, {185, 64, 1}, {217, 64, 1}, {288, 64, 1}, {256, 96, 1}, {288, 96, 1},
        {320, 96, 1}, {0, 0, 0}, {300, 32, 3}, {76, 96, 6},
    }};
    for (int index = 0; index < keysPerScheme; ++index) {
        KeyPlacement place = keyPlacement(index);
        EXPECT_EQ((std::array<int, 3> {place.x, place.y, place.widthUnits}), expected[std::size_t(index)]) << index;
    }
    // The Down arrow cap of "WASD Keys" and the plain "return" and "space" caps.
    Rect down = capRect(controlSchemes[0].keys[28], 28);
    EXPECT_EQ((std::array<int, 4> {down.x, down.y, down.w, down.h}), (std::array<int, 4> {288, 96, 25, 31}));
    Rect ret = capRect(controlSchemes[0].keys[31], 31);
    EXPECT_EQ((std::array<int, 4> {ret.x, ret.y, ret.w, ret.h}), (std::array<int, 4> {300, 38, 75, 25}));
    Rect space = capRect(controlSchemes[0].keys[32], 32);
    EXPECT_EQ((std::array<int, 4> {space.x, space.y, space.w, space.h}), (std::array<int, 4> {76, 102, 150, 25}));
}
