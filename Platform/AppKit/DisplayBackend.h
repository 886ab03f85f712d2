#pragma once
// The display below the interface model. The model talks to the display only
// through this interface; input comes back through NSApplication's input
// door. Implementations: HeadlessBackend (tests, tours) and the X11 one.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AppKit/AppKitTypes.h"

namespace AppKit {

class NSWindow;
class NSMenu;
class NSStatusItem;

class DisplayBackend {
public:
    virtual ~DisplayBackend() = default;

    // Screen frames in model coordinates; the first has the menu bar.
    virtual std::vector<CGRect> screenFrames() const = 0;
    // The part of each screen windows may use (below the menu bar).
    virtual std::vector<CGRect> visibleScreenFrames() const;
    // The screen the program calls main (an index into screenFrames); none:
    // the one holding the key window, else the first.
    virtual std::optional<std::size_t> mainScreenIndex() const { return std::nullopt; }
    // Where the display's panel shows a status item, when the display knows
    // it better than the item does (none: the item's own frame).
    virtual std::optional<CGRect> statusItemFrame(const NSStatusItem&) const { return std::nullopt; }

    // A window was ordered on or off screen, moved, resized, restacked or faded.
    virtual void windowChanged(NSWindow&) {}
    // A window's content needs drawing again.
    virtual void windowNeedsDisplay(NSWindow&) {}
    virtual void windowClosed(NSWindow&) {}

    virtual void statusItemChanged(NSStatusItem&) {}
    virtual void menuOpened(NSMenu&) {}
    virtual void menuClosed(NSMenu&) {}

    virtual void cursorHiddenChanged(bool hidden) { (void)hidden; }
    // The union of the masks of the installed global monitors changed.
    virtual void globalMonitorMaskChanged(NSEventMask mask) { (void)mask; }

    // System-wide hot keys (platform key code and modifier mask). False when
    // the combination cannot be had (another program holds it).
    virtual bool registerHotKey(std::uint16_t keyCode, NSEventModifierFlags modifiers) = 0;
    virtual void unregisterHotKey(std::uint16_t keyCode, NSEventModifierFlags modifiers) = 0;

    // The program wrote the general pasteboard (a display takes the clipboard).
    virtual void pasteboardWritten() {}
    virtual void openURL(const std::string& url) = 0;
    virtual void beep() {}
    // Where the pointer is now, in model coordinates, wherever it is (not
    // only over our windows); nothing when the display cannot say.
    virtual std::optional<CGPoint> pointerLocation() const { return std::nullopt; }

    // The screen's pixels under `rect` (display coordinates: origin at the top
    // left of the first screen, y down), one pixel per point, leaving out the
    // window numbered `excludeWindowsFrom` and every window above it (0: none
    // left out). nullptr when the screen cannot be read.
    virtual std::shared_ptr<CoreGraphics::Image> captureScreen(CGRect rect, long excludeWindowsFrom) = 0;
    // Whether the program may read the screen (screen-recording permission).
    virtual bool screenCaptureAllowed() const { return true; }
};

// The backend the model uses. Starts as a HeadlessBackend with one 1440x900 screen.
DisplayBackend& displayBackend();
void setDisplayBackend(std::shared_ptr<DisplayBackend> backend);

}  // namespace AppKit
