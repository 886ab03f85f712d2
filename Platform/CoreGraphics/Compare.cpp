#include "Platform/CoreGraphics/Compare.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace CoreGraphics {

std::string ImageDifference::describe() const {
    std::ostringstream out;
    if (sizeDiffers) return "the sizes differ";
    if (differingPixels == 0) return "the images match";
    out << differingPixels << " pixel(s) differ beyond the tolerance, the first at (" << firstX << ", " << firstY
        << "); largest channel difference " << maxChannelDifference;
    return out.str();
}

ImageDifference compareImages(const Image& actual, const Image& expected, double tolerance) {
    ImageDifference d;
    if (actual.width() != expected.width() || actual.height() != expected.height()) {
        d.sizeDiffers = true;
        return d;
    }
    const int limit = static_cast<int>(std::clamp(tolerance, 0.0, 1.0) * 255.0 * 255.0);
    const auto& a = actual.bytes();
    const auto& e = expected.bytes();
    int largest = 0;
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            const std::size_t i = (static_cast<std::size_t>(y) * actual.width() + x) * 4;
            int worst = std::abs(a[i + 3] - e[i + 3]) * 255;
            for (int c = 0; c < 3; ++c) {
                worst = std::max(worst, std::abs(a[i + c] * a[i + 3] - e[i + c] * e[i + 3]));
            }
            largest = std::max(largest, worst);
            if (worst > limit) {
                if (d.differingPixels++ == 0) {
                    d.firstX = x;
                    d.firstY = y;
                }
            }
        }
    }
    d.maxChannelDifference = largest / (255.0 * 255.0);
    return d;
}

}  // namespace CoreGraphics
