#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Platform/CoreGraphics/CairoSurface.h"
#include "Platform/CoreGraphics/Drawing.h"

namespace CoreGraphics {
namespace {

std::uint8_t toByte(double v) { return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); }

// Cairo's ARGB32 is a native-endian 32-bit word: alpha in the top byte.
std::uint32_t loadWord(const unsigned char* p) {
    std::uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}

void storeWord(unsigned char* p, std::uint32_t w) { std::memcpy(p, &w, 4); }

}  // namespace

Image::Image(int width, int height)
    : width_(std::max(0, width)),
      height_(std::max(0, height)),
      bytes_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4, 0) {}

RGBA Image::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return {0, 0, 0, 0};
    const std::uint8_t* p = &bytes_[(static_cast<std::size_t>(y) * width_ + x) * 4];
    return {p[0] / 255.0, p[1] / 255.0, p[2] / 255.0, p[3] / 255.0};
}

void Image::setPixel(int x, int y, RGBA c) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    std::uint8_t* p = &bytes_[(static_cast<std::size_t>(y) * width_ + x) * 4];
    p[0] = toByte(c.r);
    p[1] = toByte(c.g);
    p[2] = toByte(c.b);
    p[3] = toByte(c.a);
}

CairoSurfacePtr surfaceFromImage(const Image& image) {
    CairoSurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, image.width(), image.height()));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return surface;
    cairo_surface_flush(surface.get());
    unsigned char* data = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());
    const auto& bytes = image.bytes();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const std::uint8_t* p = &bytes[(static_cast<std::size_t>(y) * image.width() + x) * 4];
            const unsigned a = p[3];
            auto pre = [a](unsigned c) { return (c * a + 127) / 255; };
            storeWord(data + y * stride + x * 4, (a << 24) | (pre(p[0]) << 16) | (pre(p[1]) << 8) | pre(p[2]));
        }
    }
    cairo_surface_mark_dirty(surface.get());
    return surface;
}

Image imageFromSurface(cairo_surface_t* surface) {
    if (!surface || cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS ||
        cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE) {
        return {};
    }
    const cairo_format_t format = cairo_image_surface_get_format(surface);
    if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) {
        // Other formats are painted onto an ARGB32 surface first.
        const int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
        CairoSurfacePtr argb(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h));
        CairoPtr cr(cairo_create(argb.get()));
        cairo_set_source_surface(cr.get(), surface, 0, 0);
        cairo_paint(cr.get());
        cr.reset();
        return imageFromSurface(argb.get());
    }
    cairo_surface_flush(surface);
    const int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    Image image(w, h);
    auto& bytes = image.bytes();
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::uint32_t word = loadWord(data + y * stride + x * 4);
            const unsigned a = format == CAIRO_FORMAT_RGB24 ? 255 : word >> 24;
            std::uint8_t* p = &bytes[(static_cast<std::size_t>(y) * w + x) * 4];
            auto unpre = [a](unsigned c) {
                return static_cast<std::uint8_t>(a == 0 ? 0 : std::min(255u, (c * 255 + a / 2) / a));
            };
            p[0] = unpre((word >> 16) & 0xff);
            p[1] = unpre((word >> 8) & 0xff);
            p[2] = unpre(word & 0xff);
            p[3] = static_cast<std::uint8_t>(a);
        }
    }
    return image;
}

std::shared_ptr<Image> Image::readPNG(const std::string& path) {
    CairoSurfacePtr surface(cairo_image_surface_create_from_png(path.c_str()));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
    auto image = std::make_shared<Image>(imageFromSurface(surface.get()));
    if (image->empty()) return nullptr;
    return image;
}

bool Image::writePNG(const std::string& path) const {
    if (empty()) return false;
    CairoSurfacePtr surface = surfaceFromImage(*this);
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return false;
    return cairo_surface_write_to_png(surface.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
}

}  // namespace CoreGraphics
