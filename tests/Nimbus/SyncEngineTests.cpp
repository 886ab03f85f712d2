#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "Nimbus/SyncFixture.h"
#include "Platform/ObjectStore/Realm.h"

using namespace synctest;

namespace {

std::vector<std::size_t> saveCounts(const std::vector<CloudServer::RequestLogEntry>& log) {
    std::vector<std::size_t> out;
    for (const auto& e : log) out.push_back(e.saves);
    return out;
}

std::vector<long> errorCodes(const std::vector<CloudServer::RequestLogEntry>& log) {
    std::vector<long> out;
    for (const auto& e : log) out.push_back(e.errorCode);
    return out;
}

// Saves records as another writer would, whole and without change tags.
void rawSave(const std::shared_ptr<CloudServer>& server, std::vector<CKRecord> records,
             std::vector<CKRecordID> deletions = {}) {
    auto container = CKContainer::make(std::make_shared<InProcessTransport>(server, "user", "C"));
    auto op = std::make_shared<CKModifyRecordsOperation>(std::move(records), std::move(deletions));
    op->savePolicy = CKSavePolicy::allKeys;
    container->privateCloudDatabase()->add(op);
}

}  // namespace

TEST_F(TwoDevices, AFolderWithThreeColoursAppearsOnTheOtherDevice) {
    launchBoth();
    EXPECT_EQ(server->zoneNames("user"), (std::vector<std::string>{"ZNLColorFoldersZone", "ZNLColorItemsZone"}));
    EXPECT_EQ(server->subscriptionIDs("user"), (std::vector<std::string>{"private_changes"}));

    // What B's store holds each time it hears "cloudKitNewData".
    std::vector<std::pair<std::size_t, std::size_t>> seen;  // folders, colours
    b.center->addObserver("cloudKitNewData", [&](const Foundation::Notification&) {
        EXPECT_TRUE(Foundation::DispatchQueue::isMainThread());
        seen.emplace_back(b.realm->objects<ZNLColorFolder>().count(), b.colourCount());
    });

    server->holdPushes();  // one push for the whole change
    auto folder = a.addFolder("Web");
    std::vector<std::string> ids;
    for (const char* hex : {"#ff0000", "#00ff00", "#0000ff"}) ids.push_back(a.addColour(hex, folder)->id());
    exec->drain();
    server->releasePushes();
    exec->drain();

    ASSERT_TRUE(b.folder(folder->id()));
    EXPECT_EQ(b.folder(folder->id())->folderName(), "Web");
    for (const auto& id : ids) {
        auto colour = b.colour(id);
        ASSERT_TRUE(colour) << id;
        ASSERT_TRUE(colour->owner());
        EXPECT_EQ(colour->owner()->id(), folder->id());
    }
    // Once per zone, each after that zone's writes: folders first, then colours.
    EXPECT_EQ(seen, (std::vector<std::pair<std::size_t, std::size_t>>{{1, 0}, {1, 3}}));
    EXPECT_EQ(b.requests("modifyRecords"), 0u);  // applying does not echo
}

TEST_F(TwoDevices, ADeletionReachesTheOtherDeviceAndTheFlaggedObjectStaysUntilCleanUp) {
    launchBoth();
    auto colour = a.addColour("#123456");
    exec->drain();
    ASSERT_TRUE(b.colour(colour->id()));

    a.write([&](auto&) { colour->setIsDeleted(true); });
    exec->drain();
    EXPECT_FALSE(b.colour(colour->id()));
    ASSERT_TRUE(a.colour(colour->id()));
    EXPECT_TRUE(a.colour(colour->id())->isDeleted());
    auto deletes = a.log("modifyRecords").back();
    EXPECT_EQ(deletes.saves, 0u);
    EXPECT_EQ(deletes.deletes, 1u);

    const std::size_t pushes = a.requests("modifyRecords");
    a.center->post(Nimbus::kApplicationWillTerminateNotification);
    exec->drain();
    EXPECT_FALSE(a.colour(colour->id()));
    EXPECT_EQ(a.requests("modifyRecords"), pushes);  // the clean-up is not pushed
}

