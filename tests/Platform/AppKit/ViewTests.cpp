// Views: coordinates, hit testing, tracking areas, drawing order.

#include <gtest/gtest.h>

#include "Platform/AppKit/Layout.h"
#include "Platform/CoreGraphics/Recording.h"
#include "Platform/Harness/Harness.h"

using namespace AppKit;

namespace {

class FlippedView : public NSView {
public:
    using NSView::NSView;
    bool isFlipped() const override { return true; }
};

struct Tracker : NSView {
    using NSView::NSView;
    std::vector<std::string> events;
    void mouseEntered(NSEvent&) override { events.push_back("entered"); }
    void mouseExited(NSEvent&) override { events.push_back("exited"); }
    void mouseMoved(NSEvent&) override { events.push_back("moved"); }
    void mouseDown(NSEvent& e) override { events.push_back("down " + std::to_string(e.clickCount)); }
    void mouseUp(NSEvent& e) override { events.push_back("up " + std::to_string(e.clickCount)); }
    // Rebuilt on every update, as the interface's hover views do.
    std::shared_ptr<NSTrackingArea> area;
    NSTrackingAreaOptions options = NSTrackingMouseEnteredAndExited | NSTrackingActiveAlways;
    int updates = 0;
    void updateTrackingAreas() override {
        ++updates;
        if (area) removeTrackingArea(area);
        area = NSTrackingArea::make(bounds(), options, weak_from_this());
        addTrackingArea(area);
    }
};

TEST(ViewGeometry, ConvertsPointsThroughFlippedAndScrolledAncestors) {
    auto root = std::make_shared<NSView>(CGRectMake(0, 0, 200, 100));
    auto flipped = std::make_shared<FlippedView>(CGRectMake(10, 10, 100, 50));
    auto child = std::make_shared<NSView>(CGRectMake(5, 5, 20, 10));
    auto scrolled = std::make_shared<NSView>(CGRectMake(120, 0, 50, 50));
    auto inner = std::make_shared<NSView>(CGRectMake(30, 0, 10, 10));
    root->addSubview(flipped);
    flipped->addSubview(child);
    root->addSubview(scrolled);
    scrolled->addSubview(inner);
    scrolled->setBoundsOrigin({25, 0});
    struct Case {
        const NSView* view;
        CGPoint local;
        CGPoint inRoot;
    };
    const std::vector<Case> cases = {
        {flipped.get(), {0, 0}, {10, 60}},  // a flipped view's origin is its top-left
        {flipped.get(), {0, 50}, {10, 10}},
        {child.get(), {0, 0}, {15, 45}},  // the child's bottom-left sits 5 below the top + 10 high
        {child.get(), {20, 10}, {35, 55}},
        {inner.get(), {0, 0}, {125, 0}},  // 120 + 30 - 25
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.view->convertPointToView(c.local, root.get()), c.inRoot);
        EXPECT_EQ(c.view->convertPointFromView(c.inRoot, root.get()), c.local);
    }
}

TEST(ViewGeometry, HitTestFindsTheDeepestVisibleViewOnTop) {
    auto root = std::make_shared<NSView>(CGRectMake(0, 0, 100, 100));
    auto back = std::make_shared<NSView>(CGRectMake(0, 0, 60, 60));
    auto front = std::make_shared<NSView>(CGRectMake(40, 40, 60, 60));
    auto inner = std::make_shared<NSView>(CGRectMake(10, 10, 10, 10));
    auto hidden = std::make_shared<NSView>(CGRectMake(0, 0, 100, 100));
    root->addSubview(back);
    root->addSubview(front);
    front->addSubview(inner);
    root->addSubview(hidden);
    hidden->setHidden(true);
    struct Case {
        CGPoint p;
        const NSView* expected;
    };
    const std::vector<Case> cases = {
        {{5, 5}, back.get()},    {{45, 45}, front.get()}, {{55, 55}, inner.get()},
        {{60, 60}, front.get()},  // inner's max edges are outside it
        {{99.9, 0}, root.get()}, {{100, 50}, nullptr},    {{-1, 5}, nullptr},
    };
    for (const auto& c : cases)
        EXPECT_EQ(root->hitTest(c.p), c.expected) << c.p.x << "," << c.p.y << " " << (&c - cases.data());
}

