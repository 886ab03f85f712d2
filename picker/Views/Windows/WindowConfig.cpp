#include "picker/Views/Windows/WindowConfig.h"

AppKit::NSColorRef windowBackgroundColor() { return AppKit::NSColor::colorWithCalibratedWhite(236.0 / 255.0, 1); }
