// Two devices through faults, restarts and races: nothing made on one is lost
// on the other, nothing deleted comes back, and both end with the same library.

#include <gtest/gtest.h>

#include <map>

#include "Nimbus/RecordMapping.h"
#include "Nimbus/RecordState.h"
#include "Nimbus/SyncFixture.h"
#include "picker/Library/ZNLColorsLibrary.h"

using namespace synctest;

namespace {

// Every live object as its record's fields, by record name.
std::map<std::string, Dictionary> library(Device& device) {
    std::map<std::string, Dictionary> out;
    for (const auto& f : device.realm->objects<ZNLColorFolder>().filter("isDeleted == false").objects())
        out[f->id()] = Nimbus::recordOf(*f).fields();
    for (const auto& i : device.realm->objects<ZNLColorItem>().filter("isDeleted == false").objects())
        out[i->id()] = Nimbus::recordOf(*i).fields();
    return out;
}

std::map<std::string, Dictionary> cloud(CloudServer& server) {
    std::map<std::string, Dictionary> out;
    for (const char* zone : {"ZNLColorFoldersZone", "ZNLColorItemsZone"})
        for (const auto& r : server.records("user", zone))
            if (r.objectForKey("isDeleted") != Value(std::int64_t{1})) out[r.recordID().recordName] = r.fields();
    return out;
}

bool sameFields(const std::map<std::string, Dictionary>& a, const std::map<std::string, Dictionary>& b) {
    if (a.size() != b.size()) return false;
    for (const auto& [name, fields] : a) {
        auto it = b.find(name);
        if (it == b.end() || fields.size() != it->second.size()) return false;
        for (const auto& [key, value] : fields) {
            const Value* other = it->second.find(key);
            if (!other || !fieldValuesEqual(value, *other)) return false;
        }
    }
    return true;
}

void saveAsAnOlderVersion(const std::shared_ptr<CloudServer>& server, std::vector<CKRecord> records) {
    auto container = CKContainer::make(std::make_shared<InProcessTransport>(server, "user", "Old"));
    auto op = std::make_shared<CKModifyRecordsOperation>(std::move(records), std::vector<CKRecordID>{});
    op->savePolicy = CKSavePolicy::changedKeys;
    container->privateCloudDatabase()->add(op);
}

class SyncWithoutLoss : public TwoDevices {
protected:
    // Long enough for every retry to have run.
    void settle() {
        for (int i = 0; i < 8; ++i) {
            exec->drain();
            exec->advance(SyncEngine::kLongestRetryDelay);
        }
        exec->drain();
    }
    void expectSameEverywhere() {
        EXPECT_TRUE(sameFields(library(a), library(b)));
        EXPECT_TRUE(sameFields(library(a), cloud(*server)));
    }
};

}  // namespace

TEST_F(SyncWithoutLoss, ChangesMadeOfflineOrRefusedWithoutADelayGoWhenTheyCan) {
    launchBoth();
    auto named = a.addColour("#101010");
    auto doomed = a.addColour("#202020");
    exec->drain();
    ASSERT_TRUE(b.colour(doomed->id()));

    // Offline: an edit, an insertion and a deletion.
    server->setOffline("A", true);
    a.write([&](auto&) { named->setColorName("Ink"); });
    auto added = a.addColour("#303030");
    a.write([&](auto&) { doomed->setIsDeleted(true); });
    settle();
    EXPECT_EQ(b.colour(named->id())->colorName(), "");
    server->setOffline("A", false);
    settle();
    EXPECT_EQ(b.colour(named->id())->colorName(), "Ink");
    EXPECT_TRUE(b.colour(added->id()));
    EXPECT_FALSE(b.colour(doomed->id()));

    // Service unavailable without a retry delay, three times in a row.
    server->injectError({"modifyRecords", CKErrorServiceUnavailable, std::nullopt, 3});
    a.write([&](auto&) { named->setColorName("Ink 2"); });
    settle();
    EXPECT_EQ(b.colour(named->id())->colorName(), "Ink 2");
    expectSameEverywhere();
}

