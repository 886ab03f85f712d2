#pragma once
// Window configurations: the look of a window the producer builds around a
// view controller. Subclasses override the background colour and style mask.

#include <string>

#include "Platform/AppKit/AppKitTypes.h"
#include "Platform/AppKit/NSColor.h"

class CLWindowConfig {
public:
    virtual ~CLWindowConfig() = default;
    virtual AppKit::NSColorRef backgroundColor() const { return AppKit::NSColor::redColor(); }
    // Both subclasses override it; a plain titled, closable window otherwise.
    virtual AppKit::NSWindowStyleMask styleMask() const {
        return AppKit::NSWindowStyleMaskTitled | AppKit::NSWindowStyleMaskClosable;
    }
    std::string title;
    bool titlebarAppearsTransparent = true;
};

// The platform's window background (light appearance).
AppKit::NSColorRef windowBackgroundColor();

// The editor and the palette generator: titled, closable, unified title and
// toolbar, full-size content view; not resizable.
class RYAdjustWindowConfig : public CLWindowConfig {
public:
    AppKit::NSColorRef backgroundColor() const override { return windowBackgroundColor(); }
    AppKit::NSWindowStyleMask styleMask() const override { return 0x9003; }
};

// The palettes window: as above, and resizable.
class RCPaletteWindowConfig : public CLWindowConfig {
public:
    AppKit::NSColorRef backgroundColor() const override { return windowBackgroundColor(); }
    AppKit::NSWindowStyleMask styleMask() const override { return 0x900B; }
};
