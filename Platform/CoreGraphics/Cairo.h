#pragma once
// The drawing interface on cairo. `CairoContext` draws on any cairo_t (an
// image surface here, an X window's surface in the display backend);
// `ImageContext` owns an image surface and hands its pixels back as an Image.

#include <cairo.h>

#include <vector>

#include "Platform/CoreGraphics/Drawing.h"

namespace CoreGraphics {

class CairoContext : public DrawingContext {
public:
    // Draws on `cr` (referenced, not owned beyond this object's life). The
    // device's top-left origin is mapped once: user space starts with its
    // origin at the bottom-left of a device `height` pixels high, y upwards,
    // one point per `pixelsPerPoint` pixels.
    CairoContext(cairo_t* cr, double height, double pixelsPerPoint = 1);
    ~CairoContext() override;
    CairoContext(const CairoContext&) = delete;
    CairoContext& operator=(const CairoContext&) = delete;

    cairo_t* cairo() const { return cr_; }

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
    void setSource(RGBA c);
    // True when user space has y upwards on the device (the usual, unflipped case).
    bool yUp() const;
    void shapePath(CGRect r, double radius);
    void ellipsePath(CGRect r);

    cairo_t* cr_;
    double alpha_ = 1;
    std::vector<double> alphaStack_;
    int depth_ = 0;
};

// A transparent image surface of `width` x `height` points with a CairoContext on it.
class ImageContext final : public CairoContext {
public:
    ImageContext(int width, int height, double pixelsPerPoint = 1);
    ~ImageContext() override;
    // The pixels drawn so far.
    Image image() const;

private:
    ImageContext(cairo_surface_t* surface, int height, double pixelsPerPoint);
    cairo_surface_t* surface_;
};

}  // namespace CoreGraphics
