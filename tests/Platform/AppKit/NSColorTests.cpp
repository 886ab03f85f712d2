#include "Platform/AppKit/NSColor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

using AppKit::NSColor;

namespace {

std::vector<double> components(const NSColor& c) {
    if (c.cgComponents() == nullptr) return {};
    return {c.cgComponents(), c.cgComponents() + c.cgNumberOfComponents()};
}

}  // namespace

TEST(NSColor, ConstructorsKeepTheirSpaceAndComponents) {
    EXPECT_EQ(components(*NSColor::colorWithRed(1.5, -0.25, 0.5, 2)), (std::vector<double>{1.5, -0.25, 0.5, 2}));
    EXPECT_EQ(NSColor::colorWithRed(0, 0, 0, 1)->colorSpaceName(), AppKit::NSCustomColorSpace);
    EXPECT_EQ(NSColor::colorWithCalibratedRed(0, 0, 0, 1)->colorSpaceName(), AppKit::NSCalibratedRGBColorSpace);
    EXPECT_EQ(NSColor::colorWithDeviceRed(0, 0, 0, 1)->colorSpaceName(), AppKit::NSDeviceRGBColorSpace);
    EXPECT_EQ(components(*NSColor::colorWithCalibratedWhite(0.2, 0.5)), (std::vector<double>{0.2, 0.5}));
    EXPECT_EQ(components(*NSColor::colorWithDeviceCyan(0.1, 0.2, 0.3, 0.4, 1)),
              (std::vector<double>{0.1, 0.2, 0.3, 0.4, 1}));
    const auto pattern = NSColor::colorWithPatternImageNamed("stripes");
    EXPECT_EQ(pattern->cgComponents(), nullptr);
    EXPECT_EQ(pattern->cgNumberOfComponents(), 0u);

    EXPECT_EQ(*NSColor::whiteColor(), *NSColor::colorWithCalibratedWhite(1, 1));
    EXPECT_EQ(*NSColor::blackColor(), *NSColor::colorWithCalibratedWhite(0, 1));
    EXPECT_EQ(*NSColor::lightGrayColor(), *NSColor::colorWithCalibratedWhite(2.0 / 3.0, 1));
    EXPECT_FALSE(*NSColor::colorWithRed(1, 1, 1, 1) == *NSColor::colorWithCalibratedRed(1, 1, 1, 1));
}

TEST(NSColor, HSBConstructorWrapsHueAndClampsSaturationAndBrightness) {
    struct Case {
        double h, s, v;
        std::vector<double> rgb;
    };
    const std::vector<Case> cases = {
        {0, 1, 1, {1, 0, 0}},
        {1.0, 1, 1, {1, 0, 0}},  // 1.0 is the same hue as 0
        {1.0 / 3, 1, 1, {0, 1, 0}},
        {2.0 / 3, 1, 0.5, {0, 0, 0.5}},
        {0.5, -0.03, 0.8, {0.8, 0.8, 0.8}},  // negative saturation: grey
        {0.25, 2, 1.4, {0.5, 1, 0}},         // both above 1: clamped
        {-0.25, 1, 1, {0.5, 0, 1}},          // hue below 0 wraps to 0.75
        {std::nan(""), std::nan(""), 0.5, {0.5, 0.5, 0.5}},
    };
    for (const auto& c : cases) {
        const auto color = NSColor::colorWithHue(c.h, c.s, c.v, 0.25);
        const auto got = components(*color);
        ASSERT_EQ(got.size(), 4u);
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], c.rgb[i], 1e-12) << c.h << " " << c.s << " " << c.v;
        EXPECT_EQ(got[3], 0.25);
    }
    EXPECT_EQ(NSColor::colorWithCalibratedHue(0, 1, 1, 1)->colorSpaceName(), AppKit::NSCalibratedRGBColorSpace);
}

TEST(NSColor, ConversionBetweenRGBSpacesLeavesTheNumbers) {
    const auto srgb = NSColor::colorWithRed(0.1, 0.2, 0.3, 0.4);
    const auto calibrated = srgb->colorUsingColorSpaceName(AppKit::NSCalibratedRGBColorSpace);
    ASSERT_NE(calibrated, nullptr);
    EXPECT_EQ(*calibrated, *NSColor::colorWithCalibratedRed(0.1, 0.2, 0.3, 0.4));
    const auto device = calibrated->colorUsingColorSpaceName(AppKit::NSDeviceRGBColorSpace);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(*device, *NSColor::colorWithDeviceRed(0.1, 0.2, 0.3, 0.4));
    // Converting to its own space gives the colour itself.
    EXPECT_EQ(device->colorUsingColorSpaceName(AppKit::NSDeviceRGBColorSpace).get(), device.get());
}

