#include <gtest/gtest.h>

#include <cstdlib>

#include <filesystem>
#include <fstream>

#include "Nimbus/NimbusAsset.h"
#include "Nimbus/RecordMapping.h"
#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/Dispatch.h"
#include "picker/Library/LibraryStore.h"
#include "picker/Library/ZNLColorFolder.h"
#include "picker/Library/ZNLColorItem.h"

using namespace Nimbus;
using CloudKit::CKAsset;
using CloudKit::CKReference;
using Foundation::Value;
using ObjectStore::Property;
using ObjectStore::PropertyType;

namespace {

// A type of our own with what the library's models lack: an integer key,
// lists, a float and an asset.
class Gadget : public ObjectStore::Object {
public:
    static ObjectStore::SchemaRef objectSchema() {
        static ObjectStore::SchemaRef schema = [] {
            auto s = std::make_shared<ObjectStore::ObjectSchema>();
            s->className = "Gadget";
            s->primaryKey = "number";
            s->properties = {
                Property::make("number", PropertyType::Int),          Property::make("ratio", PropertyType::Float),
                Property::makeOptional("note", PropertyType::String), Property::makeList("tags", PropertyType::String),
                Property::makeList("stamps", PropertyType::Date),     Property::makeLink("photo", "NimbusAsset"),
                Property::make("isDeleted", PropertyType::Bool)};
            return s;
        }();
        return schema;
    }
    Gadget() : Object(objectSchema()) {}
    explicit Gadget(ObjectStore::Binding b) : Object(std::move(b)) {}
};
ObjectStore::ObjectTypeRegistration<Gadget> gadgetRegistration;

class RecordMapping : public ::testing::Test {
protected:
    // Asset files live in the home's data folder: each test has a home of its
    // own, so files another test left never show up here.
    struct OwnHome {
        std::string saved = std::getenv("VEXIL_HOME") ? std::getenv("VEXIL_HOME") : "";
        OwnHome() { setenv("VEXIL_HOME", Foundation::temporaryDirectory().c_str(), 1); }
        ~OwnHome() { setenv("VEXIL_HOME", saved.c_str(), 1); }
    } home;
    std::unique_ptr<Foundation::TestExecutor> exec = Foundation::TestExecutor::install();
    std::shared_ptr<ObjectStore::Realm> realm = [] {
        ObjectStore::Configuration config;
        config.path = Foundation::temporaryDirectory() + "/default.realm";
        config.schemaVersion = kLibrarySchemaVersion;
        config.migrationBlock = libraryMigration;
        return ObjectStore::Realm::open(config);
    }();

    std::shared_ptr<ZNLColorFolder> storedFolder(const std::string& name) {
        auto folder = std::make_shared<ZNLColorFolder>();
        folder->setFolderName(name);
        realm->write([&] { realm->add(folder); });
        return folder;
    }
};

}  // namespace

TEST_F(RecordMapping, ColourAndFolderRecordsCarryTheirFieldsInSchemaOrder) {
    auto folder = storedFolder("Web");
    auto colour = std::make_shared<ZNLColorItem>();
    colour->setColor("#12ab34");
    colour->setColorName("Leaf");
    colour->setOrder(7);
    colour->setOwner(folder);
    realm->write([&] { realm->add(colour); });

    CKRecord r = CKRecordConvertible<ZNLColorItem>::record(*colour);
    EXPECT_EQ(r.recordType(), "ZNLColorItem");
    EXPECT_EQ(r.recordID(), CKRecordID(colour->id(), CKRecordZoneID("ZNLColorItemsZone")));
    EXPECT_EQ(r.allKeys(), (std::vector<std::string>{"id", "color", "selectedShade", "created", "colorName",
                                                     "isDeleted", "owner", "order"}));
    EXPECT_EQ(r.objectForKey("isDeleted"), Value(0));
    EXPECT_EQ(r.objectForKey("order"), Value(7));
    auto owner = CKReference::from(r.objectForKey("owner"));
    ASSERT_TRUE(owner);
    EXPECT_EQ(owner->recordID(), CKRecordID(folder->id(), CKRecordZoneID("ZNLColorFoldersZone")));
    EXPECT_EQ(owner->action(), CloudKit::CKReferenceAction::none);

    // No folder: no owner field, but the key is named so the server drops an old one.
    realm->write([&] { colour->setOwner(nullptr); });
    CKRecord loose = recordOf(*colour);
    EXPECT_FALSE(loose.fields().contains("owner"));
    EXPECT_NE(std::find(loose.changedKeys().begin(), loose.changedKeys().end(), "owner"), loose.changedKeys().end());

    CKRecord f = recordOf(*folder);
    EXPECT_EQ(f.allKeys(), (std::vector<std::string>{"id", "folderName", "formatId", "isDefault", "folderId", "order",
                                                     "isDeleted"}));  // no colour yet, no items, no objects
    EXPECT_EQ(CKRecordConvertible<ZNLColorFolder>::zoneID(), CKRecordZoneID("ZNLColorFoldersZone"));
}

