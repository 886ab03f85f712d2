#pragma once
// Responders, tracking areas and views.
//
// A view has a frame in its superview's coordinates and bounds in its own;
// y grows upwards unless the view is flipped. Subviews are ordered back to
// front. A layer-backed view (wantsLayer) draws its layer's background,
// border and corner radius around its own drawing; sublayers added to that
// layer draw above the view's drawing and below its subviews.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/AppKit/AppKitTypes.h"
#include "Platform/AppKit/NSColor.h"
#include "Platform/AppKit/NSEvent.h"
#include "Platform/QuartzCore/CALayer.h"

namespace AppKit {

class NSView;
class NSWindow;
class NSMenu;
class NSLayoutConstraint;
class NSLayoutXAxisAnchor;
class NSLayoutYAxisAnchor;
class NSLayoutDimension;
class NSViewAnimator;
struct NSDraggingInfo;

// The colour as the drawing interface takes it (RGB components; clear for none).
RGBA toRGBA(const NSColorRef& color);

class NSResponder : public std::enable_shared_from_this<NSResponder> {
public:
    virtual ~NSResponder() = default;
    virtual void mouseDown(NSEvent& event);
    virtual void mouseUp(NSEvent& event);
    virtual void mouseDragged(NSEvent& event);
    virtual void mouseMoved(NSEvent& event);
    virtual void mouseEntered(NSEvent& event);
    virtual void mouseExited(NSEvent& event);
    virtual void rightMouseDown(NSEvent& event);
    virtual void rightMouseUp(NSEvent& event);
    virtual void otherMouseDown(NSEvent& event);
    virtual void scrollWheel(NSEvent& event);
    virtual void keyDown(NSEvent& event);
    virtual void keyUp(NSEvent& event);
    virtual bool acceptsFirstResponder() const { return false; }
    virtual bool becomeFirstResponder() { return true; }
    virtual bool resignFirstResponder() { return true; }
    // The next responder (a view's superview, then its window).
    virtual NSResponder* nextResponder() const { return nullptr; }
    std::shared_ptr<NSMenu> menu;  // contextual menu
};

using NSTrackingAreaOptions = unsigned;
inline constexpr NSTrackingAreaOptions NSTrackingMouseEnteredAndExited = 0x01;
inline constexpr NSTrackingAreaOptions NSTrackingMouseMoved = 0x02;
inline constexpr NSTrackingAreaOptions NSTrackingCursorUpdate = 0x04;
inline constexpr NSTrackingAreaOptions NSTrackingActiveWhenFirstResponder = 0x10;
inline constexpr NSTrackingAreaOptions NSTrackingActiveInKeyWindow = 0x20;
inline constexpr NSTrackingAreaOptions NSTrackingActiveInActiveApp = 0x40;
inline constexpr NSTrackingAreaOptions NSTrackingActiveAlways = 0x80;
inline constexpr NSTrackingAreaOptions NSTrackingAssumeInside = 0x100;
inline constexpr NSTrackingAreaOptions NSTrackingInVisibleRect = 0x200;
inline constexpr NSTrackingAreaOptions NSTrackingEnabledDuringMouseDrag = 0x400;

class NSTrackingArea : public std::enable_shared_from_this<NSTrackingArea> {
public:
    NSTrackingArea(CGRect rect, NSTrackingAreaOptions options, std::weak_ptr<NSResponder> owner,
                   std::shared_ptr<void> userInfo = nullptr)
        : rect_(rect), options_(options), owner_(std::move(owner)), userInfo_(std::move(userInfo)) {}
    static std::shared_ptr<NSTrackingArea> make(CGRect rect, NSTrackingAreaOptions options,
                                                std::weak_ptr<NSResponder> owner,
                                                std::shared_ptr<void> userInfo = nullptr) {
        return std::make_shared<NSTrackingArea>(rect, options, std::move(owner), std::move(userInfo));
    }
    CGRect rect() const { return rect_; }
    NSTrackingAreaOptions options() const { return options_; }
    std::shared_ptr<NSResponder> owner() const { return owner_.lock(); }
    const std::shared_ptr<void>& userInfo() const { return userInfo_; }
    // Tracking state kept by the application's tracking pass.
    bool inside = false;

private:
    CGRect rect_;
    NSTrackingAreaOptions options_;
    std::weak_ptr<NSResponder> owner_;
    std::shared_ptr<void> userInfo_;
};

class NSView : public NSResponder {
public:
    explicit NSView(CGRect frame = {});
    ~NSView() override;
    template <class T = NSView, class... A>
    static std::shared_ptr<T> make(A&&... args) {
        auto v = std::make_shared<T>(std::forward<A>(args)...);
        v->didInit();
        return v;
    }
    std::shared_ptr<NSView> self() { return std::static_pointer_cast<NSView>(shared_from_this()); }

