#include <gtest/gtest.h>

#include "DerAvedur/DerAvedur/Shared/Context/DAVSessionContext.h"
#include "DerAvedur/DerAvedur/Internals/Model/DAVStartServiceLog.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVEventLog.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVStartSessionLog.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Session/DAVSessionTracker.h"
#include "Platform/Foundation/Dispatch.h"

namespace {

struct RecordingDelegate : DAVSessionTrackerDelegate {
    std::vector<std::shared_ptr<DAVAbstractLog>> logs;
    void sessionTracker(DAVSessionTracker& tracker, const std::shared_ptr<DAVAbstractLog>& log) override {
        // The start-session log is stamped and re-entering the tracker is safe.
        tracker.processLog(*log);
        logs.push_back(log);
    }
};

class SessionTrackerTest : public ::testing::Test {
protected:
    void SetUp() override {
        tracker->setDelegate(delegate);
        tracker->start();
    }
    void TearDown() override { tracker->stop(); }

    std::optional<std::string> stamp() {
        DAVEventLog log;
        tracker->processLog(log);
        return log.sid();
    }
    void post(const char* name) { Foundation::NotificationCenter::defaultCenter().post(name); }

    std::unique_ptr<Foundation::TestExecutor> exec = Foundation::TestExecutor::install();
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<DAVSessionTracker> tracker = std::make_shared<DAVSessionTracker>();
};

TEST_F(SessionTrackerTest, AStartSessionLogOpensTheSessionAndEveryLogButMarkedOnesIsStamped) {
    ASSERT_EQ(delegate->logs.size(), 1u);
    auto start = std::dynamic_pointer_cast<DAVStartSessionLog>(delegate->logs[0]);
    ASSERT_TRUE(start);
    ASSERT_TRUE(tracker->sessionId());
    EXPECT_EQ(start->sid(), tracker->sessionId());
    EXPECT_EQ(DAVSessionContext::sharedInstance()->sessionId(), tracker->sessionId());

    EXPECT_EQ(stamp(), tracker->sessionId());
    DAVStartServiceLog marked;
    tracker->processLog(marked);
    EXPECT_FALSE(marked.sid());
    DAVEventLog earlier;
    earlier.setSid("from-an-earlier-launch");
    tracker->processLog(earlier);
    EXPECT_EQ(earlier.sid(), "from-an-earlier-launch");
    EXPECT_EQ(delegate->logs.size(), 1u);
}

TEST_F(SessionTrackerTest, TwentyQuietSecondsInTheBackgroundEndTheSession) {
    const auto first = tracker->sessionId();
    // Foreground idleness never ends a session.
    exec->advance(600);
    EXPECT_EQ(stamp(), first);

    // 19 s in the background, then a log: same session.
    post(kDAVApplicationDidEnterBackgroundNotification);
    exec->advance(19);
    EXPECT_EQ(stamp(), first);
    // A log in the background restarts the count: 19 s after it, still the same.
    exec->advance(19);
    EXPECT_EQ(stamp(), first);
    EXPECT_EQ(delegate->logs.size(), 1u);

    // 20 quiet seconds: the next log opens a new session first.
    exec->advance(20);
    const auto second = stamp();
    EXPECT_NE(second, first);
    ASSERT_EQ(delegate->logs.size(), 2u);
    EXPECT_EQ(delegate->logs[1]->sid(), second);
    EXPECT_EQ(DAVSessionContext::sharedInstance()->sessionIdAt(Foundation::Date{exec->now()}), second);
}

TEST_F(SessionTrackerTest, ComingBackAfterALongBackgroundOpensASessionOnce) {
    post(kDAVApplicationDidEnterBackgroundNotification);
    exec->advance(5);
    post(kDAVApplicationWillEnterForegroundNotification);
    EXPECT_EQ(delegate->logs.size(), 1u);

    post(kDAVApplicationDidEnterBackgroundNotification);
    exec->advance(25);
    post(kDAVApplicationWillEnterForegroundNotification);
    ASSERT_EQ(delegate->logs.size(), 2u);
    const auto renewed = tracker->sessionId();
    EXPECT_EQ(delegate->logs[1]->sid(), renewed);

    // That background stay is spent: later foreground logs keep the new session.
    exec->advance(100);
    EXPECT_EQ(stamp(), renewed);
    EXPECT_EQ(delegate->logs.size(), 2u);
}

TEST_F(SessionTrackerTest, AStoppedTrackerStampsNothingAndRestartsWithANewSession) {
    const auto first = tracker->sessionId();
    tracker->stop();
    EXPECT_FALSE(stamp());
    EXPECT_FALSE(DAVSessionContext::sharedInstance()->sessionId());
    post(kDAVApplicationDidEnterBackgroundNotification);  // no longer observed

    tracker->start();
    EXPECT_NE(tracker->sessionId(), first);
    EXPECT_EQ(delegate->logs.size(), 2u);
    exec->advance(100);
    EXPECT_EQ(stamp(), tracker->sessionId());
}

}  // namespace
