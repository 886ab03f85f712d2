#include <gtest/gtest.h>

#include "ChannelTestSupport.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpClient.h"
#include "DerAvedur/DerAvedur/Internals/Ingestion/DAVDerAvedurIngestion.h"
#include "DerAvedur/DerAvedur/Internals/Ingestion/DAVRirIvovovozuIngestion.h"
#include "DerAvedur/DerAvedur/Internals/Ingestion/DAVTicketCache.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "IngestionServer.h"
#include "Platform/Foundation/Dispatch.h"

namespace {

constexpr const char* kSecret = "5f1d3a9e-7c44-4b1f-9e2a-0c6b8d4e2f11";
constexpr const char* kInstallId = "0B1D7C1E-2C3A-4F3B-8D8E-6F1A2B3C4D5E";

struct Completion {
    std::string callId;
    std::optional<DAVHttpResponse> response;
    std::optional<Foundation::Error> error;
};

std::shared_ptr<DAVLogContainer> container(int count, const std::string& batchId = "batch-1") {
    std::vector<std::shared_ptr<DAVLog>> logs;
    for (int i = 0; i < count; ++i) {
        auto log = DAVTest::makeLog(i);
        log->setTimestamp(Foundation::Date{1700000000.0 + i});
        logs.push_back(log);
    }
    return std::make_shared<DAVLogContainer>(batchId, logs);
}

std::shared_ptr<DAVCommonSchemaLog> csLog(const std::string& token, std::vector<std::string> ticketKeys = {}) {
    auto log = std::make_shared<DAVCommonSchemaLog>();
    log->ver = "3.0";
    log->name = "Vexil.ColorPicked";
    log->setTimestamp(Foundation::Date{1700000000.0});
    log->addTransmissionTargetToken(token);
    log->ext = std::make_shared<DAVCSExtensions>();
    log->ext->protocolExt = std::make_shared<DAVProtocolExtension>();
    if (!ticketKeys.empty()) log->ext->protocolExt->ticketKeys = ticketKeys;
    return log;
}

class Ingestion : public ::testing::Test {
protected:
    void TearDown() override {
        server->release();
        executor->runUntil([&] { return client->callsInProgress() == 0; });
        DAVTicketCache::sharedInstance().clearCache();
    }

    DAVSendAsyncCompletionHandler record() {
        return [this](const std::string& callId, const std::optional<DAVHttpResponse>& response,
                      const std::optional<Foundation::Data>&, const std::optional<Foundation::Error>& error) {
            completions.push_back({callId, response, error});
        };
    }

    std::shared_ptr<DAVDerAvedurIngestion> derAvedurIngestion() {
        auto ingestion = std::make_shared<DAVDerAvedurIngestion>(client, server->url(), kInstallId);
        ingestion->setAppSecret(std::string(kSecret));
        return ingestion;
    }

