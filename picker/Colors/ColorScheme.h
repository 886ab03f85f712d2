#pragma once
// Colour schemes: four related colours from a base colour's hue, saturation,
// brightness and alpha, for the colour editor.

#include <array>
#include <optional>

#include "Platform/AppKit/NSColor.h"

// Cases and raw values as the editor stores them (the first is spelt so).
enum class ColorScheme : int { Analagous = 0, Monochromatic = 1, Triad = 2, Complementary = 3 };

// 0 to 3 give a scheme; anything else none.
std::optional<ColorScheme> colorSchemeFromRawValue(long rawValue);

// One colour of a scheme before it is made: hue as a fraction of the circle;
// saturation and brightness as computed, which may leave 0..1 (the colour
// constructor clamps them).
struct SchemeHSB {
    double hue, saturation, brightness, alpha;
};
using SchemeValues = std::array<SchemeHSB, 4>;
using SchemeColors = std::array<AppKit::NSColorRef, 4>;

// The base hue h (0..1) moved by `degrees`, wrapped once into 0..360 degrees
// (360 itself stays: hue 1.0).
double shiftedHue(double h, double degrees);

SchemeValues analogousValues(double h, double s, double v, double a);
SchemeValues monochromaticValues(double h, double s, double v, double a);
SchemeValues triadValues(double h, double s, double v, double a);
SchemeValues complementaryValues(double h, double s, double v, double a);

// The generators: each value made with the platform's HSB constructor.
SchemeColors analogousColors(double h, double s, double v, double a);
SchemeColors monochromaticColors(double h, double s, double v, double a);
SchemeColors triadColors(double h, double s, double v, double a);
SchemeColors complementaryColors(double h, double s, double v, double a);

// The editor's dispatch on a raw value: 1 monochromatic, 2 triad,
// 3 complementary, anything else analogous.
SchemeColors colorsForScheme(long rawValue, double h, double s, double v, double a);
