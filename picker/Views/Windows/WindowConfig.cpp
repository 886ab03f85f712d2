#include "picker/Views/Windows/WindowConfig.h"

namespace Vexil::Views {
using namespace AppKit;

CLWindowConfig::CLWindowConfig() : backgroundColor_(NSColor::redColor()) {}

NSColorRef CLWindowConfig::windowBackgroundColor() { return NSColor::colorWithCalibratedWhite(0.925, 1); }

RYAdjustWindowConfig::RYAdjustWindowConfig()
    : background_(windowBackgroundColor()),
      mask_(NSWindowStyleMaskTitled | NSWindowStyleMaskClosable | NSWindowStyleMaskUnifiedTitleAndToolbar |
            NSWindowStyleMaskFullSizeContentView) {}

RCPaletteWindowConfig::RCPaletteWindowConfig()
    : background_(windowBackgroundColor()),
      mask_(NSWindowStyleMaskTitled | NSWindowStyleMaskClosable | NSWindowStyleMaskResizable |
            NSWindowStyleMaskUnifiedTitleAndToolbar | NSWindowStyleMaskFullSizeContentView) {}

}  // namespace Vexil::Views
