#include "Platform/AppKit/NSCollectionView.h"

#include <algorithm>
#include <cmath>

#include "Platform/AppKit/Animation.h"
#include "Platform/AppKit/NSScrollView.h"

namespace AppKit {

// --- flow layout -----------------------------------------------------------------

std::vector<CGRect> NSCollectionViewFlowLayout::frames(long count, CGSize bounds, CGSize* contentSize) const {
    std::vector<CGRect> out;
    const auto& in = sectionInset;
    const bool horizontal = scrollDirection == NSCollectionViewScrollDirection::horizontal;
    // Items fill a line across the scroll direction, then the next line.
    const double across = horizontal ? bounds.height - in.top - in.bottom : bounds.width - in.left - in.right;
    const double itemAcross = horizontal ? itemSize.height : itemSize.width;
    long perLine = std::max(
        1L, static_cast<long>(std::floor((across + minimumInteritemSpacing) / (itemAcross + minimumInteritemSpacing))));
    long lines = count > 0 ? (count + perLine - 1) / perLine : 0;
    for (long i = 0; i < count; ++i) {
        long line = i / perLine, slot = i % perLine;
        if (horizontal)
            out.push_back(CGRectMake(in.left + static_cast<double>(line) * (itemSize.width + minimumLineSpacing),
                                     in.top + static_cast<double>(slot) * (itemSize.height + minimumInteritemSpacing),
                                     itemSize.width, itemSize.height));
        else
            out.push_back(CGRectMake(in.left + static_cast<double>(slot) * (itemSize.width + minimumInteritemSpacing),
                                     in.top + static_cast<double>(line) * (itemSize.height + minimumLineSpacing),
                                     itemSize.width, itemSize.height));
    }
    if (contentSize) {
        double along = lines > 0 ? static_cast<double>(lines) * (horizontal ? itemSize.width : itemSize.height) +
                                       static_cast<double>(lines - 1) * minimumLineSpacing
                                 : 0;
        *contentSize = horizontal ? CGSize{in.left + along + in.right, bounds.height}
                                  : CGSize{bounds.width, in.top + along + in.bottom};
    }
    return out;
}

// --- items ---------------------------------------------------------------------------

void NSCollectionView::registerItem(ItemFactory factory, const std::string& identifier) {
    factories_[identifier] = std::move(factory);
}

NSCollectionViewItemRef NSCollectionView::makeItemWithIdentifier(const std::string& identifier, const NSIndexPath&) {
    auto it = factories_.find(identifier);
    if (it == factories_.end() || !it->second) return nullptr;
    auto item = it->second();
    if (item) {
        item->identifier = identifier;
        item->collectionView_ = this;
    }
    return item;
}

void NSCollectionView::reloadData() {
    auto keep = self();
    for (auto& section : sections_)
        for (auto& item : section)
            if (item && item->isViewLoaded()) item->view()->removeFromSuperview();
    sections_.clear();
    auto ds = dataSource.lock();
    if (ds) {
        long n = ds->numberOfSectionsInCollectionView(*this);
        for (long s = 0; s < n; ++s) {
            std::vector<NSCollectionViewItemRef> items;
            long count = ds->numberOfItemsInSection(*this, s);
            for (long i = 0; i < count; ++i) {
                auto item = ds->itemForRepresentedObjectAtIndexPath(*this, {s, i});
                if (item) item->collectionView_ = this;
                items.push_back(item);
            }
            sections_.push_back(std::move(items));
        }
    }
    NSIndexPathSet kept;
    for (auto& p : selection_)
        if (p.section < numberOfSections() && p.item < numberOfItemsInSection(p.section)) kept.insert(p);
    selection_ = kept;
    relayout();
}

void NSCollectionView::reloadItemsAtIndexPaths(const NSIndexPathSet& paths) {
    auto ds = dataSource.lock();
    if (!ds) return;
    for (auto& p : paths) {
        if (p.section < 0 || p.section >= numberOfSections() || p.item < 0 ||
            p.item >= numberOfItemsInSection(p.section))
            continue;
        auto& slot = sections_[static_cast<std::size_t>(p.section)][static_cast<std::size_t>(p.item)];
        if (slot && slot->isViewLoaded()) slot->view()->removeFromSuperview();
        slot = ds->itemForRepresentedObjectAtIndexPath(*this, p);
        if (slot) {
            slot->collectionView_ = this;
            slot->setSelected(selection_.count(p) > 0);
        }
    }
    relayout();
}

long NSCollectionView::numberOfItemsInSection(long section) const {
    if (section < 0 || section >= numberOfSections()) return 0;
    return static_cast<long>(sections_[static_cast<std::size_t>(section)].size());
}

NSCollectionViewItemRef NSCollectionView::itemAtIndexPath(const NSIndexPath& p) const {
    if (p.item < 0 || p.item >= numberOfItemsInSection(p.section)) return nullptr;
    return sections_[static_cast<std::size_t>(p.section)][static_cast<std::size_t>(p.item)];
}

std::optional<NSIndexPath> NSCollectionView::indexPathForItem(const NSCollectionViewItem& item) const {
    for (long s = 0; s < numberOfSections(); ++s)
        for (long i = 0; i < numberOfItemsInSection(s); ++i)
            if (sections_[static_cast<std::size_t>(s)][static_cast<std::size_t>(i)].get() == &item)
                return NSIndexPath{s, i};
    return std::nullopt;
}

std::vector<NSCollectionViewItemRef> NSCollectionView::visibleItems() const {
    std::vector<NSCollectionViewItemRef> out;
    for (auto& s : sections_)
        for (auto& i : s)
            if (i) out.push_back(i);
    return out;
}

CGRect NSCollectionView::frameForItemAtIndexPath(const NSIndexPath& p) const {
    // Sections follow each other in the scroll direction; one section is the common case.
    long index = p.item;
    for (long s = 0; s < p.section && s < numberOfSections(); ++s) index += numberOfItemsInSection(s);
    long total = 0;
    for (long s = 0; s < numberOfSections(); ++s) total += numberOfItemsInSection(s);
    auto frames = collectionViewLayout->frames(total, bounds().size, nullptr);
    if (index < 0 || index >= static_cast<long>(frames.size())) return {};
    return frames[static_cast<std::size_t>(index)];
}

std::optional<NSIndexPath> NSCollectionView::indexPathForItemAtPoint(CGPoint p) const {
    for (long s = 0; s < numberOfSections(); ++s)
        for (long i = 0; i < numberOfItemsInSection(s); ++i)
            if (frameForItemAtIndexPath({s, i}).contains(p)) return NSIndexPath{s, i};
    return std::nullopt;
}

NSIndexPath NSCollectionView::dropIndexPathAtPoint(CGPoint p) const {
    const bool horizontal = collectionViewLayout->scrollDirection == NSCollectionViewScrollDirection::horizontal;
    long n = numberOfItemsInSection(0);
    for (long i = 0; i < n; ++i) {
        CGRect f = frameForItemAtIndexPath({0, i});
        bool before = horizontal ? p.x < f.midX() && (p.y < f.maxY() || i == n - 1)
                                 : p.y < f.midY() && (p.x < f.maxX() || i == n - 1);
        if (horizontal && f.contains(p)) return {0, p.x < f.midX() ? i : i + 1};
        if (!horizontal && f.contains(p)) return {0, p.y < f.midY() ? i : i + 1};
        if (before) return {0, i};
    }
    return {0, n};
}

void NSCollectionView::moveItemAtIndexPath(const NSIndexPath& from, const NSIndexPath& to) {
    auto item = itemAtIndexPath(from);
    if (!item || to.section < 0 || to.section >= numberOfSections()) return;
    auto& src = sections_[static_cast<std::size_t>(from.section)];
    src.erase(src.begin() + from.item);
    auto& dst = sections_[static_cast<std::size_t>(to.section)];
    long at = std::clamp(to.item, 0L, static_cast<long>(dst.size()));
    dst.insert(dst.begin() + at, item);
    NSIndexPathSet moved;
    for (auto& p : selection_) moved.insert(p == from ? NSIndexPath{to.section, at} : p);
    selection_ = moved;
    relayout(NSAnimationContext::inGroup());
}

void NSCollectionView::Animator::moveItemAtIndexPath(const NSIndexPath& from, const NSIndexPath& to) {
    view->moveItemAtIndexPath(from, to);
}

void NSCollectionView::selectItemsAtIndexPaths(const NSIndexPathSet& paths) {
    if (!allowsMultipleSelection) deselectAll();
    for (auto& p : paths)
        if (auto item = itemAtIndexPath(p)) {
            selection_.insert(p);
            item->setSelected(true);
        }
}

void NSCollectionView::deselectAll() {
    for (auto& p : selection_)
        if (auto item = itemAtIndexPath(p)) item->setSelected(false);
    selection_.clear();
}

void NSCollectionView::setDraggingSourceOperationMask(NSDragOperation mask, bool forLocal) {
    (forLocal ? localMask_ : externalMask_) = mask;
}

// --- layout -----------------------------------------------------------------------------

void NSCollectionView::relayout(bool animated) {
    if (inLayout_) return;
    inLayout_ = true;
    long total = 0;
    for (long s = 0; s < numberOfSections(); ++s) total += numberOfItemsInSection(s);
    // The document of a clip view grows to its content in the scroll direction.
    if (auto clip = dynamic_cast<NSClipView*>(superview())) {
        CGSize content;
        CGSize visible = clip->bounds().size;
        collectionViewLayout->frames(total, visible, &content);
        CGSize size{std::max(content.width, visible.width), std::max(content.height, visible.height)};
        if (size != frame().size) NSView::setFrame({frame().origin, size});
    }
    auto frames = collectionViewLayout->frames(total, bounds().size, nullptr);
    std::size_t k = 0;
    for (auto& section : sections_)
        for (auto& item : section) {
            CGRect f = k < frames.size() ? frames[k] : CGRect{};
            ++k;
            if (!item) continue;
            auto v = item->view();
            if (v->superview() != this) addSubview(v);
            if (animated)
                v->animator()->setFrame(f);
            else
                v->setFrame(f);
        }
    inLayout_ = false;
    setNeedsDisplay();
}

void NSCollectionView::layout() { relayout(); }

void NSCollectionView::setFrame(CGRect frame) {
    NSView::setFrame(frame);
    relayout();
}

void NSCollectionView::drawRect(CGRect, CoreGraphics::DrawingContext& ctx) {
    if (backgroundColors.empty()) return;
    RGBA c = toRGBA(backgroundColors.front());
    if (c.a > 0) ctx.fillRect(bounds(), c);
}

// --- mouse and dragging -------------------------------------------------------------------

class NSCollectionView::Source : public NSDraggingSource {
public:
    Source(std::shared_ptr<NSCollectionView> view, NSIndexPathSet paths)
        : view_(std::move(view)), paths_(std::move(paths)) {}
    NSDragOperation sourceOperationMaskForDraggingContext(NSDraggingSession&, NSDraggingContext c) override {
        return view_->draggingSourceOperationMask(c == NSDraggingContext::withinApplication);
    }
    void draggingSessionWillBegin(NSDraggingSession& s, CGPoint p) override {
        if (auto d = view_->delegate.lock()) d->draggingSessionWillBegin(*view_, s, p, paths_);
    }
    void draggingSessionEnded(NSDraggingSession& s, CGPoint p, NSDragOperation op) override {
        auto view = view_;
        view->session_.reset();
        if (auto d = view->delegate.lock()) d->draggingSessionEnded(*view, s, p, op);
    }

private:
    std::shared_ptr<NSCollectionView> view_;
    NSIndexPathSet paths_;
};

void NSCollectionView::mouseDown(NSEvent& e) {
    CGPoint p = convertPointFromView(e.locationInWindow, nullptr);
    pressAt_ = p;
    pressedPath_ = indexPathForItemAtPoint(p);
    if (selectable && pressedPath_) {
        NSIndexPathSet want{*pressedPath_};
        if (auto d = delegate.lock()) want = d->shouldSelectItemsAtIndexPaths(*this, want);
        if (!want.empty()) {
            selectItemsAtIndexPaths(want);
            if (auto d = delegate.lock()) d->didSelectItemsAtIndexPaths(*this, want);
        }
    }
}

void NSCollectionView::mouseDragged(NSEvent& e) {
    if (!pressAt_ || !pressedPath_ || session_) return;
    CGPoint p = convertPointFromView(e.locationInWindow, nullptr);
    if (std::hypot(p.x - pressAt_->x, p.y - pressAt_->y) < 3) return;
    auto d = delegate.lock();
    NSIndexPathSet paths{*pressedPath_};
    if (!d || !d->canDragItemsAtIndexPaths(*this, paths, e)) return;
    auto writer = d->pasteboardWriterForItemAtIndexPath(*this, *pressedPath_);
    if (!writer) return;
    auto me = std::static_pointer_cast<NSCollectionView>(self());
    auto source = std::make_shared<Source>(me, paths);
    pressAt_.reset();
    session_ = NSDraggingSession::begin(*this, e, {writer}, source);
}

void NSCollectionView::mouseUp(NSEvent&) {
    pressAt_.reset();
    pressedPath_.reset();
}

NSDragOperation NSCollectionView::draggingEntered(NSDraggingInfo& info) { return draggingUpdated(info); }

NSDragOperation NSCollectionView::draggingUpdated(NSDraggingInfo& info) {
    auto d = delegate.lock();
    if (!d) return NSDragOperationNone;
    CGPoint p = convertPointFromView(info.draggingLocation, nullptr);
    NSIndexPath path = dropIndexPathAtPoint(p);
    NSCollectionViewDropOperation op = NSCollectionViewDropOperation::before;
    NSDragOperation result = d->validateDrop(*this, info, path, op);
    dropPath_ = path;
    dropOperation_ = op;
    return result;
}

bool NSCollectionView::performDragOperation(NSDraggingInfo& info) {
    auto d = delegate.lock();
    return d && d->acceptDrop(*this, info, dropPath_, dropOperation_);
}

}  // namespace AppKit
