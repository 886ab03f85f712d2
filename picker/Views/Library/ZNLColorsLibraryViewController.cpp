#include "picker/Views/Library/ZNLColorsLibraryViewController.h"

#include "Platform/AppKit/Animation.h"
#include "Platform/AppKit/NSImage.h"
#include "Platform/AppKit/NSSavePanel.h"
#include "Platform/QuartzCore/CALayer.h"
#include "picker/Colors/CNColorNames.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Library/ZNLColorsLibrary.h"
#include "picker/Views/Controls/ConstraintMaker.h"
#include "picker/Views/Controls/ThemeManager.h"
#include "picker/Views/Library/LibraryShell.h"
#include "picker/Views/Library/ZNLPasteboardItem.h"

#include <algorithm>

namespace Vexil::Views {
using namespace AppKit;

namespace {

constexpr double kWidth = 1000, kHeight = 280, kRowHeight = 220;

// A dragged cell's payload on the drag pasteboard.
class ColorDragWriter : public NSPasteboardWriting {
public:
    explicit ColorDragWriter(ZNLPasteboardItem item) : item_(std::move(item)) {}
    std::vector<std::string> writableTypesForPasteboard() const override { return {kColorDragType}; }
    Foundation::Value pasteboardPropertyListForType(const std::string& type) const override {
        auto data = item_.pasteboardPropertyList(type);
        return data ? Foundation::Value(*data) : Foundation::Value(std::string());
    }

private:
    ZNLPasteboardItem item_;
};

// The palette generator's window, closed by the library when the generator
// closes or applies.
class GeneratorWindow : public PaletteGeneratorHandle {
public:
    explicit GeneratorWindow(std::shared_ptr<GeneratorWindowProducer> producer) : producer_(std::move(producer)) {}
    void close() override { producer_->close(); }

private:
    std::shared_ptr<GeneratorWindowProducer> producer_;
};

std::shared_ptr<NSButton> iconButton(double x, const std::string& actionName) {
    auto b = NSView::make<NSButton>(CGRectMake(x, kHeight - 38, 24, 24));
    b->bordered = false;
    b->autoresizingMask = NSViewMinXMargin | NSViewMinYMargin;
    b->actionName = actionName;
    b->imagePosition = NSCellImagePosition::imageOnly;
    return b;
}

void setTintedImage(const std::weak_ptr<NSButton>& button, const std::string& name, const NSColorRef& tint) {
    auto b = button.lock();
    if (!b) return;
    auto image = NSImage::imageNamed(name);
    b->setImage(image ? image->tintedCopy(tint) : nullptr);
}

}  // namespace

ZNLColorsLibraryViewController::ZNLColorsLibraryViewController() = default;

void ZNLColorsLibraryViewController::loadView() {
    auto root = NSView::make(CGRectMake(0, 0, kWidth, kHeight));
    std::weak_ptr<ZNLColorsLibraryViewController> weak = selfRef();

    auto blur = NSView::make<NSVisualEffectView>(root->bounds());
    blur->autoresizingMask = NSViewWidthSizable | NSViewHeightSizable;
    root->addSubview(blur);
    blurEffect = blur;

    auto bar = NSView::make(CGRectMake(10, kHeight - 46, kWidth - 260, 40));
    bar->autoresizingMask = NSViewWidthSizable | NSViewMinYMargin;
    root->addSubview(bar);
    barView = bar;

    auto label = NSTextField::labelWithString("CSS Hex");
    label->setFrame(CGRectMake(kWidth - 240, kHeight - 34, 130, 18));
    label->alignment = NSTextAlignment::right;
    label->autoresizingMask = NSViewMinXMargin | NSViewMinYMargin;
    root->addSubview(label);
    formatLabel = label;

    auto pick = iconButton(kWidth - 100, "handlePickColorButton:");
    pick->action = [weak](NSControl&) {
        if (auto self = weak.lock()) self->handlePickColorButton();
    };
    auto add = iconButton(kWidth - 68, "handleAddFolderButton:");
    add->action = [weak](NSControl&) {
        if (auto self = weak.lock()) self->handleAddFolderButton();
    };
    auto close = iconButton(kWidth - 36, "handleClosButton:");
    close->action = [weak](NSControl&) {
        if (auto self = weak.lock()) self->handleClosButton();
    };
    for (auto& b : {pick, add, close}) root->addSubview(b);
    pickColorButton = pick;
    addFolderButton = add;
    closeButton = close;

    auto rowScroll = NSView::make<NSScrollView>(CGRectMake(0, 10, kWidth, kRowHeight));
    rowScroll->drawsBackground = false;
    rowScroll->hasVerticalScroller = false;
    // The row scrolls sideways by the wheel or a swipe; a scroller would take height from the cells.
    rowScroll->hasHorizontalScroller = false;
    rowScroll->translatesAutoresizingMaskIntoConstraints = false;
    auto row = NSView::make<NSCollectionView>(CGRectMake(0, 0, kWidth, kRowHeight));
    rowScroll->setDocumentView(row);
    root->addSubview(rowScroll);
    collectionView = row;
    auto height = heightAnchor(rowScroll).constraintEqualToConstant(kRowHeight);
    NSView* r = root.get();
    NSLayoutConstraint::activateConstraints({
        leftAnchor(rowScroll).constraintEqualToAnchor({r, NSLayoutAttribute::left}),
        rightAnchor(rowScroll).constraintEqualToAnchor({r, NSLayoutAttribute::right}),
        // 10 points above the window's bottom edge (the model's y grows upwards).
        bottomAnchor(rowScroll).constraintEqualToAnchor({r, NSLayoutAttribute::bottom}, 10),
        height,
    });
    collectionViewHeight = height;

    auto empty = NSTextField::labelWithString("Folder Is Empty");
    empty->setFrame(CGRectMake(kWidth / 2 - 150, 110, 300, 24));
    empty->alignment = NSTextAlignment::center;
    empty->font = NSFont::systemFontOfSize(17);
    empty->textColor = NSColor::grayColor();
    empty->autoresizingMask = NSViewMinXMargin | NSViewMaxXMargin;
    empty->setHidden(true);
    root->addSubview(empty);
    emptyFolderLabel = empty;

    auto spinner = NSView::make<NSProgressIndicator>(CGRectMake(kWidth / 2 - 8, 140, 16, 16));
    spinner->style = NSProgressIndicatorStyle::spinning;
    spinner->autoresizingMask = NSViewMinXMargin | NSViewMaxXMargin;
    spinner->setHidden(true);
    root->addSubview(spinner);
    progress = spinner;

    setView(root);
}

namespace {

// The tab's save panel for a colour list or swatch file: the library slides
// away first and stays away, whatever the answer.
std::optional<std::string> askForExportPath(const std::string& type) {
    if (const auto& toggle = LibraryShell::shared().toggleLibrary) toggle();
    auto panel = NSSavePanel::savePanel();
    panel.title = "Export";
    panel.showsResizeIndicator = true;
    panel.showsHiddenFiles = false;
    panel.canCreateDirectories = true;
    panel.allowedFileTypes = {type};
    if (panel.runModal() != NSModalResponseOK) return std::nullopt;
    return panel.URL();
}

class WindowExportHost : public FolderExportHost {
public:
    explicit WindowExportHost(std::weak_ptr<ZNLColorsLibraryViewController> window) : window_(std::move(window)) {}
    std::shared_ptr<ZNLColorFolder> selectedFolder() override {
        auto w = window_.lock();
        return w ? w->selectedFolder() : nullptr;
    }
    ProgressViews progressViews() override {
        auto w = window_.lock();
        if (!w) return {};
        return {w->collectionView.lock(), w->emptyFolderLabel.lock(), w->progress.lock()};
    }
    void reloadCollectionView() override {
        if (auto w = window_.lock()) w->reloadData();
    }
    void toggleLibrary() override {
        if (const auto& toggle = LibraryShell::shared().toggleLibrary) toggle();
    }

private:
    std::weak_ptr<ZNLColorsLibraryViewController> window_;
};

}  // namespace

void ZNLColorsLibraryViewController::viewDidLoad() {
    NSViewController::viewDidLoad();
    if (!exportActions) {
        exportHost_ = std::make_shared<WindowExportHost>(selfRef());
        exportActions = std::make_shared<LibraryExportActions>(exportHost_);
    }
    const bool dark = ThemeManager::systemTheme().isDark;
    if (auto blur = blurEffect.lock())
        blur->material = dark ? NSVisualEffectMaterial::dark : NSVisualEffectMaterial::mediumLight;
    if (auto label = formatLabel.lock()) label->textColor = dark ? colorWithHexRGB("C1C2C3") : NSColor::blackColor();

    auto self = selfRef();
    std::weak_ptr<ZNLColorsLibraryViewController> weak = self;
    library.reloadCollection = [weak] {
        if (auto s = weak.lock()) s->reloadData();
    };
    library.reloadTabs = [weak] {
        if (auto s = weak.lock()) s->reloadTabs();
    };
    library.showFormatName = [weak](const std::string& name) {
        if (auto s = weak.lock())
            if (auto label = s->formatLabel.lock()) label->setStringValue(name);
    };
    library.openColorEditor = [weak](const NSColorRef& color, const std::shared_ptr<ZNLColorItem>& item) {
        auto s = weak.lock();
        if (!s) return;
        auto editor = ZNLColorChooserViewController::create(color, item, std::weak_ptr<ZNLColorChooserDelegate>(s));
        if (auto& toggle = LibraryShell::shared().toggleLibrary) toggle();
        s->editorWindow->viewController = editor;
        s->editorWindow->show();
    };
    library.openPaletteGenerator = [weak](const NSColorRef& color) -> std::shared_ptr<PaletteGeneratorHandle> {
        auto s = weak.lock();
        if (!s) return nullptr;
        auto generator = std::make_shared<ZNLPaletteGenerator>();
        generator->delegate = std::weak_ptr<ZNLPaletteGeneratorDelegate>(s);
        generator->color = color;
        auto producer = GeneratorWindowProducer::make();
        producer->viewController = generator;
        producer->show();
        return std::make_shared<GeneratorWindow>(producer);
    };

    library.load();
    setUpScrollView();
    setUpTabBar();
    setUpCollectionView();
    if (auto row = collectionView.lock()) {
        row->registerForDraggedTypes({kColorDragType});
        row->setDraggingSourceOperationMask(NSDragOperationEvery, true);
    }
}

void ZNLColorsLibraryViewController::setUpScrollView() {
    auto bar = barView.lock();
    if (!bar) return;
    scrollView->setWantsLayer(true);
    scrollView->translatesAutoresizingMaskIntoConstraints = false;
    scrollView->drawsBackground = false;
    scrollView->hasVerticalScroller = false;
    scrollView->verticalScroller = nullptr;
    bar->addSubview(scrollView);
    makeConstraints(*scrollView, [](ConstraintMaker& make) { make.edges().equalToSuperview(); });
    scrollView->setFrame(bar->bounds());
    containerView = NSView::make(scrollView->contentView()->bounds());
    containerView->translatesAutoresizingMaskIntoConstraints = false;
    scrollView->setDocumentView(containerView);
    scrollView->verticalScrollElasticity = NSScrollElasticity::none;
    containerView->addSubview(stackView);
    makeConstraints(*containerView, [](ConstraintMaker& make) {
        make.left().equalToSuperview();
        make.top().equalToSuperview();
        make.bottom().equalToSuperview();
        make.width().greaterThanOrEqualTo(0);
    });
    makeConstraints(*stackView, [](ConstraintMaker& make) { make.edges().equalToSuperview(); });
    view()->translatesAutoresizingMaskIntoConstraints = false;
}

void ZNLColorsLibraryViewController::setUpTabBar() {
    const NSColorRef tint =
        ThemeManager::systemTheme().isDark ? NSColor::colorWithDeviceRed(0.76, 0.76, 0.76, 1.0) : NSColor::blackColor();
    setTintedImage(closeButton, NSImageNameStopProgressTemplate, tint);
    setTintedImage(pickColorButton, "picker", tint);
    setTintedImage(addFolderButton, NSImageNameAddTemplate, tint);
    stackView->translatesAutoresizingMaskIntoConstraints = false;
    auto self = selfRef();
    stackView->dataSource = std::static_pointer_cast<ZNLBarDataSource>(self);
    stackView->reloadTabs();
    stackView->delegate = std::static_pointer_cast<ZNLBarButtonDelegate>(self);
    library.showFormatName(LibraryFolders::formatName(selectedFolder()));
}

void ZNLColorsLibraryViewController::setUpCollectionView() {
    auto row = collectionView.lock();
    if (!row) return;
    row->registerItem([] { return std::make_shared<ZNLColorsLibraryItem>(); }, ZNLColorsLibraryItem::kIdentifier);
    row->backgroundColors = {NSColor::clearColor()};
    row->selectable = true;
    row->allowsMultipleSelection = false;
    auto layout = std::make_shared<NSCollectionViewFlowLayout>();
    layout->scrollDirection = NSCollectionViewScrollDirection::horizontal;
    auto height = collectionViewHeight.lock();
    layout->itemSize = {150, height ? height->constant() : kRowHeight};
    layout->minimumInteritemSpacing = 10;
    layout->sectionInset = {0, 10, 0, 10};
    row->collectionViewLayout = layout;
    if (auto enclosing = dynamic_cast<NSScrollView*>(row->superview() ? row->superview()->superview() : nullptr))
        enclosing->verticalScrollElasticity = NSScrollElasticity::none;
    auto self = selfRef();
    row->dataSource = std::static_pointer_cast<NSCollectionViewDataSource>(self);
    row->delegate = std::static_pointer_cast<NSCollectionViewDelegate>(self);
    row->reloadData();
}

void ZNLColorsLibraryViewController::reloadTabs() { stackView->reloadTabs(); }

void ZNLColorsLibraryViewController::reloadData() {
    if (auto row = collectionView.lock()) row->reloadData();
}

void ZNLColorsLibraryViewController::refresh() {
    if (!isViewLoaded()) return;
    reloadTabs();
    reloadData();
    if (library.showFormatName) library.showFormatName(LibraryFolders::formatName(selectedFolder()));
}

long ZNLColorsLibraryViewController::numberOfItemsInSection(NSCollectionView&, long) {
    auto empty = emptyFolderLabel.lock();
    auto row = collectionView.lock();
    const long count = selectedFolder() ? static_cast<long>(library.itemCount()) : 0;
    if (empty) empty->setHidden(count > 0);
    if (row) row->setHidden(count == 0);
    return count;
}

std::optional<ColorFormat> ZNLColorsLibraryViewController::selectedFormat() const {
    try {
        auto format = loadColorFormat(selectedFolder() ? selectedFolder()->formatId() : 1);
        return format ? *format : ColorFormat::builtIn();
    } catch (const FormatListError&) {
        return std::nullopt;
    }
}

NSCollectionViewItemRef ZNLColorsLibraryViewController::itemForRepresentedObjectAtIndexPath(NSCollectionView& view,
                                                                                            const NSIndexPath& path) {
    auto made = view.makeItemWithIdentifier(ZNLColorsLibraryItem::kIdentifier, path);
    auto cell = std::dynamic_pointer_cast<ZNLColorsLibraryItem>(made);
    if (!cell) return made;
    auto self = selfRef();
    cell->delegate = std::static_pointer_cast<ZNLColorsLibraryItemDelegate>(self);
    auto item = library.colorAt(path.item);
    cell->colorItem = item;
    if (!item) return made;
    auto color = colorWithHex(item->color());
    const ColorFormat format = selectedFormat().value_or(ColorFormat::builtIn());
    cell->setShades({color}, format);
    cell->format = format;
    if (auto l = cell->hexLabel.lock()) l->setStringValue(LibraryFolders::hexLabel(*item));
    if (auto l = cell->rgbLabel.lock()) l->setStringValue(color ? rgbString(*color) : std::string());
    if (auto l = cell->colorName.lock()) {
        std::string name = item->colorName();
        if (name.empty() && color) name = sharedColorNames().nameForColor(*color).value_or("");
        l->setStringValue(name);
    }
    std::weak_ptr<ZNLColorsLibraryViewController> weak = self;
    if (auto b = cell->deleteButton.lock()) {
        b->tag = path.item;
        b->actionName = "deleteItemWithSender:";
        b->action = [weak](NSControl& sender) {
            if (auto s = weak.lock()) s->deleteItem(sender.tag);
        };
    }
    if (auto b = cell->adjustButton.lock()) {
        b->tag = path.item;
        b->actionName = "handleAdjustColorWithSender:";
        b->action = [weak](NSControl& sender) {
            if (auto s = weak.lock()) s->handleAdjustColor(sender.tag);
        };
    }
    return made;
}

// --- drag and drop

std::shared_ptr<NSPasteboardWriting> ZNLColorsLibraryViewController::pasteboardWriterForItemAtIndexPath(
    NSCollectionView&, const NSIndexPath& path) {
    dragging = true;
    auto item = library.colorAt(path.item);
    if (!item || !selectedFolder()) return nullptr;
    return std::make_shared<ColorDragWriter>(ZNLPasteboardItem(item->color(), selectedFolder()->folderId(), path.item));
}

void ZNLColorsLibraryViewController::draggingSessionWillBegin(NSCollectionView& view, NSDraggingSession&, CGPoint,
                                                              const NSIndexPathSet& paths) {
    dragging = true;
    indexPathsOfItemsBeingDragged = paths;
    if (!paths.empty()) draggingItem = view.itemAtIndexPath(*paths.begin());
}

NSDragOperation ZNLColorsLibraryViewController::validateDrop(NSCollectionView& view, NSDraggingInfo&,
                                                             NSIndexPath& proposed, NSCollectionViewDropOperation&) {
    if (!draggingItem) return NSDragOperationMove;
    auto current = view.indexPathForItem(*draggingItem);
    const long count = view.numberOfItemsInSection(0);
    if (!current || count == 0) return NSDragOperationMove;
    // The gap after the last cell is the last place.
    NSIndexPath target = NSIndexPath::indexPathForItem(std::clamp(proposed.item, 0L, count - 1), current->section);
    if (target != *current) view.collectionAnimator().moveItemAtIndexPath(*current, target);
    return NSDragOperationMove;
}

bool ZNLColorsLibraryViewController::acceptDrop(NSCollectionView& view, NSDraggingInfo&, const NSIndexPath& path,
                                                NSCollectionViewDropOperation) {
    if (!indexPathsOfItemsBeingDragged || indexPathsOfItemsBeingDragged->empty()) return false;
    const long source = indexPathsOfItemsBeingDragged->begin()->item;
    if (!library.moveColor(source, path.item)) {
        const long count = view.numberOfItemsInSection(0);
        if (count > 0) {
            auto at = NSIndexPath::indexPathForItem(std::clamp(path.item, 0L, count - 1));
            auto back = NSIndexPath::indexPathForItem(std::clamp(source, 0L, count - 1));
            if (at != back) view.collectionAnimator().moveItemAtIndexPath(at, back);
        }
        return false;
    }
    // The cells' tags name positions: give them the stored order.
    reloadData();
    return true;
}

void ZNLColorsLibraryViewController::draggingSessionEnded(NSCollectionView&, NSDraggingSession&, CGPoint,
                                                          NSDragOperation) {
    dragging = false;
    indexPathsOfItemsBeingDragged.reset();
    draggingItem.reset();
    // A drag that was not taken may have left cells moved: back to the stored order.
    reloadData();
}

// --- actions

void ZNLColorsLibraryViewController::handlePickColorButton() {
    auto& shell = LibraryShell::shared();
    if (shell.toggleLibrary) shell.toggleLibrary();
    if (shell.startPicker) shell.startPicker();
}

void ZNLColorsLibraryViewController::handleClosButton() {
    if (auto& toggle = LibraryShell::shared().toggleLibrary) toggle();
}

void ZNLColorsLibraryViewController::didPickColor(const NSColorRef& color) {
    if (auto& pick = LibraryShell::shared().didPickColor) pick(color);
}

void ZNLColorsLibraryViewController::handleAddFolderButton() {
    library.addFolder();
    scrollTabBar();
}

void ZNLColorsLibraryViewController::scrollTabBar() {
    auto clip = scrollView->contentView();
    NSAnimationContext::runAnimationGroup([&](NSAnimationContext& context) {
        context.duration = 0.5;
        clip->animator()->setBoundsOrigin({clip->frame().width(), 0});
        scrollView->reflectScrolledClipView(*clip);
    });
}

void ZNLColorsLibraryViewController::deleteItem(long tag) { library.deleteColor(tag); }
void ZNLColorsLibraryViewController::handleAdjustColor(long tag) { library.adjustColor(tag); }
void ZNLColorsLibraryViewController::handleGeneratePalette(long tag) { library.generatePalette(tag); }

void ZNLColorsLibraryViewController::selectFolder(std::int64_t folderId) { library.selectFolder(folderId); }

void ZNLColorsLibraryViewController::didDropColor(ZNLBarButton&, const std::string& colorString,
                                                  std::int64_t colorIndex, std::int64_t folderId,
                                                  std::int64_t sourceFolderId) {
    // A payload from another folder, or one the row no longer matches, moves nothing.
    if (!selectedFolder() || selectedFolder()->folderId() != sourceFolderId) return;
    auto source = library.colorAt(static_cast<long>(colorIndex));
    if (!source || source->color() != colorString) return;
    library.dropColor(colorString, static_cast<long>(colorIndex), folderId);
}

void ZNLColorsLibraryViewController::exportColorList(const std::optional<std::string>& path) {
    if (!exportActions) return;
    if (path) return exportActions->exportColorList(path);
    if (auto chosen = askForExportPath("clr")) exportActions->exportColorList(chosen);
}

void ZNLColorsLibraryViewController::exportSwatchExchange(const std::optional<std::string>& path) {
    if (!exportActions) return;
    if (path) return exportActions->exportSwatchExchange(path);
    if (auto chosen = askForExportPath("ase")) exportActions->exportSwatchExchange(chosen);
}

void ZNLColorsLibraryViewController::exportFolder(ExportFormat format) {
    if (exportActions) exportActions->exportFolder(format);
}

// --- swatches

void ZNLColorsLibraryViewController::shadeViewDoubleClicked(ZNLShadeView&, const NSColorRef& color) {
    if (dragging || !color) return;
    auto format = selectedFormat();
    if (!format) return;
    copyToPasteboard(formatted(*color, *format, sharedColorNames().nameForColor(*color).value_or("")));
}

void ZNLColorsLibraryViewController::shadeViewClicked(ZNLShadeView& view, const NSColorRef& color) {
    if (dragging || !view.colorItem || !color) return;
    ZNLColorsLibrary::shared().colorService().setColorHexWithAlpha(view.colorItem, *color);
    reloadData();
}

void ZNLColorsLibraryViewController::reloadItem(ZNLColorsLibraryItem& item) {
    auto row = collectionView.lock();
    if (!row) return;
    if (auto path = row->indexPathForItem(item)) row->reloadItemsAtIndexPaths({*path});
}

// --- editor and generator

void ZNLColorsLibraryViewController::colorChooserDidCancel(ZNLColorChooserViewController&) { editorWindow->close(); }

void ZNLColorsLibraryViewController::colorChooserDidSave(const NSColorRef& color, const std::string& name,
                                                         ZNLColorChooserViewController&) {
    if (color) library.colorChooserDidSave(*color, name);
    editorWindow->close();
}

void ZNLColorsLibraryViewController::paletteGeneratorDidClose(ZNLPaletteGenerator&) {
    library.paletteGeneratorDidClose();
}

void ZNLColorsLibraryViewController::paletteGeneratorDidApply(const std::vector<NSColorRef>& colors,
                                                              const std::string& name, ZNLPaletteGenerator&) {
    library.paletteGeneratorDidApply(colors, name);
}

}  // namespace Vexil::Views
