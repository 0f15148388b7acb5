#include "control_schemes.h"

namespace {

// Arrow-key labels: single Latin-1 bytes, not UTF-8.
#define LEFT_ARROW_LABEL "\xAB"
#define RIGHT_ARROW_LABEL "\xBB"

constexpr std::int32_t downArrowKey = 0xFF54; // FL_Down
constexpr std::int32_t zKey = 'z';
constexpr std::int32_t hintUpLeft = 2;
constexpr std::int32_t hintUpRight = 3;

} // namespace

const ControlScheme controlSchemes[schemeCount] = {
    {"WASD Keys", downArrowKey, 48, 122, 259, 58, hintUpRight,
     {
         {"q", Plain, nullptr},
         {"w", PadUp, "up"},
         {"e", Plain, nullptr},
         {"r", Plain, nullptr},
         {"t", Plain, "console"},
         {"y", Plain, nullptr},
         {"u", Plain, nullptr},
         {"i", Plain, nullptr},
         {"o", Plain, nullptr},
         {"p", Plain, nullptr},
         {"a", PadLeft, "left"},
         {"s", PadDown, "down"},
         {"d", PadRight, "right"},
         {"f", Plain, nullptr},
         {"g", Plain, nullptr},
         {"h", Plain, nullptr},
         {"j", Plain, nullptr},
         {"k", Plain, nullptr},
         {"l", Plain, nullptr},
         {"z", Plain, "l2"},
         {"x", Plain, "l1"},
         {"c", Plain, "r1"},
         {"v", Plain, "r2"},
         {"b", Plain, nullptr},
         {"n", Plain, nullptr},
         {"m", Plain, nullptr},
         {"^", Triangle, "triangle"},
         {LEFT_ARROW_LABEL, Square, "square"},
         {"-", Cross, "cross"},
         {RIGHT_ARROW_LABEL, Circle, "circle"},
         {"tab", Plain, "switchInputMode"},
         {"return", Plain, "start"},
         {"space", Plain, "select"},
     }},
    {"Arrow Keys", zKey, 29, 90, 256, 122, hintUpLeft,
     {
         {"q", Plain, "l2"},
         {"w", Plain, "l1"},
         {"e", Plain, "r1"},
         {"r", Plain, "r2"},
         {"t", Plain, "console"},
         {"y", Plain, nullptr},
         {"u", Plain, nullptr},
         {"i", Plain, nullptr},
         {"o", Plain, nullptr},
         {"p", Plain, nullptr},
         {"a", Square, "square"},
         {"s", Circle, "circle"},
         {"d", Plain, nullptr},
         {"f", Plain, nullptr},
         {"g", Plain, nullptr},
         {"h", Plain, nullptr},
         {"j", Plain, nullptr},
         {"k", Plain, nullptr},
         {"l", Plain, nullptr},
         {"z", Cross, "cross"},
         {"x", Triangle, "triangle"},
         {"c", Plain, nullptr},
         {"v", Plain, nullptr},
         {"b", Plain, nullptr},
         {"n", Plain, nullptr},
         {"m", Plain, nullptr},
         {"^", PadUp, "up"},
         {LEFT_ARROW_LABEL, PadLeft, "left"},
         {"-", PadDown, "down"},
         {RIGHT_ARROW_LABEL, PadRight, "right"},
         {"tab", Plain, "switchInputMode"},
         {"return", Plain, "start"},
         {"space", Plain, "select"},
     }},
};

KeyPlacement keyPlacement(int index)
{
    // Keys of a row stand 32 px apart; the letter rows are staggered 0, 12, 25.
    constexpr int pitch = 32;
    if (index >= 0 && index <= 9)
        return {pitch * index, 0, 1};
    if (index >= 10 && index <= 18)
        return {12 + pitch * (index - 10), 32, 1};
    if (index >= 19 && index <= 25)
        return {25 + pitch * (index - 19), 64, 1};
    switch (index) {
    case 26: return {288, 64, 1};
    case 27: return {256, 96, 1};
    case 28: return {288, 96, 1};
    case 29: return {320, 96, 1};
    case 31: return {300, 32, 3};
    case 32: return {76, 96, 6};
    default: return {0, 0, 0};
    }
}
