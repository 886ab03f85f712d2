#pragma once
// The platform colour: an immutable colour in one colour space, with the
// constructors, component readers and conversions the application calls.
//
// There is no colour management here: converting between the RGB spaces
// (sRGB, calibrated, device) relabels the colour and leaves its numbers as
// they are. Grey converts to RGB as (w, w, w), CMYK as ((1-c)(1-k), (1-m)(1-k),
// (1-y)(1-k)); a pattern colour converts to nothing.
//
// RGB constructors keep their components as given (no clamping); the HSB
// constructors clamp saturation and brightness to 0..1 and wrap the hue.

#include <array>
#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

namespace AppKit {

// Colour-space names as `colorUsingColorSpaceName:` takes them.
inline constexpr std::string_view NSCalibratedRGBColorSpace = "NSCalibratedRGBColorSpace";
inline constexpr std::string_view NSDeviceRGBColorSpace = "NSDeviceRGBColorSpace";
inline constexpr std::string_view NSCalibratedWhiteColorSpace = "NSCalibratedWhiteColorSpace";
inline constexpr std::string_view NSDeviceWhiteColorSpace = "NSDeviceWhiteColorSpace";
inline constexpr std::string_view NSDeviceCMYKColorSpace = "NSDeviceCMYKColorSpace";
inline constexpr std::string_view NSPatternColorSpace = "NSPatternColorSpace";
// Colours made in a colour space object (sRGB) carry this name.
inline constexpr std::string_view NSCustomColorSpace = "NSCustomColorSpace";

class NSColor : public std::enable_shared_from_this<NSColor> {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    enum class Space { sRGB, calibratedRGB, deviceRGB, calibratedWhite, deviceWhite, deviceCMYK, pattern };

    // RGB, components as given.
    static std::shared_ptr<NSColor> colorWithRed(double red, double green, double blue, double alpha);  // sRGB
    static std::shared_ptr<NSColor> colorWithCalibratedRed(double red, double green, double blue, double alpha);
    static std::shared_ptr<NSColor> colorWithDeviceRed(double red, double green, double blue, double alpha);
    // HSB to RGB; hue wraps into 0..1 (1.0 is 0.0), saturation and brightness
    // clamp to 0..1, a value that is not a number counts as 0.
    static std::shared_ptr<NSColor> colorWithHue(double hue, double saturation, double brightness,
                                                 double alpha);  // sRGB
    static std::shared_ptr<NSColor> colorWithCalibratedHue(double hue, double saturation, double brightness,
                                                           double alpha);
    static std::shared_ptr<NSColor> colorWithCalibratedWhite(double white, double alpha);
    static std::shared_ptr<NSColor> colorWithDeviceWhite(double white, double alpha);
    static std::shared_ptr<NSColor> colorWithDeviceCyan(double cyan, double magenta, double yellow, double black,
                                                        double alpha);
    // A colour drawn from an image: it has no components and converts to nothing.
    static std::shared_ptr<NSColor> colorWithPatternImageNamed(std::string imageName);

    // Calibrated greys: 1.0, 0.0 and 2/3, alpha 1.
    static std::shared_ptr<NSColor> whiteColor();
    static std::shared_ptr<NSColor> blackColor();
    static std::shared_ptr<NSColor> lightGrayColor();
    // The platform's named colours: greys 1/3 and 0.5, clear (white 0 alpha
    // 0); red (1, 0, 0), blue (0, 0, 1), orange (1, 0.5, 0), green (0, 1, 0),
    // yellow (1, 1, 0) in calibrated RGB; the text colours of the light
    // appearance (black text on white).
    static std::shared_ptr<NSColor> darkGrayColor();
    static std::shared_ptr<NSColor> grayColor();
    static std::shared_ptr<NSColor> clearColor();
    static std::shared_ptr<NSColor> redColor();
    static std::shared_ptr<NSColor> blueColor();
    static std::shared_ptr<NSColor> orangeColor();
    static std::shared_ptr<NSColor> greenColor();
    static std::shared_ptr<NSColor> yellowColor();
    static std::shared_ptr<NSColor> textColor();
    static std::shared_ptr<NSColor> textBackgroundColor();

    NSColor(Passkey, Space space, std::array<double, 5> components, std::size_t count, std::string patternImage);
    // Colours are shared objects, made only by the constructors above.
    NSColor(const NSColor&) = delete;
    NSColor& operator=(const NSColor&) = delete;

    Space space() const { return space_; }
    std::string_view colorSpaceName() const;
    bool isRGB() const { return space_ == Space::sRGB || space_ == Space::calibratedRGB || space_ == Space::deviceRGB; }
    const std::string& patternImageName() const { return patternImage_; }

    // The Core Graphics components (CGColorGetComponents and
    // CGColorGetNumberOfComponents): RGB r, g, b, a; grey w, a; CMYK c, m, y,
    // k, a. A pattern colour has none: nullptr and 0.
    const double* cgComponents() const { return count_ ? components_.data() : nullptr; }
    std::size_t cgNumberOfComponents() const { return count_; }

    // The colour in the named space, or nullptr when it cannot be converted
    // (a pattern colour, or a target that is neither an RGB space nor the
    // colour's own space).
    std::shared_ptr<NSColor> colorUsingColorSpaceName(std::string_view name) const;

    // RGB and HSB readers. An RGB colour is read as it is; grey and CMYK
    // colours through their RGB conversion; a pattern colour reads as zeros.
    void getRed(double* red, double* green, double* blue, double* alpha) const;
    double redComponent() const;
    double greenComponent() const;
    double blueComponent() const;
    double alphaComponent() const;
    // Hue as a fraction of the circle, 0 up to (not including) 1.
    void getHue(double* hue, double* saturation, double* brightness, double* alpha) const;
    double hueComponent() const;
    double saturationComponent() const;
    double brightnessComponent() const;

    // Same space and same components.
    bool isEqual(const NSColor& other) const;
    friend bool operator==(const NSColor& a, const NSColor& b) { return a.isEqual(b); }
    // "NSCalibratedRGBColorSpace 1 0.5 0 1"
    std::string description() const;

private:
    static std::shared_ptr<NSColor> make(Space space, std::array<double, 5> components, std::size_t count,
                                         std::string patternImage = {});
    std::array<double, 4> rgba() const;

    Space space_;
    std::array<double, 5> components_{};
    std::size_t count_ = 0;
    std::string patternImage_;
};

std::ostream& operator<<(std::ostream& out, const NSColor& color);

using NSColorRef = std::shared_ptr<NSColor>;

}  // namespace AppKit
