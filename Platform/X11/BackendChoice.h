#pragma once
// Start-up's choice of display: X11 when a display can be opened, else the
// headless one. VEXIL_BACKEND=headless|x11 forces one (x11 without a display
// still falls back, with the reason).

#include <memory>
#include <string>

#include "Platform/AppKit/DisplayBackend.h"

namespace X11Display {

struct BackendChoice {
    std::shared_ptr<AppKit::DisplayBackend> backend;
    bool isX11 = false;
    std::string message;  // a line for the user when the choice is not the expected one; empty otherwise
};

BackendChoice makeDisplayBackend();

}  // namespace X11Display
