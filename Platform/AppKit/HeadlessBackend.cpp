#include "Platform/AppKit/HeadlessBackend.h"

#include <cmath>

namespace AppKit {

bool HeadlessBackend::registerHotKey(std::uint16_t keyCode, NSEventModifierFlags modifiers) {
    if (held_.count({keyCode, modifiers})) return false;
    grabbed_.insert({keyCode, modifiers});
    return true;
}

void HeadlessBackend::unregisterHotKey(std::uint16_t keyCode, NSEventModifierFlags modifiers) {
    grabbed_.erase({keyCode, modifiers});
}

std::shared_ptr<CoreGraphics::Image> HeadlessBackend::captureScreen(CGRect rect, long excludeWindowsFrom) {
    if (renderer_) return renderer_(rect, excludeWindowsFrom);
    const int w = static_cast<int>(std::lround(rect.width())), h = static_cast<int>(std::lround(rect.height()));
    if (w <= 0 || h <= 0) return nullptr;
    auto out = std::make_shared<CoreGraphics::Image>(w, h);
    const int x0 = static_cast<int>(std::floor(rect.minX())), y0 = static_cast<int>(std::floor(rect.minY()));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Outside the picture: black, as an empty desktop.
            CoreGraphics::RGBA p{0, 0, 0, 1};
            if (desktop_ && x0 + x >= 0 && y0 + y >= 0 && x0 + x < desktop_->width() && y0 + y < desktop_->height())
                p = desktop_->pixel(x0 + x, y0 + y);
            out->setPixel(x, y, p);
        }
    return out;
}

}  // namespace AppKit
