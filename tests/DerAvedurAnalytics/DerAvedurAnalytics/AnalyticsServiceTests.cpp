// The analytics service end to end: the SDK entry configured against a local
// ingestion server, on the manual clock.

#include <thread>

#include <gtest/gtest.h>

#include "DerAvedur/DerAvedur/ChannelTestSupport.h"
#include "DerAvedur/DerAvedur/DAVDerAvedur.h"
#include "DerAvedur/DerAvedur/IngestionServer.h"
#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelGroupDefault.h"
#include "DerAvedur/DerAvedur/Shared/Context/DAVSessionContext.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVDependencyConfiguration.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpClient.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVCommonSchemaLog.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/DAVAnalytics.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVEventLog.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVPageLog.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVStartSessionLog.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Session/DAVAnalyticsCategory.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Text.h"
#include "Platform/Foundation/UserDefaults.h"

namespace {

constexpr const char* kAppSecret = "5f1d3a9e-7c44-4b1f-9e2a-0c6b8d4e2f11";
constexpr const char* kTargetToken = "vexiltenant-2a9b7c1d0e";

using Json = nlohmann::json;

// What the application delegate hears, from the group's queue.
class RecordingAnalyticsDelegate : public DAVAnalyticsDelegate {
public:
    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> guard(lock_);
        return calls_;
    }
    void analyticsWillSendEventLog(DAVAnalytics&, const std::shared_ptr<DAVEventLog>& log) override {
        record("willSendEvent " + log->name.value_or(""));
    }
    void analyticsWillSendPageLog(DAVAnalytics&, const std::shared_ptr<DAVPageLog>& log) override {
        record("willSendPage " + log->name.value_or(""));
    }
    void analyticsDidSucceedSendingEventLog(DAVAnalytics&, const std::shared_ptr<DAVEventLog>& log) override {
        record("succeededEvent " + log->name.value_or(""));
    }
    void analyticsDidSucceedSendingPageLog(DAVAnalytics&, const std::shared_ptr<DAVPageLog>& log) override {
        record("succeededPage " + log->name.value_or(""));
    }
    void analyticsDidFailSendingEventLog(DAVAnalytics&, const std::shared_ptr<DAVEventLog>& log,
                                         const std::optional<Foundation::Error>&) override {
        record("failedEvent " + log->name.value_or(""));
    }
    void analyticsDidFailSendingPageLog(DAVAnalytics&, const std::shared_ptr<DAVPageLog>& log,
                                        const std::optional<Foundation::Error>&) override {
        record("failedPage " + log->name.value_or(""));
    }

private:
    void record(std::string call) {
        std::lock_guard<std::mutex> guard(lock_);
        calls_.push_back(std::move(call));
    }
    mutable std::mutex lock_;
    std::vector<std::string> calls_;
};

class AnalyticsService : public ::testing::Test {
protected:
    void SetUp() override {
        resetEverything();
        DAVDependencyConfiguration::setHttpClient(client);
        DAVDerAvedur::setLogUrl(server->url());
    }
    void TearDown() override {
        server->release();
        executor->runUntil([&] { return client->callsInProgress() == 0; });
        resetEverything();
        DAVDependencyConfiguration::setHttpClient(nullptr);
    }

    // When the suite runs in one process, each test starts from nothing.
    static void resetEverything() {
        DAVAnalytics::resetSharedInstance();
        DAVDerAvedur::resetSharedInstance();
        DAVSessionContext::resetSharedInstance();
        DAVAnalyticsCategory::setMissedPageViewName("");
        DAVUtility::deleteItemForPathComponent(std::string("Logs.sqlite"));
        auto& defaults = Foundation::UserDefaults::standard();
        for (const auto& key : defaults.persistentDomain().keys())
            if (key.rfind("DAVDerAvedur", 0) == 0) defaults.removeObjectForKey(key);
    }

    void start() {
        DAVDerAvedur::configureWithAppSecret(std::string(kAppSecret));
        DAVDerAvedur::startService(DAVAnalytics::serviceClass());
        group()->addDelegate(recorder);
        executor->drain();
    }

