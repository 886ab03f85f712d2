#include "Platform/AppKit/NSView.h"

#include <algorithm>

#include "Platform/AppKit/Animation.h"
#include "Platform/AppKit/Layout.h"
#include "Platform/AppKit/NSApplication.h"
#include "Platform/AppKit/NSMenu.h"
#include "Platform/AppKit/NSWindow.h"

namespace AppKit {

RGBA toRGBA(const NSColorRef& color) {
    if (!color || color->space() == NSColor::Space::pattern) return {0, 0, 0, 0};
    double r, g, b, a;
    color->getRed(&r, &g, &b, &a);
    return {r, g, b, a};
}

// --- responder: events go up the chain unless handled --------------------------

#define FORWARD(name)                                       \
    void NSResponder::name(NSEvent& event) {                \
        if (auto next = nextResponder()) next->name(event); \
    }
FORWARD(mouseDown)
FORWARD(mouseUp)
FORWARD(mouseDragged)
FORWARD(rightMouseDown)
FORWARD(rightMouseUp)
FORWARD(otherMouseDown)
FORWARD(scrollWheel)
FORWARD(keyDown)
FORWARD(keyUp)
#undef FORWARD
void NSResponder::mouseMoved(NSEvent&) {}
void NSResponder::mouseEntered(NSEvent&) {}
void NSResponder::mouseExited(NSEvent&) {}

// --- view ----------------------------------------------------------------------------

NSView::NSView(CGRect frame) : frame_(frame), bounds_{{0, 0}, frame.size} {}

NSView::~NSView() {
    for (auto& s : subviews_) s->superview_ = nullptr;
    for (auto& c : constraints_)
        if (c->installedOn_ == this) c->installedOn_ = nullptr;
}

namespace {
void markTracking(NSView& v) {
    v.trackingAreasNeedUpdate = true;
    for (auto& s : v.subviews()) markTracking(*s);
}
}  // namespace

void NSView::setFrame(CGRect frame) {
    if (frame == frame_) return;
    const CGSize old = frame_.size;
    frame_ = frame;
    if (bounds_.size != frame.size) bounds_.size = frame.size;
    if (layer_) layer_->setFrame({{0, 0}, frame.size});
    if (old != frame.size) {
        if (autoresizesSubviews) resizeSubviewsWithOldSize(old);
        setNeedsLayout();
    }
    markTracking(*this);
    setNeedsDisplay();
}

void NSView::setBounds(CGRect b) {
    bounds_ = b;
    markTracking(*this);
    setNeedsDisplay();
}

namespace {
bool superFlipped(const NSView& v) { return v.superview() && v.superview()->isFlipped(); }

CGPoint toSuper(const NSView& v, CGPoint q) {
    const CGRect f = v.frame(), b = v.bounds();
    const double sx = b.width() > 0 ? f.width() / b.width() : 1;
    const double sy = b.height() > 0 ? f.height() / b.height() : 1;
    const double dx = (q.x - b.minX()) * sx, dy = (q.y - b.minY()) * sy;
    if (v.isFlipped() == superFlipped(v)) return {f.minX() + dx, f.minY() + dy};
    return {f.minX() + dx, f.maxY() - dy};
}

CGPoint fromSuper(const NSView& v, CGPoint p) {
    const CGRect f = v.frame(), b = v.bounds();
    const double sx = f.width() > 0 ? b.width() / f.width() : 1;
    const double sy = f.height() > 0 ? b.height() / f.height() : 1;
    const double dx = p.x - f.minX();
    const double dy = v.isFlipped() == superFlipped(v) ? p.y - f.minY() : f.maxY() - p.y;
    return {b.minX() + dx * sx, b.minY() + dy * sy};
}

CGPoint toWindow(const NSView* v, CGPoint p) {
    for (; v; v = v->superview()) p = toSuper(*v, p);
    return p;
}

CGPoint fromWindow(const NSView* v, CGPoint p) {
    std::vector<const NSView*> chain;
    for (; v; v = v->superview()) chain.push_back(v);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) p = fromSuper(**it, p);
    return p;
}

CGRect rectFromCorners(CGPoint a, CGPoint b) {
    return CGRectMake(std::min(a.x, b.x), std::min(a.y, b.y), std::abs(b.x - a.x), std::abs(b.y - a.y));
}
}  // namespace

CGPoint NSView::convertPointToView(CGPoint p, const NSView* view) const { return fromWindow(view, toWindow(this, p)); }
CGPoint NSView::convertPointFromView(CGPoint p, const NSView* view) const {
    return fromWindow(this, toWindow(view, p));
}

