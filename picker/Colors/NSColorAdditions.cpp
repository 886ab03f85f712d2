#include "picker/Colors/NSColorAdditions.h"

#include "picker/Colors/Randoms.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <initializer_list>
#include <limits>
#include <memory>
#include <vector>

#include "Platform/Foundation/Text.h"

using AppKit::NSColor;
using AppKit::NSColorRef;

namespace {

// ---- Text helpers ----

// Byte offsets of the character (grapheme cluster) boundaries of UTF-8 text,
// from 0 to its size: the platform counts and cuts these texts by character.
std::vector<std::size_t> characterBoundaries(std::string_view text) {
    std::vector<std::size_t> bounds;
    const bool plain =
        std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != '\r'; });
    if (plain) {
        bounds.resize(text.size() + 1);
        for (std::size_t i = 0; i <= text.size(); ++i) bounds[i] = i;
        return bounds;
    }
    UErrorCode status = U_ZERO_ERROR;
    UText* ut = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_SUCCESS(status)) {
        it->setText(ut, status);
    }
    if (U_FAILURE(status)) {
        // Without ICU's break rules, fall back to one character per code point.
        utext_close(ut);
        bounds.push_back(0);
        int32_t i = 0;
        const auto n = static_cast<int32_t>(text.size());
        while (i < n) {
            UChar32 c;
            U8_NEXT(text.data(), i, n, c);
            (void)c;
            bounds.push_back(static_cast<std::size_t>(i));
        }
        return bounds;
    }
    for (int32_t p = it->first(); p != icu::BreakIterator::DONE; p = it->next()) {
        bounds.push_back(static_cast<std::size_t>(p));
    }
    utext_close(ut);
    return bounds;
}

std::size_t utf16Units(std::string_view text) {
    std::size_t units = 0;
    int32_t i = 0;
    const auto n = static_cast<int32_t>(text.size());
    while (i < n) {
        UChar32 c;
        U8_NEXT(text.data(), i, n, c);
        units += c > 0xFFFF ? 2 : 1;
    }
    return units;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A hexadecimal scan in the manner of the platform's scanner: leading white
// space skipped, an optional "0x"/"0X", digits up to the first non-digit, the
// value saturating at the largest value of the type. Fails without a digit.
template <typename Unsigned>
bool scanHex(std::string_view text, Unsigned* value) {
    std::size_t i = 0;
    const auto n = static_cast<int32_t>(text.size());
    while (i < text.size()) {
        auto next = static_cast<int32_t>(i);
        UChar32 c;
        U8_NEXT(text.data(), next, n, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        i = static_cast<std::size_t>(next);
    }
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        hexDigit(text[i + 2]) >= 0) {
        i += 2;
    }
    constexpr Unsigned top = std::numeric_limits<Unsigned>::max();
    Unsigned v = 0;
    bool any = false;
    for (; i < text.size(); ++i) {
        const int d = hexDigit(text[i]);
        if (d < 0) break;
        any = true;
        v = v > (top >> 4) ? top : static_cast<Unsigned>((v << 4) | static_cast<Unsigned>(d));
    }
    if (any) *value = v;
    return any;
}

std::string hexText(std::initializer_list<double> components, bool upper = false) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text = "#";
    for (const double c : components) {
        const int byte = channelByte(c);
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
}

// ---- Component helpers ----

// Components after conversion to calibrated RGB; zeros when it cannot be converted.
RGBAComponents convertedCalibrated(const NSColor& color) {
    RGBAComponents c;
    if (auto converted = color.colorUsingColorSpaceName(AppKit::NSCalibratedRGBColorSpace)) {
        converted->getRed(&c.red, &c.green, &c.blue, &c.alpha);
    }
    return c;
}

HSBAComponents convertedCalibratedHSB(const NSColor& color) {
    HSBAComponents c;
    if (auto converted = color.colorUsingColorSpaceName(AppKit::NSCalibratedRGBColorSpace)) {
        converted->getHue(&c.hue, &c.saturation, &c.brightness, &c.alpha);
    }
    return c;
}

RGBAComponents direct(const NSColor& color) {
    RGBAComponents c;
    color.getRed(&c.red, &c.green, &c.blue, &c.alpha);
    return c;
}

double hueToChannel(double p, double q, double t) {
    if (t < 0) t += 1;
    if (t > 1) t -= 1;
    if (6 * t < 1) return p + (q - p) * 6 * t;
    if (2 * t < 1) return q;
    if (3 * t < 2) return p + (q - p) * (2.0 / 3.0 - t) * 6;
    return p;
}

}  // namespace