    // --- geometry
    CGRect frame() const { return frame_; }
    virtual void setFrame(CGRect frame);
    void setFrameOrigin(CGPoint p) { setFrame({p, frame_.size}); }
    void setFrameSize(CGSize s) { setFrame({frame_.origin, s}); }
    CGRect bounds() const { return bounds_; }
    void setBounds(CGRect b);
    void setBoundsOrigin(CGPoint p) { setBounds({p, bounds_.size}); }
    virtual bool isFlipped() const { return false; }
    // Converts between this view and another of the same window (nullptr:
    // the window's coordinates).
    CGPoint convertPointToView(CGPoint p, const NSView* view) const;
    CGPoint convertPointFromView(CGPoint p, const NSView* view) const;
    CGRect convertRectToView(CGRect r, const NSView* view) const;
    CGRect convertRectFromView(CGRect r, const NSView* view) const;
    // A point of this view in screen coordinates (needs a window; else window coordinates).
    CGPoint convertPointToScreen(CGPoint p) const;
    CGRect convertRectToScreen(CGRect r) const;
    // The part of the bounds not clipped away by ancestors.
    CGRect visibleRect() const;

    // --- hierarchy
    const std::vector<std::shared_ptr<NSView>>& subviews() const { return subviews_; }
    void addSubview(std::shared_ptr<NSView> view);
    void addSubview(std::shared_ptr<NSView> view, NSWindowOrderingMode place, const NSView* relativeTo);
    void removeFromSuperview();
    void setSubviews(std::vector<std::shared_ptr<NSView>> views);
    NSView* superview() const { return superview_; }
    std::shared_ptr<NSWindow> window() const { return window_.lock(); }
    bool isDescendantOf(const NSView* view) const;
    NSResponder* nextResponder() const override;
    virtual void viewWillMoveToWindow(NSWindow*) {}
    virtual void viewDidMoveToWindow() {}
    virtual void viewDidMoveToSuperview() {}

    // --- state
    bool isHidden() const { return hidden_; }
    virtual void setHidden(bool hidden);
    bool isHiddenOrHasHiddenAncestor() const;
    double alphaValue() const { return alpha_; }
    void setAlphaValue(double a);
    long tag = 0;
    std::string identifier;
    std::string toolTip;
    NSAutoresizingMaskOptions autoresizingMask = NSViewNotSizable;
    bool autoresizesSubviews = true;
    std::shared_ptr<void> representedObject;

    // --- layer
    bool wantsLayer() const { return wantsLayer_; }
    void setWantsLayer(bool wants);
    // The backing layer (made by setWantsLayer(true)); nullptr otherwise.
    const std::shared_ptr<QuartzCore::CALayer>& layer() const { return layer_; }
    void setLayer(std::shared_ptr<QuartzCore::CALayer> layer);
    virtual std::shared_ptr<QuartzCore::CALayer> makeBackingLayer();

    // --- drawing
    void setNeedsDisplay(bool needs = true);
    bool needsDisplay() const { return needsDisplay_; }
    // The view's own content, in its coordinates (drawing space y up even
    // for a flipped view's own content: the context is flipped for it).
    virtual void drawRect(CGRect dirtyRect, CoreGraphics::DrawingContext& ctx);
    // Draws this view and its subviews into a context set to the
    // superview's coordinates.
    void display(CoreGraphics::DrawingContext& ctx);

