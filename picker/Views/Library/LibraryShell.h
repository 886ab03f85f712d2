#pragma once
// What the library window and its cells ask of the shell, set by the shell
// when it links the window in (the views cannot see the application
// delegate). Every hook may be empty: then the request does nothing.
#include "Platform/AppKit/NSColor.h"
#include "Platform/AppKit/AppKitTypes.h"

#include <functional>
#include <optional>
#include <string>

namespace Vexil::Views {

struct LibraryShell {
    // Slides the library window in or out.
    std::function<void()> toggleLibrary;
    // Records a colour picked from the library's pick button like any pick.
    std::function<void(const AppKit::NSColorRef&)> didPickColor;
    // Starts the screen picker; its pick goes to `didPickColor`.
    std::function<void()> startPicker;
    // Called right after a cell copied a colour: the clipboard watcher skips that change.
    std::function<void()> ignoreOwnCopy;
    // Where the floating notice goes (the status item's window origin); none without one.
    std::function<std::optional<AppKit::CGPoint>()> statusItemOrigin;
    std::function<void(const std::string& text, const AppKit::NSColorRef& color, bool hideColor, double x, double y)>
        showFloatingColor;

    static LibraryShell& shared();
};

}  // namespace Vexil::Views
