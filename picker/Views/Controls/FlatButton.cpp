#include "picker/Views/Controls/FlatButton.h"

#include "Platform/AppKit/NSEvent.h"
#include "Platform/AppKit/NSImage.h"
#include "Platform/AppKit/NSWindow.h"
#include "picker/Views/Controls/SmallControls.h"

#include <cmath>

namespace Vexil::Views {
using namespace AppKit;
using QuartzCore::AnimValue;
using QuartzCore::CABasicAnimation;
using QuartzCore::CAFillMode;

namespace {
double nearest(double x) { return std::round(x); }  // halves away from zero
}  // namespace

FlatButtonLayout flatButtonLayout(NSCellImagePosition position, CGSize b, CGSize t, CGSize i, CGPoint currentIcon) {
    double W = b.width, H = b.height;
    double hGap = nearest((W - (i.width + t.width)) / 3);
    double vGap = nearest((H - (i.height + t.height)) / 3);
    switch (position) {
        case NSCellImagePosition::imageLeft:
            return {{hGap, nearest((H - i.height) / 2)}, {W - t.width - 6, nearest((H - t.height) / 2)}};
        case NSCellImagePosition::imageRight:
            return {{W - i.width - hGap, nearest((H - i.height) / 2)}, {2, nearest((H - t.height) / 2)}};
        case NSCellImagePosition::imageBelow:
            return {{nearest((W - i.width) / 2), H - vGap - i.height}, {nearest((W - t.width) / 2), 2}};
        case NSCellImagePosition::imageAbove:
            return {{nearest((W - i.width) / 2), vGap}, {nearest((W - t.width) / 2), H - t.height - 2}};
        default:
            return {currentIcon, {(W - t.width) / 2, (H - t.height) / 2}};
    }
}

void animateLayerColor(QuartzCore::CALayer& layer, const NSColorRef& color, const std::string& keyPath,
                       double duration) {
    AnimValue target = layerColor(color);
    AnimValue current = layer.valueForKeyPath(keyPath);
    if (current == target) return;
    auto animation = CABasicAnimation::animationWithKeyPath(keyPath);
    animation->fromValue = current;
    animation->toValue = target;
    animation->duration = duration;
    animation->removedOnCompletion = false;
    animation->fillMode = CAFillMode::forwards;
    layer.addAnimation(animation, keyPath);
    layer.setValueForKeyPath(keyPath, target);
}

FlatButton::FlatButton(CGRect frame) : NSButton(frame) {
    colors_[int(ColorRole::border)] = NSColor::darkGrayColor();
    colors_[int(ColorRole::activeBorder)] = NSColor::whiteColor();
    colors_[int(ColorRole::button)] = NSColor::darkGrayColor();
    colors_[int(ColorRole::activeButton)] = NSColor::whiteColor();
    colors_[int(ColorRole::icon)] = NSColor::grayColor();
    colors_[int(ColorRole::activeIcon)] = NSColor::blackColor();
    colors_[int(ColorRole::text)] = NSColor::grayColor();
    colors_[int(ColorRole::activeText)] = NSColor::grayColor();
}

void FlatButton::didInit() {
    NSButton::didInit();
    setWantsLayer(true);
    auto& own = layer();
    own->masksToBounds = false;
    containerLayer->masksToBounds = false;
    own->cornerRadius = 4;
    own->borderWidth = 1;
    if (window()) titleLayer->contentsScale = window()->backingScaleFactor;
    iconLayer->masksToBounds = true;
    alternateIconLayer->masksToBounds = true;
    containerLayer->shadowOffset = {0, 0};
    containerLayer->shadowColor = {0, 0, 0, 0};
    containerLayer->setFrame({{0, 0}, bounds().size});
    containerLayer->addSublayer(iconLayer);
    containerLayer->addSublayer(alternateIconLayer);
    containerLayer->addSublayer(titleLayer);
    own->addSublayer(containerLayer);
    setupDone_ = true;
    setupTitle();
    setupImage();
}

NSColorRef FlatButton::color(ColorRole role) const { return colors_[int(role)]; }
void FlatButton::setColor(ColorRole role, NSColorRef c) {
    colors_[int(role)] = std::move(c);
    reapply();
}

void FlatButton::setGlowRadius(double v) {
    glowRadius_ = v;
    containerLayer->shadowRadius = v;
    reapply();
}
void FlatButton::setGlowOpacity(double v) {
    glowOpacity_ = v;
    containerLayer->shadowOpacity = v;
    reapply();
}
void FlatButton::setCornerRadius(double v) {
    cornerRadius_ = v;
    if (layer()) layer()->cornerRadius = v;
}
void FlatButton::setBorderWidth(double v) {
    borderWidth_ = v;
    if (layer()) layer()->borderWidth = v;
}

void FlatButton::setTitle(std::string t) {
    NSButton::setTitle(std::move(t));
    setupTitle();
}
void FlatButton::setFont(NSFontRef f) {
    font = std::move(f);
    setupTitle();
}
void FlatButton::setFrame(CGRect f) {
    NSButton::setFrame(f);
    positionTitleAndImage();
}
void FlatButton::setImage(NSImageRef i) {
    NSButton::setImage(std::move(i));
    setupImage();
}
void FlatButton::setAlternateImage(NSImageRef i) {
    NSButton::setAlternateImage(std::move(i));
    setupImage();
}
void FlatButton::setEnabled(bool enabled) {
    NSButton::setEnabled(enabled);
    setAlphaValue(enabled ? 1.0 : 0.5);
}

void FlatButton::setupTitle() {
    if (!setupDone_ || !font) return;
    titleLayer->string = title();
    titleLayer->font = font->spec();
    positionTitleAndImage();
}

void FlatButton::setupImage() {
    if (!setupDone_ || !image()) return;
    auto size = image()->size();
    auto mask = QuartzCore::CALayer::layer();
    mask->setFrame({{0, 0}, size});
    iconLayer->setFrame({{0, 0}, size});
    iconLayer->mask = mask;
    if (alternateImage()) {
        auto altSize = alternateImage()->size();
        auto altMask = QuartzCore::CALayer::layer();
        altMask->setFrame({{0, 0}, altSize});
        alternateIconLayer->mask = altMask;
        alternateIconLayer->setFrame({{0, 0}, altSize});
    }
    positionTitleAndImage();
}

void FlatButton::positionTitleAndImage() {
    if (!setupDone_) return;
    CGSize t = font ? font->sizeOfString(title()) : CGSize{};
    CGSize i = iconLayer->frame().size;
    auto placed = flatButtonLayout(imagePosition, bounds().size, t, i, iconLayer->frame().origin);
    iconLayer->setFrame({placed.icon, i});
    alternateIconLayer->setFrame({placed.icon, i});
    titleLayer->setFrame({placed.title, t});
}

void FlatButton::removeAnimations() {
    layer()->removeAllAnimations();
    for (const auto& sub : layer()->sublayers()) sub->removeAllAnimations();
}

void FlatButton::animateColor(bool on) {
    if (!setupDone_) return;
    removeAnimations();
    double duration = on ? onAnimationDuration : offAnimationDuration;
    auto fill = color(on ? ColorRole::activeButton : ColorRole::button);
    auto text = color(on ? ColorRole::activeText : ColorRole::text);
    auto icon = color(on ? ColorRole::activeIcon : ColorRole::icon);
    auto border = color(on ? ColorRole::activeBorder : ColorRole::border);
    animateLayerColor(*layer(), fill, "backgroundColor", duration);
    animateLayerColor(*layer(), border, "borderColor", duration);
    titleLayer->foregroundColor = layerColor(text);
    auto clear = NSColor::clearColor();
    if (alternateImage()) {
        animateLayerColor(*iconLayer, on ? clear : color(ColorRole::icon), "backgroundColor", duration);
        animateLayerColor(*alternateIconLayer, on ? color(ColorRole::activeIcon) : clear, "backgroundColor", duration);
    } else {
        animateLayerColor(*iconLayer, icon, "backgroundColor", duration);
    }
    if (glowRadius_ > 0 && glowOpacity_ > 0)
        animateLayerColor(*containerLayer, on ? color(ColorRole::activeIcon) : clear, "shadowColor", duration);
}

void FlatButton::setOn(bool on) {
    if (on == isOn()) return;
    setState(on ? NSControlStateValueOn : NSControlStateValueOff);
    animateColor(on);
}

void FlatButton::awakeFromNib() {
    addTrackingArea(NSTrackingArea::make(
        bounds(), NSTrackingMouseEnteredAndExited | NSTrackingActiveAlways | NSTrackingInVisibleRect,
        weak_from_this()));
}

NSView* FlatButton::hitTest(CGPoint point) { return isEnabled() ? NSButton::hitTest(point) : nullptr; }

void FlatButton::mouseDown(NSEvent&) {
    if (!isEnabled()) return;
    mouseDownInProgress = true;
    toggle();
}

void FlatButton::mouseEntered(NSEvent&) {
    if (mouseDownInProgress) {
        toggle();
    } else if (hoverFont) {
        double size = titleLayer->font.size;
        titleLayer->font = hoverFont->spec();
        titleLayer->font.size = size;
    }
}

void FlatButton::mouseExited(NSEvent&) {
    if (mouseDownInProgress) {
        toggle();
        mouseDownInProgress = false;
    } else if (hoverFont && font) {
        double size = titleLayer->font.size;
        titleLayer->font = font->spec();
        titleLayer->font.size = size;
    }
}

void FlatButton::mouseUp(NSEvent&) {
    if (!mouseDownInProgress) return;
    mouseDownInProgress = false;
    if (momentary_) toggle();
    if (action) action(*this);
}

void FlatButton::layout() {
    NSButton::layout();
    positionTitleAndImage();
}

}  // namespace Vexil::Views