    std::shared_ptr<DAVChannelGroupDefault> group() {
        return std::dynamic_pointer_cast<DAVChannelGroupDefault>(DAVDerAvedur::sharedInstance()->channelGroup());
    }
    std::shared_ptr<DAVAnalytics> analytics() { return DAVAnalytics::sharedInstance(); }

    // Lets the units' timers fire and waits until `requests` have been answered.
    void sendAndSettle(std::size_t requests, double seconds = 3) {
        executor->advance(seconds);
        ASSERT_TRUE(
            executor->runUntil([&] { return server->answeredCount() >= requests && client->callsInProgress() == 0; }));
        executor->drain();
    }

    // Every log that reached "/logs", in the order sent.
    std::vector<Json> sentLogs() const {
        std::vector<Json> logs;
        for (const auto& request : server->requests())
            if (request.path == "/logs") {
                const Json body = request.json();
                for (const auto& log : body.at("logs")) logs.push_back(log);
            }
        return logs;
    }

    // The stored logs of one group, in the order stored.
    std::vector<std::shared_ptr<DAVLog>> stored(const std::string& groupId) {
        std::vector<std::shared_ptr<DAVLog>> logs;
        group()->storage()->loadLogsWithGroupId(groupId, 1000, std::nullopt,
                                                [&](const auto& loaded, const auto&) { logs = loaded; });
        return logs;
    }

    // Names of the analytics logs the units completed enqueueing, by unit group id.
    std::vector<std::pair<std::string, std::string>> enqueued() {
        std::vector<std::pair<std::string, std::string>> out;
        for (const auto& event : recorder->events("complete")) {
            auto named = std::dynamic_pointer_cast<DAVLogWithNameAndProperties>(event.log);
            if (!named) continue;
            std::string unit;
            for (const auto& channel : group()->channels())
                if (channel.get() == event.channel) unit = channel->configuration()->groupId();
            out.emplace_back(unit, named->name.value_or(""));
        }
        return out;
    }

    std::unique_ptr<Foundation::TestExecutor> executor = Foundation::TestExecutor::install();
    std::unique_ptr<DAVTest::IngestionServer> server = std::make_unique<DAVTest::IngestionServer>();
    std::shared_ptr<DAVHttpClient> client = std::make_shared<DAVHttpClient>();
    std::shared_ptr<DAVTest::RecordingDelegate> recorder = std::make_shared<DAVTest::RecordingDelegate>();
    DAVTest::MessageRecorder messages;
};

TEST_F(AnalyticsService, AnEventReachesTheIngestionAboutThreeSecondsLaterWithItsSession) {
    start();
    DAVAnalytics::trackEvent("Color Picked", Foundation::Dictionary{{"format", "hex"}});
    executor->drain();

    executor->advance(2.9);
    EXPECT_EQ(server->requestCount(), 0u);
    // The core unit's start-service log and the analytics unit's batch.
    sendAndSettle(2, 0.1);

    const auto requests = server->requests();
    for (const auto& request : requests) {
        EXPECT_EQ(request.path, "/logs");
        EXPECT_EQ(request.query, "api-version=1.0.0");
        EXPECT_EQ(request.header("App-Secret"), std::optional<std::string>(kAppSecret));
    }
    const std::vector<Json> logs = sentLogs();
    const auto session = analytics()->sessionTracker()->sessionId();
    ASSERT_TRUE(session);
    std::vector<std::string> types;
    for (const auto& log : logs) types.push_back(log.at("type"));
    EXPECT_EQ(std::count(types.begin(), types.end(), "startService"), 1);

    auto startSession = std::find(types.begin(), types.end(), "startSession");
    auto event = std::find(types.begin(), types.end(), "event");
    ASSERT_NE(event, types.end());
    ASSERT_LT(startSession, event);  // the session is opened first, in the same batch
    const Json& sentEvent = logs[event - types.begin()];
    EXPECT_EQ(sentEvent.at("name"), "Color Picked");
    EXPECT_TRUE(Foundation::isUUIDString(sentEvent.at("id").get<std::string>()));
    EXPECT_EQ(sentEvent.at("sid"), *session);
    EXPECT_EQ(logs[startSession - types.begin()].at("sid"), *session);
    EXPECT_EQ(sentEvent.at("typedProperties"), Json::parse(R"([{"type":"string","name":"format","value":"hex"}])"));
    EXPECT_EQ(sentEvent.at("device").at("sdkName"), "deravedur.macos");
    EXPECT_EQ(sentEvent.at("device").at("appNamespace"), "com.tarnwick.vexil");
    // The start-service log carries the no-session marker.
    EXPECT_FALSE(logs[std::find(types.begin(), types.end(), "startService") - types.begin()].contains("sid"));
    // Answered 200: nothing is left in the store.
    EXPECT_EQ(group()->storage()->countLogs(), 0u);
}

