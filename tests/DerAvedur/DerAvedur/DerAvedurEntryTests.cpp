#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "ChannelTestSupport.h"
#include "DerAvedur/DerAvedur/DAVDerAvedur.h"
#include "DerAvedur/DerAvedur/Internals/Channel/DAVChannelGroupDefault.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVDependencyConfiguration.h"
#include "DerAvedur/DerAvedur/Internals/HttpClient/DAVHttpClient.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "IngestionServer.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Text.h"
#include "Platform/Foundation/UserDefaults.h"

namespace {

constexpr const char* kAppSecret = "5f1d3a9e-7c44-4b1f-9e2a-0c6b8d4e2f11";

std::vector<std::string>& startOrder() {
    static std::vector<std::string> order;
    return order;
}

class FakeService : public DAVServiceAbstract {
public:
    FakeService(std::string name, int priority, bool secretRequired)
        : name_(std::move(name)), priority_(priority), secretRequired_(secretRequired) {}

    std::string serviceName() const override { return name_; }
    std::string logTag() const override { return "DerAvedur" + name_; }
    int initializationPriority() const override { return priority_; }
    bool isAppSecretRequired() const override { return secretRequired_; }
    std::shared_ptr<DAVChannelUnitConfiguration> channelUnitConfiguration() const override {
        return DAVChannelUnitConfiguration::initDefaultConfigurationWithGroupId(name_);
    }
    void startWithChannelGroup(const std::shared_ptr<DAVChannelGroupProtocol>& group,
                               const std::optional<std::string>& appSecret, const std::optional<std::string>& token,
                               bool fromApplication) override {
        startOrder().push_back(name_);
        DAVServiceAbstract::startWithChannelGroup(group, appSecret, token, fromApplication);
    }

private:
    std::string name_;
    int priority_;
    bool secretRequired_;
};

template <int Priority, bool SecretRequired>
struct Service {
    static std::shared_ptr<FakeService>& instance() {
        static std::shared_ptr<FakeService> shared;
        return shared;
    }
    static std::shared_ptr<FakeService> sharedInstance() {
        if (!instance()) instance() = std::make_shared<FakeService>(name(), Priority, SecretRequired);
        return instance();
    }
    static std::string name() { return Priority == 999 ? "High" : SecretRequired ? "Low" : "TargetOnly"; }
    static DAVServiceClass serviceClass() { return DAVServiceClass::of<Service>(name()); }
};
using High = Service<999, true>;
using Low = Service<500, true>;
using TargetOnly = Service<500, false>;

void resetServices() {
    High::instance().reset();
    Low::instance().reset();
    TargetOnly::instance().reset();
    startOrder().clear();
}

std::size_t storedLogs() {
    auto group = std::dynamic_pointer_cast<DAVChannelGroupDefault>(DAVDerAvedur::sharedInstance()->channelGroup());
    return group->storage()->countLogs();
}

class DerAvedurEntry : public ::testing::Test {
protected:
    void SetUp() override {
        resetServices();
        DAVDerAvedur::resetSharedInstance();
        DAVUtility::deleteItemForPathComponent(std::string("Logs.sqlite"));  // when the suite runs in one process
        DAVDependencyConfiguration::setHttpClient(client);
        DAVDerAvedur::setLogUrl(server->url());
    }
    void TearDown() override {
        server->release();
        executor->runUntil([&] { return client->callsInProgress() == 0; });
        DAVDerAvedur::resetSharedInstance();
        DAVDependencyConfiguration::setHttpClient(nullptr);
        resetServices();
        unsetenv(DAVDerAvedur::kDisableVariable);
    }

    // Lets the core unit's 3-second timer fire and waits for the answers.
    void flushCoreUnit(std::size_t expectedRequests) {
        executor->advance(3);
        ASSERT_TRUE(executor->runUntil(
            [&] { return server->answeredCount() >= expectedRequests && client->callsInProgress() == 0; }));
        executor->drain();
    }

