#pragma once
// Colour arithmetic and hex text on the platform colour: the DKAdditions
// category and the colour extension operations, as free functions whose first
// argument is the receiver (`hexRGBA(*color)`). No operation changes a colour;
// each returns a new one.
//
// Components are read in one of three ways, as each operation states:
// converted (to calibrated or device RGB; a colour that cannot be converted
// reads as all zeros), direct (the colour's own RGB/HSB readers) or raw
// (`rgbaComponents`, the Core Graphics components without conversion).

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "Platform/AppKit/NSColor.h"

struct RGBAComponents {
    double red = 0, green = 0, blue = 0, alpha = 0;
};

struct HSBAComponents {
    double hue = 0, saturation = 0, brightness = 0, alpha = 0;
};

// ---- Component readers and conversions ----

// Raw components: 4 as they are, 2 (grey, alpha) as (w, w, w, a), anything
// else (0, 0, 0, 1).
RGBAComponents rgbaComponents(const AppKit::NSColor& color);
// The platform's HSB when the colour has exactly 4 components, else all 0
// (alpha too).
HSBAComponents hsbComponents(const AppKit::NSColor& color);
double hslLightness(const AppKit::NSColor& color);
double hslSaturation(const AppKit::NSColor& color);
// The colour converted to the named space and rebuilt as device RGB; the
// receiver itself when it cannot be converted.
AppKit::NSColorRef rebuiltInDeviceRGB(const AppKit::NSColor& color, std::string_view colorSpaceName);
AppKit::NSColorRef deviceRGBColor(const AppKit::NSColor& color);
AppKit::NSColorRef calibratedRGBColor(const AppKit::NSColor& color);

// component x 255 truncated toward zero, clamped to 0..255 first so that
// every channel prints as two hex digits; not-a-number gives 0.
int channelByte(double component);

// ---- Text forms (channel bytes of the raw components) ----

std::string hexRGBA(const AppKit::NSColor& color);    // "#rrggbbaa", the stored form
std::string hexRGB(const AppKit::NSColor& color);     // "#rrggbb"
std::string hexARGB(const AppKit::NSColor& color);    // "#aarrggbb"
std::string rgbString(const AppKit::NSColor& color);  // "RGB(255, 127, 0)"
// Calibrated RGB, "#RRGGBB" upper case of floor(component x 255).
std::string hexString(const AppKit::NSColor& color);

// ---- Parsing: never fails, never reads past the text ----

// "#" and 3, 4, 6 or 8 hex digits (rgb, rgba, rrggbb, rrggbbaa); the first
// character is dropped whatever it is; other forms go to colorWithHexRGB.
AppKit::NSColorRef colorWithHex(std::string_view text);
// At most the first 7 characters, "#" removed, the low 24 bits as rrggbb;
// opaque black when there is no digit.
AppKit::NSColorRef colorWithHexRGB(std::string_view text);
AppKit::NSColorRef colorWithHex12(std::uint32_t value, double alpha);
AppKit::NSColorRef colorWithHex16(std::uint32_t value);
AppKit::NSColorRef colorWithHex24(std::uint32_t value, double alpha);
AppKit::NSColorRef colorWithHex32(std::uint32_t value);
// "#rrggbb" as a calibrated colour; nullptr for text shorter than 7
// characters or without a leading "#". Characters that are not hex digits
// count as 0.
AppKit::NSColorRef colorWithHexString(std::string_view text);

// ---- HSL ----

// RGB to HSL (hue 0..1, pure red 1.0) read directly; any pointer may be null.
bool getH(const AppKit::NSColor& color, double* hue, double* saturation, double* lightness, double* alpha);
// `+colorWithHue:saturation:lightness:alpha:` (not the platform's HSB constructor).
AppKit::NSColorRef colorWithHueSaturationLightness(double hue, double saturation, double lightness, double alpha);
// x above 1 gives 1, below 0 gives 0; anything else (not-a-number too) as is.
double clamp(double x);
AppKit::NSColorRef offsetWithHue(const AppKit::NSColor& color, double hue, double saturation, double lightness,
                                 double alpha);
