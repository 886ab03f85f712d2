// The folder tab bar and its tabs: reload, layout, selection, forwarding by
// folder id, looks by theme, the context menu, renaming and colour drops.
#include <gtest/gtest.h>

#include <filesystem>

#include "Platform/AppKit/Dragging.h"
#include "Platform/AppKit/NSWindow.h"
#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Harness/Harness.h"
#include "Platform/ObjectStore/Realm.h"
#include "picker/Colors/NSColorAdditions.h"
#include "picker/Library/LibraryStore.h"
#include "picker/Library/LibraryTestSupport.h"
#include "picker/Library/ZNLColorsLibrary.h"
#include "picker/Views/Controls/ConstraintMaker.h"
#include "picker/Views/Controls/ThemeManager.h"
#include "picker/Views/Library/LibraryFolders.h"
#include "picker/Views/TabBar/ZNLBarButton.h"
#include "picker/Views/TabBar/ZNLPasteboardItem.h"
#include "picker/Views/TabBar/ZNLTabBar.h"
#include "support/Snapshot.h"

using namespace AppKit;
using namespace Vexil::Views;

namespace {

// The library window's side: folders from the store, requests recorded and
// answered through the library's folder logic.
struct Window : ZNLBarButtonDelegate, ZNLBarDataSource {
    LibraryFolders lib;
    std::vector<std::string> calls;
    bool refuseRemoval = false;
    std::int64_t formatId = 1;
    std::optional<ColorFormat> changedFormat;

    std::vector<std::shared_ptr<ZNLColorFolder>> folders() override { return LibraryFolders::folders(); }
    void didSelectFolder(ZNLBarButton&, std::int64_t id, NSControlStateValue state) override {
        calls.push_back("select " + std::to_string(id) + " " + std::to_string(state));
        lib.selectFolder(id);
    }
    void didRenameFolder(ZNLBarButton&, std::int64_t id, const std::string& name) override {
        calls.push_back("rename " + std::to_string(id) + " '" + name + "'");
        lib.renameFolder(id, name);
    }
    bool didRemoveFolder(ZNLBarButton&, std::int64_t id) override {
        calls.push_back("remove " + std::to_string(id));
        return !refuseRemoval && lib.removeFolder(id);
    }
    bool didChangeFolderColor(ZNLBarButton&, std::int64_t id, const NSColorRef& color) override {
        calls.push_back("color " + std::to_string(id));
        return lib.changeFolderColor(id, *color);
    }
    std::int64_t formatIdForFolder(ZNLBarButton&, std::int64_t) override { return formatId; }
    void didChangeFolderFormat(ZNLBarButton&, const ColorFormat& format, std::int64_t id) override {
        calls.push_back("format " + std::to_string(id));
        changedFormat = format;
    }
    void didDropColor(ZNLBarButton&, const std::string& text, std::int64_t index, std::int64_t id,
                      std::int64_t source) override {
        calls.push_back("drop " + text + " " + std::to_string(index) + " " + std::to_string(id) + " " +
                        std::to_string(source));
        lib.dropColor(text, long(index), id);
    }
    void exportColorList(const std::optional<std::string>& p) override { calls.push_back("clr " + p.value_or("-")); }
    void exportSwatchExchange(const std::optional<std::string>& p) override {
        calls.push_back("ase " + p.value_or("-"));
    }
    void exportFolder(ExportFormat f) override { calls.push_back("export " + std::to_string(int(f))); }
};

// A colour as a drag from the library row puts it on the pasteboard.
struct Payload : NSPasteboardWriting {
    std::shared_ptr<Foundation::Coding> item;
    std::vector<std::string> writableTypesForPasteboard() const override { return {kColorDragType}; }
    Foundation::Value pasteboardPropertyListForType(const std::string&) const override {
        return Foundation::Value(*Foundation::KeyedArchiver::archivedData(
            Foundation::Value(std::static_pointer_cast<Foundation::Object>(item))));
    }
};

class NoFolderId : public Foundation::Coding {
public:
    std::string className() const override { return "ZNLPasteboardItem"; }
    void encodeWithCoder(Foundation::KeyedArchiver& c) const override {
        c.encode("colorIndex", 0);
        c.encode("colorString", "#abcdef");
    }
};

bool sameRGB(const CoreGraphics::RGBA& a, double r, double g, double b) {
    return std::abs(a.r - r) < 1e-6 && std::abs(a.g - g) < 1e-6 && std::abs(a.b - b) < 1e-6;
}

class TabBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = Foundation::temporaryDirectory();
        configureLibraryStore();
        auto c = ObjectStore::Configuration::defaultConfiguration();
        c.path = dir + "/default.realm";
        ObjectStore::Configuration::setDefaultConfiguration(c);
        Foundation::UserDefaults::standard().removeObjectForKey("selectedFolder");
        ThemeManager::systemTheme().isDark = false;
        window->contentView()->addSubview(bar);
        makeConstraints(*bar, [](ConstraintMaker& make) {
            make.left().equalToSuperview();
            make.top().equalToSuperview();
            make.bottom().equalToSuperview();
        });
        h.app().activateIgnoringOtherApps(true);
        window->makeKeyAndOrderFront();
        bar->dataSource = owner;
        bar->delegate = owner;
    }
    void TearDown() override {
        ThemeManager::systemTheme().isDark = false;
        for (auto& w : NSApplication::shared().windows()) w->close();
        h.drain();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    static std::shared_ptr<ZNLColorFolder> addFolder(const std::string& name, std::int64_t id, std::int64_t order,
                                                     std::optional<std::string> color = std::nullopt) {
        return librarytest::addFolder(name, id, order, color);
    }
    void threeFolders() {
        addFolder("Alpha", 1, 1);
        addFolder("Beta", 2, 2, "#0000ff");
        addFolder("Gamma", 3, 3);
        Foundation::UserDefaults::standard().set("selectedFolder", std::string("2"));
        bar->reloadTabs();
        layout();
    }
    void layout() { window->contentView()->layoutSubtreeIfNeeded(); }
    std::vector<std::string> titles() const {
        std::vector<std::string> out;
        for (auto& t : bar->tabItems) out.push_back(t->title());
        return out;
    }
    ZNLBarButton& tab(std::size_t i) { return *bar->tabItems.at(i); }
    NSMenuRef menuOf(ZNLBarButton& t) {
        h.rightClickView(t);
        h.drain();
        return t.contextMenu;
    }

    Harness::UIHarness h;
    std::string dir;
    // Titled, so that it can take the keys of a rename.
    std::shared_ptr<NSWindow> window = NSWindow::make(CGRectMake(100, 500, 700, 62), NSWindowStyleMaskTitled);
    std::shared_ptr<ZNLTabBar> bar = NSView::make<ZNLTabBar>();
    std::shared_ptr<Window> owner = std::make_shared<Window>();
};

