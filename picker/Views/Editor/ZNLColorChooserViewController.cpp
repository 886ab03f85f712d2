#include "picker/Views/Editor/ZNLColorChooserViewController.h"

#include <algorithm>
#include <regex>

#include "Platform/AppKit/NSAlert.h"
#include "Platform/AppKit/NSApplication.h"
#include "Platform/Foundation/Diagnostics.h"
#include "picker/Colors/CNColorNames.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Colors/Randoms.h"
#include "picker/Library/ZNLColorsLibrary.h"
#include "picker/Views/Editor/UsageEvents.h"

using namespace AppKit;

namespace {

std::string integerText(double x) { return std::to_string(static_cast<long>(x)); }

double unit(double x) { return std::clamp(x, 0.0, 1.0); }

NSColorRef rgb(double r, double g, double b, double a = 1) { return NSColor::colorWithCalibratedRed(r, g, b, a); }
NSColorRef hsb(double h, double s, double b) { return NSColor::colorWithCalibratedHue(h, s, b, 1); }

}  // namespace

std::string widenedHex(const std::string& text) {
    if (text.size() != 4 || text[0] != '#') return text;
    std::string out = "#";
    for (std::size_t i = 1; i < 4; ++i) out += std::string(2, text[i]);
    return out;
}

std::shared_ptr<ZNLColorChooserViewController> ZNLColorChooserViewController::create(
    const NSColorRef& color, std::shared_ptr<ZNLColorItem> item, std::weak_ptr<ZNLColorChooserDelegate> owner) {
    auto editor = std::make_shared<ZNLColorChooserViewController>();
    editor->color = color;
    editor->refreshColorDisplay();
    editor->originalColor = color;
    editor->znlColor = std::move(item);
    editor->delegate = std::move(owner);
    trackUsageEvent("Start Creating Color");
    return editor;
}

std::shared_ptr<EditorWindowProducer> ZNLColorChooserViewController::open(const NSColorRef& color,
                                                                          std::shared_ptr<ZNLColorItem> item,
                                                                          std::weak_ptr<ZNLColorChooserDelegate> owner,
                                                                          std::optional<CGPoint> origin) {
    auto producer = EditorWindowProducer::make();
    auto editor = create(color, std::move(item), std::move(owner));
    std::weak_ptr<EditorWindowProducer> weakProducer = producer;
    editor->closeOwnWindow_ = [weakProducer] {
        if (auto p = weakProducer.lock()) p->close();
    };
    producer->viewController = editor;
    producer->show(origin);
    return producer;
}

void ZNLColorChooserViewController::closeWindow() {
    if (closeOwnWindow_) {
        closeOwnWindow_();
    } else if (isViewLoaded()) {
        if (auto w = view()->window()) w->close();
    }
}

std::shared_ptr<NSButton> ZNLColorChooserViewController::buttonForAction(const std::string& actionName) const {
    for (auto& b : buttons)
        if (b->actionName == actionName) return b;
    return nullptr;
}

