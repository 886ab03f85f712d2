// Two containers talking HTTP to a loopback daemon, with real threads: the
// daemon's, and each transport's push poll.

#include <gtest/gtest.h>

#include "Platform/CloudKit/Container.h"
#include "Platform/CloudKit/Daemon.h"
#include "Platform/Foundation/Dispatch.h"

using namespace CloudKit;

// Debian ships cpp-httplib as a library built without ThreadSanitizer: what
// its threads do is invisible to the sanitizer, so accesses it reports from
// inside that library are not ours to judge.
extern "C" const char* __tsan_default_suppressions() { return "called_from_lib:libcpp-httplib.so\n"; }

TEST(CloudDaemon, TwoProcessesShareOneDatabaseAndGetPushes) {
    auto exec = Foundation::TestExecutor::install();
    auto server = std::make_shared<CloudServer>();
    CloudDaemon daemon(server);
    ASSERT_GT(daemon.bind("127.0.0.1", 0), 0);
    daemon.start();

    auto a = CKContainer::make(std::make_shared<HTTPTransport>(daemon.url(), "user", "A"));
    auto b = CKContainer::make(std::make_shared<HTTPTransport>(daemon.url(), "user", "B"));
    int pushes = 0;
    std::string subscription;
    b->registerForRemoteNotifications([&](const Dictionary& info) {
        ++pushes;
        if (auto n = CKNotification::fromRemoteNotificationDictionary(info)) subscription = n->subscriptionID;
    });

    bool ready = false;
    auto zones = std::make_shared<CKModifyRecordZonesOperation>(
        std::vector<CKRecordZone>{CKRecordZone(CKRecordZoneID("ZNLColorItemsZone"))}, std::vector<CKRecordZoneID>{});
    a->privateCloudDatabase()->add(zones);
    auto sub = std::make_shared<CKModifySubscriptionsOperation>(
        std::vector<CKDatabaseSubscription>{CKDatabaseSubscription("private_changes")}, std::vector<std::string>{});
    sub->modifySubscriptionsCompletionBlock = [&](auto&, auto&, const OptionalError& e) { ready = !e; };
    a->privateCloudDatabase()->add(sub);
    ASSERT_TRUE(exec->runUntil([&] { return ready; }));
    ASSERT_TRUE(exec->runUntil([&] { return server->requestCount("registerForPushes", "B") == 1; }));

    CKRecord record("ZNLColorItem", CKRecordID("c1", CKRecordZoneID("ZNLColorItemsZone")));
    record.setObject("color", "#123456");
    auto save = std::make_shared<CKModifyRecordsOperation>(std::vector<CKRecord>{record}, std::vector<CKRecordID>{});
    save->savePolicy = CKSavePolicy::changedKeys;
    save->configuration.longLived = true;
    bool saved = false;
    save->modifyRecordsCompletionBlock = [&](auto& records, auto&, const OptionalError& e) { saved = !e && records.size() == 1; };
    a->privateCloudDatabase()->add(save);
    ASSERT_TRUE(exec->runUntil([&] { return saved && pushes == 1; }));
    EXPECT_EQ(subscription, "private_changes");

    std::vector<CKRecord> fetched;
    auto fetch = std::make_shared<CKFetchRecordZoneChangesOperation>(
        std::vector<CKRecordZoneID>{CKRecordZoneID("ZNLColorItemsZone")},
        std::map<CKRecordZoneID, CKFetchRecordZoneChangesOptions>{});
    fetch->recordChangedBlock = [&](const CKRecord& r) { fetched.push_back(r); };
    b->privateCloudDatabase()->add(fetch);
    ASSERT_TRUE(exec->runUntil([&] { return !fetched.empty(); }));
    EXPECT_EQ(fetched[0].objectForKey("color"), Value("#123456"));
    EXPECT_TRUE(server->longLivedOperationIDs("A").empty());

    b.reset();
    a.reset();
    daemon.stop();

    // A daemon that is gone is a network failure, not a hang.
    auto orphan = CKContainer::make(std::make_shared<HTTPTransport>(daemon.url(), "user", "A"));
    OptionalError error;
    auto late = std::make_shared<CKModifyRecordsOperation>(std::vector<CKRecord>{record}, std::vector<CKRecordID>{});
    late->modifyRecordsCompletionBlock = [&](auto&, auto&, const OptionalError& e) { error = e; };
    orphan->privateCloudDatabase()->add(late);
    ASSERT_TRUE(exec->runUntil([&] { return error.has_value(); }));
    EXPECT_EQ(error->code, CKErrorNetworkFailure);
}

TEST(CloudDaemon, TheDefaultContainerFollowsTheEnvironment) {
    auto exec = Foundation::TestExecutor::install();
    auto status = [&] {
        std::optional<CKAccountStatus> result;
        CKContainer::defaultContainer()->accountStatus([&](CKAccountStatus s, const OptionalError&) { result = s; });
        EXPECT_TRUE(exec->runUntil([&] { return result.has_value(); }));
        return result.value_or(CKAccountStatus::couldNotDetermine);
    };
    ::unsetenv(kCloudURLVariable);
    EXPECT_EQ(status(), CKAccountStatus::noAccount);  // no cloud configured

    auto server = std::make_shared<CloudServer>();
    CloudDaemon daemon(server);
    ASSERT_GT(daemon.bind("127.0.0.1", 0), 0);
    daemon.start();
    ::setenv(kCloudURLVariable, daemon.url().c_str(), 1);
    ::setenv(kCloudUserVariable, "someone", 1);
    CKContainer::setDefaultContainer(nullptr);
    EXPECT_EQ(status(), CKAccountStatus::available);
    auto log = server->requestLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].userId, "someone");
    EXPECT_FALSE(log[0].deviceId.empty());  // an id kept for this installation
    CKContainer::setDefaultContainer(nullptr);
    daemon.stop();
}
