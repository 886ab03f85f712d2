#pragma once
// Start-up's choice of display: X11 when a display can be opened; the
// invisible headless one only when VEXIL_BACKEND=headless asks for it.
// Without a display (and without that request) there is no backend and the
// message says why.

#include <memory>
#include <string>

#include "Platform/AppKit/DisplayBackend.h"

namespace X11Display {

struct BackendChoice {
    std::shared_ptr<AppKit::DisplayBackend> backend;  // none: no display could be opened
    bool isX11 = false;
    std::string message;  // a line for the user when the choice is not the expected one; empty otherwise
};

BackendChoice makeDisplayBackend();

}  // namespace X11Display