    // --- tracking areas
    const std::vector<std::shared_ptr<NSTrackingArea>>& trackingAreas() const { return trackingAreas_; }
    void addTrackingArea(std::shared_ptr<NSTrackingArea> area);
    void removeTrackingArea(const std::shared_ptr<NSTrackingArea>& area);
    // Called when the visible rectangle may have changed (geometry, window).
    virtual void updateTrackingAreas() {}
    bool trackingAreasNeedUpdate = true;

    // --- events
    // The deepest visible view at `point` (in the superview's coordinates).
    virtual NSView* hitTest(CGPoint point);
    bool mouseInRect(CGPoint point, CGRect rect) const { return rect.contains(point); }
    virtual bool acceptsFirstMouse(NSEvent*) const { return false; }
    void rightMouseDown(NSEvent& event) override;
    virtual std::shared_ptr<NSMenu> menuForEvent(NSEvent& event);

    // --- layout (constraints and autoresizing)
    bool translatesAutoresizingMaskIntoConstraints = true;
    const std::vector<std::shared_ptr<NSLayoutConstraint>>& constraints() const { return constraints_; }
    void addConstraint(std::shared_ptr<NSLayoutConstraint> c);
    void addConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& cs);
    void removeConstraint(const std::shared_ptr<NSLayoutConstraint>& c);
    void removeConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& cs);
    virtual CGSize intrinsicContentSize() const { return {-1, -1}; }  // -1: none
    virtual CGSize fittingSize();
    void setNeedsLayout(bool needs = true);
    bool needsLayout() const { return needsLayout_; }
    virtual void layout();
    void layoutSubtreeIfNeeded();
    virtual void resizeSubviewsWithOldSize(CGSize oldSize);

    // --- animation
    // Changes made through the animator animate over the current animation
    // context's duration (0.25 s outside explicit groups; none with 0).
    std::shared_ptr<NSViewAnimator> animator();

    // --- drag destinations
    std::vector<std::string> registeredDraggedTypes;
    void registerForDraggedTypes(std::vector<std::string> types) { registeredDraggedTypes = std::move(types); }
    void unregisterDraggedTypes() { registeredDraggedTypes.clear(); }
    virtual NSDragOperation draggingEntered(NSDraggingInfo&) { return NSDragOperationNone; }
    // By default the operation draggingEntered gave stands.
    virtual NSDragOperation draggingUpdated(NSDraggingInfo&) { return NSDragOperationKeepEntered; }
    virtual void draggingExited(NSDraggingInfo*) {}
    virtual bool prepareForDragOperation(NSDraggingInfo&) { return true; }
    virtual bool performDragOperation(NSDraggingInfo&) { return false; }
    virtual void concludeDragOperation(NSDraggingInfo*) {}

    // Internal: window attachment, called by NSWindow and the hierarchy.
    void setWindowRecursive(const std::shared_ptr<NSWindow>& window);
    // Runs once after construction through make(); subclasses set up here.
    virtual void didInit() {}
    // The rectangle of this view in window coordinates.
    CGRect frameInWindow() const;

protected:
    virtual void drawLayerContent(CoreGraphics::DrawingContext&) {}
    CGRect frame_{};
    CGRect bounds_{};

private:
    friend class NSLayoutSolver;
    std::vector<std::shared_ptr<NSView>> subviews_;
    NSView* superview_ = nullptr;
    std::weak_ptr<NSWindow> window_;
    bool hidden_ = false;
    double alpha_ = 1;
    bool wantsLayer_ = false;
    std::shared_ptr<QuartzCore::CALayer> layer_;
    bool needsDisplay_ = true;
    bool needsLayout_ = true;
    std::vector<std::shared_ptr<NSTrackingArea>> trackingAreas_;
    std::vector<std::shared_ptr<NSLayoutConstraint>> constraints_;
};

using NSViewRef = std::shared_ptr<NSView>;

}  // namespace AppKit
