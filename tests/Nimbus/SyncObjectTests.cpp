#include <gtest/gtest.h>

#include "Nimbus/NimbusAsset.h"
#include "Nimbus/SyncFixture.h"

using namespace synctest;

namespace {

struct Push {
    std::vector<CKRecord> save;
    std::vector<CKRecordID> remove;
};

// One store with both sync objects observing it and a recorded pipe.
class SyncObjects : public ::testing::Test {
protected:
    std::unique_ptr<Foundation::TestExecutor> exec = Foundation::TestExecutor::install();
    Device device{"D", std::make_shared<CloudServer>()};
    std::shared_ptr<SyncObject<ZNLColorFolder>> folders =
        SyncObject<ZNLColorFolder>::make(device.realm, device.environment());
    std::shared_ptr<SyncObject<ZNLColorItem>> items =
        SyncObject<ZNLColorItem>::make(device.realm, device.environment());
    std::vector<Push> pushes;

    void SetUp() override {
        for (std::shared_ptr<Nimbus::Syncable> o : std::vector<std::shared_ptr<Nimbus::Syncable>>{folders, items}) {
            o->setPipeToEngine([this](std::vector<CKRecord> s, std::vector<CKRecordID> r) {
                pushes.push_back({s, r});
            });
            o->observeLocalChanges();
        }
        exec->drain();  // the initial deliveries send nothing
    }
};

}  // namespace

TEST_F(SyncObjects, LocalChangesBecomeSavesAndDeletions) {
    EXPECT_TRUE(pushes.empty());
    auto folder = device.addFolder("Web");
    auto colour = device.addColour("#112233", folder);
    exec->drain();
    ASSERT_EQ(pushes.size(), 2u);
    EXPECT_EQ(pushes[0].save.at(0).recordType(), "ZNLColorFolder");
    ASSERT_EQ(pushes[1].save.size(), 1u);
    EXPECT_EQ(pushes[1].save[0].recordID().recordName, colour->id());
    EXPECT_TRUE(pushes[1].remove.empty());

    pushes.clear();
    device.write([&](auto&) { colour->setIsDeleted(true); });
    device.write([&](auto&) { folder->setFolderName("Print"); });
    exec->drain();
    ASSERT_EQ(pushes.size(), 2u);  // coalesced per observer
    Push* colourPush = pushes[0].remove.empty() ? &pushes[1] : &pushes[0];
    Push* folderPush = colourPush == &pushes[0] ? &pushes[1] : &pushes[0];
    EXPECT_TRUE(colourPush->save.empty());
    ASSERT_EQ(colourPush->remove.size(), 1u);
    EXPECT_EQ(colourPush->remove[0].recordName, colour->id());
    ASSERT_EQ(folderPush->save.size(), 1u);
    EXPECT_EQ(folderPush->save[0].objectForKey("folderName"), Value("Print"));

    // Removing from the store, or inserting an already flagged object, sends nothing.
    pushes.clear();
    device.write([&](ObjectStore::Realm& r) { r.remove(colour); });
    auto flagged = std::make_shared<ZNLColorItem>();
    flagged->setIsDeleted(true);
    device.write([&](ObjectStore::Realm& r) { r.add(flagged); });
    exec->drain();
    EXPECT_TRUE(pushes.empty());
}

TEST_F(SyncObjects, RemoteRecordsOverwriteWithoutEchoButOthersHearOfThem) {
    auto folder = device.addFolder("Web");
    auto other = device.addFolder("Print");
    auto colour = device.addColour("#112233", folder);
    exec->drain();
    pushes.clear();
    int appDeliveries = 0;
    auto appToken = device.realm->objects<ZNLColorItem>().observe([&](const auto& change) {
        if (change.kind == ObjectStore::AnyCollectionChange::Kind::Update) ++appDeliveries;
    });
    exec->drain();

    CKRecord remote = Nimbus::recordOf(*colour);
    remote.setObject("color", "#abcdef");
    remote.setObject("colorName", "Sky");
    remote.setObject("owner", CKReference::make(Nimbus::recordIDOf(*other)));
    items->addRecord(remote);
    EXPECT_EQ(colour->color(), "#112233");  // applied on the main queue, not at once
    exec->drain();
    EXPECT_EQ(colour->color(), "#abcdef");
    EXPECT_EQ(colour->colorName(), "Sky");
    EXPECT_EQ(colour->owner()->id(), other->id());
    EXPECT_EQ(appDeliveries, 1);
    EXPECT_TRUE(pushes.empty());

    // Deletions: an unknown key changes nothing; a known one removes the object and its asset files.
    Nimbus::NimbusAsset::create(colour->id(), "photo", Foundation::Data{1});
    Nimbus::NimbusAsset::create("unrelated", "photo", Foundation::Data{2});
    items->deleteRecord(CKRecordID("no-such-colour", CKRecordZoneID("ZNLColorItemsZone")));
    exec->drain();
    EXPECT_EQ(device.colourCount(), 1u);
    items->deleteRecord(Nimbus::recordIDOf(*colour));
    exec->drain();
    EXPECT_EQ(device.colourCount(), 0u);
    EXPECT_EQ(Nimbus::NimbusAsset::assetFileNames(), (std::vector<std::string>{"unrelated_photo"}));
    EXPECT_TRUE(pushes.empty());
}

