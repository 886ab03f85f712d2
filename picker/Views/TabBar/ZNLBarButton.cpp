#include "picker/Views/TabBar/ZNLBarButton.h"

#include "Platform/AppKit/Dragging.h"
#include "Platform/AppKit/NSWindow.h"
#include "Platform/Foundation/Bundle.h"
#include "Platform/Foundation/Dispatch.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Views/Controls/ConstraintMaker.h"
#include "picker/Views/Controls/ThemeManager.h"
#include "picker/Views/TabBar/ZNLPasteboardItem.h"
#include "picker/Views/TabBar/ZNLTabBar.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace Vexil::Views {
using namespace AppKit;

namespace {

const double kFontSize = 13;
// Where the title's frame starts, whatever the image beside it.
const double kTitleX = 11;

bool isDark() { return ThemeManager::systemTheme().isDark; }
NSColorRef grey(double g) { return NSColor::colorWithRed(g, g, g, 1); }

// The bundle's format list in file order; empty when missing or unreadable.
std::vector<ColorFormat> bundleFormats() {
    auto path = Foundation::Bundle::main().pathForResource("formats", "json");
    if (!path) return {};
    std::ifstream in(*path, std::ios::binary);
    if (!in) return {};
    Foundation::Data data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    try {
        return Formats::decode(data).formats.value_or(std::vector<ColorFormat>{});
    } catch (const FormatListError&) {
        return {};
    }
}

}  // namespace

void setTitleStyle(NSButton& button, const NSColorRef& color, const NSFontRef& font) {
    button.attributedTitle = NSAttributedString(button.title(), font, color);
    button.setNeedsDisplay();
}

NSImageRef tagCircle(const NSColorRef& color, double width, double height) {
    const RGBA fill = toRGBA(color);
    auto strokeColor = color ? lightened(*color, -10) : nullptr;
    const bool stroke = strokeColor != nullptr;
    const RGBA line = stroke ? toRGBA(strokeColor) : RGBA{};
    return NSImage::imageWithSize({width, height}, false, [=](CGRect, CoreGraphics::DrawingContext& ctx) {
        const CGRect oval = CGRectMake(4, 4, width - 8, height - 8);
        ctx.fillEllipse(oval, fill);
        if (stroke) ctx.strokeEllipse(oval, line, 1);
        return true;
    });
}

std::shared_ptr<ZNLBarButton> ZNLBarButton::selfTab() { return std::static_pointer_cast<ZNLBarButton>(self()); }

void ZNLBarButton::didInit() {
    NSButton::didInit();
    setWantsLayer(true);
    layer()->backgroundColor = toRGBA(NSColor::clearColor());
    setButtonType(NSButtonType::radio);
    layer()->cornerRadius = cornerRadius;
    bordered = false;
    setTitleStyle(*this, NSColor::whiteColor(), NSFont::systemFontOfSize(kFontSize));
    if (auto dot = NSImage::imageNamed(NSImageNameStatusNone)) setImage(dot->tintedCopy(ZNLTabBar::defaultTagColor()));
    imagePosition = NSCellImagePosition::imageLeft;
    setUpTextField();
    alignment = NSTextAlignment::left;
    registerForDraggedTypes({kColorDragType});
}

void ZNLBarButton::setUpTextField() {
    textField = NSView::make<NSTextField>();
    textField->setHidden(true);
    textField->maximumNumberOfLines = 1;
    addSubview(textField);
    textField->drawsBackground = true;
    textField->backgroundColor = NSColor::textBackgroundColor();
    textField->textColor = NSColor::textColor();
    makeConstraints(*textField, [&](ConstraintMaker& make) {
        make.edges().equalTo(*this);
        make.width().greaterThanOrEqualTo(32);
    });
    textField->delegate = selfTab();
}

void ZNLBarButton::setUpDropDown() {
    buttonRight = NSView::make<ZNDropDownButton>();
    buttonRight->bezelStyle = NSBezelStyle::shadowlessSquare;
    buttonRight->bordered = false;
    buttonRight->setButtonType(NSButtonType::momentaryLight);
    buttonRight->delegate = selfTab();
    if (auto arrow = NSImage::imageNamed("arrow_down")) {
        auto tinted = arrow->tintedCopy(isDark() ? NSColor::whiteColor() : NSColor::darkGrayColor());
        tinted->isTemplate = arrow->isTemplate;  // a tinted copy keeps the template flag
        buttonRight->setImage(tinted);
    }
    buttonRight->imageScaling = NSImageScaling::proportionallyDown;
    buttonRight->menu = contextMenu;
    buttonRight->relativeView = self();
    addSubview(buttonRight);
    sizeToFit();
    makeConstraints(*buttonRight, [&](ConstraintMaker& make) {
        make.right().equalTo(*this);
        make.bottom().equalTo(*this);
        make.top().equalTo(*this);
        make.width().equalTo(19);
    });
}