CGRect NSView::convertRectToView(CGRect r, const NSView* view) const {
    return rectFromCorners(convertPointToView(r.origin, view), convertPointToView({r.maxX(), r.maxY()}, view));
}

CGRect NSView::convertRectFromView(CGRect r, const NSView* view) const {
    return rectFromCorners(convertPointFromView(r.origin, view), convertPointFromView({r.maxX(), r.maxY()}, view));
}

CGPoint NSView::convertPointToScreen(CGPoint p) const {
    CGPoint w = convertPointToView(p, nullptr);
    if (auto win = window()) return win->convertPointToScreen(w);
    return w;
}

CGRect NSView::convertRectToScreen(CGRect r) const {
    CGRect w = convertRectToView(r, nullptr);
    if (auto win = window()) return win->convertRectToScreen(w);
    return w;
}

CGRect NSView::frameInWindow() const { return convertRectToView(bounds_, nullptr); }

CGRect NSView::visibleRect() const {
    CGRect r = frameInWindow();
    for (const NSView* a = superview_; a; a = a->superview_)
        r = CoreGraphics::CGRectIntersection(r, a->frameInWindow());
    if (r.isEmpty()) return {};
    return convertRectFromView(r, nullptr);
}

// --- hierarchy ---------------------------------------------------------------------------

void NSView::addSubview(std::shared_ptr<NSView> view) {
    addSubview(std::move(view), NSWindowOrderingMode::above, nullptr);
}

void NSView::addSubview(std::shared_ptr<NSView> view, NSWindowOrderingMode place, const NSView* relativeTo) {
    if (!view || view.get() == this) return;
    auto keep = view;
    if (view->superview_) view->removeFromSuperview();
    auto it = subviews_.end();
    if (relativeTo) {
        auto rel =
            std::find_if(subviews_.begin(), subviews_.end(), [&](const auto& s) { return s.get() == relativeTo; });
        if (rel != subviews_.end()) it = place == NSWindowOrderingMode::below ? rel : rel + 1;
    } else if (place == NSWindowOrderingMode::below) {
        it = subviews_.begin();
    }
    subviews_.insert(it, view);
    view->superview_ = this;
    view->setWindowRecursive(window());
    view->viewDidMoveToSuperview();
    markTracking(*view);
    setNeedsLayout();
    setNeedsDisplay();
}

void NSView::removeFromSuperview() {
    if (!superview_) return;
    auto keep = self();
    NSView* parent = superview_;
    if (auto w = window()) {
        NSResponder* fr = w->firstResponder();
        for (const NSView* v = dynamic_cast<const NSView*>(fr); v; v = v->superview_)
            if (v == this) {
                w->makeFirstResponder(nullptr);
                break;
            }
    }
    auto& list = parent->subviews_;
    list.erase(std::remove_if(list.begin(), list.end(), [this](const auto& s) { return s.get() == this; }), list.end());
    superview_ = nullptr;
    // Constraints held by former ancestors that name this view go with it.
    for (NSView* a = parent; a; a = a->superview_) {
        auto& cs = a->constraints_;
        for (auto& c : cs)
            if (c->involves(this) && c->installedOn_ == a) c->installedOn_ = nullptr;
        cs.erase(std::remove_if(cs.begin(), cs.end(), [this](const auto& c) { return c->involves(this); }), cs.end());
    }
    setWindowRecursive(nullptr);
    viewDidMoveToSuperview();
    parent->setNeedsLayout();
    parent->setNeedsDisplay();
}

void NSView::setSubviews(std::vector<std::shared_ptr<NSView>> views) {
    for (auto& s : std::vector<std::shared_ptr<NSView>>(subviews_)) s->removeFromSuperview();
    for (auto& v : views) addSubview(v);
}

bool NSView::isDescendantOf(const NSView* view) const {
    for (const NSView* v = this; v; v = v->superview_)
        if (v == view) return true;
    return false;
}

NSResponder* NSView::nextResponder() const {
    if (superview_) return superview_;
    auto w = window();
    return w.get();
}

void NSView::setWindowRecursive(const std::shared_ptr<NSWindow>& window) {
    auto current = window_.lock();
    if (current != window) {
        viewWillMoveToWindow(window.get());
        window_ = window;
        trackingAreasNeedUpdate = true;
        viewDidMoveToWindow();
    }
    for (auto& s : std::vector<std::shared_ptr<NSView>>(subviews_)) s->setWindowRecursive(window);
}

