#include "Platform/AppKit/NSScrollView.h"

#include <algorithm>

#include "Platform/AppKit/NSApplication.h"

namespace AppKit {

// --- clip view -----------------------------------------------------------------------

void NSClipView::setDocumentView(std::shared_ptr<NSView> view) {
    if (documentView_) documentView_->removeFromSuperview();
    documentView_ = std::move(view);
    if (documentView_) addSubview(documentView_);
    setBoundsOrigin(constrainBoundsOrigin(bounds().origin));
}

CGPoint NSClipView::constrainBoundsOrigin(CGPoint o) const {
    if (!documentView_) return {0, 0};
    CGRect doc = documentView_->frame();
    CGSize size = bounds().size;
    o.x = std::max(doc.minX(), std::min(o.x, doc.maxX() - size.width));
    o.y = std::max(doc.minY(), std::min(o.y, doc.maxY() - size.height));
    return o;
}

void NSClipView::drawRect(CGRect, CoreGraphics::DrawingContext& ctx) {
    if (!drawsBackground) return;
    RGBA c = backgroundColor ? toRGBA(backgroundColor) : RGBA{1, 1, 1, 1};
    if (c.a > 0) ctx.fillRect(bounds(), c);
}

// --- scroll view ---------------------------------------------------------------------

NSScrollView::NSScrollView(CGRect frame)
    : NSView(frame), clip_(std::make_shared<NSClipView>(CGRect{{0, 0}, frame.size})) {
    clip_->autoresizingMask = NSViewWidthSizable | NSViewHeightSizable;
    addSubview(clip_);
}

void NSScrollView::setFrame(CGRect frame) {
    NSView::setFrame(frame);
    clip_->setFrame({{0, 0}, frame.size});
}

void NSScrollView::layout() { clip_->setFrame({{0, 0}, bounds().size}); }

void NSScrollView::scrollWheel(NSEvent& event) {
    CGPoint o = clip_->bounds().origin;
    const bool vertical = verticalScrollElasticity != NSScrollElasticity::none || hasVerticalScroller;
    o.x -= event.scrollingDeltaX;
    if (vertical) o.y += clip_->isFlipped() ? -event.scrollingDeltaY : event.scrollingDeltaY;
    clip_->scrollToPoint(o);
    reflectScrolledClipView(*clip_);
}

// --- stack view ---------------------------------------------------------------------------

std::shared_ptr<NSStackView> NSStackView::stackViewWithViews(std::vector<NSViewRef> views) {
    auto s = std::make_shared<NSStackView>();
    for (auto& v : views) s->addArrangedSubview(v);
    return s;
}

void NSStackView::addArrangedSubview(NSViewRef view) {
    insertArrangedSubview(std::move(view), static_cast<long>(arranged_.size()));
}

void NSStackView::insertArrangedSubview(NSViewRef view, long index) {
    if (!view) return;
    arranged_.erase(std::remove(arranged_.begin(), arranged_.end(), view), arranged_.end());
    index = std::clamp(index, 0L, static_cast<long>(arranged_.size()));
    arranged_.insert(arranged_.begin() + index, view);
    if (view->superview() != this) addSubview(view);
    setNeedsLayout();
    layout();
}

void NSStackView::removeArrangedSubview(const NSViewRef& view) {
    arranged_.erase(std::remove(arranged_.begin(), arranged_.end(), view), arranged_.end());
    setNeedsLayout();
    layout();
}

namespace {
CGSize preferredSize(NSView& v) {
    CGSize s = v.intrinsicContentSize();
    if (s.width < 0) s.width = v.frame().width();
    if (s.height < 0) s.height = v.frame().height();
    return s;
}
}  // namespace

CGSize NSStackView::intrinsicContentSize() const {
    double along = 0, across = 0;
    const bool row = orientation == NSUserInterfaceLayoutOrientation::horizontal;
    int n = 0;
    for (auto& v : arranged_) {
        if (v->isHidden()) continue;
        CGSize s = preferredSize(*v);
        along += row ? s.width : s.height;
        across = std::max(across, row ? s.height : s.width);
        ++n;
    }
    if (n > 1) along += spacing * (n - 1);
    return row ? CGSize{along, across} : CGSize{across, along};
}

void NSStackView::layout() {
    const bool row = orientation == NSUserInterfaceLayoutOrientation::horizontal;
    const CGRect b = bounds();
    std::vector<NSView*> shown;
    for (auto& v : arranged_)
        if (!v->isHidden()) shown.push_back(v.get());
    const double n = static_cast<double>(shown.size());
    double equal = n > 0 ? ((row ? b.width() : b.height()) - spacing * (n - 1)) / n : 0;
    // Rows run left to right; columns top to bottom.
    double pos = row ? 0 : b.height();
    for (auto* v : shown) {
        CGSize s = preferredSize(*v);
        double size = distribution == NSStackViewDistribution::fillEqually ? equal : (row ? s.width : s.height);
        if (row) {
            v->setFrame(CGRectMake(pos, 0, size, b.height()));
            pos += size + spacing;
        } else {
            v->setFrame(CGRectMake(0, pos - size, b.width(), size));
            pos -= size + spacing;
        }
    }
}

// --- popover ---------------------------------------------------------------------------------

namespace {
class PopoverWindow : public NSPanel {
public:
    using NSPanel::NSPanel;
    bool canBecomeKeyWindow() const override { return false; }
};
}  // namespace

void NSPopover::showRelativeToRect(CGRect rect, NSView& view, NSRectEdge edge) {
    if (!contentViewController) return;
    auto content = contentViewController->view();
    CGSize size = contentSize.width > 0 ? contentSize : content->frame().size;
    if (size.width <= 0 || size.height <= 0) size = content->fittingSize();
    CGRect anchor = view.convertRectToScreen(rect);
    constexpr double kGap = 4;
    CGRect f;
    switch (edge) {
        case NSRectEdge::maxY:
            f = CGRectMake(anchor.midX() - size.width / 2, anchor.maxY() + kGap, size.width, size.height);
            break;
        case NSRectEdge::minY:
            f = CGRectMake(anchor.midX() - size.width / 2, anchor.minY() - kGap - size.height, size.width, size.height);
            break;
        case NSRectEdge::maxX:
            f = CGRectMake(anchor.maxX() + kGap, anchor.midY() - size.height / 2, size.width, size.height);
            break;
        case NSRectEdge::minX:
            f = CGRectMake(anchor.minX() - kGap - size.width, anchor.midY() - size.height / 2, size.width, size.height);
            break;
    }
    if (auto w = view.window())
        if (auto s = w->screen()) {
            CGRect sf = s->frame();
            f.origin.x = std::clamp(f.origin.x, sf.minX(), std::max(sf.minX(), sf.maxX() - f.width()));
            f.origin.y = std::clamp(f.origin.y, sf.minY(), std::max(sf.minY(), sf.maxY() - f.height()));
        }
    if (!window_) {
        window_ = NSWindow::make<PopoverWindow>(f, NSWindowStyleMaskBorderless);
        window_->setLevel(NSPopUpMenuWindowLevel);
        window_->releasedWhenClosed = false;
    }
    window_->appearance = appearance;
    window_->setFrame(f);
    const bool wasShown = isShown();
    window_->setContentViewController(contentViewController);
    window_->orderFront();
    if (!wasShown)
        if (auto d = delegate.lock()) d->popoverDidShow(*this);
}

void NSPopover::close() {
    if (!isShown()) return;
    window_->orderOut();
    if (auto d = delegate.lock()) d->popoverDidClose(*this);
}

}  // namespace AppKit
