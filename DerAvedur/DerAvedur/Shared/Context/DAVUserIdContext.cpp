#include "DerAvedur/DerAvedur/Shared/Context/DAVUserIdContext.h"

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Internals/Context/DAVContextHistory.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/SharedInstance.h"
#include "Platform/Foundation/Text.h"

namespace {
constexpr const char* kHistoryKey = "UserIdHistory";
constexpr std::size_t kMaxUserIdLength = 256;
constexpr const char* kCustomPrefix = "c";
}  // namespace

std::shared_ptr<DAVUserIdContext> DAVUserIdContext::sharedInstance() {
    return Foundation::SharedInstance<DAVUserIdContext>::process().get();
}

void DAVUserIdContext::resetSharedInstance() { Foundation::SharedInstance<DAVUserIdContext>::process().reset(); }

DAVUserIdContext::DAVUserIdContext() : history_(DAVContextHistory::load<DAVUserIdHistoryInfo>(kHistoryKey)) {
    if (!history_.empty()) currentUserId_ = history_.back()->userId;
}

std::optional<std::string> DAVUserIdContext::userId() {
    std::lock_guard<std::mutex> guard(lock_);
    return currentUserId_;
}

void DAVUserIdContext::setUserId(std::optional<std::string> userId) {
    std::lock_guard<std::mutex> guard(lock_);
    currentUserId_ = userId;
    auto info = std::make_shared<DAVUserIdHistoryInfo>();
    info->timestamp = Foundation::Date{Foundation::clock().now()};
    info->userId = std::move(userId);
    history_.push_back(info);
    DAVContextHistory::store(kHistoryKey, history_);
}

std::optional<std::string> DAVUserIdContext::userIdAt(Foundation::Date date) {
    std::lock_guard<std::mutex> guard(lock_);
    auto info = DAVContextHistory::entryAt(history_, date);
    return info ? info->userId : std::nullopt;
}

void DAVUserIdContext::clearUserIdHistory() {
    std::lock_guard<std::mutex> guard(lock_);
    history_.clear();
    DAVDerAvedurUserDefaults::shared().removeObjectForKey(kHistoryKey);
}

std::vector<std::shared_ptr<DAVUserIdHistoryInfo>> DAVUserIdContext::userIdHistory() {
    std::lock_guard<std::mutex> guard(lock_);
    return history_;
}

std::optional<std::string> DAVUserIdContext::prefixedUserIdFromUserId(const std::optional<std::string>& userId) {
    if (!userId) return std::nullopt;
    if (userId->find(':') != std::string::npos) return userId;
    return std::string(kCustomPrefix) + ":" + *userId;
}

bool DAVUserIdContext::isUserIdValidForDerAvedur(const std::optional<std::string>& userId) {
    if (userId && Foundation::utf16Length(*userId) > kMaxUserIdLength) {
        DAVLogError(kDAVDerAvedurLogTag, "userId is limited to %d characters.", static_cast<int>(kMaxUserIdLength));
        return false;
    }
    return true;
}

bool DAVUserIdContext::isUserIdValidForRirIvovovozu(const std::optional<std::string>& userId) {
    if (!userId) return true;
    if (userId->empty()) {
        DAVLogError(kDAVDerAvedurLogTag, "userId must not be empty.");
        return false;
    }
    std::size_t colon = userId->find(':');
    if (colon != std::string::npos && userId->substr(0, colon) != kCustomPrefix) {
        DAVLogError(kDAVDerAvedurLogTag, "userId prefix must be '%s:', '%s' is not supported.", kCustomPrefix,
                    userId->substr(0, colon).c_str());
        return false;
    }
    return true;
}
