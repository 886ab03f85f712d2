#pragma once
// The real display: model windows as X windows (XCB), drawn with the shared
// renderer through cairo-xcb; X input into NSApplication's input door; the
// screen read through an MIT-SHM snapshot of the root; hot keys as grabs on
// the root; the general pasteboard on CLIPBOARD; the status item on the
// panel's StatusNotifierWatcher, else as an icon docked in the system tray,
// whose clicks open the model's menu in windows of our own. The connection is
// a source of the main run loop; events are drained and damaged windows drawn before
// each wait.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Platform/AppKit/DisplayBackend.h"

namespace X11Display {

class X11Backend : public AppKit::DisplayBackend {
public:
    // Connects to `display` (empty: $DISPLAY). nullptr with `error` set when
    // no display can be opened.
    static std::shared_ptr<X11Backend> open(const std::string& display, std::string* error = nullptr);
    ~X11Backend() override;

    // The RandR monitors, primary first; visible: less what panels reserve on each.
    std::vector<AppKit::CGRect> screenFrames() const override;
    std::vector<AppKit::CGRect> visibleScreenFrames() const override;
    // The monitor with the status item's panel, else the one with the pointer.
    std::optional<std::size_t> mainScreenIndex() const override;
    // The icon's real place: the docked icon window's, else where the panel last clicked it.
    std::optional<AppKit::CGRect> statusItemFrame(const AppKit::NSStatusItem& item) const override;

    void windowChanged(AppKit::NSWindow&) override;
    void windowNeedsDisplay(AppKit::NSWindow&) override;
    void windowClosed(AppKit::NSWindow&) override;
    void cursorHiddenChanged(bool hidden) override;
    void statusItemChanged(AppKit::NSStatusItem&) override;
    void menuOpened(AppKit::NSMenu&) override;
    void menuClosed(AppKit::NSMenu&) override;
    void globalMonitorMaskChanged(AppKit::NSEventMask mask) override;

    bool registerHotKey(std::uint16_t keyCode, AppKit::NSEventModifierFlags modifiers) override;
    void unregisterHotKey(std::uint16_t keyCode, AppKit::NSEventModifierFlags modifiers) override;

    void pasteboardWritten() override;
    void openURL(const std::string& url) override;
    void beep() override;

    std::shared_ptr<CoreGraphics::Image> captureScreen(AppKit::CGRect rect, long excludeWindowsFrom) override;
    std::optional<AppKit::CGPoint> pointerLocation() const override;

    // The connection broke (the server ended, a logout): one line on standard
    // error, the connection leaves the run loop, then `handler` runs (none:
    // the application terminates).
    void setConnectionLostHandler(std::function<void()> handler);
    bool connectionLostAlready() const;

    // Reads what the connection holds, dispatches it and draws damaged
    // windows; what the run-loop hook does (tests call it too).
    void processPendingEvents();
    // The X window showing a model window (0: none mapped).
    std::uint32_t xWindowFor(long windowNumber) const;
    // The status item's bus name on the panel (empty: not shown there).
    std::string statusItemService() const;
    // The status item's icon window while docked in a system tray (0: not docked).
    std::uint32_t trayIconWindow() const;
    // Why the status item is not on the panel (empty while it is, or before the first item).
    const std::string& statusItemProblem() const;
    // The pointer and keyboard are taken (the cursor is hidden: picking).
    bool pointerGrabbed() const;
    // A window manager runs: it places and decorates our titled windows.
    bool windowManagerRunning() const;
    // Why the last capture gave nothing (neither the root nor the portal could be read).
    const std::string& captureProblem() const;

    struct State;

private:
    void connectionLost();
    explicit X11Backend(std::unique_ptr<State> state);
    std::unique_ptr<State> s_;
};

// The line said when the connection to `display` broke (xcb's error code).
std::string lostDisplayLine(const std::string& display, int xcbError);

}  // namespace X11Display
