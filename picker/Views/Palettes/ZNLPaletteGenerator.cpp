#include "picker/Views/Palettes/ZNLPaletteGenerator.h"

#include <algorithm>
#include <cmath>

#include "picker/Colors/NSColorAdditions.h"
#include "picker/Colors/Randoms.h"

using namespace AppKit;

NSImageRef lockImage(bool locked) {
    auto image = NSImage::imageNamed(locked ? NSImageNameLockLockedTemplate : NSImageNameLockUnlockedTemplate);
    if (!image) return nullptr;
    return image->tintedCopy(NSColor::colorWithDeviceRed(0.76, 0.76, 0.76, 1));
}

std::shared_ptr<ZNLPaletteView> ZNLPaletteView::make() {
    auto view = NSView::make<ZNLPaletteView>(CGRectMake(0, 0, 86, 200));
    auto label = NSTextField::labelWithString("");
    label->setFrame(CGRectMake(1, 8, 84, 16));
    label->alignment = NSTextAlignment::center;
    label->font = NSFont::systemFontOfSize(9.5);
    label->autoresizingMask = NSViewWidthSizable;
    label->maximumNumberOfLines = 2;
    view->addSubview(label);
    view->colorLabel = label;
    std::weak_ptr<ZNLPaletteView> weak = std::static_pointer_cast<ZNLPaletteView>(view->self());
    auto lock = NSButton::buttonWithImage(lockImage(false), [weak](NSControl&) {
        if (auto v = weak.lock()) v->didPressLockButton();
    });
    lock->actionName = "didPressLockButton:";
    lock->bordered = false;
    lock->setFrame(CGRectMake(33, 160, 20, 20));
    view->addSubview(lock);
    view->button = lock;
    return view;
}

void ZNLPaletteView::setColor(const NSColorRef& c) {
    color_ = c;
    if (!wantsLayer()) setWantsLayer(true);
    layer()->backgroundColor = toRGBA(c);
    setNeedsDisplay();
}

void ZNLPaletteView::updateLabel() {
    if (!color_ || !colorLabel) return;
    double h = 0, s = 0, b = 0, a = 0;
    color_->getHue(&h, &s, &b, &a);
    auto whole = [](double x) { return static_cast<long>(std::floor(static_cast<float>(x))); };
    colorLabel->setStringValue("HSB: " + std::to_string(whole(h * 360)) + ", " + std::to_string(whole(s * 100)) + ", " +
                               std::to_string(whole(b * 100)));
    const auto rgba = rgbaComponents(*color_);
    const double luminance = 0.299 * rgba.red + 0.587 * rgba.green + 0.114 * rgba.blue;
    colorLabel->textColor =
        1 - luminance < 0.5 ? NSColor::colorWithCalibratedWhite(0, 0.4) : NSColor::colorWithCalibratedWhite(1, 0.7);
    if (button) button->contentTintColor = colorLabel->textColor;
}

void ZNLPaletteView::toggleLock() {
    locked = !locked;
    if (button) button->setImage(lockImage(locked));
}

void ZNLPaletteGenerator::loadView() {
    auto root = NSView::make(CGRectMake(0, 0, 560, 330));
    stackView = NSView::make<NSStackView>(CGRectMake(20, 80, 520, 200));
    stackView->spacing = 0;
    stackView->distribution = NSStackViewDistribution::fillEqually;
    root->addSubview(stackView);
    paletteName = NSTextField::textFieldWithString("");
    paletteName->setFrame(CGRectMake(20, 290, 200, 22));
    root->addSubview(paletteName);
    std::weak_ptr<NSViewController> weak = self();
    auto add = [&](const std::string& title, const std::string& actionName, CGRect frame,
                   std::function<void(ZNLPaletteGenerator&)> fn) {
        auto b = NSButton::buttonWithTitle(title, [weak, fn](NSControl&) {
            if (auto me = std::static_pointer_cast<ZNLPaletteGenerator>(weak.lock())) fn(*me);
        });
        b->actionName = actionName;
        b->setFrame(frame);
        root->addSubview(b);
        buttons.push_back(b);
    };
    add("Generate", "generateButtonPressed:", CGRectMake(20, 20, 90, 24), [](auto& g) { g.regenerate(); });
    add("H+", "plusHue:", CGRectMake(120, 46, 36, 24), [](auto& g) { g.shiftHue(5); });
    add("H-", "minusHue:", CGRectMake(120, 20, 36, 24), [](auto& g) { g.shiftHue(-5); });
    add("S+", "plusSaturation:", CGRectMake(160, 46, 36, 24), [](auto& g) { g.shiftSaturation(5); });
    add("S-", "minusSaturation:", CGRectMake(160, 20, 36, 24), [](auto& g) { g.shiftSaturation(-5); });
    add("B+", "plusBrightness:", CGRectMake(200, 46, 36, 24), [](auto& g) { g.shiftBrightness(5); });
    add("B-", "minusBrightness:", CGRectMake(200, 20, 36, 24), [](auto& g) { g.shiftBrightness(-5); });
    add("Close", "closeButtonPressed:", CGRectMake(360, 20, 80, 24), [](auto& g) { g.close(); });
    add("Apply", "applyButtonPressed:", CGRectMake(450, 20, 90, 24), [](auto& g) { g.applyPalette(); });
    setView(root);
}

