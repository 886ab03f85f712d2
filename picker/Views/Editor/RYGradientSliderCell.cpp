#include "picker/Views/Editor/RYGradientSliderCell.h"

#include "picker/Colors/NSColorAdditions.h"

using namespace AppKit;

RYGradientSliderCell::RYGradientSliderCell()
    : minColor_(NSColor::blueColor()),
      maxColor_(NSColor::redColor()),
      trackLayer_(QuartzCore::CAGradientLayer::layer()),
      colors_{NSColor::blueColor(), NSColor::blackColor()} {
    trackLayer_->cornerRadius = 1;
    trackLayer_->startPoint = {0, 0.5};
    trackLayer_->endPoint = {1, 0.5};
    trackLayer_->locations = {0, 1};
    trackLayer_->colors = {toRGBA(NSColor::blueColor()), toRGBA(NSColor::orangeColor())};
    trackLayer_->borderColor = toRGBA(NSColor::blackColor());
}

void RYGradientSliderCell::setMinColor(NSColorRef color) {
    minColor_ = std::move(color);
    updateColors();
}

void RYGradientSliderCell::setMaxColor(NSColorRef color) {
    maxColor_ = std::move(color);
    updateColors();
}

void RYGradientSliderCell::setHasRainbow(bool rainbow) {
    hasRainbow_ = rainbow;
    updateColors();
}

void RYGradientSliderCell::updateColors() {
    if (!hasRainbow_) {
        colors_ = {minColor_, maxColor_};
        locations_ = {0.0, 1.0};
        return;
    }
    double h = 0, s = 0, b = 0, a = 1;
    if (minColor_) minColor_->getHue(&h, &s, &b, &a);
    colors_.clear();
    locations_ = {0.0, 0.25, 0.5, 0.75, 1.0};
    for (double t : locations_) {
        // Hue 1.0 is red again: the constructor wraps it.
        colors_.push_back(NSColor::colorWithCalibratedHue(t, s, b, a));
    }
}

void RYGradientSliderCell::updateLightnessColors() {
    colors_ = {minColor_, maxColor_ ? darken1(*maxColor_, 0.5) : nullptr, maxColor_};
    locations_ = {0.0, 0.5, 1.0};
}

std::vector<double> RYGradientSliderCell::drawnLocations() const {
    const std::size_t n = colors_.size();
    if (n < 2) return {};
    for (const auto& c : colors_)
        if (!c || !c->colorUsingColorSpaceName(NSCalibratedRGBColorSpace)) return {};
    if (locations_.size() == n) return locations_;
    std::vector<double> even(n);
    for (std::size_t i = 0; i < n; ++i) even[i] = static_cast<double>(i) / static_cast<double>(n - 1);
    return even;
}

void RYGradientSliderCell::drawBarInside(CGRect rect, bool, CoreGraphics::DrawingContext& ctx) { drawBar(rect, ctx); }

void RYGradientSliderCell::drawBar(CGRect rect, CoreGraphics::DrawingContext& ctx) const {
    const auto locations = drawnLocations();
    if (locations.empty()) return;
    std::vector<RGBA> stops;
    for (const auto& c : colors_) stops.push_back(toRGBA(c));
    ctx.save();
    ctx.clipToRoundedRect(rect, 2.5);
    ctx.fillLinearGradient(rect, {rect.minX(), rect.midY()}, {rect.maxX(), rect.midY()}, stops, locations);
    ctx.restore();
    ctx.strokeRoundedRect(rect, 2.5, RGBA{0.75, 0.75, 0.75, 1}, 0.5);
}
