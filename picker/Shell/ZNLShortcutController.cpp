#include "picker/Shell/ZNLShortcutController.h"

#include "Platform/Foundation/Diagnostics.h"

using namespace AppKit;

namespace {

Foundation::UserDefaults& defaults() { return Foundation::UserDefaults::standard(); }

const bool kRegistered = [] {
    Foundation::registerCodingClass("MASShortcut",
                                    [](Foundation::KeyedUnarchiver& coder) -> std::shared_ptr<Foundation::Coding> {
                                        const auto code = coder.decodeIntegerForKey("KeyCode");
                                        const auto flags = coder.decodeIntegerForKey("ModifierFlags");
                                        if (code < 0 || code > 0xffff || flags < 0) return nullptr;
                                        return std::make_shared<MASShortcut>(static_cast<std::uint16_t>(code),
                                                                             static_cast<NSEventModifierFlags>(flags));
                                    });
    return true;
}();

}  // namespace

// --- shortcut -----------------------------------------------------------------------------

void MASShortcut::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    coder.encode("KeyCode", static_cast<std::int64_t>(keyCode_));
    coder.encode("ModifierFlags", static_cast<std::int64_t>(modifierFlags_));
}

std::optional<Foundation::Data> MASShortcut::archivedData() const {
    (void)kRegistered;
    auto copy = std::make_shared<MASShortcut>(*this);
    return Foundation::KeyedArchiver::archivedData(Foundation::Value(copy));
}

std::shared_ptr<MASShortcut> MASShortcut::fromData(const Foundation::Data& data) {
    (void)kRegistered;
    return Foundation::KeyedUnarchiver::unarchivedObject<MASShortcut>(data);
}

// --- binder -------------------------------------------------------------------------------

MASShortcutBinder& MASShortcutBinder::shared() {
    static MASShortcutBinder binder;
    return binder;
}

MASShortcutBinder::~MASShortcutBinder() = default;

void MASShortcutBinder::bindShortcutWithDefaultsKey(const std::string& key, std::function<void()> action) {
    breakBindingWithDefaultsKey(key);
    auto& b = bindings_[key];
    b.action = std::move(action);
    b.observed = &defaults();
    b.observer = defaults().addObserver(key, [this, key](const Foundation::Value&, const Foundation::Value&) {
        if (bindings_.count(key)) rebind(key);
    });
    rebind(key);
}

void MASShortcutBinder::rebind(const std::string& key) {
    auto& b = bindings_.at(key);
    if (b.hotKey) HotKeyBinder::shared().unregisterHotKey(*b.hotKey);
    b.hotKey.reset();
    b.error.clear();
    // Data that is not a shortcut binds nothing; the stored value stays.
    auto shortcut = ZNLShortcutController::shortcutForKey(key);
    if (!shortcut) return;
    auto action = b.action;
    auto result = HotKeyBinder::shared().registerHotKey(shortcut->keyCode(), shortcut->modifierFlags(), [action] {
        if (action) action();
    });
    if (result.id) {
        b.hotKey = result.id;
        return;
    }
    b.error = result.error.empty() ? "the shortcut is taken" : result.error;
    Foundation::systemLog("The shortcut " + shortcut->modifierFlagsString() + shortcut->keyCodeString() + " (" + key +
                          ") cannot be used: " + b.error);
}

void MASShortcutBinder::breakBindingWithDefaultsKey(const std::string& key) {
    auto it = bindings_.find(key);
    if (it == bindings_.end()) return;
    if (it->second.hotKey) HotKeyBinder::shared().unregisterHotKey(*it->second.hotKey);
    if (it->second.observed == &defaults()) defaults().removeObserver(it->second.observer);
    bindings_.erase(it);
}

bool MASShortcutBinder::isBound(const std::string& key) const {
    auto it = bindings_.find(key);
    return it != bindings_.end() && it->second.hotKey.has_value();
}

std::string MASShortcutBinder::lastError(const std::string& key) const {
    auto it = bindings_.find(key);
    return it == bindings_.end() ? std::string() : it->second.error;
}

void MASShortcutBinder::resetForTests() {
    while (!bindings_.empty()) breakBindingWithDefaultsKey(bindings_.begin()->first);
}

// --- controller ---------------------------------------------------------------------------

ZNLShortcutController& ZNLShortcutController::shared() {
    static ZNLShortcutController controller;
    return controller;
}

