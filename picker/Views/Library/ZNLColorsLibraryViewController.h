#pragma once
// The colour library window: a strip of folder tabs above a horizontally
// scrolling row of colour cells of the selected folder, with the folder's
// format name, a pick button, an add-folder button and a close button. The
// shell slides the window in and out; every action that should get the
// library out of the way asks the shell to (LibraryShell::toggleLibrary).
#include "Platform/AppKit/Layout.h"
#include "Platform/AppKit/NSCollectionView.h"
#include "Platform/AppKit/NSControls.h"
#include "Platform/AppKit/NSScrollView.h"
#include "picker/Views/Editor/ZNLColorChooserViewController.h"
#include "picker/Views/Library/LibraryFolders.h"
#include "picker/Views/Library/ZNLColorsLibraryItem.h"
#include "picker/Views/Palettes/ZNLPaletteGenerator.h"
#include "picker/Views/ExportActions/LibraryExportActions.h"
#include "picker/Views/TabBar/FolderExportActions.h"
#include "picker/Views/TabBar/ZNLTabBar.h"

#include <memory>
#include <optional>

namespace Vexil::Views {

class ZNLColorsLibraryViewController : public AppKit::NSViewController,
                                       public AppKit::NSCollectionViewDataSource,
                                       public AppKit::NSCollectionViewDelegate,
                                       public ZNLColorsLibraryItemDelegate,
                                       public ZNLColorChooserDelegate,
                                       public ZNLPaletteGeneratorDelegate,
                                       public ZNLBarButtonDelegate,
                                       public ZNLBarDataSource {
public:
    ZNLColorsLibraryViewController();

    // Outlets of the window's interface (the view tree owns them).
    std::weak_ptr<AppKit::NSProgressIndicator> progress;
    std::weak_ptr<AppKit::NSCollectionView> collectionView;
    std::weak_ptr<AppKit::NSTextField> formatLabel;
    std::weak_ptr<AppKit::NSButton> pickColorButton, addFolderButton, closeButton;
    std::weak_ptr<AppKit::NSTextField> emptyFolderLabel;
    std::weak_ptr<AppKit::NSView> barView;
    std::weak_ptr<AppKit::NSLayoutConstraint> collectionViewHeight;
    std::weak_ptr<AppKit::NSVisualEffectView> blurEffect;

    std::shared_ptr<ZNLTabBar> stackView = AppKit::NSView::make<ZNLTabBar>();
    std::shared_ptr<AppKit::NSView> containerView = AppKit::NSView::make();
    std::shared_ptr<AppKit::NSScrollView> scrollView = AppKit::NSView::make<AppKit::NSScrollView>();
    std::optional<AppKit::NSIndexPathSet> indexPathsOfItemsBeingDragged;
    bool dragging = false;
    AppKit::NSCollectionViewItemRef draggingItem;
    std::shared_ptr<EditorWindowProducer> editorWindow = EditorWindowProducer::make();
    // The export side of the tabs' menus: the window's own unless its owner
    // sets another before the view loads. A colour list or swatch file
    // requested without a path asks for one first.
    std::shared_ptr<FolderExportActions> exportActions;

    // The folders and the selected folder's colours.
    LibraryFolders library;
    const std::shared_ptr<ZNLColorFolder>& selectedFolder() const { return library.selectedFolder; }

    void loadView() override;
    void viewDidLoad() override;

    // Data source and delegate of the row.
    long numberOfItemsInSection(AppKit::NSCollectionView&, long section) override;
    AppKit::NSCollectionViewItemRef itemForRepresentedObjectAtIndexPath(AppKit::NSCollectionView&,
                                                                        const AppKit::NSIndexPath& path) override;
    bool canDragItemsAtIndexPaths(AppKit::NSCollectionView&, const AppKit::NSIndexPathSet&,
                                  const AppKit::NSEvent&) override {
        return true;
    }
    std::shared_ptr<AppKit::NSPasteboardWriting> pasteboardWriterForItemAtIndexPath(
        AppKit::NSCollectionView&, const AppKit::NSIndexPath&) override;
    void draggingSessionWillBegin(AppKit::NSCollectionView&, AppKit::NSDraggingSession&, AppKit::CGPoint,
                                  const AppKit::NSIndexPathSet& paths) override;
    AppKit::NSDragOperation validateDrop(AppKit::NSCollectionView&, AppKit::NSDraggingInfo&,
                                         AppKit::NSIndexPath& proposedIndexPath,
                                         AppKit::NSCollectionViewDropOperation& proposedDropOperation) override;
    bool acceptDrop(AppKit::NSCollectionView&, AppKit::NSDraggingInfo&, const AppKit::NSIndexPath& path,
                    AppKit::NSCollectionViewDropOperation) override;
    void draggingSessionEnded(AppKit::NSCollectionView&, AppKit::NSDraggingSession&, AppKit::CGPoint,
                              AppKit::NSDragOperation) override;

    // Actions.
    void handlePickColorButton();
    void handleClosButton();
    void handleAddFolderButton();
    void deleteItem(long tag);
    void handleAdjustColor(long tag);
    void handleGeneratePalette(long tag);
    void didPickColor(const AppKit::NSColorRef& color);

    // Folder requests of the tabs, by folder id: a folder that is gone gives
    // the default and changes nothing.
    void selectFolder(std::int64_t folderId);
    void scrollTabBar();
    std::vector<std::shared_ptr<ZNLColorFolder>> folders() override { return LibraryFolders::folders(); }
    void didSelectFolder(ZNLBarButton&, std::int64_t folderId, AppKit::NSControlStateValue) override {
        selectFolder(folderId);
    }
    void didRenameFolder(ZNLBarButton&, std::int64_t folderId, const std::string& name) override {
        library.renameFolder(folderId, name);
    }
    bool didRemoveFolder(ZNLBarButton&, std::int64_t folderId) override { return library.removeFolder(folderId); }
    bool didChangeFolderColor(ZNLBarButton&, std::int64_t folderId, const AppKit::NSColorRef& color) override {
        return color && library.changeFolderColor(folderId, *color);
    }
    std::int64_t formatIdForFolder(ZNLBarButton&, std::int64_t folderId) override {
        return library.formatIdForFolder(folderId);
    }
    void didChangeFolderFormat(ZNLBarButton&, const ColorFormat& format, std::int64_t folderId) override {
        library.changeFolderFormat(format, folderId);
    }
    // A colour of the selected folder dropped on a tab: moved only while the
    // selected folder still holds that colour at that index.
    void didDropColor(ZNLBarButton&, const std::string& colorString, std::int64_t colorIndex, std::int64_t folderId,
                      std::int64_t sourceFolderId) override;
    // The exports go to the export side (nothing without one).
    void exportColorList(const std::optional<std::string>& path) override;
    void exportSwatchExchange(const std::optional<std::string>& path) override;
    void exportFolder(ExportFormat format) override;

    // Swatches of the cells.
    void shadeViewDoubleClicked(ZNLShadeView& view, const AppKit::NSColorRef& color) override;
    void shadeViewClicked(ZNLShadeView& view, const AppKit::NSColorRef& color) override;
    void reloadItem(ZNLColorsLibraryItem& item) override;
    using ZNLColorsLibraryItemDelegate::reloadItem;

    // The colour editor and the palette generator.
    void colorChooserDidCancel(ZNLColorChooserViewController& editor) override;
    void colorChooserDidSave(const AppKit::NSColorRef& color, const std::string& name,
                             ZNLColorChooserViewController& editor) override;
    void paletteGeneratorDidClose(ZNLPaletteGenerator& generator) override;
    void paletteGeneratorDidApply(const std::vector<AppKit::NSColorRef>& colors, const std::string& name,
                                  ZNLPaletteGenerator& generator) override;

    void reloadData();
    // The tabs, the selected folder's colours and its format label again, for
    // a window shown anew after changes it did not make itself.
    void refresh();
    // The cell's format: the selected folder's, the built-in one when it has
    // none; nothing when the format list cannot be read.
    std::optional<ColorFormat> selectedFormat() const;

private:
    void setUpScrollView();
    void setUpTabBar();
    void setUpCollectionView();
    void reloadTabs();
    // What the export actions use of this window; made when the view loads.
    std::shared_ptr<FolderExportHost> exportHost_;
    std::shared_ptr<ZNLColorsLibraryViewController> selfRef() {
        return std::static_pointer_cast<ZNLColorsLibraryViewController>(shared_from_this());
    }
};

}  // namespace Vexil::Views
