#pragma once
// The interface harness for tests and tools: a headless screen on the manual
// clock, driven through the model's input door exactly as a display would
// drive it (pointer, clicks with counts and modifiers, keys, hot keys, menu
// choices, status item clicks, clipboard changes by other programs, pushes),
// and read back as model state or a rendered screen.
//
// One harness at a time: it installs the test executor, a headless display
// and a fresh application, and puts things back when destroyed.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AppKit/HeadlessBackend.h"
#include "Platform/AppKit/NSAlert.h"
#include "Platform/AppKit/NSApplication.h"
#include "Platform/AppKit/NSControls.h"
#include "Platform/AppKit/NSMenu.h"
#include "Platform/AppKit/NSSavePanel.h"
#include "Platform/AppKit/NSStatusBar.h"
#include "Platform/Foundation/Diagnostics.h"
#include "Platform/Foundation/Dispatch.h"

namespace Harness {

using AppKit::CGPoint;
using AppKit::CGRect;
using AppKit::CGSize;
using AppKit::NSEventModifierFlags;

struct LaunchOptions {
    CGSize screenSize{1440, 900};
    std::vector<CGRect> moreScreens;  // beside the main one, model coordinates
    std::shared_ptr<const CoreGraphics::Image> desktopPicture;
    double startTime = 1'700'000'000.0;  // wall clock, seconds since 1970
    bool captureOutput = true;           // standard output lines are recorded (not echoed)
};

class UIHarness {
public:
    explicit UIHarness(LaunchOptions options = {});
    ~UIHarness();
    UIHarness(const UIHarness&) = delete;
    UIHarness& operator=(const UIHarness&) = delete;

    // Makes the delegate the application's (held by the harness) and runs
    // the launch callbacks, then everything due now.
    void launch(std::shared_ptr<AppKit::NSApplicationDelegate> delegate);

    Foundation::TestExecutor& executor() { return *executor_; }
    AppKit::HeadlessBackend& backend() { return *backend_; }
    AppKit::NSApplication& app() { return AppKit::NSApplication::shared(); }

    // --- clock
    void advance(double seconds) { executor_->advance(seconds); }
    std::size_t drain() { return executor_->drain(); }

    // --- pointer (screen coordinates, y up from the bottom of the main screen)
    void moveMouse(CGPoint screenPoint, NSEventModifierFlags modifiers = 0);
    // Moves in `steps` even steps from the current position (tracking areas see each).
    void moveMouseGradually(CGPoint screenPoint, int steps, NSEventModifierFlags modifiers = 0);
    void moveMouseInWindow(const AppKit::NSWindow& window, CGPoint windowPoint, NSEventModifierFlags modifiers = 0);
    void moveMouseToView(const AppKit::NSView& view, std::optional<CGPoint> localPoint = std::nullopt);
    void mouseDown(CGPoint screenPoint, int button = 0, long clickCount = 1, NSEventModifierFlags modifiers = 0);
    void mouseUp(CGPoint screenPoint, int button = 0, long clickCount = 1, NSEventModifierFlags modifiers = 0);
    // Moves there, presses and releases.
    void click(CGPoint screenPoint, long clickCount = 1, NSEventModifierFlags modifiers = 0);
    // A double click: a click with count 1, then one with count 2.
    void doubleClick(CGPoint screenPoint, NSEventModifierFlags modifiers = 0);
    void clickView(const AppKit::NSView& view, long clickCount = 1, NSEventModifierFlags modifiers = 0,
                   std::optional<CGPoint> localPoint = std::nullopt);
    void rightClick(CGPoint screenPoint, NSEventModifierFlags modifiers = 0);
    void rightClickView(const AppKit::NSView& view, std::optional<CGPoint> localPoint = std::nullopt);
    // Press at `from`, drag in steps to `to`, release.
    void drag(CGPoint from, CGPoint to, int steps = 4, NSEventModifierFlags modifiers = 0);
    void dragView(const AppKit::NSView& from, const AppKit::NSView& to, int steps = 4);
    void scroll(CGPoint screenPoint, double dx, double dy);
    CGPoint mouseLocation() const { return AppKit::NSEvent::mouseLocation(); }

    // --- keyboard
    void pressKey(std::uint16_t keyCode, const std::string& characters = {}, NSEventModifierFlags modifiers = 0);
    // Each character as a key press (ANSI key codes where the character has one).
    void typeText(const std::string& text, NSEventModifierFlags modifiers = 0);
    // Clicks the field, types the text replacing what it holds, then presses
    // Return (or Tab, when `pressReturn` is false) to end the editing.
    void typeIntoField(AppKit::NSTextField& field, const std::string& text, bool pressReturn = true);
    void pressHotKey(std::uint16_t keyCode, NSEventModifierFlags modifiers);

    // --- controls
    // Clicks the slider's bar where the value lies (the value the slider then
    // holds is the one that point stands for).
    void setSlider(AppKit::NSSlider& slider, double value);
    void selectSegment(AppKit::NSSegmentedControl& control, long segment);

    // --- status item and menus
    void clickStatusItem(const std::shared_ptr<AppKit::NSStatusItem>& item);
    // The first status item (nullptr when there is none).
    std::shared_ptr<AppKit::NSStatusItem> statusItem() const;
    bool isMenuOpen() const { return AppKit::MenuTracker::shared().isTracking(); }
    std::vector<AppKit::NSMenuRef> openMenus() const { return AppKit::MenuTracker::shared().openMenus(); }
    // Titles of the open (innermost) menu's items as shown ("-" for separators).
    std::vector<std::string> openMenuTitles() const;
    // The screen rectangle of an item of an open menu.
    std::optional<CGRect> screenRectOfItem(const AppKit::NSMenuItemRef& item) const;
    // Moves over and clicks the items along the path of titles, starting in
    // the open menu (submenus open on the way). Returns the chosen item,
    // nullptr (and the menus left as they are) when a title is not found.
    AppKit::NSMenuItemRef chooseMenuItem(const std::vector<std::string>& titlePath);
    AppKit::NSMenuItemRef chooseMenuItemWithTag(long tag);
    // Opens the status item's menu and chooses along the path.
    AppKit::NSMenuItemRef chooseStatusMenuItem(const std::vector<std::string>& titlePath);
    void closeMenu() { pressKey(AppKit::kVK_Escape, "\x1b"); }

    // --- alerts
    AppKit::AlertScript& alerts() { return *alerts_; }
    // Save panels: scripted paths or cancels, and the panels shown.
    AppKit::SavePanelScript& savePanels() { return *savePanels_; }

    // --- other programs, pushes
    void copyFromOtherProgram(const std::string& text);
    void deliverPush(const Foundation::Dictionary& userInfo);

    // --- the screen
    CoreGraphics::Image renderScreen(std::optional<CGRect> region = std::nullopt) const;
    bool writeScreenPNG(const std::string& path) const;

    // --- standard output
    std::vector<std::string> outputLines() const;
    void clearOutput();

    static CGPoint centerOnScreen(const AppKit::NSView& view);
    static std::optional<std::uint16_t> keyCodeForCharacter(char c);

private:
    std::unique_ptr<Foundation::TestExecutor> executor_;
    std::shared_ptr<AppKit::HeadlessBackend> backend_;
    std::unique_ptr<AppKit::AlertScript> alerts_;
    std::unique_ptr<AppKit::SavePanelScript> savePanels_;
    std::unique_ptr<Foundation::DiagnosticsCapture> output_;
    std::shared_ptr<AppKit::NSApplicationDelegate> delegate_;
};

}  // namespace Harness
