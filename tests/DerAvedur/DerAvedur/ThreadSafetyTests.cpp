#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "DerAvedur/DerAvedur/Shared/Model/DAVLogWithProperties.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVEncrypter.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurTestSupport.h"
#include "Platform/Security/Security.h"

namespace {

void runTogether(int threads, const std::function<void(int)>& body) {
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) workers.emplace_back(body, t);
    for (auto& worker : workers) worker.join();
}

TEST(ThreadSafety, LoggerStateMayChangeWhileMessagesAreLogged) {
    std::atomic<int> handled{0};
    runTogether(4, [&](int t) {
        for (int i = 0; i < 300; ++i) {
            switch ((t + i) % 4) {
                case 0:
                    DAVLogger::setCurrentLogLevel(i % 2 ? DAVLogLevelNone : DAVLogLevelAssert);
                    break;
                case 1:
                    DAVLogger::setLogHandler([&](const DAVLogMessageProvider&, DAVLogLevel, const std::string&,
                                                 const char*, const char*, unsigned) { ++handled; });
                    break;
                case 2:
                    DAVLogger::setIsUserDefinedLogLevel(!DAVLogger::isUserDefinedLogLevel());
                    break;
                default:
                    DAVLogVerbose("DerAvedur", "message %d", i);
                    (void)DAVLogger::currentLogLevel();
                    (void)DAVLogger::logHandler();
            }
        }
    });
    DAVLogger::resetForTesting();
    EXPECT_GT(handled.load(), 0);
}

TEST(ThreadSafety, MigrationMapAndArchivesAcrossThreads) {
    auto log = std::make_shared<DAVLogWithProperties>();
    log->setType("event");
    log->setDevice(DAVTest::makeDevice());
    auto data = DAVUtility::archiveKeyedData(Foundation::Value(log));
    ASSERT_TRUE(data);
    std::atomic<int> decoded{0};
    runTogether(4, [&](int t) {
        for (int i = 0; i < 50; ++i) {
            DAVUtility::addMigrationClasses(
                {{"Old" + std::to_string(t) + "_" + std::to_string(i), "DAVLogWithProperties"}});
            if (DAVUtility::unarchiveKeyedData(*data).isObject()) ++decoded;
        }
    });
    EXPECT_EQ(decoded.load(), 200);
    EXPECT_GE(DAVUtility::migrationClasses().size(), 200u);
}

TEST(ThreadSafety, TokensAndTheEncrypterAreSharedSafely) {
    Security::Keychain keychain(DAVUtility::sdkDirectory() + "/" + DAVTest::uniqueName("keychain") + ".json");
    DAVEncrypter encrypter(&keychain);
    DAVLogWithProperties log;
    std::atomic<int> roundTrips{0};
    runTogether(4, [&](int t) {
        for (int i = 0; i < 25; ++i) {
            const std::string token = "key" + std::to_string(t) + "-" + std::to_string(i);
            log.addTransmissionTargetToken(token);
            (void)log.transmissionTargetTokens();
            auto cipher = encrypter.encryptString(token);
            if (cipher && encrypter.decryptString(*cipher) == token) ++roundTrips;
        }
    });
    EXPECT_EQ(log.transmissionTargetTokens().size(), 100u);
    EXPECT_EQ(roundTrips.load(), 100);
}

}  // namespace

#include "DerAvedur/DerAvedur/Shared/Util/DAVDispatcherUtil.h"
#include "Platform/Foundation/Dispatch.h"

namespace {

TEST(Dispatching, MainThreadBlocksAndApplicationState) {
    auto executor = Foundation::TestExecutor::install();
    int ran = 0;
    DAVDispatcherUtil::performBlockOnMainThread([&] { ++ran; });
    EXPECT_EQ(ran, 0);  // handed over, not run in place
    executor->drain();
    EXPECT_EQ(ran, 1);

    EXPECT_EQ(DAVUtility::applicationState(), 0);
    DAVUtility::setApplicationHiddenProvider([] { return true; });
    EXPECT_EQ(DAVUtility::applicationState(), 2);
    int offMain = -1;
    std::thread([&] { offMain = DAVUtility::applicationState(); }).join();
    EXPECT_EQ(offMain, 3);
    DAVUtility::setApplicationHiddenProvider(nullptr);
}

TEST(Dispatching, SyncWithTimeoutWaitsForTheBlockOrTheTimeout) {
    auto queue = Foundation::DispatchQueue::makeSerial("dav.test.queue");
    std::atomic<bool> ran{false};
    DAVDispatcherUtil::dispatchSyncWithTimeout(30, queue, [&] { ran = true; });
    EXPECT_TRUE(ran.load());

    // A block that never finishes in time does not hold the caller longer than the timeout.
    std::atomic<bool> release{false};
    DAVDispatcherUtil::dispatchSyncWithTimeout(0.01, queue, [&] {
        while (!release.load()) std::this_thread::yield();
    });
    release = true;
    DAVDispatcherUtil::dispatchSyncWithTimeout(30, queue, [] {});
}

}  // namespace
