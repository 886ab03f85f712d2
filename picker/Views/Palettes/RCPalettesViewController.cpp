#include "picker/Views/Palettes/RCPalettesViewController.h"

using namespace AppKit;

long RCPalettesDataSource::numberOfItemsInSection(NSCollectionView&, long) {
    return folders ? static_cast<long>(folders->count()) : 0;
}

NSCollectionViewItemRef RCPalettesDataSource::itemForRepresentedObjectAtIndexPath(NSCollectionView&,
                                                                                  const NSIndexPath&) {
    return std::make_shared<NSCollectionViewItem>();
}

void RCPalettesViewController::loadView() {
    auto root = NSView::make(CGRectMake(0, 0, 480, 320));
    collectionView = NSView::make<NSCollectionView>(CGRectMake(0, 0, 480, 298));
    collectionView->autoresizingMask = NSViewWidthSizable | NSViewHeightSizable;
    dataSource = std::make_shared<RCPalettesDataSource>();
    collectionView->dataSource = dataSource;
    root->addSubview(collectionView);
    setView(root);
}

std::shared_ptr<PalettesWindowProducer> openPalettesWindow() {
    auto producer = PalettesWindowProducer::make();
    producer->viewController = std::make_shared<RCPalettesViewController>();
    producer->show();
    return producer;
}

void RCColorInfoViewController::loadView() {
    auto root = NSView::make(CGRectMake(0, 0, 120, 28));
    infoLabel = NSTextField::labelWithString("");
    infoLabel->setFrame(CGRectMake(8, 6, 104, 16));
    infoLabel->alignment = NSTextAlignment::center;
    root->addSubview(infoLabel);
    setView(root);
}

void RCColorInfoViewController::viewDidLoad() {
    if (infoLabel) infoLabel->setStringValue(info);
}
