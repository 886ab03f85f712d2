#pragma once
// Colours by hue, saturation and lightness.
#include "Platform/AppKit/NSColor.h"

namespace Vexil::Views {

struct HSB {
    double hue, saturation, brightness, alpha;
};

// HSL to HSB; black (brightness 0) has saturation 0 rather than a division by zero.
HSB hslToHsb(double hue, double saturation, double lightness, double alpha);
AppKit::NSColorRef deviceColorWithHSL(double hue, double saturation, double lightness, double alpha);
AppKit::NSColorRef calibratedColorWithHSL(double hue, double saturation, double lightness, double alpha);
// Fills each out-value that is given.
void getHSL(const AppKit::NSColor& color, double* hue, double* saturation, double* lightness, double* alpha);

}  // namespace Vexil::Views
