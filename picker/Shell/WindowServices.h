#pragma once
// The windows the status menu opens that live in their own folders: the
// colour library window, the colour editor and the palettes window. The
// composition root links the real ones in; until then (and after `reset`)
// none is wired and the menu's items that open them do nothing.

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

    static WindowServices& shared();
    // Nothing wired (tests wire their own).
    static void reset();
};

// The library window made by `makeLibraryWindow` from now on, and the
// library's requests to the shell (slide, pick, copy notice) answered by the
// application delegate.
void linkLibraryWindow();
