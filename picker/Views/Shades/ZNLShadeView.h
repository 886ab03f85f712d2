#pragma once
// A swatch of one colour (with its text in a popover while the pointer is
// over it, reporting clicks to its owner) and the row of swatches.

#include <memory>
#include <vector>

#include "Platform/AppKit/NSControls.h"
#include "Platform/AppKit/NSScrollView.h"
#include "picker/Colors/ColorFormat.h"
#include "picker/Library/ZNLColorItem.h"

class ZNLShadeView;

class ZNLShadeViewDelegate {
public:
    virtual ~ZNLShadeViewDelegate() = default;
    virtual void shadeViewDoubleClicked(ZNLShadeView& view, const AppKit::NSColorRef& color) = 0;
    virtual void shadeViewClicked(ZNLShadeView& view, const AppKit::NSColorRef& color) = 0;
    virtual void reloadItem() = 0;
};

class ZNLShadeView : public AppKit::NSView {
public:
    using NSView::NSView;
    // A layer-backed swatch of the colour with its text in `format`.
    static std::shared_ptr<ZNLShadeView> create(const AppKit::NSColorRef& color, const ColorFormat& format);

    std::shared_ptr<AppKit::NSTextField> colorLabel;
    std::shared_ptr<AppKit::NSTrackingArea> trackingArea;
    ColorFormat language = ColorFormat::builtIn();
    std::shared_ptr<AppKit::NSPopover> popover = std::make_shared<AppKit::NSPopover>();
    std::weak_ptr<ZNLShadeViewDelegate> delegate;
    bool highlightable = false;
    std::shared_ptr<ZNLColorItem> colorItem;

    // The swatch's colour is its layer's background; the colour object is
    // kept beside it so that reports hand back the exact colour set.
    void setColor(const AppKit::NSColorRef& color);
    AppKit::NSColorRef color() const;

    void updateTrackingAreas() override;
    void mouseEntered(AppKit::NSEvent& event) override;
    void mouseExited(AppKit::NSEvent& event) override;
    void mouseDown(AppKit::NSEvent& event) override;
    void setUpPopover();

private:
    AppKit::NSColorRef color_;
};

// The row: swatches side by side, each as wide as given, edges touching.
class ZNLStackView : public AppKit::NSView {
public:
    using NSView::NSView;
    std::vector<std::shared_ptr<AppKit::NSView>> views;
    // Constraints for a view just added as a subview (appended to `views` after).
    void addView(const std::shared_ptr<AppKit::NSView>& view, double width);
    void removeAllViews();
};

// Shrinks the field's font in steps of 0.5 point until its text fits its width less the inset.
void fitFontToWidth(AppKit::NSTextField& field, double inset);