// --- looks ---------------------------------------------------------------------------------

void ZNLBarButton::applySelectedLook() {
    setWantsLayer(true);
    layer()->backgroundColor = toRGBA(isDark() ? grey(0.76) : grey(0.6));
    setTitleStyle(*this, isDark() ? grey(0.27) : NSColor::whiteColor(), NSFont::systemFontOfSize(kFontSize));
}

void ZNLBarButton::applyNormalLook() {
    setWantsLayer(true);
    layer()->backgroundColor = toRGBA(NSColor::clearColor());
    setTitleStyle(*this, isDark() ? NSColor::whiteColor() : NSColor::blackColor(), NSFont::systemFontOfSize(kFontSize));
}

void ZNLBarButton::applyHoverLook() {
    setWantsLayer(true);
    layer()->backgroundColor = toRGBA(NSColor::colorWithRed(0.52, 0.53, 0.53, 1));
    setTitleStyle(*this, NSColor::whiteColor(), NSFont::systemFontOfSize(kFontSize));
}

void ZNLBarButton::restyle() {
    if (state() == NSControlStateValueOn)
        applySelectedLook();
    else if (mouseOver)
        applyHoverLook();
    else
        applyNormalLook();
}

void ZNLBarButton::setState(NSControlStateValue value) {
    NSButton::setState(value);
    restyle();
}

CGSize ZNLBarButton::intrinsicContentSize() const {
    // The image stands in for the radio mark: no box beside it.
    double w = 0, h = 0;
    if (image_) {
        w = image_->size().width;
        h = image_->size().height;
    }
    if (!title_.empty()) {
        CGSize t = font->sizeOfString(title_);
        w += t.width + (image_ ? 4 : 0);
        h = std::max(h, t.height);
    }
    return {std::ceil(w), std::ceil(h)};
}

void ZNLBarButton::drawRect(CGRect, CoreGraphics::DrawingContext& ctx) {
    const CGRect b = bounds();
    double imageRight = 0;
    if (image_) {
        CGSize is = image_->size();
        if ((is.width > b.width() || is.height > b.height()) && is.width > 0 && is.height > 0) {
            double k = std::min(b.width() / is.width, b.height() / is.height);
            is = {is.width * k, is.height * k};
        }
        image_->drawInRect(ctx, CGRectMake(0, b.midY() - is.height / 2, is.width, is.height));
        imageRight = is.width + 4;
    }
    if (title_.empty()) return;
    NSFontRef titleFont = font;
    RGBA color{0, 0, 0, 1};
    if (attributedTitle && !attributedTitle->runs().empty()) {
        const auto& run = attributedTitle->runs().front();
        if (run.font) titleFont = run.font;
        if (run.color) color = toRGBA(run.color);
    }
    // The title's frame beside the image, moved to start at kTitleX; the title is centred in it.
    const CGSize t = titleFont->sizeOfString(title_);
    const CGRect frame = CGRectMake(kTitleX, b.midY() - t.height / 2, std::max(0.0, b.width() - imageRight), t.height);
    ctx.drawText(title_, frame, titleFont->spec(), color, CoreGraphics::TextAlignment::Center);
}

// --- pointer -------------------------------------------------------------------------------

void ZNLBarButton::updateTrackingAreas() {
    NSButton::updateTrackingAreas();
    if (!trackingArea)
        trackingArea = NSTrackingArea::make(
            CGRect{}, NSTrackingMouseEnteredAndExited | NSTrackingActiveAlways | NSTrackingInVisibleRect, selfTab());
    const auto& areas = trackingAreas();
    if (std::find(areas.begin(), areas.end(), trackingArea) == areas.end()) addTrackingArea(trackingArea);
}

void ZNLBarButton::mouseEntered(NSEvent&) {
    mouseOver = true;
    if (state() == NSControlStateValueOn)
        applySelectedLook();
    else
        applyHoverLook();
}

void ZNLBarButton::mouseExited(NSEvent&) {
    mouseOver = false;
    if (state() == NSControlStateValueOn)
        applySelectedLook();
    else
        applyNormalLook();
}

void ZNLBarButton::rightMouseDown(NSEvent& event) {
    buildContextMenu();
    NSMenu::popUpContextMenu(contextMenu, event, this);
}

