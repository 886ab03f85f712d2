#pragma once
// The application, screens, the cursor, the workspace, and the input door:
// the entry points through which a display backend or the test harness hands
// input to the model (there is no other way in).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AppKit/DisplayBackend.h"
#include "Platform/AppKit/NSWindow.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"

namespace AppKit {

class NSMenu;
class NSMenuItem;
class NSStatusItem;

inline const std::string NSApplicationWillTerminateNotification = "NSApplicationWillTerminateNotification";
inline const std::string NSApplicationDidFinishLaunchingNotification = "NSApplicationDidFinishLaunchingNotification";
inline const std::string NSApplicationDidBecomeActiveNotification = "NSApplicationDidBecomeActiveNotification";
inline const std::string NSApplicationDidResignActiveNotification = "NSApplicationDidResignActiveNotification";

class NSApplicationDelegate {
public:
    virtual ~NSApplicationDelegate() = default;
    virtual void applicationWillFinishLaunching() {}
    virtual void applicationDidFinishLaunching() {}
    virtual void applicationWillTerminate() {}
    virtual void applicationDidBecomeActive() {}
    virtual void applicationDidResignActive() {}
    virtual void applicationWillHide() {}
    virtual void applicationDidHide() {}
    virtual void applicationWillUnhide() {}
    virtual void applicationDidUnhide() {}
    virtual void didReceiveRemoteNotification(const Foundation::Dictionary& userInfo) { (void)userInfo; }
    virtual void didRegisterForRemoteNotificationsWithDeviceToken(const Foundation::Data& token) { (void)token; }
    virtual void didFailToRegisterForRemoteNotificationsWithError(const Foundation::Error& error) { (void)error; }
};

class NSScreen {
public:
    NSScreen(CGRect frame, CGRect visibleFrame) : frame_(frame), visibleFrame_(visibleFrame) {}
    // The screens, the first holding the menu bar; empty without a display.
    static std::vector<std::shared_ptr<NSScreen>> screens();
    // The screen of the key window, else the first.
    static std::shared_ptr<NSScreen> mainScreen();
    CGRect frame() const { return frame_; }
    CGRect visibleFrame() const { return visibleFrame_; }
    double backingScaleFactor() const { return 1; }

private:
    CGRect frame_, visibleFrame_;
};

class NSCursor {
public:
    // Balanced: the pointer is hidden while hides outnumber unhides; an
    // unhide with nothing hidden is ignored.
    static void hide();
    static void unhide();
    static int hideCount();
    static bool isHidden() { return hideCount() > 0; }
    static void setHiddenUntilMouseMoves(bool) {}
    static void resetForTests();
};

class NSWorkspace {
public:
    static NSWorkspace& sharedWorkspace();
    // Opens the address in the user's browser; false for an empty one.
    bool openURL(const std::string& url);
};

class NSApplication : public NSResponder {
public:
    static NSApplication& shared();
    // Back to a fresh application (tests): no windows, delegate, menus or state.
    static void resetForTests();

    std::weak_ptr<NSApplicationDelegate> delegate;
    std::shared_ptr<NSApplicationDelegate> strongDelegate;  // keeps a delegate nothing else owns
    std::shared_ptr<NSApplicationDelegate> delegateRef() const;

    // --- lifecycle
    // Runs the launch callbacks (will/did finish launching).
    void finishLaunching();
    bool isLaunched() const { return launched_; }
    // Posts the will-terminate notification, tells the delegate, then runs
    // the termination handler (default: stop the main run loop).
    void terminate(const std::shared_ptr<void>& sender = nullptr);
    bool isTerminated() const { return terminated_; }
    std::function<void()> terminationHandler;
    void activateIgnoringOtherApps(bool flag);
    bool isActive() const { return active_; }
    void deactivate();
    // Hiding orders out the program's windows below the status level (they
    // come back on unhide) and deactivates it; the delegate hears of both.
    void hide(const std::shared_ptr<void>& sender = nullptr);
    void unhide(const std::shared_ptr<void>& sender = nullptr);
    bool isHidden() const { return hidden_; }

    // --- windows
    std::vector<std::shared_ptr<NSWindow>> windows() const;  // every live window
    // On-screen windows, back to front: by level, then by order brought front.
    std::vector<std::shared_ptr<NSWindow>> windowsInScreenOrder() const;
    std::shared_ptr<NSWindow> keyWindow() const { return keyWindow_.lock(); }
    std::shared_ptr<NSWindow> mainWindow() const { return mainWindow_.lock(); }
    std::shared_ptr<NSWindow> windowWithWindowNumber(long number) const;
    // The topmost on-screen window at a screen point that takes mouse events.
    std::shared_ptr<NSWindow> windowAtScreenPoint(CGPoint p) const;
    const std::shared_ptr<NSEvent>& currentEvent() const { return currentEvent_; }

