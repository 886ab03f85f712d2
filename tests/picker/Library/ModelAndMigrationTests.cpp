#include <gmock/gmock.h>

#include <set>

#include "LibraryTestSupport.h"
#include "Platform/Foundation/Text.h"

namespace librarytest {
namespace {

using namespace ObjectStore;
using Foundation::Value;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

TEST_F(LibraryTest, NewObjectsHaveTheModelDefaults) {
    ZNLColorItem item;
    EXPECT_EQ(item.color(), "#ffffff");
    EXPECT_EQ(item.selectedShade(), "#ffffff");
    EXPECT_EQ(item.colorName(), "");
    EXPECT_EQ(item.owner(), nullptr);
    EXPECT_EQ(item.order(), 0);
    EXPECT_FALSE(item.isDeleted());
    EXPECT_TRUE(Foundation::isUUIDString(item.id()));
    EXPECT_EQ(item.id().size(), 36u);
    EXPECT_EQ(item.created().secondsSince1970, executor->now());
    EXPECT_NE(ZNLColorItem().id(), item.id());

    ZNLColorFolder folder;
    EXPECT_EQ(folder.formatId(), 1);
    EXPECT_EQ(folder.order(), 1);
    EXPECT_EQ(folder.folderId(), 0);
    EXPECT_EQ(folder.color(), std::nullopt);
    EXPECT_EQ(folder.folderName(), "");
    EXPECT_FALSE(folder.isDefault());
    EXPECT_FALSE(folder.isDeleted());
    EXPECT_EQ(folder.items().count(), 0u);
    EXPECT_TRUE(Foundation::isUUIDString(folder.id()));
}

TEST_F(LibraryTest, DisplayNameIsTheUsersNameElseTheNearestTableName) {
    ZNLColorItem item;
    item.setColor("#000000ff");
    EXPECT_EQ(item.displayName(), "Black");
    item.setColorName(" ");
    EXPECT_EQ(item.displayName(), " ");
    item.setColorName("Night");
    EXPECT_EQ(item.displayName(), "Night");
}

TEST_F(LibraryTest, ConfigurationIsDefaultRealmAtSchemaVersion15) {
    configureLibraryStore();
    auto c = Configuration::defaultConfiguration();
    EXPECT_EQ(c.path, Foundation::applicationSupportDirectory() + "/default.realm");
    EXPECT_EQ(c.schemaVersion, 15u);
    EXPECT_TRUE(c.migrationBlock);
    EXPECT_FALSE(c.objectTypes);
    useStoreAt(dir + "/default.realm");
    auto realm = Realm::open();
    EXPECT_EQ(Realm::schemaVersionAtPath(dir + "/default.realm"), 15u);
    EXPECT_TRUE(realm->objectSchema("ZNLColorItem"));
    EXPECT_TRUE(realm->objectSchema("ZNLColorFolder"));
}

// --- the older forms of the store, as this program wrote them ---

SchemaRef schemaOf(std::string name, std::string primaryKey, std::vector<Property> properties) {
    auto s = std::make_shared<ObjectSchema>();
    s->className = std::move(name);
    s->primaryKey = std::move(primaryKey);
    s->properties = std::move(properties);
    return s;
}

Property stringProp(const char* n) { return Property::make(n, PropertyType::String); }
Property intProp(const char* n) { return Property::make(n, PropertyType::Int); }
Property boolProp(const char* n) { return Property::make(n, PropertyType::Bool); }

// Up to version 7: no identifiers, "creationDate", no order of items.
Schema schemaV7() {
    return {
        schemaOf("ZNLColorItem", "",
                 {stringProp("color"), Property::makeOptional("selectedShade", PropertyType::String),
                  Property::make("creationDate", PropertyType::Date), stringProp("colorName"), boolProp("isDeleted")}),
        schemaOf("ZNLColorFolder", "",
                 {stringProp("folderName"), intProp("formatId"), boolProp("isDefault"), intProp("folderId"),
                  Property::makeOptional("color", PropertyType::String), intProp("order"), boolProp("isDeleted"),
                  Property::makeList("items", PropertyType::Object, "ZNLColorItem")})};
}

// Versions 10 to 14: identifiers and "created", folders hold their colours in "items".
Schema schemaV12() {
    return {schemaOf("ZNLColorItem", "id",
                     {stringProp("id"), stringProp("color"), stringProp("selectedShade"),
                      Property::make("created", PropertyType::Date), stringProp("colorName"), boolProp("isDeleted"),
                      intProp("order")}),
            schemaOf("ZNLColorFolder", "id",
                     {stringProp("id"), stringProp("folderName"), intProp("formatId"), boolProp("isDefault"),
                      intProp("folderId"), Property::makeOptional("color", PropertyType::String), intProp("order"),
                      boolProp("isDeleted"), Property::makeList("items", PropertyType::Object, "ZNLColorItem")})};
}

class LibraryMigrationTest : public LibraryTest {
protected:
    void makeFixture(std::uint64_t version, Schema schema, const std::function<void(Realm&)>& fill) {
        Configuration c;
        c.path = dir + "/default.realm";
        c.schemaVersion = version;
        c.objectTypes = std::move(schema);
        auto realm = Realm::open(c);
        realm->write([&] { fill(*realm); });
    }
    static Value item(Realm& r, Foundation::Dictionary values) { return Value(r.create("ZNLColorItem", values)); }
};

TEST_F(LibraryMigrationTest, FromVersion7) {
    makeFixture(7, schemaV7(), [](Realm& r) {
        auto red = item(r, {{"color", "#ff0000ff"}, {"creationDate", Foundation::Date{1000}}});
        auto green = item(r, {{"color", "#00ff00ff"}, {"creationDate", Foundation::Date{2000}}});
        auto blue = item(r, {{"color", "#0000ffff"}, {"creationDate", Foundation::Date{3000}}});
        r.create("ZNLColorFolder", {{"folderName", "History"}, {"order", 0}, {"items", Foundation::Array{red, green}}});
        r.create("ZNLColorFolder", {{"folderName", "history"}, {"items", Foundation::Array{blue}}});
        r.create("ZNLColorFolder", {{"folderName", "History"}});  // a second History
        r.create("ZNLColorFolder", {{"folderName", "HISTORY"}});
    });
    auto realm = Realm::open();
    auto folders = realm->objects<ZNLColorFolder>().objects();
    ASSERT_EQ(folders.size(), 4u);
    EXPECT_EQ(folders[0]->id(), "history");
    std::set<std::string> ids;
    for (std::size_t i = 1; i < folders.size(); ++i) {
        EXPECT_TRUE(Foundation::isUUIDString(folders[i]->id())) << folders[i]->folderName();
        ids.insert(folders[i]->id());
    }
    EXPECT_EQ(ids.size(), 3u);
    auto items = realm->objects<ZNLColorItem>().objects();
    ASSERT_EQ(items.size(), 3u);
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_TRUE(Foundation::isUUIDString(items[i]->id()));
        EXPECT_EQ(items[i]->created().secondsSince1970, 1000.0 * static_cast<double>(i + 1));
        EXPECT_EQ(items[i]->order(), static_cast<std::int64_t>(i));
        EXPECT_EQ(items[i]->selectedShade(), "#ffffff");  // none before: the default
        EXPECT_EQ(items[i]->owner(), nullptr);
    }
    EXPECT_NE(items[0]->id(), items[1]->id());

