#pragma once
// The desktop portal's Screenshot call over the session bus: the screen
// source where the root window cannot be read (XWayland).

#include <memory>
#include <string>

#include "Platform/CoreGraphics/Drawing.h"

namespace X11Display {

// The whole screen, non-interactively; nullptr with `error` set when there is
// no portal, it refuses, or it does not answer within `timeoutSeconds`. The
// file the portal wrote for us is removed once read.
std::shared_ptr<CoreGraphics::Image> portalScreenshot(std::string* error = nullptr, double timeoutSeconds = 10);

}  // namespace X11Display
