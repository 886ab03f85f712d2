// HSL colour helpers.
#include <gtest/gtest.h>

#include "picker/Views/Controls/ColorHSL.h"

using namespace Vexil::Views;

namespace {

TEST(ColorHSL, ConversionTable) {
    struct Case {
        double s, l, hsbS, hsbB;
    };
    const Case cases[] = {
        {1, 0.5, 1, 1},     // pure hue
        {0, 0.5, 0, 0.5},   // grey
        {1, 0.25, 1, 0.5},  // dark
        {0.5, 0.75, 2 * 0.125 / 0.875, 0.875},
        {1, 0, 0, 0},  // black: no division by zero
        {0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        auto hsb = hslToHsb(0.3, c.s, c.l, 0.7);
        EXPECT_DOUBLE_EQ(hsb.hue, 0.3);
        EXPECT_DOUBLE_EQ(hsb.alpha, 0.7);
        EXPECT_NEAR(hsb.saturation, c.hsbS, 1e-12) << c.s << " " << c.l;
        EXPECT_NEAR(hsb.brightness, c.hsbB, 1e-12) << c.s << " " << c.l;
    }
}

TEST(ColorHSL, RoundTripThroughGetHSL) {
    auto c = calibratedColorWithHSL(0.6, 0.5, 0.4, 1);
    double h = -1, l = -1, a = -1;
    getHSL(*c, &h, nullptr, &l, &a);
    EXPECT_NEAR(h, 0.6, 1e-9);
    EXPECT_NEAR(l, 0.4, 1e-9);
    EXPECT_DOUBLE_EQ(a, 1);
    auto d = deviceColorWithHSL(0.6, 0.5, 0.4, 1);
    EXPECT_NEAR(d->redComponent(), c->redComponent(), 1e-9);
    auto black = calibratedColorWithHSL(0, 1, 0, 1);
    EXPECT_DOUBLE_EQ(black->redComponent(), 0);
}

}  // namespace