// The editor's layout (its interface file).
void ZNLColorChooserViewController::loadView() {
    auto root = NSView::make(CGRectMake(0, 0, 480, 440));
    std::weak_ptr<NSViewController> weak = self();
    auto me = [weak] { return std::static_pointer_cast<ZNLColorChooserViewController>(weak.lock()); };

    colorView = NSView::make(CGRectMake(20, 290, 120, 120));
    root->addSubview(colorView);
    colorNameField = NSTextField::textFieldWithString("");
    colorNameField->setFrame(CGRectMake(160, 388, 300, 22));
    root->addSubview(colorNameField);
    hexValue = NSTextField::textFieldWithString("");
    hexValue->setFrame(CGRectMake(160, 356, 110, 22));
    root->addSubview(hexValue);
    segmentedControl = NSSegmentedControl::segmentedControlWithLabels(
        {"RGB", "HSB", "HSL"}, NSSegmentSwitchTracking::selectOne, [me](NSControl&) {
            if (auto e = me()) e->handleColorSpaceChange();
        });
    segmentedControl->actionName = "handleColorSpaceChange:";
    segmentedControl->setFrame(CGRectMake(290, 356, 170, 22));
    segmentedControl->setSelectedSegment(0);
    root->addSubview(segmentedControl);

    auto row = [&](double y, std::shared_ptr<NSTextField>& caption, std::shared_ptr<NSSlider>& slider,
                   std::shared_ptr<NSTextField>& value, const std::string& text) {
        caption = NSTextField::labelWithString(text);
        caption->setFrame(CGRectMake(20, y, 80, 18));
        root->addSubview(caption);
        slider = NSView::make<NSSlider>(CGRectMake(104, y - 2, 300, 22));
        slider->setCell(std::make_shared<RYGradientSliderCell>());
        slider->maxValue = 255;
        slider->continuous = true;
        slider->actionName = "handleSliderChange:";
        slider->action = [me](NSControl&) {
            if (auto e = me()) e->handleSliderChange();
        };
        root->addSubview(slider);
        value = NSTextField::labelWithString("");
        value->setFrame(CGRectMake(410, y, 50, 18));
        value->alignment = NSTextAlignment::right;
        root->addSubview(value);
    };
    row(256, firstLabel, firstSlider, firstValueLabel, "Red");
    row(226, secondLabel, secondSlider, secondValueLabel, "Green");
    row(196, thirdLabel, thirdSlider, thirdValueLabel, "Blue");
    row(166, alphaLabel, alphaSlider, fourdValueLabel, "Alpha");
    adjustColorBox = NSView::make(CGRectMake(10, 156, 460, 130));

    tabBar = NSView::make<RCTabControl>(CGRectMake(20, 122, 440, 24));
    tabBar->spacing = 0;
    struct Tab {
        std::string title;
        long tag;
        double width;
    };
    const std::vector<Tab> tabs = {{"Shades", 4, 70},
                                   {"Analogous", 0, 88},
                                   {"Monochromatic", 1, 116},
                                   {"Triad", 2, 56},
                                   {"Complementary", 3, 110}};
    double x = 0;
    for (const auto& [title, tag, width] : tabs) {
        auto b = NSButton::buttonWithTitle(title, nullptr);
        b->setButtonType(NSButtonType::pushOnPushOff);
        b->bordered = false;
        b->tag = tag;
        b->setFrame(CGRectMake(x, 0, width, 24));
        if (tag == 4) b->setState(NSControlStateValueOn);
        x += width;
        tabBar->addSubview(b);
    }
    root->addSubview(tabBar);

    stackView = NSView::make<ZNLStackView>(CGRectMake(20, 60, 440, 52));
    root->addSubview(stackView);

    moreMenu = NSMenu::make();
    auto item = [&](const std::string& title, std::function<void(ZNLColorChooserViewController&)> fn) {
        moreMenu->addItemWithTitle(
            title,
            [me, fn](NSMenuItem&) {
                if (auto e = me()) fn(*e);
            },
            "");
    };
    item("Save", [](auto& e) { e.save(); });
    item("Save Shades as Palette", [](auto& e) { e.savePalette(); });
    item("Palette Generator", [](auto& e) { e.showPaletteGenerator(); });
    item("Back to Original", [](auto& e) { e.undo(); });
    item("Cancel", [](auto& e) { e.cancel(); });

    auto button = [&](const std::string& title, const std::string& actionName, CGRect frame,
                      std::function<void(ZNLColorChooserViewController&, NSControl&)> fn) {
        auto b = NSButton::buttonWithTitle(title, [me, fn](NSControl& sender) {
            if (auto e = me()) fn(*e, sender);
        });
        b->actionName = actionName;
        b->setFrame(frame);
        root->addSubview(b);
        buttons.push_back(b);
    };
    button("More", "moreButtonAction:", CGRectMake(20, 16, 70, 26),
           [](auto& e, NSControl& s) { e.moreButtonAction(&s); });
    button("Undo", "undo:", CGRectMake(100, 16, 70, 26), [](auto& e, NSControl&) { e.undo(); });
    button("Cancel", "cancel:", CGRectMake(290, 16, 80, 26), [](auto& e, NSControl&) { e.cancel(); });
    button("Save", "save:", CGRectMake(380, 16, 80, 26), [](auto& e, NSControl&) { e.save(); });
    setView(root);
}

