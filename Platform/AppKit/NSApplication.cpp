#include "Platform/AppKit/NSApplication.h"

#include <algorithm>

#include "Platform/AppKit/Dragging.h"
#include "Platform/AppKit/HeadlessBackend.h"
#include "Platform/AppKit/HotKeys.h"
#include "Platform/AppKit/NSAlert.h"
#include "Platform/AppKit/NSMenu.h"
#include "Platform/AppKit/NSPasteboard.h"
#include "Platform/AppKit/NSStatusBar.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/NotificationCenter.h"

namespace AppKit {

// --- backend -----------------------------------------------------------------------

namespace {
std::shared_ptr<DisplayBackend>& backendSlot() {
    static std::shared_ptr<DisplayBackend> b = std::make_shared<HeadlessBackend>();
    return b;
}
}  // namespace

DisplayBackend& displayBackend() { return *backendSlot(); }
void setDisplayBackend(std::shared_ptr<DisplayBackend> backend) {
    backendSlot() = backend ? std::move(backend) : std::make_shared<HeadlessBackend>();
}

std::vector<CGRect> DisplayBackend::visibleScreenFrames() const {
    auto frames = screenFrames();
    if (!frames.empty()) frames[0].size.height -= NSStatusBar::systemStatusBar().thickness();
    return frames;
}

// --- screens -------------------------------------------------------------------------

std::vector<std::shared_ptr<NSScreen>> NSScreen::screens() {
    auto frames = displayBackend().screenFrames();
    auto visible = displayBackend().visibleScreenFrames();
    std::vector<std::shared_ptr<NSScreen>> out;
    for (std::size_t i = 0; i < frames.size(); ++i)
        out.push_back(std::make_shared<NSScreen>(frames[i], i < visible.size() ? visible[i] : frames[i]));
    return out;
}

std::shared_ptr<NSScreen> NSScreen::mainScreen() {
    auto list = screens();
    if (list.empty()) return nullptr;
    if (auto i = displayBackend().mainScreenIndex(); i && *i < list.size()) return list[*i];
    if (auto key = NSApplication::shared().keyWindow()) {
        CGPoint c{key->frame().midX(), key->frame().midY()};
        for (auto& s : list)
            if (s->frame().contains(c)) return s;
    }
    return list.front();
}

// --- cursor ---------------------------------------------------------------------------

namespace {
int g_hideCount = 0;
}

void NSCursor::hide() {
    if (++g_hideCount == 1) displayBackend().cursorHiddenChanged(true);
}

void NSCursor::unhide() {
    if (g_hideCount == 0) return;
    if (--g_hideCount == 0) displayBackend().cursorHiddenChanged(false);
}

int NSCursor::hideCount() { return g_hideCount; }
void NSCursor::resetForTests() { g_hideCount = 0; }

// --- workspace ---------------------------------------------------------------------------

NSWorkspace& NSWorkspace::sharedWorkspace() {
    static NSWorkspace w;
    return w;
}

bool NSWorkspace::openURL(const std::string& url) {
    if (url.empty()) return false;
    displayBackend().openURL(url);
    return true;
}

// --- application ---------------------------------------------------------------------------

NSApplication::NSApplication() = default;

NSApplication& NSApplication::shared() {
    static NSApplication* app = new NSApplication();
    return *app;
}

void NSApplication::resetForTests() {
    auto& app = shared();
    if (auto drag = NSDraggingSession::current()) drag->cancel();
    MenuTracker::shared().reset();
    for (auto& w : app.windows()) w->orderOut();
    app.onScreen_.clear();
    app.allWindows_.clear();
    app.keyWindow_.reset();
    app.mainWindow_.reset();
    app.mouseDownWindow_.reset();
    app.currentEvent_.reset();
    app.delegate.reset();
    app.strongDelegate.reset();
    app.launched_ = app.terminated_ = app.active_ = app.hidden_ = false;
    app.hiddenWindows_.clear();
    app.remoteTypes_ = 0;
    app.mouseLocation_ = {};
    app.modifiers_ = 0;
    app.pressedButtons_ = 0;
    app.inside_.clear();
    app.terminationHandler = nullptr;
    NSStatusBar::resetForTests();
    NSEvent::resetMonitors();
    NSCursor::resetForTests();
    HotKeyBinder::shared().resetForTests();
}

std::shared_ptr<NSApplicationDelegate> NSApplication::delegateRef() const {
    if (strongDelegate) return strongDelegate;
    return delegate.lock();
}

void NSApplication::finishLaunching() {
    if (launched_) return;
    launched_ = true;
    if (auto d = delegateRef()) d->applicationWillFinishLaunching();
    if (auto d = delegateRef()) d->applicationDidFinishLaunching();
    Foundation::NotificationCenter::defaultCenter().post(NSApplicationDidFinishLaunchingNotification);
}

void NSApplication::terminate(const std::shared_ptr<void>&) {
    if (terminated_) return;
    terminated_ = true;
    Foundation::NotificationCenter::defaultCenter().post(NSApplicationWillTerminateNotification);
    if (auto d = delegateRef()) d->applicationWillTerminate();
    if (terminationHandler)
        terminationHandler();
    else
        Foundation::RunLoop::main().stop();
}

void NSApplication::activateIgnoringOtherApps(bool) {
    if (active_) return;
    active_ = true;
    if (auto d = delegateRef()) d->applicationDidBecomeActive();
    Foundation::NotificationCenter::defaultCenter().post(NSApplicationDidBecomeActiveNotification);
}

void NSApplication::deactivate() {
    if (!active_) return;
    active_ = false;
    for (auto& w : windowsInScreenOrder())
        if (w->hidesOnDeactivate) w->orderOut();
    if (auto d = delegateRef()) d->applicationDidResignActive();
    Foundation::NotificationCenter::defaultCenter().post(NSApplicationDidResignActiveNotification);
}

void NSApplication::hide(const std::shared_ptr<void>&) {
    if (hidden_) return;
    if (auto d = delegateRef()) d->applicationWillHide();
    hidden_ = true;
    hiddenWindows_.clear();
    for (auto& w : windowsInScreenOrder())
        if (w->level() < NSStatusWindowLevel) {
            hiddenWindows_.push_back(w);
            w->orderOut();
        }
    deactivate();
    if (auto d = delegateRef()) d->applicationDidHide();
}

void NSApplication::unhide(const std::shared_ptr<void>&) {
    if (!hidden_) return;
    if (auto d = delegateRef()) d->applicationWillUnhide();
    hidden_ = false;
    auto windows = std::move(hiddenWindows_);
    hiddenWindows_.clear();
    for (auto& w : windows)
        if (!w->isClosed()) w->orderFront();
    if (auto d = delegateRef()) d->applicationDidUnhide();
}

std::vector<std::shared_ptr<NSWindow>> NSApplication::windows() const {
    std::vector<std::shared_ptr<NSWindow>> out;
    for (auto& w : allWindows_)
        if (auto s = w.lock()) out.push_back(s);
    return out;
}

std::vector<std::shared_ptr<NSWindow>> NSApplication::windowsInScreenOrder() const {
    auto list = onScreen_;
    std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
        if (a->level() != b->level()) return a->level() < b->level();
        return a->orderStamp < b->orderStamp;
    });
    return list;
}