TEST_F(SyncWithoutLoss, PendingChangesSurviveAQuitAndGoAtTheNextLaunch) {
    launchBoth();
    server->injectError({"modifyRecords", CKErrorServiceUnavailable, std::nullopt, 100});
    auto colour = a.addColour("#404040");
    exec->drain();
    a.quit();  // before the server ever took it
    exec->drain();
    server->clearFaults();
    a.launch();
    settle();
    EXPECT_TRUE(b.colour(colour->id()));

    // A reply lost on the way back: sent again, and refused harmlessly.
    server->dropReplies("modifyRecords", 1, "A");
    a.write([&](auto&) { colour->setColorName("Slate"); });
    settle();
    EXPECT_EQ(b.colour(colour->id())->colorName(), "Slate");
    expectSameEverywhere();
}

TEST_F(SyncWithoutLoss, AnEditAfterANewRecordsLostReplyIsKept) {
    launchBoth();
    server->dropReplies("modifyRecords", 1, "A");  // the server has it, A does not know
    auto colour = a.addColour("#454545");
    exec->drain();
    ASSERT_TRUE(server->record("user", Nimbus::recordIDOf(*colour)));
    a.write([&](auto&) { colour->setColorName("Late"); });
    settle();
    EXPECT_EQ(a.colour(colour->id())->colorName(), "Late");
    EXPECT_EQ(b.colour(colour->id())->colorName(), "Late");
    expectSameEverywhere();
}

TEST_F(SyncWithoutLoss, WhatWasCommittedBeforeTheEngineStartedReachesTheOtherDevice) {
    // The folder named after the computer is made before sync starts.
    auto computer = a.addFolder("Test Mac");
    launchBoth();
    ASSERT_TRUE(b.folder(computer->id()));

    // Edits right after a restart, before the engine observes the store.
    a.quit();
    exec->drain();
    a.write([&](auto&) { computer->setFolderName("Renamed Mac"); });
    auto colour = a.addColour("#505050", computer);
    a.launch();
    settle();
    EXPECT_EQ(b.folder(computer->id())->folderName(), "Renamed Mac");
    ASSERT_TRUE(b.colour(colour->id()));
    EXPECT_EQ(b.colour(colour->id())->owner()->id(), computer->id());
    expectSameEverywhere();
}

TEST_F(SyncWithoutLoss, APushSendsOnlyWhatChanged) {
    launchBoth();
    std::vector<std::shared_ptr<ZNLColorItem>> colours;
    for (const char* hex : {"#600000", "#006000", "#000060"}) colours.push_back(a.addColour(hex));
    settle();
    server->clearRequestLog();
    a.engine->pushAll();  // after a pick: nothing is unacknowledged
    settle();
    EXPECT_EQ(a.requests("modifyRecords"), 0u);

    a.write([&](auto&) { colours[1]->setColorName("Moss"); });
    settle();
    auto pushes = a.log("modifyRecords");
    ASSERT_EQ(pushes.size(), 1u);
    EXPECT_EQ(pushes[0].saves, 1u);
}

// After a local change a push looks only at the objects the observation
// reported; nothing around it may be left behind.
TEST_F(SyncWithoutLoss, AnEditMadeWhileAPushIsInFlightGoesNext) {
    launchBoth();
    // The edit is heard before the push's reply is handled, or after.
    const std::vector<std::pair<std::string, std::function<bool(const std::string& id)>>> moments = {
        {"sent, not yet taken",
         [&](const std::string& id) { return Nimbus::recordState(*a.realm, "ZNLColorItem", id) != nullptr; }},
        {"taken, reply not handled", [&](const std::string&) { return a.requests("modifyRecords") > 0; }},
    };
    for (const auto& [moment, reached] : moments) {
        server->clearRequestLog();
        auto colour = a.addColour(moment == moments[0].first ? "#a00000" : "#a10000");
        for (int i = 0; i < 100 && !reached(colour->id()); ++i) exec->runNext();
        ASSERT_TRUE(reached(colour->id())) << moment;
        a.write([&](auto&) { colour->setColorName("Brick"); });
        exec->drain();
        EXPECT_EQ(b.colour(colour->id())->colorName(), "Brick") << moment;
        EXPECT_TRUE(a.items->pendingChanges().empty()) << moment;
    }
    expectSameEverywhere();
}

