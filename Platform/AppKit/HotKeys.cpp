#include "Platform/AppKit/HotKeys.h"

#include "Platform/AppKit/DisplayBackend.h"

namespace AppKit {

HotKeyBinder& HotKeyBinder::shared() {
    static HotKeyBinder b;
    return b;
}

NSEventModifierFlags HotKeyBinder::normalized(NSEventModifierFlags m) {
    return m & (NSEventModifierFlagShift | NSEventModifierFlagControl | NSEventModifierFlagOption |
                NSEventModifierFlagCommand);
}

HotKeyBinder::Result HotKeyBinder::registerHotKey(std::uint16_t keyCode, NSEventModifierFlags modifiers,
                                                  Callback callback) {
    modifiers = normalized(modifiers);
    if (isRegistered(keyCode, modifiers)) return {std::nullopt, "The shortcut is already in use by this program."};
    if (!displayBackend().registerHotKey(keyCode, modifiers))
        return {std::nullopt, "The shortcut is already in use by another program."};
    Id id = next_++;
    bindings_[id] = {keyCode, modifiers, std::move(callback)};
    return {id, {}};
}

void HotKeyBinder::unregisterHotKey(Id id) {
    auto it = bindings_.find(id);
    if (it == bindings_.end()) return;
    displayBackend().unregisterHotKey(it->second.keyCode, it->second.modifiers);
    bindings_.erase(it);
}

bool HotKeyBinder::isRegistered(std::uint16_t keyCode, NSEventModifierFlags modifiers) const {
    modifiers = normalized(modifiers);
    for (auto& [id, b] : bindings_)
        if (b.keyCode == keyCode && b.modifiers == modifiers) return true;
    return false;
}

bool HotKeyBinder::hotKeyPressed(std::uint16_t keyCode, NSEventModifierFlags modifiers) {
    modifiers = normalized(modifiers);
    for (auto& [id, b] : bindings_)
        if (b.keyCode == keyCode && b.modifiers == modifiers) {
            auto cb = b.callback;  // the callback may unregister itself
            if (cb) cb();
            return true;
        }
    return false;
}

void HotKeyBinder::resetForTests() { bindings_.clear(); }

std::string keyCodeString(std::uint16_t keyCode) {
    static const std::map<std::uint16_t, std::string> names = {
        {0, "A"},        {1, "S"},        {2, "D"},        {3, "F"},       {4, "H"},        {5, "G"},
        {6, "Z"},        {7, "X"},        {8, "C"},        {9, "V"},       {11, "B"},       {12, "Q"},
        {13, "W"},       {14, "E"},       {15, "R"},       {16, "Y"},      {17, "T"},       {18, "1"},
        {19, "2"},       {20, "3"},       {21, "4"},       {22, "6"},      {23, "5"},       {24, "="},
        {25, "9"},       {26, "7"},       {27, "-"},       {28, "8"},      {29, "0"},       {30, "]"},
        {31, "O"},       {32, "U"},       {33, "["},       {34, "I"},      {35, "P"},       {37, "L"},
        {38, "J"},       {39, "'"},       {40, "K"},       {41, ";"},      {42, "\\"},      {43, ","},
        {44, "/"},       {45, "N"},       {46, "M"},       {47, "."},      {50, "`"},       {36, "\u21a9"},
        {48, "\u21e5"},  {49, "Space"},   {51, "\u232b"},  {53, "\u238b"}, {117, "\u2326"}, {123, "\u2190"},
        {124, "\u2192"}, {125, "\u2193"}, {126, "\u2191"}, {122, "F1"},    {120, "F2"},     {99, "F3"},
        {118, "F4"},     {96, "F5"},      {97, "F6"},      {98, "F7"},     {100, "F8"},     {101, "F9"},
        {109, "F10"},    {103, "F11"},    {111, "F12"}};
    auto it = names.find(keyCode);
    return it == names.end() ? std::string() : it->second;
}

std::string modifierFlagsString(NSEventModifierFlags m) {
    std::string s;
    if (m & NSEventModifierFlagControl) s += "\u2303";
    if (m & NSEventModifierFlagOption) s += "\u2325";
    if (m & NSEventModifierFlagShift) s += "\u21e7";
    if (m & NSEventModifierFlagCommand) s += "\u2318";
    return s;
}

}  // namespace AppKit