TEST_F(TwoDevices, AConflictConvergesOnTheLastWriterWithoutEcho) {
    launchBoth();
    auto colour = a.addColour("#123456");
    exec->drain();
    auto onB = b.colour(colour->id());
    ASSERT_TRUE(onB);
    server->clearRequestLog();

    server->holdPushes();
    a.write([&](auto&) { colour->setColorName("Dawn"); });
    exec->drain();
    b.write([&](auto&) { onB->setColorName("Dusk"); });
    exec->drain();
    server->releasePushes();
    exec->drain();

    EXPECT_EQ(a.colour(colour->id())->colorName(), "Dusk");
    EXPECT_EQ(b.colour(colour->id())->colorName(), "Dusk");
    EXPECT_EQ(server->record("user", CKRecordID(colour->id(), CKRecordZoneID("ZNLColorItemsZone")))
                  ->objectForKey("colorName"),
              Value("Dusk"));
    // One each, nothing echoed; B's save, based on the record before A's,
    // was refused, merged with A's and sent again.
    EXPECT_EQ(server->requestCount("modifyRecords"), 3u);
    EXPECT_EQ(errorCodes(b.log("modifyRecords")), (std::vector<long>{CKErrorPartialFailure, 0}));
}

TEST_F(TwoDevices, RetryAfterTwoSecondsRetriesAtTwoSecondsAndNotBefore) {
    launchBoth();
    server->injectError({"modifyRecords", CKErrorRequestRateLimited, 2.0});
    auto colour = a.addColour("#abcdef");
    exec->drain();
    EXPECT_EQ(a.requests("modifyRecords"), 1u);
    exec->advance(1.999);
    EXPECT_EQ(a.requests("modifyRecords"), 1u);
    exec->advance(0.001);
    EXPECT_EQ(a.requests("modifyRecords"), 2u);
    EXPECT_TRUE(b.colour(colour->id()));

    // Without a delay the change stays pending and goes again after a while.
    server->injectError({"modifyRecords", CKErrorRequestRateLimited});
    auto second = a.addColour("#000001");
    exec->drain();
    EXPECT_EQ(a.requests("modifyRecords"), 3u);
    exec->advance(60);
    EXPECT_EQ(a.requests("modifyRecords"), 4u);
    EXPECT_TRUE(b.colour(second->id()));
}

TEST_F(TwoDevices, ExpiredZoneAndDatabaseTokensRecover) {
    launchBoth();
    a.addColour("#111111");
    exec->drain();
    ASSERT_EQ(b.colourCount(), 1u);

    server->expireZoneTokens("user", "ZNLColorItemsZone");
    auto second = a.addColour("#222222");
    exec->drain();
    EXPECT_TRUE(b.colour(second->id()));
    auto zoneFetches = b.log("fetchZoneChanges");
    ASSERT_GE(zoneFetches.size(), 2u);
    auto codes = errorCodes(zoneFetches);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), CKErrorChangeTokenExpired), 1);
    EXPECT_EQ(zoneFetches.back().errorCode, 0);

    server->expireDatabaseTokens("user");
    auto third = a.addColour("#333333");
    exec->drain();
    EXPECT_TRUE(b.colour(third->id()));
    auto dbFetches = b.log("fetchDatabaseChanges");
    EXPECT_EQ(dbFetches[dbFetches.size() - 2].errorCode, CKErrorChangeTokenExpired);
    EXPECT_EQ(dbFetches.back().errorCode, 0);

    // The tokens stored after recovering are good ones.
    server->clearRequestLog();
    auto fourth = a.addColour("#444444");
    exec->drain();
    EXPECT_TRUE(b.colour(fourth->id()));
    for (const auto& e : server->requestLog()) EXPECT_EQ(e.errorCode, 0) << e.method;
    EXPECT_EQ(b.colourCount(), 4u);
}

TEST_F(TwoDevices, OversizedPushesAreSplitUntilTheyFit) {
    launchBoth();
    std::vector<std::shared_ptr<ZNLColorItem>> colours;
    a.write([&](ObjectStore::Realm& r) {
        for (int i = 0; i < 650; ++i) {
            auto item = std::make_shared<ZNLColorItem>();
            r.add(item);
            colours.push_back(item);
        }
    });
    exec->drain();
    auto pushes = a.log("modifyRecords");
    EXPECT_EQ(saveCounts(pushes), (std::vector<std::size_t>{650, 300, 300, 50}));
    EXPECT_EQ(pushes[0].errorCode, CKErrorLimitExceeded);
    EXPECT_EQ(server->records("user", "ZNLColorItemsZone").size(), 650u);
    EXPECT_EQ(b.colourCount(), 650u);

    // Deletions only: halved, not dropped.
    a.write([&](auto&) {
        for (int i = 0; i < 450; ++i) colours[static_cast<std::size_t>(i)]->setIsDeleted(true);
    });
    exec->drain();
    pushes = a.log("modifyRecords");
    std::vector<std::size_t> deletes;
    for (std::size_t i = 4; i < pushes.size(); ++i) deletes.push_back(pushes[i].deletes);
    EXPECT_EQ(deletes, (std::vector<std::size_t>{450, 225, 225}));
    EXPECT_EQ(server->records("user", "ZNLColorItemsZone").size(), 200u);
    EXPECT_EQ(b.colourCount(), 200u);
}

