#include "Platform/X11/BackendChoice.h"

#include <cstdlib>

#include "Platform/AppKit/HeadlessBackend.h"
#include "Platform/X11/X11Backend.h"

namespace X11Display {

namespace {
std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}
}  // namespace

BackendChoice makeDisplayBackend() {
    const std::string want = variable("VEXIL_BACKEND");
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
    // A Wayland session without XWayland: say so, the bare X error would puzzle.
    if (variable("DISPLAY").empty() && !variable("WAYLAND_DISPLAY").empty())
        error = "only a Wayland display is set (WAYLAND_DISPLAY=" + variable("WAYLAND_DISPLAY") +
                "); Vexil needs X or XWayland";
    choice.message = "Vexil cannot start: no X display (" + error +
                     "). Start it from a desktop session, or set VEXIL_BACKEND=headless to run without a screen.";
    return choice;
}

}  // namespace X11Display
