#pragma once
// Conversions between Image (straight RGBA bytes) and cairo image surfaces
// (premultiplied, native-endian ARGB32). Used by the cairo context and PNG I/O.

#include <cairo.h>

#include <memory>

#include "Platform/CoreGraphics/Drawing.h"

namespace CoreGraphics {

struct CairoSurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using CairoSurfacePtr = std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter>;

struct CairoDeleter {
    void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
using CairoPtr = std::unique_ptr<cairo_t, CairoDeleter>;

// A new ARGB32 surface holding the image's pixels.
CairoSurfacePtr surfaceFromImage(const Image& image);
// The pixels of an image surface of any format (flushed first).
Image imageFromSurface(cairo_surface_t* surface);

}  // namespace CoreGraphics