TEST(ViewDrawing, LayerBackedViewDrawsBackgroundThenContentThenSubviewsThenBorder) {
    auto exec = Foundation::TestExecutor::install();
    struct Content : NSView {
        using NSView::NSView;
        void drawRect(CGRect, CoreGraphics::DrawingContext& ctx) override { ctx.fillEllipse(bounds(), {0, 1, 0, 1}); }
    };
    auto view = std::make_shared<Content>(CGRectMake(10, 10, 50, 50));
    view->setWantsLayer(true);
    view->layer()->backgroundColor = {1, 0, 0, 1};
    view->layer()->borderWidth = 1;
    auto sub = std::make_shared<Content>(CGRectMake(0, 0, 5, 5));
    view->addSubview(sub);
    CoreGraphics::RecordingContext rec;
    view->display(rec);
    std::vector<CoreGraphics::DrawingOp> ops;
    for (auto& r : rec.records())
        if (r.op == CoreGraphics::DrawingOp::FillRect || r.op == CoreGraphics::DrawingOp::FillEllipse ||
            r.op == CoreGraphics::DrawingOp::StrokeRect)
            ops.push_back(r.op);
    using Op = CoreGraphics::DrawingOp;
    EXPECT_EQ(ops, (std::vector<Op>{Op::FillRect, Op::FillEllipse, Op::FillEllipse, Op::StrokeRect}));
}

class TrackingFixture : public ::testing::Test {
protected:
    Harness::UIHarness h;
    std::shared_ptr<NSWindow> window = NSWindow::make(CGRectMake(100, 100, 200, 100), NSWindowStyleMaskBorderless);
    std::shared_ptr<Tracker> view = std::make_shared<Tracker>(CGRectMake(50, 20, 40, 40));
    void SetUp() override {
        window->contentView()->addSubview(view);
        window->orderFront();
    }
};

TEST_F(TrackingFixture, EnterAndExitOncePerCrossingAndNoneForReplacedAreas) {
    h.moveMouse({10, 10});
    EXPECT_TRUE(view->events.empty());
    h.moveMouse({160, 140});  // window (60, 40): inside the view
    h.moveMouse({161, 141});  // still inside; the view re-made its area meanwhile
    view->trackingAreasNeedUpdate = true;
    h.moveMouse({162, 141});
    h.moveMouse({300, 300});
    EXPECT_EQ(view->events, (std::vector<std::string>{"entered", "exited"}));
    EXPECT_GE(view->updates, 2);
}

TEST_F(TrackingFixture, AWindowInFrontHidesTheAreaAndMovedEventsNeedTheOption) {
    view->options |= NSTrackingMouseMoved;
    view->trackingAreasNeedUpdate = true;
    h.moveMouse({160, 140});
    h.moveMouse({162, 140});
    auto cover = NSWindow::make(CGRectMake(150, 130, 50, 50), NSWindowStyleMaskBorderless);
    cover->setLevel(NSFloatingWindowLevel);
    cover->orderFront();
    EXPECT_EQ(view->events, (std::vector<std::string>{"entered", "moved", "exited"}));
    cover->orderOut();
    EXPECT_EQ(view->events.back(), "entered");
}

TEST_F(TrackingFixture, HidingTheViewExitsItsArea) {
    h.moveMouse({160, 140});
    view->setHidden(true);
    h.moveMouse({161, 140});
    EXPECT_EQ(view->events, (std::vector<std::string>{"entered", "exited"}));
}

TEST_F(TrackingFixture, ClicksReachTheViewWithTheirCounts) {
    h.doubleClick({160, 140});
    EXPECT_EQ(view->events, (std::vector<std::string>{"entered", "down 1", "up 1", "down 2", "up 2"}));
}

}  // namespace