    repairItemOwners();
    EXPECT_EQ(folders[0]->objects().count(), 2u);
    ASSERT_EQ(folders[1]->objects().count(), 1u);
    EXPECT_EQ(folders[1]->objects().first()->color(), "#0000ffff");
    EXPECT_THAT(alerts->messages(), ::testing::IsEmpty());
}

TEST_F(LibraryMigrationTest, FromVersion12RenumbersOrderOnly) {
    makeFixture(12, schemaV12(), [](Realm& r) {
        item(r, {{"id", "A"}, {"created", Foundation::Date{10}}, {"order", 5}});
        item(r, {{"id", "B"}, {"created", Foundation::Date{20}}, {"order", 9}});
        item(r, {{"id", "C"}, {"created", Foundation::Date{30}}, {"order", 1}});
        r.create("ZNLColorFolder", {{"id", "F"}, {"folderName", "History"}});
    });
    auto realm = Realm::open();
    std::vector<std::tuple<std::string, double, std::int64_t>> got;
    for (auto& i : realm->objects<ZNLColorItem>().objects())
        got.emplace_back(i->id(), i->created().secondsSince1970, i->order());
    EXPECT_THAT(
        got, ElementsAre(std::make_tuple("A", 10.0, 0), std::make_tuple("B", 20.0, 1), std::make_tuple("C", 30.0, 2)));
    EXPECT_EQ(realm->objects<ZNLColorFolder>().first()->id(), "F");
}

TEST_F(LibraryMigrationTest, FromVersion14ChangesNothing) {
    makeFixture(14, schemaV12(), [](Realm& r) {
        auto a = item(r, {{"id", "A"}, {"color", "#123456"}, {"created", Foundation::Date{10}}, {"order", 5}});
        item(r, {{"id", "B"}, {"created", Foundation::Date{20}}, {"order", 9}});
        r.create("ZNLColorFolder",
                 {{"id", "F"}, {"folderName", "Mine"}, {"folderId", 3}, {"items", Foundation::Array{a}}});
    });
    auto realm = Realm::open();
    auto items = realm->objects<ZNLColorItem>().objects();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->id(), "A");
    EXPECT_EQ(items[0]->color(), "#123456");
    EXPECT_EQ(items[0]->order(), 5);
    EXPECT_EQ(items[1]->order(), 9);
    EXPECT_EQ(items[0]->owner(), nullptr);
    auto folder = realm->object<ZNLColorFolder>("F");
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->folderId(), 3);
    EXPECT_EQ(folder->items().count(), 1u);
}