void ZNLColorChooserViewController::viewDidLoad() {
    view()->setWantsLayer(true);
    tabBar->setUp();
    colorView->setWantsLayer(true);
    colorView->layer()->backgroundColor = toRGBA(color);
    updateNameField();
    showRGB();
    hexValue->setStringValue(color ? hexRGB(*color) : "");
    showShades();
    hexValue->delegate = std::dynamic_pointer_cast<NSTextFieldDelegate>(shared_from_this());
    stackView->setWantsLayer(true);
    stackView->layer()->cornerRadius = 4.0;
    stackView->layer()->masksToBounds = true;
    tabBar->tabDelegate = std::dynamic_pointer_cast<RCTabControlDelegate>(shared_from_this());
}

void ZNLColorChooserViewController::updateNameField() {
    if (!colorNameField) return;
    if (znlColor && !znlColor->colorName().empty()) {
        colorNameField->setStringValue(znlColor->colorName());
    } else if (color) {
        if (auto name = sharedColorNames().nameForColor(*color)) colorNameField->setStringValue(*name);
    }
}

void ZNLColorChooserViewController::refreshColorDisplay() {
    if (!isViewLoaded() || !color) return;
    if (colorView && colorView->layer()) colorView->layer()->backgroundColor = toRGBA(color);
    if (colorView) colorView->setNeedsDisplay();
    if (updateHex && hexValue) hexValue->setStringValue(hexRGBA(*color));
    if (colorNameField)
        if (auto name = sharedColorNames().nameForColor(*color)) colorNameField->setStringValue(*name);
}

void ZNLColorChooserViewController::setColor(const NSColorRef& newColor) {
    if (!newColor) return;
    color = newColor;
    refreshColorDisplay();
    if (!isViewLoaded()) return;
    switch (segmentedControl->selectedSegment()) {
        case 1:
            showHSB(true);
            break;
        case 2:
            showHSL(true);
            break;
        default:
            showRGB();
            break;
    }
    reloadRow();
}

void ZNLColorChooserViewController::handleColorSpaceChange() {
    switch (segmentedControl->selectedSegment()) {
        case 0:
            showRGB();
            break;
        case 1:
            showHSB(true);
            break;
        default:
            showHSL(true);
            break;
    }
}

void ZNLColorChooserViewController::setTrack(NSSlider& slider, bool rainbow, const NSColorRef& min,
                                             const NSColorRef& max) {
    auto cell = std::dynamic_pointer_cast<RYGradientSliderCell>(slider.cell());
    if (!cell) return;
    cell->setHasRainbow(rainbow);
    if (min) cell->setMinColor(min);
    if (max) cell->setMaxColor(max);
}

void ZNLColorChooserViewController::markSlidersForDisplay() {
    for (auto* s : {firstSlider.get(), secondSlider.get(), thirdSlider.get(), alphaSlider.get()}) s->setNeedsDisplay();
}

void ZNLColorChooserViewController::showRGB() {
    trackUsageEvent("Use RGB Color Space");
    colorSpace = ZNLColorSpace::rgba;
    if (!color || !isViewLoaded()) return;
    firstLabel->setStringValue("Red");
    secondLabel->setStringValue("Green");
    thirdLabel->setStringValue("Blue");
    const auto c = rgbaComponents(*color);
    firstSlider->maxValue = 255;
    secondSlider->maxValue = 255;
    thirdSlider->maxValue = 255;
    const int R = static_cast<int>(255 * c.red), G = static_cast<int>(255 * c.green),
              B = static_cast<int>(255 * c.blue), A = static_cast<int>(255 * c.alpha);
    firstSlider->setIntValue(R);
    secondSlider->setIntValue(G);
    thirdSlider->setIntValue(B);
    alphaSlider->setIntValue(A);
    firstValueLabel->setStringValue(std::to_string(R));
    secondValueLabel->setStringValue(std::to_string(G));
    thirdValueLabel->setStringValue(std::to_string(B));
    fourdValueLabel->setStringValue(std::to_string(A));
    setTrack(*firstSlider, false, rgb(0, c.green, c.blue), rgb(1, c.green, c.blue));
    setTrack(*secondSlider, false, rgb(c.red, 0, c.blue), rgb(c.red, 1, c.blue));
    setTrack(*thirdSlider, false, rgb(c.red, c.green, 0), rgb(c.red, c.green, 1));
    setTrack(*alphaSlider, false, rgb(c.red, c.green, c.blue, 0), rgb(c.red, c.green, c.blue, 1));
    markSlidersForDisplay();
}

