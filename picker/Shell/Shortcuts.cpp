// The delegate's side of the global shortcuts and the outside-click monitor.

#include <cctype>

#include "Platform/Foundation/UserDefaults.h"
#include "picker/Shell/AppDelegate.h"
#include "picker/Shell/ZNLShortcutController.h"

using namespace AppKit;

void AppDelegate::setUpShortcuts() {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    constexpr NSEventMask kMouseDowns =
        NSEventMaskLeftMouseDown | NSEventMaskRightMouseDown | NSEventMaskOtherMouseDown;
    if (clickMonitor) NSEvent::removeMonitor(clickMonitor);
    clickMonitor = NSEvent::addGlobalMonitorForEventsMatchingMask(kMouseDowns, [weak](const NSEvent&) {
        if (auto self = weak.lock()) self->handleOutsideClick();
    });
    auto& c = ZNLShortcutController::shared();
    // Weak: the shared controller outlives any one delegate.
    c.libraryAction = [weak] {
        auto self = weak.lock();
        if (!self) return;
        if (self->animationState == ZNLAnimationState::idle) self->toggleLibrary();
    };
    c.magnifierAction = [weak] {
        auto self = weak.lock();
        if (!self) return;
        if (self->isLibraryShown()) {
            if (auto shown = libraryShownRect()) self->slideWindow(self->window, *shown, *libraryHiddenRect());
            self->animationState = ZNLAnimationState::hide;
        }
        self->screenPicker()->start(std::weak_ptr<ZNLMousePointerDelegate>(self));
    };
    c.libraryShortcutUpdateAction = [weak] {
        auto self = weak.lock();
        if (!self) return;
        applyShortcut(ZNLShortcutController::libraryShortcutKeyCode(),
                      ZNLShortcutController::libraryShortcutModifiers(), self->libraryMenuItem.lock());
    };
    c.magnifierShortcutUpdateAction = [weak] {
        auto self = weak.lock();
        if (!self) return;
        applyShortcut(ZNLShortcutController::magnifierShortcutKeyCode(),
                      ZNLShortcutController::magnifierShortcutModifiers(), self->magnifierMenuItem.lock());
    };
    c.registerDefaults();
}

void AppDelegate::applyShortcut(const std::optional<std::string>& keyCode, NSEventModifierFlags modifiers,
                                const std::shared_ptr<NSMenuItem>& item) {
    if (!item) return;
    if (keyCode) {
        std::string lower = *keyCode;
        for (auto& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        item->keyEquivalent = lower;
    }
    item->keyEquivalentModifierMask = modifiers;
}

void AppDelegate::handleOutsideClick() {
    if (isLibraryShown() && Foundation::UserDefaults::standard().boolForKey("dismissLibraryOnClick")) toggleLibrary();
}
