#pragma once
// Sessions of the analytics service. A session starts with the tracker and
// ends once the application has been in the background for 20 s with no log
// created meanwhile; the next log (or the return to the foreground) opens a
// new one with a start-session log. Every log without a session id and
// without the no-session marker is stamped with the current session's id.

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelDelegate.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVLog.h"
#include "Platform/Foundation/NotificationCenter.h"

class DAVAbstractLog;
class DAVSessionTracker;

// Posted by the application shell when it is hidden and shown again.
inline constexpr const char* kDAVApplicationDidEnterBackgroundNotification = "NSApplicationDidHideNotification";
inline constexpr const char* kDAVApplicationWillEnterForegroundNotification = "NSApplicationWillUnhideNotification";

class DAVSessionTrackerDelegate {
public:
    virtual ~DAVSessionTrackerDelegate() = default;
    // A log the tracker made (the start-session log) to be sent.
    virtual void sessionTracker(DAVSessionTracker& tracker, const std::shared_ptr<DAVAbstractLog>& log) = 0;
};

class DAVSessionTracker : public DAVChannelDelegate, public std::enable_shared_from_this<DAVSessionTracker> {
public:
    DAVSessionTracker() = default;
    ~DAVSessionTracker() override;
    DAVSessionTracker(const DAVSessionTracker&) = delete;
    DAVSessionTracker& operator=(const DAVSessionTracker&) = delete;

    void setDelegate(std::weak_ptr<DAVSessionTrackerDelegate> delegate);

    // Opens a session and follows the application's state (notifications of
    // the default center).
    void start();
    // Stops following the application and forgets the session.
    void stop();
    bool isStarted() const;
    std::optional<std::string> sessionId() const;

    // Stamps the log with the session's id, opening a new session first when
    // the last one has timed out.
    void processLog(DAVLog& log);
    // channel:prepareLog: of every unit of the group, on the caller's thread.
    void channelPrepareLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                           const std::shared_ptr<DAVLog>& log) override;

    void applicationDidEnterBackground();
    void applicationWillEnterForeground();

private:
    bool hasSessionTimedOutLocked(double now) const;
    void renewSessionIdLocked();

    mutable std::mutex lock_;
    std::weak_ptr<DAVSessionTrackerDelegate> delegate_;
    bool started_ = false;
    std::optional<std::string> sessionId_;
    double sessionStartTime_ = 0;
    std::optional<double> lastCreatedLogTime_;
    std::optional<double> lastEnteredBackgroundTime_;
    std::optional<double> lastEnteredForegroundTime_;
    bool inBackground_ = false;
    Foundation::NotificationCenter::ObserverToken backgroundObserver_ = 0;
    Foundation::NotificationCenter::ObserverToken foregroundObserver_ = 0;
};