void NSView::setHidden(bool hidden) {
    if (hidden_ == hidden) return;
    hidden_ = hidden;
    if (hidden) {
        if (auto w = window()) {
            for (const NSView* v = dynamic_cast<const NSView*>(w->firstResponder()); v; v = v->superview_)
                if (v == this) {
                    w->makeFirstResponder(nullptr);
                    break;
                }
        }
    }
    markTracking(*this);
    if (superview_) superview_->setNeedsDisplay();
    setNeedsDisplay();
}

bool NSView::isHiddenOrHasHiddenAncestor() const {
    for (const NSView* v = this; v; v = v->superview_)
        if (v->hidden_) return true;
    return false;
}

void NSView::setAlphaValue(double a) {
    alpha_ = std::clamp(a, 0.0, 1.0);
    setNeedsDisplay();
}

// --- layer ------------------------------------------------------------------------------------

std::shared_ptr<QuartzCore::CALayer> NSView::makeBackingLayer() { return QuartzCore::CALayer::layer(); }

void NSView::setWantsLayer(bool wants) {
    wantsLayer_ = wants;
    if (wants && !layer_) {
        layer_ = makeBackingLayer();
        layer_->setFrame({{0, 0}, frame_.size});
    }
    setNeedsDisplay();
}

void NSView::setLayer(std::shared_ptr<QuartzCore::CALayer> layer) {
    layer_ = std::move(layer);
    if (layer_) {
        wantsLayer_ = true;
        layer_->setFrame({{0, 0}, frame_.size});
    }
    setNeedsDisplay();
}

// --- drawing -------------------------------------------------------------------------------------

void NSView::setNeedsDisplay(bool needs) {
    needsDisplay_ = needs;
    if (needs)
        if (auto w = window()) {
            w->viewsNeedDisplay = true;
            displayBackend().windowNeedsDisplay(*w);
        }
}

void NSView::drawRect(CGRect, CoreGraphics::DrawingContext&) {}

void NSView::display(CoreGraphics::DrawingContext& ctx) {
    if (hidden_) return;
    ctx.save();
    ctx.translate(frame_.origin.x, frame_.origin.y);
    if (isFlipped() != superFlipped(*this)) {
        ctx.translate(0, frame_.size.height);
        ctx.scale(1, -1);
    }
    if (bounds_.size.width > 0 && bounds_.size.height > 0 && bounds_.size != frame_.size)
        ctx.scale(frame_.size.width / bounds_.size.width, frame_.size.height / bounds_.size.height);
    if (alpha_ < 1) ctx.setAlpha(alpha_);
    auto drawSelf = [&] {
        ctx.save();
        ctx.translate(-bounds_.origin.x, -bounds_.origin.y);
        drawRect(bounds_, ctx);
        drawLayerContent(ctx);
        ctx.restore();
    };
    auto drawSubviews = [&] {
        ctx.save();
        ctx.translate(-bounds_.origin.x, -bounds_.origin.y);
        for (auto& s : std::vector<std::shared_ptr<NSView>>(subviews_)) s->display(ctx);
        ctx.restore();
    };
    if (layer_) {
        layer_->renderInBounds(ctx, drawSelf, drawSubviews);
    } else {
        drawSelf();
        drawSubviews();
    }
    ctx.restore();
    needsDisplay_ = false;
}

// --- tracking areas ----------------------------------------------------------------------------------

void NSView::addTrackingArea(std::shared_ptr<NSTrackingArea> area) {
    if (!area) return;
    if (std::find(trackingAreas_.begin(), trackingAreas_.end(), area) == trackingAreas_.end())
        trackingAreas_.push_back(std::move(area));
}

void NSView::removeTrackingArea(const std::shared_ptr<NSTrackingArea>& area) {
    trackingAreas_.erase(std::remove(trackingAreas_.begin(), trackingAreas_.end(), area), trackingAreas_.end());
}

// --- events ----------------------------------------------------------------------------------------------

NSView* NSView::hitTest(CGPoint point) {
    if (hidden_) return nullptr;
    CGPoint q = fromSuper(*this, point);
    if (!bounds_.contains(q)) return nullptr;
    for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it)
        if (NSView* hit = (*it)->hitTest(q)) return hit;
    return this;
}

std::shared_ptr<NSMenu> NSView::menuForEvent(NSEvent&) { return menu; }

void NSView::rightMouseDown(NSEvent& event) {
    if (auto m = menuForEvent(event)) {
        NSMenu::popUpContextMenu(m, event, this);
        return;
    }
    NSResponder::rightMouseDown(event);
}

