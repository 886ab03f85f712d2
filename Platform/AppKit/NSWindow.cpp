#include "Platform/AppKit/NSWindow.h"

#include <algorithm>

#include "Platform/AppKit/Animation.h"
#include "Platform/AppKit/NSApplication.h"
#include "Platform/AppKit/NSControls.h"
#include "Platform/AppKit/NSMenu.h"
#include "Platform/Foundation/NotificationCenter.h"

namespace AppKit {

// --- appearance -------------------------------------------------------------------

namespace {
std::shared_ptr<NSAppearance>& systemAppearanceSlot() {
    static std::shared_ptr<NSAppearance> a = std::make_shared<NSAppearance>(NSAppearanceNameAqua);
    return a;
}
}  // namespace

std::shared_ptr<NSAppearance> NSAppearance::appearanceNamed(const std::string& name) {
    if (name != NSAppearanceNameAqua && name != NSAppearanceNameDarkAqua && name != NSAppearanceNameVibrantLight &&
        name != NSAppearanceNameVibrantDark)
        return nullptr;
    return std::make_shared<NSAppearance>(name);
}

bool NSAppearance::isDark() const { return name_ == NSAppearanceNameDarkAqua || name_ == NSAppearanceNameVibrantDark; }

std::string NSAppearance::bestMatchFromAppearancesWithNames(const std::vector<std::string>& names) const {
    for (const auto& n : names)
        if (n == name_) return n;
    for (const auto& n : names) {
        bool dark = n == NSAppearanceNameDarkAqua || n == NSAppearanceNameVibrantDark;
        if (dark == isDark()) return n;
    }
    return {};
}

std::shared_ptr<NSAppearance> NSAppearance::systemAppearance() { return systemAppearanceSlot(); }
void NSAppearance::setSystemAppearance(std::shared_ptr<NSAppearance> a) {
    systemAppearanceSlot() = a ? std::move(a) : std::make_shared<NSAppearance>(NSAppearanceNameAqua);
}

// --- title bar buttons ------------------------------------------------------------------

namespace {
class WindowButton : public NSButton {
public:
    WindowButton(CGRect frame, NSWindowButton kind) : NSButton(frame), kind_(kind) { bordered = false; }
    void drawRect(CGRect, CoreGraphics::DrawingContext& ctx) override {
        static const RGBA colors[] = {{1, 0.37, 0.34, 1}, {1, 0.74, 0.18, 1}, {0.16, 0.78, 0.25, 1}};
        ctx.fillEllipse(bounds(), colors[static_cast<int>(kind_)]);
    }

private:
    NSWindowButton kind_;
};
}  // namespace

// --- window ------------------------------------------------------------------------------------

NSWindow::NSWindow(CGRect contentRect, NSWindowStyleMask style, NSBackingStoreType, bool)
    : styleMask_(style), backgroundColor_(NSColor::colorWithCalibratedWhite(0.93, 1)) {
    frame_ = frameRectForContentRect(contentRect);
    number_ = NSApplication::shared().nextWindowNumber();
    contentView_ = std::make_shared<NSView>(CGRectMake(0, 0, contentRect.width(), contentRect.height()));
}

NSWindow::~NSWindow() = default;

void NSWindow::didInit() {
    NSApplication::shared().windowRegistered(self());
    contentView_->setFrame(contentRectForFrameRect({{0, 0}, frame_.size}));
    if (styleMask_ & NSWindowStyleMaskFullSizeContentView) contentView_->setFrame({{0, 0}, frame_.size});
    contentView_->setWindowRecursive(self());
    layoutTitleBarButtons();
}

std::shared_ptr<NSWindow> NSWindow::windowWithContentViewController(std::shared_ptr<NSViewController> controller) {
    auto view = controller ? controller->view() : nullptr;
    CGSize size = view ? view->frame().size : CGSize{};
    auto w = NSWindow::make(CGRectMake(0, 0, size.width, size.height),
                            NSWindowStyleMaskTitled | NSWindowStyleMaskClosable | NSWindowStyleMaskMiniaturizable |
                                NSWindowStyleMaskResizable);
    if (controller) {
        w->title = controller->title;
        w->setContentViewController(std::move(controller));
    }
    return w;
}

void NSWindow::setStyleMask(NSWindowStyleMask mask) {
    styleMask_ = mask;
    setFrame(frame_);
    layoutTitleBarButtons();
}

void NSWindow::setLevel(NSWindowLevel level) {
    level_ = level;
    displayBackend().windowChanged(*this);
}

void NSWindow::setBackgroundColor(NSColorRef color) {
    backgroundColor_ = std::move(color);
    viewsNeedDisplay = true;
}

std::shared_ptr<NSAppearance> NSWindow::effectiveAppearance() const {
    return appearance ? appearance : NSAppearance::systemAppearance();
}

CGRect NSWindow::contentRectForFrameRect(CGRect frame) const {
    if (styleMask() & NSWindowStyleMaskTitled && !(styleMask() & NSWindowStyleMaskFullScreen))
        frame.size.height = std::max(0.0, frame.size.height - kTitleBarHeight);
    return frame;
}

CGRect NSWindow::frameRectForContentRect(CGRect content) const {
    if (styleMask() & NSWindowStyleMaskTitled && !(styleMask() & NSWindowStyleMaskFullScreen))
        content.size.height += kTitleBarHeight;
    return content;
}

CGRect NSWindow::constrainFrameRect(CGRect frame, const NSScreen* screen) const {
    if (!screen || !(styleMask() & NSWindowStyleMaskTitled)) return frame;
    CGRect visible = screen->visibleFrame();
    if (frame.maxY() > visible.maxY()) frame.origin.y = visible.maxY() - frame.height();
    return frame;
}

std::shared_ptr<NSScreen> NSWindow::screen() const {
    auto screens = NSScreen::screens();
    std::shared_ptr<NSScreen> best;
    double bestArea = 0;
    for (auto& s : screens) {
        CGRect i = CoreGraphics::CGRectIntersection(s->frame(), frame_);
        double area = i.width() * i.height();
        if (area > bestArea) bestArea = area, best = s;
    }
    if (!best && !screens.empty()) best = screens.front();
    return best;
}

CGPoint NSWindow::mouseLocationOutsideOfEventStream() const {
    return convertPointFromScreen(NSApplication::shared().mouseLocation());
}

void NSWindow::setFrame(CGRect frame, bool, bool animate) {
    if (animate) {
        animator()->setFrame(frame);
        return;
    }
    const CGRect old = frame_;
    frame_ = frame;
    if (contentView_) {
        CGRect content = (styleMask() & NSWindowStyleMaskFullSizeContentView)
                             ? CGRect{{0, 0}, frame.size}
                             : contentRectForFrameRect({{0, 0}, frame.size});
        contentView_->setFrame(content);
    }
    layoutTitleBarButtons();
    viewsNeedDisplay = true;
    if (old == frame) return;
    displayBackend().windowChanged(*this);
    if (auto d = delegate.lock()) {
        if (old.size != frame.size) d->windowDidResize(*this);
        if (old.origin != frame.origin) d->windowDidMove(*this);
    }
    if (visible_) NSApplication::shared().updateTracking();
}

void NSWindow::setContentSize(CGSize size) {
    CGRect f = frameRectForContentRect({frame_.origin, size});
    f.origin.y = frame_.maxY() - f.height();  // keeps the top edge
    setFrame(f);
}

void NSWindow::setAlphaValue(double alpha) {
    alpha_ = std::clamp(alpha, 0.0, 1.0);
    displayBackend().windowChanged(*this);
}

void NSWindow::center() {
    auto s = screen();
    if (!s) return;
    CGRect v = s->visibleFrame();
    setFrameOrigin({v.midX() - frame_.width() / 2, v.minY() + (v.height() - frame_.height()) * 2 / 3});
}

void NSWindow::setContentView(std::shared_ptr<NSView> view) {
    if (contentView_ == view) return;
    if (contentView_) contentView_->setWindowRecursive(nullptr);
    contentView_ = view ? std::move(view) : std::make_shared<NSView>();
    if (contentView_->superview()) contentView_->removeFromSuperview();
    CGRect content = (styleMask() & NSWindowStyleMaskFullSizeContentView)
                         ? CGRect{{0, 0}, frame_.size}
                         : contentRectForFrameRect({{0, 0}, frame_.size});
    contentView_->setFrame(content);
    contentView_->setWindowRecursive(self());
    viewsNeedDisplay = true;
}

void NSWindow::setContentViewController(std::shared_ptr<NSViewController> controller) {
    if (contentViewController_ && visible_) {
        contentViewController_->notifyWillDisappear();
        contentViewController_->notifyDidDisappear();
    }
    contentViewController_ = std::move(controller);
    if (!contentViewController_) return;
    auto view = contentViewController_->view();
    // The window takes the controller's view size.
    if (view && view->frame().size != CGSize{} && frame_.size == CGSize{})
        frame_.size = frameRectForContentRect({{0, 0}, view->frame().size}).size;
    setContentView(view);
    if (visible_) {
        contentViewController_->notifyWillAppear();
        contentViewController_->notifyDidAppear();
    }
}

std::shared_ptr<NSButton> NSWindow::standardWindowButton(NSWindowButton which) const {
    auto i = static_cast<std::size_t>(which);
    return i < titleButtons_.size() ? titleButtons_[i] : nullptr;
}

void NSWindow::layoutTitleBarButtons() {
    const bool titled = styleMask() & NSWindowStyleMaskTitled;
    if (!titled) {
        titleButtons_.clear();
        titleBarView_.reset();
        return;
    }
    if (!titleBarView_) {
        titleBarView_ = std::make_shared<NSView>();
        for (int i = 0; i < 3; ++i) {
            auto b =
                std::make_shared<WindowButton>(CGRectMake(8 + 20.0 * i, 5, 12, 12), static_cast<NSWindowButton>(i));
            std::weak_ptr<NSWindow> weak = std::static_pointer_cast<NSWindow>(shared_from_this());
            b->action = [weak, i](NSControl&) {
                auto w = weak.lock();
                if (!w) return;
                if (i == 0)
                    w->performClose();
                else if (i == 1)
                    w->miniaturize();
                else if (auto s = w->screen())
                    w->setFrame(s->visibleFrame());
            };
            titleButtons_.push_back(b);
            titleBarView_->addSubview(b);
        }
        titleBarView_->setWindowRecursive(std::static_pointer_cast<NSWindow>(shared_from_this()));
    }
    titleBarView_->setFrame(CGRectMake(0, frame_.height() - kTitleBarHeight, frame_.width(), kTitleBarHeight));
}

// --- ordering -----------------------------------------------------------------------------------

void NSWindow::orderFront(const std::shared_ptr<void>&) {
    auto me = self();
    NSApplication::shared().windowRegistered(me);
    if (closed_) closed_ = false;
    miniaturized_ = false;
    const bool appearing = !visible_;
    if (appearing) {
        frame_ = constrainFrameRect(frame_, NSScreen::mainScreen().get());
        setFrame(frame_);
        willOrderOnScreen();
        if (contentViewController_) contentViewController_->notifyWillAppear();
    }
    visible_ = true;
    NSApplication::shared().windowOrderedFront(me);
    displayBackend().windowChanged(*this);
    if (appearing && contentViewController_) contentViewController_->notifyDidAppear();
    NSApplication::shared().updateTracking();
}

void NSWindow::orderOut(const std::shared_ptr<void>&) {
    if (!visible_) return;
    auto me = self();
    if (contentViewController_) contentViewController_->notifyWillDisappear();
    visible_ = false;
    NSApplication::shared().windowOrderedOut(*this);
    displayBackend().windowChanged(*this);
    didOrderOffScreen();
    if (contentViewController_) contentViewController_->notifyDidDisappear();
    NSApplication::shared().updateTracking();
}

void NSWindow::orderWindow(NSWindowOrderingMode mode, long) {
    if (mode == NSWindowOrderingMode::out)
        orderOut();
    else
        orderFront();
}

void NSWindow::makeKeyAndOrderFront(const std::shared_ptr<void>& sender) {
    orderFront(sender);
    makeKeyWindow();
    makeMainWindow();
}

void NSWindow::makeKeyWindow() {
    if (!canBecomeKeyWindow() || isKeyWindow()) return;
    NSApplication::shared().setKeyWindow(self());
}

void NSWindow::makeMainWindow() {
    if (!canBecomeMainWindow() || isMainWindow()) return;
    NSApplication::shared().setMainWindow(self());
}

bool NSWindow::isKeyWindow() const { return NSApplication::shared().keyWindow().get() == this; }
bool NSWindow::isMainWindow() const { return NSApplication::shared().mainWindow().get() == this; }
bool NSWindow::canBecomeKeyWindow() const { return (styleMask() & NSWindowStyleMaskTitled) != 0; }
bool NSWindow::canBecomeMainWindow() const { return (styleMask() & NSWindowStyleMaskTitled) != 0; }

bool NSPanel::canBecomeKeyWindow() const { return (styleMask() & NSWindowStyleMaskTitled) != 0; }

void NSWindow::close() {
    if (closed_) return;
    auto me = self();
    if (auto d = delegate.lock()) d->windowWillClose(*this);
    Foundation::NotificationCenter::defaultCenter().post("NSWindowWillCloseNotification", me);
    makeFirstResponder(nullptr);
    orderOut();
    closed_ = true;
    displayBackend().windowClosed(*this);
}

void NSWindow::performClose(const std::shared_ptr<void>&) {
    if (auto d = delegate.lock())
        if (!d->windowShouldClose(*this)) return;
    close();
}

void NSWindow::toggleFullScreen(const std::shared_ptr<void>&) {
    auto d = delegate.lock();
    if (!isFullScreen()) {
        if (d) d->windowWillEnterFullScreen(*this);
        frameBeforeFullScreen_ = frame_;
        styleMask_ |= NSWindowStyleMaskFullScreen;
        if (auto s = screen()) setFrame(s->frame());
        if (d) d->windowDidEnterFullScreen(*this);
    } else {
        if (d) d->windowWillExitFullScreen(*this);
        styleMask_ &= ~NSWindowStyleMaskFullScreen;
        setFrame(frameBeforeFullScreen_);
        if (d) d->windowDidExitFullScreen(*this);
    }
}

// --- responders and events -------------------------------------------------------------------------

bool NSWindow::makeFirstResponder(NSResponder* responder) {
    if (responder == firstResponder_) return true;
    if (firstResponder_ && !firstResponder_->resignFirstResponder()) return false;
    firstResponder_ = nullptr;
    if (responder && !responder->acceptsFirstResponder()) return false;
    if (responder && !responder->becomeFirstResponder()) return false;
    firstResponder_ = responder;
    return true;
}

NSView* NSWindow::hitTest(CGPoint p) const {
    if (titleBarView_)
        for (auto& b : titleButtons_)
            if (!b->isHidden() && b->frameInWindow().contains(p)) return b.get();
    return contentView_ ? contentView_->hitTest(p) : nullptr;
}

void NSWindow::sendEvent(const std::shared_ptr<NSEvent>& event) {
    auto me = self();
    NSEvent& e = *event;
    switch (e.type) {
        case NSEventType::LeftMouseDown: {
            NSView* hit = hitTest(e.locationInWindow);
            if (!isKeyWindow() && canBecomeKeyWindow()) makeKeyWindow();
            if (!hit) return;
            if (hit->acceptsFirstResponder()) makeFirstResponder(hit);
            mouseDownView_ = hit->self();
            hit->mouseDown(e);
            break;
        }
        case NSEventType::LeftMouseDragged:
            if (mouseDownView_) mouseDownView_->mouseDragged(e);
            break;
        case NSEventType::LeftMouseUp:
            if (auto v = std::move(mouseDownView_)) v->mouseUp(e);
            mouseDownView_.reset();
            break;
        case NSEventType::RightMouseDown:
            if (NSView* hit = hitTest(e.locationInWindow)) hit->rightMouseDown(e);
            break;
        case NSEventType::RightMouseUp:
            if (NSView* hit = hitTest(e.locationInWindow)) hit->rightMouseUp(e);
            break;
        case NSEventType::OtherMouseDown:
            if (NSView* hit = hitTest(e.locationInWindow)) hit->otherMouseDown(e);
            break;
        case NSEventType::MouseMoved:
            if (acceptsMouseMovedEvents && firstResponder_) firstResponder_->mouseMoved(e);
            break;
        case NSEventType::ScrollWheel:
            if (NSView* hit = hitTest(e.locationInWindow)) hit->scrollWheel(e);
            break;
        case NSEventType::KeyDown:
            if (firstResponder_)
                firstResponder_->keyDown(e);
            else
                keyDown(e);
            break;
        case NSEventType::KeyUp:
            if (firstResponder_) firstResponder_->keyUp(e);
            break;
        default:
            break;
    }
}

// --- drawing --------------------------------------------------------------------------------------------

void NSWindow::draw(CoreGraphics::DrawingContext& ctx) {
    if (contentView_) contentView_->layoutSubtreeIfNeeded();
    const CGRect b{{0, 0}, frame_.size};
    ctx.save();
    ctx.clipToRect(b);
    RGBA bg = toRGBA(backgroundColor());
    if (bg.a > 0) ctx.fillRect(b, bg);
    const bool titled = styleMask() & NSWindowStyleMaskTitled;
    if (contentView_) contentView_->display(ctx);
    if (titled && !isFullScreen()) {
        const CGRect bar = CGRectMake(0, frame_.height() - kTitleBarHeight, frame_.width(), kTitleBarHeight);
        const bool dark = effectiveAppearance()->isDark();
        if (!titlebarAppearsTransparent) ctx.fillRect(bar, dark ? RGBA{0.2, 0.2, 0.2, 1} : RGBA{0.9, 0.9, 0.9, 1});
        if (!title.empty()) {
            CoreGraphics::FontSpec font;
            font.size = 13;
            ctx.drawText(title, CoreGraphics::CGRectInset(bar, 70, 3), font, dark ? RGBA{1, 1, 1, 1} : RGBA{0, 0, 0, 1},
                         CoreGraphics::TextAlignment::Center);
        }
        if (titleBarView_) titleBarView_->display(ctx);
    }
    ctx.restore();
    viewsNeedDisplay = false;
}

std::shared_ptr<NSWindowAnimator> NSWindow::animator() { return std::make_shared<NSWindowAnimator>(self()); }

// --- view controller -------------------------------------------------------------------------------------

std::shared_ptr<NSView> NSViewController::view() {
    if (!view_ && !loading_) {
        loading_ = true;
        loadView();
        if (!view_) view_ = std::make_shared<NSView>(CGRect{{0, 0}, preferredContentSize});
        loading_ = false;
        viewDidLoad();
    }
    return view_;
}

void NSViewController::setView(std::shared_ptr<NSView> view) { view_ = std::move(view); }

void NSViewController::loadView() { view_ = std::make_shared<NSView>(CGRect{{0, 0}, preferredContentSize}); }

void NSViewController::notifyWillAppear() {
    if (!appeared_) viewWillAppear();
}
void NSViewController::notifyDidAppear() {
    if (!appeared_) {
        appeared_ = true;
        viewDidAppear();
    }
}
void NSViewController::notifyWillDisappear() {
    if (appeared_) viewWillDisappear();
}
void NSViewController::notifyDidDisappear() {
    if (appeared_) {
        appeared_ = false;
        viewDidDisappear();
    }
}

void NSViewController::presentViewControllerAsModalWindow(std::shared_ptr<NSViewController> controller) {
    if (!controller) return;
    controller->presenting_ = this;
    presented_.push_back(controller);
    auto w = NSWindow::windowWithContentViewController(controller);
    controller->presentedWindow_ = w;
    w->center();
    w->makeKeyAndOrderFront();
}

void NSViewController::dismissViewController(const std::shared_ptr<NSViewController>& controller) {
    if (!controller) return;
    auto it = std::find(presented_.begin(), presented_.end(), controller);
    if (it == presented_.end()) return;
    auto keep = controller;
    presented_.erase(it);
    controller->presenting_ = nullptr;
    if (auto w = std::move(controller->presentedWindow_)) w->close();
}

void NSViewController::dismissController(const std::shared_ptr<void>&) {
    if (presenting_) {
        presenting_->dismissViewController(self());
        return;
    }
    if (view_)
        if (auto w = view_->window()) w->close();
}

// --- window controller -------------------------------------------------------------------------------------

NSWindowController::NSWindowController(std::shared_ptr<NSWindow> window) : window_(std::move(window)) {
    loaded_ = window_ != nullptr;
}

std::shared_ptr<NSWindow> NSWindowController::window() {
    if (!window_ && !loaded_) {
        loaded_ = true;
        loadWindow();
        if (window_) windowDidLoad();
    }
    return window_;
}

void NSWindowController::setWindow(std::shared_ptr<NSWindow> window) {
    window_ = std::move(window);
    loaded_ = true;
    if (window_) window_->windowController = std::static_pointer_cast<NSWindowController>(shared_from_this());
}

void NSWindowController::showWindow(const std::shared_ptr<void>& sender) {
    auto w = window();
    if (!w) return;
    if (w->canBecomeKeyWindow())
        w->makeKeyAndOrderFront(sender);
    else
        w->orderFront(sender);
}

void NSWindowController::close() {
    if (window_) window_->close();
}

std::shared_ptr<NSViewController> NSWindowController::contentViewController() const {
    return window_ ? window_->contentViewController() : nullptr;
}

}  // namespace AppKit
