#pragma once
// A channel group over a local ingestion server, on the manual clock, with a
// device tracker and SDK defaults of its own.

#include <gtest/gtest.h>

#include "ChannelTestSupport.h"
#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelGroupDefault.h"
#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelUnitDefault.h"
#include "DerAvedur/DerAvedur/Shared/Context/DAVDeviceTracker.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpClient.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVLogDBStorage.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"
#include "IngestionServer.h"
#include "Platform/Foundation/Directories.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/UserDefaults.h"

namespace DAVTest {

inline constexpr const char* kAppSecret = "5f1d3a9e-7c44-4b1f-9e2a-0c6b8d4e2f11";
inline constexpr const char* kInstallId = "0B1D7C1E-2C3A-4F3B-8D8E-6F1A2B3C4D5E";

class ChannelFixture : public ::testing::Test {
protected:
    void SetUp() override {
        executor = Foundation::TestExecutor::install();
        server = std::make_unique<IngestionServer>();
        client = std::make_shared<DAVHttpClient>();
        ingestion = std::make_shared<DAVDerAvedurIngestion>(client, server->url(), kInstallId);
        ingestion->setAppSecret(std::string(kAppSecret));
        databaseName = uniqueName("Logs") + ".sqlite";
        deviceTracker = std::make_shared<DAVDeviceTracker>();
        defaults = std::make_shared<DAVDerAvedurUserDefaults>(std::make_shared<Foundation::UserDefaults>(
            Foundation::temporaryDirectory() + "/" + uniqueName("Defaults") + ".plist"));
        group = makeGroup();
        delegate = std::make_shared<RecordingDelegate>();
        group->addDelegate(delegate);
    }

    // No transfer may still be on the wire when the executor goes: its
    // answer would arrive with no executor to take it.
    void TearDown() override {
        server->release();
        executor->runUntil([&] { return client->callsInProgress() == 0; });
    }

    // A group over the fixture's database file, as a new launch would make it.
    std::shared_ptr<DAVChannelGroupDefault> makeGroup() {
        store = std::make_shared<ScriptedStorage>(std::make_shared<DAVLogDBStorage>(databaseName));
        return std::make_shared<DAVChannelGroupDefault>(ingestion, store,
                                                        DAVChannelUnitDependencies{deviceTracker, defaults});
    }

    std::shared_ptr<DAVChannelUnitDefault> addUnit(const std::string& groupId, unsigned long flushInterval = 3,
                                                   std::size_t batchSize = 50, std::size_t pendingBatches = 3) {
        auto unit = group->addChannelUnitWithConfiguration(
            std::make_shared<DAVChannelUnitConfiguration>(groupId, 1, flushInterval, batchSize, pendingBatches));
        executor->drain();
        return std::dynamic_pointer_cast<DAVChannelUnitDefault>(unit);
    }

    void enqueue(const std::shared_ptr<DAVChannelUnitProtocol>& unit, int count, int first = 0) {
        for (int i = first; i < first + count; ++i) unit->enqueueItem(makeLog(i), DAVFlagsNormal);
        executor->drain();
    }

    // Runs queued work, and answers as they come back, until every batch of
    // the unit is answered.
    bool settle(const std::shared_ptr<DAVChannelUnitDefault>& unit) {
        return executor->runUntil([&] { return unit->pendingBatchIds().empty(); });
    }

    std::size_t storedLogs() { return store->countLogs(); }

    // The "index" property of every log of a Der Avedur request.
    static std::vector<int> indexes(const RecordedRequest& request) {
        std::vector<int> out;
        const nlohmann::json json = request.json();
        for (const auto& log : json.at("logs"))
            out.push_back(std::stoi(log.at("properties").at("index").get<std::string>()));
        return out;
    }

    std::unique_ptr<Foundation::TestExecutor> executor;
    std::unique_ptr<IngestionServer> server;
    std::shared_ptr<DAVHttpClient> client;
    std::shared_ptr<DAVDerAvedurIngestion> ingestion;
    std::string databaseName;
    std::shared_ptr<DAVDeviceTracker> deviceTracker;
    std::shared_ptr<DAVDerAvedurUserDefaults> defaults;
    std::shared_ptr<ScriptedStorage> store;
    std::shared_ptr<DAVChannelGroupDefault> group;
    std::shared_ptr<RecordingDelegate> delegate;
};

}  // namespace DAVTest
