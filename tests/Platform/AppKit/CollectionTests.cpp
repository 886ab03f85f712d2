// Collection view, drag and drop, scroll and stack views, popovers.

#include <gtest/gtest.h>

#include "Platform/AppKit/Animation.h"
#include "Platform/AppKit/NSCollectionView.h"
#include "Platform/AppKit/NSScrollView.h"
#include "Platform/Foundation/KeyedArchiver.h"
#include "Platform/Harness/Harness.h"

using namespace AppKit;

namespace {

const std::string kType = "com.example.colour";

TEST(FlowLayout, PlacesItemsInLinesAcrossTheScrollDirection) {
    NSCollectionViewFlowLayout layout;
    layout.itemSize = {150, 100};
    layout.minimumInteritemSpacing = 10;
    layout.minimumLineSpacing = 10;
    layout.sectionInset = {0, 10, 0, 10};
    layout.scrollDirection = NSCollectionViewScrollDirection::horizontal;
    CGSize content;
    auto frames = layout.frames(3, {400, 100}, &content);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[2], CGRectMake(330, 0, 150, 100));
    EXPECT_EQ(content, (CGSize{10 + 3 * 150 + 2 * 10 + 10, 100}));
    layout.scrollDirection = NSCollectionViewScrollDirection::vertical;
    layout.itemSize = {50, 50};
    frames = layout.frames(5, {180, 300}, &content);
    EXPECT_EQ(frames[2], CGRectMake(10, 60, 50, 50)) << "two fit across 160 points";
    EXPECT_EQ(content.height, 50 * 3 + 20);
}

struct Cell : NSCollectionViewItem {
    std::string text;
    void loadView() override { setView(std::make_shared<NSView>(CGRectMake(0, 0, 10, 10))); }
};

struct Payload : NSPasteboardWriting, Foundation::Coding {
    std::string colour;
    long index = 0;
    std::string className() const override { return "Payload"; }
    void encodeWithCoder(Foundation::KeyedArchiver& c) const override {
        c.encode("colorIndex", index);
        c.encode("colorString", colour);
    }
    std::vector<std::string> writableTypesForPasteboard() const override { return {kType}; }
    Foundation::Value pasteboardPropertyListForType(const std::string& type) const override {
        if (type != kType) return std::string();
        auto self = std::make_shared<Payload>(*this);
        auto data = Foundation::KeyedArchiver::archivedData(
            Foundation::Value(std::static_pointer_cast<Foundation::Object>(self)));
        return data ? Foundation::Value(*data) : Foundation::Value();
    }
    static NSPasteboardReadable readable() {
        Foundation::registerCodingClass("Payload", [](Foundation::KeyedUnarchiver& c) {
            auto p = std::make_shared<Payload>();
            p->index = c.decodeIntegerForKey("colorIndex");
            p->colour = c.decodeStringForKey("colorString").value_or("");
            return p;
        });
        return {{kType}, [](const Foundation::Value& v, const std::string&) -> std::shared_ptr<void> {
                    if (!v.isData()) return nullptr;
                    return Foundation::KeyedUnarchiver::unarchivedObject<Payload>(v.asData());
                }};
    }
};

// A library-like controller: a row of colours that reorders by dragging.
struct Library : NSCollectionViewDataSource, NSCollectionViewDelegate {
    std::vector<std::string> colours{"#111111", "#222222", "#333333"};
    std::vector<std::string> log;
    NSCollectionViewItemRef draggingItem;
    std::optional<NSIndexPathSet> dragged;
    long numberOfItemsInSection(NSCollectionView&, long) override { return static_cast<long>(colours.size()); }
    NSCollectionViewItemRef itemForRepresentedObjectAtIndexPath(NSCollectionView& cv, const NSIndexPath& p) override {
        auto item = std::static_pointer_cast<Cell>(cv.makeItemWithIdentifier("Cell", p));
        item->text = colours[static_cast<std::size_t>(p.item)];
        log.push_back("make " + std::to_string(p.item));
        return item;
    }
    bool canDragItemsAtIndexPaths(NSCollectionView&, const NSIndexPathSet&, const NSEvent&) override { return true; }
    std::shared_ptr<NSPasteboardWriting> pasteboardWriterForItemAtIndexPath(NSCollectionView&,
                                                                            const NSIndexPath& p) override {
        log.push_back("writer");
        auto w = std::make_shared<Payload>();
        w->colour = colours[static_cast<std::size_t>(p.item)];
        w->index = p.item;
        return w;
    }
    void draggingSessionWillBegin(NSCollectionView& cv, NSDraggingSession&, CGPoint,
                                  const NSIndexPathSet& paths) override {
        log.push_back("begin");
        dragged = paths;
        draggingItem = cv.itemAtIndexPath(*paths.begin());
    }
    NSDragOperation validateDrop(NSCollectionView& cv, NSDraggingInfo&, NSIndexPath& proposed,
                                 NSCollectionViewDropOperation&) override {
        if (draggingItem)
            if (auto at = cv.indexPathForItem(*draggingItem); at && *at != proposed)
                cv.collectionAnimator().moveItemAtIndexPath(*at, proposed);
        return NSDragOperationMove;
    }
    bool acceptDrop(NSCollectionView&, NSDraggingInfo&, const NSIndexPath& p, NSCollectionViewDropOperation) override {
        if (!dragged || dragged->empty()) return false;
        long from = dragged->begin()->item, to = std::min<long>(p.item, static_cast<long>(colours.size()) - 1);
        auto c = colours[static_cast<std::size_t>(from)];
        colours.erase(colours.begin() + from);
        colours.insert(colours.begin() + to, c);
        log.push_back("accept " + std::to_string(from) + "->" + std::to_string(to));
        return true;
    }
    void draggingSessionEnded(NSCollectionView&, NSDraggingSession&, CGPoint, NSDragOperation op) override {
        log.push_back("ended " + std::to_string(op));
        dragged.reset();
        draggingItem.reset();
    }
};

