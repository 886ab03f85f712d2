#include "Nimbus/ErrorHandler.h"

#include <cmath>

#include "Nimbus/Nimbus.h"
#include "Platform/CloudKit/Types.h"
#include "Platform/Foundation/Text.h"

namespace Nimbus {

namespace {

const char* rowText(long code) {
    static const char* const kAccountText =
        "to use this app, you must enable iCloud syncing. Go to device Settings, sign in to iCloud, then in the app "
        "settings, be sure the iCloud feature is enabled.";
    switch (code) {
        case 1:
            return "Internal Error: a nonrecoverable error was encountered by CloudKit.";
        case 2:
            return "Partial Failure: some items failed, but the operation succeeded overall.";
        case 3:
            return "Network Unavailable: the internet connection appears to be offline.";
        case 4:
            return "Network Failure: the internet connection appears to be offline.";
        case 5:
            return "Bad Container: the specified container is unknown or unauthorized.";
        case 6:
            return "Service Unavailable: Please try again.";
        case 7:
            return "Request Rate Limited: transfers to and from the server are being rate limited at this time.";
        case 8:
            return "Missing Entitlement: the app is missing a required entitlement.";
        case 9: {
            static const std::string text = std::string("Not Authenticated: ") + kAccountText;
            return text.c_str();
        }
        case 10: {
            static const std::string text = std::string("Permission Failure: ") + kAccountText;
            return text.c_str();
        }
        case 11:
            return "Unknown Item:  the specified record does not exist.";
        case 12:
            return "Invalid Arguments: the specified request contains bad information.";
        case 14:
            return "Server Record Changed: the record was rejected because the version on the server is different.";
        case 15:
            return "Server Rejected Request";
        case 16:
            return "Asset File Not Found: the specified asset file is not found.";
        case 17:
            return "Asset File Modified: the content of the specified asset file was modified while being saved.";
        case 18:
            return "Incompatible Version: your app version is older than the oldest version allowed.";
        case 19:
            return "Constraint Violation: the server rejected the request because of a conflict with a unique field.";
        case 20:
            return "Operation Cancelled: the operation was explicitly canceled.";
        case 21:
            return "Change Token Expired: the previous server change token is too old.";
        case 22:
            return "Batch Request Failed: the entire batch was rejected.";
        case 23:
            return "Zone Busy: the server is too busy to handle the zone operation.";
        case 24:
            return "Bad Database: the operation could not be completed on the given database.";
        case 25:
            return "Quota Exceeded: saving would exceed your current iCloud storage quota.";
        case 26:
            return "Zone Not Found: the specified record zone does not exist on the server.";
        case 27:
            return "Limit Exceeded: the request to the server is too large.";
        case 28:
            return "User Deleted Zone: the user has deleted this zone from the settings UI.";
        case 29:
            return "Too Many Participants: a share cannot be saved because too many participants are attached to the "
                   "share.";
        case 30:
            return "Already Shared: a record or share cannot be saved because doing so would cause the same hierarchy "
                   "of records to exist in multiple shares.";
        case 31:
            return "Reference Violation: the target of a record's parent or share reference was not found.";
        case 32:
            return "Managed Account Restricted: the request was rejected due to a managed-account restriction.";
        case 33:
            return "Participant May Need Verification: you are not a member of the share.";
        case 34:
            return "Server Response Lost";
        default:
            return "Unhandled Error.";
    }
}

// The standard text of a double, as the platform prints one ("3.0", "0.5").
std::string doubleText(double value) {
    std::string text = Foundation::format("%.17g", value);
    // Shortest form that reads back the same.
    for (int precision = 1; precision <= 17; ++precision) {
        std::string candidate = Foundation::format("%.*g", precision, value);
        if (std::strtod(candidate.c_str(), nullptr) == value) {
            text = candidate;
            break;
        }
    }
    if (text.find_first_of(".eninf") == std::string::npos) text += ".0";
    return text;
}

}  // namespace

std::string ErrorHandler::describe(long code) {
    return std::string(rowText(code)) + "CKError.Code: " + std::to_string(code);
}

ErrorHandler::OperationResult ErrorHandler::classify(const std::optional<Foundation::Error>& error) const {
    using R = OperationResult;
    if (!error) return R::success();
    if (!CloudKit::isCKError(*error)) return R::fail(FailReason::unhandled, "The error returned is not a CKError");

    const long code = error->code;
    std::string message = describe(code);
    switch (code) {
        case CloudKit::CKErrorPartialFailure: {
            if (const auto* items = error->userInfo[CloudKit::CKPartialErrorsByItemIDKey].dictionaryOrNull()) {
                debugLog("ErrorHandler.partialFailure for " + std::to_string(items->size()) +
                         " items; CKPartialErrorsByItemIDKey: " + Foundation::Value(*items).debugDescription());
            }
            return R::recoverableError(FailReason::partialFailure, message);
        }
        case CloudKit::CKErrorNetworkUnavailable:
        case CloudKit::CKErrorNetworkFailure:
            debugLog("ErrorHandler.recoverableError: " + message);
            return R::recoverableError(FailReason::network, message);
        case CloudKit::CKErrorServiceUnavailable:
        case CloudKit::CKErrorRequestRateLimited:
        case CloudKit::CKErrorZoneBusy: {
            // A negative delay means "now"; NaN or infinity is no delay at all.
            std::optional<double> delay = error->userInfo[CloudKit::CKErrorRetryAfterKey].numberValue();
            if (!delay || !std::isfinite(*delay)) return R::fail(FailReason::unhandled, message);
            double seconds = std::max(0.0, *delay);
            debugLog("ErrorHandler - " + message + ". Should retry in " + doubleText(seconds) + " seconds.");
            return R::retry(seconds, message);
        }
        case CloudKit::CKErrorServerRecordChanged:
            debugLog("ErrorHandler.recoverableError: " + message);
            return R::recoverableError(FailReason::serverRecordChanged, message);
        case CloudKit::CKErrorChangeTokenExpired:
            debugLog("ErrorHandler.recoverableError: " + message);
            return R::recoverableError(FailReason::changeTokenExpired, message);
        case CloudKit::CKErrorQuotaExceeded:
            debugLog("ErrorHandler.Fail: " + message);
            return R::fail(FailReason::quotaExceeded, message);
        case CloudKit::CKErrorLimitExceeded:
            debugLog("ErrorHandler.Chunk: " + message);
            return R::chunk();
        case CloudKit::CKErrorTooManyParticipants:
        case CloudKit::CKErrorAlreadyShared:
        case CloudKit::CKErrorReferenceViolation:
        case CloudKit::CKErrorParticipantMayNeedVerification:
            debugLog("ErrorHandler.Fail: " + message);
            return R::fail(FailReason::shareRelated, message);
        default:
            debugLog("ErrorHandler.Fail: " + message);
            return R::fail(FailReason::unhandled, message);
    }
}

void ErrorHandler::scheduleRetry(double seconds, Foundation::Task block,
                                 std::shared_ptr<Foundation::DispatchQueue> mainQueue) const {
    if (!mainQueue) mainQueue = Foundation::DispatchQueue::main();
    mainQueue->after(std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0, std::move(block));
}

}  // namespace Nimbus
