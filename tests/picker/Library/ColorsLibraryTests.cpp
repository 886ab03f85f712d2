#include <gmock/gmock.h>

#include "LibraryTestSupport.h"
#include "Platform/Foundation/Text.h"
#include "picker/Colors/NSColorAdditions.h"

namespace librarytest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::string> colours(const std::shared_ptr<ZNLColorFolder>& folder) {
    std::vector<std::string> out;
    for (auto& i : folder->objects().filter("isDeleted == false").sorted("order").objects()) out.push_back(i->color());
    return out;
}

TEST_F(LibraryTest, AddColorSkipsALiveColourOfTheSameTextIgnoringCase) {
    auto folder = addFolder("F", 1);
    addItem(folder, "#ffffff", 1);
    EXPECT_EQ(library().addColor("#FFFFFF", folder), nullptr);
    EXPECT_EQ(library().addColor("#abc", nullptr), nullptr);

    auto eight = addFolder("Eight", 2);
    addItem(eight, "#ffffffff", 1);
    auto added = library().addColor("#FFFFFF", eight);
    ASSERT_TRUE(added);
    EXPECT_EQ(added->color(), "#FFFFFF");  // as the caller gave it
    EXPECT_EQ(added->order(), 2);

    auto flagged = addFolder("Flagged", 3);
    addItem(flagged, "#ffffff", 1, true);
    EXPECT_TRUE(library().addColor("#ffffff", flagged));
    EXPECT_THAT(alerts->shown(), IsEmpty());
}

TEST_F(LibraryTest, AddColorComparesAnyTextWithoutLetterCaseAndPlacesTheColourLast) {
    struct Case {
        const char* stored;
        const char* added;
        bool isNew;
    };
    std::int64_t number = 10;
    for (const Case& c : {Case{"#AbCdEf", "#aBcDeF", false}, Case{"#\u00C4BC", "#\u00E4bc", false},
                          Case{"#abc", "#abd", true}, Case{"#\u00C4BC", "#\u00C4BD", true}}) {
        auto folder = addFolder(c.stored, number++);
        addItem(folder, c.stored, 1);
        EXPECT_EQ(library().addColor(c.added, folder) != nullptr, c.isNew) << c.stored << " " << c.added;
    }

    // After the largest order, flagged colours counted; 1 in an empty folder.
    auto folder = addFolder("Orders", number++);
    addItem(folder, "#111111", 1);
    addItem(folder, "#222222", 7, true);
    addItem(folder, "#333333", 2);
    auto added = library().addColor("#444444", folder);
    ASSERT_TRUE(added);
    EXPECT_EQ(added->order(), 8);
    auto first = library().addColor("#555555", addFolder("Empty", number++));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->order(), 1);
}

TEST_F(LibraryTest, AddColorIsOneCommitSoNoColourIsEverWithoutItsFolder) {
    auto folder = addFolder("F", 1);
    auto realm = Realm::open(Configuration::defaultConfiguration());
    // A write delivers the commits before it, so this sees every committed state.
    std::vector<std::size_t> unowned;
    auto token = realm->objects<ZNLColorItem>().observe([&](const ObjectStore::CollectionChange<ZNLColorItem>& change) {
        if (change.kind != ObjectStore::AnyCollectionChange::Kind::Update) return;
        unowned.push_back(realm->objects<ZNLColorItem>().filter("owner == nil").count());
    });
    executor->drain();
    ASSERT_TRUE(library().addColor("#123456", folder));
    ASSERT_TRUE(library().addColor("#654321", folder));
    executor->drain();
    EXPECT_THAT(unowned, ElementsAre(0u, 0u));
    EXPECT_THAT(colours(folder), ElementsAre("#123456", "#654321"));
}

TEST_F(LibraryTest, AddColorWhoseCreateFailsShowsBothAlerts) {
    auto folder = addFolder("F", 1);
    ObjectStore::testing::failNextCommits(1);
    EXPECT_EQ(library().addColor("#123456", folder), nullptr);
    ASSERT_EQ(alerts->shown().size(), 2u);
    EXPECT_EQ(alerts->shown()[1].messageText, "Color was not created");
}