TEST(PushSplitting, EveryPieceFitsAndSplittingEnds) {
    auto records = [](std::size_t n) {
        std::vector<CKRecord> out;
        for (std::size_t i = 0; i < n; ++i)
            out.emplace_back("ZNLColorItem", CKRecordID("c" + std::to_string(i), CKRecordZoneID("ZNLColorItemsZone")));
        return out;
    };
    auto ids = [](std::size_t n) {
        std::vector<CKRecordID> out;
        for (std::size_t i = 0; i < n; ++i)
            out.emplace_back("d" + std::to_string(i), CKRecordZoneID("ZNLColorItemsZone"));
        return out;
    };
    struct Case {
        std::size_t saves, deletes;
    };
    for (const auto& c : {Case{650, 0}, Case{650, 399}, Case{300, 200}, Case{0, 1000}, Case{301, 400}, Case{1, 1}}) {
        SCOPED_TRACE(std::to_string(c.saves) + " saves, " + std::to_string(c.deletes) + " deletions");
        // What the engine does: send; a piece over the limit is split again.
        std::vector<Nimbus::PushPiece> pending{{records(c.saves), ids(c.deletes)}};
        std::set<std::string> saved, deleted;
        int rounds = 0;
        while (!pending.empty()) {
            ASSERT_LT(++rounds, 100000);
            auto piece = pending.back();
            pending.pop_back();
            if (piece.recordsToSave.size() + piece.recordIDsToDelete.size() <= kModifyItemLimit) {
                for (const auto& r : piece.recordsToSave) saved.insert(r.recordID().recordName);
                for (const auto& id : piece.recordIDsToDelete) deleted.insert(id.recordName);
                continue;
            }
            for (auto& p : Nimbus::splitOversizedPush(piece.recordsToSave, piece.recordIDsToDelete))
                pending.push_back(p);
        }
        EXPECT_EQ(saved.size(), c.saves);  // nothing dropped
        EXPECT_EQ(deleted.size(), c.deletes);
    }
    auto pieces = Nimbus::splitOversizedPush(records(650), ids(3));
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[2].recordsToSave.size(), 50u);
    EXPECT_EQ(pieces[2].recordIDsToDelete.size(), 3u);  // each piece carries every deletion
    EXPECT_TRUE(Nimbus::splitOversizedPush(records(1), {}).empty());
}

TEST_F(TwoDevices, NoAccountMeansNoFetchZoneSubscriptionOrObservation) {
    server->setAccountStatus("A", CKAccountStatus::noAccount);
    a.launch();
    exec->drain();
    for (const auto& e : server->requestLog())
        EXPECT_TRUE(e.method == "accountStatus" || e.method == "registerForPushes") << e.method;
    EXPECT_TRUE(server->zoneNames("user").empty());
    EXPECT_TRUE(server->subscriptionIDs("user").empty());

    auto colour = a.addColour("#123456");
    exec->drain();
    EXPECT_EQ(a.requests("modifyRecords"), 0u);  // local changes are not observed
    a.engine->pushAll();
    exec->drain();
    EXPECT_EQ(a.requests("modifyRecords"), 0u);

    // The account comes back: what was made meanwhile goes up.
    server->setAccountStatus("A", CKAccountStatus::available);
    exec->advance(15);
    exec->drain();
    EXPECT_EQ(server->zoneNames("user"), (std::vector<std::string>{"ZNLColorFoldersZone", "ZNLColorItemsZone"}));
    EXPECT_EQ(a.requests("modifyRecords"), 1u);
    b.launch();
    exec->drain();
    EXPECT_TRUE(b.colour(colour->id()));
}

TEST_F(TwoDevices, AColourThatArrivesBeforeItsFolderIsLinkedWhenTheFolderComes) {
    launchBoth();
    // Another writer (an older version, say) sends the colour before its folder.
    auto folder = std::make_shared<ZNLColorFolder>();
    folder->setFolderName("Late");
    auto colour = std::make_shared<ZNLColorItem>();
    colour->setColor("#badbad");
    colour->setOwner(folder);
    rawSave(server, {Nimbus::recordOf(*colour)});
    exec->drain();
    ASSERT_TRUE(b.colour(colour->id()));
    EXPECT_FALSE(b.colour(colour->id())->owner());
    EXPECT_FALSE(b.folder(folder->id()));

    // B quits and comes back before the folder arrives; the wait is remembered.
    b.quit();
    exec->drain();
    b.launch();
    exec->drain();
    EXPECT_EQ(b.requests("modifyRecords"), 0u);  // a waiting link is no local change

    rawSave(server, {Nimbus::recordOf(*folder)});
    exec->drain();
    ASSERT_TRUE(b.folder(folder->id()));
    auto linked = b.colour(colour->id());
    ASSERT_TRUE(linked->owner());
    EXPECT_EQ(linked->owner()->id(), folder->id());
    EXPECT_EQ(b.requests("modifyRecords"), 0u);  // linking is not echoed
    EXPECT_FALSE(b.defaults->objectForKey(Nimbus::kUnresolvedLinksKey).isArray());
}