TEST_F(AnalyticsService, NamesAndPropertiesAreCutOrRefusedBeforeStorage) {
    start();
    auto properties = std::make_shared<DAVEventProperties>();
    for (int i = 0; i < 21; ++i) properties->setString(std::string(126, 'v'), "k" + std::to_string(i));
    DAVAnalytics::trackEventWithTypedProperties(std::string(257, 'n'), properties);
    DAVAnalytics::trackEvent("");
    DAVAnalytics::trackPage("", Foundation::Dictionary{{"folder", "History"}});
    executor->drain();

    auto logs = stored("Analytics");
    ASSERT_EQ(logs.size(), 2u);  // the start-session log and the long-named event
    auto event = std::dynamic_pointer_cast<DAVEventLog>(logs[1]);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->name, std::string(256, 'n'));
    ASSERT_TRUE(event->typedProperties);
    EXPECT_EQ(event->typedProperties->count(), 20u);
    auto first = std::dynamic_pointer_cast<DAVStringTypedProperty>(event->typedProperties->properties()[0]);
    EXPECT_EQ(first->value, std::string(124, 'v'));
    EXPECT_EQ(messages.count("Typed properties cannot contain more than 20 items. Skipping other properties."), 1u);
    EXPECT_TRUE(messages.contains(DAVLogLevelError, "event name cannot be null or empty"));
    EXPECT_TRUE(messages.contains(DAVLogLevelError, "page name cannot be null or empty"));
    // Filtered logs fail nothing: they are simply not kept.
    EXPECT_EQ(recorder->count("failed"), 0u);
}

TEST_F(AnalyticsService, EventsOfATransmissionTargetAreNotLimitedByTheIngestionRules) {
    start();
    auto target = DAVAnalytics::transmissionTargetForToken(kTargetToken);
    ASSERT_TRUE(target);
    EXPECT_EQ(DAVAnalytics::transmissionTargetForToken(kTargetToken), target);
    auto properties = std::make_shared<DAVEventProperties>();
    for (int i = 0; i < 21; ++i) properties->setString("v", "k" + std::to_string(i));
    properties->setInt64(7, std::string(126, 'k'));
    target->trackEventWithTypedProperties("Vexil.ColorPicked", properties);
    executor->drain();

    // Kept out of the ingestion service's unit; mirrored whole to the collector's.
    EXPECT_TRUE(stored("Analytics").size() == 1u);  // the start-session log only
    auto mirrored = stored("Analytics/one");
    ASSERT_EQ(mirrored.size(), 1u);
    auto csLog = std::dynamic_pointer_cast<DAVCommonSchemaLog>(mirrored[0]);
    ASSERT_TRUE(csLog && csLog->data);
    EXPECT_EQ(csLog->name, "Vexil.ColorPicked");
    EXPECT_EQ(csLog->iKey, "o:vexiltenant");
    EXPECT_EQ(csLog->data->properties.size(), 22u);
    EXPECT_EQ(csLog->data->properties.at(std::string(126, 'k')), 7);

    // A disabled target drops its events with an error.
    target->setEnabled(false);
    target->trackEvent("Vexil.Other");
    executor->drain();
    EXPECT_TRUE(messages.contains(DAVLogLevelError, "This transmission target is disabled."));
    EXPECT_EQ(stored("Analytics/one").size(), 0u);  // the earlier one is handed out already
}