    // --- errors and remote notifications
    // Shows the error in an alert (its description, one "OK" button).
    bool presentError(const Foundation::Error& error);
    void registerForRemoteNotificationTypes(unsigned long types);
    unsigned long registeredRemoteNotificationTypes() const { return remoteTypes_; }
    void beep();

    // --- the input door --------------------------------------------------------
    // Mouse input at a screen point. `button` 0 left, 1 right, 2 other.
    void inputMouseMoved(CGPoint screenPoint, NSEventModifierFlags modifiers = 0);
    void inputMouseDown(CGPoint screenPoint, int button, long clickCount, NSEventModifierFlags modifiers = 0);
    void inputMouseUp(CGPoint screenPoint, int button, long clickCount, NSEventModifierFlags modifiers = 0);
    void inputMouseDragged(CGPoint screenPoint, int button, NSEventModifierFlags modifiers = 0);
    void inputScrollWheel(CGPoint screenPoint, double dx, double dy, NSEventModifierFlags modifiers = 0);
    void inputKeyDown(std::uint16_t keyCode, const std::string& characters, NSEventModifierFlags modifiers = 0);
    void inputKeyUp(std::uint16_t keyCode, const std::string& characters, NSEventModifierFlags modifiers = 0);
    // A registered system-wide hot key was pressed.
    void inputHotKeyPressed(std::uint16_t keyCode, NSEventModifierFlags modifiers);
    // A menu item chosen by the display's own menu (a panel's status menu).
    void inputMenuItemChosen(const std::shared_ptr<NSMenuItem>& item);
    // The display's panel clicked the status item (opens its menu or sends its action).
    void inputStatusItemClicked(const std::shared_ptr<NSStatusItem>& item, int button = 0);
    // Another program put text on the clipboard.
    void inputPasteboardChangedByOtherProgram(const std::string& text);
    // A push arrived (remote notification).
    void inputRemoteNotification(const Foundation::Dictionary& userInfo);

    // Internal bookkeeping used by windows.
    void windowOrderedFront(const std::shared_ptr<NSWindow>& window);
    void windowOrderedOut(NSWindow& window);
    void windowRegistered(const std::shared_ptr<NSWindow>& window);
    void setKeyWindow(const std::shared_ptr<NSWindow>& window);
    void setMainWindow(const std::shared_ptr<NSWindow>& window);
    long nextWindowNumber() { return ++windowNumbers_; }
    // Re-evaluates tracking areas against the pointer (after moves and changes).
    void updateTracking();
    CGPoint mouseLocation() const { return mouseLocation_; }
    NSEventModifierFlags modifierFlags() const { return modifiers_; }
    unsigned long pressedButtons() const { return pressedButtons_; }

private:
    NSApplication();
    std::shared_ptr<NSEvent> makeMouseEvent(NSEventType type, CGPoint screenPoint,
                                            const std::shared_ptr<NSWindow>& window, long clickCount,
                                            NSEventModifierFlags modifiers, int button);
    void dispatch(const std::shared_ptr<NSEvent>& event, const std::shared_ptr<NSWindow>& window);

    bool launched_ = false;
    bool terminated_ = false;
    bool active_ = false;
    bool hidden_ = false;
    std::vector<std::shared_ptr<NSWindow>> hiddenWindows_;
    unsigned long remoteTypes_ = 0;
    std::vector<std::weak_ptr<NSWindow>> allWindows_;
    std::vector<std::shared_ptr<NSWindow>> onScreen_;
    std::weak_ptr<NSWindow> keyWindow_, mainWindow_;
    std::weak_ptr<NSWindow> mouseDownWindow_;
    std::shared_ptr<NSEvent> currentEvent_;
    CGPoint mouseLocation_{};
    NSEventModifierFlags modifiers_ = 0;
    unsigned long pressedButtons_ = 0;
    std::uint64_t orderCounter_ = 0;
    long windowNumbers_ = 0;
    std::vector<std::shared_ptr<NSTrackingArea>> inside_;  // kept so a replaced area can hand on its state
    std::vector<std::weak_ptr<NSTrackingArea>> lastMovedAreas_;

public:
    // A drag session in progress takes the drags and the release (set by the drag session).
    std::function<bool(const NSEvent&, CGPoint)> dragHandler;
    std::function<bool(const NSEvent&, CGPoint)> dropHandler;
};

// NSApp
inline NSApplication& NSApp() { return NSApplication::shared(); }

}  // namespace AppKit