struct Tab : NSView {
    using NSView::NSView;
    std::vector<std::string> log;
    NSDragOperation draggingEntered(NSDraggingInfo&) override {
        log.push_back("entered");
        return NSDragOperationGeneric;
    }
    void draggingExited(NSDraggingInfo*) override { log.push_back("exited"); }
    bool performDragOperation(NSDraggingInfo& info) override {
        auto items = info.draggingPasteboard->readObjects<Payload>(Payload::readable());
        if (items.empty()) return false;
        log.push_back("dropped " + items[0]->colour + " " + std::to_string(items[0]->index));
        return true;
    }
};

class CollectionFixture : public ::testing::Test {
protected:
    Harness::UIHarness h;
    std::shared_ptr<NSWindow> window = NSWindow::make(CGRectMake(0, 0, 600, 200), NSWindowStyleMaskBorderless);
    std::shared_ptr<NSScrollView> scroll = std::make_shared<NSScrollView>(CGRectMake(0, 0, 400, 100));
    std::shared_ptr<NSCollectionView> cv = std::make_shared<NSCollectionView>(CGRectMake(0, 0, 400, 100));
    std::shared_ptr<Tab> tab = std::make_shared<Tab>(CGRectMake(450, 0, 100, 100));
    std::shared_ptr<Library> lib = std::make_shared<Library>();

    void SetUp() override {
        cv->registerItem([] { return std::make_shared<Cell>(); }, "Cell");
        auto& layout = *cv->collectionViewLayout;
        layout.scrollDirection = NSCollectionViewScrollDirection::horizontal;
        layout.itemSize = {150, 100};
        layout.sectionInset = {0, 10, 0, 10};
        cv->dataSource = lib;
        cv->delegate = lib;
        cv->registerForDraggedTypes({kType});
        cv->setDraggingSourceOperationMask(NSDragOperationEvery, true);
        tab->registerForDraggedTypes({kType});
        scroll->setDocumentView(cv);
        window->contentView()->addSubview(scroll);
        window->contentView()->addSubview(tab);
        window->orderFront();
        cv->reloadData();
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (auto& i : cv->visibleItems()) out.push_back(std::static_pointer_cast<Cell>(i)->text);
        return out;
    }
    CGPoint itemCenter(long i) const {
        return Harness::UIHarness::centerOnScreen(*cv->itemAtIndexPath({0, i})->view());
    }
};

TEST_F(CollectionFixture, ReloadsWhollyOrByPathAndGrowsItsDocument) {
    EXPECT_EQ(texts(), (std::vector<std::string>{"#111111", "#222222", "#333333"}));
    EXPECT_EQ(cv->frame().width(), 10 + 3 * 150 + 2 * 10 + 10);
    EXPECT_EQ(cv->itemAtIndexPath({0, 1})->view()->frame(), CGRectMake(170, 0, 150, 100));
    lib->log.clear();
    lib->colours[1] = "#abcdef";
    cv->reloadItemsAtIndexPaths({{0, 1}, {0, 9}});
    EXPECT_EQ(lib->log, std::vector<std::string>{"make 1"});
    EXPECT_EQ(texts()[1], "#abcdef");
    auto item = cv->itemAtIndexPath({0, 2});
    EXPECT_EQ(cv->indexPathForItem(*item), (NSIndexPath{0, 2}));
    lib->colours.pop_back();
    cv->reloadData();
    EXPECT_FALSE(cv->indexPathForItem(*item));
    EXPECT_EQ(cv->frame().width(), 400) << "never narrower than the clip view";
}

TEST_F(CollectionFixture, DraggingTheFirstCellBehindTheLastReordersLiveAndStoresOnDrop) {
    h.drag(itemCenter(0), {395, 50}, 6);
    EXPECT_EQ(lib->colours, (std::vector<std::string>{"#222222", "#333333", "#111111"}));
    EXPECT_EQ(texts(), lib->colours);
    EXPECT_EQ(lib->log.back(), "ended 16");
    EXPECT_TRUE(std::find(lib->log.begin(), lib->log.end(), "accept 0->2") != lib->log.end());
    // writer, then begin: the order the delegate sees them in.
    auto w = std::find(lib->log.begin(), lib->log.end(), "writer");
    ASSERT_NE(w, lib->log.end());
    EXPECT_EQ(*(w + 1), "begin");
    EXPECT_EQ(Foundation::RunLoop::main().currentMode(), Foundation::RunLoopMode::Default);
}

