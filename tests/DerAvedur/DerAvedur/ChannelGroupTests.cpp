#include "ChannelFixture.h"
#include "DerAvedur/DerAvedur/Internals/Channel/DAVRirIvovovozuChannelDelegate.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"

namespace {

using DAVTest::ChannelFixture;

class ChannelGroup : public ChannelFixture {};

TEST_F(ChannelGroup, FindsTheFirstUnitOfAGroupId) {
    auto first = addUnit("Analytics");
    auto second = addUnit("Analytics");
    addUnit("Analytics_critical");
    EXPECT_EQ(group->channelUnitForGroupId("Analytics"), first);
    EXPECT_NE(group->channelUnitForGroupId("Analytics"), second);
    EXPECT_EQ(group->channelUnitForGroupId("analytics"), nullptr);
    EXPECT_EQ(group->channelUnitForGroupId("Crashes"), nullptr);
}

TEST_F(ChannelGroup, DisablingWithDeletionReachesTheIngestionAndEveryUnit) {
    auto analytics = addUnit("Analytics");
    auto crashes = addUnit("Crashes");
    enqueue(analytics, 2);
    enqueue(crashes, 1, 2);

    group->setEnabled(false, true);
    EXPECT_FALSE(ingestion->isEnabled());
    executor->drain();
    auto events = delegate->events("setEnabled");
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].channel, static_cast<const DAVChannelProtocol*>(group.get()));
    EXPECT_EQ(events[1].channel, static_cast<const DAVChannelProtocol*>(analytics.get()));
    EXPECT_EQ(events[2].channel, static_cast<const DAVChannelProtocol*>(crashes.get()));
    for (const auto& event : events) EXPECT_TRUE(!event.enabled && event.deleteData);
    EXPECT_EQ(storedLogs(), 0u);
    EXPECT_EQ(delegate->count("failed"), 3u);
    EXPECT_TRUE(analytics->discardLogs() && crashes->discardLogs());

    group->setEnabled(true, false);
    executor->drain();
    EXPECT_TRUE(ingestion->isEnabled());
    EXPECT_TRUE(analytics->isEnabled() && !analytics->isPaused() && !analytics->discardLogs());
    enqueue(analytics, 50, 10);
    ASSERT_TRUE(settle(analytics));
    EXPECT_EQ(server->requestCount(), 1u);
}

TEST_F(ChannelGroup, TheFirstDelegateThatFiltersDecidesForEveryUnit) {
    auto second = std::make_shared<DAVTest::RecordingDelegate>();
    delegate->filter = [](const std::shared_ptr<DAVLog>& log) {
        return log->type() == std::optional<std::string>("colorPicked");
    };
    second->filter = delegate->filter;
    group->addDelegate(second);
    auto analytics = addUnit("Analytics");
    auto crashes = addUnit("Crashes");
    enqueue(analytics, 1);
    enqueue(crashes, 1, 1);
    EXPECT_EQ(storedLogs(), 0u);
    EXPECT_EQ(delegate->count("filter?"), 2u);
    EXPECT_EQ(second->count("filter?"), 0u);
    EXPECT_EQ(second->count("complete"), 2u);
    EXPECT_EQ(second->count("failed"), 0u);
}

TEST_F(ChannelGroup, StorageSizeIsAnsweredAfterEarlierQueuedWork) {
    auto unit = addUnit("Analytics");
    for (int i = 0; i < 3; ++i) unit->enqueueItem(DAVTest::makeLog(i), DAVFlagsNormal);
    std::optional<bool> answer;
    std::size_t storedWhenAnswered = 0;
    group->setMaxStorageSize(32768, [&](bool success) {
        answer = success;
        storedWhenAnswered = store->countLogs();
    });
    group->setMaxStorageSize(32768, nullptr);  // nobody to answer: no call
    EXPECT_FALSE(answer);
    executor->drain();
    EXPECT_EQ(answer, std::optional<bool>(true));
    EXPECT_EQ(storedWhenAnswered, 3u);
}

TEST_F(ChannelGroup, CollectorLogsTravelToTheirOwnEndpoint) {
    auto collector = std::make_shared<DAVRirIvovovozuChannelDelegate>(client, DAVTest::kInstallId, server->url());
    group->addDelegate(collector);
    auto analytics = addUnit("Analytics");
    auto companion = std::dynamic_pointer_cast<DAVChannelUnitDefault>(group->channelUnitForGroupId("Analytics/one"));
    ASSERT_TRUE(companion);
    EXPECT_EQ(collector->rirIvovovozuChannelUnitForGroupId("Analytics"), companion);

    const std::string token = "8d3e21f0a7c54e1b9f6a2d4c8b0e1f3a-7f0b2c1d-4e5f-6a7b-8c9d-0e1f2a3b4c5d-1234";
    analytics->enqueueItem(DAVTest::makeCollectorLog(token), DAVFlagsNormal);
    enqueue(analytics, 1, 9);
    executor->advance(3);
    ASSERT_TRUE(executor->runUntil(
        [&] { return analytics->pendingBatchIds().empty() && companion->pendingBatchIds().empty(); }));

    auto requests = server->requests();
    ASSERT_EQ(requests.size(), 2u);
    const auto& logs = requests[0].path == "/logs" ? requests[0] : requests[1];
    const auto& lines = requests[0].path == "/logs" ? requests[1] : requests[0];
    EXPECT_EQ(indexes(logs), std::vector<int>{9});  // the collector's log stays out of "/logs"

    EXPECT_EQ(lines.path, "/RirIvovovozu/1.0");
    EXPECT_EQ(lines.query, "");
    EXPECT_EQ(lines.header("apikey"), token);
    EXPECT_EQ(lines.header("Content-Type"), "application/x-json-stream; charset=utf-8");
    EXPECT_EQ(lines.header("Client-Version"), "ACS-iOS-ObjectiveC-no-4.1.1-no");
    EXPECT_EQ(lines.header("Upload-Time"), std::to_string(static_cast<long long>(DAVUtility::nowInMilliseconds())));
    EXPECT_FALSE(lines.header("App-Secret"));
    ASSERT_EQ(lines.body.back(), '\n');
    auto line = nlohmann::json::parse(lines.body.substr(0, lines.body.size() - 1));
    EXPECT_EQ(line.at("name"), "Vexil.ColorPicked");
    EXPECT_EQ(line.at("iKey"), "o:8d3e21f0a7c54e1b9f6a2d4c8b0e1f3a");
    EXPECT_EQ(line.at("ext").at("sdk").at("seq"), 1);
    EXPECT_EQ(line.at("data").at("colour"), "#FF8800");
    EXPECT_EQ(lines.body.find(token), std::string::npos);

    // The companion follows its unit.
    analytics->setEnabled(false, true);
    executor->drain();
    EXPECT_FALSE(companion->isEnabled());
    EXPECT_TRUE(companion->discardLogs());
}

}  // namespace