TEST_F(LibraryTest, AddToHistoryStoresEightDigitHexCopiesFormatOneOnceAndRefreshes) {
    Foundation::UserDefaults::standard().set("colorFormat", 0);
    auto pasteboard = AppKit::NSPasteboard::generalPasteboard();
    auto color = AppKit::NSColor::colorWithRed(1.0, 0.5, 0.0, 1.0);
    long before = pasteboard->changeCount();
    ZNLColorsLibrary::addToHistory(color);
    auto history = ZNLColorsLibrary::historyFolder();
    ASSERT_TRUE(history);
    EXPECT_EQ(history->order(), 0);
    EXPECT_THAT(colours(history), ElementsAre("#ff7f00ff"));
    EXPECT_EQ(clipboard(), "#FF7F00");  // format 1, "hex", with the hex settings
    EXPECT_EQ(pasteboard->changeCount(), before + 1);
    EXPECT_EQ(refreshes, 1);

    // Picked again: stored once, but copied again (the clipboard may hold
    // something else by now, and the notice says it was copied).
    copyToPasteboard("something else");
    ZNLColorsLibrary::addToHistory(AppKit::NSColor::colorWithRed(1.0, 0.5, 0.0, 1.0));
    EXPECT_EQ(colours(history).size(), 1u);
    EXPECT_EQ(clipboard(), "#FF7F00");
    EXPECT_EQ(pasteboard->changeCount(), before + 3);

    Foundation::UserDefaults::standard().set("colorFormat", 2);
    ZNLColorsLibrary::addToHistory(AppKit::NSColor::colorWithRed(0, 0, 1, 1));
    EXPECT_EQ(clipboard(), "rgb(0, 0, 255)");

    // A format id the list lacks: stored and refreshed, nothing copied.
    Foundation::UserDefaults::standard().set("colorFormat", 9999);
    ZNLColorsLibrary::addToHistory(AppKit::NSColor::colorWithRed(0, 1, 0, 1));
    EXPECT_EQ(clipboard(), "rgb(0, 0, 255)");
    EXPECT_EQ(colours(history).size(), 3u);
    EXPECT_EQ(refreshes, 4);
    EXPECT_THAT(alerts->shown(), IsEmpty());
}

// History has the same id on every device, unless that identity is taken
// here (the shared History renamed, say), when a new one gets its own.
TEST_F(LibraryTest, HistoryIsMadeWithTheSharedIdWhileItIsFree) {
    auto history = ZNLColorsLibrary::historyFolder();
    ASSERT_TRUE(history);
    EXPECT_EQ(history->id(), kHistoryFolderID);
    EXPECT_TRUE(ZNLColorsLibrary::historyFolder()->isSameObject(*history));
    Realm::open()->write([&] { history->setFolderName("Favourites"); });
    auto another = ZNLColorsLibrary::historyFolder();
    ASSERT_TRUE(another);
    EXPECT_NE(another->id(), kHistoryFolderID);
    EXPECT_EQ(another->folderName(), "History");
    EXPECT_EQ(Realm::open()->object<ZNLColorFolder>(kHistoryFolderID)->folderName(), "Favourites");
}

TEST_F(LibraryTest, APickThatCannotBeStoredIsStillCopiedAndSaysOnceThatColoursAreNotKept) {
    Foundation::UserDefaults::standard().set("colorFormat", 1);
    for (const char* hex : {"#102030", "#405060"}) {
        ObjectStore::testing::failNextCommits(1);
        ZNLColorsLibrary::addToHistory(colorWithHex(hex));
        EXPECT_EQ(clipboard(), Foundation::uppercase(std::string(hex))) << hex;
    }
    ASSERT_EQ(alerts->shown().size(), 1u);
    EXPECT_EQ(alerts->shown()[0].messageText, "Colours are not kept");
    EXPECT_NE(alerts->shown()[0].informativeText.find("still copied"), std::string::npos);
    // Once the store works again the pick is kept, and a later failure is told again.
    ZNLColorsLibrary::addToHistory(colorWithHex("#708090"));
    EXPECT_THAT(colours(ZNLColorsLibrary::historyFolder()), ElementsAre("#708090ff"));
    ObjectStore::testing::failNextCommits(1);
    ZNLColorsLibrary::addToHistory(colorWithHex("#a0b0c0"));
    EXPECT_EQ(alerts->shown().size(), 2u);
    EXPECT_EQ(clipboard(), "#A0B0C0");
}

