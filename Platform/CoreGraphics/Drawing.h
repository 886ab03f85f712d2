#pragma once
// The one drawing interface views and layers draw through. Implementations:
// a recorder (tests assert on the operations), cairo on image surfaces (PNG,
// the headless screen) and cairo on X windows (the display backend).
//
// Coordinates are the caller's current user space, y growing upwards unless
// the caller flipped it with scale(1, -1); the implementation maps its device
// (top-left origin) once at creation.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Platform/CoreGraphics/Geometry.h"

namespace CoreGraphics {

struct RGBA {
    double r = 0, g = 0, b = 0, a = 1;
    bool operator==(const RGBA&) const = default;
};

// A font as the interface asks for it; text is laid out by pango with
// fontconfig. The default family is "DejaVu Sans".
struct FontSpec {
    std::string family = "DejaVu Sans";
    double size = 13;
    bool bold = false;
    bool monospaced = false;
    bool operator==(const FontSpec&) const = default;
};

struct TextMetrics {
    CGSize size;        // ink-independent logical extent of the laid-out text
    double ascent = 0;  // of the first line
    double descent = 0;
};

// Measures text as the cairo renderer will draw it (same fonts, same options).
TextMetrics measureText(const std::string& text, const FontSpec& font);

// Straight (not premultiplied) 8-bit RGBA pixels, rows top to bottom.
class Image {
public:
    Image() = default;
    Image(int width, int height);  // transparent black
    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return width_ == 0 || height_ == 0; }
    RGBA pixel(int x, int y) const;  // outside: transparent
    void setPixel(int x, int y, RGBA c);
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }  // RGBA, width*4 per row
    std::vector<std::uint8_t>& bytes() { return bytes_; }

    // PNG through cairo; nullptr / false on failure.
    static std::shared_ptr<Image> readPNG(const std::string& path);
    bool writePNG(const std::string& path) const;

private:
    int width_ = 0, height_ = 0;
    std::vector<std::uint8_t> bytes_;
};

enum class TextAlignment { Left, Center, Right };

class DrawingContext {
public:
    virtual ~DrawingContext() = default;

    virtual void save() = 0;
    virtual void restore() = 0;
    virtual void translate(double dx, double dy) = 0;
    virtual void scale(double sx, double sy) = 0;
    virtual void setAlpha(double alpha) = 0;  // multiplies everything drawn until restore

    virtual void clipToRect(CGRect r) = 0;
    virtual void clipToRoundedRect(CGRect r, double radius) = 0;
    virtual void clipToEllipse(CGRect r) = 0;

    virtual void fillRect(CGRect r, RGBA c) = 0;
    virtual void strokeRect(CGRect r, RGBA c, double lineWidth) = 0;
    virtual void fillRoundedRect(CGRect r, double radius, RGBA c) = 0;
    virtual void strokeRoundedRect(CGRect r, double radius, RGBA c, double lineWidth) = 0;
    virtual void fillEllipse(CGRect r, RGBA c) = 0;
    virtual void strokeEllipse(CGRect r, RGBA c, double lineWidth) = 0;
    virtual void strokeLine(CGPoint a, CGPoint b, RGBA c, double lineWidth) = 0;

    // Paths: built with moveTo/lineTo/curveTo/close, consumed by fill/stroke.
    virtual void moveTo(CGPoint p) = 0;
    virtual void lineTo(CGPoint p) = 0;
    virtual void curveTo(CGPoint c1, CGPoint c2, CGPoint p) = 0;
    virtual void closePath() = 0;
    virtual void fillPath(RGBA c) = 0;
    virtual void strokePath(RGBA c, double lineWidth) = 0;

    // Linear gradient across r from `start` to `end` (stop locations 0..1,
    // as many as colours).
    virtual void fillLinearGradient(CGRect r, CGPoint start, CGPoint end, const std::vector<RGBA>& colors,
                                    const std::vector<double>& locations) = 0;

    // The image scaled into r; `smooth` false keeps pixels square (the magnifier).
    virtual void drawImage(const Image& image, CGRect r, bool smooth = true) = 0;

    // Text with its first baseline such that the laid-out block's top-left
    // (in unflipped space: its top edge) sits at the top of r, aligned in r.
    virtual void drawText(const std::string& text, CGRect r, const FontSpec& font, RGBA c,
                          TextAlignment alignment = TextAlignment::Left) = 0;
};

}  // namespace CoreGraphics
