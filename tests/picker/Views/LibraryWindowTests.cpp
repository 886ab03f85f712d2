// The library window on a fresh store in the interface harness: its cells,
// folder requests, drags, editor and generator, and its look.
#include "ViewsTestSupport.h"

#include "picker/Library/LibraryTestSupport.h"

#include "Platform/AppKit/NSPasteboard.h"
#include "Platform/AppKit/NSSavePanel.h"
#include "Platform/Foundation/UserDefaults.h"
#include "picker/Views/Controls/ThemeManager.h"
#include "picker/Views/Library/LibraryShell.h"
#include "picker/Views/Library/ZNLColorsLibraryViewController.h"
#include "picker/Views/TabBar/ZNLBarButton.h"
#include "support/Snapshot.h"

#include <filesystem>

namespace viewstest {
namespace {

using namespace Vexil::Views;

class LibraryWindowTest : public ViewsTest {
protected:
    void SetUp() override {
        ViewsTest::SetUp();
        auto& defaults = Foundation::UserDefaults::standard();
        defaults.removeObjectForKey("selectedFolder");
        defaults.set("hexWithHashtag", true);
        defaults.set("capitalizedHex", true);
        LibraryShell::shared().toggleLibrary = [this] { ++toggles; };
    }
    void TearDown() override {
        LibraryShell::shared() = {};
        ThemeManager::systemTheme().isDark = false;
        if (window) window->close();
        window.reset();
        controller.reset();
        ViewsTest::TearDown();
    }
    static std::shared_ptr<ZNLColorFolder> addFolder(const std::string& name, std::int64_t id, std::int64_t order) {
        return librarytest::addFolder(name, id, order);
    }
    static std::shared_ptr<ZNLColorItem> addItem(const std::shared_ptr<ZNLColorFolder>& folder, const std::string& hex,
                                                 std::int64_t order, bool deleted = false) {
        return librarytest::addItem(folder, hex, order, deleted);
    }
    // The window as the shell shows it: along the bottom of the screen.
    void open() {
        controller = std::make_shared<ZNLColorsLibraryViewController>();
        window = NSWindow::make<NSPanel>(CGRectMake(0, 0, 1000, 280), NSWindowStyleMaskBorderless);
        window->setContentViewController(controller);
        window->setFrame(CGRectMake(0, 0, 1000, 280));
        window->orderFront();
        h.drain();
        window->contentView()->layoutSubtreeIfNeeded();  // as the first display does
    }
    NSCollectionView& row() { return *controller->collectionView.lock(); }
    long cells() { return row().numberOfItemsInSection(0); }
    std::shared_ptr<ZNLColorsLibraryItem> cell(long i) {
        return std::dynamic_pointer_cast<ZNLColorsLibraryItem>(row().itemAtIndexPath(NSIndexPath::indexPathForItem(i)));
    }
    // A point of a cell's white overlay clear of its labels (the swatch takes its own clicks).
    static CGPoint overlayPoint(const NSView& cellView) {
        const CGRect r = cellView.convertRectToScreen(cellView.bounds());
        return {r.minX() + 5, r.minY() + 5};
    }
    std::vector<std::string> storedOrder(const std::shared_ptr<ZNLColorFolder>& folder) {
        std::vector<std::string> out;
        for (auto& i : LibraryFolders::visibleColors(folder)) out.push_back(i->color());
        return out;
    }

