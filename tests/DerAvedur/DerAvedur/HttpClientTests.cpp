#include <gtest/gtest.h>

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpClient.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpUtil.h"
#include "IngestionServer.h"
#include "Platform/Foundation/Dispatch.h"

namespace {

struct Answer {
    std::optional<Foundation::Data> body;
    std::optional<DAVHttpResponse> response;
    std::optional<Foundation::Error> error;
};

class HttpClient : public ::testing::Test {
protected:
    void TearDown() override {
        server->release();
        executor->runUntil([&] { return client->callsInProgress() == 0; });
    }

    void send(const std::string& body, std::vector<double> retryIntervals, std::string url = {}) {
        const Foundation::Data data(body.begin(), body.end());
        client->sendAsync(
            url.empty() ? server->url() + "/logs" : url, "POST", {{"Content-Type", "application/json"}}, data,
            retryIntervals, true,
            [this](const std::optional<Foundation::Data>& body, const std::optional<DAVHttpResponse>& response,
                   const std::optional<Foundation::Error>& error) {
                answers.push_back({body, response, error});
            });
    }

    std::unique_ptr<Foundation::TestExecutor> executor = Foundation::TestExecutor::install();
    std::unique_ptr<DAVTest::IngestionServer> server = std::make_unique<DAVTest::IngestionServer>();
    std::shared_ptr<DAVHttpClient> client = std::make_shared<DAVHttpClient>();
    std::vector<Answer> answers;  // the test's thread only: completions run on the virtual queue
};

TEST_F(HttpClient, LargeBodiesTravelGzippedAndSmallOnesAsTheyAre) {
    const std::string small(100, 'a');
    std::string large;
    for (int i = 0; large.size() < 5000; ++i) large += "{\"index\":" + std::to_string(i) + "},";
    server->setResponseBody("{\"ok\":true}", "application/json");
    send(small, {});
    send(large, {});
    ASSERT_TRUE(executor->runUntil([&] { return answers.size() == 2; }));
    auto requests = server->requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
        const bool isLarge = request.body.size() == large.size();
        EXPECT_EQ(request.header("Content-Encoding").has_value(), isLarge);
        EXPECT_EQ(request.body, isLarge ? large : small);
        if (isLarge) {
            EXPECT_LT(request.wireLength, large.size() / 4);
        }
        EXPECT_EQ(request.header("Content-Type"), "application/json");
    }
    for (const auto& answer : answers) {
        ASSERT_TRUE(answer.response);
        EXPECT_EQ(answer.response->statusCode, 200);
        EXPECT_EQ(answer.response->valueForHeader("content-type"), "application/json");
        EXPECT_EQ(answer.body, Foundation::Data({'{', '"', 'o', 'k', '"', ':', 't', 'r', 'u', 'e', '}'}));
        EXPECT_FALSE(answer.error);
    }
}

TEST_F(HttpClient, RetriesRecoverableAnswersThenCompletesOnceWithTheLast) {
    server->setDefaultStatus(503);
    send("{}", {10, 300});
    for (double wait : {10.0, 300.0}) {
        ASSERT_TRUE(executor->runUntil([&] { return client->callsWaitingForRetry() == 1; }));
        EXPECT_TRUE(answers.empty());
        executor->advance(wait / 2 - 0.01);  // never before half the interval
        EXPECT_EQ(client->callsWaitingForRetry(), 1u);
        executor->advance(wait / 2 + 0.01);
    }
    ASSERT_TRUE(executor->runUntil([&] { return answers.size() == 1; }));
    EXPECT_EQ(server->requestCount(), 3u);
    EXPECT_EQ(answers[0].response->statusCode, 503);

    // Other failures are final at once.
    server->setDefaultStatus(400);
    send("{}", {10, 300});
    ASSERT_TRUE(executor->runUntil([&] { return answers.size() == 2; }));
    EXPECT_EQ(answers[1].response->statusCode, 400);
    EXPECT_EQ(server->requestCount(), 4u);
}

TEST_F(HttpClient, TransportFailureIsStatusZeroWithAnError) {
    // Port 1 is privileged and nothing listens there: the connection is refused.
    send("{}", {}, "http://127.0.0.1:1/logs");
    ASSERT_TRUE(executor->runUntil([&] { return answers.size() == 1; }));
    EXPECT_FALSE(answers[0].response);
    ASSERT_TRUE(answers[0].error);
    EXPECT_EQ(answers[0].error->domain, kDAVHttpErrorDomain);
    EXPECT_TRUE(DAVHttpUtil::isRecoverableError(0));
}

TEST_F(HttpClient, CancelEndsWaitingCallsOnceAndForAll) {
    server->setDefaultStatus(503);
    send("{}", {10});
    ASSERT_TRUE(executor->runUntil([&] { return client->callsWaitingForRetry() == 1; }));
    client->cancelAllCalls();
    executor->drain();
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_FALSE(answers[0].response);
    EXPECT_EQ(answers[0].error->domain, kDAVDerAvedurErrorDomain);
    EXPECT_EQ(answers[0].error->code, DAVCanceledErrorCode);
    executor->advance(60);
    executor->drain();
    EXPECT_EQ(answers.size(), 1u);
    EXPECT_EQ(server->requestCount(), 1u);
}

TEST_F(HttpClient, AtMostFourConnectionsAtOnce) {
    server->hold();
    for (int i = 0; i < 6; ++i) send("{}", {});
    ASSERT_TRUE(executor->runUntil([&] { return server->requestCount() == 4; }));
    EXPECT_EQ(server->requestCount(), 4u);
    server->release();
    ASSERT_TRUE(executor->runUntil([&] { return answers.size() == 6; }));
    EXPECT_EQ(server->requestCount(), 6u);
}

TEST(HttpUtil, RecoverableStatuses) {
    for (long status : {0L, 408L, 429L, 500L, 503L, 599L, 600L})
        EXPECT_TRUE(DAVHttpUtil::isRecoverableError(status)) << status;
    for (long status : {200L, 204L, 400L, 401L, 403L, 404L, 413L, 499L})
        EXPECT_FALSE(DAVHttpUtil::isRecoverableError(status)) << status;
}

TEST(HttpUtil, HideSecretShowsOnlyTheLastEightCharacters) {
    EXPECT_EQ(DAVHttpUtil::hideSecret("5f1d3a9e-7c44-4b1f-9e2a-0c6b8d4e2f11"), std::string(28, '*') + "8d4e2f11");
    EXPECT_EQ(DAVHttpUtil::hideSecret("12345678"), "********");
    EXPECT_EQ(DAVHttpUtil::hideSecret(""), "");
    EXPECT_EQ(DAVHttpUtil::hideSecret("ééééé12345678"), "*****12345678");
}

TEST(HttpUtil, GzipRoundTripAndRefusal) {
    const Foundation::Data data(3000, 'x');
    auto packed = DAVHttpUtil::compressData(data);
    ASSERT_TRUE(packed);
    EXPECT_EQ(DAVTest::gunzip(std::string(packed->begin(), packed->end())), std::string(3000, 'x'));
    EXPECT_EQ(DAVHttpUtil::decompressData(*packed), data);
    EXPECT_FALSE(DAVHttpUtil::decompressData(Foundation::Data{'n', 'o', 't'}));
    packed->resize(packed->size() / 2);
    EXPECT_FALSE(DAVHttpUtil::decompressData(*packed));
}

}  // namespace