TEST_F(AnalyticsService, AStartTokenMakesTheDefaultTargetThatCarriesTheUserId) {
    DAVDerAvedur::configureWithAppSecret("appsecret=" + std::string(kAppSecret) + ";target=" + kTargetToken);
    DAVDerAvedur::startService(DAVAnalytics::serviceClass());
    executor->drain();
    ASSERT_TRUE(analytics()->defaultTransmissionTarget());
    EXPECT_EQ(analytics()->defaultTransmissionTarget()->transmissionTargetToken(), kTargetToken);
    EXPECT_TRUE(analytics()->transmissionTargets().empty());  // the default one is not registered

    DAVDerAvedur::setUserId("alice");
    DAVAnalytics::trackEvent("Vexil.ColorPicked");
    executor->drain();
    EXPECT_EQ(stored("Analytics").size(), 1u);  // the start-session log only
    auto mirrored = stored("Analytics/one");
    ASSERT_EQ(mirrored.size(), 1u);
    auto csLog = std::dynamic_pointer_cast<DAVCommonSchemaLog>(mirrored[0]);
    ASSERT_TRUE(csLog && csLog->ext && csLog->ext->userExt);
    EXPECT_EQ(csLog->ext->userExt->localId, "c:alice");
}

TEST_F(AnalyticsService, InvalidFlagsWarnAndGoNormalAndCriticalFlagsUseTheCriticalUnit) {
    start();
    DAVAnalytics::trackEvent("zero", std::nullopt, 0);
    DAVAnalytics::trackEvent("three", std::nullopt, 3);
    DAVAnalytics::trackEvent("critical", std::nullopt, DAVFlagsCritical);
    DAVAnalytics::trackEvent("normal", std::nullopt, DAVFlagsNormal);
    executor->drain();

    EXPECT_TRUE(messages.contains(DAVLogLevelWarning, "Invalid flags (0) received, using normal as a default."));
    EXPECT_TRUE(messages.contains(DAVLogLevelWarning, "Invalid flags (3) received, using normal as a default."));
    // Each unit keeps the order of its own logs.
    using Entry = std::pair<std::string, std::string>;
    std::vector<Entry> normal, critical;
    for (const auto& entry : enqueued()) (entry.first == "Analytics" ? normal : critical).push_back(entry);
    EXPECT_EQ(normal, (std::vector<Entry>{{"Analytics", "zero"}, {"Analytics", "three"}, {"Analytics", "normal"}}));
    EXPECT_EQ(critical, (std::vector<Entry>{{"Analytics_critical", "critical"}}));
    auto criticalLogs = stored("Analytics_critical");
    ASSERT_EQ(criticalLogs.size(), 1u);
    EXPECT_EQ(std::dynamic_pointer_cast<DAVEventLog>(criticalLogs[0])->name, "critical");
    EXPECT_EQ(stored("Analytics").size(), 4u);  // with the start-session log
}

TEST_F(AnalyticsService, TheTransmissionIntervalIsCheckedAndFixedAtStart) {
    DAVAnalytics::setTransmissionInterval(2);
    DAVAnalytics::setTransmissionInterval(86401);
    EXPECT_EQ(DAVAnalytics::transmissionInterval(), 3u);
    EXPECT_EQ(messages.count("The transmission interval is not valid, it should be between 3 second(s) and "
                             "86400 second(s) (1 day)."),
              2u);
    DAVAnalytics::setTransmissionInterval(86400);
    EXPECT_EQ(DAVAnalytics::transmissionInterval(), 86400u);
    EXPECT_TRUE(messages.contains(DAVLogLevelDebug, "Transmission interval set to 86400 second(s)"));

    start();
    EXPECT_EQ(analytics()->channelUnit()->configuration()->flushInterval(), 86400u);
    EXPECT_EQ(analytics()->criticalChannelUnit()->configuration()->flushInterval(), 3u);
    DAVAnalytics::setTransmissionInterval(60);
    EXPECT_EQ(DAVAnalytics::transmissionInterval(), 86400u);
    EXPECT_TRUE(messages.contains(
        DAVLogLevelError, "The transmission interval should be set before the DAVAnalytics service is started."));
}

