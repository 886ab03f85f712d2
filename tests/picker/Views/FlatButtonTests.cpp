// The flat button: layout table, press logic, colour animations on the clock.
#include <gtest/gtest.h>

#include "Platform/AppKit/NSImage.h"
#include "Platform/Harness/Harness.h"
#include "picker/Views/Controls/FlatButton.h"

using namespace AppKit;
using namespace Vexil::Views;
using Role = FlatButton::ColorRole;

namespace {

TEST(FlatButtonLayout, Table) {
    struct Case {
        NSCellImagePosition pos;
        double W, H;
        CGPoint icon, title;
    };
    const CGSize t{40, 10}, i{16, 16};
    const Case cases[] = {
        {NSCellImagePosition::imageRight, 100, 30, {69, 7}, {2, 10}},
        {NSCellImagePosition::imageLeft, 101, 30, {15, 7}, {55, 10}},
        {NSCellImagePosition::imageBelow, 100, 60, {42, 33}, {30, 2}},  // vGap = round(34/3) = 11
        {NSCellImagePosition::imageAbove, 100, 60, {42, 11}, {30, 48}},
        {NSCellImagePosition::imageOnly, 101, 31, {5, 6}, {30.5, 10.5}},  // halves kept, icon stays
    };
    for (const auto& c : cases) {
        auto got = flatButtonLayout(c.pos, {c.W, c.H}, t, i, {5, 6});
        EXPECT_EQ(got.icon.x, c.icon.x) << int(c.pos);
        EXPECT_EQ(got.icon.y, c.icon.y) << int(c.pos);
        EXPECT_EQ(got.title.x, c.title.x) << int(c.pos);
        EXPECT_EQ(got.title.y, c.title.y) << int(c.pos);
    }
}

struct Fixture {
    Harness::UIHarness h;
    std::shared_ptr<NSWindow> w = NSWindow::make(CGRectMake(100, 100, 300, 200), NSWindowStyleMaskBorderless);
    std::shared_ptr<FlatButton> b = NSView::make<FlatButton>(CGRectMake(10, 10, 100, 30));
    std::shared_ptr<NSView> behind = NSView::make(CGRectMake(0, 0, 300, 200));
    int actions = 0;
    Fixture() {
        w->contentView()->addSubview(behind);
        w->contentView()->addSubview(b);
        b->awakeFromNib();
        b->action = [this](NSControl&) { ++actions; };
        w->orderFront();
        h.moveMouse({0, 0});
    }
    CGPoint inside() const { return {100 + 60, 100 + 25}; }
    CoreGraphics::RGBA fill() const {
        return b->layer()->presentationValueForKeyPath("backgroundColor").index()
                   ? std::get<CoreGraphics::RGBA>(b->layer()->presentationValueForKeyPath("backgroundColor"))
                   : CoreGraphics::RGBA{};
    }
};

TEST(FlatButton, NoColoursUntilFirstChange) {
    Fixture f;
    EXPECT_EQ(f.b->layer()->backgroundColor.a, 0);
    f.b->setColor(Role::button, NSColor::redColor());
    EXPECT_EQ(f.b->layer()->backgroundColor, (CoreGraphics::RGBA{1, 0, 0, 1}));
}

TEST(FlatButton, MomentaryClickOnAtOnceFadesOffAndSendsOnce) {
    Fixture f;
    f.h.moveMouse(f.inside());
    f.h.mouseDown(f.inside());
    EXPECT_TRUE(f.b->isOn());
    EXPECT_EQ(f.fill(), (CoreGraphics::RGBA{1, 1, 1, 1}));  // 0 s into the on colours
    f.h.mouseUp(f.inside());
    EXPECT_FALSE(f.b->isOn());
    EXPECT_EQ(f.actions, 1);
    f.h.advance(0.05);
    auto mid = f.fill();
    EXPECT_GT(mid.r, 1.0 / 3 + 0.01);
    EXPECT_LT(mid.r, 0.99);
    f.h.advance(0.1);
    EXPECT_NEAR(f.fill().r, 1.0 / 3, 1e-9);
}

TEST(FlatButton, PressLeaveReleaseOutsideSendsNothing) {
    Fixture f;
    f.h.moveMouse(f.inside());
    f.h.mouseDown(f.inside());
    EXPECT_TRUE(f.b->isOn());
    f.h.moveMouse({5, 5});
    EXPECT_FALSE(f.b->isOn());
    f.h.mouseUp({5, 5});
    EXPECT_FALSE(f.b->isOn());
    EXPECT_EQ(f.actions, 0);
}

TEST(FlatButton, ToggleTwoClicksTwoActionsBackToStart) {
    Fixture f;
    f.b->setMomentary(false);
    f.h.moveMouse(f.inside());
    f.h.click(f.inside());
    EXPECT_TRUE(f.b->isOn());
    f.h.click(f.inside());
    EXPECT_FALSE(f.b->isOn());
    EXPECT_EQ(f.actions, 2);
}

TEST(FlatButton, DisabledIsHalfTransparentAndLetsClicksThrough) {
    Fixture f;
    f.b->setEnabled(false);
    EXPECT_EQ(f.b->alphaValue(), 0.5);
    EXPECT_NE(f.w->hitTest({60, 25}), f.b.get());
    f.h.click(f.inside());
    EXPECT_FALSE(f.b->isOn());
    f.b->setEnabled(true);
    EXPECT_EQ(f.b->alphaValue(), 1.0);
    EXPECT_EQ(f.w->hitTest({60, 25}), f.b.get());
}

TEST(FlatButton, GlowOnlyWithRadiusAndOpacity) {
    Fixture f;
    f.b->setGlowOpacity(0.8);
    f.b->setOn(true);
    EXPECT_EQ(f.b->containerLayer->shadowColor.a, 0);
    f.b->setGlowRadius(4);
    EXPECT_EQ(f.b->containerLayer->shadowColor, (CoreGraphics::RGBA{0, 0, 0, 1}));
}

TEST(FlatButton, AlternateImageCrossesOver) {
    Fixture f;
    f.b->setImage(std::make_shared<NSImage>(CGSize{16, 16}));
    f.b->setAlternateImage(std::make_shared<NSImage>(CGSize{16, 16}));
    f.b->setOn(true);
    EXPECT_EQ(f.b->iconLayer->backgroundColor.a, 0);
    EXPECT_EQ(f.b->alternateIconLayer->backgroundColor, (CoreGraphics::RGBA{0, 0, 0, 1}));
    EXPECT_EQ(f.b->iconLayer->frame().size.width, 16);
}

}  // namespace
