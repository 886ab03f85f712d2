#pragma once
// The look of a window the producer builds: one class per kind of window.
#include "Platform/AppKit/AppKitTypes.h"
#include "Platform/AppKit/NSColor.h"

#include <string>

namespace Vexil::Views {

class CLWindowConfig {
public:
    CLWindowConfig();
    virtual ~CLWindowConfig() = default;
    virtual AppKit::NSColorRef backgroundColor() const { return backgroundColor_; }
    virtual void setBackgroundColor(AppKit::NSColorRef color) { backgroundColor_ = std::move(color); }
    virtual AppKit::NSWindowStyleMask styleMask() const { return styleMask_; }
    virtual void setStyleMask(AppKit::NSWindowStyleMask mask) { styleMask_ = mask; }
    std::string title;
    bool titlebarAppearsTransparent = true;

    // The system window background the titled windows use.
    static AppKit::NSColorRef windowBackgroundColor();

private:
    AppKit::NSColorRef backgroundColor_;
    // Every subclass sets its own; a plain titled window otherwise.
    AppKit::NSWindowStyleMask styleMask_ = AppKit::NSWindowStyleMaskTitled;
};

// Editor and palette generator: fixed size.
class RYAdjustWindowConfig : public CLWindowConfig {
public:
    RYAdjustWindowConfig();
    AppKit::NSColorRef backgroundColor() const override { return background_; }
    void setBackgroundColor(AppKit::NSColorRef color) override { background_ = std::move(color); }
    AppKit::NSWindowStyleMask styleMask() const override { return mask_; }
    void setStyleMask(AppKit::NSWindowStyleMask mask) override { mask_ = mask; }

private:
    AppKit::NSColorRef background_;
    AppKit::NSWindowStyleMask mask_;
};

// The palettes window: resizable.
class RCPaletteWindowConfig : public CLWindowConfig {
public:
    RCPaletteWindowConfig();
    AppKit::NSColorRef backgroundColor() const override { return background_; }
    void setBackgroundColor(AppKit::NSColorRef color) override { background_ = std::move(color); }
    AppKit::NSWindowStyleMask styleMask() const override { return mask_; }
    void setStyleMask(AppKit::NSWindowStyleMask mask) override { mask_ = mask; }

private:
    AppKit::NSColorRef background_;
    AppKit::NSWindowStyleMask mask_;
};

}  // namespace Vexil::Views
