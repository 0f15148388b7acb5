#pragma once

// The two keyboard layouts the chooser offers, and where each key cap sits.

#include <cstdint>

// Which box type draws a key cap; any value outside 1 to 8 is drawn as Plain.
enum KeyKind : std::int32_t {
    Plain = 0,
    PadLeft = 1,
    PadRight = 2,
    PadUp = 3,
    PadDown = 4,
    Triangle = 5,
    Circle = 6,
    Square = 7,
    Cross = 8,
};

struct KeyCap {
    const char* label;   // shown on the cap and written as the key's name
    std::int32_t kind;   // a KeyKind
    const char* action;  // null for a key without an action
};

constexpr int keysPerScheme = 33;
constexpr int schemeCount = 2;

struct ControlScheme {
    const char* name;
    std::int32_t selectKey;  // FLTK key code that selects and confirms the scheme
    std::int32_t hintX;
    std::int32_t hintY;
    std::int32_t hintW;
    std::int32_t hintH;
    std::int32_t hintStyle;  // a HintDirection: corner of the hint box the arrow points to
    KeyCap keys[keysPerScheme];
};

extern const ControlScheme controlSchemes[schemeCount];

// Where a key cap stands in the keyboard picture, from its index alone.
// A widthUnits of 0 means the key gets no cap (index 30, "tab").
struct KeyPlacement {
    int x;
    int y;
    int widthUnits;
};
constexpr int keyUnitWidth = 25;
KeyPlacement keyPlacement(int index);