TEST_F(TabBarTest, ReloadGivesOneTabPerFolderWithTheSelectedOneOn) {
    addFolder("Beta", 9, 0);  // same name as the selected folder, another id
    threeFolders();
    EXPECT_EQ(titles(), (std::vector<std::string>{"Beta", "Alpha", "Beta", "Gamma"}));
    std::vector<NSControlStateValue> states;
    for (auto& t : bar->tabItems) states.push_back(t->state());
    EXPECT_EQ(states, (std::vector<NSControlStateValue>{0, 0, 1, 0}));
    EXPECT_EQ(tab(2).folderId, 2);
    // The tag circle: the folder's colour, or the orange default.
    auto centre = [](ZNLBarButton& t) { return NSBitmapImageRep::imageRepWithImage(*t.image())->colorAtX(10, 10); };
    auto blue = centre(tab(2)), orange = centre(tab(1));
    EXPECT_NEAR(blue->blueComponent(), 1, 0.01);
    EXPECT_NEAR(orange->redComponent(), 0.95, 0.01);
    EXPECT_NEAR(orange->greenComponent(), 0.57, 0.01);
    EXPECT_NEAR(orange->blueComponent(), 0.13, 0.01);
    // No folders: the tabs stay.
    auto before = bar->tabItems;
    owner.reset();
    bar->reloadTabs();
    EXPECT_EQ(bar->tabItems, before);
}

