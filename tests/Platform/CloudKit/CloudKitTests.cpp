#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include <nlohmann/json.hpp>

#include "Platform/CloudKit/CloudFixture.h"
#include "Platform/CloudKit/Wire.h"
#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/KeyedArchiver.h"

using namespace cloudtest;

namespace {

std::vector<std::string> names(const std::vector<CKRecord>& records) {
    std::vector<std::string> out;
    for (const auto& r : records) out.push_back(r.recordID().recordName);
    return out;
}

std::vector<std::string> names(const std::vector<CKRecordID>& ids) {
    std::vector<std::string> out;
    for (const auto& id : ids) out.push_back(id.recordName);
    return out;
}

}  // namespace

// --- change logs and tokens ---------------------------------------------------------

TEST_F(CloudFixture, ZoneFetchGivesLiveRecordsThenChangesSinceTheToken) {
    auto a = device("A");
    ASSERT_FALSE(createZones(a, {"ZNLColorItemsZone"}));
    ASSERT_FALSE(
        modify(a, {colourRecord("c1", "#111111"), colourRecord("c2", "#222222"), colourRecord("c3", "#333333")}).error);
    ASSERT_FALSE(modify(a, {}, {CKRecordID("c2", CKRecordZoneID("ZNLColorItemsZone"))}).error);

    auto first = fetchZone(a, "ZNLColorItemsZone", nullptr);
    ASSERT_TRUE(first.completed);
    EXPECT_FALSE(first.error);
    EXPECT_EQ(names(first.records), (std::vector<std::string>{"c1", "c3"}));
    EXPECT_TRUE(first.deleted.empty());  // no token: live records only

    CKRecord changed = colourRecord("c1", "#abcdef");
    ASSERT_FALSE(modify(a, {changed}, {CKRecordID("c3", CKRecordZoneID("ZNLColorItemsZone"))}).error);
    auto second = fetchZone(a, "ZNLColorItemsZone", first.token);
    EXPECT_EQ(names(second.records), (std::vector<std::string>{"c1"}));
    EXPECT_EQ(second.records[0].objectForKey("color"), Value("#abcdef"));
    EXPECT_EQ(names(second.deleted), (std::vector<std::string>{"c3"}));

    auto third = fetchZone(a, "ZNLColorItemsZone", second.token);
    EXPECT_TRUE(third.records.empty());
    EXPECT_TRUE(third.deleted.empty());
}

TEST_F(CloudFixture, BatchesCarryMoreComingAndResumeWhereTheyStopped) {
    server->setBatchLimit(2);
    auto a = device("A");
    ASSERT_FALSE(createZones(a, {"ZNLColorItemsZone"}));
    std::vector<CKRecord> five;
    for (int i = 0; i < 5; ++i) five.push_back(colourRecord("c" + std::to_string(i), "#000000"));
    ASSERT_FALSE(modify(a, five).error);

    auto all = fetchZone(a, "ZNLColorItemsZone", nullptr, /*fetchAll*/ true);
    EXPECT_EQ(all.records.size(), 5u);
    EXPECT_EQ(all.tokenUpdates, 2);  // after the first two batches of three

    // Without fetchAllChanges each operation brings one batch.
    CKServerChangeTokenPtr token;
    std::vector<std::string> seen;
    for (int i = 0; i < 3; ++i) {
        auto part = fetchZone(a, "ZNLColorItemsZone", token, /*fetchAll*/ false);
        for (const auto& n : names(part.records)) seen.push_back(n);
        token = part.token;
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"c0", "c1", "c2", "c3", "c4"}));
}