AppKit::NSColorRef saturate(const AppKit::NSColor& color, double amount);
AppKit::NSColorRef desaturate(const AppKit::NSColor& color, double amount);
AppKit::NSColorRef lighten(const AppKit::NSColor& color, double amount);
AppKit::NSColorRef darken1(const AppKit::NSColor& color, double amount);

// ---- Greys, luminosity and contrast ----

AppKit::NSColorRef rgbGrey(double grey, double alpha);
AppKit::NSColorRef rgbGrey(double grey);
AppKit::NSColorRef rgbWhite();
AppKit::NSColorRef rgbBlack();
AppKit::NSColorRef veryLightGrey();
AppKit::NSColorRef rgbGreyWithLuminosityFrom(const AppKit::NSColor& color, double alpha);
double luminosity(const AppKit::NSColor& color);
AppKit::NSColorRef colorWithLuminosity(const AppKit::NSColor& color);
// The platform's white below luminosity 0.5, else its black.
AppKit::NSColorRef contrastingColor(const AppKit::NSColor& color);
// "#222222" on light colours, "#cccccc" on dark ones, light grey without components.
AppKit::NSColorRef contrastingTextColor(const AppKit::NSColor& color);

// ---- Blends and mixes ----

// Weights of the other colour per channel: (r, g, b, a) or (h, s, b, a).
using BlendingAmounts = std::array<double, 4>;

AppKit::NSColorRef colorWithRGBBlendFrom(const AppKit::NSColor& color, const AppKit::NSColor& other,
                                         const BlendingAmounts& amounts);
AppKit::NSColorRef colorWithHSBBlendFrom(const AppKit::NSColor& color, const AppKit::NSColor& other,
                                         const BlendingAmounts& amounts);
AppKit::NSColorRef colorWithRGBAverageFrom(const AppKit::NSColor& color, const AppKit::NSColor& other);
AppKit::NSColorRef colorWithHSBAverageFrom(const AppKit::NSColor& color, const AppKit::NSColor& other);
AppKit::NSColorRef lighterColorWithLevel(const AppKit::NSColor& color, double level);
AppKit::NSColorRef darkerColorWithLevel(const AppKit::NSColor& color, double level);
AppKit::NSColorRef colorByInterpolatingFrom(const AppKit::NSColor& from, const AppKit::NSColor& to, double t);
AppKit::NSColorRef interpolatedColorToColor(const AppKit::NSColor& color, const AppKit::NSColor& other, double t);
AppKit::NSColorRef colorWithHueFrom(const AppKit::NSColor& color, const AppKit::NSColor& other);
AppKit::NSColorRef colorWithHueAndSaturationFrom(const AppKit::NSColor& color, const AppKit::NSColor& other);
AppKit::NSColorRef invertedColor(const AppKit::NSColor& color);
// Red, green and blue towards the other colour by t; the receiver's alpha.
AppKit::NSColorRef blended(const AppKit::NSColor& color, const AppKit::NSColor& other, double t);
// Each of red, green and blue plus amount/100, capped at 1.
AppKit::NSColorRef lightened(const AppKit::NSColor& color, double amount);
// Random channels in steps of 1/256, averaged with the base colour when given.
AppKit::NSColorRef randomColor(const AppKit::NSColor* base = nullptr);

// ---- Distance ----

// The square under the distance: differences in double precision narrowed to
// single, summed in single precision in this order.
inline float colorDistanceSquared(const RGBAComponents& a, const RGBAComponents& b) {
    const float dr = static_cast<float>(a.red - b.red);
    const float dg = static_cast<float>(a.green - b.green);
    const float db = static_cast<float>(a.blue - b.blue);
    return (dg * dg + dr * dr) + db * db;
}

// Euclidean distance in red, green and blue, single precision; alpha ignored.
inline float colorDistance(const RGBAComponents& a, const RGBAComponents& b) {
    return std::sqrt(colorDistanceSquared(a, b));
}

float distanceFrom(const AppKit::NSColor& color, const AppKit::NSColor& other);
