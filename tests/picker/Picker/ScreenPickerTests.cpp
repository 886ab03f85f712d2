// The magnifier on a fake desktop picture and the manual clock.

#include <gtest/gtest.h>

#include "Platform/AppKit/NSApplication.h"
#include "Platform/CoreGraphics/Recording.h"
#include "Platform/Harness/Harness.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Picker/ZNLEventHanlder.h"

using namespace AppKit;

namespace {

// Every desktop pixel differs from its neighbours: red from x, green from y.
std::shared_ptr<CoreGraphics::Image> gradientDesktop(int w, int h) {
    auto picture = std::make_shared<CoreGraphics::Image>(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) picture->setPixel(x, y, RGBA{(x % 256) / 255.0, (y % 256) / 255.0, 0.2, 1});
    return picture;
}

struct Picks : ZNLMousePointerDelegate {
    std::vector<NSColorRef> colors;
    void didPickColor(ZNLMousePointer&, const NSColorRef& color) override { colors.push_back(color); }
};

class ScreenPicker : public ::testing::Test {
protected:
    ScreenPicker() : h(options()) {
        h.backend().setScreenRenderer([this](CGRect rect, long below) -> std::shared_ptr<CoreGraphics::Image> {
            captures.push_back(rect);
            excluded.push_back(below);
            if (failCaptures) return nullptr;
            auto out = std::make_shared<CoreGraphics::Image>(11, 11);
            const int x0 = static_cast<int>(std::floor(rect.minX())), y0 = static_cast<int>(std::floor(rect.minY()));
            for (int y = 0; y < 11; ++y)
                for (int x = 0; x < 11; ++x) out->setPixel(x, y, desktop->pixel(x0 + x, y0 + y));
            return out;
        });
        picker = std::make_shared<ZNLEventHanlder>();
        picker->didInit();
    }
    ~ScreenPicker() override { picker->close(); }

    static Harness::LaunchOptions options() {
        Harness::LaunchOptions o;
        o.screenSize = {400, 300};
        return o;
    }
    RGBA desktopAt(CGRect capture, int px, int py) const {
        return desktop->pixel(static_cast<int>(std::floor(capture.minX())) + px,
                              static_cast<int>(std::floor(capture.minY())) + py);
    }
    static RGBA rgba(const NSColorRef& c) {
        return {c->redComponent(), c->greenComponent(), c->blueComponent(), c->alphaComponent()};
    }