std::shared_ptr<NSWindow> NSApplication::windowWithWindowNumber(long number) const {
    for (auto& w : windows())
        if (w->windowNumber() == number) return w;
    return nullptr;
}

std::shared_ptr<NSWindow> NSApplication::windowAtScreenPoint(CGPoint p) const {
    auto list = windowsInScreenOrder();
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        auto& w = *it;
        if (w->ignoresMouseEvents || w->alphaValue() <= 0) continue;
        if (w->frame().contains(p)) return w;
    }
    return nullptr;
}

void NSApplication::windowRegistered(const std::shared_ptr<NSWindow>& window) {
    for (auto& w : allWindows_)
        if (w.lock() == window) return;
    allWindows_.erase(std::remove_if(allWindows_.begin(), allWindows_.end(), [](auto& w) { return w.expired(); }),
                      allWindows_.end());
    allWindows_.push_back(window);
}

void NSApplication::windowOrderedFront(const std::shared_ptr<NSWindow>& window) {
    window->orderStamp = ++orderCounter_;
    if (std::find(onScreen_.begin(), onScreen_.end(), window) == onScreen_.end()) onScreen_.push_back(window);
}

void NSApplication::windowOrderedOut(NSWindow& window) {
    auto keep = window.self();
    onScreen_.erase(std::remove_if(onScreen_.begin(), onScreen_.end(), [&](auto& w) { return w.get() == &window; }),
                    onScreen_.end());
    if (keyWindow_.lock().get() == &window) {
        keyWindow_.reset();
        window.resignKeyWindow();
        if (auto d = window.delegate.lock()) d->windowDidResignKey(window);
        // The frontmost remaining window that can be key takes over.
        auto list = windowsInScreenOrder();
        for (auto it = list.rbegin(); it != list.rend(); ++it)
            if ((*it)->canBecomeKeyWindow() && (*it)->level() < NSPopUpMenuWindowLevel) {
                setKeyWindow(*it);
                break;
            }
    }
    if (mainWindow_.lock().get() == &window) mainWindow_.reset();
}

