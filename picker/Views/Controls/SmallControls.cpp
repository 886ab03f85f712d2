#include "picker/Views/Controls/SmallControls.h"

#include "Platform/QuartzCore/CALayer.h"

#include <algorithm>

namespace Vexil::Views {
using namespace AppKit;

CoreGraphics::RGBA layerColor(const NSColorRef& color) {
    if (!color) return {0, 0, 0, 0};
    return {color->redComponent(), color->greenComponent(), color->blueComponent(), color->alphaComponent()};
}

void ZNLHoverButton::updateTrackingAreas() {
    NSButton::updateTrackingAreas();
    if (!trackingArea)
        trackingArea = NSTrackingArea::make(
            CGRect{}, NSTrackingMouseEnteredAndExited | NSTrackingActiveAlways | NSTrackingInVisibleRect,
            weak_from_this());
    const auto& areas = trackingAreas();
    if (std::find(areas.begin(), areas.end(), trackingArea) == areas.end()) addTrackingArea(trackingArea);
}

void ZNLHoverButton::mouseEntered(NSEvent&) { applyLook(hoverImage, hoverBackgroundColor); }
void ZNLHoverButton::mouseExited(NSEvent&) { applyLook(defaultImage, defaultBackgroundColor); }

void ZNLHoverButton::applyLook(const NSImageRef& image, const NSColorRef& background) {
    if (image) {
        setImage(image);
        return;
    }
    setWantsLayer(true);
    if (layer()) layer()->backgroundColor = layerColor(background);
    setNeedsDisplay();
}

void ZNLView::updateTrackingAreas() {
    NSView::updateTrackingAreas();
    if (trackingArea) removeTrackingArea(trackingArea);
    trackingArea =
        NSTrackingArea::make(bounds(), NSTrackingMouseEnteredAndExited | NSTrackingActiveAlways, weak_from_this());
    addTrackingArea(trackingArea);
}

void ZNLView::mouseEntered(NSEvent&) {
    if (auto d = delegate.lock()) d->viewMouseEntered();
}

void ZNLView::mouseExited(NSEvent&) {
    if (auto d = delegate.lock()) d->viewMouseExited();
}

void fitFontToWidth(NSTextField& field, double inset) {
    // Stops at the smallest size: a field too narrow for any size would
    // otherwise lower the font forever.
    while (field.font) {
        double width = field.font->sizeOfString(field.stringValue()).width;
        if (width - inset <= field.bounds().size.width) return;
        double next = field.font->pointSize() - 0.5;
        if (next < kSmallestFittedFontSize) return;
        field.font = field.font->withSize(next);
    }
}

bool isDarkAppearance(const NSAppearance* appearance) {
    if (!appearance) return false;
    return appearance->bestMatchFromAppearancesWithNames({NSAppearanceNameDarkAqua, NSAppearanceNameAqua}) ==
           NSAppearanceNameDarkAqua;
}

}  // namespace Vexil::Views
