// Hover button and view driven by the pointer; font fitting; the dark look.
#include <gtest/gtest.h>

#include <cmath>

#include "Platform/Harness/Harness.h"
#include "Platform/QuartzCore/CALayer.h"
#include "picker/Views/Controls/SmallControls.h"

using namespace AppKit;
using namespace Vexil::Views;

namespace {

struct Recorder : ZNLViewDelegate {
    int entered = 0, exited = 0;
    void viewMouseEntered() override { ++entered; }
    void viewMouseExited() override { ++exited; }
};

std::shared_ptr<NSWindow> windowWith(const std::shared_ptr<NSView>& view) {
    auto w = NSWindow::make(CGRectMake(100, 100, 300, 200), NSWindowStyleMaskBorderless);
    w->contentView()->addSubview(view);
    w->orderFront();
    return w;
}

TEST(HoverView, ReportsEnterAndExitAndKeepsOneTrackingArea) {
    Harness::UIHarness h;
    auto view = NSView::make<ZNLView>(CGRectMake(10, 10, 50, 50));
    auto rec = std::make_shared<Recorder>();
    view->delegate = rec;
    auto w = windowWith(view);
    h.moveMouse({0, 0});
    for (double size : {60.0, 70.0, 80.0}) {
        view->setFrame(CGRectMake(10, 10, size, size));
        h.moveMouse({1, 1});
    }
    EXPECT_EQ(view->trackingAreas().size(), 1u);
    EXPECT_EQ(view->trackingAreas()[0]->rect().size.width, 80);
    h.moveMouseToView(*view);
    EXPECT_EQ(rec->entered, 1);
    h.moveMouse({0, 0});
    EXPECT_EQ(rec->exited, 1);
    rec.reset();  // a gone delegate is skipped
    h.moveMouseToView(*view);
}

TEST(HoverButton, ImageWinsOverColourOnlyColourChangesLayer) {
    Harness::UIHarness h;
    auto withImage = NSView::make<ZNLHoverButton>(CGRectMake(10, 10, 40, 40));
    auto hoverImage = std::make_shared<NSImage>(CGSize{10, 10});
    withImage->hoverImage = hoverImage;
    auto colourOnly = NSView::make<ZNLHoverButton>(CGRectMake(100, 10, 40, 40));
    colourOnly->hoverBackgroundColor = NSColor::redColor();
    auto w = windowWith(withImage);
    w->contentView()->addSubview(colourOnly);
    h.moveMouse({0, 0});
    h.moveMouseToView(*withImage);
    EXPECT_EQ(withImage->image(), hoverImage);
    EXPECT_FALSE(withImage->wantsLayer());
    h.moveMouseToView(*colourOnly);
    EXPECT_EQ(colourOnly->image(), nullptr);
    ASSERT_TRUE(colourOnly->layer());
    EXPECT_EQ(colourOnly->layer()->backgroundColor, (CoreGraphics::RGBA{1, 0, 0, 1}));
    h.moveMouse({0, 0});
    EXPECT_EQ(colourOnly->layer()->backgroundColor.a, 0);
    EXPECT_EQ(colourOnly->trackingAreas().size(), 1u);
}

TEST(FitFont, LowersInHalfPointStepsAndStopsAtOnePoint) {
    auto field = NSTextField::labelWithString("A fairly long label text");
    field->font = NSFont::systemFontOfSize(13);
    field->setFrame(CGRectMake(0, 0, 60, 20));
    fitFontToWidth(*field, 0);
    double size = field->font->pointSize();
    EXPECT_LT(size, 13);
    EXPECT_LE(field->font->sizeOfString(field->stringValue()).width, 60);
    EXPECT_GT(field->font->withSize(size + 0.5)->sizeOfString(field->stringValue()).width, 60);
    EXPECT_DOUBLE_EQ(size * 2, std::round(size * 2));

    field->setFrame(CGRectMake(0, 0, 0.01, 20));  // no size fits
    fitFontToWidth(*field, 0);
    EXPECT_GE(field->font->pointSize(), kSmallestFittedFontSize);

    field->font = nullptr;  // no font: nothing to do
    fitFontToWidth(*field, 0);
    EXPECT_EQ(field->font, nullptr);
}

TEST(DarkAppearance, ByBestMatch) {
    EXPECT_TRUE(isDarkAppearance(NSAppearance::appearanceNamed(NSAppearanceNameDarkAqua).get()));
    EXPECT_FALSE(isDarkAppearance(NSAppearance::appearanceNamed(NSAppearanceNameAqua).get()));
    EXPECT_FALSE(isDarkAppearance(nullptr));
}

}  // namespace