// --- context menu --------------------------------------------------------------------------

namespace {

// A menu item whose action reaches the tab while it lives (the tab owns the menu).
NSMenuItemRef tabItem(const std::shared_ptr<ZNLBarButton>& tab, std::string title, std::string selector,
                      std::function<void(ZNLBarButton&, NSMenuItem&)> act) {
    std::weak_ptr<ZNLBarButton> weak = tab;
    auto item = NSMenuItem::make(std::move(title), [weak, act = std::move(act)](NSMenuItem& sender) {
        if (auto t = weak.lock()) act(*t, sender);
    });
    item->actionName = std::move(selector);
    return item;
}

}  // namespace

void ZNLBarButton::buildContextMenu() {
    if (contextMenu) return;
    auto me = selfTab();
    contextMenu = NSMenu::make("Menu");
    contextMenu->insertItem(
        tabItem(me, "Rename", "handleRenameMenuItemWithSender:", [](ZNLBarButton& t, NSMenuItem&) { t.beginRename(); }),
        0);
    contextMenu->insertItem(tabItem(me, "Delete", "handleRemoveMenuItemWithSender:",
                                    [](ZNLBarButton& t, NSMenuItem&) { t.removeFolder(); }),
                            1);
    contextMenu->addItem(NSMenuItem::separatorItem());

    auto exportMenu = NSMenu::make("Export");
    auto exportItem = NSMenuItem::make("Export");
    auto add = [&](NSMenuItemRef item, const std::string& image, long tag = 0) {
        item->image = NSImage::imageNamed(image);
        item->tag = tag;
        exportMenu->addItem(std::move(item));
    };
    add(tabItem(me, "Apple Color Palette\u2026",
                "handleExportMenuItemWithSender:", [](ZNLBarButton& t, NSMenuItem&) { t.exportColorList(); }),
        "list");
    add(tabItem(me, "Adobe Swatch Exchange\u2026",
                "handleAdobeExportMenuItemWithSender:", [](ZNLBarButton& t, NSMenuItem&) { t.exportSwatchExchange(); }),
        "list");
    auto code = [&](const std::string& title, long tag, const std::string& image) {
        add(tabItem(me, title, "exportWithSender:", [](ZNLBarButton& t, NSMenuItem& s) { t.exportFormat(s.tag); }),
            image, tag);
    };
    exportMenu->addItem(NSMenuItem::separatorItem());
    code("Swift Extension (UIColor)\u2026", 3, "swift");
    code("Swift Extension (NSColor)\u2026", 1, "swift");
    exportMenu->addItem(NSMenuItem::separatorItem());
    code("Obj-C Category (UIColor)\u2026", 2, "objc");
    code("Obj-C Category (NSColor)\u2026", 0, "objc");
    exportMenu->addItem(NSMenuItem::separatorItem());
    code("HyperText Markup Language (.html)\u2026", 4, "pdf");
    contextMenu->addItem(exportItem);
    exportItem->setSubmenu(exportMenu);

    if (auto row = ZNLTagMenuItem::loadFromNib()) {
        contextMenu->addItem(NSMenuItem::separatorItem());
        row->delegate = me;
        auto rowItem = NSMenuItem::make("");
        rowItem->view = row;
        contextMenu->addItem(rowItem);
        contextMenu->addItem(NSMenuItem::separatorItem());
    }

    const std::int64_t id = [&] {
        auto d = delegate.lock();
        return d ? d->formatIdForFolder(*this, kRequestingTab) : 1;
    }();
    std::optional<ColorFormat> format;
    try {
        format = loadColorFormat(id);
    } catch (const FormatListError&) {
        return;  // no format item
    }
    if (!format) format = ColorFormat::builtIn();
    languageMenu = NSMenu::make(format->name);
    buildFormatMenu();
    lanugagesSubItem = NSMenuItem::make(format->name);
    lanugagesSubItem->image = NSImage::imageNamed(format->image);
    contextMenu->addItem(lanugagesSubItem);
    lanugagesSubItem->setSubmenu(languageMenu);
}

void ZNLBarButton::buildFormatMenu() {
    if (!languageMenu) return;
    std::int64_t current = 1;
    if (auto d = delegate.lock()) current = d->formatIdForFolder(*this, kRequestingTab);
    auto me = selfTab();
    for (const auto& format : bundleFormats()) {
        auto item = tabItem(me, format.name, "handleChangeLanguageItemWithSender:", [](ZNLBarButton& t, NSMenuItem& s) {
            t.changeFormat(s);
        });
        item->tag = static_cast<long>(format.id);
        item->state = format.id == current ? NSControlStateValueOn : NSControlStateValueOff;
        languageMenu->addItem(item);
        // The icon is decoded off the main queue; the task keeps the item until it is attached.
        Foundation::DispatchQueue::global()->async([item, name = format.image] {
            auto image = NSImage::imageNamed(name);
            Foundation::DispatchQueue::main()->async([item, image] { item->image = image; });
        });
    }
}