void ZNLColorChooserViewController::showHSB(bool updateSliders) {
    trackUsageEvent("Use HSB Color Space");
    colorSpace = ZNLColorSpace::hsba;
    if (!color || !isViewLoaded()) return;
    firstLabel->setStringValue("Hue");
    secondLabel->setStringValue("Saturation");
    thirdLabel->setStringValue("Brightness");
    const auto c = hsbComponents(*color);
    const auto rgbC = rgbaComponents(*color);
    firstSlider->maxValue = 359;
    secondSlider->maxValue = 100;
    thirdSlider->maxValue = 100;
    const int H = static_cast<int>(360 * c.hue), S = static_cast<int>(100 * c.saturation),
              V = static_cast<int>(100 * c.brightness), A = static_cast<int>(255 * c.alpha);
    if (updateSliders) {
        firstSlider->setIntValue(H);
        secondSlider->setIntValue(S);
        thirdSlider->setIntValue(V);
        alphaSlider->setIntValue(A);
    }
    firstValueLabel->setStringValue(std::to_string(H));
    secondValueLabel->setStringValue(std::to_string(S));
    thirdValueLabel->setStringValue(std::to_string(V));
    fourdValueLabel->setStringValue(std::to_string(A));
    setTrack(*firstSlider, true, hsb(0, c.saturation, c.brightness), nullptr);
    setTrack(*secondSlider, false, hsb(c.hue, 0, c.brightness), hsb(c.hue, 1, c.brightness));
    setTrack(*thirdSlider, false, hsb(c.hue, c.saturation, 0), hsb(c.hue, c.saturation, 1));
    setTrack(*alphaSlider, false, rgb(rgbC.red, rgbC.green, rgbC.blue, 0), rgb(rgbC.red, rgbC.green, rgbC.blue, 1));
    markSlidersForDisplay();
}

void ZNLColorChooserViewController::showHSL(bool updateSliders) {
    trackUsageEvent("Use HSL Color Space");
    colorSpace = ZNLColorSpace::hsl;
    if (!color || !isViewLoaded()) return;
    firstLabel->setStringValue("Hue");
    secondLabel->setStringValue("Saturation");
    thirdLabel->setStringValue("Lightness");
    double h = 0, s = 0, l = 0, a = 0;
    getH(*color, &h, &s, &l, &a);
    const auto rgbC = rgbaComponents(*color);
    firstSlider->maxValue = 359;
    secondSlider->maxValue = 100;
    thirdSlider->maxValue = 100;
    const int H = static_cast<int>(360 * h), S = static_cast<int>(100 * s), L = static_cast<int>(100 * l),
              A = static_cast<int>(255 * a);
    if (updateSliders) {
        firstSlider->setIntValue(H);
        secondSlider->setIntValue(S);
        thirdSlider->setIntValue(L);
        alphaSlider->setIntValue(A);
    }
    // At lightness 0 or 1 hue and saturation say nothing: the labels keep theirs.
    if (l != 0 && l != 1) {
        firstValueLabel->setStringValue(std::to_string(H));
        secondValueLabel->setStringValue(std::to_string(S) + "%");
    }
    thirdValueLabel->setStringValue(std::to_string(L) + "%");
    fourdValueLabel->setStringValue(std::to_string(A));
    setTrack(*firstSlider, true, hsb(0, s, l), nullptr);
    setTrack(*secondSlider, false, colorWithHueSaturationLightness(h, 0, l, 1),
             colorWithHueSaturationLightness(h, 1, l, 1));
    setTrack(*thirdSlider, false, colorWithHueSaturationLightness(h, s, 0, 1),
             colorWithHueSaturationLightness(h, s, 0.99, 1));
    if (auto cell = std::dynamic_pointer_cast<RYGradientSliderCell>(thirdSlider->cell())) cell->updateLightnessColors();
    setTrack(*alphaSlider, false, rgb(rgbC.red, rgbC.green, rgbC.blue, 0), rgb(rgbC.red, rgbC.green, rgbC.blue, 1));
    markSlidersForDisplay();
}

void ZNLColorChooserViewController::handleSliderChange() { sliderChanged(); }

