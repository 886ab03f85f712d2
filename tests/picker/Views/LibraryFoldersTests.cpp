// The library window's folder and colour requests against a fresh store.
#include "picker/Library/LibraryTestSupport.h"
#include "picker/Views/Library/LibraryFolders.h"

using namespace Vexil::Views;

namespace {

class LibraryFoldersTest : public librarytest::LibraryTest {
protected:
    LibraryFolders lib;
    int reloads = 0, tabReloads = 0;
    std::string label;
    void SetUp() override {
        LibraryTest::SetUp();
        lib.reloadCollection = [this] { ++reloads; };
        lib.reloadTabs = [this] { ++tabReloads; };
        lib.showFormatName = [this](const std::string& s) { label = s; };
    }
};

TEST_F(LibraryFoldersTest, VisibleColoursAndHexLabel) {
    auto folder = addFolder("Palette", 3);
    addItem(folder, "#1a2b3c", 2);
    addItem(folder, "#ff0000", 1, true);
    addItem(folder, "#00ff00", 0);
    lib.selectFolder(3);
    ASSERT_EQ(lib.itemCount(), 2u);
    EXPECT_EQ(LibraryFolders::hexLabel(*lib.colorAt(1)), "HEX 1A2B3C - 2");
    EXPECT_EQ(lib.colorAt(2), nullptr);
    EXPECT_EQ(lib.colorAt(-1), nullptr);
}

TEST_F(LibraryFoldersTest, SelectingStoresTheIdAsDecimalText) {
    addFolder("A", 5);
    addFolder("B", 12, 2);
    lib.selectFolder(12);
    EXPECT_EQ(Foundation::UserDefaults::standard().stringForKey("selectedFolder"), "12");
    EXPECT_EQ(lib.selectedFolder->folderName(), "B");
    EXPECT_EQ(reloads, 1);
    LibraryFolders again;
    again.load();
    EXPECT_EQ(again.selectedFolder->folderId(), 12);
    lib.selectFolder(99);  // gone: nothing
    EXPECT_EQ(lib.selectedFolder->folderId(), 12);
}

TEST_F(LibraryFoldersTest, AddFolderIsUntitledOrderOneNextIdNotSelected) {
    addFolder("A", 7);
    lib.selectFolder(7);
    auto added = lib.addFolder();
    ASSERT_TRUE(added);
    EXPECT_EQ(added->folderName(), "Untitled");
    EXPECT_EQ(added->order(), 1);
    EXPECT_EQ(added->folderId(), 8);
    EXPECT_FALSE(added->isDefault());
    EXPECT_EQ(tabReloads, 1);
    EXPECT_EQ(lib.selectedFolder->folderId(), 7);
}

TEST_F(LibraryFoldersTest, RequestsFollowTheFolderNotItsPosition) {
    addFolder("A", 1, 1);
    addFolder("B", 2, 2);
    // A folder added elsewhere (sync) sorts before both: positions shift, ids do not.
    addFolder("Synced", 3, 0);
    EXPECT_EQ(LibraryFolders::indexOfFolder(2), 2u);
    lib.renameFolder(2, "Bee");
    EXPECT_EQ(library().folderWithId("2")->folderName(), "Bee");
    EXPECT_EQ(library().folderWithId("3")->folderName(), "Synced");
    EXPECT_TRUE(lib.removeFolder(1));
    EXPECT_FALSE(lib.removeFolder(1));  // gone now
    EXPECT_FALSE(LibraryFolders::indexOfFolder(1));
    EXPECT_EQ(lib.formatIdForFolder(1), 1);
    EXPECT_FALSE(lib.changeFolderColor(1, *AppKit::NSColor::yellowColor()));
    EXPECT_TRUE(lib.changeFolderColor(2, *AppKit::NSColor::yellowColor()));
    EXPECT_EQ(library().folderWithId("2")->color(), "#ffff00");
}

TEST_F(LibraryFoldersTest, DeleteByTagKeepsTheColourInTheStore) {
    auto folder = addFolder("A", 1);
    auto a = addItem(folder, "#111111", 0);
    addItem(folder, "#222222", 1);
    lib.selectFolder(1);
    EXPECT_FALSE(lib.deleteColor(5));
    EXPECT_TRUE(lib.deleteColor(0));
    EXPECT_TRUE(a->isDeleted());
    EXPECT_EQ(lib.itemCount(), 1u);
    EXPECT_EQ(folder->objects().count(), 2u);
}

TEST_F(LibraryFoldersTest, FormatLabelShowsTheSelectedFoldersFormat) {
    addFolder("A", 1);
    addFolder("B", 2, 2);
    lib.selectFolder(1);
    auto a = library().folderWithId("1");
    EXPECT_EQ(label, LibraryFolders::formatName(a));
    ColorFormat other;
    other.id = 999;
    other.name = "Other";
    lib.changeFolderFormat(other, 2);  // another folder's format
    EXPECT_EQ(label, LibraryFolders::formatName(a));
    ObjectStore::testing::failNextCommits(1);
    lib.changeFolderFormat(other, 1);  // the write fails: the stored format stays shown
    EXPECT_EQ(library().folderWithId("1")->formatId(), a->formatId());
    EXPECT_EQ(label, LibraryFolders::formatName(library().folderWithId("1")));
    EXPECT_EQ(LibraryFolders::formatName(nullptr), "CSS Hex");
}

}  // namespace

namespace {

struct Generator : PaletteGeneratorHandle {
    int closes = 0;
    void close() override { ++closes; }
};

TEST_F(LibraryFoldersTest, PaletteGeneratorIsClosedByItsOwner) {
    auto folder = addFolder("A", 1);
    addItem(folder, "#336699", 0);
    lib.selectFolder(1);
    auto gen = std::make_shared<Generator>();
    std::string opened;
    lib.openPaletteGenerator = [&](const AppKit::NSColorRef& c) {
        opened = hexRGB(*c);
        return gen;
    };
    lib.generatePalette(4);  // out of range
    EXPECT_EQ(opened, "");
    lib.generatePalette(0);
    EXPECT_EQ(opened, "#336699");
    lib.paletteGeneratorDidClose();
    EXPECT_EQ(gen->closes, 1);
    lib.generatePalette(0);
    EXPECT_TRUE(lib.paletteGeneratorDidApply({AppKit::NSColor::redColor(), AppKit::NSColor::blueColor()}, "Sea"));
    EXPECT_EQ(gen->closes, 2);
    auto sea = library().folderNamed("Sea");
    ASSERT_TRUE(sea);
    EXPECT_EQ(LibraryFolders::visibleColors(sea).size(), 2u);
    EXPECT_EQ(tabReloads, 1);
}

TEST_F(LibraryFoldersTest, EditedColourIsSavedWithAnEmptyNameWhenNoneIsGiven) {
    auto folder = addFolder("A", 1);
    auto item = addItem(folder, "#336699", 0);
    item->realm()->write([&] { item->setColorName("Old"); });
    lib.selectFolder(1);
    std::shared_ptr<ZNLColorItem> editing;
    lib.openColorEditor = [&](const AppKit::NSColorRef&, const std::shared_ptr<ZNLColorItem>& i) { editing = i; };
    lib.adjustColor(0);
    ASSERT_EQ(editing, lib.selectedColorItem);
    lib.colorChooserDidSave(*AppKit::NSColor::redColor(), "");
    EXPECT_EQ(item->color(), "#ff0000ff");
    EXPECT_EQ(item->colorName(), "");
}

}  // namespace
