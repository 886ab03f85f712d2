#include "Platform/CoreGraphics/Cairo.h"

#include <algorithm>
#include <cmath>

#include "Platform/CoreGraphics/CairoSurface.h"
#include "Platform/CoreGraphics/TextLayout.h"

namespace CoreGraphics {

CairoContext::CairoContext(cairo_t* cr, double height, double pixelsPerPoint) : cr_(cairo_reference(cr)) {
    const double s = pixelsPerPoint > 0 ? pixelsPerPoint : 1;
    cairo_save(cr_);
    cairo_translate(cr_, 0, height * s);
    cairo_scale(cr_, s, -s);
}

CairoContext::~CairoContext() {
    // Unbalanced saves of the caller are closed, then the mapping itself.
    for (; depth_ > 0; --depth_) cairo_restore(cr_);
    cairo_restore(cr_);
    cairo_destroy(cr_);
}

void CairoContext::save() {
    cairo_save(cr_);
    alphaStack_.push_back(alpha_);
    ++depth_;
}

void CairoContext::restore() {
    // An unbalanced restore would pop the device mapping: ignored.
    if (depth_ == 0) return;
    cairo_restore(cr_);
    alpha_ = alphaStack_.back();
    alphaStack_.pop_back();
    --depth_;
}

void CairoContext::translate(double dx, double dy) { cairo_translate(cr_, dx, dy); }

void CairoContext::scale(double sx, double sy) {
    // A zero scale makes the matrix singular, which puts cairo in an error state for good.
    if (sx == 0 || sy == 0 || !std::isfinite(sx) || !std::isfinite(sy)) {
        cairo_rectangle(cr_, 0, 0, 0, 0);
        cairo_clip(cr_);
        return;
    }
    cairo_scale(cr_, sx, sy);
}

void CairoContext::setAlpha(double alpha) { alpha_ *= std::isfinite(alpha) ? std::clamp(alpha, 0.0, 1.0) : 1.0; }

void CairoContext::setSource(RGBA c) { cairo_set_source_rgba(cr_, c.r, c.g, c.b, c.a * alpha_); }

bool CairoContext::yUp() const {
    cairo_matrix_t m;
    cairo_get_matrix(cr_, &m);
    return m.xx * m.yy - m.xy * m.yx < 0;
}

void CairoContext::shapePath(CGRect r, double radius) {
    cairo_new_path(cr_);
    // A negative size extends from the origin the other way.
    if (r.size.width < 0) r = CGRectMake(r.origin.x + r.size.width, r.origin.y, -r.size.width, r.size.height);
    if (r.size.height < 0) r = CGRectMake(r.origin.x, r.origin.y + r.size.height, r.size.width, -r.size.height);
    radius = std::clamp(radius, 0.0, std::min(std::abs(r.width()), std::abs(r.height())) / 2);
    if (radius <= 0) {
        cairo_rectangle(cr_, r.minX(), r.minY(), r.width(), r.height());
        return;
    }
    const double x0 = r.minX(), y0 = r.minY(), x1 = r.maxX(), y1 = r.maxY();
    cairo_new_sub_path(cr_);
    cairo_arc(cr_, x1 - radius, y0 + radius, radius, -M_PI / 2, 0);
    cairo_arc(cr_, x1 - radius, y1 - radius, radius, 0, M_PI / 2);
    cairo_arc(cr_, x0 + radius, y1 - radius, radius, M_PI / 2, M_PI);
    cairo_arc(cr_, x0 + radius, y0 + radius, radius, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr_);
}

void CairoContext::ellipsePath(CGRect r) {
    cairo_new_path(cr_);
    if (r.isEmpty()) return;
    cairo_save(cr_);
    cairo_translate(cr_, r.midX(), r.midY());
    cairo_scale(cr_, r.width() / 2, r.height() / 2);
    cairo_arc(cr_, 0, 0, 1, 0, 2 * M_PI);
    cairo_close_path(cr_);
    cairo_restore(cr_);
}

void CairoContext::clipToRect(CGRect r) {
    shapePath(r, 0);
    cairo_clip(cr_);
}

void CairoContext::clipToRoundedRect(CGRect r, double radius) {
    shapePath(r, radius);
    cairo_clip(cr_);
}

void CairoContext::clipToEllipse(CGRect r) {
    ellipsePath(r);
    cairo_clip(cr_);
}

void CairoContext::fillRect(CGRect r, RGBA c) { fillRoundedRect(r, 0, c); }

void CairoContext::strokeRect(CGRect r, RGBA c, double lineWidth) { strokeRoundedRect(r, 0, c, lineWidth); }

void CairoContext::fillRoundedRect(CGRect r, double radius, RGBA c) {
    shapePath(r, radius);
    setSource(c);
    cairo_fill(cr_);
}

void CairoContext::strokeRoundedRect(CGRect r, double radius, RGBA c, double lineWidth) {
    shapePath(r, radius);
    setSource(c);
    cairo_set_line_width(cr_, lineWidth);
    cairo_stroke(cr_);
}

void CairoContext::fillEllipse(CGRect r, RGBA c) {
    ellipsePath(r);
    setSource(c);
    cairo_fill(cr_);
}

void CairoContext::strokeEllipse(CGRect r, RGBA c, double lineWidth) {
    ellipsePath(r);
    setSource(c);
    cairo_set_line_width(cr_, lineWidth);
    cairo_stroke(cr_);
}

void CairoContext::strokeLine(CGPoint a, CGPoint b, RGBA c, double lineWidth) {
    cairo_new_path(cr_);
    cairo_move_to(cr_, a.x, a.y);
    cairo_line_to(cr_, b.x, b.y);
    setSource(c);
    cairo_set_line_width(cr_, lineWidth);
    cairo_stroke(cr_);
}

void CairoContext::moveTo(CGPoint p) { cairo_move_to(cr_, p.x, p.y); }
void CairoContext::lineTo(CGPoint p) { cairo_line_to(cr_, p.x, p.y); }
void CairoContext::curveTo(CGPoint c1, CGPoint c2, CGPoint p) { cairo_curve_to(cr_, c1.x, c1.y, c2.x, c2.y, p.x, p.y); }
void CairoContext::closePath() { cairo_close_path(cr_); }

void CairoContext::fillPath(RGBA c) {
    setSource(c);
    cairo_fill(cr_);
}

void CairoContext::strokePath(RGBA c, double lineWidth) {
    setSource(c);
    cairo_set_line_width(cr_, lineWidth);
    cairo_stroke(cr_);
}

void CairoContext::fillLinearGradient(CGRect r, CGPoint start, CGPoint end, const std::vector<RGBA>& colors,
                                      const std::vector<double>& locations) {
    if (colors.empty()) return;
    cairo_pattern_t* pattern = cairo_pattern_create_linear(start.x, start.y, end.x, end.y);
    for (std::size_t i = 0; i < colors.size(); ++i) {
        // Missing locations spread evenly.
        const double at = i < locations.size() ? locations[i]
                          : colors.size() == 1 ? 0.0
                                               : static_cast<double>(i) / static_cast<double>(colors.size() - 1);
        const RGBA& c = colors[i];
        cairo_pattern_add_color_stop_rgba(pattern, std::clamp(at, 0.0, 1.0), c.r, c.g, c.b, c.a * alpha_);
    }
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    shapePath(r, 0);
    cairo_set_source(cr_, pattern);
    cairo_fill(cr_);
    cairo_pattern_destroy(pattern);
}

void CairoContext::drawImage(const Image& image, CGRect r, bool smooth) {
    if (image.empty() || r.isEmpty()) return;
    CairoSurfacePtr surface = surfaceFromImage(image);
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return;
    cairo_save(cr_);
    cairo_new_path(cr_);
    cairo_rectangle(cr_, r.minX(), r.minY(), r.width(), r.height());
    cairo_clip(cr_);
    // Image rows run top to bottom: the first row goes at the top of r.
    if (yUp()) {
        cairo_translate(cr_, r.minX(), r.maxY());
        cairo_scale(cr_, r.width() / image.width(), -r.height() / image.height());
    } else {
        cairo_translate(cr_, r.minX(), r.minY());
        cairo_scale(cr_, r.width() / image.width(), r.height() / image.height());
    }
    cairo_set_source_surface(cr_, surface.get(), 0, 0);
    cairo_pattern_t* pattern = cairo_get_source(cr_);
    cairo_pattern_set_filter(pattern, smooth ? CAIRO_FILTER_GOOD : CAIRO_FILTER_NEAREST);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_paint_with_alpha(cr_, alpha_);
    cairo_restore(cr_);
}

void CairoContext::drawText(const std::string& text, CGRect r, const FontSpec& font, RGBA c, TextAlignment alignment) {
    if (text.empty()) return;
    cairo_save(cr_);
    cairo_new_path(cr_);
    // Pango lays out downwards: draw in a y-down space whose origin is the top-left of r.
    if (yUp()) {
        cairo_translate(cr_, r.minX(), r.maxY());
        cairo_scale(cr_, 1, -1);
    } else {
        cairo_translate(cr_, r.minX(), r.minY());
    }
    PangoLayoutPtr layout = makeTextLayout(text, font, cr_);
    const TextMetrics metrics = layoutMetrics(layout.get());
    double x = 0;
    if (alignment == TextAlignment::Center) x = (r.width() - metrics.size.width) / 2;
    if (alignment == TextAlignment::Right) x = r.width() - metrics.size.width;
    const PangoAlignment pangoAlignment = alignment == TextAlignment::Center  ? PANGO_ALIGN_CENTER
                                          : alignment == TextAlignment::Right ? PANGO_ALIGN_RIGHT
                                                                              : PANGO_ALIGN_LEFT;
    pango_layout_set_alignment(layout.get(), pangoAlignment);  // lines of a multi-line text among themselves
    cairo_move_to(cr_, x, 0);
    setSource(c);
    pango_cairo_show_layout(cr_, layout.get());
    cairo_restore(cr_);
}

ImageContext::ImageContext(int width, int height, double pixelsPerPoint)
    : ImageContext(cairo_image_surface_create(CAIRO_FORMAT_ARGB32,
                                              static_cast<int>(std::ceil(std::max(0, width) * pixelsPerPoint)),
                                              static_cast<int>(std::ceil(std::max(0, height) * pixelsPerPoint))),
                   std::max(0, height), pixelsPerPoint) {}

ImageContext::ImageContext(cairo_surface_t* surface, int height, double pixelsPerPoint)
    : CairoContext(cairo_create(surface), height, pixelsPerPoint), surface_(surface) {
    cairo_destroy(cairo());  // the base holds its own reference
}

ImageContext::~ImageContext() { cairo_surface_destroy(surface_); }

Image ImageContext::image() const { return imageFromSurface(surface_); }

}  // namespace CoreGraphics
