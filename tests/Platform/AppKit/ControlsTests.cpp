// Sliders, segmented controls, save panels, images.

#include <gtest/gtest.h>

#include "Platform/AppKit/NSSavePanel.h"
#include "Platform/CoreGraphics/Recording.h"
#include "Platform/Harness/Harness.h"

using namespace AppKit;

namespace {

class ControlsFixture : public ::testing::Test {
protected:
    Harness::UIHarness h;
    std::shared_ptr<NSWindow> window = NSWindow::make(CGRectMake(0, 0, 400, 200), NSWindowStyleMaskBorderless);
    void SetUp() override { window->orderFront(); }
};

TEST_F(ControlsFixture, SliderTakesTheValueUnderThePointerAndSendsItsAction) {
    std::vector<double> values;
    auto slider = NSSlider::sliderWithValue(0.5, 0, 360, [&](NSControl& c) { values.push_back(c.doubleValue()); });
    slider->setFrame(CGRectMake(20, 20, 220, 24));
    window->contentView()->addSubview(slider);
    h.setSlider(*slider, 90);
    EXPECT_DOUBLE_EQ(slider->doubleValue(), 90);
    EXPECT_EQ(slider->intValue(), 90);
    EXPECT_FALSE(values.empty());
    EXPECT_DOUBLE_EQ(values.back(), 90);
    slider->setDoubleValue(1000);
    EXPECT_EQ(slider->doubleValue(), 360);
    slider->setDoubleValue(-1);
    EXPECT_EQ(slider->doubleValue(), 0);
}

TEST_F(ControlsFixture, ASliderCellSubclassDrawsTheBar) {
    struct GradientCell : NSSliderCell {
        std::vector<CGRect> bars;
        void drawBarInside(CGRect rect, bool, CoreGraphics::DrawingContext& ctx) override {
            bars.push_back(rect);
            ctx.fillLinearGradient(rect, rect.origin, {rect.maxX(), rect.minY()}, {{1, 0, 0, 1}, {0, 0, 1, 1}}, {0, 1});
        }
    };
    auto cell = std::make_shared<GradientCell>();
    auto slider = std::make_shared<NSSlider>(CGRectMake(0, 0, 120, 20));
    slider->setCell(cell);
    CoreGraphics::RecordingContext rec;
    slider->display(rec);
    ASSERT_EQ(cell->bars.size(), 1u);
    EXPECT_EQ(cell->bars[0], CGRectMake(10, 8, 100, 4));
}

TEST_F(ControlsFixture, SegmentedControlSelectsOneAndSendsItsAction) {
    std::vector<long> picked;
    auto seg =
        NSSegmentedControl::segmentedControlWithLabels({"RGB", "HSB", "HSL"}, NSSegmentSwitchTracking::selectOne,
                                                       [&](NSControl& c) { picked.push_back(c.integerValue()); });
    seg->setFrame(CGRectMake(10, 100, 180, 24));
    window->contentView()->addSubview(seg);
    seg->setSelectedSegment(0);
    h.selectSegment(*seg, 2);
    h.selectSegment(*seg, 1);
    EXPECT_EQ(picked, (std::vector<long>{2, 1}));
    EXPECT_FALSE(seg->isSelectedForSegment(2));
    EXPECT_TRUE(seg->isSelectedForSegment(1));
    seg->setSelectedSegment(7);
    EXPECT_EQ(seg->selectedSegment(), 1);
}

TEST(SavePanel, ScriptedAnswersAddTheExtensionAndCancelWritesNothing) {
    SavePanelScript script;
    script.saveAs("/tmp/out/colors");
    script.saveAs("/tmp/out/colors.clr");
    NSSavePanel panel;
    panel.title = "Export";
    panel.allowedFileTypes = {"clr"};
    EXPECT_EQ(panel.runModal(), NSModalResponseOK);
    EXPECT_EQ(panel.URL(), "/tmp/out/colors.clr");
    EXPECT_EQ(panel.runModal(), NSModalResponseOK);
    EXPECT_EQ(panel.URL(), "/tmp/out/colors.clr");
    EXPECT_EQ(panel.runModal(), NSModalResponseCancel);
    EXPECT_FALSE(panel.URL());
    ASSERT_EQ(script.shown().size(), 3u);
    EXPECT_EQ(script.shown()[0].title, "Export");
}

TEST(SavePanel, WithoutAPresenterItIsCancelled) {
    NSSavePanel panel;
    EXPECT_EQ(panel.runModal(), NSModalResponseCancel);
}

TEST(Images, TintedCopiesKeepAlphaAndDropTheTemplateFlag) {
    auto exec = Foundation::TestExecutor::install();
    auto bitmap = std::make_shared<CoreGraphics::Image>(2, 1);
    bitmap->setPixel(0, 0, {0, 0, 0, 1});
    bitmap->setPixel(1, 0, {0, 0, 0, 0});
    auto image = std::make_shared<NSImage>(bitmap);
    image->isTemplate = true;
    auto tinted = image->tintedCopy(NSColor::colorWithDeviceRed(1, 0, 0, 1));
    EXPECT_FALSE(tinted->isTemplate);
    EXPECT_TRUE(image->isTemplate);
    EXPECT_EQ(tinted->bitmap()->pixel(0, 0), (RGBA{1, 0, 0, 1}));
    EXPECT_EQ(tinted->bitmap()->pixel(1, 0).a, 0);
    EXPECT_EQ(tinted->size(), (CGSize{2, 1}));
}

TEST(Images, SystemTemplatesExistAndUnknownNamesDoNot) {
    EXPECT_TRUE(NSImage::imageNamed(NSImageNameAddTemplate));
    EXPECT_TRUE(NSImage::imageNamed(NSImageNameAddTemplate)->isTemplate);
    EXPECT_FALSE(NSImage::imageNamed("no such image"));
    EXPECT_FALSE(NSImage::imageNamed(NSImageNamePreferencesGeneral));
    auto css = NSImage::imageNamed("css");  // a bundle resource
    ASSERT_TRUE(css);
    EXPECT_GT(css->size().width, 0);
}

}  // namespace

namespace {

TEST(Images, LockFocusDrawsIntoTheImageAndPixelsReadBackFromTheTopLeft) {
    auto exec = Foundation::TestExecutor::install();
    // An 11 x 11 capture zoomed ten times without smoothing: each pixel a 10-point square.
    auto small = std::make_shared<CoreGraphics::Image>(11, 11);
    small->setPixel(5, 5, {1, 0, 0, 1});
    small->setPixel(0, 0, {0, 0, 1, 1});
    NSImage source(small, {11, 11});
    NSImage zoomed({110, 110});
    auto& ctx = zoomed.lockFocus();
    source.drawInRect(ctx, CGRectMake(0, 0, 110, 110), 1, false);
    zoomed.unlockFocus();
    auto rep = NSBitmapImageRep::imageRepWithImage(zoomed);
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->pixelsWide(), 110);
    EXPECT_EQ(rep->colorAtX(55, 55)->redComponent(), 1);
    EXPECT_EQ(rep->colorAtX(59, 50)->redComponent(), 1);
    EXPECT_EQ(rep->colorAtX(60, 55)->alphaComponent(), 0);
    EXPECT_EQ(rep->colorAtX(9, 9)->blueComponent(), 1);
    EXPECT_FALSE(rep->colorAtX(110, 0));
    EXPECT_FALSE(NSBitmapImageRep::imageRepWithImage(NSImage()));
}

}  // namespace