void NSApplication::setKeyWindow(const std::shared_ptr<NSWindow>& window) {
    auto old = keyWindow_.lock();
    if (old == window) return;
    keyWindow_ = window;
    if (old) {
        old->resignKeyWindow();
        if (auto d = old->delegate.lock()) d->windowDidResignKey(*old);
    }
    if (window) {
        window->becomeKeyWindow();
        if (auto d = window->delegate.lock()) d->windowDidBecomeKey(*window);
    }
}

void NSApplication::setMainWindow(const std::shared_ptr<NSWindow>& window) { mainWindow_ = window; }

bool NSApplication::presentError(const Foundation::Error& error) {
    NSAlert alert;
    alert.alertStyle = NSAlertStyle::warning;
    alert.messageText = error.localizedDescription();
    alert.addButtonWithTitle("OK");
    alert.runModal();
    return false;
}

void NSApplication::registerForRemoteNotificationTypes(unsigned long types) { remoteTypes_ |= types; }

void NSApplication::beep() { displayBackend().beep(); }

// --- tracking areas ----------------------------------------------------------------------------

namespace {
void gatherAreas(NSView& v, std::vector<std::pair<NSView*, std::shared_ptr<NSTrackingArea>>>& out) {
    // Hidden views keep their areas (the pointer is never inside them), so they see the exit.
    if (v.trackingAreasNeedUpdate && !v.isHiddenOrHasHiddenAncestor()) {
        v.trackingAreasNeedUpdate = false;
        v.updateTrackingAreas();
    }
    for (auto& a : v.trackingAreas()) out.push_back({&v, a});
    for (auto& s : std::vector<std::shared_ptr<NSView>>(v.subviews())) gatherAreas(*s, out);
}
}  // namespace