TEST_F(AnalyticsService, DisablingEmptiesBothUnitsStopsTheSessionAndTracksNothing) {
    start();
    DAVAnalytics::trackEvent("normal");
    DAVAnalytics::trackEvent("critical", std::nullopt, DAVFlagsCritical);
    executor->drain();
    const auto firstSession = analytics()->sessionTracker()->sessionId();

    DAVAnalytics::setEnabled(false);
    executor->drain();
    EXPECT_FALSE(DAVAnalytics::isEnabled());
    EXPECT_TRUE(stored("Analytics").empty());
    EXPECT_TRUE(stored("Analytics_critical").empty());
    // Each deleted log is reported failed as cancelled.
    std::size_t cancelled = 0;
    for (const auto& event : recorder->events("failed"))
        cancelled += event.error && event.error->code == DAVCanceledErrorCode;
    EXPECT_EQ(cancelled, 3u);
    EXPECT_FALSE(analytics()->sessionTracker()->isStarted());
    EXPECT_TRUE(DAVSessionContext::sharedInstance()->sessionHistory().empty());

    DAVAnalytics::trackEvent("while disabled");
    executor->drain();
    EXPECT_TRUE(stored("Analytics").empty());

    // Enabled again: a new session opens and events are kept again.
    DAVAnalytics::setEnabled(true);
    DAVAnalytics::trackEvent("again");
    executor->drain();
    auto logs = stored("Analytics");
    ASSERT_EQ(logs.size(), 2u);
    EXPECT_TRUE(std::dynamic_pointer_cast<DAVStartSessionLog>(logs[0]));
    EXPECT_NE(logs[0]->sid(), firstSession);
    EXPECT_EQ(logs[1]->sid(), logs[0]->sid());
}

TEST_F(AnalyticsService, TheDelegateHearsOfEventsAndPagesOnFailureAndOnSuccess) {
    start();
    auto delegate = std::make_shared<RecordingAnalyticsDelegate>();
    DAVAnalytics::setDelegate(delegate);
    server->setDefaultStatus(500);
    DAVAnalytics::trackEvent("Color Picked");
    DAVAnalytics::trackPage("Library");
    executor->drain();
    // Both batches (the core unit's and ours) fail at once: the units, not
    // the HTTP client, try them again later.
    executor->advance(3);
    ASSERT_TRUE(executor->runUntil([&] { return server->answeredCount() == 2 && client->callsInProgress() == 0; }));
    executor->drain();
    EXPECT_EQ(delegate->calls(), (std::vector<std::string>{"willSendEvent Color Picked", "willSendPage Library",
                                                           "failedEvent Color Picked", "failedPage Library"}));

    // 500 is worth retrying: the logs stay stored, the start-service and
    // start-session logs too, and leave with the next flush of this launch.
    EXPECT_EQ(group()->storage()->countLogs(), 4u);
    server->setDefaultStatus(200);
    DAVAnalytics::trackEvent("Show Magnifier");
    executor->drain();
    sendAndSettle(4, 10);  // the core unit tries its batch again after 10 s
    EXPECT_EQ(delegate->calls(), (std::vector<std::string>{
                                     "willSendEvent Color Picked", "willSendPage Library", "failedEvent Color Picked",
                                     "failedPage Library", "willSendEvent Color Picked", "willSendPage Library",
                                     "willSendEvent Show Magnifier", "succeededEvent Color Picked",
                                     "succeededPage Library", "succeededEvent Show Magnifier"}));
}

TEST_F(AnalyticsService, APausedServiceKeepsItsLogsUntilResumed) {
    start();
    DAVAnalytics::pause();
    DAVAnalytics::trackEvent("Color Picked");
    executor->drain();
    sendAndSettle(1, 10);  // only the core unit sends
    EXPECT_EQ(sentLogs().size(), 1u);

    DAVAnalytics::resume();
    executor->drain();
    sendAndSettle(2);
    EXPECT_EQ(sentLogs().size(), 3u);
}

