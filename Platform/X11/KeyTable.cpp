#include "Platform/X11/KeyTable.h"

#include <utility>

namespace X11Display {
namespace {

// Virtual key code -> keysym (X11/keysymdef.h values).
constexpr std::pair<std::uint16_t, std::uint32_t> kKeys[] = {
    {0, 'a'},      {1, 's'},      {2, 'd'},      {3, 'f'},      {4, 'h'},      {5, 'g'},      {6, 'z'},
    {7, 'x'},      {8, 'c'},      {9, 'v'},      {11, 'b'},     {12, 'q'},     {13, 'w'},     {14, 'e'},
    {15, 'r'},     {16, 'y'},     {17, 't'},     {18, '1'},     {19, '2'},     {20, '3'},     {21, '4'},
    {22, '6'},     {23, '5'},     {24, '='},     {25, '9'},     {26, '7'},     {27, '-'},     {28, '8'},
    {29, '0'},     {30, ']'},     {31, 'o'},     {32, 'u'},     {33, '['},     {34, 'i'},     {35, 'p'},
    {37, 'l'},     {38, 'j'},     {39, '\''},    {40, 'k'},     {41, ';'},     {42, '\\'},    {43, ','},
    {44, '/'},     {45, 'n'},     {46, 'm'},     {47, '.'},     {49, ' '},     {50, '`'},     {36, 0xff0d},  // Return
    {48, 0xff09},                                                                                            // Tab
    {51, 0xff08},                                                // BackSpace (the other platform's Delete)
    {53, 0xff1b},                                                // Escape
    {117, 0xffff},                                               // Delete (forward delete)
    {115, 0xff50}, {119, 0xff57}, {116, 0xff55}, {121, 0xff56},  // Home End PageUp PageDown
    {123, 0xff51}, {124, 0xff53}, {125, 0xff54}, {126, 0xff52},  // Left Right Down Up
    {122, 0xffbe}, {120, 0xffbf}, {99, 0xffc0},  {118, 0xffc1}, {96, 0xffc2},  {97, 0xffc3},   // F1-F6
    {98, 0xffc4},  {100, 0xffc5}, {101, 0xffc6}, {109, 0xffc7}, {103, 0xffc8}, {111, 0xffc9},  // F7-F12
};

}  // namespace

std::optional<std::uint32_t> keysymForKeyCode(std::uint16_t keyCode) {
    for (const auto& [code, sym] : kKeys)
        if (code == keyCode) return sym;
    return std::nullopt;
}

std::optional<std::uint16_t> keyCodeForKeysym(std::uint32_t keysym) {
    if (keysym >= 'A' && keysym <= 'Z') keysym += 'a' - 'A';
    for (const auto& [code, sym] : kKeys)
        if (sym == keysym) return code;
    return std::nullopt;
}

std::uint16_t xModifiers(AppKit::NSEventModifierFlags modifiers) {
    std::uint16_t x = 0;
    if (modifiers & AppKit::NSEventModifierFlagShift) x |= kXShift;
    if (modifiers & AppKit::NSEventModifierFlagControl) x |= kXControl;
    if (modifiers & AppKit::NSEventModifierFlagOption) x |= kXMod1;
    if (modifiers & AppKit::NSEventModifierFlagCommand) x |= kXMod4;
    return x;
}

AppKit::NSEventModifierFlags modelModifiers(std::uint16_t xState) {
    AppKit::NSEventModifierFlags m = 0;
    if (xState & kXShift) m |= AppKit::NSEventModifierFlagShift;
    if (xState & kXControl) m |= AppKit::NSEventModifierFlagControl;
    if (xState & kXMod1) m |= AppKit::NSEventModifierFlagOption;
    if (xState & kXMod4) m |= AppKit::NSEventModifierFlagCommand;
    return m;
}

}  // namespace X11Display
