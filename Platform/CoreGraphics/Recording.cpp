#include "Platform/CoreGraphics/Recording.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace CoreGraphics {

CGRect AffineTransform::apply(CGRect r) const {
    const CGPoint corners[] = {apply(CGPoint{r.minX(), r.minY()}), apply(CGPoint{r.maxX(), r.minY()}),
                               apply(CGPoint{r.minX(), r.maxY()}), apply(CGPoint{r.maxX(), r.maxY()})};
    double x0 = corners[0].x, x1 = x0, y0 = corners[0].y, y1 = y0;
    for (const auto& p : corners) {
        x0 = std::min(x0, p.x);
        x1 = std::max(x1, p.x);
        y0 = std::min(y0, p.y);
        y1 = std::max(y1, p.y);
    }
    return CGRectMake(x0, y0, x1 - x0, y1 - y0);
}

AffineTransform AffineTransform::translated(double dx, double dy) const {
    AffineTransform t = *this;
    t.tx += a * dx + c * dy;
    t.ty += b * dx + d * dy;
    return t;
}

AffineTransform AffineTransform::scaled(double sx, double sy) const {
    AffineTransform t = *this;
    t.a *= sx;
    t.b *= sx;
    t.c *= sy;
    t.d *= sy;
    return t;
}

const char* drawingOpName(DrawingOp op) {
    switch (op) {
        case DrawingOp::Save:
            return "save";
        case DrawingOp::Restore:
            return "restore";
        case DrawingOp::Translate:
            return "translate";
        case DrawingOp::Scale:
            return "scale";
        case DrawingOp::SetAlpha:
            return "setAlpha";
        case DrawingOp::ClipToRect:
            return "clipToRect";
        case DrawingOp::ClipToRoundedRect:
            return "clipToRoundedRect";
        case DrawingOp::ClipToEllipse:
            return "clipToEllipse";
        case DrawingOp::FillRect:
            return "fillRect";
        case DrawingOp::StrokeRect:
            return "strokeRect";
        case DrawingOp::FillRoundedRect:
            return "fillRoundedRect";
        case DrawingOp::StrokeRoundedRect:
            return "strokeRoundedRect";
        case DrawingOp::FillEllipse:
            return "fillEllipse";
        case DrawingOp::StrokeEllipse:
            return "strokeEllipse";
        case DrawingOp::StrokeLine:
            return "strokeLine";
        case DrawingOp::MoveTo:
            return "moveTo";
        case DrawingOp::LineTo:
            return "lineTo";
        case DrawingOp::CurveTo:
            return "curveTo";
        case DrawingOp::ClosePath:
            return "closePath";
        case DrawingOp::FillPath:
            return "fillPath";
        case DrawingOp::StrokePath:
            return "strokePath";
        case DrawingOp::FillLinearGradient:
            return "fillLinearGradient";
        case DrawingOp::DrawImage:
            return "drawImage";
        case DrawingOp::DrawText:
            return "drawText";
    }
    return "?";
}

std::string DrawingRecord::describe() const {
    const DrawingRecord defaults;
    std::ostringstream out;
    auto printColor = [&out](const RGBA& c) {
        out << " rgba(" << c.r << ' ' << c.g << ' ' << c.b << ' ' << c.a << ')';
    };
    out << drawingOpName(op);
    if (rect != defaults.rect) {
        out << " {" << rect.origin.x << ' ' << rect.origin.y << ' ' << rect.size.width << ' ' << rect.size.height
            << '}';
    }
    for (const auto& p : points) out << " (" << p.x << ' ' << p.y << ')';
    if (radius != 0) out << " radius=" << radius;
    if (lineWidth != 0) out << " width=" << lineWidth;
    if (op == DrawingOp::SetAlpha) out << " " << value;
    if (color != defaults.color) printColor(color);
    for (const auto& c : colors) printColor(c);
    if (!locations.empty()) {
        out << " at";
        for (double l : locations) out << ' ' << l;
    }
    if (op == DrawingOp::DrawText) {
        out << " \"" << text << "\" " << font.family << ' ' << font.size << (font.bold ? " bold" : "")
            << (font.monospaced ? " mono" : "")
            << (alignment == TextAlignment::Center  ? " center"
                : alignment == TextAlignment::Right ? " right"
                                                    : "");
    }
    if (op == DrawingOp::DrawImage) {
        out << " image " << imageSize.width << 'x' << imageSize.height << (smooth ? "" : " pixelated");
    }
    if (transform != AffineTransform{}) {
        // + 0.0 prints a negative zero (a flip's product) as 0.
        out << " ctm[" << transform.a + 0.0 << ' ' << transform.b + 0.0 << ' ' << transform.c + 0.0 << ' '
            << transform.d + 0.0 << ' ' << transform.tx + 0.0 << ' ' << transform.ty + 0.0 << ']';
    }
    if (alpha != 1) out << " alpha=" << alpha;
    return out.str();
}

std::vector<DrawingRecord> RecordingContext::records(DrawingOp op) const {
    std::vector<DrawingRecord> out;
    std::copy_if(records_.begin(), records_.end(), std::back_inserter(out),
                 [op](const DrawingRecord& r) { return r.op == op; });
    return out;
}

std::vector<std::string> RecordingContext::texts() const {
    std::vector<std::string> out;
    for (const auto& r : records_) {
        if (r.op == DrawingOp::DrawText) out.push_back(r.text);
    }
    return out;
}