void ZNLShortcutController::registerDefaults() {
    // Registering again (a second launch in one process) replaces the observations.
    removeObservations();
    observed_ = &defaults();
    auto magnifier = MASShortcut::shortcutWithKeyCode(kMagnifierKeyCode, kDefaultModifiers)->archivedData();
    auto library = MASShortcut::shortcutWithKeyCode(kLibraryKeyCode, kDefaultModifiers)->archivedData();
    Foundation::Dictionary registered{{"libraryShortcutEnabled", true}, {"magnifierShortcutEnabled", true}};
    if (magnifier) registered.set("magnifierShortcut", *magnifier);
    if (library) registered.set("libraryShortcut", *library);
    defaults().registerDefaults(registered);

    for (const char* key : {"libraryShortcutEnabled", "magnifierShortcutEnabled"}) {
        const std::string k = key;
        observers_.push_back(defaults().addObserver(
            k, [this, k](const Foundation::Value&, const Foundation::Value& value) { enabledChanged(k, value); },
            true));
    }
    observableKeyPath_ = std::string("values.") + "libraryShortcut";
    magnifierObservableKeyPath_ = std::string("values.") + "magnifierShortcut";
    observers_.push_back(defaults().addObserver(
        "libraryShortcut",
        [this](const Foundation::Value&, const Foundation::Value&) {
            if (libraryShortcutUpdateAction) libraryShortcutUpdateAction();
        },
        true));
    observers_.push_back(defaults().addObserver(
        "magnifierShortcut",
        [this](const Foundation::Value&, const Foundation::Value&) {
            if (magnifierShortcutUpdateAction) magnifierShortcutUpdateAction();
        },
        true));
}

void ZNLShortcutController::enabledChanged(const std::string& key, const Foundation::Value&) {
    const bool on = defaults().boolForKey(key);
    auto& binder = MASShortcutBinder::shared();
    if (key == "libraryShortcutEnabled") {
        if (on)
            binder.bindShortcutWithDefaultsKey("libraryShortcut", [this] {
                if (libraryAction) libraryAction();
            });
        else
            binder.breakBindingWithDefaultsKey("libraryShortcut");
    } else if (key == "magnifierShortcutEnabled") {
        if (on)
            binder.bindShortcutWithDefaultsKey("magnifierShortcut", [this] {
                if (magnifierAction) magnifierAction();
            });
        else
            binder.breakBindingWithDefaultsKey("magnifierShortcut");
    }
}

void ZNLShortcutController::removeObservations() {
    if (observed_ == &defaults())
        for (auto id : observers_) defaults().removeObserver(id);
    observed_ = nullptr;
    observers_.clear();
    MASShortcutBinder::shared().resetForTests();
}

void ZNLShortcutController::resetForTests() {
    removeObservations();
    magnifierAction = libraryAction = libraryShortcutUpdateAction = magnifierShortcutUpdateAction = nullptr;
}

std::shared_ptr<MASShortcut> ZNLShortcutController::shortcutWithData(const std::optional<Foundation::Data>& data) {
    if (!data) return nullptr;
    return MASShortcut::fromData(*data);
}

std::shared_ptr<MASShortcut> ZNLShortcutController::shortcutForKey(const std::string& key) {
    auto value = defaults().objectForKey(key);
    if (!value.isData()) return nullptr;
    return shortcutWithData(value.asData());
}

std::string ZNLShortcutController::shortcutStringForKey(const std::string& key) {
    auto s = shortcutForKey(key);
    return s ? s->modifierFlagsString() + s->keyCodeString() : std::string();
}

std::optional<std::string> ZNLShortcutController::magnifierShortcutKeyCode() {
    auto s = shortcutForKey("magnifierShortcut");
    return s ? std::optional<std::string>(s->keyCodeString()) : std::nullopt;
}

std::optional<std::string> ZNLShortcutController::libraryShortcutKeyCode() {
    auto s = shortcutForKey("libraryShortcut");
    return s ? std::optional<std::string>(s->keyCodeString()) : std::nullopt;
}

NSEventModifierFlags ZNLShortcutController::magnifierShortcutModifiers() {
    auto s = shortcutForKey("magnifierShortcut");
    return s ? s->modifierFlags() : 0;
}

NSEventModifierFlags ZNLShortcutController::libraryShortcutModifiers() {
    auto s = shortcutForKey("libraryShortcut");
    return s ? s->modifierFlags() : 0;
}
