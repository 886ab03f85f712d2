#pragma once
// A collection view with a flow layout: items made by the data source from
// registered item factories, laid out in one row (horizontal) or in lines
// (vertical), reloaded wholly or by index paths, moved (also through the
// animator), selectable, and a drag source and destination through its
// delegate.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Platform/AppKit/Dragging.h"
#include "Platform/AppKit/NSWindow.h"

namespace AppKit {

class NSCollectionView;

struct NSIndexPath {
    long section = 0;
    long item = 0;
    static NSIndexPath indexPathForItem(long item, long section = 0) { return {section, item}; }
    auto operator<=>(const NSIndexPath&) const = default;
};
using NSIndexPathSet = std::set<NSIndexPath>;

enum class NSCollectionViewItemHighlightState { none = 0, forSelection = 1, forDeselection = 2, asDropTarget = 3 };

class NSCollectionViewItem : public NSViewController {
public:
    bool isSelected() const { return selected_; }
    virtual void setSelected(bool selected) { selected_ = selected; }
    NSCollectionViewItemHighlightState highlightState = NSCollectionViewItemHighlightState::none;
    NSCollectionView* collectionView() const { return collectionView_; }
    std::string identifier;
    // Internal
    NSCollectionView* collectionView_ = nullptr;

private:
    bool selected_ = false;
};

using NSCollectionViewItemRef = std::shared_ptr<NSCollectionViewItem>;

enum class NSCollectionViewScrollDirection { vertical = 0, horizontal = 1 };

struct NSEdgeInsets {
    double top = 0, left = 0, bottom = 0, right = 0;
};

class NSCollectionViewFlowLayout {
public:
    NSCollectionViewScrollDirection scrollDirection = NSCollectionViewScrollDirection::vertical;
    CGSize itemSize{50, 50};
    double minimumInteritemSpacing = 10;
    double minimumLineSpacing = 10;
    NSEdgeInsets sectionInset;
    // Frames of `count` items in a view `width` x `height` (flipped: y down
    // from the top), and the size the content needs.
    std::vector<CGRect> frames(long count, CGSize bounds, CGSize* contentSize) const;
};

enum class NSCollectionViewDropOperation { on = 0, before = 1 };

class NSCollectionViewDataSource {
public:
    virtual ~NSCollectionViewDataSource() = default;
    virtual long numberOfSectionsInCollectionView(NSCollectionView&) { return 1; }
    virtual long numberOfItemsInSection(NSCollectionView&, long section) = 0;
    virtual NSCollectionViewItemRef itemForRepresentedObjectAtIndexPath(NSCollectionView&, const NSIndexPath&) = 0;
};

class NSCollectionViewDelegate {
public:
    virtual ~NSCollectionViewDelegate() = default;
    virtual NSIndexPathSet shouldSelectItemsAtIndexPaths(NSCollectionView&, const NSIndexPathSet& paths) {
        return paths;
    }
    virtual void didSelectItemsAtIndexPaths(NSCollectionView&, const NSIndexPathSet&) {}
    virtual bool canDragItemsAtIndexPaths(NSCollectionView&, const NSIndexPathSet&, const NSEvent&) { return false; }
    virtual std::shared_ptr<NSPasteboardWriting> pasteboardWriterForItemAtIndexPath(NSCollectionView&,
                                                                                    const NSIndexPath&) {
        return nullptr;
    }
    virtual void draggingSessionWillBegin(NSCollectionView&, NSDraggingSession&, CGPoint, const NSIndexPathSet&) {}
    virtual NSDragOperation validateDrop(NSCollectionView&, NSDraggingInfo&, NSIndexPath& proposedIndexPath,
                                         NSCollectionViewDropOperation& proposedDropOperation) {
        (void)proposedIndexPath;
        (void)proposedDropOperation;
        return NSDragOperationNone;
    }
    virtual bool acceptDrop(NSCollectionView&, NSDraggingInfo&, const NSIndexPath&, NSCollectionViewDropOperation) {
        return false;
    }
    virtual void draggingSessionEnded(NSCollectionView&, NSDraggingSession&, CGPoint, NSDragOperation) {}
};

class NSCollectionView : public NSView {
public:
    using NSView::NSView;
    using ItemFactory = std::function<NSCollectionViewItemRef()>;