// ---- Component readers and conversions ----

RGBAComponents rgbaComponents(const NSColor& color) {
    const double* c = color.cgComponents();
    if (c != nullptr && color.cgNumberOfComponents() == 4) return {c[0], c[1], c[2], c[3]};
    if (c != nullptr && color.cgNumberOfComponents() == 2) return {c[0], c[0], c[0], c[1]};
    return {0, 0, 0, 1.0};
}

HSBAComponents hsbComponents(const NSColor& color) {
    HSBAComponents c;
    if (color.cgNumberOfComponents() == 4) color.getHue(&c.hue, &c.saturation, &c.brightness, &c.alpha);
    return c;
}

double hslLightness(const NSColor& color) {
    const auto c = direct(color);
    return (std::max({c.red, c.green, c.blue}) + std::min({c.red, c.green, c.blue})) * 0.5;
}

double hslSaturation(const NSColor& color) {
    const auto c = direct(color);
    const double mx = std::max({c.red, c.green, c.blue});
    const double mn = std::min({c.red, c.green, c.blue});
    const double l = (mx + mn) * 0.5;
    const double s = (mx - mn) / (l > 0.5 ? 2 - mx - mn : mx + mn);
    if (std::isnan(s)) return 0;
    return color.saturationComponent() <= 0.00001 ? 0 : s;
}

NSColorRef rebuiltInDeviceRGB(const NSColor& color, std::string_view colorSpaceName) {
    auto converted = color.colorUsingColorSpaceName(colorSpaceName);
    if (!converted) return std::const_pointer_cast<NSColor>(color.shared_from_this());
    double r, g, b, a;
    converted->getRed(&r, &g, &b, &a);
    return NSColor::colorWithDeviceRed(r, g, b, a);
}

NSColorRef deviceRGBColor(const NSColor& color) { return rebuiltInDeviceRGB(color, AppKit::NSDeviceRGBColorSpace); }

NSColorRef calibratedRGBColor(const NSColor& color) {
    return rebuiltInDeviceRGB(color, AppKit::NSCalibratedRGBColorSpace);
}

int channelByte(double component) {
    const double scaled = component * 255.0;
    if (!(scaled > 0.0)) return 0;  // negative, zero or not a number
    if (scaled >= 255.0) return 255;
    return static_cast<int>(scaled);
}

// ---- Text forms ----

std::string hexRGBA(const NSColor& color) {
    const auto c = rgbaComponents(color);
    return hexText({c.red, c.green, c.blue, c.alpha});
}

std::string hexRGB(const NSColor& color) {
    const auto c = rgbaComponents(color);
    return hexText({c.red, c.green, c.blue});
}

std::string hexARGB(const NSColor& color) {
    const auto c = rgbaComponents(color);
    return hexText({c.alpha, c.red, c.green, c.blue});
}

std::string rgbString(const NSColor& color) {
    const auto c = rgbaComponents(color);
    return "RGB(" + std::to_string(channelByte(c.red)) + ", " + std::to_string(channelByte(c.green)) + ", " +
           std::to_string(channelByte(c.blue)) + ")";
}

std::string hexString(const NSColor& color) {
    // floor(x * 255) equals the truncating channel byte for every value in range.
    const auto c = convertedCalibrated(color);
    return hexText({c.red, c.green, c.blue}, true);
}

// ---- Parsing ----

