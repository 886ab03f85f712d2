#pragma once
// The two global shortcuts (the magnifier and the library window): kept in
// the user defaults as keyed archives of a shortcut, each switchable off, and
// bound as system-wide hot keys while switched on.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AppKit/HotKeys.h"
#include "Platform/Foundation/KeyedArchiver.h"
#include "Platform/Foundation/UserDefaults.h"

// A key code (ANSI layout) with modifier flags, archived as "MASShortcut".
class MASShortcut : public Foundation::Coding {
public:
    MASShortcut(std::uint16_t keyCode, AppKit::NSEventModifierFlags modifierFlags)
        : keyCode_(keyCode), modifierFlags_(AppKit::HotKeyBinder::normalized(modifierFlags)) {}
    static std::shared_ptr<MASShortcut> shortcutWithKeyCode(std::uint16_t keyCode, AppKit::NSEventModifierFlags flags) {
        return std::make_shared<MASShortcut>(keyCode, flags);
    }
    std::uint16_t keyCode() const { return keyCode_; }
    AppKit::NSEventModifierFlags modifierFlags() const { return modifierFlags_; }
    std::string keyCodeString() const { return AppKit::keyCodeString(keyCode_); }
    std::string modifierFlagsString() const { return AppKit::modifierFlagsString(modifierFlags_); }

    std::string className() const override { return "MASShortcut"; }
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    // The archive stored in the user defaults; nothing when it cannot be made.
    std::optional<Foundation::Data> archivedData() const;
    // The shortcut in an archive; nullptr for data that is not one.
    static std::shared_ptr<MASShortcut> fromData(const Foundation::Data& data);

private:
    std::uint16_t keyCode_;
    AppKit::NSEventModifierFlags modifierFlags_;
};

// Binds shortcuts stored in the user defaults to actions, and follows later
// changes of the stored value by itself.
class MASShortcutBinder {
public:
    static MASShortcutBinder& shared();
    ~MASShortcutBinder();
    void bindShortcutWithDefaultsKey(const std::string& key, std::function<void()> action);
    void breakBindingWithDefaultsKey(const std::string& key);
    bool isBound(const std::string& key) const;
    // Why the latest binding of the key could not be made (empty when it was).
    std::string lastError(const std::string& key) const;
    void resetForTests();

private:
    struct Binding {
        std::function<void()> action;
        std::optional<AppKit::HotKeyBinder::Id> hotKey;
        Foundation::UserDefaults::ObserverId observer = 0;
        const Foundation::UserDefaults* observed = nullptr;
        std::string error;
    };
    void rebind(const std::string& key);
    std::map<std::string, Binding> bindings_;
};

class ZNLShortcutController {
public:
    static ZNLShortcutController& shared();

    std::function<void()> magnifierAction;
    std::function<void()> libraryAction;
    std::function<void()> libraryShortcutUpdateAction;
    std::function<void()> magnifierShortcutUpdateAction;

    // Registers the four defaults and starts the observations; both shortcuts
    // are bound (or not) and both update actions run before it returns.
    void registerDefaults();
    void resetForTests();

    static std::shared_ptr<MASShortcut> shortcutWithData(const std::optional<Foundation::Data>& data);
    static std::shared_ptr<MASShortcut> shortcutForKey(const std::string& key);
    static std::string shortcutStringForKey(const std::string& key);
    static std::string magnifierShortcutString() { return shortcutStringForKey("magnifierShortcut"); }
    static std::string libraryShortcutString() { return shortcutStringForKey("libraryShortcut"); }
    static std::optional<std::string> magnifierShortcutKeyCode();
    static std::optional<std::string> libraryShortcutKeyCode();
    static AppKit::NSEventModifierFlags magnifierShortcutModifiers();
    static AppKit::NSEventModifierFlags libraryShortcutModifiers();

    static constexpr std::uint16_t kMagnifierKeyCode = 31;                       // O
    static constexpr std::uint16_t kLibraryKeyCode = 34;                         // I
    static constexpr AppKit::NSEventModifierFlags kDefaultModifiers = 0x140000;  // Control, Command

private:
    void removeObservations();
    void enabledChanged(const std::string& key, const Foundation::Value& value);
    std::string observableKeyPath_, magnifierObservableKeyPath_;
    std::vector<Foundation::UserDefaults::ObserverId> observers_;
    const Foundation::UserDefaults* observed_ = nullptr;
};
