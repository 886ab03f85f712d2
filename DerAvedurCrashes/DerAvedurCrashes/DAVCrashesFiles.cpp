// The service's own state on disk and in the user defaults: the log buffer of
// the crashed run, the memory-warning flag, the crash files and the analyzer
// marker, and the context history kept for the reports.
#include "DerAvedurCrashes/DerAvedurCrashes/DAVCrashes.h"

#include <algorithm>

#include "DerAvedur/DerAvedur/Shared/Context/DAVDeviceTracker.h"
#include "DerAvedur/DerAvedur/Shared/Context/DAVSessionContext.h"
#include "DerAvedur/DerAvedur/Shared/Context/DAVUserIdContext.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/DAVCrashesInternal.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/DAVCrashesLogBuffer.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Util/DAVCrashesUtil.h"

using namespace DAVCrashesInternal;

// --- log buffer, memory warnings, files -------------------------------------------------------------

void DAVCrashes::processLogBufferAfterCrash() {
    auto group = channelGroup();
    if (!group) return;
    std::shared_ptr<DAVChannelUnitProtocol> unit;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (!bufferChannelUnit_)
            bufferChannelUnit_ = group->addChannelUnitWithConfiguration(
                DAVChannelUnitConfiguration::initDefaultConfigurationWithGroupId(kBufferGroupId));
        unit = bufferChannelUnit_;
    }
    for (auto& buffered : DAVCrashesLogBuffer::takeLogsFromLastRun(targetTokenEncrypter_)) {
        if (!buffered.targetToken.empty()) buffered.log->addTransmissionTargetToken(buffered.targetToken);
        if (unit) unit->enqueueItem(buffered.log, DAVFlagsDefault);
    }
}

void DAVCrashes::processMemoryWarningInLastSession() {
    if (!isInstanceEnabled()) return;
    const bool warned = boolForKey(kMemoryWarningKey);
    {
        std::lock_guard<std::mutex> state(stateLock_);
        didReceiveMemoryWarningInLastSession_ = warned;
    }
    if (warned) DAVLogDebug(kDAVCrashesLogTag, "The application received a low memory warning in the last session.");
    DAVDerAvedurUserDefaults::shared().removeObjectForKey(kMemoryWarningKey);
}

void DAVCrashes::didReceiveMemoryWarning() {
    DAVLogDebug(kDAVCrashesLogTag, "The application received a low memory warning in the last session.");
    DAVDerAvedurUserDefaults::shared().setObject(Foundation::Value(true), kMemoryWarningKey);
}

void DAVCrashes::deleteAllFromCrashesDirectory() {
    DAVUtility::deleteItemForPathComponent(crashesPathComponent_);
    // The next use makes the directory again.
    DAVCrashesUtil::resetDirectory();
    std::lock_guard<std::mutex> state(stateLock_);
    crashFiles_.clear();
}

void DAVCrashes::removeAnalyzerFile() {
    if (DAVUtility::fileExistsForPathComponent(analyzerInProgressFilePathComponent()))
        DAVUtility::deleteItemForPathComponent(analyzerInProgressFilePathComponent());
}

void DAVCrashes::removeCrashFile(const std::string& path) {
    DAVUtility::deleteFileAtURL(path);
    std::lock_guard<std::mutex> state(stateLock_);
    crashFiles_.erase(std::remove(crashFiles_.begin(), crashFiles_.end(), path), crashFiles_.end());
}

void DAVCrashes::clearUnprocessedReports() {
    std::lock_guard<std::mutex> state(stateLock_);
    if (unprocessed_) unprocessed_->clear();
}

void DAVCrashes::signalDelayedProcessingDone() {
    {
        std::lock_guard<std::mutex> guard(processedLock_);
        delayedProcessingDone_ = true;
    }
    processedChanged_.notify_all();
}

void DAVCrashes::clearContextHistoryAndKeepCurrentSession() {
    DAVDeviceTracker::sharedInstance()->clearDevices();
    DAVSessionContext::sharedInstance()->clearSessionHistoryAndKeepCurrentSession(true);
    DAVUserIdContext::sharedInstance()->clearUserIdHistory();
}
