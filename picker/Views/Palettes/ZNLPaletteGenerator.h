#pragma once
// The palette generator: six swatches drifting away from a base colour,
// each lockable, regenerated or nudged in hue, saturation or brightness,
// named and handed to the owner to be saved as a folder.

#include <memory>
#include <string>
#include <vector>

#include "Platform/AppKit/NSControls.h"
#include "Platform/AppKit/NSScrollView.h"
#include "Platform/AppKit/NSWindow.h"

class ZNLPaletteGenerator;

class ZNLPaletteGeneratorDelegate {
public:
    virtual ~ZNLPaletteGeneratorDelegate() = default;
    virtual void paletteGeneratorDidClose(ZNLPaletteGenerator& generator) = 0;
    virtual void paletteGeneratorDidApply(const std::vector<AppKit::NSColorRef>& colors, const std::string& name,
                                          ZNLPaletteGenerator& generator) = 0;
};

class ZNLPaletteView : public AppKit::NSView {
public:
    using NSView::NSView;
    static std::shared_ptr<ZNLPaletteView> make();
    std::shared_ptr<AppKit::NSTextField> colorLabel;
    std::shared_ptr<AppKit::NSButton> button;
    bool locked = false;

    // The swatch's colour is its layer's background (the colour object kept beside it).
    void setColor(const AppKit::NSColorRef& color);
    AppKit::NSColorRef color() const { return color_; }
    void updateLabel();
    void toggleLock();
    void didPressLockButton() { toggleLock(); }

private:
    AppKit::NSColorRef color_;
};

class ZNLPaletteGenerator : public AppKit::NSViewController {
public:
    AppKit::NSColorRef color;
    std::shared_ptr<AppKit::NSTextField> paletteName;
    std::weak_ptr<ZNLPaletteGeneratorDelegate> delegate;
    std::vector<AppKit::NSColorRef> palette;
    std::shared_ptr<AppKit::NSStackView> stackView;
    // The generator's buttons, by action ("generateButtonPressed:", "plusHue:", ...).
    std::vector<std::shared_ptr<AppKit::NSButton>> buttons;

    void loadView() override;
    void viewDidLoad() override;
    void viewWillAppear() override;

    void generatePalette();
    void regenerate();
    void shiftHue(double step);
    void shiftSaturation(double step);
    void shiftBrightness(double step);
    void applyPalette();
    // closeButtonPressed: and cancel: tell the owner; share: does nothing.
    void close();
    void cancel() { close(); }
    void share() {}
    std::vector<std::shared_ptr<ZNLPaletteView>> swatches() const;
    std::shared_ptr<AppKit::NSButton> buttonForAction(const std::string& actionName) const;

private:
    void addSwatch(const AppKit::NSColorRef& c);
    template <class F>
    void shiftUnlocked(F&& make);
};

// Lock images tinted with the grey of the lock buttons.
AppKit::NSImageRef lockImage(bool locked);
