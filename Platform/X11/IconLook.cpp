#include "Platform/X11/IconLook.h"

#include <algorithm>

namespace X11Display {

CoreGraphics::Image withLightOutline(const CoreGraphics::Image& image) {
    const int w = image.width() + 2, h = image.height() + 2;
    CoreGraphics::Image out(w, h);
    constexpr double kHalo = 0.94;  // a light grey: white would glare on a light panel
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double halo = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) halo = std::max(halo, image.pixel(x - 1 + dx, y - 1 + dy).a);
            const CoreGraphics::RGBA src = image.pixel(x - 1, y - 1);
            // The image over its halo.
            const double a = src.a + halo * (1 - src.a);
            if (a <= 0) continue;
            auto mix = [&](double c) { return (c * src.a + kHalo * halo * (1 - src.a)) / a; };
            out.setPixel(x, y, {mix(src.r), mix(src.g), mix(src.b), a});
        }
    return out;
}

}  // namespace X11Display