TEST_F(AnalyticsService, ANewSessionOpensAfterTwentySecondsInTheBackground) {
    start();
    DAVAnalytics::trackEvent("before");
    Foundation::NotificationCenter::defaultCenter().post(kDAVApplicationDidEnterBackgroundNotification);
    executor->advance(25);
    Foundation::NotificationCenter::defaultCenter().post(kDAVApplicationWillEnterForegroundNotification);
    DAVAnalytics::trackEvent("after");
    executor->drain();

    // Sent at 3 s: start session, "before"; sent later: start session, "after".
    ASSERT_TRUE(executor->runUntil([&] { return server->answeredCount() >= 2 && client->callsInProgress() == 0; }));
    sendAndSettle(3);
    std::vector<std::pair<std::string, std::string>> seen;  // type or name, session
    for (const auto& log : sentLogs())
        if (log.at("type") != "startService")
            seen.emplace_back(log.contains("name") ? log.at("name") : log.at("type"), log.value("sid", ""));
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].first, "startSession");
    EXPECT_EQ(seen[1], std::make_pair(std::string("before"), seen[0].second));
    EXPECT_EQ(seen[2].first, "startSession");
    EXPECT_EQ(seen[3], std::make_pair(std::string("after"), seen[2].second));
    EXPECT_NE(seen[0].second, seen[2].second);
}

TEST_F(AnalyticsService, AutomaticPageTrackingReplaysTheMissedPageOnce) {
    DAVAnalytics::setAutoPageTrackingEnabled(true);
    DAVAnalyticsCategory::setMissedPageViewName("Library");
    start();
    auto logs = stored("Analytics");
    ASSERT_EQ(logs.size(), 2u);
    auto page = std::dynamic_pointer_cast<DAVPageLog>(logs[1]);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->name, "Library");
}

// Tracking from several threads while the application comes and goes: every
// event is kept, stamped with a session whose start-session log was stored
// before it.
TEST_F(AnalyticsService, ConcurrentTrackingAndSessionChangesKeepEverySessionOpenedFirst) {
    DAVAnalytics::setTransmissionInterval(86400);  // keep everything in the store
    start();
    constexpr int kRounds = 3, kThreads = 4, kEvents = 25;
    for (int round = 0; round < kRounds; ++round) {
        Foundation::NotificationCenter::defaultCenter().post(kDAVApplicationDidEnterBackgroundNotification);
        executor->advance(21);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([t] {
                for (int i = 0; i < kEvents; ++i)
                    DAVAnalytics::trackEvent("e", Foundation::Dictionary{{"n", std::to_string(t * 100 + i)}},
                                             i % 5 == 0 ? DAVFlagsCritical : DAVFlagsNormal);
            });
        threads.emplace_back([] {
            Foundation::NotificationCenter::defaultCenter().post(kDAVApplicationWillEnterForegroundNotification);
        });
        for (auto& thread : threads) thread.join();
        executor->drain();
    }

    std::set<std::string> opened;
    std::size_t events = 0;
    for (const auto& log : stored("Analytics")) {
        ASSERT_TRUE(log->sid());
        if (std::dynamic_pointer_cast<DAVStartSessionLog>(log)) {
            opened.insert(*log->sid());
        } else {
            ++events;
            EXPECT_TRUE(opened.count(*log->sid())) << "a log of a session not yet opened";
        }
    }
    EXPECT_EQ(opened.size(), static_cast<std::size_t>(kRounds + 1));
    // The critical unit keeps its 3-second interval: part of its logs left already.
    ASSERT_TRUE(executor->runUntil([&] { return client->callsInProgress() == 0; }));
    executor->drain();
    for (const auto& log : stored("Analytics_critical")) {
        ++events;
        EXPECT_TRUE(opened.count(log->sid().value_or("")));
    }
    for (const auto& log : sentLogs()) {
        if (log.at("type") != "event") continue;
        ++events;
        EXPECT_TRUE(opened.count(log.value("sid", "")));
    }
    EXPECT_EQ(events, static_cast<std::size_t>(kRounds * kThreads * kEvents));
}

}  // namespace