void ZNLColorChooserViewController::sliderChanged() {
    if (!isViewLoaded()) return;
    updateHex = true;
    const double p1 = firstSlider->floatValue(), p2 = secondSlider->floatValue(), p3 = thirdSlider->floatValue(),
                 p4 = alphaSlider->floatValue();
    switch (colorSpace) {
        case ZNLColorSpace::rgba:
            setColor(rgb(p1 / 255, p2 / 255, p3 / 255, p4 / 255));
            showRGB();
            reloadRow();
            break;
        case ZNLColorSpace::hsba:
        case ZNLColorSpace::hsl: {
            firstValueLabel->setStringValue(integerText(p1));
            secondValueLabel->setStringValue(integerText(p2));
            thirdValueLabel->setStringValue(integerText(p3));
            fourdValueLabel->setStringValue(integerText(p4));
            // Positions outside the sliders' scale (an alpha slider of another
            // range) must not make components outside 0..1.
            const double h = unit(p1 / 360), s = unit(p2 / 100), v = unit(p3 / 100), a = unit(p4 / 255);
            const bool isHSB = colorSpace == ZNLColorSpace::hsba;
            color = isHSB ? NSColor::colorWithCalibratedHue(h, s, v, a) : colorWithHueSaturationLightness(h, s, v, a);
            refreshColorDisplay();
            reloadRow();
            if (isHSB)
                showHSB(false);
            else
                showHSL(false);
            reloadRow();
            break;
        }
    }
}

bool ZNLColorChooserViewController::applyHexField(const std::string& raw) {
    std::string text = raw.empty() || raw[0] != '#' ? "#" + raw : raw;
    static const std::regex pattern("^#([A-Fa-f0-9]{6}|[A-Fa-f0-9]{3})$");
    if (!std::regex_match(text, pattern)) return false;
    auto parsed = colorWithHexRGB(widenedHex(text));
    updateHex = false;
    setColor(parsed);
    return true;
}

void ZNLColorChooserViewController::controlTextDidChange(NSTextField& field) {
    if (&field != hexValue.get()) return;
    applyHexField(field.stringValue());
}

void ZNLColorChooserViewController::undo() { setColor(originalColor); }

void ZNLColorChooserViewController::saveColor() {
    trackUsageEvent("Created Color");
    auto owner = delegate.lock();
    if (owner && color && colorNameField) owner->colorChooserDidSave(color, colorNameField->stringValue(), *this);
    if (closesOwnWindow_) closeWindow();
}

void ZNLColorChooserViewController::cancel() {
    if (auto owner = delegate.lock()) owner->colorChooserDidCancel(*this);
    if (closesOwnWindow_) closeWindow();
}

void ZNLColorChooserViewController::moreButtonAction(NSView* sender) {
    auto event = NSApplication::shared().currentEvent();
    if (!event || !moreMenu) return;
    NSMenu::popUpContextMenu(moreMenu, *event, sender);
}

bool ZNLColorChooserViewController::savePaletteFolder() {
    return savePaletteFolder(paletteColors, Faker("en").name.firstName());
}

bool ZNLColorChooserViewController::savePaletteFolder(const std::vector<NSColorRef>& colors, const std::string& name) {
    auto& library = ZNLColorsLibrary::shared();
    std::shared_ptr<ZNLColorFolder> created;
    if (auto folderId = ZNLColorFolder::nextFolderId()) {
        auto folder = std::make_shared<ZNLColorFolder>();
        folder->setFolderName(name);
        folder->setIsDefault(false);
        folder->setOrder(1);
        folder->setFolderId(*folderId);
        created = library.folderService().create(folder);
    }
    if (!created) {
        NSAlert alert;
        alert.messageText = "Palette cannot be saved";
        alert.alertStyle = NSAlertStyle::warning;
        alert.addButtonWithTitle("Ok");
        alert.runModal();
        return false;
    }
    for (const auto& c : colors)
        if (c) library.addColor(hexRGBA(*c), created);
    return true;
}

void ZNLColorChooserViewController::openPaletteGenerator() {
    auto generator = std::make_shared<ZNLPaletteGenerator>();
    generator->delegate = std::dynamic_pointer_cast<ZNLPaletteGeneratorDelegate>(shared_from_this());
    generator->color = color;
    paletteWindow->viewController = generator;
    paletteWindow->show();
}

void ZNLColorChooserViewController::paletteGeneratorDidClose(ZNLPaletteGenerator&) { paletteWindow->close(); }

void ZNLColorChooserViewController::paletteGeneratorDidApply(const std::vector<NSColorRef>& colors,
                                                             const std::string& name, ZNLPaletteGenerator&) {
    if (savePaletteFolder(colors, name)) paletteWindow->close();
}

