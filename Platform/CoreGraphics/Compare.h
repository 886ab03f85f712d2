#pragma once
// Pixel comparison with a per-channel tolerance: what snapshot tests and the
// tour's checks use, so small rendering changes (hinting, antialiasing)
// pass while a changed text size or colour does not.

#include <string>

#include "Platform/CoreGraphics/Drawing.h"

namespace CoreGraphics {

struct ImageDifference {
    bool sizeDiffers = false;
    long differingPixels = 0;         // pixels with a channel beyond the tolerance
    double maxChannelDifference = 0;  // 0..1, over all pixels
    int firstX = -1, firstY = -1;     // the first differing pixel, rows top to bottom
    bool matches() const { return !sizeDiffers && differingPixels == 0; }
    std::string describe() const;
};

// Channels are compared premultiplied (a transparent pixel's colour does not
// count); `tolerance` is a fraction of the full channel range.
ImageDifference compareImages(const Image& actual, const Image& expected, double tolerance = 0.25);

}  // namespace CoreGraphics