TEST_F(RecordMapping, ReadingBackResolvesOwnersOrReportsThemMissing) {
    auto folder = storedFolder("Web");
    auto colour = std::make_shared<ZNLColorItem>();
    colour->setColor("#12ab34");
    colour->setOwner(folder);
    CKRecord r = recordOf(*colour);

    std::vector<UnresolvedLink> unresolved;
    auto back = CKRecordRecoverable<ZNLColorItem>::objectFromRecord(r, realm, &unresolved);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->id(), colour->id());
    EXPECT_EQ(back->color(), "#12ab34");
    EXPECT_EQ(back->created(), colour->created());
    ASSERT_TRUE(back->owner());
    EXPECT_EQ(back->owner()->id(), folder->id());
    EXPECT_TRUE(unresolved.empty());

    // The folder has not arrived: no owner, and the wait is reported.
    CKRecord early = r;
    early.setObject("owner", CKReference::make(CKRecordID("F-LATER", CKRecordZoneID("ZNLColorFoldersZone"))));
    auto orphan = CKRecordRecoverable<ZNLColorItem>::objectFromRecord(early, realm, &unresolved);
    EXPECT_FALSE(orphan->owner());
    ASSERT_EQ(unresolved.size(), 1u);
    EXPECT_EQ(unresolved[0].property, "owner");
    EXPECT_EQ(unresolved[0].targetClass, "ZNLColorFolder");
    EXPECT_EQ(unresolved[0].targetKey, Value("F-LATER"));
}

TEST_F(RecordMapping, WrongKindsAndMissingFieldsKeepDefaults) {
    CKRecord r("ZNLColorItem", CKRecordID("REC", CKRecordZoneID("ZNLColorItemsZone")));
    r.setObject("order", "three");
    r.setObject("isDeleted", 2);  // not a Boolean
    r.setObject("color", 5);
    auto item = CKRecordRecoverable<ZNLColorItem>::objectFromRecord(r, realm);
    EXPECT_EQ(item->order(), 0);
    EXPECT_FALSE(item->isDeleted());
    EXPECT_EQ(item->color(), "#ffffff");
    EXPECT_NE(item->id(), "REC");  // no "id" field: a fresh id, not the record name
    EXPECT_EQ(item->id().size(), 36u);

    CKRecord f("ZNLColorFolder", CKRecordID("F", CKRecordZoneID("ZNLColorFoldersZone")));
    f.setObject("order", "first");
    f.setObject("color", 3);
    f.setObject("isDefault", 1);
    auto folder = CKRecordRecoverable<ZNLColorFolder>::objectFromRecord(f, realm);
    EXPECT_EQ(folder->order(), 1);
    EXPECT_FALSE(folder->color());  // optional: none
    EXPECT_TRUE(folder->isDefault());
    EXPECT_EQ(folder->items().count(), 0u);
}

TEST_F(RecordMapping, IntegerKeysListsAndAssets) {
    auto gadget = std::make_shared<Gadget>();
    gadget->setValue("number", 42);
    gadget->setValue("ratio", 0.5);
    gadget->setValue("stamps", Foundation::Array{Value(Foundation::Date{1.0})});
    gadget->setValue("photo", Value(NimbusAsset::create("42", "photo", Foundation::Data{7, 8, 9})));
    CKRecord r = recordOf(*gadget);
    EXPECT_EQ(r.recordID().recordName, "42");
    EXPECT_FALSE(r.fields().contains("tags"));  // an empty list writes no field
    EXPECT_TRUE(r.fields().contains("stamps"));
    auto asset = CKAsset::from(r.objectForKey("photo"));
    ASSERT_TRUE(asset);
    EXPECT_EQ(asset->fileURL(), NimbusAsset::assetDirectory() + "/42_photo");

    r.setObject("tags", Foundation::Array{Value("a")});
    auto back = objectFromRecord("Gadget", r, realm);
    EXPECT_EQ(back->value("number"), Value(42));
    EXPECT_EQ(back->value("ratio"), Value(0.5));
    EXPECT_EQ(back->value("tags"), Value(Foundation::Array{Value("a")}));
    EXPECT_EQ(back->value("stamps"), Value(Foundation::Array{}));  // lists of dates are not read back
    auto photo = std::dynamic_pointer_cast<NimbusAsset>(back->linkedObject("photo"));
    ASSERT_TRUE(photo);
    EXPECT_EQ(photo->readData(), (Foundation::Data{7, 8, 9}));

    r.setObject("tags", Foundation::Array{Value("a"), Value(3)});  // one element of the wrong kind
    EXPECT_EQ(objectFromRecord("Gadget", r, realm)->value("tags"), Value(Foundation::Array{}));

    // Record names resolve by the key type of the class they name.
    CKRecordID name42("42", CKRecordZoneID("GadgetsZone"));
    EXPECT_EQ(primaryKeyFromRecordName(name42, *Gadget::objectSchema()), Value(42));
    EXPECT_EQ(primaryKeyFromRecordName(name42, *ZNLColorItem::objectSchema()), Value("42"));
    EXPECT_FALSE(primaryKeyFromRecordName(CKRecordID("4x", {}), *Gadget::objectSchema()));
    EXPECT_FALSE(primaryKeyFromRecordName(CKRecordID("99999999999999999999", {}), *Gadget::objectSchema()));
    EXPECT_FALSE(primaryKeyFromRecordName(CKRecordID("x", {}), *NimbusAsset::objectSchema()));  // no key
}

TEST_F(RecordMapping, AssetFilesOfAnObjectAreRemovedBySubstring) {
    NimbusAsset::create("A1", "photo", Foundation::Data{1});
    NimbusAsset::create("XA1", "other", Foundation::Data{2});
    NimbusAsset::create("B2", "photo", Foundation::Data{3}, /*overwrite*/ false);
    auto kept = NimbusAsset::create("B2", "photo", Foundation::Data{4}, /*overwrite*/ false);
    EXPECT_EQ(kept->readData(), (Foundation::Data{3}));
    NimbusAsset::deleteFilesOfObject("A1");
    auto names = NimbusAsset::assetFileNames();
    EXPECT_EQ(names, (std::vector<std::string>{"B2_photo"}));
    EXPECT_FALSE(NimbusAsset::createFromFile("C3", "photo", "/no/such/file"));
}