    std::unique_ptr<Foundation::TestExecutor> executor = Foundation::TestExecutor::install();
    std::unique_ptr<DAVTest::IngestionServer> server = std::make_unique<DAVTest::IngestionServer>();
    std::shared_ptr<DAVHttpClient> client = std::make_shared<DAVHttpClient>();
    DAVTest::MessageRecorder messages;
};

std::vector<std::string> textsAt(const DAVTest::MessageRecorder& messages, DAVLogLevel level) {
    std::vector<std::string> texts;
    for (const auto& message : messages.messages())
        if (message.level == level) texts.push_back(message.text);
    return texts;
}

TEST_F(DerAvedurEntry, ConfiguresOnceFromTheApplication) {
    DAVDerAvedur::configureWithAppSecret(std::string(kAppSecret));
    EXPECT_TRUE(DAVDerAvedur::isConfigured());
    EXPECT_TRUE(DAVDerAvedur::isEnabled());
    DAVDerAvedur::configureWithAppSecret(std::string("another-secret"));
    EXPECT_EQ(textsAt(messages, DAVLogLevelAssert),
              (std::vector<std::string>{"Der Avedur SDK has already been configured.",
                                        "Der Avedur SDK configuration failed."}));
    EXPECT_EQ(DAVDerAvedur::sharedInstance()->appSecret(), kAppSecret);
    EXPECT_TRUE(messages.contains(DAVLogLevelInfo, "Der Avedur SDK configured successfully."));
}

TEST_F(DerAvedurEntry, LibraryMayConfigureFirstAndItsSecretStays) {
    DAVDerAvedur::startService(High::serviceClass());
    EXPECT_TRUE(
        messages.contains(DAVLogLevelError, "Der Avedur has not been configured so it couldn't start the service."));
    EXPECT_TRUE(startOrder().empty());

    auto sdk = DAVDerAvedur::sharedInstance();
    EXPECT_TRUE(sdk->configureWithAppSecret(std::string("library-secret"), std::nullopt, false));
    EXPECT_FALSE(DAVDerAvedur::isConfigured());
    messages.clear();
    DAVDerAvedur::startService(High::serviceClass());  // the application has not configured yet
    EXPECT_TRUE(
        messages.contains(DAVLogLevelError, "Der Avedur has not been configured so it couldn't start the service."));

    DAVDerAvedur::configureWithAppSecret(std::string("appsecret=app-secret;target=token-1"));
    EXPECT_TRUE(DAVDerAvedur::isConfigured());
    EXPECT_EQ(sdk->appSecret(), "library-secret");
    EXPECT_EQ(sdk->defaultTransmissionTargetToken(), "token-1");
    EXPECT_TRUE(textsAt(messages, DAVLogLevelAssert).empty());
}

TEST_F(DerAvedurEntry, StartsServicesByPriorityAndSendsOneStartServiceLog) {
    DAVDerAvedur::setLogLevel(DAVLogLevelVerbose);
    DAVDerAvedur::start(
        std::string(kAppSecret),
        std::vector<DAVServiceClass>{Low::serviceClass(), TargetOnly::serviceClass(), High::serviceClass()});
    EXPECT_EQ(startOrder(), (std::vector<std::string>{"High", "Low", "TargetOnly"}));
    EXPECT_TRUE(messages.contains(DAVLogLevelVerbose, "Start services High, Low, TargetOnly from an application"));
    EXPECT_TRUE(High::sharedInstance()->isServiceEnabled());
    EXPECT_TRUE(DAVDerAvedur::sharedInstance()->channelGroup()->channelUnitForGroupId("Low"));

    flushCoreUnit(1);
    auto requests = server->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/logs");
    EXPECT_EQ(requests[0].header("App-Secret"), kAppSecret);
    EXPECT_EQ(requests[0].header("Install-ID"), DAVDerAvedur::installId());
    auto logs = requests[0].json().at("logs");
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].at("type"), "startService");
    EXPECT_EQ(logs[0].at("services"), nlohmann::json::array({"High", "Low", "TargetOnly"}));

    // Started again from the application: refused, and no second log.
    DAVDerAvedur::startService(High::serviceClass());
    EXPECT_TRUE(messages.contains(DAVLogLevelDebug, "No services have been started."));
    executor->advance(10);
    EXPECT_EQ(server->requestCount(), 1u);
    EXPECT_EQ(startOrder().size(), 3u);

    for (const auto& message : messages.messages())
        EXPECT_EQ(message.text.find(kAppSecret), std::string::npos) << message.text;
}

