// Two containers talking HTTP to a loopback daemon, with real threads: the
// daemon's, and each transport's push poll.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
    save->modifyRecordsCompletionBlock = [&](auto& records, auto&, const OptionalError& e) {
        saved = !e && records.size() == 1;
    };
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

namespace {

// The status of one request sent over a plain socket to address:port, or 0.
int statusOf(const std::string& address, int port, const std::string& method, const std::string& path) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &to.sin_addr);
    int status = 0;
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof(to)) == 0) {
        std::string request = method + " " + path +
                              " HTTP/1.1\r\nHost: test\r\nContent-Length: 2\r\n"
                              "Connection: close\r\n\r\n{}";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
            char reply[64] = {};
            if (::recv(fd, reply, sizeof(reply) - 1, MSG_WAITALL) > 12) std::sscanf(reply, "HTTP/1.%*d %d", &status);
        }
    }
    if (fd >= 0) ::close(fd);
    return status;
}

// An IPv4 address of this machine other than loopback, when it has one.
std::optional<std::string> externalAddress() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return std::nullopt;
    std::optional<std::string> found;
    for (ifaddrs* i = list; i && !found; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof(text));
        if (!CloudDaemon::isLoopbackAddress(text)) found = text;
    }
    freeifaddrs(list);
    return found;
}

}  // namespace

// A port in use is an error with its cause; the second daemon must not share
// the port and split the clients between two databases.
TEST(CloudDaemon, APortInUseFailsToBindAndSaysWhy) {
    CloudDaemon first(std::make_shared<CloudServer>());
    int port = first.bind("127.0.0.1", 0);
    ASSERT_GT(port, 0);
    first.start();
    CloudDaemon second(std::make_shared<CloudServer>());
    EXPECT_EQ(second.bind("127.0.0.1", port), -1);
    EXPECT_EQ(second.bindError(), "Address already in use");
    CloudDaemon unresolvable(std::make_shared<CloudServer>());
    EXPECT_EQ(unresolvable.bind("no-such-host.invalid", 0), -1);
    EXPECT_EQ(unresolvable.bindError().rfind("cannot resolve \"no-such-host.invalid\": ", 0), 0u)
        << unresolvable.bindError();
    EXPECT_EQ(statusOf("127.0.0.1", port, "GET", "/health"), 200);
    first.stop();
}

TEST(CloudDaemon, LoopbackAddresses) {
    const std::pair<const char*, bool> cases[] = {
        {"127.0.0.1", true},  {"127.255.0.9", true}, {"::1", true}, {"::ffff:127.0.0.1", true},
        {"0.0.0.0", false},   {"192.0.2.2", false},  {"::", false}, {"::ffff:10.0.0.1", false},
        {"128.0.0.1", false}, {"localhost", false},  {"", false},   {"fe80::1", false},
    };
    for (const auto& [address, loopback] : cases)
        EXPECT_EQ(CloudDaemon::isLoopbackAddress(address), loopback) << address;
}

// Bound to every address, the daemon still keeps /admin to this machine.
TEST(CloudDaemon, AdminEndpointsAnswerOnlyOnLoopback) {
    CloudDaemon daemon(std::make_shared<CloudServer>());
    int port = daemon.bind("0.0.0.0", 0);
    ASSERT_GT(port, 0);
    daemon.start();
    EXPECT_EQ(statusOf("127.0.0.1", port, "POST", "/admin/hold"), 200);
    EXPECT_EQ(statusOf("127.0.0.1", port, "POST", "/admin/release"), 200);
    auto external = externalAddress();
    if (external) {
        EXPECT_EQ(statusOf(*external, port, "POST", "/admin/hold"), 403);
        EXPECT_EQ(statusOf(*external, port, "GET", "/admin/log"), 403);
        EXPECT_EQ(statusOf(*external, port, "GET", "/health"), 200);
    }
    daemon.stop();
    if (!external) GTEST_SKIP() << "no address other than loopback to connect from";
}
