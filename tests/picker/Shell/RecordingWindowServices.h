#pragma once
// Window services for tests: a plain panel stands for the library window, and
// every editor and palettes window asked for is counted instead of shown.

#include <string>
#include <vector>

#include "Platform/AppKit/NSWindow.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Shell/WindowServices.h"

namespace shelltest {

struct WindowRequests {
    int libraryWindows = 0;
    std::vector<std::string> editorColors;  // "#rrggbbaa" of each new colour
    int palettesWindows = 0;
};

inline WindowRequests& windowRequests() {
    static WindowRequests requests;
    return requests;
}

// Wires the recording services, the counts emptied.
inline void installRecordingWindowServices() {
    using namespace AppKit;
    WindowServices::reset();
    windowRequests() = {};
    auto& s = WindowServices::shared();
    s.makeLibraryWindow = [] {
        ++windowRequests().libraryWindows;
        auto controller = std::make_shared<NSViewController>();
        controller->setView(NSView::make(CGRectMake(0, 0, 600, 280)));
        auto panel = NSWindow::make<NSPanel>(CGRectMake(0, 0, 600, 280), NSWindowStyleMaskBorderless);
        panel->setContentViewController(controller);
        panel->setLevel(NSMainMenuWindowLevel + 2);
        panel->hasShadow = false;
        panel->movable = false;
        return std::static_pointer_cast<NSWindow>(panel);
    };
    s.showNewColorEditor = [](const NSColorRef& color, const std::weak_ptr<AppDelegate>&) {
        windowRequests().editorColors.push_back(color ? hexRGBA(*color) : std::string());
    };
    s.showPalettesWindow = [] { ++windowRequests().palettesWindows; };
}

}  // namespace shelltest
