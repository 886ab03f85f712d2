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
        {44, "/"},       {45, "N"},       {46, "M"},       {47, "."},      {50, "`"},       {36, "Return"},
        {48, "Tab"},     {49, "Space"},   {51, "Backspace"}, {53, "Esc"},  {117, "Delete"}, {123, "Left"},
        {124, "Right"},  {125, "Down"},   {126, "Up"}, {122, "F1"},    {120, "F2"},     {99, "F3"},
        {118, "F4"},     {96, "F5"},      {97, "F6"},      {98, "F7"},     {100, "F8"},     {101, "F9"},
        {109, "F10"},    {103, "F11"},    {111, "F12"}};
    auto it = names.find(keyCode);
    return it == names.end() ? std::string() : it->second;
}

std::vector<std::string> modifierKeyNames(NSEventModifierFlags m) {
    std::vector<std::string> names;
    if (m & NSEventModifierFlagControl) names.push_back("Control");
    if (m & NSEventModifierFlagOption) names.push_back("Alt");
    if (m & NSEventModifierFlagShift) names.push_back("Shift");
    if (m & NSEventModifierFlagCommand) names.push_back("Super");
    return names;
}

std::string modifierFlagsString(NSEventModifierFlags m) {
    std::string s;
    for (const auto& name : modifierKeyNames(m)) s += (name == "Control" ? "Ctrl" : name) + "+";
    return s;
}

std::string shortcutText(NSEventModifierFlags modifiers, const std::string& key) {
    return modifierFlagsString(modifiers) + key;
}

}  // namespace AppKit
