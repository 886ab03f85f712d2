#pragma once
// The whole screen as a picture: the desktop picture, the menu-bar strip, then
// every on-screen window back to front (by level, then order; status item
// windows and open menus are windows too), each at its frame with its alpha
// and shadow. The tour and tests write it as PNG; the headless display reads
// the screen's pixels from it.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "Platform/AppKit/AppKitTypes.h"

namespace AppKit {

struct ScreenRenderOptions {
    std::size_t screen = 0;        // index into NSScreen::screens(); 0 is the one with the menu bar
    std::optional<CGRect> region;  // model coordinates (y up); default: that screen's frame
    // Leaves out the window with this number and every window above it (0: none left out).
    long belowWindowNumber = 0;
    // Drawn into each screen's frame (pixel for pixel when the sizes agree); none: a plain colour.
    std::shared_ptr<const CoreGraphics::Image> desktopPicture;
};

// One pixel per point; rows top to bottom. An empty image when there is no
// such screen or the region is empty.
CoreGraphics::Image renderScreen(const ScreenRenderOptions& options = {});
// False when nothing could be rendered or the file cannot be written.
bool writeScreenPNG(const std::string& path, const ScreenRenderOptions& options = {});

// The colour behind everything when there is no desktop picture.
inline constexpr RGBA kDesktopColor{0.23, 0.32, 0.45, 1};

}  // namespace AppKit
