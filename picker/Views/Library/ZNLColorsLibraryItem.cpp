#include "picker/Views/Library/ZNLColorsLibraryItem.h"

#include "Platform/AppKit/Animation.h"
#include "Platform/AppKit/NSImage.h"
#include "Platform/Foundation/Diagnostics.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/QuartzCore/CALayer.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Library/ZNLColorsLibrary.h"
#include "picker/Views/Library/LibraryShell.h"

namespace Vexil::Views {
using namespace AppKit;

namespace {

// The cell's root view hands mouse releases to its cell (views do not reach
// their controllers through the responder chain here).
class ItemRootView : public ZNLView {
public:
    using ZNLView::ZNLView;
    std::weak_ptr<ZNLColorsLibraryItem> item;
    void mouseUp(NSEvent& event) override {
        if (auto i = item.lock())
            i->mouseUp(event);
        else
            ZNLView::mouseUp(event);
    }
};

void runAnimation(const std::function<void()>& changes) {
    NSAnimationContext::runAnimationGroup([&](NSAnimationContext& context) {
        context.duration = ZNLColorsLibraryItem::kAnimationDuration;
        context.allowsImplicitAnimation = true;
        context.timingFunction =
            QuartzCore::CAMediaTimingFunction::functionWithName(QuartzCore::kCAMediaTimingFunctionEaseInEaseOut);
        changes();
    });
}

std::shared_ptr<NSTextField> overlayLabel(double y) {
    auto label = NSTextField::labelWithString("");
    label->setFrame(CGRectMake(10, y, 130, 18));
    label->autoresizingMask = NSViewMinYMargin | NSViewWidthSizable;
    label->textColor = colorWithHexRGB("#222222");
    label->font = NSFont::systemFontOfSize(12);
    return label;
}

}  // namespace

void ZNLColorsLibraryItem::loadView() {
    const double width = 150, height = 240;
    auto root = NSView::make<ItemRootView>(CGRectMake(0, 0, width, height));
    root->item = std::static_pointer_cast<ZNLColorsLibraryItem>(shared_from_this());

    auto plain = NSView::make(CGRectMake(0, 0, width, height));
    plain->autoresizingMask = NSViewWidthSizable | NSViewHeightSizable;
    root->addSubview(plain);
    colorView = plain;

    auto row = NSView::make<ZNLStackView>(CGRectMake(0, kOverlayRest, width, height - kOverlayRest));
    row->translatesAutoresizingMaskIntoConstraints = false;
    root->addSubview(row);
    stackView = row;

    auto overlay = NSView::make(CGRectMake(0, 0, width, kOverlayRest));
    overlay->translatesAutoresizingMaskIntoConstraints = false;
    root->addSubview(overlay);
    bottomView = overlay;
    auto hex = overlayLabel(kOverlayRest - 26), rgb = overlayLabel(kOverlayRest - 46),
         name = overlayLabel(kOverlayRest - 66);
    overlay->addSubview(hex);
    overlay->addSubview(rgb);
    overlay->addSubview(name);
    hexLabel = hex;
    rgbLabel = rgb;
    colorName = name;

    auto adjust = NSButton::buttonWithTitle("Adjust", nullptr);
    adjust->translatesAutoresizingMaskIntoConstraints = false;
    root->addSubview(adjust);
    adjustButton = adjust;

    auto remove = NSButton::buttonWithImage(NSImage::imageNamed(NSImageNameStopProgressTemplate), nullptr);
    remove->setFrame(CGRectMake(width - 28, height - 28, 20, 20));
    remove->autoresizingMask = NSViewMinXMargin | NSViewMinYMargin;
    remove->bordered = false;
    root->addSubview(remove);
    deleteButton = remove;

    NSView* r = root.get();
    auto exit = NSView::make<ZNLHoverButton>(CGRectMake(8, height - 40, 32, 32));
    exit->setImage(NSImage::imageNamed(NSImageNameStopProgressTemplate));
    exit->bordered = false;
    exit->autoresizingMask = NSViewMinYMargin;
    exit->actionName = "handleExitShades:";
    std::weak_ptr<ZNLColorsLibraryItem> weak = std::static_pointer_cast<ZNLColorsLibraryItem>(shared_from_this());
    exit->action = [weak](NSControl&) {
        if (auto self = weak.lock()) self->handleExitShades();
    };
    root->addSubview(exit);
    exitShadesButton = exit;

    auto height88 = heightAnchor(overlay).constraintEqualToConstant(kOverlayRest);
    // The adjust button's bottom edge above the cell's: -42 puts it below, out of sight.
    auto adjustBottom = bottomAnchor(adjust).constraintEqualToAnchor({r, NSLayoutAttribute::bottom}, kAdjustHidden);
    NSLayoutConstraint::activateConstraints({
        leftAnchor(row).constraintEqualToAnchor({r, NSLayoutAttribute::left}),
        rightAnchor(row).constraintEqualToAnchor({r, NSLayoutAttribute::right}),
        topAnchor(row).constraintEqualToAnchor({r, NSLayoutAttribute::top}),
        bottomAnchor(row).constraintEqualToAnchor(topAnchor(overlay)),
        leftAnchor(overlay).constraintEqualToAnchor({r, NSLayoutAttribute::left}),
        rightAnchor(overlay).constraintEqualToAnchor({r, NSLayoutAttribute::right}),
        bottomAnchor(overlay).constraintEqualToAnchor({r, NSLayoutAttribute::bottom}),
        height88,
        centerXAnchor(adjust).constraintEqualToAnchor({r, NSLayoutAttribute::centerX}),
        widthAnchor(adjust).constraintEqualToConstant(100),
        heightAnchor(adjust).constraintEqualToConstant(28),
        adjustBottom,
    });
    overlayHeight = height88;
    adjustButtonBottom = adjustBottom;
    setView(root);
}

void ZNLColorsLibraryItem::viewDidLoad() {
    NSCollectionViewItem::viewDidLoad();
    if (auto b = adjustButton.lock()) b->setHidden(true);
    auto v = view();
    v->setWantsLayer(true);
    v->layer()->masksToBounds = true;
    v->layer()->cornerRadius = 6;
    if (auto exit = exitShadesButton.lock()) {
        exit->setWantsLayer(true);
        exit->layer()->cornerRadius = 16;
        exit->hoverBackgroundColor = NSColor::whiteColor();
    }
    if (auto overlay = bottomView.lock()) {
        overlay->setWantsLayer(true);
        overlay->layer()->backgroundColor = toRGBA(NSColor::whiteColor());
    }
    if (auto root = std::dynamic_pointer_cast<ZNLView>(v))
        root->delegate = std::static_pointer_cast<ZNLColorsLibraryItem>(shared_from_this());
    if (auto c = adjustButtonBottom.lock()) c->setConstant(kAdjustHidden);
    if (auto b = deleteButton.lock()) b->setHidden(true);
}

void ZNLColorsLibraryItem::setMode(ZNLColorsLibraryItemMode mode) {
    mode_ = mode;
    updateForMode();
}

void ZNLColorsLibraryItem::updateForMode() {
    const bool shades = mode_ == ZNLColorsLibraryItemMode::shades;
    if (auto b = adjustButton.lock()) b->setHidden(shades);
    if (auto b = exitShadesButton.lock()) b->setHidden(!shades);
    if (shades) animate(overlayHeight, 0);
}

void ZNLColorsLibraryItem::animate(const std::weak_ptr<NSLayoutConstraint>& constraint, double value) {
    auto c = constraint.lock();
    if (!c) return;
    auto v = isViewLoaded() ? view() : nullptr;
    runAnimation([&] {
        c->animator().setConstant(value);
        if (v) v->layoutSubtreeIfNeeded();
    });
}

void ZNLColorsLibraryItem::setShades(const std::vector<NSColorRef>& colors, const ColorFormat& fmt) {
    view();
    const auto n = colors.size();
    setMode(n > 1 ? ZNLColorsLibraryItemMode::shades : ZNLColorsLibraryItemMode::color);
    if (auto b = deleteButton.lock()) b->setHidden(n > 0);
    auto row = stackView.lock();
    if (!row) return;
    for (auto& v : row->views) v->removeFromSuperview();
    row->views.clear();
    if (n == 0) return;
    auto self = std::static_pointer_cast<ZNLColorsLibraryItem>(shared_from_this());
    for (const auto& color : colors) {
        auto swatch = ZNLShadeView::create(color, fmt);
        if (!swatch) continue;
        swatch->highlightable = n > 1;
        swatch->delegate = std::static_pointer_cast<ZNLShadeViewDelegate>(self);
        swatch->setWantsLayer(true);
        swatch->layer()->backgroundColor = toRGBA(color);
        swatch->colorItem = colorItem;
        swatch->translatesAutoresizingMaskIntoConstraints = false;
        row->addSubview(swatch);
        row->addView(swatch, row->bounds().width() / static_cast<double>(n));
        row->views.push_back(swatch);
        if (n >= 2) {
            swatch->setAlphaValue(0);
            std::shared_ptr<NSView> held = swatch;
            Foundation::DispatchQueue::main()->after(kSwatchFadeDelay, [self, held] { self->fadeInSwatch(held); });
        }
    }
}

void ZNLColorsLibraryItem::fadeInSwatch(const std::shared_ptr<NSView>& swatch) {
    runAnimation([&] { swatch->animator()->setAlphaValue(1); });
}

void ZNLColorsLibraryItem::setHovered(bool hovered) {
    animate(overlayHeight, hovered ? kOverlayHovered : kOverlayRest);
    auto self = std::static_pointer_cast<ZNLColorsLibraryItem>(shared_from_this());
    Foundation::DispatchQueue::main()->after(kAdjustButtonDelay,
                                             [self, hovered] { self->moveAdjustButton(hovered, kAdjustShown); });
}

void ZNLColorsLibraryItem::moveAdjustButton(bool hovered, double shownOffset) {
    animate(adjustButtonBottom, hovered ? shownOffset : initialBottom);
}

void ZNLColorsLibraryItem::exitShades() {
    if (auto exit = exitShadesButton.lock()) {
        exit->setWantsLayer(true);
        exit->layer()->backgroundColor = toRGBA(NSColor::clearColor());
    }
    if (auto d = delegate.lock()) d->reloadItem(*this);
}

void ZNLColorsLibraryItem::handleExitShades() { exitShades(); }

void ZNLColorsLibraryItem::viewMouseEntered() {
    if (auto b = deleteButton.lock()) b->animator()->setHidden(mode_ == ZNLColorsLibraryItemMode::shades);
    setHovered(true);
}

void ZNLColorsLibraryItem::viewMouseExited() {
    if (auto b = deleteButton.lock()) b->animator()->setHidden(true);
    setHovered(false);
    if (mode_ == ZNLColorsLibraryItemMode::shades) exitShades();
}

void ZNLColorsLibraryItem::shadeViewDoubleClicked(ZNLShadeView& view, const NSColorRef& color) {
    if (auto d = delegate.lock()) d->shadeViewDoubleClicked(view, color);
}

void ZNLColorsLibraryItem::shadeViewClicked(ZNLShadeView& view, const NSColorRef& color) {
    if (mode_ != ZNLColorsLibraryItemMode::shades) return;
    if (auto d = delegate.lock()) d->shadeViewClicked(view, color);
}

void ZNLColorsLibraryItem::mouseUp(NSEvent& event) {
    if (event.clickCount != 2) {
        NSCollectionViewItem::mouseUp(event);
        return;
    }
    if (!format || !colorItem) return;
    auto& shell = LibraryShell::shared();
    auto color = colorWithHex(colorItem->color());
    if (!color) return;
    const auto text = formatted(*color, *format, colorItem->displayName());
    copyToPasteboard(text);
    if (shell.ignoreOwnCopy) shell.ignoreOwnCopy();
    Foundation::printLine("now");
    auto origin = shell.statusItemOrigin ? shell.statusItemOrigin() : std::nullopt;
    Foundation::printLine("now1");
    if (!origin) return;
    if (shell.showFloatingColor)
        shell.showFloatingColor(formatted(*color, *format, colorItem->displayName()), color, false, origin->x,
                                origin->y);
    NSCollectionViewItem::mouseUp(event);
}

void ZNLColorsLibraryItem::setHighlightState(NSCollectionViewItemHighlightState state) {
    highlightState = state;
    if (state != NSCollectionViewItemHighlightState::forSelection) return;
    auto layer = view()->layer();
    if (!layer) return;
    layer->borderColor = toRGBA(NSColor::colorWithDeviceRed(0.94, 0.55, 0.38, 1.0));
    layer->borderWidth = 4;
}

void ZNLColorsLibraryItem::setSelected(bool selected) {
    NSCollectionViewItem::setSelected(selected);
    auto layer = view()->layer();
    if (!layer) return;
    if (selected) {
        layer->borderColor = toRGBA(NSColor::colorWithDeviceRed(0.82, 0.82, 0.82, 1.0));
        layer->borderWidth = 4;
    } else {
        layer->borderWidth = 0;
    }
}

}  // namespace Vexil::Views