TEST_F(DerAvedurEntry, ServicesThatNeedASecretAreRefusedWithoutOne) {
    DAVDerAvedur::start(
        std::string("target=token-1"),
        std::vector<DAVServiceClass>{High::serviceClass(), TargetOnly::serviceClass(), DAVServiceClass()});
    EXPECT_EQ(startOrder(), std::vector<std::string>{"TargetOnly"});
    EXPECT_TRUE(messages.contains(
        DAVLogLevelError,
        "Cannot start service High. Der Avedur was started without app secret, but the service requires it."));
    EXPECT_TRUE(messages.contains(DAVLogLevelError, "Cannot start service (null). Provided value is nil or invalid."));
    EXPECT_EQ(DAVDerAvedur::sharedInstance()->services().size(), 1u);
}

TEST_F(DerAvedurEntry, DisableVariableNamesServicesOrAll) {
    struct Case {
        const char* value;
        const char* service;
        bool disabled;
    };
    const Case cases[] = {
        {nullptr, "Analytics", false},
        {"Analytics, Crashes", "Analytics", true},
        {"Analytics, Crashes", "Crashes", true},
        {"  Crashes\t,Analytics ", "Analytics", true},
        {"All", "Crashes", true},
        {"analytics", "Analytics", false},
        {"Analytic", "Analytics", false},
        {"", "Analytics", false},
        {"Crashes,,All", "Analytics", true},
        // Unicode spaces are white space too; a line break is not.
        {"Crashes,\u00a0Analytics\u3000", "Analytics", true},
        {"\u2009All", "Crashes", true},
        {"Analytics\n", "Analytics", false},
        // A malformed sequence is not a blank: it stays part of the name.
        {"\xe2\x80" "All", "Crashes", false},
        {"All\xc2", "Crashes", false},
    };
    auto sdk = DAVDerAvedur::sharedInstance();
    for (const Case& c : cases) {
        if (c.value) {
            setenv(DAVDerAvedur::kDisableVariable, c.value, 1);
        } else {
            unsetenv(DAVDerAvedur::kDisableVariable);
        }
        EXPECT_EQ(sdk->shouldDisable(c.service), c.disabled) << (c.value ? c.value : "(unset)") << " / " << c.service;
    }

    setenv(DAVDerAvedur::kDisableVariable, "High", 1);
    DAVDerAvedur::start(std::string(kAppSecret),
                        std::vector<DAVServiceClass>{High::serviceClass(), Low::serviceClass()});
    EXPECT_EQ(startOrder(), std::vector<std::string>{"Low"});
    EXPECT_TRUE(messages.contains(DAVLogLevelDebug,
                                  "Environment variable to disable service has been set; not starting service High"));
}

TEST_F(DerAvedurEntry, InstallIdSurvivesARestart) {
    const std::string id = DAVDerAvedur::installId();
    EXPECT_TRUE(Foundation::isUUIDString(id));
    DAVDerAvedur::resetSharedInstance();
    Foundation::UserDefaults::resetStandard();  // read back from the file, as a new launch would
    EXPECT_EQ(DAVDerAvedur::installId(), id);

    DAVDerAvedurUserDefaults::shared().setObject(Foundation::Value("not-a-uuid"), DAVDerAvedur::kInstallIdKey);
    DAVDerAvedur::resetSharedInstance();
    const std::string replaced = DAVDerAvedur::installId();
    EXPECT_TRUE(Foundation::isUUIDString(replaced));
    EXPECT_NE(replaced, id);
    EXPECT_EQ(DAVDerAvedurUserDefaults::shared().objectForKey(DAVDerAvedur::kInstallIdKey),
              Foundation::Value(replaced));
}

