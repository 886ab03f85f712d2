#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <numeric>
#include <set>
#include <thread>

#include "ChannelFixture.h"
#include "RawIngestionServer.h"
#include "DerAvedur/DerAvedur/DAVErrors.h"

namespace {

using DAVTest::ChannelFixture;

class ChannelUnit : public ChannelFixture {};

TEST_F(ChannelUnit, FiftiethLogLeavesAtOnceAndFewerLeaveThreeSecondsAfterTheLast) {
    auto unit = addUnit("Analytics");
    enqueue(unit, 49);
    EXPECT_TRUE(unit->pendingBatchIds().empty());
    EXPECT_TRUE(unit->isTimerRunning());

    server->hold();        // the batch stays in flight until checked
    enqueue(unit, 1, 49);  // no time passes
    EXPECT_EQ(unit->pendingBatchIds().size(), 1u);
    server->release();
    ASSERT_TRUE(settle(unit));
    auto requests = server->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/logs");
    EXPECT_EQ(indexes(requests[0]).size(), 50u);
    EXPECT_EQ(storedLogs(), 0u);
    EXPECT_EQ(delegate->count("succeeded"), 50u);

    // Each stored log restarts the 3-second wait.
    enqueue(unit, 5, 100);
    executor->advance(2);
    enqueue(unit, 5, 105);
    executor->advance(2.9);
    EXPECT_TRUE(unit->pendingBatchIds().empty());
    server->hold();  // the batch stays in flight until checked
    executor->advance(0.1);
    EXPECT_EQ(unit->pendingBatchIds().size(), 1u);
    server->release();
    ASSERT_TRUE(settle(unit));
    requests = server->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(indexes(requests[1]), (std::vector<int>{100, 101, 102, 103, 104, 105, 106, 107, 108, 109}));
}

// Three batches leave the unit at once, but one request is on the wire at a
// time: the next goes once the answer before it is recorded in the store, so
// a kill never leaves more than one batch the server may already have.
TEST_F(ChannelUnit, LongerIntervalSendsOnlyOnTheTimerAndKeepsThreeBatchesInFlight) {
    auto unit = addUnit("Analytics", 5);
    server->hold();
    enqueue(unit, 120);
    executor->advance(4.9);
    EXPECT_TRUE(unit->pendingBatchIds().empty());
    EXPECT_EQ(storedLogs(), 120u);

    executor->advance(0.1);
    EXPECT_EQ(unit->pendingBatchIds().size(), 3u);
    EXPECT_TRUE(unit->pendingBatchQueueFull());
    EXPECT_EQ(delegate->count("willSend"), 120u);
    ASSERT_TRUE(executor->runUntil([&] { return server->requestCount() == 1; }));
    EXPECT_EQ(client->callsInProgress(), 1u);
    server->release();
    ASSERT_TRUE(executor->runUntil([&] { return server->requestCount() == 3; }));
    std::multiset<std::size_t> sizes;
    std::set<int> all;
    for (const auto& request : server->requests()) {
        auto batch = indexes(request);
        sizes.insert(batch.size());
        all.insert(batch.begin(), batch.end());
    }
    EXPECT_EQ(sizes, (std::multiset<std::size_t>{20, 50, 50}));
    EXPECT_EQ(all.size(), 120u);

    server->release();
    ASSERT_TRUE(settle(unit));
    EXPECT_FALSE(unit->pendingBatchQueueFull());
    EXPECT_EQ(storedLogs(), 0u);
    EXPECT_EQ(server->requestCount(), 3u);
}

TEST_F(ChannelUnit, StartTimeOfALongIntervalSurvivesARestart) {
    auto unit = addUnit("Crashes", 60);
    enqueue(unit, 1, 0);
    const std::string key = unit->oldestPendingLogTimestampKey();
    EXPECT_EQ(key, "ChannelStartTimer:Crashes");
    ASSERT_TRUE(defaults->objectForKey(key).isDate());

    // Restart 40 seconds in: the next stored log waits the 20 seconds left.
    executor->advance(40);
    unit.reset();
    group = makeGroup();
    unit = addUnit("Crashes", 60);
    enqueue(unit, 1, 1);
    executor->advance(19.9);
    EXPECT_TRUE(unit->pendingBatchIds().empty());
    executor->advance(0.1);
    ASSERT_TRUE(settle(unit));
    ASSERT_EQ(server->requestCount(), 1u);
    EXPECT_EQ(indexes(server->requests()[0]), (std::vector<int>{0, 1}));
    EXPECT_TRUE(defaults->objectForKey(key).isNull());

    // A restart after the whole interval has passed sends the kept log at start.
    enqueue(unit, 1, 2);
    unit.reset();  // the old launch is gone, its timer with it
    group = makeGroup();
    executor->advance(61);
    server->hold();  // the batch stays in flight until checked
    unit = addUnit("Crashes", 60);
    EXPECT_EQ(unit->pendingBatchIds().size(), 1u);
    server->release();
    ASSERT_TRUE(settle(unit));
    EXPECT_EQ(indexes(server->requests()[1]), (std::vector<int>{2}));

    // A start time in the future is replaced by now and the full interval runs.
    const double now = Foundation::clock().now();
    defaults->setObject(Foundation::Value(Foundation::Date{now + 500}), key);
    enqueue(unit, 1, 4);
    EXPECT_EQ(defaults->objectForKey(key), Foundation::Value(Foundation::Date{now}));
    executor->advance(59.9);
    EXPECT_TRUE(unit->pendingBatchIds().empty());
    server->hold();  // the batch stays in flight until checked
    executor->advance(0.1);
    EXPECT_EQ(unit->pendingBatchIds().size(), 1u);
    server->release();
    ASSERT_TRUE(settle(unit));
}

// The unit reads the tracker and defaults it was given, never the shared ones.
TEST_F(ChannelUnit, StampsItsTrackersDeviceAndKeepsTheStartTimeInItsDefaults) {
    deviceTracker->setCountryCode(std::string("is"));
    auto unit = addUnit("Crashes", 60);
    auto log = DAVTest::makeLog(0);
    log->setDevice(nullptr);  // the unit stamps one
    unit->enqueueItem(log, DAVFlagsNormal);
    executor->drain();
    ASSERT_TRUE(log->device());
    EXPECT_EQ(log->device()->carrierCountry, std::optional<std::string>("is"));
    EXPECT_EQ(DAVDeviceTracker::sharedInstance()->countryCode(), std::nullopt);

    const std::string key = unit->oldestPendingLogTimestampKey();
    EXPECT_TRUE(defaults->objectForKey(key).isDate());
    EXPECT_TRUE(DAVDerAvedurUserDefaults::shared().objectForKey(key).isNull());
}

// The HTTP client does not retry on its own: a recoverable answer fails the
// batch at once, its logs stay stored and the unit's clock alone sends them again.
TEST_F(ChannelUnit, RecoverableAnswerIsTriedAgainOnTheUnitsClockOnly) {
    server->respondWith({503});
    auto unit = addUnit("Analytics");
    enqueue(unit, 50);
    ASSERT_TRUE(executor->runUntil([&] { return unit->retryBackoff().has_value(); }));
    EXPECT_EQ(client->callsWaitingForRetry(), 0u);
    EXPECT_EQ(delegate->count("failed"), 50u);
    EXPECT_EQ(storedLogs(), 50u);
    EXPECT_TRUE(unit->isEnabled());
    EXPECT_FALSE(unit->discardLogs());
    ASSERT_TRUE(unit->lastError());
    EXPECT_EQ(unit->lastError()->code, 503);
    executor->advance(DAVChannelUnitDefault::kFirstRetryBackoff - 1);
    EXPECT_EQ(server->requestCount(), 1u);
    executor->advance(1);
    ASSERT_TRUE(settle(unit));
    EXPECT_EQ(server->requestCount(), 2u);
    EXPECT_EQ(delegate->count("succeeded"), 50u);
    EXPECT_EQ(storedLogs(), 0u);
}

TEST_F(ChannelUnit, FatalAnswerDeletesTheGroupsLogsAndDisablesTheUnit) {
    server->respondWith({400});
    auto unit = addUnit("Analytics");
    enqueue(unit, 50);  // a batch of 50 leaves; 3 wait
    enqueue(unit, 3, 50);
    ASSERT_TRUE(executor->runUntil([&] { return unit->discardLogs(); }));
    EXPECT_FALSE(unit->isEnabled());
    EXPECT_EQ(storedLogs(), 0u);
    auto failures = delegate->events("failed");
    ASSERT_EQ(failures.size(), 53u);
    std::size_t deleted = 0;
    for (const auto& failure : failures)
        deleted += failure.error && failure.error->code == DAVCanceledErrorCode &&
                   failure.error->description == "Canceled, connection paused with log deletion.";
    EXPECT_EQ(deleted, 3u);  // the batch in flight is not reported twice
    EXPECT_EQ(delegate->count("willSend"), 53u);

    // Discard mode: a new log fails at once and is not stored.
    enqueue(unit, 1, 53);
    EXPECT_EQ(delegate->count("failed"), 54u);
    EXPECT_EQ(delegate->events("failed").back().error->code, DAVCanceledErrorCode);
    EXPECT_EQ(storedLogs(), 0u);
    EXPECT_EQ(server->requestCount(), 1u);
}

TEST_F(ChannelUnit, DisabledWithoutDeletionKeepsLogsUntilEnabled) {
    auto unit = addUnit("Analytics");
    unit->setEnabled(false, false);
    enqueue(unit, 60);
    executor->advance(10);
    EXPECT_EQ(storedLogs(), 60u);
    EXPECT_TRUE(unit->pendingBatchIds().empty());
    EXPECT_FALSE(unit->isTimerRunning());
    EXPECT_EQ(delegate->count("failed"), 0u);

    // Enabled again, the unit sends what the store holds, batch after batch.
    server->hold();  // the batch stays in flight until checked
    unit->setEnabled(true, false);
    executor->drain();
    EXPECT_EQ(unit->pendingBatchIds().size(), 2u);
    server->release();
    ASSERT_TRUE(settle(unit));
    EXPECT_EQ(storedLogs(), 0u);
    std::multiset<std::size_t> sizes;
    for (const auto& request : server->requests()) sizes.insert(request.logCount());
    EXPECT_EQ(sizes, (std::multiset<std::size_t>{10, 50}));
}

TEST_F(ChannelUnit, StaysPausedWhileAnyPauserHoldsIt) {
    auto unit = addUnit("Analytics");
    auto first = std::make_shared<int>(1);
    auto second = std::make_shared<int>(2);
    unit->pauseWithIdentifyingObject(first);
    unit->pauseWithIdentifyingObject(second);
    enqueue(unit, 50);
    EXPECT_TRUE(unit->isPaused());
    EXPECT_TRUE(unit->pendingBatchIds().empty());

    unit->resumeWithIdentifyingObject(first);
    executor->advance(5);
    EXPECT_TRUE(unit->isPaused());
    EXPECT_TRUE(unit->pendingBatchIds().empty());

    server->hold();  // the batch stays in flight until checked
    unit->resumeWithIdentifyingObject(second);
    executor->drain();
    EXPECT_FALSE(unit->isPaused());
    EXPECT_EQ(unit->pendingBatchIds().size(), 1u);
    server->release();
    ASSERT_TRUE(settle(unit));
    EXPECT_EQ(delegate->count("pause"), 2u);
    EXPECT_EQ(delegate->count("resume"), 2u);

    // A pauser that is gone no longer holds the unit.
    auto released = std::make_shared<int>(3);
    unit->pauseWithIdentifyingObject(released);
    unit->pauseWithIdentifyingObject(first);
    executor->drain();
    released.reset();
    unit->resumeWithIdentifyingObject(first);
    executor->drain();
    EXPECT_FALSE(unit->isPaused());
}

TEST_F(ChannelUnit, PauseThatRacesAQueuedFlushDoesNotStallTheUnit) {
    auto unit = addUnit("Analytics", 3, 50, 1);
    auto pauser = std::make_shared<int>(0);
    for (int i = 0; i < 50; ++i) unit->enqueueItem(DAVTest::makeLog(i), DAVFlagsNormal);
    group->pauseWithIdentifyingObject(pauser);  // the ingestion stops before the queued stores run
    executor->drain();
    EXPECT_TRUE(unit->pendingBatchIds().empty());
    EXPECT_FALSE(unit->pendingBatchQueueFull());
    auto failures = delegate->events("failed");
    ASSERT_EQ(failures.size(), 50u);
    EXPECT_EQ(failures[0].error->description, "Canceled, ingestion is disabled.");
    EXPECT_EQ(server->requestCount(), 0u);

    // The canceled logs stayed stored: after the resume they leave with the new ones.
    group->resumeWithIdentifyingObject(pauser);
    executor->drain();
    enqueue(unit, 50, 50);
    ASSERT_TRUE(settle(unit));
    std::set<int> sent;
    for (const auto& request : server->requests())
        for (int index : indexes(request)) sent.insert(index);
    EXPECT_EQ(sent.size(), 100u);
    EXPECT_EQ(storedLogs(), 0u);
}

TEST_F(ChannelUnit, RefusedSaveIsReportedAsAFailureBeforeSending) {
    auto unit = addUnit("Analytics");
    store->refuseSaves = true;
    enqueue(unit, 1);
    EXPECT_EQ(delegate->kinds(),
              (std::vector<std::string>{"prepare", "didPrepare", "filter?", "willSend", "failed", "complete"}));
    EXPECT_EQ(delegate->events("failed")[0].error->code, DAVLogNotStoredErrorCode);
    EXPECT_EQ(unit->itemsCount(), 0u);
    EXPECT_FALSE(unit->isTimerRunning());
}

TEST_F(ChannelUnit, IngestionWithoutAppSecretStoresNothing) {
    ingestion->setAppSecret(std::nullopt);
    auto unit = addUnit("Analytics");
    enqueue(unit, 1);
    EXPECT_EQ(delegate->kinds(), (std::vector<std::string>{"prepare", "didPrepare", "filter?", "complete"}));
    EXPECT_EQ(storedLogs(), 0u);
}

TEST_F(ChannelUnit, InvalidLogsReachNoDelegate) {
    auto unit = addUnit("Analytics");
    auto log = DAVTest::makeLog();
    log->setType(std::nullopt);
    unit->enqueueItem(log, DAVFlagsNormal);
    unit->enqueueItem(nullptr, DAVFlagsNormal);
    executor->drain();
    EXPECT_TRUE(delegate->events().empty());
    EXPECT_EQ(storedLogs(), 0u);
}

TEST_F(ChannelUnit, UnusableLimitsAreRefusedAndAnEmptyLoadEndsTheFlush) {
    for (auto [batch, pending] : {std::pair<std::size_t, std::size_t>{0, 3}, {50, 0}}) {
        EXPECT_EQ(group->addChannelUnitWithConfiguration(
                      std::make_shared<DAVChannelUnitConfiguration>("Analytics", 1, 3, batch, pending)),
                  nullptr);
    }
    EXPECT_TRUE(group->channels().empty());

    auto unit = addUnit("Analytics");
    store->emptyLoadsClaimMore = true;
    enqueue(unit, 50);
    EXPECT_EQ(store->loads, 1u);
    EXPECT_FALSE(unit->availableBatchFromStorage());
    EXPECT_EQ(server->requestCount(), 0u);
}

TEST_F(ChannelUnit, LogsOfAPausedTargetKeyWaitForItsResume) {
    auto unit = addUnit("Analytics/one");
    auto csLog = [](const std::string& token, const std::string& name) {
        auto log = std::make_shared<DAVCommonSchemaLog>();
        log->ver = "3.0";
        log->name = name;
        log->addTransmissionTargetToken(token);
        return log;
    };
    const std::string paused = "4f2c8a1b-token-secret";
    unit->pauseSendingLogsWithToken(paused);
    unit->enqueueItem(csLog(paused, "Vexil.Held"), DAVFlagsNormal);
    unit->enqueueItem(csLog("77aa0c3e-other-secret", "Vexil.Sent"), DAVFlagsNormal);
    executor->advance(3);
    ASSERT_TRUE(settle(unit));
    ASSERT_EQ(server->requestCount(), 1u);
    auto first = server->requests()[0].json().at("logs");
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].at("name"), "Vexil.Sent");
    EXPECT_EQ(storedLogs(), 1u);

    unit->resumeSendingLogsWithToken(paused);
    executor->advance(3);
    ASSERT_TRUE(settle(unit));
    ASSERT_EQ(server->requestCount(), 2u);
    EXPECT_EQ(server->requests()[1].json().at("logs")[0].at("name"), "Vexil.Held");
    EXPECT_EQ(storedLogs(), 0u);
}