// --- layout -------------------------------------------------------------------------------------------------

void NSView::addConstraint(std::shared_ptr<NSLayoutConstraint> c) {
    if (!c || std::find(constraints_.begin(), constraints_.end(), c) != constraints_.end()) return;
    if (c->installedOn_ && c->installedOn_ != this) c->installedOn_->removeConstraint(c);
    c->installedOn_ = this;
    constraints_.push_back(std::move(c));
    setNeedsLayout();
}

void NSView::addConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& cs) {
    for (auto& c : cs) addConstraint(c);
}

void NSView::removeConstraint(const std::shared_ptr<NSLayoutConstraint>& c) {
    if (c && c->installedOn_ == this) c->installedOn_ = nullptr;
    constraints_.erase(std::remove(constraints_.begin(), constraints_.end(), c), constraints_.end());
    setNeedsLayout();
}

void NSView::removeConstraints(const std::vector<std::shared_ptr<NSLayoutConstraint>>& cs) {
    for (auto& c : cs) removeConstraint(c);
}

CGSize NSView::fittingSize() {
    CGSize s = intrinsicContentSize();
    if (s.width < 0 || s.height < 0) {
        CGSize solved = NSLayoutSolver::fittingSize(*this);
        if (s.width < 0) s.width = solved.width;
        if (s.height < 0) s.height = solved.height;
    }
    return s;
}

void NSView::setNeedsLayout(bool needs) {
    needsLayout_ = needs;
    if (needs)
        if (auto w = window()) w->viewsNeedDisplay = true;
}

void NSView::layout() {}

namespace {
bool subtreeNeedsLayout(const NSView& v) {
    if (v.needsLayout()) return true;
    for (auto& s : v.subviews())
        if (subtreeNeedsLayout(*s)) return true;
    return false;
}
void runLayoutHooks(NSView& v) {
    if (v.needsLayout()) {
        v.setNeedsLayout(false);
        v.layout();
    }
    for (auto& s : std::vector<std::shared_ptr<NSView>>(v.subviews())) runLayoutHooks(*s);
}
}  // namespace

void NSView::layoutSubtreeIfNeeded() {
    // Constraints may tie this tree to its ancestors: the whole tree is solved.
    NSView* root = this;
    while (root->superview_) root = root->superview_;
    if (!subtreeNeedsLayout(*root)) return;
    auto keep = root->self();
    NSLayoutSolver::solve(*root);
    runLayoutHooks(*root);
}

void NSView::resizeSubviewsWithOldSize(CGSize old) {
    const double dw = frame_.size.width - old.width, dh = frame_.size.height - old.height;
    for (auto& s : subviews_) {
        if (!s->translatesAutoresizingMaskIntoConstraints || s->autoresizingMask == NSViewNotSizable) continue;
        const auto m = s->autoresizingMask;
        CGRect f = s->frame();
        auto distribute = [](double delta, bool flexLow, bool flexSize, bool flexHigh, double low, double size,
                             double high, double& outLow, double& outSize) {
            double total = (flexLow ? low : 0) + (flexSize ? size : 0) + (flexHigh ? high : 0);
            int count = int(flexLow) + int(flexSize) + int(flexHigh);
            outLow = 0;
            outSize = 0;
            if (count == 0) return;
            auto share = [&](bool flex, double value) {
                if (!flex) return 0.0;
                return total > 0 ? delta * value / total : delta / count;
            };
            outLow = share(flexLow, low);
            outSize = share(flexSize, size);
        };
        double addX, addW, addY, addH;
        distribute(dw, m & NSViewMinXMargin, m & NSViewWidthSizable, m & NSViewMaxXMargin, f.minX(), f.width(),
                   old.width - f.maxX(), addX, addW);
        const bool flipped = isFlipped();
        distribute(dh, m & (flipped ? NSViewMaxYMargin : NSViewMinYMargin), m & NSViewHeightSizable,
                   m & (flipped ? NSViewMinYMargin : NSViewMaxYMargin), f.minY(), f.height(), old.height - f.maxY(),
                   addY, addH);
        s->setFrame(CGRectMake(f.minX() + addX, f.minY() + addY, std::max(0.0, f.width() + addW),
                               std::max(0.0, f.height() + addH)));
    }
}

std::shared_ptr<NSViewAnimator> NSView::animator() { return std::make_shared<NSViewAnimator>(self()); }

}  // namespace AppKit