// --- menu actions --------------------------------------------------------------------------

void ZNLBarButton::beginRename() {
    renaming_ = true;
    textField->setStringValue(title());
    setTitle("");
    textField->setHidden(false);
    if (auto w = window()) w->makeFirstResponder(textField.get());
}

void ZNLBarButton::endRename() {
    // Resigning the field ends its editing again: commit once.
    if (!renaming_) return;
    renaming_ = false;
    auto keep = selfTab();
    if (auto w = window(); w && w->firstResponder() == textField.get()) w->makeFirstResponder(nullptr);
    textField->setHidden(true);
    const std::string name = textField->stringValue();
    setTitle(name);
    restyle();
    if (auto d = delegate.lock()) d->didRenameFolder(*this, kRequestingTab, name);
}

void ZNLBarButton::controlTextDidEndEditing(NSTextField&) { endRename(); }

void ZNLBarButton::removeFolder() {
    auto keep = selfTab();  // the bar may drop the tab meanwhile
    if (auto d = delegate.lock()) d->didRemoveFolder(*this, kRequestingTab);
}

void ZNLBarButton::changeFormat(const NSMenuItem& sender) {
    auto d = delegate.lock();
    if (!d) return;
    std::optional<ColorFormat> format;
    try {
        format = loadColorFormat(sender.tag);
    } catch (const FormatListError&) {
        return;
    }
    if (!format) return;
    d->didChangeFolderFormat(*this, *format, kRequestingTab);
    if (lanugagesSubItem) {
        lanugagesSubItem->title = format->name;
        lanugagesSubItem->image = sender.image;
    }
    if (languageMenu)
        for (auto& item : languageMenu->itemArray())
            item->state = item.get() == &sender ? NSControlStateValueOn : NSControlStateValueOff;
}

void ZNLBarButton::exportColorList() {
    if (auto d = delegate.lock()) d->exportColorList(std::nullopt);
}

void ZNLBarButton::exportSwatchExchange() {
    if (auto d = delegate.lock()) d->exportSwatchExchange(std::nullopt);
}

void ZNLBarButton::exportFormat(long tag) {
    if (auto d = delegate.lock()) exportWithTag(*d, tag);
}

// --- tag colours ---------------------------------------------------------------------------

bool ZNLBarButton::didChangeFolderColor(const NSColorRef& color) {
    auto d = delegate.lock();
    return d && d->didChangeFolderColor(*this, kRequestingTab, color);
}

void ZNLBarButton::cancelMenuTracking() {
    if (contextMenu) contextMenu->cancelTracking();
}

// --- colour drops --------------------------------------------------------------------------

NSDragOperation ZNLBarButton::draggingEntered(NSDraggingInfo&) {
    highlight = true;
    if (state() == NSControlStateValueOn)
        applySelectedLook();
    else
        applyHoverLook();
    setNeedsDisplay();
    return NSDragOperationGeneric;
}

NSDragOperation ZNLBarButton::draggingUpdated(NSDraggingInfo&) { return NSDragOperationGeneric; }

void ZNLBarButton::draggingExited(NSDraggingInfo*) {
    highlight = false;
    if (state() == NSControlStateValueOn)
        applySelectedLook();
    else
        applyNormalLook();
}

bool ZNLBarButton::prepareForDragOperation(NSDraggingInfo&) { return true; }

bool ZNLBarButton::performDragOperation(NSDraggingInfo& info) {
    auto keep = selfTab();
    highlight = false;
    if (state() == NSControlStateValueOn)
        applySelectedLook();
    else
        applyNormalLook();
    setNeedsDisplay();
    if (!info.draggingPasteboard) return false;
    auto items = info.draggingPasteboard->readObjects<ZNLPasteboardItem>(ZNLPasteboardItem::readable());
    if (items.empty() || !items.front()) return false;
    const auto& item = *items.front();
    // A payload missing a field is refused, so the source keeps its colour.
    if (!item.colorString || !item.colorIndex || !item.folderId) return false;
    auto d = delegate.lock();
    if (!d) return true;
    d->didDropColor(*this, *item.colorString, *item.colorIndex, kRequestingTab, *item.folderId);
    return true;
}

}  // namespace Vexil::Views