// --- delivery -----------------------------------------------------------------------

TEST_F(ChannelUnit, LogsEnqueuedTogetherAreStoredByOneCommit) {
    auto unit = addUnit("Analytics", 60);
    for (int i = 0; i < 120; ++i) unit->enqueueItem(DAVTest::makeLog(i), DAVFlagsNormal);
    executor->drain();
    EXPECT_EQ(store->saveCalls, 1u);
    EXPECT_EQ(storedLogs(), 120u);
    EXPECT_EQ(delegate->count("complete"), 120u);
    // One more arrives on its own, and is stored on its own.
    enqueue(unit, 1, 120);
    EXPECT_EQ(store->saveCalls, 2u);
}

TEST_F(ChannelUnit, AnAnswerIsHandledWithoutWaitingForABacklogOfStores) {
    auto unit = addUnit("Analytics");
    server->hold();
    enqueue(unit, 50);
    ASSERT_EQ(unit->pendingBatchIds().size(), 1u);
    // A burst waits to be stored while the answer comes back.
    const int burst = 3 * static_cast<int>(DAVChannelUnitDefault::kMaxLogsPerCommit) + 10;
    for (int i = 50; i < 50 + burst; ++i) unit->enqueueItem(DAVTest::makeLog(i), DAVFlagsNormal);
    const std::size_t queued = executor->pendingCount();
    server->release();
    // Nothing runs until the answer waits on a queue too.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (executor->pendingCount() <= queued && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    ASSERT_GT(executor->pendingCount(), queued);
    std::size_t storedWhenAnswered = 0;
    ASSERT_TRUE(executor->runUntil([&] {
        if (delegate->count("succeeded") == 0) storedWhenAnswered = delegate->count("complete");
        return delegate->count("succeeded") > 0;
    }));
    // The answer waited for at most two store rounds, not for the whole burst.
    EXPECT_LE(storedWhenAnswered, 50 + 2 * DAVChannelUnitDefault::kMaxLogsPerCommit);
    ASSERT_TRUE(executor->runUntil([&] { return delegate->count("complete") == 50u + burst; }));
}