TEST_F(LibraryTest, AddToHistoryWithoutAColourAlerts) {
    ZNLColorsLibrary::addToHistory(nullptr);
    EXPECT_THAT(alerts->messages(), ElementsAre("Can't create color"));
    EXPECT_EQ(refreshes, 0);
}

TEST_F(LibraryTest, FlaggedFoldersAreStillFoundByNameAndNumber) {
    auto history = addFolder("History", 4, 0);
    Realm::open()->write([&] { markDeleted(*history); });
    EXPECT_TRUE(ZNLColorsLibrary::historyFolder()->isSameObject(*history));
    EXPECT_TRUE(library().folderWithId("4")->isSameObject(*history));
    EXPECT_TRUE(library().folderWithId("+4"));
    Foundation::UserDefaults::standard().set("selectedFolder", "4");
    EXPECT_TRUE(library().selectedFolder()->isSameObject(*history));
    EXPECT_EQ(library().folderNamed("history"), nullptr);
}

TEST_F(LibraryTest, SelectedFolderFallsBackAsTheDefaultSays) {
    auto high = addFolder("High", 1, 5);
    auto low = addFolder("Low", 2, 2);
    auto flagged = addFolder("Flagged", 3, 0);
    Realm::open()->write([&] { markDeleted(*flagged); });
    auto& defaults = Foundation::UserDefaults::standard();

    // No text: the live folder with the lowest order.
    EXPECT_TRUE(library().selectedFolder()->isSameObject(*low));
    EXPECT_FALSE(defaults.stringForKey("selectedFolder"));

    // A number no folder has, or text that is no number: a new "Palette".
    for (std::string stored : {"42", "abc", "4x", ""}) {
        defaults.set("selectedFolder", stored);
        auto made = library().selectedFolder();
        ASSERT_TRUE(made) << stored;
        EXPECT_EQ(made->folderName(), "Palette");
        EXPECT_EQ(made->order(), 1);
        EXPECT_FALSE(made->isDefault());
        EXPECT_EQ(defaults.stringForKey("selectedFolder"), std::to_string(made->folderId()));
    }
    defaults.set("selectedFolder", "1");
    EXPECT_TRUE(library().selectedFolder()->isSameObject(*high));
}

TEST_F(LibraryTest, EmptyStoreWithoutDefaultMakesAPaletteNumberedOne) {
    auto made = library().selectedFolder();
    ASSERT_TRUE(made);
    EXPECT_EQ(made->folderId(), 1);
    EXPECT_EQ(Foundation::UserDefaults::standard().stringForKey("selectedFolder"), "1");
}

TEST_F(LibraryTest, CreateDefaultFolderNamesItAfterTheComputer) {
    AppKit::NSHost::setLocalizedName("");
    ZNLColorsLibrary::createDefaultFolder();
    auto local = library().folderNamed("Local");
    ASSERT_TRUE(local);
    EXPECT_TRUE(local->isDefault());
    EXPECT_EQ(local->order(), 1);
    EXPECT_EQ(local->folderId(), 1);
    EXPECT_EQ(Foundation::UserDefaults::standard().stringForKey("selectedFolder"), "1");

    ZNLColorsLibrary::createDefaultFolder();  // already there
    EXPECT_EQ(ZNLColorsLibrary::allFolders()->count(), 1u);

    AppKit::NSHost::setLocalizedName(std::nullopt);  // no name at all
    ZNLColorsLibrary::createDefaultFolder();
    EXPECT_EQ(ZNLColorsLibrary::allFolders()->count(), 1u);

    AppKit::NSHost::setLocalizedName("Studio");
    ZNLColorsLibrary::createDefaultFolder();
    ASSERT_TRUE(library().folderNamed("Studio"));
    EXPECT_EQ(Foundation::UserDefaults::standard().stringForKey("selectedFolder"), "2");
}

