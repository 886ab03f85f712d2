#include "picker/Views/Shades/ZNLShadeView.h"

#include "Platform/AppKit/Layout.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Views/Palettes/RCPalettesViewController.h"

using namespace AppKit;

void fitFontToWidth(NSTextField& field, double inset) {
    const double width = field.frame().width() - inset;
    double size = field.font ? field.font->pointSize() : 13;
    while (size > 1 && NSFont::systemFontOfSize(size)->sizeOfString(field.stringValue()).width > width) size -= 0.5;
    field.font = NSFont::systemFontOfSize(size);
}

std::shared_ptr<ZNLShadeView> ZNLShadeView::create(const NSColorRef& color, const ColorFormat& format) {
    if (!color) return nullptr;
    auto view = NSView::make<ZNLShadeView>(CGRectMake(0, 0, 60, 40));
    view->setWantsLayer(true);
    view->setColor(color);
    auto label =
        NSTextField::labelWithString(formatted(*color, format, view->colorItem ? view->colorItem->colorName() : ""));
    label->setFrame(CGRectMake(2, 12, 56, 16));
    label->alignment = NSTextAlignment::center;
    label->autoresizingMask = NSViewWidthSizable;
    label->textColor = contrastingTextColor(*color);
    view->addSubview(label);
    view->colorLabel = label;
    fitFontToWidth(*label, 0);
    view->language = format;
    view->setUpPopover();
    return view;
}

void ZNLShadeView::setColor(const NSColorRef& color) {
    color_ = color;
    if (!wantsLayer()) setWantsLayer(true);
    layer()->backgroundColor = toRGBA(color);
    setNeedsDisplay();
}

NSColorRef ZNLShadeView::color() const { return layer() ? color_ : nullptr; }

void ZNLShadeView::setUpPopover() {
    setWantsLayer(true);
    if (colorLabel) colorLabel->setHidden(true);
    auto info = std::make_shared<RCColorInfoViewController>();
    info->info = colorLabel ? colorLabel->stringValue() : "";
    popover->contentViewController = info;
    popover->animates = false;
}

void ZNLShadeView::updateTrackingAreas() {
    NSView::updateTrackingAreas();
    if (!highlightable) return;
    if (!trackingArea)
        trackingArea = NSTrackingArea::make(
            CGRect{}, NSTrackingMouseEnteredAndExited | NSTrackingActiveAlways | NSTrackingInVisibleRect,
            weak_from_this());
    const auto& areas = trackingAreas();
    if (std::find(areas.begin(), areas.end(), trackingArea) == areas.end()) addTrackingArea(trackingArea);
}

void ZNLShadeView::mouseEntered(NSEvent&) {
    if (!popover->isShown()) popover->showRelativeToRect(bounds(), *this, NSRectEdge::maxY);
}

void ZNLShadeView::mouseExited(NSEvent&) { popover->close(); }

void ZNLShadeView::mouseDown(NSEvent& event) {
    auto d = delegate.lock();
    auto c = color();
    if (!d || !c) return;
    if (event.clickCount == 2)
        d->shadeViewDoubleClicked(*this, c);
    else if (event.clickCount == 1)
        d->shadeViewClicked(*this, c);
}

void ZNLStackView::addView(const std::shared_ptr<NSView>& view, double width) {
    std::vector<NSLayoutConstraintRef> cs;
    if (views.empty())
        cs.push_back(leftAnchor(view).constraintEqualToAnchor(NSLayoutAnchor(this, NSLayoutAttribute::left)));
    else
        cs.push_back(leftAnchor(view).constraintEqualToAnchor(rightAnchor(views.back())));
    cs.push_back(heightAnchor(view).constraintEqualToAnchor(NSLayoutAnchor(this, NSLayoutAttribute::height)));
    cs.push_back(widthAnchor(view).constraintEqualToConstant(width));
    cs.push_back(topAnchor(view).constraintEqualToAnchor(NSLayoutAnchor(this, NSLayoutAttribute::top)));
    NSLayoutConstraint::activateConstraints(cs);
    setNeedsLayout();
}

void ZNLStackView::removeAllViews() {
    for (auto& v : views) v->removeFromSuperview();
    views.clear();
}
