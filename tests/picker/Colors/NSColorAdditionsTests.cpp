#include "picker/Colors/NSColorAdditions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using AppKit::NSColor;

namespace {

void expectRGBA(const NSColor& color, double r, double g, double b, double a, const std::string& context = "") {
    double cr, cg, cb, ca;
    color.getRed(&cr, &cg, &cb, &ca);
    EXPECT_NEAR(cr, r, 1e-12) << context;
    EXPECT_NEAR(cg, g, 1e-12) << context;
    EXPECT_NEAR(cb, b, 1e-12) << context;
    EXPECT_NEAR(ca, a, 1e-12) << context;
}

const double inf = std::numeric_limits<double>::infinity();

}  // namespace

TEST(ColorText, TextFormsOfOrange) {
    const auto orange = NSColor::colorWithRed(1.0, 0.5, 0.0, 1.0);
    EXPECT_EQ(hexRGBA(*orange), "#ff7f00ff");
    EXPECT_EQ(hexRGB(*orange), "#ff7f00");
    EXPECT_EQ(hexARGB(*orange), "#ffff7f00");
    EXPECT_EQ(rgbString(*orange), "RGB(255, 127, 0)");
    EXPECT_EQ(hexString(*orange), "#FF7F00");
}

TEST(ColorText, HexRGBAReadsRawComponentsOfEverySpace) {
    struct Case {
        AppKit::NSColorRef color;
        std::string hex;
    };
    const std::vector<Case> cases = {
        {NSColor::colorWithRed(0, 0, 0, 0), "#00000000"},
        {NSColor::colorWithRed(0.999, 0.999, 0.999, 1), "#fefefeff"},
        {NSColor::colorWithCalibratedWhite(0.2, 1.0), "#333333ff"},     // grey: 2 components
        {NSColor::colorWithDeviceCyan(0, 0, 0, 0, 0.5), "#000000ff"},   // CMYK: 5 components
        {NSColor::colorWithPatternImageNamed("stripes"), "#000000ff"},  // no components
    };
    for (const auto& c : cases) EXPECT_EQ(hexRGBA(*c.color), c.hex) << c.color->description();
}