TEST_F(TabBarTest, TabsSitInOneRowWithASingleRightTie) {
    threeFolders();
    bar->reloadTabs();  // a second reload leaves no stale constraints behind
    layout();
    double right = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        auto& t = tab(i);
        const double fitted = t.intrinsicContentSize().width;
        EXPECT_DOUBLE_EQ(t.frame().width(), fitted + 22) << i;
        EXPECT_DOUBLE_EQ(t.frame().minX(), i == 0 ? 0 : right + 20) << i;
        EXPECT_DOUBLE_EQ(t.frame().height(), window->contentView()->bounds().height()) << i;
        right = t.frame().maxX();
    }
    EXPECT_DOUBLE_EQ(bar->frame().width(), right);
    std::vector<std::pair<std::size_t, float>> rightTies;
    for (std::size_t i = 0; i < 3; ++i)
        for (auto& c : madeConstraints(tab(i)))
            if (c->firstAttribute == NSLayoutAttribute::right) rightTies.push_back({i, c->priority});
    EXPECT_EQ(rightTies, (std::vector<std::pair<std::size_t, float>>{{2, 750.f}}));
    // The arrow sits at the tab's right edge, 19 wide.
    EXPECT_DOUBLE_EQ(tab(0).buttonRight->frame().width(), 19);
    EXPECT_DOUBLE_EQ(tab(0).buttonRight->frame().maxX(), tab(0).bounds().width());
}

TEST_F(TabBarTest, ClickingATabSelectsItAlone) {
    threeFolders();
    h.clickView(tab(2));
    h.drain();
    EXPECT_EQ(tab(2).state(), 1);
    EXPECT_EQ(tab(0).state(), 0);
    EXPECT_EQ(tab(1).state(), 0);
    EXPECT_EQ(tab(1).layer()->backgroundColor.a, 0);  // the normal look, even for the former selection
    EXPECT_EQ(owner->calls, (std::vector<std::string>{"select 3 1"}));
    EXPECT_EQ(owner->lib.selectedFolder->folderId(), 3);
}

TEST_F(TabBarTest, RemovingTabs) {
    threeFolders();
    owner->refuseRemoval = true;
    tab(1).removeFolder();
    EXPECT_EQ(titles().size(), 3u);
    owner->refuseRemoval = false;
    auto menu = menuOf(tab(1));
    ASSERT_TRUE(menu);
    h.chooseMenuItem({"Delete"});
    h.drain();
    EXPECT_EQ(titles(), (std::vector<std::string>{"Alpha", "Gamma"}));
    EXPECT_EQ(owner->calls, (std::vector<std::string>{"remove 2", "remove 2", "select 1 1"}));
    EXPECT_EQ(tab(0).state(), 1);
    layout();
    EXPECT_DOUBLE_EQ(tab(1).frame().minX(), tab(0).frame().maxX() + 20);

    // The only tab: the strip empties and nothing is selected.
    owner->calls.clear();
    auto single = bar->tabItems;
    tab(1).removeFolder();
    tab(0).removeFolder();
    EXPECT_TRUE(bar->tabItems.empty());
    EXPECT_EQ(owner->calls, (std::vector<std::string>{"remove 3", "select 1 1", "remove 1"}));
    EXPECT_TRUE(bar->subviews().empty());
}

TEST_F(TabBarTest, RequestsFollowTheTabsFolderWhenOthersShift) {
    threeFolders();
    // Sync adds a folder that sorts first and removes Gamma; the strip is not reloaded.
    addFolder("Synced", 7, 0);
    owner->lib.removeFolder(3);
    tab(1).didChangeFolderColor(NSColor::yellowColor());
    EXPECT_EQ(ZNLColorsLibrary::shared().folderWithId("2")->color(), "#ffff00");
    EXPECT_FALSE(ZNLColorsLibrary::shared().folderWithId("7")->color());
    EXPECT_FALSE(tab(2).didChangeFolderColor(NSColor::redColor()));  // its folder is gone: nothing
    EXPECT_EQ(ZNLColorsLibrary::shared().folderWithId("3")->color(), std::nullopt);
    h.clickView(tab(0));
    EXPECT_EQ(owner->lib.selectedFolder->folderName(), "Alpha");
}

TEST_F(TabBarTest, DefaultsWithoutADelegateOrFromAStrayTab) {
    threeFolders();
    auto stray = bar->makeTab("Stray", ZNLTabBar::defaultTagColor(), 2);
    EXPECT_EQ(bar->formatIdForFolder(*stray, kRequestingTab), 1);
    EXPECT_FALSE(bar->didRemoveFolder(*stray, kRequestingTab));
    EXPECT_TRUE(owner->calls.empty());
    // Exports pass through unchanged, even from a stray tab.
    stray->exportFormat(4);
    stray->exportColorList();
    stray->exportFormat(6);
    EXPECT_EQ(owner->calls, (std::vector<std::string>{"export 4", "clr -"}));
    owner->formatId = 5;
    EXPECT_EQ(tab(0).delegate.lock()->formatIdForFolder(tab(0), kRequestingTab), 5);
    bar->delegate.reset();
    EXPECT_EQ(bar->formatIdForFolder(tab(0), kRequestingTab), 1);
    EXPECT_FALSE(bar->didChangeFolderColor(tab(0), kRequestingTab, NSColor::redColor()));
}