TEST_F(LibraryTest, OwnerRepairMovesItemsListsOntoOwnersLaterFolderWinning) {
    auto first = addFolder("First", 1);
    auto second = addFolder("Second", 2);
    auto a = addItem(second, "#aaaaaa", 1);  // owned elsewhere before
    auto b = addItem(nullptr, "#bbbbbb", 2);
    auto c = addItem(nullptr, "#cccccc", 3);
    auto realm = Realm::open();
    realm->write([&] {
        first->items().append(Value(a));
        first->items().append(Value(b));
        second->items().append(Value(b));
        second->items().append(Value(c));
    });
    repairItemOwners();
    auto colours = [](const std::shared_ptr<ZNLColorFolder>& f) {
        std::vector<std::string> out;
        for (auto& i : f->objects().objects()) out.push_back(i->color());
        return out;
    };
    EXPECT_THAT(colours(first), UnorderedElementsAre("#aaaaaa"));
    EXPECT_THAT(colours(second), UnorderedElementsAre("#bbbbbb", "#cccccc"));
    EXPECT_EQ(first->items().count(), 2u);  // the lists stay as they were
    EXPECT_EQ(second->items().count(), 2u);
}

TEST_F(LibraryTest, OwnerRepairShowsOneAlertPerFailedColourAndGoesOn) {
    auto folder = addFolder("F", 1);
    auto a = addItem(nullptr, "#aaaaaa", 1);
    auto b = addItem(nullptr, "#bbbbbb", 2);
    Realm::open()->write([&] {
        folder->items().append(Value(a));
        folder->items().append(Value(b));
    });
    ObjectStore::testing::failNextCommits(1);
    repairItemOwners();
    EXPECT_EQ(alerts->shown().size(), 1u);
    EXPECT_EQ(a->owner(), nullptr);
    ASSERT_TRUE(b->owner());
    EXPECT_TRUE(b->owner()->isSameObject(*folder));
}

}  // namespace
}  // namespace librarytest