TEST(ColorText, ChannelBytesOfOutOfRangeComponentsAreClamped) {
    struct Case {
        double component;
        int byte;
    };
    const std::vector<Case> cases = {
        {0.0, 0},     {1.0, 255}, {0.5, 127}, {0.999, 254},      {-0.5, 0}, {1.5, 255},
        {1e300, 255}, {inf, 255}, {-inf, 0},  {std::nan(""), 0}, {-0.0, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(channelByte(c.component), c.byte) << c.component;

    // Stored text stays two digits a channel, so it reads back.
    const auto wild = NSColor::colorWithRed(1.5, -2, std::nan(""), inf);
    EXPECT_EQ(hexRGBA(*wild), "#ff0000ff");
    EXPECT_EQ(hexARGB(*wild), "#ffff0000");
    EXPECT_EQ(rgbString(*wild), "RGB(255, 0, 0)");
    EXPECT_EQ(hexString(*NSColor::colorWithCalibratedRed(-1, 2, 0.5, 1)), "#00FF7F");
}

TEST(ColorText, ColorWithHex) {
    struct Case {
        std::string text;
        double r, g, b, a;
    };
    const std::vector<Case> cases = {
        {"#fff", 1, 1, 1, 1},
        {"#f0a8", 1, 0, 10 / 15.0, 8 / 15.0},
        {"#aabbccdd", 0xaa / 255.0, 0xbb / 255.0, 0xcc / 255.0, 0xdd / 255.0},
        {"#ff7f00", 1, 127 / 255.0, 0, 1},
        {"#FF7F00", 1, 127 / 255.0, 0, 1},
        {"#ff7f00ff", 1, 127 / 255.0, 0, 1},
        {"#", 0, 0, 0, 1},
        {"", 0, 0, 0, 1},
        // The first character is dropped whatever it is.
        {"ffffff", 1, 1, 1, 1},                     // five left: read whole by the RGB reader
        {"fff", 0, 15 / 255.0, 1, 1},               // two left: 0x000fff
        {"é123", 1 / 15.0, 2 / 15.0, 3 / 15.0, 1},  // a character, not a byte
        // Other lengths go to the RGB reader, cut to seven characters.
        {"#abcde", 0x0a / 255.0, 0xbc / 255.0, 0xde / 255.0, 1},
        {"#abcdef1", 0xab / 255.0, 0xcd / 255.0, 0xef / 255.0, 1},
        {"#ffffffffffffffffff", 1, 1, 1, 1},  // saturating scan, then cut
        {"#0x12345", 0, 0x12 / 255.0, 0x34 / 255.0, 1},
        {"#  fff", 0, 15 / 255.0, 1, 1},  // leading blanks skipped by the scan
        // Garbage never fails.
        {"#xyz", 0, 0, 0, 1},
        {"#é12", 0, 0, 0, 1},
        {"#12g", 0, 1 / 15.0, 2 / 15.0, 1},  // three characters, digits up to the g
        {"\xff\xfe#zz", 0, 0, 0, 1},         // not UTF-8
    };
    for (const auto& c : cases) {
        const auto color = colorWithHex(c.text);
        ASSERT_NE(color, nullptr) << c.text;
        expectRGBA(*color, c.r, c.g, c.b, c.a, c.text);
    }
}

TEST(ColorText, ParsingStopsAtTheEndOfTheText) {
    const std::string buffer = "#abcdef12";
    expectRGBA(*colorWithHex(std::string_view(buffer).substr(0, 4)), 10 / 15.0, 11 / 15.0, 12 / 15.0, 1);
    expectRGBA(*colorWithHexRGB(std::string_view(buffer).substr(0, 3)), 0, 0, 0xab / 255.0, 1);
    EXPECT_EQ(colorWithHexString(std::string_view(buffer).substr(0, 6)), nullptr);
}

TEST(ColorText, ColorWithHexRGB) {
    expectRGBA(*colorWithHexRGB("#aabbccdd"), 0xaa / 255.0, 0xbb / 255.0, 0xcc / 255.0, 1);
    expectRGBA(*colorWithHexRGB("#abc"), 0, 0x0a / 255.0, 0xbc / 255.0, 1);  // no short form
    expectRGBA(*colorWithHexRGB("xyz"), 0, 0, 0, 1);
    expectRGBA(*colorWithHexRGB("##ff#0000"), 0, 1, 0, 1);  // cut to "##ff#00" before "#" goes
}

TEST(ColorText, ColorWithHexString) {
    const auto orange = colorWithHexString("#FF7F00");
    ASSERT_NE(orange, nullptr);
    EXPECT_EQ(orange->colorSpaceName(), AppKit::NSCalibratedRGBColorSpace);
    expectRGBA(*orange, 1, 127 / 255.0, 0, 1);
    expectRGBA(*colorWithHexString("#0000ffzz"), 0, 0, 1, 1);
    expectRGBA(*colorWithHexString("#zz00ff"), 0, 0, 1, 1);
    EXPECT_EQ(colorWithHexString("#abcde"), nullptr);
    EXPECT_EQ(colorWithHexString("abcdef0"), nullptr);
    EXPECT_EQ(colorWithHexString(""), nullptr);
}

TEST(ColorArithmetic, ComponentReaders) {
    const auto grey = NSColor::colorWithDeviceWhite(0.25, 0.5);
    const auto g = rgbaComponents(*grey);
    EXPECT_EQ(std::vector<double>({g.red, g.green, g.blue, g.alpha}), std::vector<double>({0.25, 0.25, 0.25, 0.5}));
    const auto cmyk = rgbaComponents(*NSColor::colorWithDeviceCyan(0.5, 0.5, 0.5, 0.5, 0.5));
    EXPECT_EQ(std::vector<double>({cmyk.red, cmyk.green, cmyk.blue, cmyk.alpha}), std::vector<double>({0, 0, 0, 1}));

    // HSB only for four components; alpha is 0 otherwise.
    const auto hsb = hsbComponents(*NSColor::colorWithRed(1, 0.5, 0, 0.75));
    EXPECT_NEAR(hsb.hue, 1 / 12.0, 1e-12);
    EXPECT_EQ(hsb.saturation, 1);
    EXPECT_EQ(hsb.brightness, 1);
    EXPECT_EQ(hsb.alpha, 0.75);
    const auto greyHSB = hsbComponents(*grey);
    EXPECT_EQ(std::vector<double>({greyHSB.hue, greyHSB.saturation, greyHSB.brightness, greyHSB.alpha}),
              std::vector<double>({0, 0, 0, 0}));

    EXPECT_EQ(hslLightness(*NSColor::colorWithRed(1, 0.5, 0, 1)), 0.5);
    EXPECT_EQ(hslSaturation(*NSColor::colorWithRed(1, 0.5, 0, 1)), 1);
    EXPECT_NEAR(hslSaturation(*NSColor::colorWithRed(0.8, 0.6, 0.6, 1)), 0.2 / 0.6, 1e-12);
    EXPECT_EQ(hslSaturation(*NSColor::colorWithRed(0, 0, 0, 1)), 0);  // 0/0
    EXPECT_EQ(hslSaturation(*NSColor::colorWithRed(1, 1, 1, 1)), 0);  // 0/0
}

TEST(ColorArithmetic, RebuiltInDeviceRGB) {
    const auto srgb = NSColor::colorWithRed(0.1, 0.2, 0.3, 0.4);
    for (const auto& rebuilt : {deviceRGBColor(*srgb), calibratedRGBColor(*srgb)}) {
        EXPECT_EQ(*rebuilt, *NSColor::colorWithDeviceRed(0.1, 0.2, 0.3, 0.4));
    }
    EXPECT_EQ(*deviceRGBColor(*NSColor::colorWithCalibratedWhite(0.5, 1)),
              *NSColor::colorWithDeviceRed(0.5, 0.5, 0.5, 1));
    const auto pattern = NSColor::colorWithPatternImageNamed("stripes");
    EXPECT_EQ(deviceRGBColor(*pattern).get(), pattern.get());
}

TEST(ColorArithmetic, HSLOfPrimariesAndGreys) {
    struct Case {
        double r, g, b;
        double h, s, l;
    };
    const std::vector<Case> cases = {
        {1, 0, 0, 1.0, 1, 0.5},  // pure red is hue 1.0, not 0.0
        {0, 1, 0, 1 / 3.0, 1, 0.5},
        {0, 0, 1, 2 / 3.0, 1, 0.5},
        {1, 1, 1, 0, 0, 1},
        {0, 0, 0, 0, 0, 0},
        {0.5, 0.5, 0.5, 0, 0, 0.5},
        {1, 0.5, 0, 1 / 12.0, 1, 0.5},
        {0.2, 0.4, 0.6, 7 / 12.0, 0.5, 0.4},
    };
    for (const auto& c : cases) {
        double h = -1, s = -1, l = -1, a = -1;
        EXPECT_TRUE(getH(*NSColor::colorWithRed(c.r, c.g, c.b, 0.3), &h, &s, &l, &a));
        EXPECT_NEAR(h, c.h, 1e-12) << c.r << " " << c.g << " " << c.b;
        EXPECT_NEAR(s, c.s, 1e-12);
        EXPECT_NEAR(l, c.l, 1e-12);
        EXPECT_EQ(a, 0.3);
        // And back again.
        expectRGBA(*colorWithHueSaturationLightness(h, s, l, 0.3), c.r, c.g, c.b, 0.3);
    }
    EXPECT_TRUE(getH(*NSColor::colorWithRed(1, 0, 0, 1), nullptr, nullptr, nullptr, nullptr));
}

TEST(ColorArithmetic, OffsetsClampAndWrap) {
    const auto red = NSColor::colorWithRed(1, 0, 0, 1);
    expectRGBA(*darken1(*red, 0.25), 0.5, 0, 0, 1);
    expectRGBA(*darken1(*red, 0.8), 0, 0, 0, 1);  // lightness clamped at 0
    expectRGBA(*lighten(*red, 0.3), 1, 0.6, 0.6, 1);
    expectRGBA(*desaturate(*red, 1), 0.5, 0.5, 0.5, 1);
    expectRGBA(*saturate(*NSColor::colorWithRed(0.75, 0.25, 0.25, 1), 2), 1, 0, 0, 1);
    // Red's hue 1.0 plus 0.25 wraps to 0.25 (computed in single precision).
    double h;
    getH(*offsetWithHue(*red, 0.25, 0, 0, 0), &h, nullptr, nullptr, nullptr);
    EXPECT_NEAR(h, 0.25, 1e-7);
    expectRGBA(*offsetWithHue(*red, 0, 0, 0, -2), 1, 0, 0, 0);  // alpha clamped
    EXPECT_TRUE(std::isnan(clamp(std::nan(""))));
    EXPECT_EQ(clamp(-0.5), 0);
    EXPECT_EQ(clamp(1.5), 1);
}

TEST(ColorArithmetic, LuminosityAndContrast) {
    EXPECT_EQ(luminosity(*NSColor::whiteColor()), 1.0);
    EXPECT_NEAR(luminosity(*NSColor::colorWithRed(1, 0.5, 0, 0)), 0.212671 + 0.5 * 0.71516, 1e-12);
    EXPECT_EQ(luminosity(*NSColor::colorWithPatternImageNamed("stripes")), 0);

    const auto mid = rgbGrey(0.5);
    ASSERT_EQ(luminosity(*mid), 0.5);
    EXPECT_EQ(*contrastingColor(*mid), *NSColor::blackColor());  // 0.5 itself gives black
    EXPECT_EQ(*contrastingColor(*rgbGrey(0.49)), *NSColor::whiteColor());
    EXPECT_EQ(*contrastingColor(*NSColor::colorWithPatternImageNamed("stripes")), *NSColor::whiteColor());

    EXPECT_EQ(*rgbGrey(0.3, 0.4), *NSColor::colorWithCalibratedRed(0.3, 0.3, 0.3, 0.4));
    EXPECT_EQ(*rgbWhite(), *NSColor::colorWithCalibratedRed(1, 1, 1, 1));
    EXPECT_EQ(*rgbBlack(), *NSColor::colorWithCalibratedRed(0, 0, 0, 1));
    EXPECT_EQ(*veryLightGrey(), *rgbGrey(0.9));
    EXPECT_EQ(*colorWithLuminosity(*NSColor::whiteColor()), *rgbGrey(1.0));
    EXPECT_EQ(*rgbGreyWithLuminosityFrom(*NSColor::whiteColor(), 0.5), *rgbGrey(1.0, 0.5));
}

TEST(ColorArithmetic, ContrastingTextColor) {
    const auto dark = colorWithHexRGB("#222222");
    const auto light = colorWithHexRGB("#cccccc");
    struct Case {
        AppKit::NSColorRef color;
        AppKit::NSColorRef text;
    };
    const std::vector<Case> cases = {
        {NSColor::colorWithRed(1, 1, 1, 1), dark},
        {NSColor::colorWithRed(0, 0, 0, 1), light},
        {NSColor::colorWithRed(0, 0.3, 0, 1), light},     // luma 44.9
        {NSColor::colorWithRed(0.2, 0.9, 0.2, 1), dark},  // luma 154.3
        {NSColor::colorWithCalibratedWhite(1, 1), dark},  // grey: the same formula
        {NSColor::colorWithCalibratedWhite(0.3, 1), light},
        {NSColor::colorWithDeviceCyan(0, 0, 0, 0, 1), light},  // other counts
        {NSColor::colorWithPatternImageNamed("stripes"), NSColor::lightGrayColor()},
    };
    for (const auto& c : cases) EXPECT_EQ(*contrastingTextColor(*c.color), *c.text) << c.color->description();
}

TEST(ColorArithmetic, BlendsAndMixes) {
    const auto orange = NSColor::colorWithRed(1, 0.5, 0, 1);
    const auto blue = NSColor::colorWithRed(0, 0, 1, 0.5);
    expectRGBA(*colorWithRGBBlendFrom(*orange, *blue, {0.5, 0.25, 1, 0}), 0.5, 0.375, 1, 1);
    EXPECT_EQ(colorWithRGBBlendFrom(*orange, *blue, {0, 0, 0, 0})->colorSpaceName(), AppKit::NSCalibratedRGBColorSpace);
    expectRGBA(*colorWithRGBAverageFrom(*orange, *blue), 0.5, 0.25, 0.5, 0.75);
    // HSB blend: hue straight between 1/12 and 2/3, no wrap.
    double h;
    colorWithHSBAverageFrom(*orange, *blue)->getHue(&h, nullptr, nullptr, nullptr);
    EXPECT_NEAR(h, (1 / 12.0 + 2 / 3.0) / 2, 1e-12);
    expectRGBA(*lighterColorWithLevel(*blue, 0.5), 0.5, 0.5, 1, 0.5);  // alpha stays
    expectRGBA(*darkerColorWithLevel(*orange, 0.5), 0.5, 0.25, 0, 1);

    expectRGBA(*colorByInterpolatingFrom(*orange, *blue, -1), 1, 0.5, 0, 1);
    expectRGBA(*colorByInterpolatingFrom(*orange, *blue, 2), 0, 0, 1, 0.5);
    expectRGBA(*interpolatedColorToColor(*orange, *blue, 0.25), 0.75, 0.375, 0.25, 0.875);
    // A colour that cannot be converted takes part as all zeros.
    expectRGBA(*colorByInterpolatingFrom(*NSColor::colorWithPatternImageNamed("p"), *blue, 0), 0, 0, 0, 0);

    expectRGBA(*invertedColor(*orange), 0, 0.5, 1, 1);
    expectRGBA(*colorWithHueFrom(*NSColor::colorWithRed(0.5, 0.25, 0.25, 0.5), *NSColor::colorWithRed(0, 1, 0, 1)),
               0.25, 0.5, 0.25, 0.5);
    expectRGBA(*colorWithHueAndSaturationFrom(*NSColor::colorWithRed(0.5, 0.25, 0.25, 0.5),
                                              *NSColor::colorWithRed(0, 1, 0, 1)),
               0, 0.5, 0, 0.5);

    expectRGBA(*blended(*orange, *NSColor::colorWithRed(1, 1, 1, 0), 0.25), 1, 0.625, 0.25, 1);
    expectRGBA(*lightened(*orange, 10), 1, 0.6, 0.1, 1);
    expectRGBA(*lightened(*orange, -10), 0.9, 0.4, -0.1, 1);  // no lower bound
}

TEST(ColorArithmetic, RandomColorsAreSteppedAndAveragedWithTheBase) {
    const auto onGrid = [](double x) { return x * 256 == std::floor(x * 256) && x >= 0 && x <= 255 / 256.0; };
    const auto base = NSColor::colorWithRed(1, 0, 0.5, 0.2);
    for (int i = 0; i < 20; ++i) {
        double r, g, b, a;
        randomColor()->getRed(&r, &g, &b, &a);
        EXPECT_TRUE(onGrid(r) && onGrid(g) && onGrid(b)) << r << " " << g << " " << b;
        EXPECT_EQ(a, 1);
        randomColor(base.get())->getRed(&r, &g, &b, &a);
        EXPECT_TRUE(onGrid(2 * r - 1) && onGrid(2 * g) && onGrid(2 * b - 0.5)) << r << " " << g << " " << b;
        EXPECT_EQ(a, 1);
    }
}

TEST(ColorArithmetic, DistanceIgnoresAlphaAndIsSinglePrecision) {
    EXPECT_EQ(distanceFrom(*NSColor::colorWithRed(0.3, 0.6, 0.9, 1), *NSColor::colorWithRed(0.3, 0.6, 0.9, 0)), 0.0f);
    EXPECT_EQ(distanceFrom(*NSColor::colorWithRed(0, 0, 0, 1), *NSColor::colorWithRed(1, 1, 1, 1)), std::sqrt(3.0f));
    // No conversion: a grey reads as its raw components, CMYK as black.
    EXPECT_EQ(distanceFrom(*NSColor::colorWithCalibratedWhite(1, 1), *NSColor::colorWithRed(1, 1, 1, 1)), 0.0f);
    EXPECT_EQ(distanceFrom(*NSColor::colorWithDeviceCyan(0, 0, 0, 0, 1), *NSColor::colorWithRed(0, 0, 0, 1)), 0.0f);
    const float d = distanceFrom(*NSColor::colorWithRed(0.1, 0.2, 0.3, 1), *NSColor::colorWithRed(0.4, 0.4, 0.4, 1));
    const float dr = static_cast<float>(0.1 - 0.4), dg = static_cast<float>(0.2 - 0.4),
                db = static_cast<float>(0.3 - 0.4);
    EXPECT_EQ(d, std::sqrt((dg * dg + dr * dr) + db * db));
}