void NSApplication::updateTracking() {
    struct Candidate {
        std::shared_ptr<NSWindow> window;
        NSView* view;
        std::shared_ptr<NSTrackingArea> area;
        bool inside;
    };
    std::vector<Candidate> all;
    auto top = windowAtScreenPoint(mouseLocation_);
    for (auto& w : windowsInScreenOrder()) {
        if (!w->contentView()) continue;
        std::vector<std::pair<NSView*, std::shared_ptr<NSTrackingArea>>> areas;
        gatherAreas(*w->contentView(), areas);
        for (auto& [view, area] : areas) {
            const auto opts = area->options();
            bool active = (opts & NSTrackingActiveAlways) || ((opts & NSTrackingActiveInActiveApp) && active_) ||
                          ((opts & NSTrackingActiveInKeyWindow) && w->isKeyWindow() && active_) ||
                          ((opts & NSTrackingActiveWhenFirstResponder) && w->firstResponder() == view);
            if (!active) continue;
            CGRect r = (opts & NSTrackingInVisibleRect) ? view->visibleRect() : area->rect();
            CGRect inWindow = view->convertRectToView(r, nullptr);
            CGPoint p = w->convertPointFromScreen(mouseLocation_);
            bool inside = w == top && inWindow.contains(p) && !view->isHiddenOrHasHiddenAncestor();
            // During a drag only the view the press began in keeps seeing enter and exit.
            if (!(opts & NSTrackingEnabledDuringMouseDrag) && pressedButtons_ && inside != area->inside &&
                view != w->mouseDownView())
                inside = area->inside;
            all.push_back({w, view, area, inside});
        }
    }
    // A replaced area (same owner and rectangle) takes over the state of the one it replaced.
    std::vector<std::weak_ptr<NSTrackingArea>> stillInside;
    for (auto& a : inside_) {
        bool present = std::any_of(all.begin(), all.end(), [&](auto& c) { return c.area == a; });
        if (present) continue;
        for (auto& c : all)
            if (!c.area->inside && c.area->owner() == a->owner() && c.area->rect() == a->rect() &&
                c.area->options() == a->options()) {
                c.area->inside = true;
                break;
            }
        a->inside = false;
    }
    std::vector<Candidate> exits, enters, moves;
    for (auto& c : all) {
        if (c.area->inside && !c.inside)
            exits.push_back(c);
        else if (!c.area->inside && c.inside && !(c.area->options() & NSTrackingAssumeInside && false))
            enters.push_back(c);
        else if (c.inside)
            moves.push_back(c);
    }
    auto send = [&](const Candidate& c, NSEventType type) {
        auto e = std::make_shared<NSEvent>();
        e->type = type;
        e->window = c.window;
        e->locationInWindow = c.window->convertPointFromScreen(mouseLocation_);
        e->modifierFlags = modifiers_;
        e->timestamp = Foundation::clock().uptime();
        e->trackingArea = c.area;
        auto owner = c.area->owner();
        if (!owner) return;
        if (type == NSEventType::MouseEntered)
            owner->mouseEntered(*e);
        else if (type == NSEventType::MouseExited)
            owner->mouseExited(*e);
        else
            owner->mouseMoved(*e);
    };
    for (auto& c : exits) {
        c.area->inside = false;
        if (c.area->options() & NSTrackingMouseEnteredAndExited) send(c, NSEventType::MouseExited);
    }
    for (auto& c : enters) {
        c.area->inside = true;
        if (c.area->options() & NSTrackingMouseEnteredAndExited) send(c, NSEventType::MouseEntered);
    }
    inside_.clear();
    for (auto& c : all)
        if (c.area->inside) inside_.push_back(c.area);
    lastMovedAreas_.clear();
    for (auto& c : moves)
        if (c.area->options() & NSTrackingMouseMoved) lastMovedAreas_.push_back(c.area);
}

// --- input door -------------------------------------------------------------------------------------

std::shared_ptr<NSEvent> NSApplication::makeMouseEvent(NSEventType type, CGPoint screenPoint,
                                                       const std::shared_ptr<NSWindow>& window, long clickCount,
                                                       NSEventModifierFlags modifiers, int button) {
    auto e = std::make_shared<NSEvent>();
    e->type = type;
    e->window = window;
    e->locationInWindow = window ? window->convertPointFromScreen(screenPoint) : screenPoint;
    e->modifierFlags = modifiers;
    e->clickCount = clickCount;
    e->buttonNumber = button;
    e->timestamp = Foundation::clock().uptime();
    e->deltaX = screenPoint.x - mouseLocation_.x;
    e->deltaY = mouseLocation_.y - screenPoint.y;
    return e;
}

