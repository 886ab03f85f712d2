#include "Platform/AppKit/NSColor.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ostream>

namespace AppKit {

namespace {

double unitOrZero(double x) {
    if (std::isnan(x)) return 0.0;
    return std::clamp(x, 0.0, 1.0);
}

// HSB to RGB with the hue wrapped into 0..1 and s, v clamped.
std::array<double, 4> rgbFromHSB(double h, double s, double v, double a) {
    h = std::isfinite(h) ? h - std::floor(h) : 0.0;
    if (h >= 1.0) h = 0.0;
    s = unitOrZero(s);
    v = unitOrZero(v);
    if (s <= 0.0) return {v, v, v, a};
    const double scaled = h * 6.0;
    const int sector = std::min(5, static_cast<int>(scaled));
    const double f = scaled - sector;
    const double p = v * (1.0 - s);
    const double q = v * (1.0 - s * f);
    const double t = v * (1.0 - s * (1.0 - f));
    switch (sector) {
        case 0:
            return {v, t, p, a};
        case 1:
            return {q, v, p, a};
        case 2:
            return {p, v, t, a};
        case 3:
            return {p, q, v, a};
        case 4:
            return {t, p, v, a};
        default:
            return {v, p, q, a};
    }
}

}  // namespace

std::shared_ptr<NSColor> NSColor::make(Space space, std::array<double, 5> components, std::size_t count,
                                       std::string patternImage) {
    return std::make_shared<NSColor>(Passkey{}, space, components, count, std::move(patternImage));
}

NSColor::NSColor(Passkey, Space space, std::array<double, 5> components, std::size_t count, std::string patternImage)
    : space_(space), components_(components), count_(count), patternImage_(std::move(patternImage)) {}

std::shared_ptr<NSColor> NSColor::colorWithRed(double r, double g, double b, double a) {
    return make(Space::sRGB, {r, g, b, a, 0}, 4);
}

std::shared_ptr<NSColor> NSColor::colorWithCalibratedRed(double r, double g, double b, double a) {
    return make(Space::calibratedRGB, {r, g, b, a, 0}, 4);
}

std::shared_ptr<NSColor> NSColor::colorWithDeviceRed(double r, double g, double b, double a) {
    return make(Space::deviceRGB, {r, g, b, a, 0}, 4);
}

std::shared_ptr<NSColor> NSColor::colorWithHue(double h, double s, double v, double a) {
    const auto c = rgbFromHSB(h, s, v, a);
    return make(Space::sRGB, {c[0], c[1], c[2], c[3], 0}, 4);
}

std::shared_ptr<NSColor> NSColor::colorWithCalibratedHue(double h, double s, double v, double a) {
    const auto c = rgbFromHSB(h, s, v, a);
    return make(Space::calibratedRGB, {c[0], c[1], c[2], c[3], 0}, 4);
}

std::shared_ptr<NSColor> NSColor::colorWithCalibratedWhite(double white, double alpha) {
    return make(Space::calibratedWhite, {white, alpha, 0, 0, 0}, 2);
}

std::shared_ptr<NSColor> NSColor::colorWithDeviceWhite(double white, double alpha) {
    return make(Space::deviceWhite, {white, alpha, 0, 0, 0}, 2);
}

std::shared_ptr<NSColor> NSColor::colorWithDeviceCyan(double c, double m, double y, double k, double a) {
    return make(Space::deviceCMYK, {c, m, y, k, a}, 5);
}

std::shared_ptr<NSColor> NSColor::colorWithPatternImageNamed(std::string imageName) {
    return make(Space::pattern, {}, 0, std::move(imageName));
}

std::shared_ptr<NSColor> NSColor::whiteColor() { return colorWithCalibratedWhite(1.0, 1.0); }
std::shared_ptr<NSColor> NSColor::blackColor() { return colorWithCalibratedWhite(0.0, 1.0); }
std::shared_ptr<NSColor> NSColor::lightGrayColor() { return colorWithCalibratedWhite(2.0 / 3.0, 1.0); }
std::shared_ptr<NSColor> NSColor::darkGrayColor() { return colorWithCalibratedWhite(1.0 / 3.0, 1.0); }
std::shared_ptr<NSColor> NSColor::grayColor() { return colorWithCalibratedWhite(0.5, 1.0); }
std::shared_ptr<NSColor> NSColor::clearColor() { return colorWithCalibratedWhite(0.0, 0.0); }
std::shared_ptr<NSColor> NSColor::redColor() { return colorWithCalibratedRed(1, 0, 0, 1); }
std::shared_ptr<NSColor> NSColor::blueColor() { return colorWithCalibratedRed(0, 0, 1, 1); }
std::shared_ptr<NSColor> NSColor::orangeColor() { return colorWithCalibratedRed(1, 0.5, 0, 1); }
std::shared_ptr<NSColor> NSColor::greenColor() { return colorWithCalibratedRed(0, 1, 0, 1); }
std::shared_ptr<NSColor> NSColor::yellowColor() { return colorWithCalibratedRed(1, 1, 0, 1); }
std::shared_ptr<NSColor> NSColor::textColor() { return colorWithCalibratedWhite(0.0, 1.0); }
std::shared_ptr<NSColor> NSColor::textBackgroundColor() { return colorWithCalibratedWhite(1.0, 1.0); }

std::string_view NSColor::colorSpaceName() const {
    switch (space_) {
        case Space::sRGB:
            return NSCustomColorSpace;
        case Space::calibratedRGB:
            return NSCalibratedRGBColorSpace;
        case Space::deviceRGB:
            return NSDeviceRGBColorSpace;
        case Space::calibratedWhite:
            return NSCalibratedWhiteColorSpace;
        case Space::deviceWhite:
            return NSDeviceWhiteColorSpace;
        case Space::deviceCMYK:
            return NSDeviceCMYKColorSpace;
        case Space::pattern:
            return NSPatternColorSpace;
    }
    return NSCustomColorSpace;
}

std::array<double, 4> NSColor::rgba() const {
    const auto& c = components_;
    switch (space_) {
        case Space::sRGB:
        case Space::calibratedRGB:
        case Space::deviceRGB:
            return {c[0], c[1], c[2], c[3]};
        case Space::calibratedWhite:
        case Space::deviceWhite:
            return {c[0], c[0], c[0], c[1]};
        case Space::deviceCMYK: {
            const double k = 1.0 - c[3];
            return {(1.0 - c[0]) * k, (1.0 - c[1]) * k, (1.0 - c[2]) * k, c[4]};
        }
        case Space::pattern:
            break;
    }
    return {0, 0, 0, 0};
}

std::shared_ptr<NSColor> NSColor::colorUsingColorSpaceName(std::string_view name) const {
    if (space_ == Space::pattern) return nullptr;
    if (name == colorSpaceName()) return std::const_pointer_cast<NSColor>(shared_from_this());
    Space target;
    if (name == NSCalibratedRGBColorSpace) {
        target = Space::calibratedRGB;
    } else if (name == NSDeviceRGBColorSpace) {
        target = Space::deviceRGB;
    } else {
        return nullptr;
    }
    const auto c = rgba();
    return make(target, {c[0], c[1], c[2], c[3], 0}, 4);
}

void NSColor::getRed(double* red, double* green, double* blue, double* alpha) const {
    const auto c = rgba();
    if (red) *red = c[0];
    if (green) *green = c[1];
    if (blue) *blue = c[2];
    if (alpha) *alpha = c[3];
}

double NSColor::redComponent() const { return rgba()[0]; }
double NSColor::greenComponent() const { return rgba()[1]; }
double NSColor::blueComponent() const { return rgba()[2]; }
double NSColor::alphaComponent() const { return rgba()[3]; }

void NSColor::getHue(double* hue, double* saturation, double* brightness, double* alpha) const {
    const auto [r, g, b, a] = rgba();
    const double mx = std::max({r, g, b});
    const double mn = std::min({r, g, b});
    const double delta = mx - mn;
    double h = 0.0;
    if (delta > 0.0) {
        if (r == mx) {
            h = (g - b) / delta;
        } else if (g == mx) {
            h = 2.0 + (b - r) / delta;
        } else {
            h = 4.0 + (r - g) / delta;
        }
        h /= 6.0;
        if (h < 0.0) h += 1.0;
        if (h >= 1.0) h -= 1.0;
    }
    if (hue) *hue = h;
    if (saturation) *saturation = mx > 0.0 ? delta / mx : 0.0;
    if (brightness) *brightness = mx;
    if (alpha) *alpha = a;
}

double NSColor::hueComponent() const {
    double h;
    getHue(&h, nullptr, nullptr, nullptr);
    return h;
}

double NSColor::saturationComponent() const {
    double s;
    getHue(nullptr, &s, nullptr, nullptr);
    return s;
}

double NSColor::brightnessComponent() const {
    double v;
    getHue(nullptr, nullptr, &v, nullptr);
    return v;
}

bool NSColor::isEqual(const NSColor& other) const {
    if (space_ != other.space_ || count_ != other.count_ || patternImage_ != other.patternImage_) return false;
    return std::equal(components_.begin(), components_.begin() + count_, other.components_.begin());
}

std::string NSColor::description() const {
    std::string text(colorSpaceName());
    if (space_ == Space::pattern) return text + " " + patternImage_;
    for (std::size_t i = 0; i < count_; ++i) {
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, components_[i]);
        text += ' ';
        text.append(buffer, result.ptr);
    }
    return text;
}

std::ostream& operator<<(std::ostream& out, const NSColor& color) { return out << color.description(); }

}  // namespace AppKit
