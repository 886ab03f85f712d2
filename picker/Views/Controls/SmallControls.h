#pragma once
// Small controls shared by the windows: a button and a view that react to the
// pointer entering and leaving, font fitting and the dark-look test.
#include "Platform/AppKit/NSControls.h"
#include "Platform/AppKit/NSView.h"
#include "Platform/AppKit/NSWindow.h"

#include <memory>

namespace Vexil::Views {

// Shows its hover image (or hover background) while the pointer is over it.
// Changing a look takes effect at the next enter or exit.
class ZNLHoverButton : public AppKit::NSButton {
public:
    using AppKit::NSButton::NSButton;
    AppKit::NSImageRef defaultImage, hoverImage;
    AppKit::NSColorRef defaultBackgroundColor = AppKit::NSColor::clearColor();
    AppKit::NSColorRef hoverBackgroundColor = AppKit::NSColor::clearColor();
    std::shared_ptr<AppKit::NSTrackingArea> trackingArea;

    void updateTrackingAreas() override;
    void mouseEntered(AppKit::NSEvent& event) override;
    void mouseExited(AppKit::NSEvent& event) override;

private:
    void applyLook(const AppKit::NSImageRef& image, const AppKit::NSColorRef& background);
};

class ZNLViewDelegate {
public:
    virtual ~ZNLViewDelegate() = default;
    virtual void viewMouseEntered() = 0;
    virtual void viewMouseExited() = 0;
};

// Tells its delegate when the pointer enters and leaves; keeps exactly one
// tracking area over its bounds.
class ZNLView : public AppKit::NSView {
public:
    using AppKit::NSView::NSView;
    std::shared_ptr<AppKit::NSTrackingArea> trackingArea;
    std::weak_ptr<ZNLViewDelegate> delegate;

    void updateTrackingAreas() override;
    void mouseEntered(AppKit::NSEvent& event) override;
    void mouseExited(AppKit::NSEvent& event) override;
};

// The smallest size fitting lowers a font to.
inline constexpr double kSmallestFittedFontSize = 1;
// Lowers the field's font in half-point steps until its text, less the inset,
// fits the field's width, or the font reaches the smallest size.
void fitFontToWidth(AppKit::NSTextField& field, double inset);

bool isDarkAppearance(const AppKit::NSAppearance* appearance);

// The layer background a colour gives.
CoreGraphics::RGBA layerColor(const AppKit::NSColorRef& color);

}  // namespace Vexil::Views
