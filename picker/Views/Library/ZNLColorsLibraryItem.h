#pragma once
// A cell of the library window: the colour as a swatch row with a white text
// overlay, delete and adjust buttons shown while the pointer is over it, a
// border while highlighted or selected, and a double-click copy of its text.
// Several colours at once (shades mode) sit side by side with an exit button.
#include "Platform/AppKit/Layout.h"
#include "Platform/AppKit/NSCollectionView.h"
#include "Platform/AppKit/NSControls.h"
#include "picker/Colors/ColorFormat.h"
#include "picker/Library/ZNLColorItem.h"
#include "picker/Views/Controls/SmallControls.h"
#include "picker/Views/Shades/ZNLShadeView.h"

#include <memory>
#include <optional>
#include <vector>

namespace Vexil::Views {

enum class ZNLColorsLibraryItemMode { color, shades };

class ZNLColorsLibraryItem;

// The cell's owner: the swatch reports, and the reload of one cell.
class ZNLColorsLibraryItemDelegate : public ZNLShadeViewDelegate {
public:
    using ZNLShadeViewDelegate::reloadItem;
    virtual void reloadItem(ZNLColorsLibraryItem& item) = 0;
    void reloadItem() override {}
};

class ZNLColorsLibraryItem : public AppKit::NSCollectionViewItem, public ZNLShadeViewDelegate, public ZNLViewDelegate {
public:
    static inline const std::string kIdentifier = "ZNLColorsLibraryItem";
    // The animation timings: overlay and button slides, the adjust button's
    // lag behind the overlay, and the fade-in of several swatches.
    static constexpr double kAnimationDuration = 0.2;
    static constexpr double kAdjustButtonDelay = 0.06;
    static constexpr double kSwatchFadeDelay = 0.1;
    static constexpr double kOverlayRest = 88, kOverlayHovered = 148;
    static constexpr double kAdjustHidden = -42, kAdjustShown = 12;

    std::weak_ptr<AppKit::NSTextField> hexLabel, rgbLabel, colorName;
    std::weak_ptr<AppKit::NSLayoutConstraint> adjustButtonBottom, overlayHeight;
    std::weak_ptr<AppKit::NSView> bottomView, colorView;
    std::weak_ptr<ZNLHoverButton> exitShadesButton;
    std::weak_ptr<ZNLStackView> stackView;
    std::weak_ptr<AppKit::NSButton> deleteButton, adjustButton;

    std::shared_ptr<ZNLColorItem> colorItem;
    std::weak_ptr<ZNLColorsLibraryItemDelegate> delegate;
    double initialBottom = kAdjustHidden;
    std::optional<ColorFormat> format;

    ZNLColorsLibraryItemMode mode() const { return mode_; }
    // Runs the mode observer on every assignment.
    void setMode(ZNLColorsLibraryItemMode mode);

    // The cell's interface: the view tree with its outlets connected.
    void loadView() override;
    void viewDidLoad() override;

    void setShades(const std::vector<AppKit::NSColorRef>& colors, const ColorFormat& format);
    void setHovered(bool hovered);
    void moveAdjustButton(bool hovered, double shownOffset);
    void exitShades();
    void handleExitShades();

    void mouseUp(AppKit::NSEvent& event) override;
    void setHighlightState(AppKit::NSCollectionViewItemHighlightState state);
    void setSelected(bool selected) override;

    void shadeViewDoubleClicked(ZNLShadeView& view, const AppKit::NSColorRef& color) override;
    void shadeViewClicked(ZNLShadeView& view, const AppKit::NSColorRef& color) override;
    void reloadItem() override {}
    void viewMouseEntered() override;
    void viewMouseExited() override;

private:
    void updateForMode();
    void fadeInSwatch(const std::shared_ptr<AppKit::NSView>& swatch);
    void animate(const std::weak_ptr<AppKit::NSLayoutConstraint>& constraint, double value);
    ZNLColorsLibraryItemMode mode_ = ZNLColorsLibraryItemMode::color;
};

}  // namespace Vexil::Views