TEST_F(CloudFixture, ExpiredAndForeignTokensFailWithChangeTokenExpired) {
    auto a = device("A");
    ASSERT_FALSE(createZones(a, {"ZNLColorItemsZone", "ZNLColorFoldersZone"}));
    ASSERT_FALSE(modify(a, {colourRecord("c1", "#111111")}).error);
    auto items = fetchZone(a, "ZNLColorItemsZone", nullptr);
    auto folders = fetchZone(a, "ZNLColorFoldersZone", nullptr);

    // Another zone's token, an unreadable one.
    EXPECT_EQ(fetchZone(a, "ZNLColorItemsZone", folders.token).error->code, CKErrorChangeTokenExpired);
    EXPECT_EQ(fetchZone(a, "ZNLColorItemsZone", std::make_shared<CKServerChangeToken>("junk")).error->code,
              CKErrorChangeTokenExpired);

    server->expireZoneTokens("user", "ZNLColorItemsZone");
    EXPECT_EQ(fetchZone(a, "ZNLColorItemsZone", items.token).error->code, CKErrorChangeTokenExpired);
    EXPECT_FALSE(fetchZone(a, "ZNLColorFoldersZone", folders.token).error);  // other zone untouched
    auto fresh = fetchZone(a, "ZNLColorItemsZone", nullptr);
    EXPECT_EQ(fresh.records.size(), 1u);
    EXPECT_FALSE(fetchZone(a, "ZNLColorItemsZone", fresh.token).error);

    EXPECT_EQ(fetchZone(a, "NoSuchZone", nullptr).error->code, CKErrorZoneNotFound);
}

TEST_F(CloudFixture, DatabaseLogListsChangedZonesAndExpires) {
    auto a = device("A");
    auto fetchDb = [&](CKServerChangeTokenPtr token) {
        auto op = std::make_shared<CKFetchDatabaseChangesOperation>(token);
        std::vector<std::string> changed;
        CKServerChangeTokenPtr newToken;
        OptionalError error;
        op->recordZoneWithIDChangedBlock = [&](const CKRecordZoneID& z) { changed.push_back(z.zoneName); };
        op->fetchDatabaseChangesCompletionBlock = [&](const CKServerChangeTokenPtr& t, bool, const OptionalError& e) {
            newToken = t;
            error = e;
        };
        a->privateCloudDatabase()->add(op);
        exec->drain();
        return std::make_tuple(changed, newToken, error);
    };
    ASSERT_FALSE(createZones(a, {"ZNLColorFoldersZone", "ZNLColorItemsZone"}));
    auto [all, token, err] = fetchDb(nullptr);
    EXPECT_FALSE(err);
    EXPECT_EQ(all.size(), 2u);
    ASSERT_FALSE(modify(a, {colourRecord("c1", "#111111")}).error);
    auto [changed, token2, err2] = fetchDb(token);
    EXPECT_EQ(changed, (std::vector<std::string>{"ZNLColorItemsZone"}));
    server->expireDatabaseTokens("user");
    auto [none, token3, err3] = fetchDb(token2);
    ASSERT_TRUE(err3);
    EXPECT_EQ(err3->code, CKErrorChangeTokenExpired);
}

// --- modify requests ----------------------------------------------------------------

TEST_F(CloudFixture, ModifyLimitAndAtomicityApplyNothingOnFailure) {
    auto a = device("A");
    ASSERT_FALSE(createZones(a, {"ZNLColorItemsZone"}));
    std::vector<CKRecord> many;
    for (int i = 0; i < 401; ++i) many.push_back(colourRecord("c" + std::to_string(i), "#000000"));
    auto tooMany = modify(a, many);
    ASSERT_TRUE(tooMany.error);
    EXPECT_EQ(tooMany.error->code, CKErrorLimitExceeded);
    many.pop_back();
    EXPECT_FALSE(modify(a, many).error);  // 400 is allowed
    EXPECT_EQ(server->records("user", "ZNLColorItemsZone").size(), 400u);

    CKRecord stray("ZNLColorItem", CKRecordID("x", CKRecordZoneID("MissingZone")));
    auto atomic = modify(a, {colourRecord("new1", "#123456"), stray});
    ASSERT_TRUE(atomic.error);
    EXPECT_EQ(atomic.error->code, CKErrorPartialFailure);
    auto items = partialErrors(*atomic.error);
    EXPECT_EQ(items.at(stray.recordID()).code, CKErrorZoneNotFound);
    EXPECT_EQ(items.at(colourRecord("new1", "").recordID()).code, CKErrorBatchRequestFailed);
    EXPECT_FALSE(server->record("user", colourRecord("new1", "").recordID()));

    auto loose = modify(a, {colourRecord("new1", "#123456"), stray}, {}, CKSavePolicy::changedKeys, /*atomic*/ false);
    ASSERT_TRUE(loose.error);
    EXPECT_EQ(partialErrors(*loose.error).size(), 1u);
    EXPECT_EQ(names(loose.saved), (std::vector<std::string>{"new1"}));
    EXPECT_TRUE(server->record("user", colourRecord("new1", "").recordID()));
}