NSColorRef colorWithHex(std::string_view text) {
    if (text.empty()) return NSColor::colorWithRed(0, 0, 0, 1.0);
    const auto bounds = characterBoundaries(text);
    const std::string_view rest = text.substr(bounds[1]);
    std::uint32_t v = 0;
    if (!scanHex(rest, &v)) return colorWithHexRGB(text);
    switch (bounds.size() - 2) {  // characters of the rest
        case 3:
            return colorWithHex12(v, 1.0);
        case 4:
            return colorWithHex16(v);
        case 6:
            return colorWithHex24(v, 1.0);
        case 8:
            return colorWithHex32(v);
        default:
            return colorWithHexRGB(text);
    }
}

NSColorRef colorWithHexRGB(std::string_view text) {
    const auto bounds = characterBoundaries(text);
    if (bounds.size() - 1 >= 8) text = text.substr(0, bounds[7]);
    std::string digits;
    digits.reserve(text.size());
    for (const char c : text) {
        if (c != '#') digits += c;
    }
    std::uint64_t v = 0;
    scanHex(digits, &v);
    return colorWithHex24(static_cast<std::uint32_t>(v & 0xFFFFFF), 1.0);
}

NSColorRef colorWithHex12(std::uint32_t v, double alpha) {
    return NSColor::colorWithRed(((v >> 8) & 0xF) / 15.0, ((v >> 4) & 0xF) / 15.0, (v & 0xF) / 15.0, alpha);
}

NSColorRef colorWithHex16(std::uint32_t v) {
    return NSColor::colorWithRed(((v >> 12) & 0xF) / 15.0, ((v >> 8) & 0xF) / 15.0, ((v >> 4) & 0xF) / 15.0,
                                 (v & 0xF) / 15.0);
}

