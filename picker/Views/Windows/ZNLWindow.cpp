#include "picker/Views/Windows/ZNLWindow.h"

#include <cstdio>

namespace Vexil::Views {
using namespace AppKit;

ZNLWindow::ZNLWindow(CGRect contentRect, NSWindowStyleMask, NSBackingStoreType backing, bool defer)
    : NSPanel(contentRect, NSWindowStyleMaskNonactivatingPanel, backing, defer) {
    setLevel(kCGMainMenuWindowLevel + 2);
    hasShadow = false;
    movable = false;
    movableByWindowBackground = false;
    appearance = NSAppearance::appearanceNamed(NSAppearanceNameAqua);
}

void ZNLWindow::didInit() {
    NSPanel::didInit();
    setFrame(CGRect{}, false);
}

ZNLWindow::~ZNLWindow() {
    std::fputs("=== ZNLWindow deinit\n", stdout);
    std::fflush(stdout);
}

}  // namespace Vexil::Views
