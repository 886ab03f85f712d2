#include "Platform/X11/BackendChoice.h"

#include <cstdlib>

#include "Platform/AppKit/HeadlessBackend.h"
#include "Platform/X11/X11Backend.h"

namespace X11Display {

BackendChoice makeDisplayBackend() {
    const char* forced = std::getenv("VEXIL_BACKEND");
    const std::string want = forced ? forced : "";
    BackendChoice choice;
    if (want == "headless") {
        choice.backend = std::make_shared<AppKit::HeadlessBackend>();
        return choice;
    }
    std::string error;
    if (auto x11 = X11Backend::open("", &error)) {
        choice.backend = std::move(x11);
        choice.isX11 = true;
        if (!want.empty() && want != "x11")
            choice.message = "Unknown VEXIL_BACKEND '" + want + "' (headless or x11); using the X display.";
        return choice;
    }
    choice.backend = std::make_shared<AppKit::HeadlessBackend>();
    choice.message = "No X display (" + error + "); running without a screen.";
    return choice;
}

}  // namespace X11Display
