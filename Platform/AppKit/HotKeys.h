#pragma once
// System-wide hot keys: a key code and modifier mask bound to a callback.
// The display may refuse a combination another program holds; the binder
// then reports it (the registration fails with a reason) and keeps nothing.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AppKit/AppKitTypes.h"

namespace AppKit {

class HotKeyBinder {
public:
    using Id = std::uint64_t;
    using Callback = std::function<void()>;
    struct Result {
        std::optional<Id> id;  // none: refused
        std::string error;     // why, when refused
    };

    static HotKeyBinder& shared();
    // Only the device-independent modifiers count (Shift, Control, Option, Command).
    Result registerHotKey(std::uint16_t keyCode, NSEventModifierFlags modifiers, Callback callback);
    void unregisterHotKey(Id id);
    bool isRegistered(std::uint16_t keyCode, NSEventModifierFlags modifiers) const;
    std::size_t count() const { return bindings_.size(); }
    // From the input door: runs the callback bound to the combination, if any.
    bool hotKeyPressed(std::uint16_t keyCode, NSEventModifierFlags modifiers);
    void resetForTests();

    static NSEventModifierFlags normalized(NSEventModifierFlags modifiers);

private:
    struct Binding {
        std::uint16_t keyCode;
        NSEventModifierFlags modifiers;
        Callback callback;
    };
    std::map<Id, Binding> bindings_;
    Id next_ = 1;
};

// The texts a shortcut is shown with, written the Linux way: the key ("O",
// "1", "F5", "Esc"; empty for a code with no key on the ANSI layout) and the
// modifiers in the order Ctrl, Alt, Shift, Super, each followed by "+"
// ("Ctrl+Super+"). Command is the Super key.
std::string keyCodeString(std::uint16_t keyCode);
std::string modifierFlagsString(NSEventModifierFlags modifiers);
// The modifiers' names as the desktop's menu protocol spells them
// ("Control", "Alt", "Shift", "Super"), in that order; the shown texts use
// the same list, with "Ctrl" for "Control".
std::vector<std::string> modifierKeyNames(NSEventModifierFlags modifiers);
// A whole shortcut as a person reads it: "Ctrl+Super+O", "Ctrl+,".
std::string shortcutText(NSEventModifierFlags modifiers, const std::string& key);

}  // namespace AppKit