TEST_F(CloudFixture, SavePoliciesDecideBetweenLastWriterAndVersionCheck) {
    auto a = device("A");
    ASSERT_FALSE(createZones(a, {"ZNLColorItemsZone"}));
    CKRecord r = colourRecord("c1", "#111111");
    r.setObject("colorName", "Sky");
    auto first = modify(a, {r});
    ASSERT_FALSE(first.error);
    ASSERT_TRUE(first.saved[0].recordChangeTag());

    // changedKeys: only the changed keys are written; a key set to no value is removed.
    CKRecord partial("ZNLColorItem", r.recordID());
    partial.setObject("colorName", Value());
    ASSERT_FALSE(modify(a, {partial}).error);
    auto stored = server->record("user", r.recordID());
    EXPECT_EQ(stored->objectForKey("color"), Value("#111111"));
    EXPECT_TRUE(stored->objectForKey("colorName").isNull());

    // ifServerRecordUnchanged: a stale tag or a new record over an existing one conflicts.
    auto stale = modify(a, {first.saved[0]}, {}, CKSavePolicy::ifServerRecordUnchanged, false);
    ASSERT_TRUE(stale.error);
    EXPECT_EQ(partialErrors(*stale.error).begin()->second.code, CKErrorServerRecordChanged);
    auto current = *server->record("user", r.recordID());
    current.setObject("color", "#222222");
    EXPECT_FALSE(modify(a, {current}, {}, CKSavePolicy::ifServerRecordUnchanged).error);

    // allKeys replaces the record.
    CKRecord whole("ZNLColorItem", r.recordID());
    whole.setObject("order", 3);
    ASSERT_FALSE(modify(a, {whole}, {}, CKSavePolicy::allKeys).error);
    EXPECT_EQ(server->record("user", r.recordID())->allKeys(), (std::vector<std::string>{"order"}));
}

// --- values on the wire ----------------------------------------------------------------

