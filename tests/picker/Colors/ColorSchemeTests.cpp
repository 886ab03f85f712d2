#include "picker/Colors/ColorScheme.h"

#include <gtest/gtest.h>

#include <vector>

#include "picker/Colors/NSColorAdditions.h"

namespace {

std::vector<double> hues(const SchemeValues& values) {
    std::vector<double> out;
    for (const auto& v : values) out.push_back(v.hue * 360);
    return out;
}

void expectValues(const SchemeValues& got, const std::vector<std::array<double, 3>>& want) {
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(got[i].hue, want[i][0] / 360, 1e-12) << "colour " << i + 1;
        EXPECT_NEAR(got[i].saturation, want[i][1], 1e-12) << "colour " << i + 1;
        EXPECT_NEAR(got[i].brightness, want[i][2], 1e-12) << "colour " << i + 1;
        EXPECT_EQ(got[i].alpha, 0.7);
    }
}

}  // namespace

TEST(ColorScheme, RawValues) {
    EXPECT_EQ(colorSchemeFromRawValue(0), ColorScheme::Analagous);
    EXPECT_EQ(colorSchemeFromRawValue(1), ColorScheme::Monochromatic);
    EXPECT_EQ(colorSchemeFromRawValue(2), ColorScheme::Triad);
    EXPECT_EQ(colorSchemeFromRawValue(3), ColorScheme::Complementary);
    EXPECT_EQ(colorSchemeFromRawValue(4), std::nullopt);
    EXPECT_EQ(colorSchemeFromRawValue(-1), std::nullopt);
}

TEST(ColorScheme, GeneratorTables) {
    // Base: hue 90 degrees, saturation 0.6, brightness 0.9, alpha 0.7.
    const double h = 0.25, s = 0.6, v = 0.9, a = 0.7;
    expectValues(analogousValues(h, s, v, a), {{120, 0.55, 0.8}, {105, 0.55, 0.85}, {75, 0.55, 0.85}, {60, 0.55, 0.8}});
    expectValues(monochromaticValues(h, s, v, a), {{90, 0.3, 0.3}, {90, 0.6, 0.45}, {90, 0.2, 0.6}, {90, 0.6, 0.72}});
    expectValues(triadValues(h, s, v, a), {{210, 0.4, 0.85}, {210, 0.6, 0.9}, {330, 0.6, 0.9}, {330, 0.4, 0.85}});
    expectValues(complementaryValues(h, s, v, a),
                 {{90, 0.6, 0.72}, {90, 0.6 * 5 / 7, 0.9}, {270, 0.6, 0.9}, {270, 0.6 * 5 / 7, 0.9}});
}

TEST(ColorScheme, HuesWrapOnce) {
    EXPECT_EQ(hues(analogousValues(0, 1, 1, 1)), (std::vector<double>{30, 15, 345, 330}));
    const auto triad = hues(triadValues(1.0, 1, 1, 1));
    EXPECT_EQ(triad, (std::vector<double>{120, 120, 240, 240}));
    EXPECT_EQ(hues(complementaryValues(1.0, 1, 1, 1))[2], 180);
    // 330 + 30 stays 360: hue 1.0, the same colour as hue 0.
    EXPECT_EQ(analogousValues(330.0 / 360, 1, 1, 1)[0].hue, 1.0);
    EXPECT_EQ(*analogousColors(330.0 / 360, 1, 1, 1)[0], *AppKit::NSColor::colorWithHue(0, 0.95, 0.9, 1));
}

TEST(ColorScheme, ValuesOutOfRangeAreClampedByTheConstructor) {
    const auto values = analogousValues(0.5, 0.02, 0.05, 1);
    EXPECT_NEAR(values[0].saturation, -0.03, 1e-12);
    EXPECT_NEAR(values[0].brightness, -0.05, 1e-12);
    const auto colors = analogousColors(0.5, 0.02, 0.05, 1);
    EXPECT_EQ(*colors[0], *AppKit::NSColor::colorWithRed(0, 0, 0, 1));
    EXPECT_EQ(*colors[1], *AppKit::NSColor::colorWithRed(0, 0, 0, 1));
}

TEST(ColorScheme, DispatchAndAlpha) {
    const auto same = [](const SchemeColors& a, const SchemeColors& b) {
        for (std::size_t i = 0; i < 4; ++i) {
            if (!(*a[i] == *b[i])) return false;
        }
        return true;
    };
    const double h = 0.6, s = 0.5, v = 0.7, a = 1;
    EXPECT_TRUE(same(colorsForScheme(0, h, s, v, a), analogousColors(h, s, v, a)));
    EXPECT_TRUE(same(colorsForScheme(1, h, s, v, a), monochromaticColors(h, s, v, a)));
    EXPECT_TRUE(same(colorsForScheme(2, h, s, v, a), triadColors(h, s, v, a)));
    EXPECT_TRUE(same(colorsForScheme(3, h, s, v, a), complementaryColors(h, s, v, a)));
    EXPECT_TRUE(same(colorsForScheme(9, h, s, v, a), analogousColors(h, s, v, a)));

    // A base colour without four components has HSB (0, 0, 0, 0): every colour is transparent.
    const auto hsb = hsbComponents(*AppKit::NSColor::colorWithCalibratedWhite(0.5, 1));
    for (long scheme = 0; scheme < 4; ++scheme) {
        for (const auto& color : colorsForScheme(scheme, hsb.hue, hsb.saturation, hsb.brightness, hsb.alpha)) {
            EXPECT_EQ(color->alphaComponent(), 0);
        }
    }
}
