#pragma once
// The windows the status menu opens that live in their own folders: the
// colour library window, the colour editor and the palettes window. The
// defaults stand in until those windows are linked in: a plain panel for the
// library window, and a record of every editor and palettes window asked for.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Platform/AppKit/NSColor.h"
#include "Platform/AppKit/NSWindow.h"

class AppDelegate;

struct WindowServices {
    // A new library window around a new library view controller.
    std::function<std::shared_ptr<AppKit::NSWindow>()> makeLibraryWindow;
    // Called before a kept library window slides in again, so it shows what
    // changed while it was hidden (picks, sync, other windows).
    std::function<void(AppKit::NSWindow& window)> refreshLibraryWindow;
    // Shows the colour editor on a new colour, with the delegate as its owner.
    std::function<void(const AppKit::NSColorRef& color, const std::weak_ptr<AppDelegate>& owner)> showNewColorEditor;
    // Opens a further palettes window.
    std::function<void()> showPalettesWindow;

    // What the stand-ins were asked for.
    struct Record {
        int libraryWindows = 0;
        std::vector<std::string> editorColors;  // "#rrggbbaa" of each new colour
        int palettesWindows = 0;
    };
    Record record;

    static WindowServices& shared();
    // Back to the stand-ins, record emptied (tests).
    static void reset();
};

// The library window made by `makeLibraryWindow` from now on, and the
// library's requests to the shell (slide, pick, copy notice) answered by the
// application delegate.
void linkLibraryWindow();
