#include <gmock/gmock.h>

#include "LibraryTestSupport.h"
#include "picker/Colors/NSColorAdditions.h"

namespace librarytest {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class DataServiceTest : public LibraryTest {
protected:
    ZNLDataService<ZNLColorItem> items;
    ZNLDataService<ZNLColorFolder> folders;

    static std::vector<std::int64_t> orders(const ObjectStore::Results<ZNLColorItem>& r) {
        std::vector<std::int64_t> out;
        for (auto& i : r.objects()) out.push_back(i->order());
        return out;
    }
};

TEST_F(DataServiceTest, CreateReturnsTheObjectItWasGivenAndQueriesFindIt) {
    auto item = std::make_shared<ZNLColorItem>();
    auto created = items.create(item);
    EXPECT_EQ(created, item);
    auto found = items.filter(ObjectStore::Predicate("id == %@", {item->id()}));
    ASSERT_TRUE(found);
    ASSERT_EQ(found->count(), 1u);
    EXPECT_TRUE(found->first()->isSameObject(*item));
    EXPECT_THAT(alerts->shown(), IsEmpty());
}

TEST_F(DataServiceTest, CreatingAnObjectWithATakenIdShowsTheStoreAlertAndReturnsNothing) {
    auto first = items.create(std::make_shared<ZNLColorItem>());
    auto twin = std::make_shared<ZNLColorItem>();
    twin->setId(first->id());
    twin->setColor("#000000");
    EXPECT_EQ(items.create(twin), nullptr);
    ASSERT_EQ(alerts->shown().size(), 1u);
    EXPECT_EQ(alerts->shown()[0].style, AppKit::NSAlertStyle::warning);
    EXPECT_THAT(alerts->shown()[0].buttons, ElementsAre("Ok"));
    EXPECT_NE(alerts->shown()[0].messageText.find(first->id()), std::string::npos);
    EXPECT_EQ(items.all()->count(), 1u);
    EXPECT_EQ(first->color(), "#ffffff");
}

TEST_F(DataServiceTest, FailedCommitOfAnUpdateShowsOneAlertAndKeepsTheStoreAsItWas) {
    auto item = items.create(std::make_shared<ZNLColorItem>());
    ObjectStore::testing::failNextCommits(1);
    EXPECT_EQ(items.renameColor(item, "Sky"), nullptr);
    EXPECT_EQ(alerts->shown().size(), 1u);
    EXPECT_EQ(item->colorName(), "");
    EXPECT_EQ(items.renameColor(item, "Sky"), item);
    EXPECT_EQ(item->colorName(), "Sky");
}

TEST_F(DataServiceTest, DeleteHandsBackItsErrorsInsteadOfReportingSuccess) {
    auto keep = items.create(std::make_shared<ZNLColorItem>());
    auto gone = items.create(std::make_shared<ZNLColorItem>());
    EXPECT_EQ(items.delete_(gone), std::nullopt);
    EXPECT_TRUE(gone->isInvalidated());

    ObjectStore::testing::failNextCommits(1);
    auto error = items.delete_(keep);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, static_cast<long>(ObjectStore::ErrorCode::commitFailed));
    EXPECT_THAT(alerts->shown(), IsEmpty());
    EXPECT_FALSE(keep->isInvalidated());

    breakStore();
    error = items.delete_(keep);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, static_cast<long>(ObjectStore::ErrorCode::fileAccess));
    EXPECT_EQ(alerts->shown().size(), 1u);
}

TEST_F(DataServiceTest, ReadsFilterAndSortOnlyAsAsked) {
    auto folder = addFolder("F", 1);
    addItem(folder, "#111111", 2);
    addItem(folder, "#222222", 7, true);
    addItem(folder, "#333333", 1);
    EXPECT_EQ(items.all()->count(), 3u);
    EXPECT_EQ(items.filter("isDeleted == false")->count(), 2u);
    EXPECT_THAT(orders(*items.sorted("isDeleted == false", {"order", ZNLSortingOptions::descending})),
                ElementsAre(2, 1));
    EXPECT_THAT(orders(*items.sorted("TRUEPREDICATE", {"order", ZNLSortingOptions::ascending})), ElementsAre(1, 2, 7));
}

TEST_F(DataServiceTest, AddItemToFolderPlacesTheItemAfterEveryColourFlaggedOnesIncluded) {
    auto empty = addFolder("Empty", 1);
    auto lone = items.create(std::make_shared<ZNLColorItem>());
    EXPECT_EQ(folders.addItemToFolder(empty, lone), empty);
    EXPECT_EQ(lone->order(), 1);
    EXPECT_TRUE(lone->owner()->isSameObject(*empty));

    auto full = addFolder("Full", 2);
    addItem(full, "#111111", 1);
    addItem(full, "#222222", 2);
    addItem(full, "#333333", 7, true);
    auto added = items.create(std::make_shared<ZNLColorItem>());
    folders.addItemToFolder(full, added);
    EXPECT_EQ(added->order(), 8);
}

TEST_F(DataServiceTest, SpecialisedUpdatesWriteTheirFields) {
    auto folder = addFolder("F", 1);
    auto item = items.create(std::make_shared<ZNLColorItem>());
    auto red = AppKit::NSColor::colorWithRed(1, 0, 0, 1);
    EXPECT_EQ(folders.setColorHex(folder, *red), folder);
    EXPECT_EQ(folder->color(), "#ff0000");
    items.setColorHexWithAlpha(item, *red);
    EXPECT_EQ(item->color(), "#ff0000ff");
    folders.setFormatId(folder, ColorFormat{3, "CSS RGBA", "rgba(%r, %g, %b, %a)", "css"});
    EXPECT_EQ(folder->formatId(), 3);
    folders.renameFolder(folder, "Renamed");
    EXPECT_EQ(folder->folderName(), "Renamed");
    items.update(item, [](ZNLColorItem& i) { markDeleted(i); });
    EXPECT_TRUE(item->isDeleted());

    struct Window : ZNLEditedColorHandler {
        void updateEditedColor(ZNLColorItem& i, const AppKit::NSColorRef& c,
                               const std::optional<std::string>& name) override {
            i.setColor(hexRGBA(*c));
            i.setColorName(name.value_or(""));
        }
    } window;
    items.updateColor(item, AppKit::NSColor::colorWithRed(0, 0, 1, 0.5), "Half blue", window);
    EXPECT_EQ(item->color(), "#0000ff7f");
    EXPECT_EQ(item->colorName(), "Half blue");
    EXPECT_THAT(alerts->shown(), IsEmpty());
}

TEST_F(DataServiceTest, AStoreThatCannotBeOpenedGivesTheAlertAndNothing) {
    auto item = std::make_shared<ZNLColorItem>();
    breakStore();
    EXPECT_EQ(items.create(item), nullptr);
    EXPECT_EQ(items.update(item, [](ZNLColorItem& i) { i.setColorName("x"); }), nullptr);
    EXPECT_FALSE(items.all());
    EXPECT_FALSE(items.filter("isDeleted == false"));
    EXPECT_FALSE(items.sorted("isDeleted == false", {"order", ZNLSortingOptions::ascending}));
    EXPECT_EQ(alerts->shown().size(), 5u);
    EXPECT_NE(alerts->shown()[0].messageText.find("default.realm"), std::string::npos);
}

}  // namespace
}  // namespace librarytest
