#pragma once
// The editor's slider cell: the bar is a gradient showing where the colour
// goes as the slider moves (a ramp of two colours, a hue rainbow, or a
// three-stop lightness ramp).

#include <memory>
#include <vector>

#include "Platform/AppKit/NSControls.h"
#include "Platform/QuartzCore/CALayer.h"

class RYGradientSliderCell : public AppKit::NSSliderCell {
public:
    RYGradientSliderCell();

    const AppKit::NSColorRef& minColor() const { return minColor_; }
    const AppKit::NSColorRef& maxColor() const { return maxColor_; }
    bool hasRainbow() const { return hasRainbow_; }
    // Each assignment rebuilds `colors` and `locations`.
    void setMinColor(AppKit::NSColorRef color);
    void setMaxColor(AppKit::NSColorRef color);
    void setHasRainbow(bool rainbow);

    const std::vector<AppKit::NSColorRef>& colors() const { return colors_; }
    const std::vector<double>& locations() const { return locations_; }
    const std::shared_ptr<QuartzCore::CAGradientLayer>& trackLayer() const { return trackLayer_; }

    void updateColors();
    void updateLightnessColors();
    void drawBarInside(AppKit::CGRect rect, bool flipped, CoreGraphics::DrawingContext& ctx) override;
    void drawBar(AppKit::CGRect rect, CoreGraphics::DrawingContext& ctx) const;

    // The stops drawn: one location per colour; with differing counts the
    // colours are spaced evenly. Empty when no gradient can be made.
    std::vector<double> drawnLocations() const;

private:
    AppKit::NSColorRef minColor_;
    AppKit::NSColorRef maxColor_;
    bool hasRainbow_ = false;
    std::shared_ptr<QuartzCore::CAGradientLayer> trackLayer_;
    std::vector<AppKit::NSColorRef> colors_;
    std::vector<double> locations_;
};
