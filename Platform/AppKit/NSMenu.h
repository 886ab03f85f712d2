#pragma once
// Menus and menu items, and menu tracking.
//
// Tracking does not block: opening a menu (from the status item, a pop-up or
// a context menu) switches the main run loop to the event-tracking mode,
// tells the delegate menuWillOpen, and shows the menu in a window of pop-up
// menu level. Input then goes to the menu until an item is chosen, the user
// clicks elsewhere or presses Escape, or cancelTracking is called: every open
// menu closes (menuDidClose, innermost first), the run loop returns to the
// default mode, and only then a chosen item's action is sent.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AppKit/NSFont.h"
#include "Platform/AppKit/NSImage.h"
#include "Platform/AppKit/NSView.h"

namespace AppKit {

class NSMenu;
class NSMenuItem;
class NSWindow;

class NSMenuDelegate {
public:
    virtual ~NSMenuDelegate() = default;
    virtual void menuWillOpen(NSMenu&) {}
    virtual void menuDidClose(NSMenu&) {}
    virtual void menuNeedsUpdate(NSMenu&) {}
};

class NSMenuItem : public std::enable_shared_from_this<NSMenuItem> {
public:
    using Action = std::function<void(NSMenuItem& sender)>;
    NSMenuItem() = default;
    NSMenuItem(std::string title, Action action, std::string keyEquivalent)
        : title(std::move(title)), action(std::move(action)), keyEquivalent(std::move(keyEquivalent)) {}
    static std::shared_ptr<NSMenuItem> make(std::string title, Action action = nullptr,
                                            std::string keyEquivalent = {}) {
        return std::make_shared<NSMenuItem>(std::move(title), std::move(action), std::move(keyEquivalent));
    }
    static std::shared_ptr<NSMenuItem> separatorItem();
    virtual ~NSMenuItem() = default;

    std::string title;
    std::optional<NSAttributedString> attributedTitle;  // shown instead of the title when set
    NSImageRef image;
    NSImageRef onStateImage, offStateImage;
    long tag = 0;
    NSControlStateValue state = NSControlStateValueOff;
    Action action;
    std::string actionName;  // the action's selector text, for diagnostics and tests
    std::string keyEquivalent;
    // A menu's own key equivalents use Control, the primary modifier of Linux
    // desktops ("Ctrl+N"); Command is the Super key.
    NSEventModifierFlags keyEquivalentModifierMask = NSEventModifierFlagControl;
    bool enabled = true;
    bool hidden = false;
    long indentationLevel = 0;
    std::string toolTip;
    std::shared_ptr<void> representedObject;
    // A view shown instead of the title; it gets the mouse events over it.
    NSViewRef view;

    bool isSeparatorItem() const { return separator_; }
    bool hasSubmenu() const { return submenu_ != nullptr; }
    const std::shared_ptr<NSMenu>& submenu() const { return submenu_; }
    void setSubmenu(std::shared_ptr<NSMenu> submenu);
    NSMenu* menu() const { return menu_; }
    bool isHighlighted() const;
    // The title as shown (the attributed title's text when set).
    std::string displayTitle() const;

private:
    friend class NSMenu;
    bool separator_ = false;
    std::shared_ptr<NSMenu> submenu_;
    NSMenu* menu_ = nullptr;
};

using NSMenuItemRef = std::shared_ptr<NSMenuItem>;

class NSMenu : public std::enable_shared_from_this<NSMenu> {
public:
    explicit NSMenu(std::string title = {}) : title(std::move(title)) {}
    static std::shared_ptr<NSMenu> make(std::string title = {}) { return std::make_shared<NSMenu>(std::move(title)); }
    ~NSMenu();

    std::string title;
    std::weak_ptr<NSMenuDelegate> delegate;
    bool autoenablesItems = true;
    double minimumWidth = 0;
    NSFontRef font;