void NSApplication::dispatch(const std::shared_ptr<NSEvent>& event, const std::shared_ptr<NSWindow>& window) {
    if (!window) {
        // Input meant for another program: only the global monitors see it.
        NSEvent::runGlobalMonitors(*event);
        return;
    }
    currentEvent_ = event;
    auto passed = NSEvent::runLocalMonitors(event);
    if (passed) {
        auto target = passed->windowRef() ? passed->windowRef() : window;
        if (!target->isClosed()) target->sendEvent(passed);
    }
    currentEvent_.reset();
}

void NSApplication::inputMouseMoved(CGPoint p, NSEventModifierFlags modifiers) {
    auto window = windowAtScreenPoint(p);
    auto event = makeMouseEvent(NSEventType::MouseMoved, p, window, 0, modifiers, 0);
    mouseLocation_ = p;
    modifiers_ = modifiers;
    if (MenuTracker::shared().isTracking()) {
        MenuTracker::shared().mouseMoved(p);
        return;
    }
    updateTracking();
    for (auto& weak : std::vector<std::weak_ptr<NSTrackingArea>>(lastMovedAreas_))
        if (auto a = weak.lock())
            if (auto owner = a->owner()) {
                auto e = std::make_shared<NSEvent>(*event);
                e->trackingArea = a;
                owner->mouseMoved(*e);
            }
    dispatch(event, window);
}

void NSApplication::inputMouseDragged(CGPoint p, int button, NSEventModifierFlags modifiers) {
    auto window = mouseDownWindow_.lock();
    NSEventType type = button == 0   ? NSEventType::LeftMouseDragged
                       : button == 1 ? NSEventType::RightMouseDragged
                                     : NSEventType::OtherMouseDragged;
    auto event = makeMouseEvent(type, p, window, 0, modifiers, button);
    mouseLocation_ = p;
    modifiers_ = modifiers;
    if (MenuTracker::shared().isTracking()) {
        MenuTracker::shared().mouseDragged(event, p);
        return;
    }
    if (dragHandler && dragHandler(*event, p)) return;
    updateTracking();
    dispatch(event, window ? window : nullptr);
}

void NSApplication::inputMouseDown(CGPoint p, int button, long clickCount, NSEventModifierFlags modifiers) {
    mouseLocation_ = p;
    modifiers_ = modifiers;
    pressedButtons_ |= 1UL << button;
    auto window = windowAtScreenPoint(p);
    NSEventType type = button == 0   ? NSEventType::LeftMouseDown
                       : button == 1 ? NSEventType::RightMouseDown
                                     : NSEventType::OtherMouseDown;
    auto event = makeMouseEvent(type, p, window, clickCount, modifiers, button);
    if (MenuTracker::shared().isTracking() && MenuTracker::shared().mouseDown(event, p)) return;
    mouseDownWindow_ = window;
    if (!window) {
        // A click in another program takes the focus from this one.
        deactivate();
    } else if (!active_) {
        auto panel = window->styleMask() & NSWindowStyleMaskNonactivatingPanel;
        if (!panel && window->level() < NSStatusWindowLevel) activateIgnoringOtherApps(true);
    }
    dispatch(event, window);
}

void NSApplication::inputMouseUp(CGPoint p, int button, long clickCount, NSEventModifierFlags modifiers) {
    mouseLocation_ = p;
    modifiers_ = modifiers;
    pressedButtons_ &= ~(1UL << button);
    auto window = mouseDownWindow_.lock();
    if (!window) window = windowAtScreenPoint(p);
    NSEventType type = button == 0   ? NSEventType::LeftMouseUp
                       : button == 1 ? NSEventType::RightMouseUp
                                     : NSEventType::OtherMouseUp;
    auto event = makeMouseEvent(type, p, window, clickCount, modifiers, button);
    if (MenuTracker::shared().isTracking() && MenuTracker::shared().mouseUp(event, p)) return;
    if (dropHandler && dropHandler(*event, p)) {
        mouseDownWindow_.reset();
        return;
    }
    dispatch(event, window);
    mouseDownWindow_.reset();
    updateTracking();
}

