#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Nimbus/ErrorHandler.h"
#include "Nimbus/Keys.h"
#include "Platform/CloudKit/Types.h"

using Nimbus::ErrorHandler;
using Kind = ErrorHandler::OperationResult::Kind;
using Reason = ErrorHandler::FailReason;

namespace {

struct Row {
    long code;
    Kind kind;
    Reason reason;
    const char* textStart;  // the row's text up to its first colon (or all of it)
};

// Without a retry-after value.
const Row kTable[] = {
    {0, Kind::fail, Reason::unhandled, "Unhandled Error."},
    {1, Kind::fail, Reason::unhandled, "Internal Error:"},
    {2, Kind::recoverableError, Reason::partialFailure, "Partial Failure:"},
    {3, Kind::recoverableError, Reason::network, "Network Unavailable:"},
    {4, Kind::recoverableError, Reason::network, "Network Failure:"},
    {5, Kind::fail, Reason::unhandled, "Bad Container:"},
    {6, Kind::fail, Reason::unhandled, "Service Unavailable:"},
    {7, Kind::fail, Reason::unhandled, "Request Rate Limited:"},
    {8, Kind::fail, Reason::unhandled, "Missing Entitlement:"},
    {9, Kind::fail, Reason::unhandled, "Not Authenticated:"},
    {10, Kind::fail, Reason::unhandled, "Permission Failure:"},
    {11, Kind::fail, Reason::unhandled, "Unknown Item:"},
    {12, Kind::fail, Reason::unhandled, "Invalid Arguments:"},
    {13, Kind::fail, Reason::unhandled, "Unhandled Error."},
    {14, Kind::recoverableError, Reason::serverRecordChanged, "Server Record Changed:"},
    {15, Kind::fail, Reason::unhandled, "Server Rejected Request"},
    {16, Kind::fail, Reason::unhandled, "Asset File Not Found:"},
    {17, Kind::fail, Reason::unhandled, "Asset File Modified:"},
    {18, Kind::fail, Reason::unhandled, "Incompatible Version:"},
    {19, Kind::fail, Reason::unhandled, "Constraint Violation:"},
    {20, Kind::fail, Reason::unhandled, "Operation Cancelled:"},
    {21, Kind::recoverableError, Reason::changeTokenExpired, "Change Token Expired:"},
    {22, Kind::fail, Reason::unhandled, "Batch Request Failed:"},
    {23, Kind::fail, Reason::unhandled, "Zone Busy:"},
    {24, Kind::fail, Reason::unhandled, "Bad Database:"},
    {25, Kind::fail, Reason::quotaExceeded, "Quota Exceeded:"},
    {26, Kind::fail, Reason::unhandled, "Zone Not Found:"},
    {27, Kind::chunk, Reason::unhandled, "Limit Exceeded:"},
    {28, Kind::fail, Reason::unhandled, "User Deleted Zone:"},
    {29, Kind::fail, Reason::shareRelated, "Too Many Participants:"},
    {30, Kind::fail, Reason::shareRelated, "Already Shared:"},
    {31, Kind::fail, Reason::shareRelated, "Reference Violation:"},
    {32, Kind::fail, Reason::unhandled, "Managed Account Restricted:"},
    {33, Kind::fail, Reason::shareRelated, "Participant May Need Verification:"},
    {34, Kind::fail, Reason::unhandled, "Server Response Lost"},
    {35, Kind::fail, Reason::unhandled, "Unhandled Error."},
    {99, Kind::fail, Reason::unhandled, "Unhandled Error."},
};

}  // namespace

TEST(ErrorHandler, EveryCodeClassifiesAndDescribesAsItsRow) {
    ErrorHandler handler;
    for (const auto& row : kTable) {
        SCOPED_TRACE("code " + std::to_string(row.code));
        const std::string description = ErrorHandler::describe(row.code);
        EXPECT_EQ(description.rfind(row.textStart, 0), 0u) << description;
        const std::string suffix = "CKError.Code: " + std::to_string(row.code);
        ASSERT_GT(description.size(), suffix.size());
        EXPECT_EQ(description.substr(description.size() - suffix.size()), suffix);

        auto result = handler.classify(CloudKit::makeCKError(row.code));
        EXPECT_EQ(result.kind, row.kind);
        if (row.kind == Kind::recoverableError || row.kind == Kind::fail) {
            EXPECT_EQ(result.reason, row.reason);
            EXPECT_EQ(result.message, description);
        }
    }
    // The texts whose exact form matters.
    EXPECT_EQ(ErrorHandler::describe(4),
              "Network Failure: the internet connection appears to be offline.CKError.Code: 4");
    EXPECT_EQ(ErrorHandler::describe(11), "Unknown Item:  the specified record does not exist.CKError.Code: 11");
    EXPECT_EQ(ErrorHandler::describe(13), "Unhandled Error.CKError.Code: 13");
    EXPECT_EQ(ErrorHandler::describe(9),
              "Not Authenticated: to use this app, you must enable iCloud syncing. Go to device Settings, sign in to "
              "iCloud, then in the app settings, be sure the iCloud feature is enabled.CKError.Code: 9");
}