    std::shared_ptr<CoreGraphics::Image> desktop = gradientDesktop(400, 300);
    Harness::UIHarness h;
    std::vector<CGRect> captures;
    std::vector<long> excluded;
    bool failCaptures = false;
    std::shared_ptr<ZNLEventHanlder> picker;
    std::shared_ptr<Picks> picks = std::make_shared<Picks>();
};

TEST_F(ScreenPicker, CapturesTheAreaUnderThePointerBelowItsOwnWindowAndLabelsTheCentrePixel) {
    h.moveMouse({100, 80});
    picker->start(picks);
    h.moveMouse({120, 90});
    ASSERT_FALSE(captures.empty());
    const CGRect last = captures.back();
    EXPECT_EQ(last, CGRectMake(120 - 5.5, 300 - 90 - 5.5, 11, 11));
    EXPECT_EQ(excluded.back(), picker->window->windowNumber());
    const RGBA centre = desktopAt(last, 5, 5);
    auto label = picker->mousePointer->colorLabel.lock();
    ASSERT_TRUE(label);
    const auto expect = std::to_string(static_cast<int>(std::lround(centre.r * 255))) + " " +
                        std::to_string(static_cast<int>(std::lround(centre.g * 255))) + " " +
                        std::to_string(static_cast<int>(std::lround(centre.b * 255)));
    EXPECT_EQ(label->stringValue(), expect);
    // The zoomed image is the same area ten times larger.
    auto zoomed = picker->mousePointer->imageView.lock()->image;
    ASSERT_TRUE(zoomed && zoomed->bitmap());
    EXPECT_EQ(zoomed->size(), (CGSize{110, 110}));
    EXPECT_EQ(zoomed->bitmap()->pixel(55, 55), centre);
}

TEST_F(ScreenPicker, AClickBeforeAnyMovementPicksThePixelUnderThePointer) {
    h.moveMouse({200, 150});
    picker->start(picks);
    ASSERT_EQ(captures.size(), 2u);  // one capture at opening (zoomed and plain)
    h.mouseDown({200, 150});
    h.mouseUp({200, 150});
    ASSERT_EQ(picks->colors.size(), 1u);
    EXPECT_EQ(rgba(picks->colors[0]), desktopAt(captures.back(), 5, 5));
}

TEST_F(ScreenPicker, ShiftClickStaysOpenAndAPlainClickClosesAfterTheBlink) {
    h.moveMouse({50, 50});
    const auto localBefore = NSEvent::localMonitorCount(), globalBefore = NSEvent::globalMonitorCount();
    picker->start(picks);
    EXPECT_EQ(NSEvent::localMonitorCount(), localBefore + 3);
    EXPECT_EQ(NSEvent::globalMonitorCount(), globalBefore + 1);
    EXPECT_TRUE(NSCursor::isHidden());
    h.moveMouse({60, 60});
    h.click({60, 60}, 1, NSEventModifierFlagShift);
    h.advance(1.0);
    EXPECT_EQ(picks->colors.size(), 1u);
    EXPECT_TRUE(picker->isOpen());
    EXPECT_TRUE(picker->window->isVisible());
    EXPECT_EQ(NSEvent::localMonitorCount(), localBefore + 3);
    EXPECT_TRUE(NSCursor::isHidden());

    h.click({70, 70});
    EXPECT_EQ(picks->colors.size(), 2u);  // told before the blink
    h.advance(0.13);
    EXPECT_TRUE(picker->isOpen());
    h.advance(0.02);
    EXPECT_FALSE(picker->isOpen());
    EXPECT_FALSE(picker->window->isVisible());
    EXPECT_EQ(NSEvent::localMonitorCount(), localBefore);
    EXPECT_EQ(NSEvent::globalMonitorCount(), globalBefore);
    EXPECT_FALSE(picker->keyMonitor || picker->eventMonitor || picker->clickMonitor || picker->moveMonitor);
    EXPECT_FALSE(NSCursor::isHidden());
    EXPECT_EQ(NSCursor::hideCount(), 0);
}

TEST_F(ScreenPicker, EscapeClosesWithoutAColourAndOtherKeysPass) {
    h.moveMouse({50, 50});
    picker->start(picks);
    h.pressKey(0, "a");
    h.advance(1.0);
    EXPECT_TRUE(picker->isOpen());
    h.pressKey(ZNLEventHanlder::kEscapeKeyCode, "\x1b");
    h.advance(0.2);
    EXPECT_FALSE(picker->isOpen());
    EXPECT_TRUE(picks->colors.empty());
    EXPECT_FALSE(NSCursor::isHidden());
}

TEST_F(ScreenPicker, ASecondClickDuringTheBlinkClosesOnceAndBalancesThePointer) {
    NSCursor::hide();  // someone else's hide stays
    h.moveMouse({50, 50});
    picker->start(picks);
    h.click({50, 50});
    h.advance(0.05);
    h.click({52, 52});  // replaces the running blink
    EXPECT_EQ(picks->colors.size(), 2u);
    EXPECT_TRUE(picker->isOpen());
    h.advance(0.2);
    EXPECT_FALSE(picker->isOpen());
    EXPECT_EQ(NSCursor::hideCount(), 1);
    picker->close();
    picker->close();
    EXPECT_EQ(NSCursor::hideCount(), 1);
    NSCursor::unhide();
}

TEST_F(ScreenPicker, AFailedCaptureDeliversNoColourAndSaysWhyOnce) {
    failCaptures = true;
    Foundation::DiagnosticsCapture log;
    h.moveMouse({50, 50});
    picker->start(picks);
    h.moveMouse({55, 55});
    h.click({55, 55});
    h.advance(0.2);
    EXPECT_TRUE(picks->colors.empty());
    EXPECT_FALSE(picker->isOpen());
    std::size_t said = 0;
    for (const auto& line : log.systemLogLines()) said += line.find("cannot be read") != std::string::npos;
    EXPECT_EQ(said, 1u);
}

TEST_F(ScreenPicker, WithoutCaptureAccessItClosesAfterTheFirstRefresh) {
    h.backend().captureAllowed = false;
    h.moveMouse({50, 50});
    picker->start(picks);
    h.advance(0.2);
    EXPECT_FALSE(picker->isOpen());
    EXPECT_FALSE(NSCursor::isHidden());
}

TEST_F(ScreenPicker, StartWhileOpenReplacesTheMonitorsAndTheDelegate) {
    const auto localBefore = NSEvent::localMonitorCount();
    auto other = std::make_shared<Picks>();
    picker->start(picks);
    picker->start(other);
    EXPECT_EQ(NSEvent::localMonitorCount(), localBefore + 3);
    h.click({30, 30});
    EXPECT_TRUE(picks->colors.empty());
    EXPECT_EQ(other->colors.size(), 1u);
    h.advance(0.2);
    EXPECT_EQ(NSCursor::hideCount(), 0);
    picker->stop();  // nothing installed: harmless
}

TEST_F(ScreenPicker, TheWindowFollowsThePointerToTheScreenEdges) {
    picker->start(picks);
    const CGSize size = picker->mousePointer->view()->frame().size;
    for (CGPoint p : {CGPoint{0, 0}, CGPoint{400, 300}, CGPoint{0, 300}, CGPoint{400, 0}}) {
        h.moveMouse(p);
        EXPECT_EQ(picker->window->frame().origin, (CGPoint{p.x - size.width / 2, p.y - size.height / 2}));
    }
    EXPECT_EQ(picker->window->styleMask(), ZNLCircledWindow::kStyleMask);
    EXPECT_EQ(picker->window->level(), NSStatusWindowLevel);
    EXPECT_TRUE(picker->window->canBecomeKeyWindow());
}

TEST(ZNLGridViewDrawing, LinesEveryTenPointsFromZeroToHundredNoneAtTheEdge) {
    auto grid = NSView::make<ZNLGridView>(CGRectMake(0, 0, 110, 110));
    CoreGraphics::RecordingContext ctx;
    grid->drawRect(grid->bounds(), ctx);
    std::vector<double> horizontal, vertical;
    for (const auto& r : ctx.records(CoreGraphics::DrawingOp::StrokeLine)) {
        ASSERT_EQ(r.points.size(), 2u);
        if (r.points[0].y == r.points[1].y)
            horizontal.push_back(r.points[0].y);
        else
            vertical.push_back(r.points[0].x);
        EXPECT_EQ(r.color, (RGBA{100 / 255.0, 149 / 255.0, 237 / 255.0, 0.1}));
    }
    const std::vector<double> expected{0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
    EXPECT_EQ(horizontal, expected);
    EXPECT_EQ(vertical, expected);
    auto squares = ctx.records(CoreGraphics::DrawingOp::StrokeRect);
    ASSERT_EQ(squares.size(), 2u);
    EXPECT_EQ(squares[0].rect, CGRectMake(50, 50, 10, 10));
}

}  // namespace
