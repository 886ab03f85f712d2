#pragma once
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/Shared/Context/DAVHistoryInfo.h"

// The current session id, with a history kept across launches
// ("SessionIdHistory") so a crash of the last run finds its session.
class DAVSessionContext {
public:
    static std::shared_ptr<DAVSessionContext> sharedInstance();
    static void resetSharedInstance();

    DAVSessionContext();

    std::optional<std::string> sessionId();
    // Becomes the current session and joins the history.
    void setSessionId(std::optional<std::string> sessionId);
    // The session in effect at `date`; nothing when none was.
    std::optional<std::string> sessionIdAt(Foundation::Date date);
    void clearSessionHistoryAndKeepCurrentSession(bool keepCurrentSession);
    std::vector<std::shared_ptr<DAVSessionHistoryInfo>> sessionHistory();

private:
    std::mutex lock_;
    std::optional<std::string> currentSessionId_;
    std::vector<std::shared_ptr<DAVSessionHistoryInfo>> history_;
};