TEST_F(ChannelUnit, LogsKeptByAnEarlierRunAreSentAtStart) {
    {
        DAVLogDBStorage earlier(databaseName);
        for (int i = 0; i < 3; ++i) {
            auto log = DAVTest::makeLog(i);
            log->setTimestamp(Foundation::Date{Foundation::clock().now()});
            ASSERT_TRUE(earlier.saveLog(log, "Crashes", DAVFlagsNormal));
        }
    }
    group = makeGroup();
    auto unit = addUnit("Crashes");
    EXPECT_EQ(unit->itemsCount(), 3u);
    EXPECT_TRUE(unit->isTimerRunning());
    executor->advance(3);
    EXPECT_EQ(unit->pendingBatchIds().size(), 1u);
    ASSERT_TRUE(settle(unit));
    ASSERT_EQ(server->requestCount(), 1u);
    EXPECT_EQ(indexes(server->requests()[0]), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(storedLogs(), 0u);
}

TEST_F(ChannelUnit, LogsStoredWhileThePendingQueueIsFullLeaveWhenRoomComes) {
    auto unit = addUnit("Analytics", 3, 50, 1);
    server->hold();
    enqueue(unit, 50);
    ASSERT_TRUE(unit->pendingBatchQueueFull());
    enqueue(unit, 21, 50);
    executor->advance(3);  // their timer fires into the full queue
    EXPECT_EQ(unit->pendingBatchIds().size(), 1u);
    server->release();
    // No new log is tracked: the answer itself lets them go.
    ASSERT_TRUE(executor->runUntil([&] { return server->answeredCount() == 2 && unit->pendingBatchIds().empty(); }));
    ASSERT_EQ(server->requestCount(), 2u);
    EXPECT_EQ(server->requests()[1].logCount(), 21u);
    EXPECT_EQ(storedLogs(), 0u);
}

TEST_F(ChannelUnit, AfterALongOutageEverythingPendingLeavesWithinAMinute) {
    server->setDefaultStatus(503);
    auto unit = addUnit("Analytics", 3, 50, 3);
    enqueue(unit, 120);
    // 26 minutes of failures, one try per wait of the unit's clock.
    for (int second = 0; second < 26 * 60; second += 5) {
        executor->advance(5);
        ASSERT_TRUE(executor->runUntil([&] { return client->callsInProgress() == 0; }));
    }
    EXPECT_EQ(storedLogs(), 120u);
    EXPECT_LE(*unit->retryBackoff(), DAVChannelUnitDefault::kMaxRetryBackoff);
    const std::size_t before = server->requestCount();
    EXPECT_LE(before, 26u * 60u / 10u * 3u);

    // The outage is over; nothing else happens in the application.
    server->setDefaultStatus(200);
    executor->advance(DAVChannelUnitDefault::kMaxRetryBackoff);
    ASSERT_TRUE(executor->runUntil([&] { return storedLogs() == 0 && unit->pendingBatchIds().empty(); }));
    EXPECT_EQ(delegate->count("succeeded"), 120u);
    EXPECT_FALSE(unit->retryBackoff());
}

// A server that takes a batch's body and closes the connection without an
// answer may or may not have kept it: the batch is sent again, once, by the
// unit's clock, and never repeated by the HTTP client on its own (which
// libcurl would do when a reused connection dies).
TEST_F(ChannelUnit, ABatchWhoseConnectionClosesAfterItsBodyIsSentOnceMore) {
    using Action = DAVTest::RawIngestionServer::Action;
    DAVTest::RawIngestionServer raw;
    raw.script({Action::Answer, Action::Close, Action::Close, Action::Close});
    ingestion->setBaseURL(raw.url());
    auto unit = addUnit("Analytics");
    enqueue(unit, 50);  // answered, on a connection kept open for the next
    ASSERT_TRUE(settle(unit));
    enqueue(unit, 120, 50);  // three batches, each closed after its body
    ASSERT_TRUE(executor->runUntil([&] { return unit->pendingBatchIds().empty(); }));
    EXPECT_EQ(raw.requestCount(), 4u);
    EXPECT_EQ(storedLogs(), 120u);
    ASSERT_TRUE(unit->retryBackoff());
    executor->advance(*unit->retryBackoff());
    ASSERT_TRUE(executor->runUntil([&] { return storedLogs() == 0 && unit->pendingBatchIds().empty(); }));

    std::map<int, int> received;
    for (const auto& request : raw.requests())
        for (int index : indexes(request)) ++received[index];
    ASSERT_EQ(received.size(), 170u);
    for (const auto& [index, count] : received) EXPECT_EQ(count, index < 50 ? 1 : 2) << "log " << index;
    EXPECT_EQ(raw.requestCount(), 7u);
    EXPECT_EQ(delegate->count("succeeded"), 170u);
}

TEST_F(ChannelUnit, EachFailureInARowDoublesTheWaitUpToAMinute) {
    auto unit = addUnit("Analytics");
    ingestion->setEnabled(false, false);  // every send fails at once, recoverably
    enqueue(unit, 50);
    const std::vector<double> waits{10, 20, 40, 60, 60};
    for (std::size_t i = 0; i < waits.size(); ++i) {
        EXPECT_EQ(delegate->count("failed"), 50u * (i + 1));
        ASSERT_EQ(unit->retryBackoff(), std::optional<double>(waits[i]));
        executor->advance(waits[i]);
    }
    executor->advance(59);
    EXPECT_EQ(delegate->count("failed"), 300u);
    ingestion->setEnabled(true, false);
    executor->advance(1);
    ASSERT_TRUE(settle(unit));
    EXPECT_EQ(delegate->count("succeeded"), 50u);
    EXPECT_FALSE(unit->retryBackoff());
}

TEST_F(ChannelUnit, LogsEvictedUnderTheSizeLimitAreReportedAsFailures) {
    auto unit = addUnit("Analytics", 60);
    std::optional<bool> resized;
    group->setMaxStorageSize(40960, [&](bool success) { resized = success; });
    executor->drain();
    ASSERT_EQ(resized, std::optional<bool>(true));
    DAVTest::MessageRecorder recorder;
    for (int i = 0; i < 40; ++i) {
        auto log = DAVTest::makeLog(i);
        log->properties.set("padding", Foundation::Value(std::string(1500, 'p')));
        unit->enqueueItem(log, DAVFlagsNormal);
    }
    executor->drain();
    auto failures = delegate->events("failed");
    ASSERT_FALSE(failures.empty());
    for (const auto& failure : failures) {
        ASSERT_TRUE(failure.error);
        EXPECT_EQ(failure.error->code, DAVLogEvictedErrorCode);
    }
    EXPECT_EQ(delegate->count("willSend"), failures.size());
    // The oldest went first.
    EXPECT_EQ(std::dynamic_pointer_cast<DAVLogWithProperties>(failures[0].log)->properties["index"].asString(), "0");
    EXPECT_EQ(storedLogs() + failures.size(), 40u);
    std::size_t warnings = 0;
    for (const auto& message : recorder.messages())
        warnings +=
            message.level == DAVLogLevelWarning && message.text.rfind("Log storage was over capacity, ", 0) == 0;
    EXPECT_EQ(warnings, 1u);
}

}  // namespace

