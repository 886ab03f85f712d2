// Monitors less the panels' bands, the icon's place from a panel's click,
// and the icon's outline: plain arithmetic on root rectangles and pixels.

#include <gtest/gtest.h>

#include "Platform/X11/IconLook.h"
#include "Platform/X11/Monitors.h"
#include "Platform/X11/WindowManager.h"

using namespace X11Display;

namespace {

// Two monitors side by side on a 2000x800 root; the right one is shorter (600) and starts at the top.
const std::vector<Monitor> kTwo = {{{0, 0, 1200, 800}, true}, {{1200, 0, 800, 600}, false}};

TEST(Monitors, EachMonitorLosesOnlyTheBandsOfPanelsOnIt) {
    const struct {
        const char* what;
        std::vector<std::uint32_t> strut;
        RootRect left, right;
    } cases[] = {
        {"none", {}, {0, 0, 1200, 800}, {1200, 0, 800, 600}},
        {"top panel across both (old whole-edge strut)", {0, 0, 30, 0}, {0, 30, 1200, 770}, {1200, 30, 800, 570}},
        {"bottom panel on the left only",
         {0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0, 1199},
         {0, 0, 1200, 760},
         {1200, 0, 800, 600}},
        // The root's bottom is 200 below the right monitor's: a bottom strut must reach into it.
        {"bottom panel on the right, from the root's edge",
         {0, 0, 0, 230, 0, 0, 0, 0, 0, 0, 1200, 1999},
         {0, 0, 1200, 800},
         {1200, 0, 800, 570}},
        {"left dock", {48, 0, 0, 0, 0, 799, 0, 0, 0, 0, 0, 0}, {48, 0, 1152, 800}, {1200, 0, 800, 600}},
        {"right dock on the right monitor",
         {0, 60, 0, 0, 0, 0, 0, 599, 0, 0, 0, 0},
         {0, 0, 1200, 800},
         {1200, 0, 740, 600}},
    };
    for (const auto& c : cases) {
        std::vector<Strut> struts;
        if (auto s = strutFromValues(c.strut, 2000, 800)) struts.push_back(*s);
        const auto areas = usableAreas(kTwo, struts, 2000, 800);
        ASSERT_EQ(areas.size(), 2u);
        EXPECT_EQ(areas[0], c.left) << c.what;
        EXPECT_EQ(areas[1], c.right) << c.what;
    }
    EXPECT_FALSE(strutFromValues({1, 2, 3}, 10, 10));
}

TEST(Monitors, TheIconSitsInThePanelBandWhereThePanelClicked) {
    Strut top{}, bottom{};
    top.top = 30, top.topEndX = 1199;
    bottom.bottom = 224, bottom.bottomStartX = 1200, bottom.bottomEndX = 1999;
    const auto areas = usableAreas(kTwo, {top, bottom}, 2000, 800);
    // A click in the top band: a square as high as the band, centred on the click.
    EXPECT_EQ(iconPlaceAround(1000, 12, 24, kTwo, areas), (RootRect{985, 0, 30, 30}));
    // In the right monitor's bottom band, whose panel ends 24 above its bottom edge.
    EXPECT_EQ(iconPlaceAround(1900, 590, 24, kTwo, areas), (RootRect{1888, 576, 24, 24}));
    // Outside any band (a panel without struts): a square of the given side around the point.
    EXPECT_EQ(iconPlaceAround(1500, 300, 24, kTwo, areas), (RootRect{1488, 288, 24, 24}));
    // Off every monitor: the nearest one's reckoning.
    EXPECT_EQ(monitorNear(kTwo, 1500, 700), 1);
    EXPECT_EQ(monitorNear(kTwo, -5, 10), 0);
    EXPECT_EQ(monitorNear({}, 0, 0), -1);
    // Before any click: the right end of the primary's band, else its top right corner.
    EXPECT_EQ(guessedIconPlace(24, kTwo, areas), (RootRect{1170, 0, 30, 30}));
    const auto bottomOnly = usableAreas({kTwo[0]}, {Strut{0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0, 1199}}, 1200, 800);
    EXPECT_EQ(guessedIconPlace(24, {kTwo[0]}, bottomOnly), (RootRect{1160, 760, 40, 40}));
    EXPECT_EQ(guessedIconPlace(24, {kTwo[0]}, {kTwo[0].rect}), (RootRect{1176, 0, 24, 24}));
}

TEST(WindowManager, PlacementHintsNameTheProgramsPositionAndSize) {
    const auto h = placementHints(-10, 20, 300, 178);
    EXPECT_EQ(h[0], kSizeHintUSPosition | kSizeHintPPosition | kSizeHintPSize);
    EXPECT_EQ(static_cast<std::int32_t>(h[1]), -10);
    EXPECT_EQ(h[2], 20u);
    EXPECT_EQ(h[3], 300u);
    EXPECT_EQ(h[4], 178u);
}

TEST(IconLook, ADarkIconGetsALightOutlineAndKeepsItsOwnPixels) {
    CoreGraphics::Image dark(3, 3);
    dark.setPixel(1, 1, {0.12, 0.12, 0.12, 1});
    const auto out = withLightOutline(dark);
    ASSERT_EQ(out.width(), 5);
    ASSERT_EQ(out.height(), 5);
    EXPECT_EQ(out.pixel(2, 2), dark.pixel(1, 1));  // the image itself, one pixel in
    for (const auto& [x, y] : {std::pair{1, 1}, {3, 1}, {1, 3}, {3, 3}, {2, 1}}) {
        const auto p = out.pixel(x, y);
        EXPECT_GT(p.r, 0.8) << x << "," << y;  // light, so it reads on a dark panel
        EXPECT_GT(p.a, 0.9) << x << "," << y;
    }
    EXPECT_EQ(out.pixel(0, 0).a, 0);  // beyond the halo: clear, the panel shows
    EXPECT_EQ(out.pixel(4, 2).a, 0);
}

}  // namespace
