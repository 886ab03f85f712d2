#pragma once
// Text layout shared by measureText and the cairo context, so a measured size
// is the drawn size: the same font map, the same pinned font options
// (grey antialias, no hinting, hint metrics off) and 72 points per inch.

#include <pango/pangocairo.h>

#include <memory>
#include <string>

#include "Platform/CoreGraphics/Drawing.h"

namespace CoreGraphics {

struct GObjectDeleter {
    void operator()(void* object) const { g_object_unref(object); }
};
using PangoLayoutPtr = std::unique_ptr<PangoLayout, GObjectDeleter>;

// A layout of `text` in `font`. With `cr`, the layout follows the context's
// current transform (drawing); without, an identity transform (measuring).
PangoLayoutPtr makeTextLayout(const std::string& text, const FontSpec& font, cairo_t* cr = nullptr);

// The logical extent and first-line ascent/descent of a layout, in points.
TextMetrics layoutMetrics(PangoLayout* layout);

}  // namespace CoreGraphics