// --- nothing tracked is lost to a kill ---------------------------------------------

namespace {

// The queue of a process killed at once: what it is given never runs.
class KilledQueue : public Foundation::DispatchQueue {
public:
    void async(Foundation::Task) override {}
    void after(Foundation::TimeInterval, Foundation::Task) override {}
    void sync(Foundation::Task) override {}
    bool isCurrent() const override { return false; }
    const std::string& label() const override { return label_; }

private:
    std::string label_ = "killed";
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace

class ChannelUnitJournal : public DAVTest::ChannelFixture {
protected:
    // A unit of an earlier launch that tracks `count` logs and is killed
    // before its queue stores any of them.
    void trackAndKill(const std::string& groupId, int count, int first = 0) {
        auto killed = std::make_shared<DAVChannelUnitDefault>(
            ingestion, store, std::make_shared<DAVChannelUnitConfiguration>(groupId, 1, 3, 50, 3),
            std::make_shared<KilledQueue>(), DAVChannelUnitDependencies{deviceTracker, defaults});
        for (int i = first; i < first + count; ++i) killed->enqueueItem(DAVTest::makeLog(i), DAVFlagsNormal);
    }
    std::string journalPath(const std::string& groupId) { return *store->journalPathForGroupId(groupId); }
};

TEST_F(ChannelUnitJournal, LogsTrackedBeforeAKillAreStoredAndSentByTheNextLaunch) {
    trackAndKill("Analytics", 30);
    ASSERT_GT(std::filesystem::file_size(journalPath("Analytics")), 0u);
    EXPECT_EQ(storedLogs(), 0u);
    // The kill tore the record being written.
    const std::string torn = readFile(journalPath("Analytics")).substr(0, 40);
    std::ofstream(journalPath("Analytics"), std::ios::binary | std::ios::app) << torn;

    group = makeGroup();
    group->addDelegate(delegate);
    auto unit = addUnit("Analytics");
    EXPECT_EQ(storedLogs(), 30u);
    EXPECT_EQ(std::filesystem::file_size(journalPath("Analytics")), 0u);
    executor->advance(3);
    ASSERT_TRUE(settle(unit));
    std::vector<int> sent;
    for (const auto& request : server->requests())
        for (int index : indexes(request)) sent.push_back(index);
    std::sort(sent.begin(), sent.end());
    std::vector<int> expected(30);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(storedLogs(), 0u);
}

TEST_F(ChannelUnitJournal, RecordsAlreadyCommittedAreNotStoredTwice) {
    auto unit = addUnit("Analytics", 3600);
    for (int i = 0; i < 20; ++i) unit->enqueueItem(DAVTest::makeLog(i), DAVFlagsNormal);
    const std::string journal = readFile(journalPath("Analytics"));
    ASSERT_FALSE(journal.empty());
    executor->drain();
    EXPECT_EQ(storedLogs(), 20u);
    EXPECT_EQ(std::filesystem::file_size(journalPath("Analytics")), 0u);
    // Killed between the commit and emptying the journal; then 5 more are
    // tracked and killed before they are stored.
    writeFile(journalPath("Analytics"), journal);
    trackAndKill("Analytics", 5, 20);

    group = makeGroup();
    addUnit("Analytics", 3600);
    EXPECT_EQ(storedLogs(), 25u);
}

TEST_F(ChannelUnitJournal, EachGroupFoldsOnlyItsOwnJournal) {
    trackAndKill("Analytics", 4);
    trackAndKill("Analytics/one", 2);
    group = makeGroup();
    addUnit("Analytics", 3600);
    EXPECT_EQ(store->countLogsWithGroupId("Analytics"), 4u);
    EXPECT_EQ(store->countLogsWithGroupId("Analytics/one"), 0u);
    addUnit("Analytics/one", 3600);
    EXPECT_EQ(store->countLogsWithGroupId("Analytics/one"), 2u);
}

// A fatal answer deletes every log of the group: each one, in flight or
// stored, hears of its end exactly once.
TEST_F(ChannelUnit, AFatalAnswerReportsEveryDeletedLogInFlightBatchesIncluded) {
    server->respondWith({400});
    server->hold();
    auto unit = addUnit("Analytics");
    enqueue(unit, 150);  // three batches in flight, the first on the wire
    ASSERT_EQ(unit->pendingBatchIds().size(), 3u);
    ASSERT_TRUE(executor->runUntil([&] { return server->requestCount() == 1; }));
    enqueue(unit, 10, 150);  // stored, waiting
    server->release();
    ASSERT_TRUE(executor->runUntil([&] { return unit->discardLogs() && client->callsInProgress() == 0; }));
    executor->drain();
    std::map<const DAVLog*, int> ends;
    for (const auto& event : delegate->events())
        if (event.kind == "failed" || event.kind == "succeeded") ++ends[event.log.get()];
    EXPECT_EQ(ends.size(), 160u);
    for (const auto& [log, count] : ends) EXPECT_EQ(count, 1) << "a log heard of its end more than once";
    EXPECT_GE(delegate->count("failed"), 60u);
    EXPECT_EQ(storedLogs(), 0u);
    ASSERT_TRUE(unit->lastError());
    EXPECT_EQ(server->requestCount(), 1u);  // the batches behind the fatal answer never left
}