std::vector<std::string> RecordingContext::lines() const {
    std::vector<std::string> out;
    out.reserve(records_.size());
    for (const auto& r : records_) out.push_back(r.describe());
    return out;
}

void RecordingContext::clear() {
    records_.clear();
    state_ = {};
    stack_.clear();
}

DrawingRecord& RecordingContext::add(DrawingOp op) {
    DrawingRecord& r = records_.emplace_back();
    r.op = op;
    r.transform = state_.transform;
    r.alpha = state_.alpha;
    return r;
}

void RecordingContext::save() {
    add(DrawingOp::Save);
    stack_.push_back(state_);
}

void RecordingContext::restore() {
    add(DrawingOp::Restore);
    if (stack_.empty()) return;
    state_ = stack_.back();
    stack_.pop_back();
}

void RecordingContext::translate(double dx, double dy) {
    add(DrawingOp::Translate).points = {{dx, dy}};
    state_.transform = state_.transform.translated(dx, dy);
}

void RecordingContext::scale(double sx, double sy) {
    add(DrawingOp::Scale).points = {{sx, sy}};
    state_.transform = state_.transform.scaled(sx, sy);
}

void RecordingContext::setAlpha(double alpha) {
    add(DrawingOp::SetAlpha).value = alpha;
    state_.alpha *= std::isfinite(alpha) ? std::clamp(alpha, 0.0, 1.0) : 1.0;
}

void RecordingContext::clipToRect(CGRect r) { add(DrawingOp::ClipToRect).rect = r; }

void RecordingContext::clipToRoundedRect(CGRect r, double radius) {
    auto& rec = add(DrawingOp::ClipToRoundedRect);
    rec.rect = r;
    rec.radius = radius;
}

void RecordingContext::clipToEllipse(CGRect r) { add(DrawingOp::ClipToEllipse).rect = r; }

void RecordingContext::fillRect(CGRect r, RGBA c) {
    auto& rec = add(DrawingOp::FillRect);
    rec.rect = r;
    rec.color = c;
}

void RecordingContext::strokeRect(CGRect r, RGBA c, double lineWidth) {
    auto& rec = add(DrawingOp::StrokeRect);
    rec.rect = r;
    rec.color = c;
    rec.lineWidth = lineWidth;
}

void RecordingContext::fillRoundedRect(CGRect r, double radius, RGBA c) {
    auto& rec = add(DrawingOp::FillRoundedRect);
    rec.rect = r;
    rec.radius = radius;
    rec.color = c;
}

void RecordingContext::strokeRoundedRect(CGRect r, double radius, RGBA c, double lineWidth) {
    auto& rec = add(DrawingOp::StrokeRoundedRect);
    rec.rect = r;
    rec.radius = radius;
    rec.color = c;
    rec.lineWidth = lineWidth;
}

void RecordingContext::fillEllipse(CGRect r, RGBA c) {
    auto& rec = add(DrawingOp::FillEllipse);
    rec.rect = r;
    rec.color = c;
}

void RecordingContext::strokeEllipse(CGRect r, RGBA c, double lineWidth) {
    auto& rec = add(DrawingOp::StrokeEllipse);
    rec.rect = r;
    rec.color = c;
    rec.lineWidth = lineWidth;
}

void RecordingContext::strokeLine(CGPoint a, CGPoint b, RGBA c, double lineWidth) {
    auto& rec = add(DrawingOp::StrokeLine);
    rec.points = {a, b};
    rec.color = c;
    rec.lineWidth = lineWidth;
}

void RecordingContext::moveTo(CGPoint p) { add(DrawingOp::MoveTo).points = {p}; }
void RecordingContext::lineTo(CGPoint p) { add(DrawingOp::LineTo).points = {p}; }
void RecordingContext::curveTo(CGPoint c1, CGPoint c2, CGPoint p) { add(DrawingOp::CurveTo).points = {c1, c2, p}; }
void RecordingContext::closePath() { add(DrawingOp::ClosePath); }
void RecordingContext::fillPath(RGBA c) { add(DrawingOp::FillPath).color = c; }

void RecordingContext::strokePath(RGBA c, double lineWidth) {
    auto& rec = add(DrawingOp::StrokePath);
    rec.color = c;
    rec.lineWidth = lineWidth;
}

void RecordingContext::fillLinearGradient(CGRect r, CGPoint start, CGPoint end, const std::vector<RGBA>& colors,
                                          const std::vector<double>& locations) {
    auto& rec = add(DrawingOp::FillLinearGradient);
    rec.rect = r;
    rec.points = {start, end};
    rec.colors = colors;
    rec.locations = locations;
}

void RecordingContext::drawImage(const Image& image, CGRect r, bool smooth) {
    auto& rec = add(DrawingOp::DrawImage);
    rec.rect = r;
    rec.imageSize = {static_cast<double>(image.width()), static_cast<double>(image.height())};
    rec.smooth = smooth;
}

void RecordingContext::drawText(const std::string& text, CGRect r, const FontSpec& font, RGBA c,
                                TextAlignment alignment) {
    auto& rec = add(DrawingOp::DrawText);
    rec.text = text;
    rec.rect = r;
    rec.font = font;
    rec.color = c;
    rec.alignment = alignment;
}

}  // namespace CoreGraphics