TEST_F(SyncWithoutLoss, AnEditThatFailedToPushGoesWithTheNextPush) {
    launchBoth();
    auto first = a.addColour("#b00000");
    auto second = a.addColour("#b10000");
    settle();
    server->clearRequestLog();
    // Refused without a delay: it is retried later, but the next edit's push
    // (no time has passed) carries it too.
    server->injectError({"modifyRecords", CKErrorServiceUnavailable, std::nullopt, 1});
    a.write([&](auto&) { first->setColorName("One"); });
    exec->drain();
    ASSERT_EQ(a.requests("modifyRecords"), 1u);
    a.write([&](auto&) { second->setColorName("Two"); });
    exec->drain();
    auto pushes = a.log("modifyRecords");
    ASSERT_EQ(pushes.size(), 2u);
    EXPECT_EQ(pushes[1].saves, 2u);
    EXPECT_EQ(b.colour(first->id())->colorName(), "One");
    EXPECT_EQ(b.colour(second->id())->colorName(), "Two");
    expectSameEverywhere();
}

TEST_F(SyncWithoutLoss, AChangeThatArrivesByFetchIsNotPushedBackAndADeletionGoesAsOne) {
    launchBoth();
    auto theirs = b.addColour("#c00000");
    auto mine = a.addColour("#c10000");
    settle();
    server->clearRequestLog();
    b.write([&](auto&) { b.colour(theirs->id())->setColorName("Theirs"); });
    settle();
    ASSERT_EQ(a.colour(theirs->id())->colorName(), "Theirs");
    EXPECT_EQ(a.requests("modifyRecords"), 0u);

    a.write([&](auto&) { mine->setIsDeleted(true); });
    settle();
    auto pushes = a.log("modifyRecords");
    ASSERT_EQ(pushes.size(), 1u);
    EXPECT_EQ(pushes[0].saves, 0u);
    EXPECT_EQ(pushes[0].deletes, 1u);
    EXPECT_FALSE(server->record("user", Nimbus::recordIDOf(*mine)));
    EXPECT_FALSE(b.colour(mine->id()));
    expectSameEverywhere();
}

// The cloud's own writes are not heard by the observation, nor what the
// library's rules change beside them: every fetch is followed by a look at
// every object.
TEST_F(SyncWithoutLoss, AChangeTheObservationDidNotHearGoesAfterTheNextFetch) {
    launchBoth();
    auto colour = a.addColour("#d00000");
    settle();
    a.realm->beginWrite();
    colour->setColorName("Unheard");
    a.realm->commitWrite({a.items->notificationToken()});
    exec->drain();
    EXPECT_EQ(b.colour(colour->id())->colorName(), "");
    b.addFolder("Heard");  // A hears of it and fetches
    exec->drain();
    EXPECT_EQ(b.colour(colour->id())->colorName(), "Unheard");
    expectSameEverywhere();
}

TEST_F(SyncWithoutLoss, ConcurrentEditsOfDifferentFieldsBothSurvive) {
    launchBoth();
    auto colour = a.addColour("#707070");
    settle();
    auto onB = b.colour(colour->id());
    ASSERT_TRUE(onB);

    server->holdPushes();  // neither has heard of the other's edit
    a.write([&](auto&) { colour->setColorName("Fog"); });
    exec->drain();
    b.write([&](auto&) { onB->setColor("#717171"); });
    exec->drain();
    server->releasePushes();
    settle();
    for (Device* d : {&a, &b}) {
        EXPECT_EQ(d->colour(colour->id())->colorName(), "Fog") << d->name;
        EXPECT_EQ(d->colour(colour->id())->color(), "#717171") << d->name;
    }
    expectSameEverywhere();
}

TEST_F(SyncWithoutLoss, ConcurrentEditsOfTheSameFieldEndWithOneValueEverywhere) {
    launchBoth();
    auto folder = a.addFolder("Start");
    settle();
    server->setOffline("A", true);
    a.write([&](auto&) { folder->setFolderName("From A"); });
    b.write([&](auto&) { b.folder(folder->id())->setFolderName("From B"); });
    settle();
    server->setOffline("A", false);
    settle();
    const std::string name = a.folder(folder->id())->folderName();
    EXPECT_TRUE(name == "From A" || name == "From B") << name;
    EXPECT_EQ(b.folder(folder->id())->folderName(), name);
    expectSameEverywhere();
}

