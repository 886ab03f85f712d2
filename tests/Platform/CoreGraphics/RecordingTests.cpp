#include <gtest/gtest.h>

#include <functional>

#include "Platform/CoreGraphics/Recording.h"

namespace CoreGraphics {
namespace {

// Each case drives the recorder and names the record it expects last.
struct RecordCase {
    const char* name;
    std::function<void(DrawingContext&)> draw;
    DrawingRecord expected;
};

DrawingRecord record(DrawingOp op, std::function<void(DrawingRecord&)> fill = {}) {
    DrawingRecord r;
    r.op = op;
    if (fill) fill(r);
    return r;
}

const RGBA kRed{1, 0, 0, 1};
const CGRect kRect = CGRectMake(1, 2, 30, 40);

TEST(RecordingContext, KeepsEachCallWithItsArgumentsTransformAndAlpha) {
    const std::vector<RecordCase> cases = {
        {"fill rect", [](DrawingContext& c) { c.fillRect(kRect, kRed); },
         record(DrawingOp::FillRect,
                [](DrawingRecord& r) {
                    r.rect = kRect;
                    r.color = kRed;
                })},
        {"stroke rounded rect", [](DrawingContext& c) { c.strokeRoundedRect(kRect, 4, kRed, 2); },
         record(DrawingOp::StrokeRoundedRect,
                [](DrawingRecord& r) {
                    r.rect = kRect;
                    r.radius = 4;
                    r.color = kRed;
                    r.lineWidth = 2;
                })},
        {"line",
         [](DrawingContext& c) {
             c.strokeLine({0, 0}, {5, 6}, kRed, 1.5);
         },
         record(DrawingOp::StrokeLine,
                [](DrawingRecord& r) {
                    r.points = {{0, 0}, {5, 6}};
                    r.color = kRed;
                    r.lineWidth = 1.5;
                })},
        {"translate then fill",
         [](DrawingContext& c) {
             c.translate(10, 20);
             c.fillEllipse(kRect, kRed);
         },
         record(DrawingOp::FillEllipse,
                [](DrawingRecord& r) {
                    r.rect = kRect;
                    r.color = kRed;
                    r.transform.tx = 10;
                    r.transform.ty = 20;
                })},
        {"scale after translate scales about the translated origin",
         [](DrawingContext& c) {
             c.translate(0, 100);
             c.scale(2, -1);
             c.translate(5, 5);
             c.clipToRect(kRect);
         },
         record(DrawingOp::ClipToRect,
                [](DrawingRecord& r) {
                    r.rect = kRect;
                    r.transform = {2, 0, 0, -1, 10, 95};
                })},
        {"restore brings back the transform and alpha",
         [](DrawingContext& c) {
             c.save();
             c.translate(3, 3);
             c.setAlpha(0.5);
             c.restore();
             c.fillRect(kRect, kRed);
         },
         record(DrawingOp::FillRect,
                [](DrawingRecord& r) {
                    r.rect = kRect;
                    r.color = kRed;
                })},
        {"nested alphas multiply",
         [](DrawingContext& c) {
             c.setAlpha(0.5);
             c.save();
             c.setAlpha(0.5);
             c.drawText("Hi", kRect, FontSpec{"DejaVu Sans", 11, true, false}, kRed, TextAlignment::Center);
         },
         record(DrawingOp::DrawText,
                [](DrawingRecord& r) {
                    r.text = "Hi";
                    r.rect = kRect;
                    r.font = FontSpec{"DejaVu Sans", 11, true, false};
                    r.color = kRed;
                    r.alignment = TextAlignment::Center;
                    r.alpha = 0.25;
                })},
        {"gradient",
         [](DrawingContext& c) {
             c.fillLinearGradient(kRect, {0, 0}, {0, 40}, {kRed, RGBA{0, 0, 1, 1}}, {0, 1});
         },
         record(DrawingOp::FillLinearGradient,
                [](DrawingRecord& r) {
                    r.rect = kRect;
                    r.points = {{0, 0}, {0, 40}};
                    r.colors = {kRed, RGBA{0, 0, 1, 1}};
                    r.locations = {0, 1};
                })},
        {"image keeps its pixel size and filter", [](DrawingContext& c) { c.drawImage(Image(3, 2), kRect, false); },
         record(DrawingOp::DrawImage,
                [](DrawingRecord& r) {
                    r.rect = kRect;
                    r.imageSize = {3, 2};
                    r.smooth = false;
                })},
        {"curve",
         [](DrawingContext& c) {
             c.curveTo({1, 1}, {2, 2}, {3, 3});
         },
         record(DrawingOp::CurveTo,
                [](DrawingRecord& r) {
                    r.points = {{1, 1}, {2, 2}, {3, 3}};
                })},
        {"an unbalanced restore is kept and changes nothing",
         [](DrawingContext& c) {
             c.translate(1, 1);
             c.restore();
         },
         record(DrawingOp::Restore, [](DrawingRecord& r) { r.transform.tx = r.transform.ty = 1; })},
    };
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        RecordingContext recorder;
        tc.draw(recorder);
        ASSERT_FALSE(recorder.records().empty());
        EXPECT_EQ(recorder.records().back(), tc.expected)
            << recorder.records().back().describe() << "\n  vs " << tc.expected.describe();
    }
}

TEST(RecordingContext, BaseRectMapsThroughTheTransformAndQueriesFilter) {
    RecordingContext recorder;
    recorder.translate(0, 100);
    recorder.scale(1, -1);  // a flipped view inside a 100-point-high window
    recorder.fillRect(CGRectMake(10, 10, 20, 30), kRed);
    recorder.drawText("one", kRect, {}, kRed);
    recorder.drawText("two", kRect, {}, kRed);
    EXPECT_EQ(recorder.records(DrawingOp::FillRect).at(0).baseRect(), CGRectMake(10, 60, 20, 30));
    EXPECT_EQ(recorder.texts(), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(recorder.lines().at(2), "fillRect {10 10 20 30} rgba(1 0 0 1) ctm[1 0 0 -1 0 100]");
    recorder.clear();
    EXPECT_TRUE(recorder.records().empty());
    EXPECT_EQ(recorder.transform(), AffineTransform{});
}

}  // namespace
}  // namespace CoreGraphics