TEST_F(TwoDevices, AZoneTokenIsSavedOnlyAfterItsRecordsAreApplied) {
    launchBoth();
    server->setBatchLimit(2);
    std::vector<std::size_t> storedWhenTokenSaved;
    b.defaults->addObserver("ZNLColorItemnimbus.keys.zoneChangesTokenKey",
                            [&](const Value&, const Value&) { storedWhenTokenSaved.push_back(b.colourCount()); });
    a.write([&](ObjectStore::Realm& r) {
        for (int i = 0; i < 5; ++i) r.add(std::make_shared<ZNLColorItem>());
    });
    exec->drain();
    EXPECT_EQ(storedWhenTokenSaved, (std::vector<std::size_t>{2, 4, 5}));
}

TEST_F(TwoDevices, AFailedApplyKeepsTheOldTokenSoTheRecordComesAgain) {
    launchBoth();
    auto before = b.items->zoneChangesToken();
    server->holdPushes();
    auto colour = a.addColour("#0a0a0a");
    exec->drain();
    ObjectStore::testing::failNextCommits(1);  // B's write of the colour
    server->releasePushes();
    exec->drain();
    EXPECT_FALSE(b.colour(colour->id()));
    ASSERT_TRUE(b.items->zoneChangesToken());
    EXPECT_EQ(*b.items->zoneChangesToken(), *before);

    b.engine->pull();
    exec->drain();
    EXPECT_TRUE(b.colour(colour->id()));
}

TEST_F(TwoDevices, ZonesAndSubscriptionAreRequestedAtEveryLaunch) {
    launchBoth();
    a.quit();
    exec->drain();
    server->clearRequestLog();
    a.launch();
    exec->drain();
    auto zones = a.log("modifyZones");
    ASSERT_EQ(zones.size(), 1u);
    EXPECT_EQ(a.requests("modifySubscriptions"), 1u);

    // With every zone flagged as made, the request still goes (empty) and observation starts.
    a.quit();
    exec->drain();
    server->clearRequestLog();
    a.launch(/*clearFlags*/ false);
    exec->drain();
    EXPECT_EQ(a.requests("modifyZones"), 1u);
    EXPECT_EQ(a.requests("modifySubscriptions"), 0u);  // still cached
    auto colour = a.addColour("#999999");
    exec->drain();
    EXPECT_TRUE(b.colour(colour->id()));
}

TEST_F(TwoDevices, APushWhoseReplyWasLostIsResumedAtTheNextLaunch) {
    launchBoth();
    server->dropReplies("modifyRecords", 1, "A");
    auto colour = a.addColour("#c0ffee");
    exec->drain();
    EXPECT_EQ(server->longLivedOperationIDs("A").size(), 1u);
    EXPECT_TRUE(b.colour(colour->id()));

    a.quit();
    exec->drain();
    a.launch();
    exec->drain();
    EXPECT_TRUE(server->longLivedOperationIDs("A").empty());
    EXPECT_EQ(a.requests("modifyRecords"), 1u);  // resumed, not sent again
}

TEST_F(TwoDevices, AnEngineLetGoHoldsNothingAndHearsNothing) {
    launchBoth();
    std::weak_ptr<SyncEngine> engine = a.engine;
    std::weak_ptr<Nimbus::SyncObjectBase> items = a.items;
    a.quit();
    EXPECT_TRUE(engine.expired());
    EXPECT_TRUE(items.expired());

    server->clearRequestLog();
    a.center->post("cloudKitDataDidChangeRemotely");
    a.center->post(Nimbus::kApplicationWillTerminateNotification);
    a.addColour("#010101");
    exec->drain();
    EXPECT_TRUE(server->requestLog().empty());

    // Let go while its start is still in flight.
    a.launch();
    a.quit();
    exec->drain();
    for (const auto& e : server->requestLog())
        EXPECT_TRUE(e.method == "accountStatus" || e.method == "registerForPushes");
}
