#pragma once
// Classification of cloud errors into what the sync engine should do next,
// the description text of every cloud error code, and retries on the main
// queue after the delay the server asked for.

#include <memory>
#include <optional>
#include <string>

#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Error.h"

namespace Nimbus {

struct ErrorHandler {
    enum class FailReason {
        changeTokenExpired,
        network,
        quotaExceeded,
        partialFailure,
        serverRecordChanged,
        shareRelated,
        unhandled,
    };

    struct OperationResult {
        enum class Kind { success, retry, chunk, recoverableError, fail };
        Kind kind = Kind::success;
        double afterSeconds = 0;                    // retry
        FailReason reason = FailReason::unhandled;  // recoverableError, fail
        std::string message;                        // retry, recoverableError, fail

        static OperationResult success() { return {}; }
        static OperationResult retry(double afterSeconds, std::string message) {
            return {Kind::retry, afterSeconds, FailReason::unhandled, std::move(message)};
        }
        static OperationResult chunk() { return {Kind::chunk, 0, FailReason::unhandled, {}}; }
        static OperationResult recoverableError(FailReason reason, std::string message) {
            return {Kind::recoverableError, 0, reason, std::move(message)};
        }
        static OperationResult fail(FailReason reason, std::string message) {
            return {Kind::fail, 0, reason, std::move(message)};
        }
        friend bool operator==(const OperationResult&, const OperationResult&) = default;
    };

    // Pure; runs on whichever cloud queue delivered the error.
    OperationResult classify(const std::optional<Foundation::Error>& error) const;
    // The row text of the code followed directly by "CKError.Code: " and the code.
    static std::string describe(long code);
    // Runs `block` once on `mainQueue` (the main queue when none) after
    // `seconds` of the clock; asynchronously even for 0.
    void scheduleRetry(double seconds, Foundation::Task block,
                       std::shared_ptr<Foundation::DispatchQueue> mainQueue = nullptr) const;
};

}  // namespace Nimbus