TEST_F(DerAvedurEntry, StorageSizeIsSetOnceBeforeConfiguration) {
    std::vector<bool> answers;
    auto answer = [&](bool success) { answers.push_back(success); };
    DAVDerAvedur::setMaxStorageSize(24575, answer);
    EXPECT_EQ(answers, std::vector<bool>{false});
    EXPECT_TRUE(
        messages.contains(DAVLogLevelWarning, "Cannot set storage size to 24575 bytes, minimum value is 24576 bytes"));

    DAVDerAvedur::setMaxStorageSize(24576, answer);
    DAVDerAvedur::setMaxStorageSize(1 << 20, answer);
    EXPECT_EQ(answers, (std::vector<bool>{false, false}));
    EXPECT_TRUE(messages.contains(DAVLogLevelWarning,
                                  "setMaxStorageSize:completionHandler: may only be called once per app launch"));
    DAVDerAvedur::setMaxStorageSize(1 << 20, nullptr);  // nothing to call back

    DAVDerAvedur::configureWithAppSecret(std::string(kAppSecret));
    executor->drain();
    EXPECT_EQ(answers, (std::vector<bool>{false, false, true}));

    DAVDerAvedur::resetSharedInstance();
    DAVDerAvedur::configureWithAppSecret(std::string(kAppSecret));
    DAVDerAvedur::setMaxStorageSize(1 << 20, answer);
    EXPECT_EQ(answers.back(), false);
    EXPECT_TRUE(messages.contains(DAVLogLevelWarning,
                                  "Unable to set storage size after the application has configured Der Avedur"));
}

TEST_F(DerAvedurEntry, WhileDisabledStartServiceLogsWaitAndStoredLogsAreGone) {
    DAVDerAvedur::configureWithAppSecret(std::string(kAppSecret));
    auto sdk = DAVDerAvedur::sharedInstance();
    sdk->channelUnit()->enqueueItem(DAVTest::makeLog(), DAVFlagsNormal);
    executor->drain();
    EXPECT_EQ(storedLogs(), 1u);

    DAVDerAvedur::setEnabled(false);
    executor->drain();
    EXPECT_FALSE(DAVDerAvedur::isEnabled());
    EXPECT_EQ(storedLogs(), 0u);
    DAVDerAvedur::startService(High::serviceClass());
    DAVDerAvedur::startService(Low::serviceClass());
    EXPECT_EQ(sdk->startedServiceNames(), (std::vector<std::string>{"High", "Low"}));
    EXPECT_FALSE(High::sharedInstance()->isServiceEnabled());
    executor->advance(10);
    EXPECT_EQ(server->requestCount(), 0u);

    DAVDerAvedur::setEnabled(true);
    EXPECT_TRUE(High::sharedInstance()->isServiceEnabled());
    EXPECT_FALSE(sdk->startedServiceNames());
    flushCoreUnit(1);
    auto requests = server->requests();
    ASSERT_EQ(requests.size(), 1u);
    auto logs = requests[0].json().at("logs");
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0].at("services"), nlohmann::json::array({"High", "Low"}));
}

// Real queue threads and a real transfer thread, no manual clock.
TEST(DerAvedurEntryThreads, LogsFromSeveralThreadsReachTheServer) {
    resetServices();
    DAVDerAvedur::resetSharedInstance();
    DAVTest::IngestionServer server;
    DAVDerAvedur::setLogUrl(server.url());
    DAVDerAvedur::start(std::string(kAppSecret), std::vector<DAVServiceClass>{High::serviceClass()});
    auto unit = High::sharedInstance()->channelUnit();
    ASSERT_TRUE(unit);
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) unit->enqueueItem(DAVTest::makeLog(t * 25 + i), DAVFlagsNormal);
        });
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(server.waitForRequests(1));
    EXPECT_EQ(server.requests()[0].logCount(), 50u);
    unit.reset();
    DAVDerAvedur::resetSharedInstance();
    resetServices();
}

}  // namespace
