#pragma once
// The crashes service's entry points for wrapper SDKs. No wrapper SDK runs
// here; the entry points exist so that one could, and they reach the
// service's own methods.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DerAvedurCrashes/DerAvedurCrashes/DAVErrorAttachmentLog.h"
#include "DerAvedurCrashes/DerAvedurCrashes/DAVErrorReport.h"
#include "Platform/Foundation/Value.h"

class DAVException;

// Told around the installation of the crash handlers; all optional.
class DAVCrashHandlerSetupDelegate {
public:
    virtual ~DAVCrashHandlerSetupDelegate() = default;
    virtual void willSetUpCrashHandlers() {}
    virtual void didSetUpCrashHandlers() {}
    // false: the wrapper installs its own uncaught-exception handling.
    virtual bool shouldEnableUncaughtExceptionHandler() { return true; }
};

class DAVWrapperCrashesHelper {
public:
    // Held weakly.
    static void setCrashHandlerSetupDelegate(const std::shared_ptr<DAVCrashHandlerSetupDelegate>& delegate);
    static std::shared_ptr<DAVCrashHandlerSetupDelegate> crashHandlerSetupDelegate();

    static void setAutomaticProcessing(bool automaticProcessing);
    static std::vector<std::shared_ptr<DAVErrorReport>> unprocessedCrashReports();
    static bool sendCrashReportsOrAwaitUserConfirmationForFilteredIds(const std::vector<std::string>& filteredIds);
    static std::optional<std::string> trackModelException(
        const std::shared_ptr<DAVException>& exception, const Foundation::Dictionary& properties,
        const std::vector<std::shared_ptr<DAVErrorAttachmentLog>>& attachments);
    static std::shared_ptr<DAVErrorReport> buildHandledErrorReportWithErrorID(const std::string& errorId);
};

// Exceptions a wrapper SDK saves before a crash, to be joined to the crash's
// report at the next start. Without wrapper SDKs none are ever saved: the
// correlation has nothing to join, and deleting clears the directory.
class DAVWrapperExceptionManager {
public:
    static void deleteAllWrapperExceptions();
    static void deleteWrapperExceptionWithUUIDString(const std::optional<std::string>& uuid);
    static void correlateLastSavedWrapperExceptionToReport(const std::vector<std::shared_ptr<DAVErrorReport>>& reports);
};