TEST_F(TabBarTest, LooksByTheme) {
    threeFolders();
    auto& off = tab(0);
    auto& on = tab(1);
    struct Look {
        CoreGraphics::RGBA background;
        CoreGraphics::RGBA title;
    };
    auto look = [](ZNLBarButton& t) {
        return Look{t.layer()->backgroundColor, toRGBA(t.attributedTitle->runs().front().color)};
    };
    for (bool dark : {false, true}) {
        ThemeManager::systemTheme().isDark = dark;
        off.restyle();
        EXPECT_EQ(look(off).background.a, 0) << dark;
        EXPECT_TRUE(sameRGB(look(off).title, !dark ? 0 : 1, !dark ? 0 : 1, !dark ? 0 : 1)) << dark;
        h.moveMouseToView(off);
        EXPECT_TRUE(off.mouseOver);
        EXPECT_TRUE(sameRGB(look(off).background, 0.52, 0.53, 0.53)) << dark;
        EXPECT_TRUE(sameRGB(look(off).title, 1, 1, 1)) << dark;
        // The selected tab keeps its look whatever the pointer does.
        h.moveMouseToView(on);
        EXPECT_EQ(look(off).background.a, 0) << dark;
        const double g = dark ? 0.76 : 0.6, t = dark ? 0.27 : 1;
        EXPECT_TRUE(sameRGB(look(on).background, g, g, g)) << dark;
        EXPECT_TRUE(sameRGB(look(on).title, t, t, t)) << dark;
        h.moveMouse({5, 5});
        EXPECT_TRUE(sameRGB(look(on).background, g, g, g)) << dark;
        NSDraggingInfo info;
        on.draggingEntered(info);
        on.draggingExited(&info);
        EXPECT_TRUE(sameRGB(look(on).background, g, g, g)) << dark;
    }
    // One tracking area however often it is updated.
    off.updateTrackingAreas();
    off.updateTrackingAreas();
    EXPECT_EQ(off.trackingAreas().size(), 1u);
}

TEST_F(TabBarTest, ContextMenuIsBuiltOnceWithTheExports) {
    threeFolders();
    auto menu = menuOf(tab(0));
    ASSERT_TRUE(menu);
    EXPECT_TRUE(h.isMenuOpen());
    h.closeMenu();
    EXPECT_EQ(menuOf(tab(0)), menu);
    h.closeMenu();
    long renames = 0;
    for (auto& item : menu->itemArray()) renames += item->title == "Rename";
    EXPECT_EQ(renames, 1);
    EXPECT_EQ(menu->itemAtIndex(0)->title, "Rename");
    EXPECT_EQ(menu->itemAtIndex(1)->title, "Delete");
    auto exports = menu->itemWithTitle("Export")->submenu();
    ASSERT_TRUE(exports);
    ASSERT_EQ(exports->numberOfItems(), 10);
    std::vector<std::string> entries;
    for (auto& item : exports->itemArray())
        entries.push_back(item->isSeparatorItem()                   ? "-"
                          : item->actionName == "exportWithSender:" ? std::to_string(item->tag)
                                                                    : item->title);
    EXPECT_EQ(entries, (std::vector<std::string>{"Apple Color Palette\u2026", "Adobe Swatch Exchange\u2026", "-", "3",
                                                 "1", "-", "2", "0", "-", "4"}));
    EXPECT_EQ(exports->itemAtIndex(3)->title, "Swift Extension (UIColor)\u2026");
    for (long i : {0L, 3L, 9L}) EXPECT_TRUE(exports->itemAtIndex(i)->image) << i;
    // The tag-colour row sits between separators.
    long rows = 0;
    for (auto& item : menu->itemArray()) rows += std::dynamic_pointer_cast<ZNLTagMenuItem>(item->view) != nullptr;
    EXPECT_EQ(rows, 1);

    menuOf(tab(0));
    h.chooseMenuItem({"Export", "Swift Extension (UIColor)\u2026"});
    menuOf(tab(0));
    h.chooseMenuItem({"Export", "Apple Color Palette\u2026"});
    menuOf(tab(0));
    h.chooseMenuItem({"Export", "Adobe Swatch Exchange\u2026"});
    EXPECT_EQ(owner->calls, (std::vector<std::string>{"export 3", "clr -", "ase -"}));
}

