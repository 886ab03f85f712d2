#include "DerAvedurCrashes/DerAvedurCrashes/Internals/WrapperSDK/DAVWrapperCrashesHelper.h"

#include <mutex>

#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurCrashes/DerAvedurCrashes/DAVCrashes.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Util/DAVCrashesUtil.h"

namespace {

std::mutex& delegateLock() {
    static std::mutex lock;
    return lock;
}
std::weak_ptr<DAVCrashHandlerSetupDelegate> gSetupDelegate;

}  // namespace

void DAVWrapperCrashesHelper::setCrashHandlerSetupDelegate(
    const std::shared_ptr<DAVCrashHandlerSetupDelegate>& delegate) {
    std::lock_guard<std::mutex> guard(delegateLock());
    gSetupDelegate = delegate;
}

std::shared_ptr<DAVCrashHandlerSetupDelegate> DAVWrapperCrashesHelper::crashHandlerSetupDelegate() {
    std::lock_guard<std::mutex> guard(delegateLock());
    return gSetupDelegate.lock();
}

void DAVWrapperCrashesHelper::setAutomaticProcessing(bool automaticProcessing) {
    DAVCrashes::sharedInstance()->setAutomaticProcessingEnabled(automaticProcessing);
}

std::vector<std::shared_ptr<DAVErrorReport>> DAVWrapperCrashesHelper::unprocessedCrashReports() {
    return DAVCrashes::sharedInstance()->unprocessedCrashReports();
}

bool DAVWrapperCrashesHelper::sendCrashReportsOrAwaitUserConfirmationForFilteredIds(
    const std::vector<std::string>& filteredIds) {
    return DAVCrashes::sharedInstance()->sendCrashReportsOrAwaitUserConfirmationForFilteredIds(filteredIds);
}

std::optional<std::string> DAVWrapperCrashesHelper::trackModelException(
    const std::shared_ptr<DAVException>& exception, const Foundation::Dictionary& properties,
    const std::vector<std::shared_ptr<DAVErrorAttachmentLog>>& attachments) {
    return DAVCrashes::sharedInstance()->trackModelException(exception, properties, attachments);
}

std::shared_ptr<DAVErrorReport> DAVWrapperCrashesHelper::buildHandledErrorReportWithErrorID(
    const std::string& errorId) {
    return DAVCrashes::sharedInstance()->buildHandledErrorReportWithErrorID(errorId);
}

void DAVWrapperExceptionManager::deleteAllWrapperExceptions() {
    if (auto entries = DAVUtility::contentsOfDirectory(DAVCrashesUtil::wrapperExceptionsDir()))
        for (const std::string& path : *entries) DAVUtility::deleteFileAtURL(path);
}

void DAVWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(const std::optional<std::string>&) {}

void DAVWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport(
    const std::vector<std::shared_ptr<DAVErrorReport>>&) {}