TEST_F(LibraryTest, NextFolderIdFollowsTheLastFolderUnlessItsSuccessorIsTaken) {
    struct Case {
        std::vector<std::int64_t> stored;
        std::int64_t next;
    };
    for (auto& c : std::vector<Case>{{{}, 1}, {{4}, 5}, {{1, 5, 3}, 4}, {{1, 3, 2}, 4}, {{2, 1}, 3}, {{7, 7}, 8}}) {
        Realm::open()->write([] { Realm::open()->removeAll(); });
        for (auto n : c.stored) addFolder("f", n);
        EXPECT_EQ(ZNLColorFolder::nextFolderId(), c.next) << ::testing::PrintToString(c.stored);
    }
    Realm::open()->write([] { Realm::open()->removeAll(); });
    addFolder("max", std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(ZNLColorFolder::nextFolderId(), std::nullopt);
    breakStore();
    EXPECT_EQ(ZNLColorFolder::nextFolderId(), std::nullopt);
    EXPECT_EQ(alerts->shown().size(), 1u);
}

TEST_F(LibraryTest, MoveItemsHandsTheOrderValuesRound) {
    auto folder = addFolder("F", 1);
    auto a = addItem(folder, "#aaaaaa", 1);
    auto b = addItem(folder, "#bbbbbb", 2);
    auto c = addItem(folder, "#cccccc", 3);
    addItem(folder, "#dddddd", 10, true);  // flagged colours keep their order
    EXPECT_TRUE(folder->moveItems(0, 2));
    EXPECT_EQ(b->order(), 1);
    EXPECT_EQ(c->order(), 2);
    EXPECT_EQ(a->order(), 3);
    EXPECT_THAT(colours(folder), ElementsAre("#bbbbbb", "#cccccc", "#aaaaaa"));
    EXPECT_TRUE(folder->moveItems(1, 1));
    EXPECT_THAT(colours(folder), ElementsAre("#bbbbbb", "#cccccc", "#aaaaaa"));

    for (auto [from, to] : std::vector<std::pair<std::int64_t, std::int64_t>>{{3, 0}, {0, 3}, {-1, 0}, {0, -1}}) {
        EXPECT_FALSE(folder->moveItems(from, to));
        EXPECT_THAT(colours(folder), ElementsAre("#bbbbbb", "#cccccc", "#aaaaaa"));
    }
    ObjectStore::testing::failNextCommits(1);
    EXPECT_FALSE(folder->moveItems(0, 1));
    EXPECT_THAT(colours(folder), ElementsAre("#bbbbbb", "#cccccc", "#aaaaaa"));
    EXPECT_THAT(alerts->shown(), IsEmpty());
}

TEST_F(LibraryTest, ColorListKeepsEveryColourWhenNamesRepeat) {
    auto folder = addFolder("F", 1);
    auto first = addItem(folder, "#ff0000ff", 2);
    auto second = addItem(folder, "#00ff00ff", 1);
    auto third = addItem(folder, "#000000ff", 3);
    addItem(folder, "#0000ffff", 4, true);
    library().colorService().renameColor(first, "Brand");
    library().colorService().renameColor(second, "Brand");
    auto list = folder->colorList();
    EXPECT_THAT(list->allKeys(), ElementsAre("Brand", "Brand 2", "Black"));
    EXPECT_EQ(*list->colorWithKey("Brand"), *colorWithHex("#ff0000ff"));
    EXPECT_EQ(*list->colorWithKey("Brand 2"), *colorWithHex("#00ff00ff"));
    // A made-up name never takes a name another colour of the folder has.
    library().colorService().renameColor(third, "Brand 2");
    auto fourth = addItem(folder, "#ffffffff", 5);
    library().colorService().renameColor(fourth, "Brand");
    list = folder->colorList();
    EXPECT_THAT(list->allKeys(), ElementsAre("Brand", "Brand 3", "Brand 2", "Brand 4"));
    EXPECT_EQ(*list->colorWithKey("Brand 2"), *colorWithHex("#000000ff"));

    std::string path = dir + "/F.clr";
    EXPECT_EQ(folder->writeColorList(path), std::nullopt);
    auto back = AppKit::NSColorList::listWithContentsOfFile(path);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->allKeys(), list->allKeys());
    auto error = folder->writeColorList(dir + "/missing/F.clr");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "NSCocoaErrorDomain");
}

TEST_F(LibraryTest, CopyToPasteboardLeavesTheTextAsTheOnlyContent) {
    auto pasteboard = AppKit::NSPasteboard::generalPasteboard();
    pasteboard->clearContents();
    pasteboard->setString("other", "com.example.other");
    EXPECT_TRUE(copyToPasteboard("#ABCDEF"));
    EXPECT_EQ(clipboard(), "#ABCDEF");
    EXPECT_THAT(pasteboard->types(), ElementsAre(AppKit::NSPasteboardTypeString));
}

}  // namespace
}  // namespace librarytest