    std::weak_ptr<NSCollectionViewDataSource> dataSource;
    std::weak_ptr<NSCollectionViewDelegate> delegate;
    std::shared_ptr<NSCollectionViewFlowLayout> collectionViewLayout = std::make_shared<NSCollectionViewFlowLayout>();
    std::vector<NSColorRef> backgroundColors;
    bool selectable = false;
    bool allowsMultipleSelection = false;
    bool isFlipped() const override { return true; }

    void registerItem(ItemFactory factory, const std::string& identifier);
    // A new item from the factory registered under the identifier; nullptr when none is.
    NSCollectionViewItemRef makeItemWithIdentifier(const std::string& identifier, const NSIndexPath& indexPath);

    void reloadData();
    void reloadItemsAtIndexPaths(const NSIndexPathSet& paths);
    long numberOfSections() const { return static_cast<long>(sections_.size()); }
    long numberOfItemsInSection(long section) const;
    NSCollectionViewItemRef itemAtIndexPath(const NSIndexPath& path) const;
    std::optional<NSIndexPath> indexPathForItem(const NSCollectionViewItem& item) const;
    std::optional<NSIndexPath> indexPathForItemAtPoint(CGPoint viewPoint) const;
    std::vector<NSCollectionViewItemRef> visibleItems() const;
    CGRect frameForItemAtIndexPath(const NSIndexPath& path) const;
    // Moves an item (its data is the caller's); through animator() it slides.
    void moveItemAtIndexPath(const NSIndexPath& from, const NSIndexPath& to);
    struct Animator {
        std::shared_ptr<NSCollectionView> view;
        void moveItemAtIndexPath(const NSIndexPath& from, const NSIndexPath& to);
    };
    Animator collectionAnimator() { return {std::static_pointer_cast<NSCollectionView>(self())}; }

    const NSIndexPathSet& selectionIndexPaths() const { return selection_; }
    void selectItemsAtIndexPaths(const NSIndexPathSet& paths);
    void deselectAll();

    void setDraggingSourceOperationMask(NSDragOperation mask, bool forLocal);
    NSDragOperation draggingSourceOperationMask(bool forLocal) const { return forLocal ? localMask_ : externalMask_; }
    // The gap before which a drop at a point would insert (item index), for drop targets.
    NSIndexPath dropIndexPathAtPoint(CGPoint viewPoint) const;

    void layout() override;
    void setFrame(CGRect frame) override;
    void drawRect(CGRect dirty, CoreGraphics::DrawingContext& ctx) override;
    void mouseDown(NSEvent& event) override;
    void mouseDragged(NSEvent& event) override;
    void mouseUp(NSEvent& event) override;

    NSDragOperation draggingEntered(NSDraggingInfo& info) override;
    NSDragOperation draggingUpdated(NSDraggingInfo& info) override;
    bool performDragOperation(NSDraggingInfo& info) override;

private:
    class Source;
    void relayout(bool animated = false);
    std::map<std::string, ItemFactory> factories_;
    std::vector<std::vector<NSCollectionViewItemRef>> sections_;
    NSIndexPathSet selection_;
    NSDragOperation localMask_ = NSDragOperationNone, externalMask_ = NSDragOperationNone;
    std::optional<CGPoint> pressAt_;
    std::optional<NSIndexPath> pressedPath_;
    std::shared_ptr<NSDraggingSession> session_;
    NSIndexPath dropPath_;
    NSCollectionViewDropOperation dropOperation_ = NSCollectionViewDropOperation::before;
    bool inLayout_ = false;
};

}  // namespace AppKit