std::shared_ptr<NSButton> ZNLPaletteGenerator::buttonForAction(const std::string& actionName) const {
    for (auto& b : buttons)
        if (b->actionName == actionName) return b;
    return nullptr;
}

void ZNLPaletteGenerator::viewDidLoad() {
    stackView->setWantsLayer(true);
    stackView->layer()->cornerRadius = 4;
    stackView->layer()->masksToBounds = true;
}

void ZNLPaletteGenerator::viewWillAppear() {
    if (auto w = view()->window()) {
        w->titlebarAppearsTransparent = true;
        w->title.clear();
    }
    const auto arranged = stackView->arrangedSubviews();
    for (const auto& v : arranged) {
        stackView->removeArrangedSubview(v);
        v->removeFromSuperview();
    }
    generatePalette();
    paletteName->setStringValue(Faker("en").name.firstName());
}

void ZNLPaletteGenerator::addSwatch(const NSColorRef& c) {
    auto swatch = ZNLPaletteView::make();
    swatch->setColor(c);
    swatch->updateLabel();
    stackView->addView(swatch, NSStackViewGravity::trailing);
}

void ZNLPaletteGenerator::generatePalette() {
    if (!color) return;
    palette.clear();
    addSwatch(color);
    NSColorRef previous = color;
    for (int i = 0; i < 5; ++i) {
        previous = randomColor(previous.get());
        palette.push_back(previous);
        addSwatch(previous);
    }
}

std::vector<std::shared_ptr<ZNLPaletteView>> ZNLPaletteGenerator::swatches() const {
    std::vector<std::shared_ptr<ZNLPaletteView>> out;
    if (!stackView) return out;
    for (auto& v : stackView->arrangedSubviews())
        if (auto p = std::dynamic_pointer_cast<ZNLPaletteView>(v)) out.push_back(p);
    return out;
}

void ZNLPaletteGenerator::regenerate() {
    for (auto& s : swatches()) {
        if (s->locked) continue;
        s->setColor(randomColor(color.get()));
        s->updateLabel();
    }
}

template <class F>
void ZNLPaletteGenerator::shiftUnlocked(F&& make) {
    for (auto& s : swatches()) {
        if (s->locked || !s->color()) continue;
        double h = 0, sat = 0, b = 0, a = 0;
        s->color()->getHue(&h, &sat, &b, &a);
        if (auto c = make(h, sat, b, a)) {
            s->setColor(c);
            s->updateLabel();
        }
    }
}

// Hue is limited to 0..1, not wrapped: minus-hue on red stays red.
void ZNLPaletteGenerator::shiftHue(double step) {
    shiftUnlocked([step](double h, double s, double b, double a) {
        return NSColor::colorWithCalibratedHue(std::clamp(h + step / 360, 0.0, 1.0), s, b, a);
    });
}

void ZNLPaletteGenerator::shiftSaturation(double step) {
    shiftUnlocked([step](double h, double s, double b, double a) -> NSColorRef {
        const double v = s + step / 100;
        if (v < 0 || v > 1) return nullptr;
        return NSColor::colorWithCalibratedHue(h, v, b, a);
    });
}

void ZNLPaletteGenerator::shiftBrightness(double step) {
    shiftUnlocked([step](double h, double s, double b, double a) -> NSColorRef {
        const double v = b + step / 100;
        if (v < 0 || v > 1) return nullptr;
        return NSColor::colorWithCalibratedHue(h, s, v, a);
    });
}

void ZNLPaletteGenerator::applyPalette() {
    std::vector<NSColorRef> colors;
    for (auto& s : swatches())
        if (s->layer() && s->color()) colors.push_back(s->color());
    auto d = delegate.lock();
    if (!d) return;
    d->paletteGeneratorDidApply(colors, paletteName ? paletteName->stringValue() : "", *this);
}

void ZNLPaletteGenerator::close() {
    if (auto d = delegate.lock()) d->paletteGeneratorDidClose(*this);
}