    std::unique_ptr<Foundation::TestExecutor> executor = Foundation::TestExecutor::install();
    std::unique_ptr<DAVTest::IngestionServer> server = std::make_unique<DAVTest::IngestionServer>();
    std::shared_ptr<DAVHttpClient> client = std::make_shared<DAVHttpClient>();
    std::vector<Completion> completions;
};

TEST_F(Ingestion, DerAvedurBatchArrivesWithItsHeadersAndJson) {
    auto ingestion = derAvedurIngestion();
    EXPECT_TRUE(ingestion->isReadyToSend());
    auto small = container(1, "small");
    auto large = container(10, "large");
    ingestion->sendAsync(small, record());
    ingestion->sendAsync(large, record());
    ASSERT_TRUE(executor->runUntil([&] { return completions.size() == 2; }));

    for (const auto& request : server->requests()) {
        EXPECT_EQ(request.method, "POST");
        EXPECT_EQ(request.path, "/logs");
        EXPECT_EQ(request.query, "api-version=1.0.0");
        EXPECT_EQ(request.header("App-Secret"), kSecret);
        EXPECT_EQ(request.header("Install-ID"), kInstallId);
        EXPECT_EQ(request.header("Content-Type"), "application/json");
        const bool isLarge = request.logCount() == 10;
        EXPECT_EQ(request.body, *(isLarge ? large : small)->serializeLog());
        EXPECT_EQ(request.header("Content-Encoding"), isLarge ? std::optional<std::string>("gzip") : std::nullopt);
    }
    auto first = nlohmann::json::parse(*small->serializeLog()).at("logs").at(0);
    EXPECT_EQ(first.at("type"), "colorPicked");
    EXPECT_EQ(first.at("timestamp"), "2023-11-14T22:13:20.000Z");
    for (const auto& completion : completions) {
        EXPECT_TRUE(completion.callId == "small" || completion.callId == "large");
        EXPECT_EQ(completion.response->statusCode, 200);
    }
}

TEST_F(Ingestion, RefusedBatchesCompleteAtOnceWithoutARequest) {
    auto invalid = container(2);
    invalid->logs[1] = nullptr;
    struct Case {
        const char* name;
        std::function<void(DAVDerAvedurIngestion&)> setUp;
        std::shared_ptr<DAVLogContainer> batch;
        long code;
        const char* description;
    };
    const std::vector<Case> cases = {
        {"no logs", nullptr, container(0), 1, "Invalid log container."},
        {"no container", nullptr, nullptr, 1, "Invalid log container."},
        {"an invalid log", nullptr, invalid, 1, "Invalid log container."},
        {"no app secret", [](DAVDerAvedurIngestion& i) { i.setAppSecret(std::nullopt); }, container(1), 100,
         "Canceled, ingestion is disabled."},
        {"disabled", [](DAVDerAvedurIngestion& i) { i.setEnabled(false, false); }, container(1), 100,
         "Canceled, ingestion is disabled."},
    };
    for (const auto& c : cases) {
        auto ingestion = derAvedurIngestion();
        if (c.setUp) c.setUp(*ingestion);
        completions.clear();
        ingestion->sendAsync(c.batch, record());
        ASSERT_EQ(completions.size(), 1u) << c.name;
        EXPECT_FALSE(completions[0].response) << c.name;
        EXPECT_EQ(completions[0].error->code, c.code) << c.name;
        EXPECT_EQ(completions[0].error->description, c.description) << c.name;
        EXPECT_EQ(client->callsInProgress(), 0u) << c.name;
    }
    executor->drain();
    EXPECT_EQ(server->requestCount(), 0u);
}

TEST_F(Ingestion, CollectorBatchIsJsonLinesAddressedByItsTokens) {
    DAVTicketCache::sharedInstance().setTicket("d:ticket-secret-1", "ticketKey1");
    auto ingestion = std::make_shared<DAVRirIvovovozuIngestion>(client, server->url());
    auto logs = std::vector<std::shared_ptr<DAVLog>>{csLog("tokenA-1", {"ticketKey1", "unknownKey"}), csLog("tokenA-1"),
                                                     csLog("tokenB-2")};
    ingestion->sendAsync(std::make_shared<DAVLogContainer>("batch", logs), record());
    ASSERT_TRUE(executor->runUntil([&] { return completions.size() == 1; }));
    EXPECT_NE(completions[0].callId, "batch");  // a fresh call id per call
    auto requests = server->requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.path, "/RirIvovovozu/1.0");
    EXPECT_EQ(request.header("apikey"), "tokenA-1,tokenB-2");
    EXPECT_EQ(request.header("Tickets"), "{\"ticketKey1\":\"d:ticket-secret-1\"}");
    EXPECT_EQ(request.header("Upload-Time"), "1700000000000");
    std::string expected;
    for (const auto& log : logs) expected += *log->serializeLogWithPrettyPrinting(false) + "\n";
    EXPECT_EQ(request.body, expected);

    completions.clear();
    ingestion->sendAsync(std::make_shared<DAVLogContainer>("empty", std::vector<std::shared_ptr<DAVLog>>{}), record());
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].error->code, 1);
}

