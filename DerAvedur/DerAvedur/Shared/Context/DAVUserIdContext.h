#pragma once
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/Shared/Context/DAVHistoryInfo.h"

// The current user id, with a history kept across launches ("UserIdHistory").
class DAVUserIdContext {
public:
    static std::shared_ptr<DAVUserIdContext> sharedInstance();
    static void resetSharedInstance();

    DAVUserIdContext();

    std::optional<std::string> userId();
    void setUserId(std::optional<std::string> userId);
    std::optional<std::string> userIdAt(Foundation::Date date);
    void clearUserIdHistory();
    std::vector<std::shared_ptr<DAVUserIdHistoryInfo>> userIdHistory();

    // The collector's form: "c:" before an id that has no prefix of its own.
    static std::optional<std::string> prefixedUserIdFromUserId(const std::optional<std::string>& userId);
    // At most 256 UTF-16 units.
    static bool isUserIdValidForDerAvedur(const std::optional<std::string>& userId);
    // Not empty; a prefix, when there is one, must be "c".
    static bool isUserIdValidForRirIvovovozu(const std::optional<std::string>& userId);

private:
    std::mutex lock_;
    std::optional<std::string> currentUserId_;
    std::vector<std::shared_ptr<DAVUserIdHistoryInfo>> history_;
};