void ZNLColorChooserViewController::shadeViewClicked(ZNLShadeView&, const NSColorRef& shade) {
    openEditorForShade(shade);
}

std::shared_ptr<EditorWindowProducer> ZNLColorChooserViewController::openEditorForShade(const NSColorRef& shade) {
    if (!shade) return nullptr;
    auto producer = EditorWindowProducer::make();
    Foundation::printLine(hexRGB(*shade));
    auto editor = create(shade, std::make_shared<ZNLColorItem>(), delegate);
    std::weak_ptr<EditorWindowProducer> weakProducer = producer;
    editor->closeOwnWindow_ = [weakProducer] {
        if (auto p = weakProducer.lock()) p->close();
    };
    editor->closesOwnWindow_ = true;
    producer->viewController = editor;
    std::optional<CGPoint> origin;
    if (isViewLoaded())
        if (auto w = view()->window()) origin = CGPoint{w->frame().origin.x + 20, w->frame().origin.y - 20};
    producer->show(origin);
    return producer;
}

void ZNLColorChooserViewController::showColors(const std::vector<NSColorRef>& colors) {
    paletteColors = colors;
    if (!stackView) return;
    stackView->removeAllViews();
    // A row not laid out yet has no width: lay it out before dividing it.
    if (auto* parent = stackView->superview()) parent->layoutSubtreeIfNeeded();
    const double width = colors.empty() ? 0 : stackView->bounds().width() / static_cast<double>(colors.size());
    auto me = std::dynamic_pointer_cast<ZNLShadeViewDelegate>(shared_from_this());
    for (const auto& c : colors) {
        auto swatch = ZNLShadeView::create(c, ColorFormat::builtIn());
        if (!swatch) continue;
        swatch->highlightable = colors.size() > 1;
        swatch->delegate = me;
        swatch->setColor(c);
        swatch->colorItem = znlColor;
        swatch->translatesAutoresizingMaskIntoConstraints = false;
        stackView->addSubview(swatch);
        stackView->addView(swatch, width);
        stackView->views.push_back(swatch);
    }
    stackView->layoutSubtreeIfNeeded();
}

void ZNLColorChooserViewController::showShades() {
    if (!color) return;
    std::vector<NSColorRef> tints{color};
    for (int i = 1; i < 5; ++i) tints.push_back(blended(*tints.back(), *NSColor::whiteColor(), 0.25));
    std::reverse(tints.begin(), tints.end());
    tints.pop_back();
    std::vector<NSColorRef> row = tints;
    for (int i = 1; i <= 6; ++i) {
        const auto c = hsbComponents(*color);
        row.push_back(
            NSColor::colorWithCalibratedHue(c.hue, c.saturation + 0.05 * i, c.brightness - 0.05 * i, c.alpha));
    }
    showColors(row);
}

void ZNLColorChooserViewController::showScheme(ColorScheme s) {
    if (!color) return;
    const auto c = hsbComponents(*color);
    const auto colors = colorsForScheme(static_cast<long>(s), c.hue, c.saturation, c.brightness, c.alpha);
    showColors(std::vector<NSColorRef>(colors.begin(), colors.end()));
}

void ZNLColorChooserViewController::reloadRow() {
    if (stackView) stackView->removeAllViews();
    if (scheme)
        showScheme(*scheme);
    else
        showShades();
}

void ZNLColorChooserViewController::schemeTabSelected(long tag) {
    auto chosen = colorSchemeFromRawValue(tag);
    if (!chosen) {
        scheme.reset();
        showShades();
        return;
    }
    scheme = chosen;
    showScheme(*chosen);
    auto v = view();
    const CGRect b = v->bounds();
    // The guide as drawn: two move-to points, no segment between them.
    QuartzCore::CGPath path;
    path.moveTo({20, b.maxY() + 3});
    path.moveTo({b.maxX(), b.maxY() + 3});
    lineShape->path = path;
    lineShape->setFrame(CGRectMake(0, 0, b.width(), b.height()));
    lineShape->lineWidth = 14;
    lineShape->strokeColor = toRGBA(NSColor::redColor());
    v->setWantsLayer(true);
    if (lineShape->superlayer() != v->layer().get()) v->layer()->addSublayer(lineShape);
    v->layer()->setNeedsDisplay();
    lineShape->setNeedsDisplay();
}
