#pragma once
// The status icon as panels show it: a dark image vanishes on a dark panel,
// so it gets a light outline that reads on dark and light panels alike.

#include "Platform/CoreGraphics/Drawing.h"

namespace X11Display {

// The image one pixel larger on every side, over a light halo of its shape.
CoreGraphics::Image withLightOutline(const CoreGraphics::Image& image);

}  // namespace X11Display