TEST_F(SyncObjects, FullPushSendsOnlyWhatIsUnacknowledgedAndCleanUpWaitsForTheServer) {
    auto live = device.addColour("#010101");
    auto gone = device.addColour("#020202");
    device.write([&](auto&) { gone->setIsDeleted(true); });
    exec->drain();
    pushes.clear();

    items->pushAllLocalObjects();
    ASSERT_EQ(pushes.size(), 1u);
    ASSERT_EQ(pushes[0].save.size(), 1u);
    EXPECT_EQ(pushes[0].save[0].recordID().recordName, live->id());
    ASSERT_EQ(pushes[0].remove.size(), 1u);
    EXPECT_EQ(pushes[0].remove[0].recordName, gone->id());

    pushes.clear();
    folders->pushAllLocalObjects();  // no folder: the engine still hears of it
    ASSERT_EQ(pushes.size(), 1u);
    EXPECT_TRUE(pushes[0].save.empty() && pushes[0].remove.empty());

    // The flagged colour stays until the server has its deletion.
    items->cleanUp();
    EXPECT_EQ(device.colourCount(), 2u);
    CKRecord saved = Nimbus::recordOf(*live);
    saved.setServerState("t1", std::nullopt, std::nullopt);
    items->acknowledge({saved}, {saved}, {Nimbus::recordIDOf(*gone)});
    pushes.clear();
    items->cleanUp();
    exec->drain();
    EXPECT_EQ(device.colourCount(), 1u);
    EXPECT_TRUE(device.colour(live->id()));
    EXPECT_TRUE(pushes.empty());

    // Acknowledged and unchanged: nothing to send; a renamed colour sends its name only.
    items->pushAllLocalObjects();
    ASSERT_EQ(pushes.size(), 1u);
    EXPECT_TRUE(pushes[0].save.empty() && pushes[0].remove.empty());
    device.write([&](auto&) { live->setColorName("Soot"); });
    pushes.clear();
    items->pushAllLocalObjects();
    ASSERT_EQ(pushes.size(), 1u);
    ASSERT_EQ(pushes[0].save.size(), 1u);
    EXPECT_EQ(pushes[0].save[0].changedKeys(), (std::vector<std::string>{"colorName"}));
    EXPECT_EQ(pushes[0].save[0].recordChangeTag(), std::optional<std::string>("t1"));
}

TEST_F(SyncObjects, PerTypeStateLivesInTheDefaults) {
    const std::string tokenKey = "ZNLColorItemnimbus.keys.zoneChangesTokenKey";
    const std::string flagKey = "ZNLColorFoldernimbus.keys.hasCustomZoneCreatedKey";
    EXPECT_FALSE(items->zoneChangesToken());
    EXPECT_FALSE(folders->hasCustomZoneCreated());

    items->setZoneChangesToken(std::make_shared<CKServerChangeToken>("t1"));
    EXPECT_TRUE(device.defaults->objectForKey(tokenKey).isData());
    EXPECT_EQ(items->zoneChangesToken()->opaque(), "t1");
    items->setZoneChangesToken(nullptr);
    EXPECT_TRUE(device.defaults->objectForKey(tokenKey).isNull());

    device.defaults->set(tokenKey, Foundation::Data{1, 2, 3});  // not an archive
    EXPECT_FALSE(items->zoneChangesToken());
    device.defaults->set(tokenKey, "text");
    EXPECT_FALSE(items->zoneChangesToken());

    folders->setHasCustomZoneCreated(true);
    EXPECT_TRUE(folders->hasCustomZoneCreated());
    device.defaults->set(flagKey, 1);  // a number is not a Boolean
    EXPECT_FALSE(folders->hasCustomZoneCreated());
}
