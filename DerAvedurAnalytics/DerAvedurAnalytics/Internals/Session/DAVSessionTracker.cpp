#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Session/DAVSessionTracker.h"

#include <algorithm>

#include "DerAvedur/DerAvedur/Shared/Context/DAVSessionContext.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/DAVAnalyticsConstants.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVStartSessionLog.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Text.h"

namespace {
double now() { return Foundation::clock().now(); }
}  // namespace

DAVSessionTracker::~DAVSessionTracker() {
    auto& center = Foundation::NotificationCenter::defaultCenter();
    if (backgroundObserver_) center.removeObserver(backgroundObserver_);
    if (foregroundObserver_) center.removeObserver(foregroundObserver_);
}

void DAVSessionTracker::setDelegate(std::weak_ptr<DAVSessionTrackerDelegate> delegate) {
    std::lock_guard<std::mutex> guard(lock_);
    delegate_ = std::move(delegate);
}

void DAVSessionTracker::start() {
    std::lock_guard<std::mutex> guard(lock_);
    if (started_) return;
    started_ = true;
    if (DAVUtility::applicationState() == 2 && !inBackground_) {
        inBackground_ = true;
        lastEnteredBackgroundTime_ = now();
    }
    // The observers hold the tracker weakly: a post racing its release finds nothing.
    std::weak_ptr<DAVSessionTracker> weakSelf = weak_from_this();
    auto& center = Foundation::NotificationCenter::defaultCenter();
    backgroundObserver_ =
        center.addObserver(kDAVApplicationDidEnterBackgroundNotification, [weakSelf](const Foundation::Notification&) {
            if (auto self = weakSelf.lock()) self->applicationDidEnterBackground();
        });
    foregroundObserver_ =
        center.addObserver(kDAVApplicationWillEnterForegroundNotification, [weakSelf](const Foundation::Notification&) {
            if (auto self = weakSelf.lock()) self->applicationWillEnterForeground();
        });
    renewSessionIdLocked();
}

void DAVSessionTracker::stop() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!started_) return;
    started_ = false;
    auto& center = Foundation::NotificationCenter::defaultCenter();
    center.removeObserver(backgroundObserver_);
    center.removeObserver(foregroundObserver_);
    backgroundObserver_ = foregroundObserver_ = 0;
    sessionId_.reset();
    lastCreatedLogTime_.reset();
    // Logs made from now on (crashes) belong to no session.
    DAVSessionContext::sharedInstance()->setSessionId(std::nullopt);
}

bool DAVSessionTracker::isStarted() const {
    std::lock_guard<std::mutex> guard(lock_);
    return started_;
}

std::optional<std::string> DAVSessionTracker::sessionId() const {
    std::lock_guard<std::mutex> guard(lock_);
    return sessionId_;
}

void DAVSessionTracker::processLog(DAVLog& log) {
    if (dynamic_cast<DAVNoAutoAssignSessionIdLog*>(&log) || dynamic_cast<DAVStartSessionLog*>(&log)) return;
    // A log that names its session already (one of an earlier launch) keeps it.
    if (log.sid()) return;
    std::lock_guard<std::mutex> guard(lock_);
    if (!started_) return;
    const double time = now();
    if (hasSessionTimedOutLocked(time)) renewSessionIdLocked();
    log.setSid(sessionId_);
    lastCreatedLogTime_ = std::max(lastCreatedLogTime_.value_or(time), time);
}

void DAVSessionTracker::channelPrepareLog(const std::shared_ptr<DAVChannelProtocol>&,
                                          const std::shared_ptr<DAVLog>& log) {
    if (log) processLog(*log);
}

void DAVSessionTracker::applicationDidEnterBackground() {
    std::lock_guard<std::mutex> guard(lock_);
    if (inBackground_) return;
    inBackground_ = true;
    lastEnteredBackgroundTime_ = now();
}

void DAVSessionTracker::applicationWillEnterForeground() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!inBackground_) return;
    inBackground_ = false;
    const double time = now();
    lastEnteredForegroundTime_ = time;
    if (started_ && hasSessionTimedOutLocked(time)) renewSessionIdLocked();
}

bool DAVSessionTracker::hasSessionTimedOutLocked(double time) const {
    if (!sessionId_) return true;
    if (!lastEnteredBackgroundTime_) return false;
    // The part of the last background stay with no log in it.
    const double lastActivity = std::max(sessionStartTime_, lastCreatedLogTime_.value_or(sessionStartTime_));
    const double backgroundEnd = inBackground_ ? time : lastEnteredForegroundTime_.value_or(time);
    const double quietInBackground = backgroundEnd - std::max(*lastEnteredBackgroundTime_, lastActivity);
    return quietInBackground >= kDAVSessionTimeout;
}

void DAVSessionTracker::renewSessionIdLocked() {
    const double time = now();
    sessionId_ = Foundation::makeUUIDString();
    sessionStartTime_ = time;
    DAVSessionContext::sharedInstance()->setSessionId(sessionId_);
    DAVLogInfo(kDAVAnalyticsLogTag, "New session ID: %s", sessionId_->c_str());

    // Sent under the lock, so the start-session log is enqueued before any
    // log of the new session.
    auto log = std::make_shared<DAVStartSessionLog>();
    log->setSid(sessionId_);
    log->setTimestamp(Foundation::Date{time});
    if (auto delegate = delegate_.lock()) delegate->sessionTracker(*this, log);
}