NSColorRef colorWithHex24(std::uint32_t v, double alpha) {
    return NSColor::colorWithRed(((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0, (v & 0xFF) / 255.0, alpha);
}

NSColorRef colorWithHex32(std::uint32_t v) {
    return NSColor::colorWithRed((v >> 24) / 255.0, ((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0,
                                 (v & 0xFF) / 255.0);
}

NSColorRef colorWithHexString(std::string_view text) {
    if (utf16Units(text) < 7 || text[0] != '#') return nullptr;
    double channels[3];
    for (int i = 0; i < 3; ++i) {
        const int high = std::max(0, hexDigit(text[1 + 2 * i]));
        const int low = std::max(0, hexDigit(text[2 + 2 * i]));
        channels[i] = (16 * high + low) / 255.0;
    }
    return NSColor::colorWithCalibratedRed(channels[0], channels[1], channels[2], 1.0);
}

// ---- HSL ----

bool getH(const NSColor& color, double* hue, double* saturation, double* lightness, double* alpha) {
    double r, g, b;
    color.getRed(&r, &g, &b, alpha);
    const double mn = std::min({r, g, b});
    const double mx = std::max({r, g, b});
    const double l = 0.5 * (mn + mx);
    double h = 0, s = 0;
    if (l > 0) {
        const double d = mx - mn;
        if (d > 0) {
            s = l <= 0.5 ? d / (mx + mn) : d / (2 - mx - mn);
            const double rr = (mx - r) / d;
            const double gg = (mx - g) / d;
            const double bb = (mx - b) / d;
            double six;
            if (r == mx) {
                six = g == mn ? 5 + bb : 1 - gg;
            } else if (g == mx) {
                six = b == mn ? 1 + rr : 3 - bb;
            } else {
                six = r == mn ? 3 + gg : 5 - rr;
            }
            h = six / 6;
        }
    }
    if (hue) *hue = h;
    if (saturation) *saturation = s;
    if (lightness) *lightness = l;
    return true;
}

NSColorRef colorWithHueSaturationLightness(double h, double s, double l, double a) {
    if (s == 0) return NSColor::colorWithRed(l, l, l, a);
    const double q = l < 0.5 ? l * (1 + s) : l + s - l * s;
    const double p = 2 * l - q;
    return NSColor::colorWithRed(hueToChannel(p, q, h + 1.0 / 3.0), hueToChannel(p, q, h),
                                 hueToChannel(p, q, h - 1.0 / 3.0), a);
}

double clamp(double x) {
    if (x > 1) return 1;
    if (x < 0) return 0;
    return x;
}

NSColorRef offsetWithHue(const NSColor& color, double dh, double ds, double dl, double da) {
    double h, s, l, a;
    getH(color, &h, &s, &l, &a);
    const double hue = std::fmod(static_cast<float>(h + dh), 1.0f);
    return colorWithHueSaturationLightness(hue, clamp(s + ds), clamp(l + dl), clamp(a + da));
}

NSColorRef saturate(const NSColor& color, double amount) { return offsetWithHue(color, 0, amount, 0, 0); }
NSColorRef desaturate(const NSColor& color, double amount) { return offsetWithHue(color, 0, -amount, 0, 0); }
NSColorRef lighten(const NSColor& color, double amount) { return offsetWithHue(color, 0, 0, amount, 0); }
NSColorRef darken1(const NSColor& color, double amount) { return offsetWithHue(color, 0, 0, -amount, 0); }

// ---- Greys, luminosity and contrast ----

NSColorRef rgbGrey(double grey, double alpha) { return NSColor::colorWithCalibratedRed(grey, grey, grey, alpha); }
NSColorRef rgbGrey(double grey) { return rgbGrey(grey, 1.0); }
NSColorRef rgbWhite() { return rgbGrey(1.0); }
NSColorRef rgbBlack() { return rgbGrey(0.0); }
NSColorRef veryLightGrey() { return rgbGrey(0.9); }

NSColorRef rgbGreyWithLuminosityFrom(const NSColor& color, double alpha) { return rgbGrey(luminosity(color), alpha); }

double luminosity(const NSColor& color) {
    const auto c = convertedCalibrated(color);
    return 0.212671 * c.red + 0.71516 * c.green + 0.072169 * c.blue;
}

NSColorRef colorWithLuminosity(const NSColor& color) { return rgbGrey(luminosity(color)); }

NSColorRef contrastingColor(const NSColor& color) {
    return luminosity(color) < 0.5 ? NSColor::whiteColor() : NSColor::blackColor();
}

NSColorRef contrastingTextColor(const NSColor& color) {
    const double* c = color.cgComponents();
    if (c == nullptr) return NSColor::lightGrayColor();
    double luma = -1;
    if (color.cgNumberOfComponents() == 4) {
        luma = (587 * (c[1] * 255.0) + 299 * (c[0] * 255.0) + 114 * (c[2] * 255.0)) / 1000;
    } else if (color.cgNumberOfComponents() == 2) {
        const double w = c[0] * 255.0;
        luma = (587 * w + 299 * w + 114 * w) / 1000;
    }
    return colorWithHexRGB(luma >= 125 ? "#222222" : "#cccccc");
}

// ---- Blends and mixes ----

NSColorRef colorWithRGBBlendFrom(const NSColor& color, const NSColor& other, const BlendingAmounts& w) {
    const auto a = convertedCalibrated(color);
    const auto b = convertedCalibrated(other);
    return NSColor::colorWithCalibratedRed(a.red * (1 - w[0]) + b.red * w[0], a.green * (1 - w[1]) + b.green * w[1],
                                           a.blue * (1 - w[2]) + b.blue * w[2], a.alpha * (1 - w[3]) + b.alpha * w[3]);
}

NSColorRef colorWithHSBBlendFrom(const NSColor& color, const NSColor& other, const BlendingAmounts& w) {
    const auto a = convertedCalibratedHSB(color);
    const auto b = convertedCalibratedHSB(other);
    return NSColor::colorWithCalibratedHue(
        a.hue * (1 - w[0]) + b.hue * w[0], a.saturation * (1 - w[1]) + b.saturation * w[1],
        a.brightness * (1 - w[2]) + b.brightness * w[2], a.alpha * (1 - w[3]) + b.alpha * w[3]);
}

NSColorRef colorWithRGBAverageFrom(const NSColor& color, const NSColor& other) {
    return colorWithRGBBlendFrom(color, other, {0.5, 0.5, 0.5, 0.5});
}

NSColorRef colorWithHSBAverageFrom(const NSColor& color, const NSColor& other) {
    return colorWithHSBBlendFrom(color, other, {0.5, 0.5, 0.5, 0.5});
}

NSColorRef lighterColorWithLevel(const NSColor& color, double level) {
    const auto c = convertedCalibrated(color);
    const auto converted = NSColor::colorWithCalibratedRed(c.red, c.green, c.blue, c.alpha);
    return colorWithRGBBlendFrom(*converted, *rgbWhite(), {level, level, level, 0});
}

NSColorRef darkerColorWithLevel(const NSColor& color, double level) {
    const auto c = convertedCalibrated(color);
    const auto converted = NSColor::colorWithCalibratedRed(c.red, c.green, c.blue, c.alpha);
    return colorWithRGBBlendFrom(*converted, *rgbBlack(), {level, level, level, 0});
}

NSColorRef colorByInterpolatingFrom(const NSColor& from, const NSColor& to, double t) {
    const auto a = convertedCalibrated(from);
    const auto b = convertedCalibrated(to);
    if (t <= 0) return NSColor::colorWithCalibratedRed(a.red, a.green, a.blue, a.alpha);
    if (t >= 1) return NSColor::colorWithCalibratedRed(b.red, b.green, b.blue, b.alpha);
    return NSColor::colorWithCalibratedRed(a.red * (1 - t) + b.red * t, a.green * (1 - t) + b.green * t,
                                           a.blue * (1 - t) + b.blue * t, a.alpha * (1 - t) + b.alpha * t);
}

NSColorRef interpolatedColorToColor(const NSColor& color, const NSColor& other, double t) {
    return colorByInterpolatingFrom(color, other, t);
}

NSColorRef colorWithHueFrom(const NSColor& color, const NSColor& other) {
    return NSColor::colorWithCalibratedHue(other.hueComponent(), color.saturationComponent(),
                                           color.brightnessComponent(), color.alphaComponent());
}

NSColorRef colorWithHueAndSaturationFrom(const NSColor& color, const NSColor& other) {
    return NSColor::colorWithCalibratedHue(other.hueComponent(), other.saturationComponent(),
                                           color.brightnessComponent(), color.alphaComponent());
}

NSColorRef invertedColor(const NSColor& color) {
    const auto c = convertedCalibrated(color);
    return NSColor::colorWithCalibratedRed(1 - c.red, 1 - c.green, 1 - c.blue, c.alpha);
}

NSColorRef blended(const NSColor& color, const NSColor& other, double t) {
    const auto a = direct(color);
    const auto b = direct(other);
    return NSColor::colorWithRed(b.red * t + a.red * (1 - t), b.green * t + a.green * (1 - t),
                                 (1 - t) * a.blue + t * b.blue, a.alpha);
}

NSColorRef lightened(const NSColor& color, double amount) {
    const auto c = direct(color);
    return NSColor::colorWithRed(std::min(1.0, c.red + amount / 100), std::min(1.0, c.green + amount / 100),
                                 std::min(1.0, c.blue + amount / 100), c.alpha);
}

NSColorRef randomColor(const NSColor* base) {
    // Through the process's random source, so a seeded source repeats palettes.
    const std::uint32_t draw = randomSource()->next();
    double r = (draw & 0xff) * 0x1p-8, g = ((draw >> 8) & 0xff) * 0x1p-8, b = ((draw >> 16) & 0xff) * 0x1p-8;
    if (base != nullptr) {
        double br, bg, bb;
        base->getRed(&br, &bg, &bb, nullptr);
        r = (r + br) * 0.5;
        g = (g + bg) * 0.5;
        b = (b + bb) * 0.5;
    }
    return NSColor::colorWithRed(r, g, b, 1.0);
}

// ---- Distance ----

float distanceFrom(const NSColor& color, const NSColor& other) {
    return colorDistance(rgbaComponents(color), rgbaComponents(other));
}
