#pragma once
// The status bar along the top of the main screen and its items. Each item's
// button lives in a borderless window of its own at status-window level, so
// the item has a window and a frame in screen coordinates. Items are laid out
// from the right end of the bar leftwards, in order of creation.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AppKit/NSMenu.h"
#include "Platform/AppKit/NSControls.h"

namespace AppKit {

class NSStatusItem;
class NSScreen;

inline constexpr double NSVariableStatusItemLength = -1;
inline constexpr double NSSquareStatusItemLength = -2;

class NSStatusBarButton : public NSButton {
public:
    using NSButton::NSButton;
    std::weak_ptr<NSStatusItem> item;
    void mouseDown(NSEvent& event) override;
    void rightMouseDown(NSEvent& event) override;
    void drawRect(CGRect dirty, CoreGraphics::DrawingContext& ctx) override;
    // The item's width follows its image and title.
    void setImage(NSImageRef image) override;
    void setTitle(std::string title) override;
};

class NSStatusItem : public std::enable_shared_from_this<NSStatusItem> {
public:
    ~NSStatusItem();
    const std::shared_ptr<NSStatusBarButton>& button() const { return button_; }
    double length() const { return length_; }
    void setLength(double length);
    NSMenuRef menu;
    bool visible = true;
    // Where a panel of the display shows the item (screen coordinates), once
    // the display knows it (a tray icon); the frame and the menu follow it.
    std::optional<CGRect> panelFrame;
    // The item's frame in screen coordinates (the display's panel place, else
    // panelFrame, else its button window's frame).
    CGRect frame() const;
    // The screen holding the item (the nearest one when it is on none).
    std::shared_ptr<NSScreen> screen() const;
    // Opens the menu under the item (above it when the item is too near the
    // bottom of the screen), or sends the button's action without one.
    void click(int button = 0);
    // Internal
    void relayout();
    double wantedWidth() const;

private:
    friend class NSStatusBar;
    std::shared_ptr<NSStatusBarButton> button_;
    std::shared_ptr<NSWindow> window_;
    double length_ = NSVariableStatusItemLength;
};

class NSStatusBar {
public:
    static NSStatusBar& systemStatusBar();
    static void resetForTests();
    double thickness() const { return 24; }
    std::shared_ptr<NSStatusItem> statusItemWithLength(double length);
    void removeStatusItem(const std::shared_ptr<NSStatusItem>& item);
    const std::vector<std::shared_ptr<NSStatusItem>>& items() const { return items_; }
    // The bar's strip across the top of the main screen.
    CGRect barFrame() const;
    void layout();

private:
    std::vector<std::shared_ptr<NSStatusItem>> items_;
};

}  // namespace AppKit
