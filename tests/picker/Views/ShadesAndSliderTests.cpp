// The row of swatches (widths, tracking, clicks) and the gradient slider cell.

#include "Platform/AppKit/Layout.h"
#include "Platform/CoreGraphics/Recording.h"
#include "picker/Views/Palettes/RCPalettesViewController.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Views/ViewsTestSupport.h"

namespace viewstest {
namespace {

class ClickRecorder : public ZNLShadeViewDelegate {
public:
    void shadeViewDoubleClicked(ZNLShadeView&, const NSColorRef& c) override { log.push_back("double " + hexRGB(*c)); }
    void shadeViewClicked(ZNLShadeView&, const NSColorRef& c) override { log.push_back("single " + hexRGB(*c)); }
    void reloadItem() override {}
    std::vector<std::string> log;
};

TEST_F(ViewsTest, TenShadesInThreeHundredPointsTouchEdgeToEdge) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(0.4, 0.2, 0.6, 1));
    auto& e = *producer->viewController;
    e.stackView->setFrameSize({300, 52});
    e.reloadRow();
    ASSERT_EQ(e.stackView->views.size(), 10u);
    for (std::size_t i = 0; i < 10; ++i) {
        const CGRect f = e.stackView->views[i]->frame();
        EXPECT_DOUBLE_EQ(f.width(), 30) << i;
        EXPECT_DOUBLE_EQ(f.minX(), 30.0 * static_cast<double>(i)) << i;
        EXPECT_DOUBLE_EQ(f.height(), 52) << i;
        if (i > 0) {
            EXPECT_DOUBLE_EQ(f.minX(), e.stackView->views[i - 1]->frame().maxX());
        }
    }
    // Every rebuild replaces the swatches.
    auto before = e.stackView->views[0];
    e.reloadRow();
    EXPECT_NE(e.stackView->views[0], before);
    EXPECT_EQ(e.stackView->subviews().size(), 10u);
}

TEST_F(ViewsTest, ARowNotYetLaidOutIsLaidOutBeforeItsWidthIsUsed) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(0.4, 0.2, 0.6, 1));
    auto& e = *producer->viewController;
    // A row sized by constraints that the solver has not applied yet.
    auto parent = e.stackView->superview();
    e.stackView->translatesAutoresizingMaskIntoConstraints = false;
    e.stackView->setFrame(CGRectMake(20, 60, 0, 0));
    NSLayoutConstraint::activateConstraints({
        leftAnchor(e.stackView).constraintEqualToAnchor(NSLayoutAnchor(parent, NSLayoutAttribute::left), 20),
        widthAnchor(e.stackView).constraintEqualToConstant(200),
        heightAnchor(e.stackView).constraintEqualToConstant(40),
        bottomAnchor(e.stackView).constraintEqualToAnchor(NSLayoutAnchor(parent, NSLayoutAttribute::bottom), -60),
    });
    e.reloadRow();
    EXPECT_DOUBLE_EQ(e.stackView->views[0]->frame().width(), 20);
}

TEST_F(ViewsTest, OnlyASwatchAmongSeveralTracksThePointer) {
    auto producer = openEditor(NSColor::colorWithCalibratedRed(0.4, 0.2, 0.6, 1));
    auto& e = *producer->viewController;
    e.showColors({NSColor::redColor()});
    auto single = std::static_pointer_cast<ZNLShadeView>(e.stackView->views[0]);
    single->updateTrackingAreas();
    EXPECT_FALSE(single->highlightable);
    EXPECT_TRUE(single->trackingAreas().empty());
    EXPECT_FALSE(single->trackingArea);

    e.showColors({NSColor::redColor(), NSColor::blueColor()});
    auto first = std::static_pointer_cast<ZNLShadeView>(e.stackView->views[0]);
    first->updateTrackingAreas();
    first->updateTrackingAreas();
    ASSERT_EQ(first->trackingAreas().size(), 1u);
    EXPECT_EQ(first->trackingAreas()[0]->options(), 641u);
    // Hovering shows the colour's text; leaving closes it.
    h.moveMouseToView(*first);
    h.drain();
    EXPECT_TRUE(first->popover->isShown());
    auto info = std::dynamic_pointer_cast<RCColorInfoViewController>(first->popover->contentViewController);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->info, first->colorLabel->stringValue());
    EXPECT_TRUE(first->colorLabel->isHidden());
    h.moveMouse({2, 2});
    h.drain();
    EXPECT_FALSE(first->popover->isShown());
}