TEST_F(SyncWithoutLoss, ADeletionCannotBeUndoneByAStalePush) {
    launchBoth();
    auto colour = a.addColour("#808080");
    settle();
    auto stale = Nimbus::recordOf(*colour);

    // B has not heard of A's deletion when it edits the colour.
    server->setOffline("B", true);
    a.write([&](auto&) { colour->setIsDeleted(true); });
    settle();
    b.write([&](auto&) { b.colour(colour->id())->setColorName("Revived?"); });
    settle();
    server->setOffline("B", false);
    settle();
    EXPECT_FALSE(b.colour(colour->id()));
    EXPECT_FALSE(server->record("user", Nimbus::recordIDOf(*colour)));

    // A device of the previous version pushes its whole library again.
    saveAsAnOlderVersion(server, {stale});
    settle();
    EXPECT_FALSE(server->record("user", Nimbus::recordIDOf(*colour)));
    EXPECT_FALSE(b.colour(colour->id()));
    auto onA = a.colour(colour->id());
    EXPECT_TRUE(!onA || onA->isDeleted());
    expectSameEverywhere();
}

TEST_F(SyncWithoutLoss, AFullFetchAfterAnExpiredTokenRemovesWhatTheServerNoLongerHas) {
    launchBoth();
    auto gone = a.addColour("#909090");
    auto kept = a.addColour("#919191");
    settle();
    ASSERT_TRUE(b.colour(gone->id()));

    b.quit();
    exec->drain();
    a.write([&](auto&) { gone->setIsDeleted(true); });
    settle();
    server->expireZoneTokens("user");
    // Made on B while it was not running: never acknowledged, must stay.
    auto fresh = b.addColour("#929292");
    b.launch();
    settle();
    EXPECT_FALSE(b.colour(gone->id()));
    EXPECT_TRUE(b.colour(kept->id()));
    EXPECT_TRUE(b.colour(fresh->id()));
    EXPECT_TRUE(a.colour(fresh->id()));
    EXPECT_FALSE(server->record("user", Nimbus::recordIDOf(*gone)));
    expectSameEverywhere();
}

TEST_F(SyncWithoutLoss, FolderNumbersStayUniqueAndTheSelectedFolderFollowsItsFolder) {
    // Each device made its first folder, number 1, and selected it.
    auto onA = std::make_shared<ZNLColorFolder>();
    onA->setFolderName("A's");
    onA->setFolderId(1);
    a.write([&](ObjectStore::Realm& r) { r.add(onA); });
    a.defaults->set("selectedFolder", "1");
    auto onB = std::make_shared<ZNLColorFolder>();
    onB->setFolderName("B's");
    onB->setFolderId(1);
    b.write([&](ObjectStore::Realm& r) { r.add(onB); });
    b.defaults->set("selectedFolder", "1");

    launchBoth();
    settle();
    for (Device* d : {&a, &b}) {
        auto first = d->folder(onA->id()), second = d->folder(onB->id());
        ASSERT_TRUE(first && second) << d->name;
        EXPECT_NE(first->folderId(), second->folderId()) << d->name;
    }
    EXPECT_EQ(a.folder(onA->id())->folderId(), b.folder(onA->id())->folderId());
    EXPECT_EQ(a.folder(onB->id())->folderId(), b.folder(onB->id())->folderId());
    EXPECT_EQ(*a.defaults->stringForKey("selectedFolder"), std::to_string(a.folder(onA->id())->folderId()));
    EXPECT_EQ(*b.defaults->stringForKey("selectedFolder"), std::to_string(b.folder(onB->id())->folderId()));
    expectSameEverywhere();
}

// A notice can be missed; the engine fetches whenever it cannot be sure it
// heard them all.
TEST_F(SyncWithoutLoss, AMissedNoticeIsMadeUpForByTheBackstopFetch) {
    launchBoth();
    *a.deaf = true;
    auto colour = b.addColour("#515151");
    exec->drain();
    EXPECT_FALSE(a.colour(colour->id()));
    exec->advance(SyncEngine::kBackstopFetchInterval - 2);
    EXPECT_FALSE(a.colour(colour->id()));
    exec->advance(2);
    exec->drain();
    EXPECT_TRUE(a.colour(colour->id()));

    // Idle: one fetch a minute, no more.
    const std::size_t fetches = a.requests("fetchDatabaseChanges");
    exec->advance(10 * SyncEngine::kBackstopFetchInterval);
    EXPECT_EQ(a.requests("fetchDatabaseChanges"), fetches + 10);
}