TEST_F(CloudFixture, EveryFieldKindSurvivesTheRoundTrip) {
    auto a = device("A");
    ASSERT_FALSE(createZones(a, {"ZNLColorItemsZone"}));
    std::string assetPath = Foundation::temporaryDirectory() + "/asset.bin";
    {
        std::ofstream out(assetPath, std::ios::binary);
        out << "bytes\0more";
    }
    CKRecord r = colourRecord("c1", "#111111");
    r.setObject("flag", true);
    r.setObject("count", 42);
    r.setObject("ratio", 0.25);
    r.setObject("odd", std::nan(""));
    r.setObject("when", Foundation::Date{1'700'000'123.5});
    r.setObject("blob", Foundation::Data{0, 1, 2, 255});
    r.setObject("list", Foundation::Array{Value(1), Value("two")});
    r.setObject("owner", CKReference::make(CKRecordID("f1", CKRecordZoneID("ZNLColorFoldersZone"))));
    r.setObject("photo", CKAsset::make(assetPath));
    ASSERT_FALSE(modify(a, {r}).error);

    auto back = fetchZone(device("B"), "ZNLColorItemsZone", nullptr).records.at(0);
    EXPECT_EQ(back.objectForKey("flag"), Value(1));  // Booleans are numbers
    EXPECT_EQ(back.objectForKey("count"), Value(42));
    EXPECT_EQ(back.objectForKey("ratio"), Value(0.25));
    EXPECT_TRUE(std::isnan(back.objectForKey("odd").asDouble()));
    EXPECT_EQ(back.objectForKey("when"), Value(Foundation::Date{1'700'000'123.5}));
    EXPECT_EQ(back.objectForKey("blob"), Value(Foundation::Data{0, 1, 2, 255}));
    EXPECT_TRUE(fieldValuesEqual(back.objectForKey("list"), Value(Foundation::Array{Value(1), Value("two")})));
    auto ref = CKReference::from(back.objectForKey("owner"));
    ASSERT_TRUE(ref);
    EXPECT_EQ(ref->recordID(), CKRecordID("f1", CKRecordZoneID("ZNLColorFoldersZone")));
    auto asset = CKAsset::from(back.objectForKey("photo"));
    ASSERT_TRUE(asset);
    std::ifstream in(asset->fileURL(), std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "bytes");
    EXPECT_NE(asset->fileURL(), assetPath);  // a local copy of the server's bytes

    // An asset whose file is gone cannot be sent.
    CKRecord missing = colourRecord("c2", "#000000");
    missing.setObject("photo", CKAsset::make(assetPath + ".gone"));
    EXPECT_EQ(modify(a, {missing}).error->code, CKErrorAssetFileNotFound);
}

TEST(CloudKitValues, ChangeTokensArchiveAndMalformedRequestsAreRejected) {
    CKServerChangeToken::registerCoding();
    auto token = std::make_shared<CKServerChangeToken>("abc:z:1:2:Zone");
    auto data = Foundation::KeyedArchiver::archivedData(Value(std::shared_ptr<Foundation::Object>(token)));
    ASSERT_TRUE(data);
    auto back = Foundation::KeyedUnarchiver::unarchivedObject<CKServerChangeToken>(*data);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, *token);

    CloudServer server;
    auto reply =
        server.handle("u", "d", "modifyRecords", wire::Json{{"save", wire::Json::array({wire::Json{{"type", 3}}})}});
    EXPECT_EQ(reply["error"]["code"], CKErrorInvalidArguments);
    reply = server.handle("u", "d", "noSuchMethod", wire::Json::object());
    EXPECT_EQ(reply["error"]["code"], CKErrorServerRejectedRequest);
    reply = server.handle("other", "d", "accountStatus", wire::Json::object());
    EXPECT_EQ(reply["error"]["code"], CKErrorPermissionFailure);  // the device is the first user's
}

// --- devices, faults and pushes ------------------------------------------------------------

TEST_F(CloudFixture, FaultHooksFailRequestsBeforeAnythingIsApplied) {
    auto a = device("A");
    ASSERT_FALSE(createZones(a, {"ZNLColorItemsZone"}));
    server->injectError({"modifyRecords", CKErrorRequestRateLimited, 2.5, 2});
    for (int i = 0; i < 2; ++i) {
        auto r = modify(a, {colourRecord("c1", "#111111")});
        ASSERT_TRUE(r.error);
        EXPECT_EQ(r.error->code, CKErrorRequestRateLimited);
        EXPECT_EQ(retryAfterSeconds(*r.error), 2.5);
    }
    EXPECT_FALSE(server->record("user", colourRecord("c1", "").recordID()));
    EXPECT_FALSE(modify(a, {colourRecord("c1", "#111111")}).error);  // used up

    server->setOffline("A", true);
    EXPECT_EQ(modify(a, {colourRecord("c2", "#111111")}).error->code, CKErrorNetworkUnavailable);
    server->setOffline("A", false);

    server->setAccountStatus("A", CKAccountStatus::noAccount);
    CKAccountStatus status = CKAccountStatus::available;
    bool onCloudQueue = false;
    a->accountStatus([&](CKAccountStatus s, const OptionalError&) {
        status = s;
        onCloudQueue = a->cloudQueue()->isCurrent() && !Foundation::DispatchQueue::isMainThread();
    });
    exec->drain();
    EXPECT_EQ(status, CKAccountStatus::noAccount);
    EXPECT_TRUE(onCloudQueue);
    EXPECT_EQ(modify(a, {colourRecord("c2", "#111111")}).error->code, CKErrorNotAuthenticated);
}

TEST_F(CloudFixture, PushesReachOtherDevicesOfTheUserOnce) {
    auto a = device("A"), b = device("B"), c = device("C"), stranger = device("S", "someone-else");
    std::map<std::string, std::vector<std::string>> received;
    for (auto& [name, container] : std::vector<std::pair<std::string, std::shared_ptr<CKContainer>>>{
             {"A", a}, {"B", b}, {"C", c}, {"S", stranger}}) {
        container->registerForRemoteNotifications([&received, name = name](const Dictionary& info) {
            EXPECT_TRUE(Foundation::DispatchQueue::isMainThread());
            auto n = CKNotification::fromRemoteNotificationDictionary(info);
            received[name].push_back(n ? n->subscriptionID : "?");
        });
    }
    exec->drain();
    ASSERT_FALSE(createZones(a, {"ZNLColorItemsZone"}));  // no subscription yet: no push
    auto sub = std::make_shared<CKModifySubscriptionsOperation>(
        std::vector<CKDatabaseSubscription>{CKDatabaseSubscription("private_changes")}, std::vector<std::string>{});
    a->privateCloudDatabase()->add(sub);
    exec->drain();
    EXPECT_TRUE(received.empty());

    ASSERT_FALSE(modify(a, {colourRecord("c1", "#111111")}).error);
    EXPECT_EQ(received["B"], (std::vector<std::string>{"private_changes"}));
    EXPECT_EQ(received["C"].size(), 1u);
    EXPECT_TRUE(received["A"].empty());  // not the writer
    EXPECT_TRUE(received["S"].empty());  // not another user

    // Held: nothing goes out; two commits coalesce into one push.
    received.clear();
    server->holdPushes();
    server->setOffline("C", true);
    ASSERT_FALSE(modify(a, {colourRecord("c2", "#111111")}).error);
    ASSERT_FALSE(modify(a, {colourRecord("c3", "#111111")}).error);
    EXPECT_TRUE(received.empty());
    server->releasePushes();
    exec->drain();
    EXPECT_EQ(received["B"].size(), 1u);
    EXPECT_TRUE(received["C"].empty());  // offline
    server->setOffline("C", false);
    exec->drain();
    EXPECT_EQ(received["C"].size(), 1u);
    // A request that changes nothing pushes nothing.
    received.clear();
    ASSERT_FALSE(createZones(a, {"ZNLColorItemsZone"}));
    EXPECT_TRUE(received.empty());
}

TEST_F(CloudFixture, LongLivedOperationsOutliveALostReply) {
    auto a = device("A");
    ASSERT_FALSE(createZones(a, {"ZNLColorItemsZone"}));
    server->dropReplies("modifyRecords", 1);
    auto op = std::make_shared<CKModifyRecordsOperation>(std::vector<CKRecord>{colourRecord("c1", "#111111")},
                                                         std::vector<CKRecordID>{});
    op->configuration.longLived = true;
    bool called = false;
    op->modifyRecordsCompletionBlock = [&](auto&, auto&, auto&) { called = true; };
    a->privateCloudDatabase()->add(op);
    exec->drain();
    EXPECT_FALSE(called);
    EXPECT_TRUE(server->record("user", colourRecord("c1", "").recordID()));  // it ran

    // The next launch finds it, and running it again gives the remembered reply.
    auto relaunched = device("A");
    std::vector<std::string> ids;
    relaunched->fetchAllLongLivedOperationIDs(
        [&](auto& list, auto&) { ids = list.value_or(std::vector<std::string>{}); });
    exec->drain();
    ASSERT_EQ(ids, (std::vector<std::string>{op->operationID()}));
    std::shared_ptr<CKOperation> resumed;
    relaunched->fetchLongLivedOperation(ids[0], [&](std::shared_ptr<CKOperation> o, auto&) { resumed = o; });
    exec->drain();
    auto modifyOp = std::dynamic_pointer_cast<CKModifyRecordsOperation>(resumed);
    ASSERT_TRUE(modifyOp);
    EXPECT_EQ(modifyOp->recordsToSave.size(), 1u);
    std::vector<CKRecord> saved;
    modifyOp->modifyRecordsCompletionBlock = [&](auto& s, auto&, auto&) { saved = s; };
    relaunched->add(modifyOp);
    exec->drain();
    EXPECT_EQ(names(saved), (std::vector<std::string>{"c1"}));
    EXPECT_EQ(server->requestCount("modifyRecords"), 1u);  // not applied twice
    EXPECT_TRUE(server->longLivedOperationIDs("A").empty());
}