TEST_F(ViewsTest, ClickCountsOneAndTwoReachTheOwnerAndThreeDoesNot) {
    auto view = ZNLShadeView::create(NSColor::colorWithCalibratedRed(1, 0, 0, 1), ColorFormat::builtIn());
    ASSERT_TRUE(view);
    auto recorder = std::make_shared<ClickRecorder>();
    view->delegate = recorder;
    for (long count : {1L, 2L, 3L, 0L}) {
        NSEvent event;
        event.clickCount = count;
        view->mouseDown(event);
    }
    EXPECT_EQ(recorder->log, (std::vector<std::string>{"single #ff0000", "double #ff0000"}));
    EXPECT_EQ(view->colorLabel->stringValue(), formatted(*NSColor::redColor(), ColorFormat::builtIn(), ""));
}

std::vector<double> hues(const RYGradientSliderCell& cell) {
    std::vector<double> out;
    for (auto& c : cell.colors()) out.push_back(c->hueComponent());
    return out;
}

TEST_F(ViewsTest, RainbowStopsFollowTheMinimumColourAlone) {
    RYGradientSliderCell cell;
    EXPECT_EQ(cell.colors().size(), 2u);
    EXPECT_EQ(*cell.colors()[1], *NSColor::blackColor());
    EXPECT_TRUE(cell.locations().empty());
    cell.setMinColor(NSColor::colorWithCalibratedHue(0.3, 0.4, 0.9, 1));
    cell.setHasRainbow(true);
    ASSERT_EQ(cell.colors().size(), 5u);
    EXPECT_EQ(cell.locations(), (std::vector<double>{0, 0.25, 0.5, 0.75, 1}));
    const std::vector<double> expected{0, 0.25, 0.5, 0.75, 0};  // red at both ends
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_NEAR(cell.colors()[i]->hueComponent(), expected[i], 1e-9) << i;
        EXPECT_NEAR(cell.colors()[i]->saturationComponent(), 0.4, 1e-9) << i;
        EXPECT_NEAR(cell.colors()[i]->brightnessComponent(), 0.9, 1e-9) << i;
    }
    const auto before = hues(cell);
    cell.setMaxColor(NSColor::greenColor());
    EXPECT_EQ(hues(cell), before);
    cell.setMinColor(NSColor::colorWithCalibratedHue(0, 1, 0.5, 1));
    EXPECT_NEAR(cell.colors()[2]->brightnessComponent(), 0.5, 1e-9);
    cell.setHasRainbow(false);
    EXPECT_EQ(cell.colors().size(), 2u);
    EXPECT_EQ(cell.locations(), (std::vector<double>{0, 1}));
}

TEST_F(ViewsTest, LightnessRampHasThreeStops) {
    RYGradientSliderCell cell;
    cell.setMinColor(colorWithHueSaturationLightness(0.6, 0.8, 0, 1));
    cell.setMaxColor(colorWithHueSaturationLightness(0.6, 0.8, 0.99, 1));
    cell.updateLightnessColors();
    ASSERT_EQ(cell.colors().size(), 3u);
    EXPECT_EQ(cell.locations(), (std::vector<double>{0, 0.5, 1}));
    EXPECT_NEAR(hslLightness(*cell.colors()[0]), 0, 1e-9);
    EXPECT_NEAR(hslLightness(*cell.colors()[1]), 0.49, 1e-6);
    EXPECT_NEAR(hslLightness(*cell.colors()[2]), 0.99, 1e-6);
}

TEST_F(ViewsTest, TheBarNeverReadsPastItsLists) {
    RYGradientSliderCell cell;
    // Initial state: two colours, no locations: spaced evenly.
    EXPECT_EQ(cell.drawnLocations(), (std::vector<double>{0, 1}));
    CoreGraphics::RecordingContext ctx;
    cell.drawBar(CGRectMake(0, 0, 100, 4), ctx);
    EXPECT_FALSE(ctx.records().empty());
    // A colour that cannot be drawn: nothing, not even the outline.
    cell.setMinColor(NSColor::colorWithPatternImageNamed("css"));
    CoreGraphics::RecordingContext none;
    cell.drawBar(CGRectMake(0, 0, 100, 4), none);
    EXPECT_TRUE(none.records().empty());
}

}  // namespace
}  // namespace viewstest