TEST_F(Ingestion, SendUrlIsBuiltFromBasePathAndQuery) {
    EXPECT_EQ(DAVHttpIngestion::buildURLWithBaseURL("https://ingestion.invalid", "/logs", {}),
              "https://ingestion.invalid/logs");
    EXPECT_EQ(DAVHttpIngestion::buildURLWithBaseURL("https://ingestion.invalid", "/logs",
                                                    Foundation::Dictionary{{"api-version", Foundation::Value("1.0.0")},
                                                                           {"a b", Foundation::Value("c\"d")}}),
              "https://ingestion.invalid/logs?api-version=1.0.0&a%20b=c%22d");

    DAVTest::MessageRecorder messages;
    auto ingestion = std::make_shared<DAVDerAvedurIngestion>(client, "https://ingestion.invalid", kInstallId);
    ingestion->setBaseURL("http://user:pw@127.0.0.1:8443/base");
    EXPECT_EQ(ingestion->sendURL(), "http://user:pw@127.0.0.1:8443/base/logs?api-version=1.0.0");
    EXPECT_EQ(ingestion->baseURL(), "http://user:pw@127.0.0.1:8443/base");
    ingestion->setBaseURL("no url at all");
    EXPECT_EQ(ingestion->sendURL(), "http://user:pw@127.0.0.1:8443/base/logs?api-version=1.0.0");
    EXPECT_TRUE(messages.contains(DAVLogLevelInfo,
                                  "Failed to update HTTP URL "
                                  "http://user:pw@127.0.0.1:8443/base/logs?api-version=1.0.0 with no url at all"));
}

TEST_F(Ingestion, ETagIsFoundInAnyLetterCase) {
    for (const char* name : {"ETag", "etag", "eTaG"}) {
        DAVHttpResponse response{200, {{"Content-Type", "text/plain"}, {name, "\"v1\""}}};
        EXPECT_EQ(DAVHttpIngestion::eTagFromResponse(response), "\"v1\"") << name;
    }
    EXPECT_FALSE(DAVHttpIngestion::eTagFromResponse(DAVHttpResponse{200, {{"E-Tag", "x"}}}));
}

TEST_F(Ingestion, TracesNeverShowASecret) {
    DAVTest::MessageRecorder messages;
    DAVLogger::setCurrentLogLevel(DAVLogLevelVerbose);
    DAVTicketCache::sharedInstance().setTicket("d:ticket-secret-1", "ticketKey1");
    server->setResponseBody("{\"token\": \"response-token-secret\", \"status\": \"ok\"}", "application/json");
    auto collector = std::make_shared<DAVRirIvovovozuIngestion>(client, server->url());
    collector->sendAsync(std::make_shared<DAVLogContainer>(
                             "batch", std::vector<std::shared_ptr<DAVLog>>{csLog("tokenA-secretA", {"ticketKey1"})}),
                         record());
    ASSERT_TRUE(executor->runUntil([&] { return completions.size() == 1; }));
    server->setResponseBody("", "");
    auto derAvedur = derAvedurIngestion();
    derAvedur->sendAsync(container(1), record());
    ASSERT_TRUE(executor->runUntil([&] { return completions.size() == 2; }));

    bool sawSecretHeader = false, sawResponse = false;
    for (const auto& message : messages.messages()) {
        for (const char* secret : {kSecret, "tokenA-secretA", "ticket-secret-1", "response-token-secret"})
            EXPECT_EQ(message.text.find(secret), std::string::npos) << message.text;
        sawSecretHeader |= message.text.find("App-Secret = " + std::string(28, '*') + "8d4e2f11") != std::string::npos;
        sawResponse |= message.text.find("\"token\" : \"***\"") != std::string::npos;
    }
    EXPECT_TRUE(sawSecretHeader);
    EXPECT_TRUE(sawResponse);
    EXPECT_TRUE(
        messages.containsPrefix(DAVLogLevelVerbose, "Headers: Client-Version = ACS-iOS-ObjectiveC-no-4.1.1-no, "));
}

}  // namespace