    const std::vector<NSMenuItemRef>& itemArray() const { return items_; }
    long numberOfItems() const { return static_cast<long>(items_.size()); }
    void addItem(NSMenuItemRef item);
    NSMenuItemRef addItemWithTitle(std::string title, NSMenuItem::Action action, std::string keyEquivalent);
    // An index past the end appends.
    void insertItem(NSMenuItemRef item, long index);
    void removeItem(const NSMenuItemRef& item);
    void removeItemAtIndex(long index);
    void removeAllItems();
    NSMenuItemRef itemAtIndex(long index) const;
    NSMenuItemRef itemWithTag(long tag) const;
    NSMenuItemRef itemWithTitle(const std::string& title) const;
    long indexOfItem(const NSMenuItemRef& item) const;  // -1 when absent
    long indexOfItemWithTag(long tag) const;
    NSMenu* supermenu() const { return supermenu_; }

    // --- tracking
    bool isOpen() const;
    NSMenuItemRef highlightedItem() const;
    // Ends tracking of the menu (and the menus it belongs to) without a choice.
    void cancelTracking();
    void cancelTrackingWithoutAnimation() { cancelTracking(); }
    // Opens the menu so that `item` (or the top, without one) sits at
    // `location` in the view's coordinates (screen coordinates without a
    // view). Returns at once; true when the menu opened.
    bool popUpMenuPositioningItem(const NSMenuItemRef& item, CGPoint location, const NSView* view);
    // Opens a contextual menu at the event's location.
    static void popUpContextMenu(const std::shared_ptr<NSMenu>& menu, const NSEvent& event, NSView* view);
    // Opens the menu with its top-left corner at a screen point.
    void openAtScreenPoint(CGPoint topLeft);

    // Sends the item's action as a choice would (tracking closed first).
    void performActionForItemAtIndex(long index);
    // The key equivalent of an item among this menu and its submenus.
    bool performKeyEquivalent(const NSEvent& event);

    // Layout of an open menu's window (window coordinates), for drawing and tests.
    CGRect rectOfItemAtIndex(long index) const;
    std::shared_ptr<NSWindow> menuWindow() const { return window_.lock(); }
    CGSize layoutSize() const;

private:
    friend class MenuTracker;
    friend class NSMenuItem;
    std::vector<NSMenuItemRef> items_;
    NSMenu* supermenu_ = nullptr;
    std::weak_ptr<NSWindow> window_;
};

using NSMenuRef = std::shared_ptr<NSMenu>;

// The one menu tracking session of the application.
class MenuTracker {
public:
    static MenuTracker& shared();
    bool isTracking() const { return !stack_.empty(); }
    // Open menus, root first.
    std::vector<NSMenuRef> openMenus() const;
    NSMenuItemRef highlightedItem(const NSMenu& menu) const;

    void open(const NSMenuRef& menu, CGPoint topLeft);
    // Closes every open menu; the chosen item's action is sent afterwards.
    void close(const NSMenuItemRef& chosen = nullptr);
    // Input while tracking; true when the menu took it.
    bool mouseMoved(CGPoint screenPoint);
    bool mouseDown(const std::shared_ptr<NSEvent>& event, CGPoint screenPoint);
    bool mouseUp(const std::shared_ptr<NSEvent>& event, CGPoint screenPoint);
    bool mouseDragged(const std::shared_ptr<NSEvent>& event, CGPoint screenPoint);
    bool keyDown(const NSEvent& event);
    void choose(const NSMenuItemRef& item);
    void reset();

private:
    struct Open {
        NSMenuRef menu;
        std::shared_ptr<NSWindow> window;
        long highlighted = -1;
    };
    Open* openAt(CGPoint screenPoint, long* index);
    void openSubmenu(std::size_t level, long index);
    // Events over an item's view go to that view (through the menu's window).
    bool forwardToView(Open& o, long index, const std::shared_ptr<NSEvent>& event, CGPoint p);
    void closeFrom(std::size_t level);
    std::vector<Open> stack_;
    bool openedAtDown_ = false;
    double openedAt_ = 0;
};

}  // namespace AppKit