void NSApplication::inputScrollWheel(CGPoint p, double dx, double dy, NSEventModifierFlags modifiers) {
    mouseLocation_ = p;
    auto window = windowAtScreenPoint(p);
    auto event = makeMouseEvent(NSEventType::ScrollWheel, p, window, 0, modifiers, 0);
    event->deltaX = event->scrollingDeltaX = dx;
    event->deltaY = event->scrollingDeltaY = dy;
    if (MenuTracker::shared().isTracking()) return;
    dispatch(event, window);
}

namespace {
std::shared_ptr<NSEvent> keyEvent(NSEventType type, std::uint16_t keyCode, const std::string& characters,
                                  NSEventModifierFlags modifiers, const std::shared_ptr<NSWindow>& window) {
    auto e = std::make_shared<NSEvent>();
    e->type = type;
    e->keyCode = keyCode;
    e->characters = characters;
    e->charactersIgnoringModifiers = characters;
    e->modifierFlags = modifiers;
    e->window = window;
    e->locationInWindow = window ? window->convertPointFromScreen(NSApplication::shared().mouseLocation())
                                 : NSApplication::shared().mouseLocation();
    e->timestamp = Foundation::clock().uptime();
    return e;
}
}  // namespace

void NSApplication::inputKeyDown(std::uint16_t keyCode, const std::string& characters, NSEventModifierFlags modifiers) {
    modifiers_ = modifiers;
    auto window = active_ ? keyWindow() : nullptr;
    auto event = keyEvent(NSEventType::KeyDown, keyCode, characters, modifiers, window);
    if (auto drag = NSDraggingSession::current(); drag && keyCode == kVK_Escape) {
        drag->cancel();
        return;
    }
    if (MenuTracker::shared().isTracking()) {
        MenuTracker::shared().keyDown(*event);
        return;
    }
    if (!active_) {
        NSEvent::runGlobalMonitors(*event);
        return;
    }
    currentEvent_ = event;
    auto passed = NSEvent::runLocalMonitors(event);
    if (passed && window && !window->isClosed()) window->sendEvent(passed);
    currentEvent_.reset();
}

void NSApplication::inputKeyUp(std::uint16_t keyCode, const std::string& characters, NSEventModifierFlags modifiers) {
    modifiers_ = modifiers;
    auto window = active_ ? keyWindow() : nullptr;
    auto event = keyEvent(NSEventType::KeyUp, keyCode, characters, modifiers, window);
    if (!active_) {
        NSEvent::runGlobalMonitors(*event);
        return;
    }
    auto passed = NSEvent::runLocalMonitors(event);
    if (passed && window) window->sendEvent(passed);
}

void NSApplication::inputHotKeyPressed(std::uint16_t keyCode, NSEventModifierFlags modifiers) {
    HotKeyBinder::shared().hotKeyPressed(keyCode, modifiers);
}

void NSApplication::inputMenuItemChosen(const std::shared_ptr<NSMenuItem>& item) {
    if (!item || !item->enabled || item->isSeparatorItem()) return;
    MenuTracker::shared().choose(item);
}

void NSApplication::inputStatusItemClicked(const std::shared_ptr<NSStatusItem>& item, int button) {
    if (item) item->click(button);
}

void NSApplication::inputPasteboardChangedByOtherProgram(const std::string& text) {
    NSPasteboard::generalPasteboard()->writeForOtherProgram(text);
}

void NSApplication::inputRemoteNotification(const Foundation::Dictionary& userInfo) {
    if (auto d = delegateRef()) d->didReceiveRemoteNotification(userInfo);
}

}  // namespace AppKit
