#pragma once
// A drawing context that keeps every operation, with its arguments, the
// transform and the alpha in force, for exact assertions in tests.

#include <string>
#include <vector>

#include "Platform/CoreGraphics/Drawing.h"

namespace CoreGraphics {

// x' = a*x + c*y + tx, y' = b*x + d*y + ty
struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;
    bool operator==(const AffineTransform&) const = default;

    CGPoint apply(CGPoint p) const { return {a * p.x + c * p.y + tx, b * p.x + d * p.y + ty}; }
    // The bounding box of the transformed rectangle.
    CGRect apply(CGRect r) const;
    AffineTransform translated(double dx, double dy) const;
    AffineTransform scaled(double sx, double sy) const;
};

enum class DrawingOp {
    Save,
    Restore,
    Translate,
    Scale,
    SetAlpha,
    ClipToRect,
    ClipToRoundedRect,
    ClipToEllipse,
    FillRect,
    StrokeRect,
    FillRoundedRect,
    StrokeRoundedRect,
    FillEllipse,
    StrokeEllipse,
    StrokeLine,
    MoveTo,
    LineTo,
    CurveTo,
    ClosePath,
    FillPath,
    StrokePath,
    FillLinearGradient,
    DrawImage,
    DrawText,
};

const char* drawingOpName(DrawingOp op);

// One recorded call. Only the fields the operation takes are set; the rest
// keep their defaults, so whole records compare exactly.
struct DrawingRecord {
    DrawingOp op = DrawingOp::Save;
    CGRect rect;                    // shapes, clips, gradients, images, text
    std::vector<CGPoint> points;    // translate/scale (one: the two values), lines, paths, gradient ends
    double radius = 0;              // rounded rects
    double lineWidth = 0;           // strokes
    double value = 0;               // setAlpha
    RGBA color;                     // fills, strokes, text
    std::vector<RGBA> colors;       // gradients
    std::vector<double> locations;  // gradients
    std::string text;
    FontSpec font;
    TextAlignment alignment = TextAlignment::Left;
    CGSize imageSize;           // images: pixel size
    bool smooth = true;         // images
    AffineTransform transform;  // in force before the call
    double alpha = 1;           // in force before the call (product of setAlpha)

    bool operator==(const DrawingRecord&) const = default;
    // The rectangle in the recorder's base space (transform applied).
    CGRect baseRect() const { return transform.apply(rect); }
    // One line, for failure messages: "fillRect {0 0 10 20} rgba(1 0 0 1) ctm[1 0 0 1 5 5]".
    std::string describe() const;
};

class RecordingContext final : public DrawingContext {
public:
    const std::vector<DrawingRecord>& records() const { return records_; }
    // The records of one kind, in order.
    std::vector<DrawingRecord> records(DrawingOp op) const;
    // Every drawn text, in order.
    std::vector<std::string> texts() const;
    // describe() of every record, one per element.
    std::vector<std::string> lines() const;
    void clear();
    const AffineTransform& transform() const { return state_.transform; }
    double alpha() const { return state_.alpha; }
    // Unbalanced restores are recorded but leave the state as it is.
    int depth() const { return static_cast<int>(stack_.size()); }

    void save() override;
    void restore() override;
    void translate(double dx, double dy) override;
    void scale(double sx, double sy) override;
    void setAlpha(double alpha) override;
    void clipToRect(CGRect r) override;
    void clipToRoundedRect(CGRect r, double radius) override;
    void clipToEllipse(CGRect r) override;
    void fillRect(CGRect r, RGBA c) override;
    void strokeRect(CGRect r, RGBA c, double lineWidth) override;
    void fillRoundedRect(CGRect r, double radius, RGBA c) override;
    void strokeRoundedRect(CGRect r, double radius, RGBA c, double lineWidth) override;
    void fillEllipse(CGRect r, RGBA c) override;
    void strokeEllipse(CGRect r, RGBA c, double lineWidth) override;
    void strokeLine(CGPoint a, CGPoint b, RGBA c, double lineWidth) override;
    void moveTo(CGPoint p) override;
    void lineTo(CGPoint p) override;
    void curveTo(CGPoint c1, CGPoint c2, CGPoint p) override;
    void closePath() override;
    void fillPath(RGBA c) override;
    void strokePath(RGBA c, double lineWidth) override;
    void fillLinearGradient(CGRect r, CGPoint start, CGPoint end, const std::vector<RGBA>& colors,
                            const std::vector<double>& locations) override;
    void drawImage(const Image& image, CGRect r, bool smooth = true) override;
    void drawText(const std::string& text, CGRect r, const FontSpec& font, RGBA c,
                  TextAlignment alignment = TextAlignment::Left) override;

private:
    struct State {
        AffineTransform transform;
        double alpha = 1;
    };
    DrawingRecord& add(DrawingOp op);

    std::vector<DrawingRecord> records_;
    State state_;
    std::vector<State> stack_;
};

}  // namespace CoreGraphics