TEST(NSColor, ConversionOfGreyCMYKAndPattern) {
    const auto grey =
        NSColor::colorWithDeviceWhite(0.25, 0.5)->colorUsingColorSpaceName(AppKit::NSCalibratedRGBColorSpace);
    ASSERT_NE(grey, nullptr);
    EXPECT_EQ(components(*grey), (std::vector<double>{0.25, 0.25, 0.25, 0.5}));

    const auto cmyk =
        NSColor::colorWithDeviceCyan(1, 0.5, 0, 0.5, 0.75)->colorUsingColorSpaceName(AppKit::NSDeviceRGBColorSpace);
    ASSERT_NE(cmyk, nullptr);
    EXPECT_EQ(components(*cmyk), (std::vector<double>{0, 0.25, 0.5, 0.75}));

    const auto pattern = NSColor::colorWithPatternImageNamed("stripes");
    EXPECT_EQ(pattern->colorUsingColorSpaceName(AppKit::NSCalibratedRGBColorSpace), nullptr);
    EXPECT_EQ(pattern->colorUsingColorSpaceName(AppKit::NSPatternColorSpace), nullptr);
    // Only the RGB spaces are conversion targets.
    EXPECT_EQ(NSColor::colorWithRed(1, 0, 0, 1)->colorUsingColorSpaceName(AppKit::NSDeviceCMYKColorSpace), nullptr);
    EXPECT_EQ(NSColor::colorWithRed(1, 0, 0, 1)->colorUsingColorSpaceName("NoSuchSpace"), nullptr);
}

TEST(NSColor, RGBAndHSBReaders) {
    struct Case {
        double r, g, b;
        double h, s, v;
    };
    const std::vector<Case> cases = {
        {1, 0, 0, 0, 1, 1},          {0, 1, 0, 1.0 / 3, 1, 1},   {0, 0, 1, 2.0 / 3, 1, 1}, {1, 0, 1, 5.0 / 6, 1, 1},
        {1, 0.5, 0, 1.0 / 12, 1, 1}, {0.5, 0.5, 0.5, 0, 0, 0.5}, {0, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const auto color = NSColor::colorWithRed(c.r, c.g, c.b, 0.5);
        double h, s, v, a;
        color->getHue(&h, &s, &v, &a);
        EXPECT_NEAR(h, c.h, 1e-12) << c.r << c.g << c.b;
        EXPECT_NEAR(s, c.s, 1e-12);
        EXPECT_NEAR(v, c.v, 1e-12);
        EXPECT_EQ(a, 0.5);
        EXPECT_EQ(color->hueComponent(), h);
        EXPECT_EQ(color->saturationComponent(), s);
        EXPECT_EQ(color->brightnessComponent(), v);
    }
    // A grey is read through its RGB form; a pattern reads as zeros.
    const auto grey = NSColor::colorWithCalibratedWhite(0.4, 0.6);
    EXPECT_EQ(grey->redComponent(), 0.4);
    EXPECT_EQ(grey->blueComponent(), 0.4);
    EXPECT_EQ(grey->alphaComponent(), 0.6);
    const auto pattern = NSColor::colorWithPatternImageNamed("stripes");
    EXPECT_EQ(pattern->redComponent(), 0);
    EXPECT_EQ(pattern->alphaComponent(), 0);
    EXPECT_EQ(pattern->hueComponent(), 0);
    // Null out-pointers are skipped.
    NSColor::colorWithRed(1, 0, 0, 1)->getRed(nullptr, nullptr, nullptr, nullptr);
}

TEST(NSColor, Description) {
    EXPECT_EQ(NSColor::colorWithCalibratedRed(1, 0.5, 0, 1)->description(), "NSCalibratedRGBColorSpace 1 0.5 0 1");
    EXPECT_EQ(NSColor::colorWithPatternImageNamed("stripes")->description(), "NSPatternColorSpace stripes");
}