TEST(ErrorHandler, RetryAfterDecidesBetweenRetryAndFailure) {
    ErrorHandler handler;
    struct Case {
        std::optional<double> retryAfter;
        Kind kind;
        double after;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {3.0, Kind::retry, 3.0},       {0.5, Kind::retry, 0.5},
        {-4.0, Kind::retry, 0.0},  // negative counts as now
        {std::nullopt, Kind::fail, 0}, {std::nan(""), Kind::fail, 0},
        {inf, Kind::fail, 0},
    };
    for (long code : {6L, 7L, 23L}) {
        for (const auto& c : cases) {
            SCOPED_TRACE("code " + std::to_string(code) + " after " +
                         (c.retryAfter ? std::to_string(*c.retryAfter) : "none"));
            auto result = handler.classify(CloudKit::makeCKError(code, {}, c.retryAfter));
            EXPECT_EQ(result.kind, c.kind);
            if (c.kind == Kind::retry) {
                EXPECT_EQ(result.afterSeconds, c.after);
            } else {
                EXPECT_EQ(result.reason, Reason::unhandled);
            }
        }
    }
    // The delay may be any number, an integer included.
    auto error = CloudKit::makeCKError(7);
    error.userInfo.set(CloudKit::CKErrorRetryAfterKey, 3);
    EXPECT_EQ(handler.classify(error), ErrorHandler::OperationResult::retry(3.0, ErrorHandler::describe(7)));
}

TEST(ErrorHandler, NoErrorForeignErrorsAndPartialFailures) {
    ErrorHandler handler;
    EXPECT_EQ(handler.classify(std::nullopt).kind, Kind::success);

    auto foreign = handler.classify(Foundation::makeError("NSCocoaErrorDomain", 4, "No such file"));
    EXPECT_EQ(foreign.kind, Kind::fail);
    EXPECT_EQ(foreign.reason, Reason::unhandled);
    EXPECT_EQ(foreign.message, "The error returned is not a CKError");

    std::map<CloudKit::CKRecordID, CloudKit::CKError> items{
        {CloudKit::CKRecordID("a", CloudKit::CKRecordZoneID("Z")), CloudKit::makeCKError(26)}};
    for (const auto& error : {CloudKit::makePartialFailure(items), CloudKit::makeCKError(2)}) {
        auto result = handler.classify(error);
        EXPECT_EQ(result.kind, Kind::recoverableError);
        EXPECT_EQ(result.reason, Reason::partialFailure);
    }
}

TEST(ErrorHandler, RetriesRunOnTheMainQueueAtTheirTime) {
    auto exec = Foundation::TestExecutor::install();
    ErrorHandler handler;
    std::vector<std::string> order;
    bool onMain = false;
    Foundation::DispatchQueue::main()->async([&] {
        handler.scheduleRetry(0, [&] { order.push_back("retry"); });
        order.push_back("current");
    });
    exec->drain();
    EXPECT_EQ(order, (std::vector<std::string>{"current", "retry"}));  // asynchronous even at 0

    bool ran = false;
    auto worker = Foundation::DispatchQueue::makeSerial("cloud");
    worker->async([&] {
        handler.scheduleRetry(2.0, [&] {
            ran = true;
            onMain = Foundation::DispatchQueue::isMainThread();
        });
    });
    exec->drain();
    exec->advance(1.999);
    EXPECT_FALSE(ran);
    exec->advance(0.001);
    EXPECT_TRUE(ran);
    EXPECT_TRUE(onMain);
}

TEST(NimbusKeys, RawValuesAndNames) {
    EXPECT_EQ(Nimbus::value(Nimbus::NimbusKey::databaseChangesTokenKey), "nimbus.keys.databaseChangesTokenKey");
    EXPECT_EQ(Nimbus::value(Nimbus::NimbusKey::hasCustomZoneCreatedKey), "nimbus.keys.hasCustomZoneCreatedKey");
    EXPECT_EQ(Nimbus::nimbusKeyFromRawValue("subscriptionIsLocallyCachedKey"),
              Nimbus::NimbusKey::subscriptionIsLocallyCachedKey);
    EXPECT_FALSE(Nimbus::nimbusKeyFromRawValue("nimbus.keys.zoneChangesTokenKey"));
    EXPECT_EQ(Nimbus::name(Nimbus::Notifications::cloudKitNewData), "cloudKitNewData");
    EXPECT_EQ(Nimbus::notificationsFromRawValue("cloudKitDataDidChangeRemotely"),
              Nimbus::Notifications::cloudKitDataDidChangeRemotely);
    EXPECT_FALSE(Nimbus::notificationsFromRawValue("cloudkitnewdata"));
    EXPECT_STREQ(Nimbus::NimbusConstant::subscriptionID, "private_changes");
}
