#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "DerAvedur/DerAvedur/Shared/Context/DAVDeviceTracker.h"
#include "DerAvedur/DerAvedur/Shared/Context/DAVSessionContext.h"
#include "DerAvedur/DerAvedur/Shared/Context/DAVUserIdContext.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurTestSupport.h"
#include "Platform/Foundation/Dispatch.h"

namespace {

using Opt = std::optional<std::string>;

TEST(DeviceTracker, FieldsComeFromTheSystemAndMissingSourcesAreSkipped) {
    const std::string root = DAVUtility::sdkDirectory() + "/" + DAVTest::uniqueName("root");
    std::filesystem::create_directories(root + "/etc");
    std::filesystem::create_directories(root + "/sys/class/dmi/id");
    std::ofstream(root + "/etc/os-release")
        << "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\n"
           "VERSION_ID=\"12\"\nID=debian\n";
    std::ofstream(root + "/sys/class/dmi/id/product_name") << "ThinkPad X1 Carbon\n";
    std::ofstream(root + "/sys/class/dmi/id/sys_vendor") << "LENOVO\n";

    auto device = DAVDeviceTracker::makeDevice(root);
    EXPECT_EQ(device->osName, "Debian GNU/Linux");
    EXPECT_EQ(device->osVersion, "12");
    EXPECT_EQ(device->model, "ThinkPad X1 Carbon");
    EXPECT_EQ(device->oemName, "LENOVO");
    EXPECT_TRUE(device->osBuild.has_value());
    EXPECT_EQ(device->sdkName, "deravedur.macos");
    EXPECT_EQ(device->appVersion, "1.0.0");
    EXPECT_EQ(device->appBuild, "1");
    EXPECT_EQ(device->appNamespace, "com.tarnwick.vexil");
    EXPECT_EQ(device->timeZoneOffset, 0);  // the tests run with TZ=UTC
    EXPECT_TRUE(device->isValid());

    // Nothing readable below the root: the DMI fields stay unset, the rest
    // falls back to uname, and the record is still valid.
    auto bare = DAVDeviceTracker::makeDevice(root + "/missing");
    EXPECT_FALSE(bare->model.has_value());
    EXPECT_FALSE(bare->oemName.has_value());
    EXPECT_TRUE(bare->osName.has_value());
    EXPECT_TRUE(bare->isValid());
}

TEST(DeviceTracker, CurrentDeviceCarriesWrapperAndCountryAndJoinsTheHistory) {
    DAVDeviceTracker tracker;
    auto device = tracker.device();
    ASSERT_TRUE(device);
    EXPECT_EQ(tracker.device(), device);
    tracker.setWrapperSdk(
        std::make_shared<DAVWrapperSdk>("1.2", "wrapper.name", std::nullopt, std::nullopt, std::nullopt, std::nullopt));
    tracker.setCountryCode("DE");
    auto updated = tracker.device();
    EXPECT_EQ(updated->wrapperSdkName, "wrapper.name");
    EXPECT_EQ(updated->carrierCountry, "DE");
    EXPECT_GE(tracker.pastDevices().size(), 3u);
    EXPECT_EQ(tracker.deviceForTimestamp(std::nullopt), updated);

    // A new tracker (the next launch) finds the past devices in the defaults.
    DAVDeviceTracker next;
    EXPECT_EQ(next.pastDevices().size(), tracker.pastDevices().size());
    next.clearDevices();
    EXPECT_TRUE(next.pastDevices().empty());
}

TEST(Contexts, SessionAndUserIdHistoriesAnswerForAPastMoment) {
    auto executor = Foundation::TestExecutor::install(1'800'000'000.0);
    DAVSessionContext sessions;
    sessions.clearSessionHistoryAndKeepCurrentSession(false);
    sessions.setSessionId("s1");
    executor->advance(10);
    sessions.setSessionId("s2");
    EXPECT_EQ(sessions.sessionId(), "s2");
    EXPECT_EQ(sessions.sessionIdAt(Foundation::Date{1'800'000'005.0}), "s1");
    EXPECT_EQ(sessions.sessionIdAt(Foundation::Date{1'800'000'010.0}), "s2");
    EXPECT_EQ(sessions.sessionIdAt(Foundation::Date{1'700'000'000.0}), std::nullopt);
    DAVSessionContext relaunched;
    EXPECT_EQ(relaunched.sessionId(), std::nullopt);
    EXPECT_EQ(relaunched.sessionIdAt(Foundation::Date{1'800'000'005.0}), "s1");
    sessions.clearSessionHistoryAndKeepCurrentSession(true);
    EXPECT_EQ(sessions.sessionHistory().size(), 1u);

    DAVUserIdContext users;
    users.clearUserIdHistory();
    users.setUserId("alice");
    executor->advance(5);
    users.setUserId(std::nullopt);
    EXPECT_EQ(users.userIdAt(Foundation::Date{1'800'000'012.0}), "alice");
    EXPECT_EQ(users.userIdAt(Foundation::Date{1'800'000'016.0}), std::nullopt);
}

TEST(Contexts, UserIdRulesOfBothServices) {
    const std::pair<Opt, Opt> prefixed[] = {
        {"alice", "c:alice"}, {"c:alice", "c:alice"}, {"x:alice", "x:alice"}, {"", "c:"}, {std::nullopt, std::nullopt},
    };
    for (const auto& [input, expected] : prefixed)
        EXPECT_EQ(DAVUserIdContext::prefixedUserIdFromUserId(input), expected) << input.value_or("<nil>");

    DAVTest::MessageRecorder recorder;
    EXPECT_TRUE(DAVUserIdContext::isUserIdValidForDerAvedur(std::string(256, 'u')));
    EXPECT_FALSE(DAVUserIdContext::isUserIdValidForDerAvedur(std::string(257, 'u')));
    EXPECT_TRUE(DAVUserIdContext::isUserIdValidForDerAvedur(std::nullopt));
    EXPECT_TRUE(DAVUserIdContext::isUserIdValidForRirIvovovozu("c:alice"));
    EXPECT_TRUE(DAVUserIdContext::isUserIdValidForRirIvovovozu("alice"));
    EXPECT_FALSE(DAVUserIdContext::isUserIdValidForRirIvovovozu("x:alice"));
    EXPECT_FALSE(DAVUserIdContext::isUserIdValidForRirIvovovozu(""));
    EXPECT_EQ(recorder.messages().size(), 3u);
}

}  // namespace
