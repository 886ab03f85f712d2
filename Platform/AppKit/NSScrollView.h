#pragma once
// Scroll and clip views, stack views and popovers.

#include <memory>
#include <string>
#include <vector>

#include "Platform/AppKit/NSWindow.h"

namespace AppKit {

// Shows part of its document view: the bounds origin is the scroll position.
class NSClipView : public NSView {
public:
    using NSView::NSView;
    const std::shared_ptr<NSView>& documentView() const { return documentView_; }
    void setDocumentView(std::shared_ptr<NSView> view);
    // The bounds origin kept inside the document (none past its far edges).
    CGPoint constrainBoundsOrigin(CGPoint origin) const;
    void scrollToPoint(CGPoint origin) { setBoundsOrigin(constrainBoundsOrigin(origin)); }
    bool drawsBackground = false;
    NSColorRef backgroundColor;
    void drawRect(CGRect dirty, CoreGraphics::DrawingContext& ctx) override;

private:
    std::shared_ptr<NSView> documentView_;
};

enum class NSScrollElasticity { automatic = 0, none = 1, allowed = 2 };

class NSScrollView : public NSView {
public:
    explicit NSScrollView(CGRect frame = {});
    const std::shared_ptr<NSClipView>& contentView() const { return clip_; }
    std::shared_ptr<NSView> documentView() const { return clip_->documentView(); }
    void setDocumentView(std::shared_ptr<NSView> view) { clip_->setDocumentView(std::move(view)); }
    CGRect documentVisibleRect() const { return clip_->bounds(); }
    bool hasVerticalScroller = true;
    bool hasHorizontalScroller = false;
    bool drawsBackground = true;
    bool autohidesScrollers = true;
    NSScrollElasticity verticalScrollElasticity = NSScrollElasticity::automatic;
    NSScrollElasticity horizontalScrollElasticity = NSScrollElasticity::automatic;
    std::shared_ptr<NSView> verticalScroller;  // none: hidden
    void reflectScrolledClipView(NSClipView&) { setNeedsDisplay(); }
    void setFrame(CGRect frame) override;
    void scrollWheel(NSEvent& event) override;
    void layout() override;

private:
    std::shared_ptr<NSClipView> clip_;
};

enum class NSUserInterfaceLayoutOrientation { horizontal = 0, vertical = 1 };
enum class NSStackViewGravity { leading = 1, center = 2, trailing = 3 };
enum class NSStackViewDistribution {
    gravityAreas = -1,
    fill = 0,
    fillEqually = 1,
    fillProportionally = 2,
    equalSpacing = 3,
    equalCentering = 4
};

// Lays its arranged views out in a row or a column, `spacing` apart, each at
// its fitting (or current) size across the flow and the stack's size along the other axis.
class NSStackView : public NSView {
public:
    using NSView::NSView;
    static std::shared_ptr<NSStackView> stackViewWithViews(std::vector<NSViewRef> views);
    NSUserInterfaceLayoutOrientation orientation = NSUserInterfaceLayoutOrientation::horizontal;
    double spacing = 8;
    NSStackViewDistribution distribution = NSStackViewDistribution::gravityAreas;
    const std::vector<NSViewRef>& arrangedSubviews() const { return arranged_; }
    void addArrangedSubview(NSViewRef view);
    void insertArrangedSubview(NSViewRef view, long index);
    void removeArrangedSubview(const NSViewRef& view);
    void addView(NSViewRef view, NSStackViewGravity gravity) {
        (void)gravity;
        addArrangedSubview(std::move(view));
    }
    std::vector<NSViewRef> views() const { return arranged_; }
    void layout() override;
    CGSize intrinsicContentSize() const override;

private:
    std::vector<NSViewRef> arranged_;
};

class NSPopover;

enum class NSPopoverBehavior { applicationDefined = 0, transient = 1, semitransient = 2 };

class NSPopoverDelegate {
public:
    virtual ~NSPopoverDelegate() = default;
    virtual void popoverDidShow(NSPopover&) {}
    virtual void popoverDidClose(NSPopover&) {}
};

// Shows a controller's view in a small window beside a rectangle of a view.
class NSPopover : public std::enable_shared_from_this<NSPopover> {
public:
    std::shared_ptr<NSViewController> contentViewController;
    NSPopoverBehavior behavior = NSPopoverBehavior::applicationDefined;
    bool animates = true;
    CGSize contentSize{};
    std::weak_ptr<NSPopoverDelegate> delegate;
    std::shared_ptr<NSAppearance> appearance;
    bool isShown() const { return window_ && window_->isVisible(); }
    // Positions the window against the given edge of the rectangle (in the
    // view's coordinates), kept on the view's screen.
    void showRelativeToRect(CGRect rect, NSView& view, NSRectEdge preferredEdge);
    void close();
    void performClose(const std::shared_ptr<void>& = nullptr) { close(); }
    const std::shared_ptr<NSWindow>& window() const { return window_; }

private:
    std::shared_ptr<NSWindow> window_;
};

}  // namespace AppKit
