// Layer animations on the manual clock: values at given times, exact end
// values, completions once, replacement by key.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "Platform/CoreGraphics/Recording.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/QuartzCore/CALayer.h"

using namespace QuartzCore;

namespace {

struct StopLog : CAAnimationDelegate {
    std::vector<bool> stops;
    int starts = 0;
    void animationDidStart(CAAnimation&) override { ++starts; }
    void animationDidStop(CAAnimation&, bool finished) override { stops.push_back(finished); }
};

double opacityOf(const CALayer& layer) { return std::get<double>(layer.presentationValueForKeyPath("opacity")); }

class LayerAnimation : public ::testing::Test {
protected:
    std::unique_ptr<Foundation::TestExecutor> exec = Foundation::TestExecutor::install();
    std::shared_ptr<CALayer> layer = CALayer::layer();
    std::shared_ptr<StopLog> log = std::make_shared<StopLog>();

    std::shared_ptr<CABasicAnimation> fade(double from, double to, double duration) {
        auto a = CABasicAnimation::animationWithKeyPath("opacity");
        a->fromValue = from;
        a->toValue = to;
        a->duration = duration;
        a->delegate = log;
        return a;
    }
};

TEST(TimingFunction, EndpointsAreExactAndNamedCurvesBendAsExpected) {
    struct Case {
        std::string name;
        double at;
        double low, high;
    };
    const std::vector<Case> cases = {
        {kCAMediaTimingFunctionLinear, 0.25, 0.25, 0.25},        {kCAMediaTimingFunctionEaseIn, 0.5, 0.30, 0.33},
        {kCAMediaTimingFunctionEaseOut, 0.5, 0.67, 0.70},        {kCAMediaTimingFunctionEaseInEaseOut, 0.5, 0.5, 0.5},
        {kCAMediaTimingFunctionEaseInEaseOut, 0.25, 0.12, 0.14}, {"no such name", 0.7, 0.7, 0.7},
    };
    for (const auto& c : cases) {
        auto f = CAMediaTimingFunction::functionWithName(c.name);
        EXPECT_EQ(f->valueAt(0), 0) << c.name;
        EXPECT_EQ(f->valueAt(1), 1) << c.name;
        EXPECT_EQ(f->valueAt(-3), 0) << c.name;
        EXPECT_EQ(f->valueAt(7), 1) << c.name;
        double v = f->valueAt(c.at);
        EXPECT_GE(v, c.low - 1e-9) << c.name << " at " << c.at;
        EXPECT_LE(v, c.high + 1e-9) << c.name << " at " << c.at;
    }
}

TEST_F(LayerAnimation, InterpolatesOnTheClockAndEndsExactlyAtItsEnd) {
    layer->opacity = 0;  // the model value the caller set
    layer->addAnimation(fade(1, 0, 0.2), "fade");
    EXPECT_EQ(opacityOf(*layer), 1);
    exec->advance(0.05);
    EXPECT_NEAR(opacityOf(*layer), 0.75, 1e-9);
    exec->advance(0.1);
    EXPECT_NEAR(opacityOf(*layer), 0.25, 1e-9);
    EXPECT_TRUE(log->stops.empty());
    exec->advance(0.05);
    EXPECT_EQ(opacityOf(*layer), 0);
    EXPECT_EQ(log->stops, std::vector<bool>{true});
    EXPECT_TRUE(layer->animationKeys().empty());
    exec->advance(1);
    EXPECT_EQ(log->stops.size(), 1u) << "the completion runs once";
}

TEST_F(LayerAnimation, ReplacingAKeyedAnimationStopsTheOldOneOnce) {
    layer->addAnimation(fade(1, 0, 1), "blink");
    exec->advance(0.5);
    layer->addAnimation(fade(1, 0, 1), "blink");
    exec->drain();
    EXPECT_EQ(log->stops, std::vector<bool>{false});
    EXPECT_EQ(layer->animationKeys(), std::vector<std::string>{"blink"});
    EXPECT_EQ(opacityOf(*layer), 1) << "the new one starts over";
    exec->advance(0.6);  // past the old one's end: nothing more for it
    EXPECT_EQ(log->stops, std::vector<bool>{false});
    exec->advance(0.4);
    EXPECT_EQ(log->stops, (std::vector<bool>{false, true}));
    EXPECT_EQ(log->starts, 2);
}

TEST_F(LayerAnimation, RemovedAnimationsReportUnfinishedOnceAndUnkeyedOnesCoexist) {
    layer->addAnimation(fade(1, 0, 1), "");
    layer->addAnimation(fade(1, 0, 1), "");
    layer->addAnimation(fade(0, 1, 1), "k");
    layer->removeAnimation("k");
    layer->removeAnimation("k");
    exec->drain();
    EXPECT_EQ(log->stops, std::vector<bool>{false});
    exec->advance(1);
    EXPECT_EQ(log->stops, (std::vector<bool>{false, true, true}));
}

TEST_F(LayerAnimation, AutoreversingBlinkReturnsAtTwiceItsDuration) {
    // The picker's blink: 0.07 s out and back, reported once at 0.14 s.
    auto blink = fade(1, 0, 0.07);
    blink->autoreverses = true;
    blink->repeatCount = 1;
    layer->addAnimation(blink, "blinkAnimation");
    exec->advance(0.07);
    EXPECT_NEAR(opacityOf(*layer), 0, 1e-9);
    exec->advance(0.035);
    EXPECT_NEAR(opacityOf(*layer), 0.5, 1e-9);
    EXPECT_TRUE(log->stops.empty());
    exec->advance(0.035);
    EXPECT_EQ(log->stops, std::vector<bool>{true});
    EXPECT_EQ(opacityOf(*layer), 1);
}

TEST_F(LayerAnimation, FillForwardsKeepsTheEndValueWhenNotRemoved) {
    layer->backgroundColor = RGBA{1, 0, 0, 1};
    auto a = CABasicAnimation::animationWithKeyPath("backgroundColor");
    a->toValue = RGBA{0, 0, 1, 1};
    a->duration = 0.1;
    a->removedOnCompletion = false;
    a->fillMode = CAFillMode::forwards;
    layer->addAnimation(a, "backgroundColor");
    exec->advance(0.05);
    EXPECT_EQ(std::get<RGBA>(layer->presentationValueForKeyPath("backgroundColor")), (RGBA{0.5, 0, 0.5, 1}));
    exec->advance(1);
    EXPECT_EQ(std::get<RGBA>(layer->presentationValueForKeyPath("backgroundColor")), (RGBA{0, 0, 1, 1}));
    EXPECT_EQ(layer->animationKeys(), std::vector<std::string>{"backgroundColor"});
}

TEST_F(LayerAnimation, AZeroDurationAnimationIsAtItsEndAtOnce) {
    layer->opacity = 0.3;
    layer->addAnimation(fade(1, 0.3, 0), "now");
    EXPECT_EQ(opacityOf(*layer), 0.3);
    exec->drain();
    EXPECT_EQ(log->stops, std::vector<bool>{true});
}

TEST_F(LayerAnimation, GroupRunsItsChildrenAndReportsOnceForAll) {
    auto group = std::make_shared<CAAnimationGroup>();
    auto a = CABasicAnimation::animationWithKeyPath("opacity");
    a->fromValue = 0.0;
    a->toValue = 1.0;
    a->duration = 0.2;
    auto b = CABasicAnimation::animationWithKeyPath("cornerRadius");
    b->fromValue = 0.0;
    b->toValue = 10.0;
    b->duration = 0.2;
    b->beginTime = 0.2;
    group->animations = {a, b};
    group->delegate = log;
    group->timingFunction = nullptr;
    layer->addAnimation(group, "g");
    exec->advance(0.1);
    EXPECT_NEAR(opacityOf(*layer), 0.5, 1e-9);
    EXPECT_EQ(std::get<double>(layer->presentationValueForKeyPath("cornerRadius")), 0)
        << "the second waits for its begin";
    exec->advance(0.2);
    EXPECT_NEAR(std::get<double>(layer->presentationValueForKeyPath("cornerRadius")), 5, 1e-9);
    exec->advance(0.1);
    EXPECT_EQ(log->stops, std::vector<bool>{true});
}

TEST_F(LayerAnimation, PathsInterpolatePointByPoint) {
    auto shape = CAShapeLayer::layer();
    auto a = CABasicAnimation::animationWithKeyPath("path");
    a->fromValue = CGPath::rect(CoreGraphics::CGRectMake(0, 0, 10, 0));
    a->toValue = CGPath::rect(CoreGraphics::CGRectMake(20, 0, 30, 0));
    a->duration = 0.1;
    shape->path = std::get<CGPath>(a->toValue);
    shape->addAnimation(a, "path");
    exec->advance(0.05);
    auto mid = std::get<CGPath>(shape->presentationValueForKeyPath("path"));
    EXPECT_EQ(mid.elements[0].p0.x, 10);
    EXPECT_EQ(mid.elements[1].p0.x, 30);
}

TEST(LayerRendering, DrawsBackgroundSublayersAndBorderInOrder) {
    auto exec = Foundation::TestExecutor::install();
    auto layer = CALayer::layer();
    layer->setFrame(CoreGraphics::CGRectMake(10, 20, 30, 40));
    layer->backgroundColor = RGBA{1, 0, 0, 1};
    layer->cornerRadius = 4;
    layer->borderWidth = 2;
    layer->borderColor = RGBA{0, 0, 0, 1};
    auto text = CATextLayer::layer();
    text->string = "Hi";
    text->setFrame(CoreGraphics::CGRectMake(0, 0, 30, 20));
    layer->addSublayer(text);
    CoreGraphics::RecordingContext rec;
    layer->render(rec);
    std::vector<CoreGraphics::DrawingOp> ops;
    for (auto& r : rec.records())
        if (r.op == CoreGraphics::DrawingOp::FillRoundedRect || r.op == CoreGraphics::DrawingOp::DrawText ||
            r.op == CoreGraphics::DrawingOp::StrokeRoundedRect)
            ops.push_back(r.op);
    EXPECT_EQ(ops, (std::vector<CoreGraphics::DrawingOp>{CoreGraphics::DrawingOp::FillRoundedRect,
                                                         CoreGraphics::DrawingOp::DrawText,
                                                         CoreGraphics::DrawingOp::StrokeRoundedRect}));
}

}  // namespace