TEST_F(CollectionFixture, ADropOnAnotherViewCarriesTheArchivedPayload) {
    h.drag(itemCenter(1), Harness::UIHarness::centerOnScreen(*tab), 4);
    EXPECT_EQ(tab->log, (std::vector<std::string>{"entered", "dropped #222222 1"}));
    EXPECT_EQ(lib->log.back(), "ended 4");
}

TEST_F(CollectionFixture, EscapeCancelsTheDragAndTheSourceHearsNone) {
    h.moveMouse(itemCenter(0));
    h.mouseDown(itemCenter(0));
    h.app().inputMouseDragged(Harness::UIHarness::centerOnScreen(*tab), 0);
    h.pressKey(kVK_Escape, "\x1b");
    h.mouseUp(Harness::UIHarness::centerOnScreen(*tab));
    EXPECT_EQ(tab->log, (std::vector<std::string>{"entered", "exited"}));
    EXPECT_EQ(lib->log.back(), "ended 0");
}

TEST(ScrollView, ClipViewScrollsWithinTheDocumentAndAnimatesItsOrigin) {
    Harness::UIHarness h;
    auto scroll = std::make_shared<NSScrollView>(CGRectMake(0, 0, 100, 30));
    auto doc = std::make_shared<NSView>(CGRectMake(0, 0, 250, 30));
    scroll->setDocumentView(doc);
    scroll->contentView()->scrollToPoint({1000, 0});
    EXPECT_EQ(scroll->documentVisibleRect(), CGRectMake(150, 0, 100, 30));
    scroll->contentView()->scrollToPoint({-5, 0});
    EXPECT_EQ(scroll->documentVisibleRect().origin, (CGPoint{0, 0}));
    NSAnimationContext::runAnimationGroup([&](NSAnimationContext& c) {
        c.duration = 0.5;
        scroll->contentView()->animator()->setBoundsOrigin({100, 0});
    });
    h.advance(0.25);
    EXPECT_GT(scroll->documentVisibleRect().minX(), 0);
    h.advance(0.25);
    EXPECT_EQ(scroll->documentVisibleRect().minX(), 100);
}

TEST(StackView, ArrangesViewsInARowOrColumn) {
    auto stack = std::make_shared<NSStackView>(CGRectMake(0, 0, 200, 40));
    stack->spacing = 10;
    struct Sized : NSView {
        CGSize size;
        explicit Sized(CGSize s) : size(s) {}
        CGSize intrinsicContentSize() const override { return size; }
    };
    auto a = std::make_shared<Sized>(CGSize{30, 5});
    auto b = std::make_shared<Sized>(CGSize{50, 5});
    stack->addArrangedSubview(a);
    stack->addArrangedSubview(b);
    EXPECT_EQ(b->frame(), CGRectMake(40, 0, 50, 40));
    stack->distribution = NSStackViewDistribution::fillEqually;
    stack->layout();
    EXPECT_EQ(b->frame(), CGRectMake(105, 0, 95, 40));
    stack->orientation = NSUserInterfaceLayoutOrientation::vertical;
    stack->distribution = NSStackViewDistribution::gravityAreas;
    stack->layout();
    EXPECT_EQ(a->frame(), CGRectMake(0, 35, 200, 5));
    EXPECT_EQ(b->frame(), CGRectMake(0, 20, 200, 5));
    EXPECT_EQ(stack->intrinsicContentSize(), (CGSize{50, 20}));
}

TEST(Popover, ShowsAboveTheViewAndClosesOnce) {
    Harness::UIHarness h;
    auto w = NSWindow::make(CGRectMake(100, 100, 300, 200), NSWindowStyleMaskBorderless);
    auto view = std::make_shared<NSView>(CGRectMake(50, 50, 40, 20));
    w->contentView()->addSubview(view);
    w->orderFront();
    struct Delegate : NSPopoverDelegate {
        int shown = 0, closed = 0;
        void popoverDidShow(NSPopover&) override { ++shown; }
        void popoverDidClose(NSPopover&) override { ++closed; }
    };
    auto d = std::make_shared<Delegate>();
    auto popover = std::make_shared<NSPopover>();
    auto vc = std::make_shared<NSViewController>();
    vc->preferredContentSize = {80, 30};
    popover->contentViewController = vc;
    popover->delegate = d;
    popover->showRelativeToRect(view->bounds(), *view, NSRectEdge::maxY);
    ASSERT_TRUE(popover->isShown());
    EXPECT_EQ(popover->window()->frame(), CGRectMake(100 + 50 + 20 - 40, 100 + 70 + 4, 80, 30));
    popover->showRelativeToRect(view->bounds(), *view, NSRectEdge::maxY);
    popover->close();
    popover->close();
    EXPECT_EQ(d->shown, 1);
    EXPECT_EQ(d->closed, 1);
}

}  // namespace
