#pragma once
// The palettes window (a collection over the library's folders; it shows
// no items yet) and the colour info popover's content.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/AppKit/NSCollectionView.h"
#include "Platform/AppKit/NSControls.h"
#include "Platform/ObjectStore/Results.h"
#include "picker/Library/ZNLColorFolder.h"
#include "picker/Views/Windows/WindowProducer.h"

class RCPalettesDataSource : public AppKit::NSCollectionViewDataSource {
public:
    std::optional<ObjectStore::Results<ZNLColorFolder>> folders;
    long numberOfItemsInSection(AppKit::NSCollectionView&, long section) override;
    AppKit::NSCollectionViewItemRef itemForRepresentedObjectAtIndexPath(AppKit::NSCollectionView&,
                                                                        const AppKit::NSIndexPath&) override;
};

class RCPaletteItem : public AppKit::NSCollectionViewItem {};

// A strip of colours; draws only what a plain view draws.
class RCPaletteView : public AppKit::NSView {
public:
    using NSView::NSView;
    std::vector<AppKit::NSColorRef> colors;
};

class RCPalettesViewController : public AppKit::NSViewController {
public:
    std::shared_ptr<AppKit::NSCollectionView> collectionView;
    std::shared_ptr<RCPalettesDataSource> dataSource;
    void loadView() override;
};

using PalettesWindowProducer = WindowProducer<RCPalettesViewController, RCPaletteWindowConfig>;

// The shell's new-palette entry: a new producer and controller, shown; the
// window keeps both alive until it closes. Returned for callers that look.
std::shared_ptr<PalettesWindowProducer> openPalettesWindow();

class RCColorInfoViewController : public AppKit::NSViewController {
public:
    std::shared_ptr<AppKit::NSTextField> infoLabel;
    std::string info;
    void loadView() override;
    void viewDidLoad() override;
};
