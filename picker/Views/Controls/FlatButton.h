#pragma once
// A push or toggle button drawn with layers: fill, border, tinted icons and a
// title, animating between its off and on colour sets. It tracks the pointer
// itself: a press turns it on, a release inside sends the action.
#include "Platform/AppKit/NSControls.h"
#include "Platform/QuartzCore/CALayer.h"

#include <memory>

namespace Vexil::Views {

// Where the icon and title go for a size, title size and icon size.
struct FlatButtonLayout {
    AppKit::CGPoint icon;
    AppKit::CGPoint title;
};
FlatButtonLayout flatButtonLayout(AppKit::NSCellImagePosition position, AppKit::CGSize bounds, AppKit::CGSize title,
                                  AppKit::CGSize icon, AppKit::CGPoint currentIcon);

class FlatButton : public AppKit::NSButton {
public:
    explicit FlatButton(AppKit::CGRect frame = {});
    void didInit() override;

    std::shared_ptr<QuartzCore::CALayer> containerLayer = QuartzCore::CALayer::layer();
    std::shared_ptr<QuartzCore::CAShapeLayer> iconLayer = std::make_shared<QuartzCore::CAShapeLayer>();
    std::shared_ptr<QuartzCore::CAShapeLayer> alternateIconLayer = std::make_shared<QuartzCore::CAShapeLayer>();
    std::shared_ptr<QuartzCore::CATextLayer> titleLayer = std::make_shared<QuartzCore::CATextLayer>();
    bool mouseDownInProgress = false;

    bool momentary() const { return momentary_; }
    void setMomentary(bool v) {
        momentary_ = v;
        reapply();
    }
    AppKit::NSFontRef hoverFont;
    double onAnimationDuration = 0;
    double offAnimationDuration = 0.1;
    double glowRadius() const { return glowRadius_; }
    void setGlowRadius(double v);
    double glowOpacity() const { return glowOpacity_; }
    void setGlowOpacity(double v);
    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double v);
    double borderWidth() const { return borderWidth_; }
    void setBorderWidth(double v);

    enum class ColorRole { border, activeBorder, button, activeButton, icon, activeIcon, text, activeText };
    AppKit::NSColorRef color(ColorRole role) const;
    void setColor(ColorRole role, AppKit::NSColorRef color);

    void setTitle(std::string title) override;
    void setFont(AppKit::NSFontRef font);
    void setFrame(AppKit::CGRect frame) override;
    void setImage(AppKit::NSImageRef image) override;
    void setAlternateImage(AppKit::NSImageRef image) override;
    void setEnabled(bool enabled) override;
    bool isOn() const { return state() == AppKit::NSControlStateValueOn; }
    void setOn(bool on);

    void awakeFromNib();
    AppKit::NSView* hitTest(AppKit::CGPoint point) override;
    void mouseDown(AppKit::NSEvent& event) override;
    void mouseUp(AppKit::NSEvent& event) override;
    void mouseEntered(AppKit::NSEvent& event) override;
    void mouseExited(AppKit::NSEvent& event) override;
    void layout() override;

private:
    void setupTitle();
    void setupImage();
    void positionTitleAndImage();
    void removeAnimations();
    void animateColor(bool on);
    void reapply() { animateColor(isOn()); }
    void toggle() { setOn(!isOn()); }
    bool setupDone_ = false;
    bool momentary_ = true;
    double glowRadius_ = 0, glowOpacity_ = 0, cornerRadius_ = 4, borderWidth_ = 1;
    AppKit::NSColorRef colors_[8];
};

// One colour animation of a layer, skipped when the layer already shows the colour.
void animateLayerColor(QuartzCore::CALayer& layer, const AppKit::NSColorRef& color, const std::string& keyPath,
                       double duration);

}  // namespace Vexil::Views