TEST_F(SyncWithoutLoss, AFetchFollowsTheEndOfAFailureAndEveryReconnection) {
    launchBoth();
    *a.deaf = true;
    // A is offline while B changes something: when A's requests work again it
    // fetches at once, though it heard nothing.
    server->setOffline("A", true);
    auto mine = a.addColour("#606060");
    exec->drain();
    exec->advance(SyncEngine::kLongestRetryDelay);
    auto theirs = b.addColour("#616161");
    exec->drain();
    server->setOffline("A", false);
    exec->advance(SyncEngine::kLongestRetryDelay);
    exec->drain();
    EXPECT_TRUE(b.colour(mine->id()));
    EXPECT_TRUE(a.colour(theirs->id()));

    // The push channel connects again (as after a cut long poll): A fetches.
    auto later = b.addColour("#626262");
    exec->drain();
    ASSERT_FALSE(a.colour(later->id()));
    a.container->registerForRemoteNotifications([](const Dictionary&) {});
    exec->drain();
    EXPECT_TRUE(a.colour(later->id()));
}

TEST_F(SyncWithoutLoss, AtStartAFetchFollowsTheFirstPush) {
    // B's change lands between A's first fetch and A's first push, and its
    // notice is not heard.
    a.addColour("#707070");
    b.launch();
    exec->drain();
    *a.deaf = true;
    a.launch();
    std::shared_ptr<ZNLColorItem> theirs;
    for (int i = 0; i < 50 && a.requests("fetchZoneChanges") == 0; ++i) exec->runNext();
    theirs = b.addColour("#717171");
    exec->drain();
    exec->advance(1);
    exec->drain();
    EXPECT_GE(a.requests("modifyRecords"), 1u);
    EXPECT_TRUE(a.colour(theirs->id()));
}

namespace {

std::shared_ptr<ZNLColorFolder> makeHistory(Device& device, const std::string& id, std::int64_t number) {
    auto folder = std::make_shared<ZNLColorFolder>();
    folder->setId(id);
    folder->setFolderName("History");
    folder->setFolderId(number);
    device.write([&](ObjectStore::Realm& r) { r.add(folder); });
    return folder;
}

std::vector<std::shared_ptr<ZNLColorFolder>> histories(Device& device) {
    std::vector<std::shared_ptr<ZNLColorFolder>> out;
    for (const auto& f : device.realm->objects<ZNLColorFolder>().filter("isDeleted == false").objects())
        if (f->folderName() == "History") out.push_back(f);
    return out;
}

}  // namespace

// History has one identity everywhere: two fresh devices, each making it at
// the same moment and picking into it, end with one History holding both.
TEST_F(SyncWithoutLoss, TwoFreshDevicesEndWithOneHistoryHoldingBothDevicesPicks) {
    auto mine = a.addColour("#800000", makeHistory(a, kHistoryFolderID, 1));
    auto theirs = b.addColour("#008000", makeHistory(b, kHistoryFolderID, 2));
    a.launch();
    b.launch();
    settle();
    for (Device* d : {&a, &b}) {
        auto folders = histories(*d);
        ASSERT_EQ(folders.size(), 1u) << d->name;
        EXPECT_EQ(folders[0]->id(), kHistoryFolderID);
        EXPECT_EQ(d->colour(mine->id())->owner()->id(), kHistoryFolderID) << d->name;
        EXPECT_EQ(d->colour(theirs->id())->owner()->id(), kHistoryFolderID) << d->name;
    }
    expectSameEverywhere();
}

// A History made before the shared identity keeps its colours: when the
// shared one arrives they move into it and the old folder is deleted
// through sync.
TEST_F(SyncWithoutLoss, AnOlderHistoryMergesIntoTheSharedOne) {
    auto old = makeHistory(a, "0F0F0F0F-OLD-HISTORY", 1);
    auto kept = a.addColour("#123456", old);
    a.defaults->set("selectedFolder", "1");
    auto theirs = b.addColour("#654321", makeHistory(b, kHistoryFolderID, 2));
    launchBoth();
    settle();
    for (Device* d : {&a, &b}) {
        auto folders = histories(*d);
        ASSERT_EQ(folders.size(), 1u) << d->name;
        EXPECT_EQ(folders[0]->id(), kHistoryFolderID);
        EXPECT_EQ(d->colour(kept->id())->owner()->id(), kHistoryFolderID) << d->name;
        EXPECT_EQ(d->colour(theirs->id())->owner()->id(), kHistoryFolderID) << d->name;
    }
    EXPECT_EQ(a.defaults->stringForKey("selectedFolder"), std::to_string(histories(a)[0]->folderId()));
    expectSameEverywhere();
}
