#pragma once
// The library panel: non-activating, above the menu bar, placed freely (it
// slides in from below the screen's edge), always in the light look.
#include "Platform/AppKit/NSWindow.h"

namespace Vexil::Views {

class ZNLWindow : public AppKit::NSPanel {
public:
    ZNLWindow(AppKit::CGRect contentRect, AppKit::NSWindowStyleMask style,
              AppKit::NSBackingStoreType backing = AppKit::NSBackingStoreType::buffered, bool defer = false);
    ~ZNLWindow() override;
    void didInit() override;
    AppKit::CGRect constrainFrameRect(AppKit::CGRect frame, const AppKit::NSScreen*) const override { return frame; }
    bool canBecomeKeyWindow() const override { return true; }
    bool canBecomeMainWindow() const override { return true; }
};

// A plain titled window.
class ZNLTitleWindow : public AppKit::NSWindow {
public:
    using AppKit::NSWindow::NSWindow;
};

}  // namespace Vexil::Views
