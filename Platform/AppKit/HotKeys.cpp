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
    if (isRegistered(keyCode, modifiers))
        return {std::nullopt, "The shortcut is already in use by this program."};
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

}  // namespace AppKit