TEST_F(TabBarTest, TheArrowOpensTheSameMenu) {
    threeFolders();
    auto& t = tab(0);
    ASSERT_TRUE(t.buttonRight);
    EXPECT_TRUE(t.buttonRight->image());
    h.clickView(*t.buttonRight);
    h.drain();
    ASSERT_TRUE(t.contextMenu);
    EXPECT_TRUE(h.isMenuOpen());
    EXPECT_EQ(h.openMenus().front(), t.contextMenu);
    h.closeMenu();
    // Before it is in a window the arrow has no pop-up cell: a press does nothing.
    auto loose = bar->makeTab("Loose", ZNLTabBar::defaultTagColor(), 1);
    NSEvent event;
    loose->buttonRight->mouseDown(event);
    EXPECT_FALSE(loose->contextMenu);
}

TEST_F(TabBarTest, FormatSubmenuMarksTheFoldersFormat) {
    threeFolders();
    owner->formatId = 3;
    auto menu = menuOf(tab(0));
    h.closeMenu();
    auto item = tab(0).lanugagesSubItem;
    ASSERT_TRUE(item);
    EXPECT_EQ(item->title, "CSS RGBA");
    auto formats = item->submenu();
    ASSERT_EQ(formats->numberOfItems(), 20);
    for (auto& f : formats->itemArray()) EXPECT_EQ(f->state, f->tag == 3 ? 1 : 0) << f->tag;
    for (auto& f : formats->itemArray()) EXPECT_TRUE(f->image) << f->tag;  // arrived on the main queue

    menuOf(tab(0));
    h.chooseMenuItem({"CSS RGBA", "Swift NSColor"});
    EXPECT_EQ(owner->calls, (std::vector<std::string>{"format 1"}));
    ASSERT_TRUE(owner->changedFormat);
    EXPECT_EQ(owner->changedFormat->id, 8);
    EXPECT_EQ(item->title, "Swift NSColor");
    for (auto& f : formats->itemArray()) EXPECT_EQ(f->state, f->tag == 8 ? 1 : 0) << f->tag;

    // Without a delegate the mark is on format 1.
    auto loose = NSView::make<ZNLBarButton>(CGRectMake(0, 0, 40, 20));
    loose->buildContextMenu();
    EXPECT_EQ(loose->lanugagesSubItem->title, "CSS Hex");
    h.drain();
    EXPECT_EQ(loose->languageMenu->itemWithTag(1)->state, 1);
    EXPECT_EQ(loose->languageMenu->itemWithTag(3)->state, 0);
}

TEST_F(TabBarTest, TagDotStoresTheColourAndRedrawsTheCircle) {
    threeFolders();
    auto menu = menuOf(tab(0));
    ZNLTagMenuItem* row = nullptr;
    for (auto& item : menu->itemArray())
        if (auto r = std::dynamic_pointer_cast<ZNLTagMenuItem>(item->view)) row = r.get();
    ASSERT_TRUE(row);
    auto fourth = row->buttons[3].lock();
    fourth->action(*fourth);
    h.drain();
    EXPECT_FALSE(h.isMenuOpen());
    EXPECT_EQ(ZNLColorsLibrary::shared().folderWithId("1")->color(), "#ffff00");
    auto centre = NSBitmapImageRep::imageRepWithImage(*tab(0).image())->colorAtX(10, 10);
    EXPECT_EQ(hexRGB(*centre), "#ffff00");
}

TEST_F(TabBarTest, RenamingCommitsWhatWasTyped) {
    threeFolders();
    auto& t = tab(1);
    menuOf(t);
    h.chooseMenuItem({"Rename"});
    ASSERT_FALSE(t.textField->isHidden());
    EXPECT_EQ(t.textField->stringValue(), "Beta");
    EXPECT_EQ(t.title(), "");
    h.typeIntoField(*t.textField, "Blues");
    EXPECT_TRUE(t.textField->isHidden());
    EXPECT_EQ(t.title(), "Blues");
    EXPECT_EQ(ZNLColorsLibrary::shared().folderWithId("2")->folderName(), "Blues");
    // An empty name goes on as typed.
    t.beginRename();
    t.textField->setStringValue("");
    t.endRename();
    EXPECT_EQ(owner->calls, (std::vector<std::string>{"rename 2 'Blues'", "rename 2 ''"}));
    EXPECT_EQ(ZNLColorsLibrary::shared().folderWithId("2")->folderName(), "");
}

