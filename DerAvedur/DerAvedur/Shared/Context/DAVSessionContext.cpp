#include "DerAvedur/DerAvedur/Shared/Context/DAVSessionContext.h"

#include "DerAvedur/DerAvedur/Internals/Context/DAVContextHistory.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/SharedInstance.h"

namespace {
constexpr const char* kHistoryKey = "SessionIdHistory";
}  // namespace

std::shared_ptr<DAVSessionContext> DAVSessionContext::sharedInstance() {
    return Foundation::SharedInstance<DAVSessionContext>::process().get();
}

void DAVSessionContext::resetSharedInstance() { Foundation::SharedInstance<DAVSessionContext>::process().reset(); }

DAVSessionContext::DAVSessionContext() : history_(DAVContextHistory::load<DAVSessionHistoryInfo>(kHistoryKey)) {}

std::optional<std::string> DAVSessionContext::sessionId() {
    std::lock_guard<std::mutex> guard(lock_);
    return currentSessionId_;
}

void DAVSessionContext::setSessionId(std::optional<std::string> sessionId) {
    std::lock_guard<std::mutex> guard(lock_);
    currentSessionId_ = sessionId;
    auto info = std::make_shared<DAVSessionHistoryInfo>();
    info->timestamp = Foundation::Date{Foundation::clock().now()};
    info->sessionId = std::move(sessionId);
    history_.push_back(info);
    DAVContextHistory::store(kHistoryKey, history_);
}

std::optional<std::string> DAVSessionContext::sessionIdAt(Foundation::Date date) {
    std::lock_guard<std::mutex> guard(lock_);
    auto info = DAVContextHistory::entryAt(history_, date);
    return info ? info->sessionId : std::nullopt;
}

void DAVSessionContext::clearSessionHistoryAndKeepCurrentSession(bool keepCurrentSession) {
    std::lock_guard<std::mutex> guard(lock_);
    std::shared_ptr<DAVSessionHistoryInfo> last = history_.empty() ? nullptr : history_.back();
    history_.clear();
    if (keepCurrentSession && last) history_.push_back(last);
    DAVContextHistory::store(kHistoryKey, history_);
}

std::vector<std::shared_ptr<DAVSessionHistoryInfo>> DAVSessionContext::sessionHistory() {
    std::lock_guard<std::mutex> guard(lock_);
    return history_;
}
