#include "picker/Views/Controls/ColorHSL.h"

#include "picker/Colors/NSColorAdditions.h"

#include <algorithm>

namespace Vexil::Views {
using namespace AppKit;

HSB hslToHsb(double hue, double saturation, double lightness, double alpha) {
    double offset = saturation * (lightness < 0.5 ? lightness : 1 - lightness);
    double brightness = lightness + offset;
    double s = brightness > 0 ? 2 * offset / brightness : 0;
    return {hue, s, brightness, alpha};
}

NSColorRef calibratedColorWithHSL(double hue, double saturation, double lightness, double alpha) {
    auto c = hslToHsb(hue, saturation, lightness, alpha);
    return NSColor::colorWithCalibratedHue(c.hue, c.saturation, c.brightness, c.alpha);
}

NSColorRef deviceColorWithHSL(double hue, double saturation, double lightness, double alpha) {
    // The model has no device HSB constructor: the same conversion, stored as device RGB.
    auto c = calibratedColorWithHSL(hue, saturation, lightness, alpha);
    return NSColor::colorWithDeviceRed(c->redComponent(), c->greenComponent(), c->blueComponent(), c->alphaComponent());
}

void getHSL(const NSColor& color, double* hue, double* saturation, double* lightness, double* alpha) {
    if (hue) *hue = color.hueComponent();
    if (saturation) *saturation = ::hslSaturation(color);
    if (lightness) {
        double r = color.redComponent(), g = color.greenComponent(), b = color.blueComponent();
        *lightness = (std::max({r, g, b}) + std::min({r, g, b})) / 2;
    }
    if (alpha) *alpha = color.alphaComponent();
}

}  // namespace Vexil::Views