    std::shared_ptr<ZNLColorsLibraryViewController> controller;
    std::shared_ptr<NSWindow> window;
    int toggles = 0;
};

TEST_F(LibraryWindowTest, CellsShowTheVisibleColoursOfTheSelectedFolder) {
    auto folder = addFolder("Palette", 3, 1);
    addItem(folder, "#00ff00", 0);
    addItem(folder, "#ff0000", 1, true);
    auto named = addItem(folder, "#1a2b3c", 2);
    named->realm()->write([&] { named->setColorName("Night"); });
    open();
    ASSERT_EQ(cells(), 2);
    EXPECT_TRUE(controller->emptyFolderLabel.lock()->isHidden());
    EXPECT_EQ(cell(1)->hexLabel.lock()->stringValue(), "HEX 1A2B3C - 2");
    EXPECT_EQ(cell(1)->rgbLabel.lock()->stringValue(), "RGB(26, 43, 60)");
    EXPECT_EQ(cell(1)->colorName.lock()->stringValue(), "Night");
    EXPECT_FALSE(cell(0)->colorName.lock()->stringValue().empty());  // from the name table
    EXPECT_EQ(cell(1)->deleteButton.lock()->tag, 1);
    EXPECT_EQ(cell(1)->adjustButton.lock()->actionName, "handleAdjustColorWithSender:");

    // Deleting through a cell's button keeps the colour in the store; the
    // remaining cell's tag is renumbered by the reload.
    cell(0)->deleteButton.lock()->performClick();
    h.drain();
    ASSERT_EQ(cells(), 1);
    EXPECT_EQ(cell(0)->deleteButton.lock()->tag, 0);
    EXPECT_EQ(folder->objects().count(), 3u);

    cell(0)->deleteButton.lock()->performClick();
    h.drain();
    EXPECT_EQ(cells(), 0);
    EXPECT_FALSE(controller->emptyFolderLabel.lock()->isHidden());
    EXPECT_TRUE(row().isHidden());
}

TEST_F(LibraryWindowTest, SelectingAndAddingFolders) {
    addFolder("A", 5, 1);
    addFolder("B", 12, 2);
    open();
    controller->selectFolder(12);
    EXPECT_EQ(Foundation::UserDefaults::standard().stringForKey("selectedFolder"), "12");
    EXPECT_EQ(controller->selectedFolder()->folderName(), "B");

    const auto clipWidth = controller->scrollView->contentView()->frame().width();
    controller->addFolderButton.lock()->performClick();
    auto added = ZNLColorsLibrary::shared().folderWithId("13");
    ASSERT_TRUE(added);
    EXPECT_EQ(added->folderName(), "Untitled");
    EXPECT_EQ(added->order(), 1);
    EXPECT_EQ(controller->selectedFolder()->folderId(), 12);
    h.advance(0.25);
    EXPECT_LT(controller->scrollView->contentView()->bounds().origin.x, clipWidth);
    h.advance(0.26);
    EXPECT_EQ(controller->scrollView->contentView()->bounds().origin.x, clipWidth);
}

TEST_F(LibraryWindowTest, DraggingTheFirstColourBehindTheLastStoresTheNewOrder) {
    auto folder = addFolder("A", 1, 1);
    addItem(folder, "#aa0000", 0);
    addItem(folder, "#00bb00", 1);
    addItem(folder, "#0000cc", 2);
    open();
    ASSERT_EQ(cells(), 3);
    auto a = cell(0)->view(), c = cell(2)->view();
    const CGPoint from = overlayPoint(*a);
    const CGRect last = c->convertRectToScreen(c->bounds());
    h.drag(from, {last.maxX() + 4, last.midY()}, 8);
    h.drain();
    EXPECT_EQ(storedOrder(folder), (std::vector<std::string>{"#00bb00", "#0000cc", "#aa0000"}));
    EXPECT_FALSE(controller->dragging);
    // Tags follow the stored order.
    for (long i = 0; i < 3; ++i) EXPECT_EQ(cell(i)->deleteButton.lock()->tag, i);
    EXPECT_EQ(cell(2)->hexLabel.lock()->stringValue().substr(0, 10), "HEX AA0000");
}

TEST_F(LibraryWindowTest, ARefusedReorderPutsTheCellsBack) {
    auto folder = addFolder("A", 1, 1);
    addItem(folder, "#aa0000", 0);
    addItem(folder, "#00bb00", 1);
    open();
    ObjectStore::testing::failNextCommits(1);
    auto b = cell(1)->view();
    const CGRect last = b->convertRectToScreen(b->bounds());
    h.drag(overlayPoint(*cell(0)->view()), {last.maxX() + 4, last.midY()}, 8);
    h.drain();
    EXPECT_EQ(storedOrder(folder), (std::vector<std::string>{"#aa0000", "#00bb00"}));
    EXPECT_EQ(cell(0)->hexLabel.lock()->stringValue().substr(0, 10), "HEX AA0000");
    EXPECT_EQ(cell(0)->deleteButton.lock()->tag, 0);
}

TEST_F(LibraryWindowTest, SwatchCopyAndShadeAreIgnoredDuringADrag) {
    auto folder = addFolder("A", 1, 1);
    auto item = addItem(folder, "#336699", 0);
    open();
    auto swatch = std::dynamic_pointer_cast<ZNLShadeView>(cell(0)->stackView.lock()->views.at(0));
    NSPasteboard::generalPasteboard()->clearContents();
    controller->dragging = true;
    controller->shadeViewDoubleClicked(*swatch, NSColor::redColor());
    controller->shadeViewClicked(*swatch, NSColor::redColor());
    EXPECT_FALSE(NSPasteboard::generalPasteboard()->stringForType(NSPasteboardTypeString));
    EXPECT_EQ(item->color(), "#336699");
    controller->dragging = false;
    controller->shadeViewDoubleClicked(*swatch, NSColor::redColor());
    EXPECT_EQ(NSPasteboard::generalPasteboard()->stringForType(NSPasteboardTypeString), "#FF0000");
    controller->shadeViewClicked(*swatch, NSColor::redColor());
    EXPECT_EQ(item->color(), "#ff0000ff");
}

TEST_F(LibraryWindowTest, AdjustOpensTheEditorAndSaveClosesIt) {
    auto folder = addFolder("A", 1, 1);
    auto item = addItem(folder, "#336699", 0);
    open();
    cell(0)->adjustButton.lock()->performClick();
    h.drain();
    EXPECT_EQ(toggles, 1);
    ASSERT_TRUE(controller->editorWindow->isVisible);
    auto editor = controller->editorWindow->viewController;
    controller->colorChooserDidSave(NSColor::redColor(), "", *editor);
    h.drain();
    EXPECT_EQ(item->color(), "#ff0000ff");
    EXPECT_EQ(item->colorName(), "");
    EXPECT_FALSE(controller->editorWindow->isVisible);
    EXPECT_EQ(cell(0)->hexLabel.lock()->stringValue(), "HEX FF0000 - 0");
}

TEST_F(LibraryWindowTest, TheGeneratorIsClosedOnCloseAndApply) {
    auto folder = addFolder("A", 1, 1);
    addItem(folder, "#336699", 0);
    open();
    auto generators = [] {
        int n = 0;
        for (auto& w : NSApplication::shared().windows())
            if (w->isVisible() && std::dynamic_pointer_cast<ZNLPaletteGenerator>(w->contentViewController())) ++n;
        return n;
    };
    controller->handleGeneratePalette(0);
    h.drain();
    ASSERT_EQ(generators(), 1);
    auto generatorOf = [] {
        for (auto& w : NSApplication::shared().windows())
            if (auto g = std::dynamic_pointer_cast<ZNLPaletteGenerator>(w->contentViewController()))
                if (w->isVisible()) return g;
        return std::shared_ptr<ZNLPaletteGenerator>();
    };
    generatorOf()->close();
    h.drain();
    EXPECT_EQ(generators(), 0);
    controller->handleGeneratePalette(0);
    h.drain();
    generatorOf()->applyPalette();
    h.drain();
    EXPECT_EQ(generators(), 0);
    EXPECT_EQ(LibraryFolders::folders().size(), 2u);
}

TEST_F(LibraryWindowTest, CloseAndPickAskTheShell) {
    addFolder("A", 1, 1);
    int picks = 0;
    LibraryShell::shared().startPicker = [&] { ++picks; };
    open();
    controller->closeButton.lock()->performClick();
    EXPECT_EQ(toggles, 1);
    controller->pickColorButton.lock()->performClick();
    EXPECT_EQ(toggles, 2);
    EXPECT_EQ(picks, 1);
}

std::shared_ptr<ZNLBarButton> tabOf(ZNLColorsLibraryViewController& c, std::int64_t folderId) {
    return c.stackView->tabForFolder(folderId);
}

TEST_F(LibraryWindowTest, ACellDroppedOnAnotherFoldersTabMovesThere) {
    auto a = addFolder("A", 1, 1);
    auto b = addFolder("B", 2, 2);
    addItem(a, "#aa0000", 0);
    addItem(a, "#00bb00", 1);
    addItem(b, "#0000cc", 0);
    open();
    ASSERT_EQ(controller->stackView->tabItems.size(), 2u);
    auto target = tabOf(*controller, 2);
    ASSERT_TRUE(target);
    h.drag(overlayPoint(*cell(1)->view()), Harness::UIHarness::centerOnScreen(*target), 8);
    h.drain();
    EXPECT_EQ(storedOrder(a), std::vector<std::string>{"#aa0000"});
    EXPECT_EQ(storedOrder(b), (std::vector<std::string>{"#0000cc", "#00bb00"}));
    ASSERT_EQ(cells(), 1);
    EXPECT_EQ(cell(0)->deleteButton.lock()->tag, 0);

    // Onto its own folder's tab: nothing changes.
    h.drag(overlayPoint(*cell(0)->view()), Harness::UIHarness::centerOnScreen(*tabOf(*controller, 1)), 8);
    h.drain();
    EXPECT_EQ(storedOrder(a), std::vector<std::string>{"#aa0000"});
}

TEST_F(LibraryWindowTest, AStaleOrForeignDropMovesNothing) {
    auto a = addFolder("A", 1, 1);
    auto b = addFolder("B", 2, 2);
    addItem(a, "#aa0000", 0);
    open();
    auto tab = tabOf(*controller, 2);
    controller->didDropColor(*tab, "#123456", 0, 2, 1);   // not the colour at that index
    controller->didDropColor(*tab, "#aa0000", 5, 2, 1);   // index out of range
    controller->didDropColor(*tab, "#aa0000", 0, 2, 9);   // from another folder
    controller->didDropColor(*tab, "#aa0000", 0, 42, 1);  // target gone
    EXPECT_EQ(storedOrder(a), std::vector<std::string>{"#aa0000"});
    EXPECT_TRUE(storedOrder(b).empty());
}

TEST_F(LibraryWindowTest, TabsSelectRenameAndExportThroughTheWindow) {
    addFolder("A", 1, 1);
    addFolder("B", 12, 2);
    open();
    auto b = tabOf(*controller, 12);
    h.clickView(*b);
    EXPECT_EQ(Foundation::UserDefaults::standard().stringForKey("selectedFolder"), "12");
    EXPECT_EQ(controller->selectedFolder()->folderId(), 12);

    controller->didRenameFolder(*b, 12, "Brand");
    EXPECT_EQ(ZNLColorsLibrary::shared().folderWithId("12")->folderName(), "Brand");

    struct Recorder : FolderExportActions {
        std::vector<std::string> calls;
        void exportColorList(const std::optional<std::string>& p) override {
            calls.push_back("clr " + p.value_or("-"));
        }
        void exportSwatchExchange(const std::optional<std::string>& p) override {
            calls.push_back("ase " + p.value_or("-"));
        }
        void exportFolder(ExportFormat f) override { calls.push_back("code " + std::to_string(int(f))); }
    };
    auto recorder = std::make_shared<Recorder>();
    controller->exportActions = recorder;
    b->exportFormat(4);
    b->exportFormat(9);  // not a format
    controller->exportColorList(std::string("/tmp/x.clr"));
    EXPECT_EQ(recorder->calls, (std::vector<std::string>{"code 4", "clr /tmp/x.clr"}));
}

// The tab's colour list and swatch items ask where with the window slid away,
// then write through the window's own export side.
TEST_F(LibraryWindowTest, TabMenuExportsAskWhereAndWrite) {
    auto folder = addFolder("A", 1, 1);
    addItem(folder, "#ff8000", 0);
    open();
    auto tab = tabOf(*controller, 1);
    h.clickView(*tab);
    SavePanelScript panels;
    panels.saveAs(dir + "/a.clr");
    panels.cancel();
    tab->exportColorList();
    EXPECT_TRUE(std::filesystem::exists(dir + "/a.clr"));
    EXPECT_EQ(toggles, 1);
    tab->exportSwatchExchange();
    EXPECT_EQ(toggles, 2);
    ASSERT_EQ(panels.shown().size(), 2u);
    EXPECT_EQ(panels.shown()[0].title, "Export");
    EXPECT_EQ(panels.shown()[0].allowedFileTypes, std::vector<std::string>{"clr"});
    EXPECT_EQ(panels.shown()[1].allowedFileTypes, std::vector<std::string>{"ase"});
    EXPECT_FALSE(std::filesystem::exists(dir + "/a.ase"));
}

void snapshot(LibraryWindowTest& t, Harness::UIHarness& h, const std::shared_ptr<NSWindow>& window,
              const std::string& name) {
    (void)t;
    h.moveMouse({5, 600});
    h.advance(0.5);
    auto image = h.renderScreen(window->frame());
    EXPECT_TRUE(TestSupport::matchesSnapshot(image, "picker/Views/snapshots/" + name + ".png"));
}

TEST_F(LibraryWindowTest, SnapshotsLightAndDark) {
    auto palette = addFolder("Palette", 1, 1);
    addFolder("Brand", 2, 2);
    addFolder("Web", 3, 3);
    for (auto [hex, order] : {std::pair{"#e4572e", 0}, std::pair{"#29335c", 1}, std::pair{"#f3a712", 2},
                              std::pair{"#a8c686", 3}, std::pair{"#669bbc", 4}})
        addItem(palette, hex, order);
    open();
    snapshot(*this, h, window, "library-window-light");
    window->close();
    ThemeManager::systemTheme().isDark = true;
    open();
    snapshot(*this, h, window, "library-window-dark");
}

}  // namespace
}  // namespace viewstest