TEST_F(TabBarTest, ADropOnAnotherTabAddsAtItsEndAndFlagsTheSource) {
    threeFolders();
    auto alpha = ZNLColorsLibrary::shared().folderWithId("1");
    auto gamma = ZNLColorsLibrary::shared().folderWithId("3");
    ZNLColorsLibrary::shared().addColor("#112233", alpha);
    ZNLColorsLibrary::shared().addColor("#445566", alpha);
    ZNLColorsLibrary::shared().addColor("#778899", gamma);
    owner->lib.selectFolder(1);
    owner->calls.clear();

    auto drop = [&](ZNLBarButton& target, std::shared_ptr<Foundation::Coding> item) {
        auto pb = NSPasteboard::pasteboardWithName(NSPasteboardNameDrag);
        auto payload = std::make_shared<Payload>();
        payload->item = std::move(item);
        pb->writeObjects({payload});
        NSDraggingInfo info;
        info.draggingPasteboard = pb;
        EXPECT_EQ(target.draggingEntered(info), NSDragOperationGeneric);
        EXPECT_TRUE(target.highlight);
        EXPECT_TRUE(target.prepareForDragOperation(info));
        bool done = target.performDragOperation(info);
        EXPECT_FALSE(target.highlight);
        return done;
    };
    EXPECT_TRUE(drop(tab(2), std::make_shared<ZNLPasteboardItem>("#445566", 1, 1)));
    EXPECT_EQ(owner->calls, (std::vector<std::string>{"drop #445566 1 3 1"}));
    auto inGamma = LibraryFolders::visibleColors(gamma);
    ASSERT_EQ(inGamma.size(), 2u);
    EXPECT_EQ(inGamma.back()->color(), "#445566");
    auto inAlpha = LibraryFolders::visibleColors(alpha);
    ASSERT_EQ(inAlpha.size(), 1u);  // the source colour is flagged
    EXPECT_EQ(inAlpha.front()->color(), "#112233");

    // A payload without its folder is refused and changes nothing.
    owner->calls.clear();
    EXPECT_FALSE(drop(tab(2), std::make_shared<NoFolderId>()));
    EXPECT_TRUE(owner->calls.empty());
    EXPECT_EQ(LibraryFolders::visibleColors(alpha).size(), 1u);
}

TEST_F(TabBarTest, NothingOwnsItsDelegate) {
    threeFolders();
    auto loose = NSView::make<ZNLTabBar>();
    loose->dataSource = owner;
    loose->delegate = owner;
    loose->reloadTabs();
    loose->tabItems.front()->buildContextMenu();
    h.drain();
    std::weak_ptr<ZNLTabBar> weakBar = loose;
    std::weak_ptr<ZNLBarButton> weakTab = loose->tabItems.front();
    loose.reset();
    EXPECT_TRUE(weakBar.expired());
    EXPECT_TRUE(weakTab.expired());
    // The rename field covers the tab, at least 32 wide.
    layout();
    EXPECT_EQ(tab(0).textField->frame(), tab(0).bounds());
}

TEST_F(TabBarTest, Snapshot) {
    threeFolders();
    h.moveMouse({5, 5});
    h.drain();
    layout();
    const CGRect strip = bar->convertRectToScreen(CGRectMake(0, 0, 320, 40));
    auto light = h.renderScreen(strip);
    EXPECT_TRUE(TestSupport::matchesSnapshot(light, "picker/Views/snapshots/tab-bar.png"));
    ThemeManager::systemTheme().isDark = true;
    window->contentView()->setWantsLayer(true);  // the library's dark material behind the strip
    window->contentView()->layer()->backgroundColor = {0.16, 0.16, 0.17, 1};
    bar->reloadTabs();
    layout();
    h.drain();
    auto dark = h.renderScreen(strip);
    EXPECT_TRUE(TestSupport::matchesSnapshot(dark, "picker/Views/snapshots/tab-bar-dark.png"));
}

}  // namespace
