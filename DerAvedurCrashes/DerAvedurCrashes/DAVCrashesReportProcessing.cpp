// Processing the previous run's crash reports: finding and converting them,
// asking the user (or the delegate) before sending, attachments, and the entry
// points wrapper SDKs drive the same processing through.
#include "DerAvedurCrashes/DerAvedurCrashes/DAVCrashes.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "DerAvedur/DerAvedur/Shared/Context/DAVDeviceTracker.h"
#include "DerAvedur/DerAvedur/Shared/Context/DAVSessionContext.h"
#include "DerAvedur/DerAvedur/Shared/Context/DAVUserIdContext.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVDispatcherUtil.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/DAVCrashesInternal.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVCrashesCodingClasses.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVHandledErrorLog.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Util/DAVCrashesUtil.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Util/DAVErrorLogFormatter.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/WrapperSDK/DAVWrapperCrashesHelper.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Text.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReport.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReporter.h"

namespace {

// Seconds between 1970 and 2001, the epoch the saved reports are named by.
constexpr double kReferenceDateOffset = 978307200.0;

// Runs the block on the main thread and waits for its answer; inline when
// already there, so a caller on the main thread cannot deadlock.
bool onMainThreadAndWait(const std::function<bool()>& block) {
    if (Foundation::DispatchQueue::isMainThread()) return block();
    bool answer = false;
    Foundation::DispatchQueue::main()->sync([&] { answer = block(); });
    return answer;
}

bool hasIgnoredSuffix(const std::string& name) {
    static const char* const kSuffixes[] = {".DS_Store", ".analyzer", ".plist", ".data", ".meta", ".desc"};
    for (const char* suffix : kSuffixes) {
        const std::size_t length = std::char_traits<char>::length(suffix);
        if (name.size() >= length && name.compare(name.size() - length, length, suffix) == 0) return true;
    }
    // The file utility's atomic writes go through "<name>.tmp-<uuid>"; one left
    // by a write that died is no report.
    return name.find(".tmp-") != std::string::npos;
}

std::string lastPathComponent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::optional<Foundation::Data> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return Foundation::Data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

using namespace DAVCrashesInternal;

// --- the previous run's report -----------------------------------------------------------

std::string DAVCrashes::analyzerInProgressFilePathComponent() const {
    return crashesPathComponent_ + "/" + kAnalyzerFileName;
}

std::string DAVCrashes::crashesDirectory() const { return *DAVUtility::fullURLForPathComponent(crashesPathComponent_); }

void DAVCrashes::handleLatestCrashReport() {
    // The pending report goes only once it is saved, or found unreadable or
    // undecodable: a failed save keeps it for the next start.
    bool purge = true;
    if (DAVUtility::fileExistsForPathComponent(analyzerInProgressFilePathComponent())) {
        DAVLogError(kDAVCrashesLogTag, "Error on loading the crash report, it will be purged.");
    } else {
        if (!DAVUtility::createFileAtPathComponent(analyzerInProgressFilePathComponent(), Foundation::Data(), false,
                                                   true))
            DAVLogError(kDAVCrashesLogTag, "Couldn't create crash analyzer file.");
        VXCrashReporterError loadError;
        auto data = vxCrashReporter_->loadPendingCrashReportData(&loadError);
        if (!data) {
            DAVLogError(kDAVCrashesLogTag, "Couldn't load crash report: %s", loadError.localizedDescription.c_str());
        } else {
            VXCrashReporterError decodeError;
            auto report = VXCrashReport::initWithData(*data, &decodeError);
            if (!report) {
                DAVLogWarning(kDAVCrashesLogTag, "Couldn't parse crash report: %s",
                              decodeError.localizedDescription.c_str());
            } else {
                // Named by the second; a crash loop saves several in one second,
                // and none may take another's place.
                const std::string base = Foundation::format("%.0f", Foundation::clock().now() - kReferenceDateOffset);
                std::string name = base;
                for (int suffix = 1; DAVUtility::fileExistsForPathComponent(crashesPathComponent_ + "/" + name);
                     ++suffix)
                    name = base + "-" + std::to_string(suffix);
                auto saved =
                    DAVUtility::createFileAtPathComponent(crashesPathComponent_ + "/" + name, *data, true, false);
                if (!saved) {
                    DAVLogError(kDAVCrashesLogTag, "Couldn't save the crash report; it is kept for the next start.");
                    purge = false;
                }
                auto errorReport = DAVErrorLogFormatter::errorReportFromCrashReport(*report);
                {
                    std::lock_guard<std::mutex> state(stateLock_);
                    lastSessionCrashReport_ = errorReport;
                }
                DAVWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport({errorReport});
            }
        }
    }
    removeAnalyzerFile();
    if (purge) vxCrashReporter_->purgePendingCrashReport();
}

std::vector<std::string> DAVCrashes::persistedCrashReports() {
    std::vector<std::string> files;
    auto entries = DAVUtility::contentsOfDirectory(DAVCrashesUtil::crashesDir());
    if (!entries) {
        DAVLogError(kDAVCrashesLogTag, "No persisted crashes found.");
        return files;
    }
    for (const std::string& path : *entries) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) continue;
        if (hasIgnoredSuffix(lastPathComponent(path))) continue;
        files.push_back(path);
    }
    return files;
}

void DAVCrashes::startDelayedCrashProcessing() {
    std::weak_ptr<DAVCrashes> weakSelf = shared_from_this();
    Foundation::DispatchQueue::global()->after(kProcessingDelay, [weakSelf] {
        auto crashes = weakSelf.lock();
        if (!crashes) return;
        if (crashes->automaticProcessingEnabled() && DAVUtility::applicationState() == 2) {
            DAVLogWarning(kDAVCrashesLogTag,
                          "Crashes will not be processed because the application is in the "
                          "background.");
            return;
        }
        bool run = false;
        {
            std::lock_guard<std::mutex> guard(processingGuardLock());
            run = !gDelayedProcessingRan;
            gDelayedProcessingRan = true;
        }
        if (run) crashes->startCrashProcessing();
        crashes->signalDelayedProcessingDone();
    });
}

void DAVCrashes::applicationWillEnterForeground() {
    bool pending;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        pending = !crashFiles_.empty();
    }
    if (pending) startDelayedCrashProcessing();
}

void DAVCrashes::startCrashProcessing() {
    DAVLogDebug(kDAVCrashesLogTag, "Start delayed CrashManager processing");
    VXCrashUncaughtExceptionHandler handler;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        handler = exceptionHandler_;
    }
    if (handler && handler != vxcrash_get_uncaught_exception_handler())
        DAVLogWarning(kDAVCrashesLogTag,
                      "Another exception handler was added. If this invokes any kind of exit() after processing the "
                      "exception, which causes any subsequent error handler not to be invoked, these crashes will NOT "
                      "be reported to Der Avedur!");
    processCrashReports();
}

void DAVCrashes::processCrashReports() {
    if (!isInstanceEnabled()) {
        DAVLogDebug(kDAVCrashesLogTag, "Crashes service is disabled; discard all crash reports");
        deleteAllFromCrashesDirectory();
        DAVWrapperExceptionManager::deleteAllWrapperExceptions();
        return;
    }
    std::vector<std::string> files;
    bool automatic;
    std::shared_ptr<DAVCrashesDelegate> delegate;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        files = crashFiles_;
        automatic = automaticProcessingEnabled_;
        delegate = delegate_.lock();
    }

    struct Decoded {
        std::string path;
        std::shared_ptr<VXCrashReport> report;
        std::shared_ptr<DAVErrorReport> errorReport;
    };
    std::vector<Decoded> decoded;
    std::vector<std::shared_ptr<DAVErrorReport>> errorReports;
    for (const std::string& path : files) {
        auto data = readFile(path);
        if (!data || data->empty()) continue;
        VXCrashReporterError error;
        auto report = VXCrashReport::initWithData(*data, &error);
        if (!report) {
            DAVLogWarning(kDAVCrashesLogTag, "Crash report found but couldn't parse it, discard the crash report: %s",
                          error.localizedDescription.c_str());
            continue;
        }
        auto errorReport = DAVErrorLogFormatter::errorReportFromCrashReport(*report);
        decoded.push_back({path, report, errorReport});
        errorReports.push_back(errorReport);
    }
    DAVWrapperExceptionManager::correlateLastSavedWrapperExceptionToReport(errorReports);

    std::vector<Unprocessed> unprocessed;
    for (const Decoded& entry : decoded) {
        DAVLogVerbose(kDAVCrashesLogTag, "Crash reports found");
        auto log = DAVErrorLogFormatter::errorLogFromCrashReport(*entry.report);
        const std::string description = entry.errorReport->incidentIdentifier().value_or("");
        if (automatic && delegate && !delegate->crashesShouldProcessErrorReport(*this, entry.errorReport)) {
            DAVLogDebug(kDAVCrashesLogTag, "shouldProcessErrorReport returned NO, discard the crash report: %s",
                        description.c_str());
            DAVWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(entry.errorReport->incidentIdentifier());
            removeCrashFile(entry.path);
            continue;
        }
        if (automatic) {
            DAVLogDebug(kDAVCrashesLogTag,
                        "shouldProcessErrorReport is not implemented or returned YES, processing the crash report: %s",
                        description.c_str());
        } else {
            DAVLogDebug(kDAVCrashesLogTag,
                        "Automatic crash processing is disabled, storing the crash report for later processing: %s",
                        description.c_str());
        }
        unprocessed.push_back({log, entry.errorReport, entry.path});
    }
    {
        std::lock_guard<std::mutex> state(stateLock_);
        unprocessed_ = std::move(unprocessed);
    }
    if (automatic) sendCrashReportsOrAwaitUserConfirmation();
}

bool DAVCrashes::sendCrashReportsOrAwaitUserConfirmation() {
    const bool alwaysSend = boolForKey(kUserConfirmationKey);
    std::vector<std::shared_ptr<DAVErrorReport>> reports;
    bool automatic;
    DAVUserConfirmationHandler handler;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        if (!unprocessed_ || unprocessed_->empty()) return alwaysSend;
        for (const Unprocessed& entry : *unprocessed_) reports.push_back(entry.report);
        automatic = automaticProcessingEnabled_;
        handler = userConfirmationHandler_;
    }
    if (alwaysSend) {
        DAVLogDebug(kDAVCrashesLogTag,
                    "The flag for user confirmation is set to DAVUserConfirmationAlways, continue "
                    "sending logs");
        handleUserConfirmation(DAVUserConfirmationSend);
        return alwaysSend;
    }
    if (!automatic) {
        DAVLogDebug(kDAVCrashesLogTag,
                    "Automatic crash processing is disabled and \"AlwaysSend\" is false. Awaiting user confirmation.");
        return alwaysSend;
    }
    if (handler && onMainThreadAndWait([&] { return handler(reports); })) return alwaysSend;
    DAVLogDebug(kDAVCrashesLogTag,
                "The user confirmation handler is not implemented or returned NO, continue sending logs");
    handleUserConfirmation(DAVUserConfirmationSend);
    return alwaysSend;
}

void DAVCrashes::notifyWithUserConfirmationInstance(DAVUserConfirmation userConfirmation) {
    {
        std::lock_guard<std::mutex> state(stateLock_);
        if (!userConfirmationHandler_ && !unprocessed_) {
            DAVLogError(kDAVCrashesLogTag,
                        "Incorrect usage of notifyWithUserConfirmation: it should only be called from "
                        "userConfirmationHandler. For more information refer to the documentation.");
            return;
        }
    }
    handleUserConfirmation(userConfirmation);
}

void DAVCrashes::handleUserConfirmation(DAVUserConfirmation userConfirmation) {
    std::vector<Unprocessed> entries;
    std::shared_ptr<DAVCrashesDelegate> delegate;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        if (unprocessed_) entries.swap(*unprocessed_);
        delegate = delegate_.lock();
    }
    if (userConfirmation == DAVUserConfirmationAlways) {
        DAVDerAvedurUserDefaults::shared().setObject(Foundation::Value(true), kUserConfirmationKey);
        userConfirmation = DAVUserConfirmationSend;
    }
    if (userConfirmation == DAVUserConfirmationDontSend) {
        for (const Unprocessed& entry : entries) {
            removeCrashFile(entry.filePath);
            DAVWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(entry.report->incidentIdentifier());
        }
    } else {
        auto unit = channelUnit();
        for (const Unprocessed& entry : entries) {
            std::optional<std::vector<std::shared_ptr<DAVErrorAttachmentLog>>> attachments;
            if (delegate) attachments = delegate->attachmentsWithCrashes(*this, entry.report);
            if (!attachments) DAVLogDebug(kDAVCrashesLogTag, "attachmentsWithCrashes is not implemented");
            // The session and user of the crashed run, not of this one.
            if (auto timestamp = entry.log->timestamp()) {
                entry.log->setSid(DAVSessionContext::sharedInstance()->sessionIdAt(*timestamp));
                entry.log->setUserId(DAVUserIdContext::sharedInstance()->userIdAt(*timestamp));
            }
            if (unit) unit->enqueueItem(entry.log, DAVFlagsCritical);
            if (attachments)
                sendErrorAttachmentsInstance(*attachments, entry.report->incidentIdentifier().value_or(""));
            removeCrashFile(entry.filePath);
            DAVWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(entry.report->incidentIdentifier());
        }
    }
    clearContextHistoryAndKeepCurrentSession();
}

void DAVCrashes::sendErrorAttachmentsInstance(const std::vector<std::shared_ptr<DAVErrorAttachmentLog>>& attachments,
                                              const std::string& incidentIdentifier) {
    auto unit = channelUnit();
    for (const auto& attachment : attachments) {
        if (!attachment) continue;
        attachment->errorId = incidentIdentifier;
        if (!validatePropertiesForAttachment(*attachment)) {
            DAVLogError(kDAVCrashesLogTag, "Not all required fields are present in DAVErrorAttachmentLog.");
            continue;
        }
        if (attachment->data->size() > kMaxAttachmentSize) {
            DAVLogError(kDAVCrashesLogTag, "Discarding attachment with size above %u bytes: size=%zu, fileName=%s.",
                        static_cast<unsigned>(kMaxAttachmentSize), attachment->data->size(),
                        attachment->filename ? attachment->filename->c_str() : "(null)");
            continue;
        }
        if (unit) unit->enqueueItem(attachment, DAVFlagsNormal);
    }
}

// --- wrapper SDKs ----------------------------------------------------------------------------

std::vector<std::shared_ptr<DAVErrorReport>> DAVCrashes::unprocessedCrashReports() {
    {
        std::unique_lock<std::mutex> guard(processedLock_);
        processedChanged_.wait(guard, [&] { return delayedProcessingDone_ || !enabled_; });
    }
    std::vector<std::shared_ptr<DAVErrorReport>> reports;
    std::lock_guard<std::mutex> state(stateLock_);
    if (unprocessed_)
        for (const Unprocessed& entry : *unprocessed_) reports.push_back(entry.report);
    return reports;
}

bool DAVCrashes::sendCrashReportsOrAwaitUserConfirmationForFilteredIds(const std::vector<std::string>& filteredIds) {
    std::vector<Unprocessed> dropped;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        if (unprocessed_) {
            auto keep = std::stable_partition(unprocessed_->begin(), unprocessed_->end(), [&](const Unprocessed& e) {
                const auto id = e.report->incidentIdentifier();
                return id && std::find(filteredIds.begin(), filteredIds.end(), *id) != filteredIds.end();
            });
            dropped.assign(std::make_move_iterator(keep), std::make_move_iterator(unprocessed_->end()));
            unprocessed_->erase(keep, unprocessed_->end());
        }
    }
    for (const Unprocessed& entry : dropped) {
        DAVWrapperExceptionManager::deleteWrapperExceptionWithUUIDString(entry.report->incidentIdentifier());
        removeCrashFile(entry.filePath);
    }
    return sendCrashReportsOrAwaitUserConfirmation();
}

std::optional<std::string> DAVCrashes::trackModelException(
    const std::shared_ptr<DAVException>& exception, const Foundation::Dictionary& properties,
    const std::vector<std::shared_ptr<DAVErrorAttachmentLog>>& attachments) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (!canBeUsed() || !isInstanceEnabled()) return std::nullopt;
    auto log = std::make_shared<DAVHandledErrorLog>();
    log->setUserId(DAVUserIdContext::sharedInstance()->userId());
    log->errorId = Foundation::makeUUIDString();
    log->exception = exception;
    if (!properties.empty())
        log->properties = DAVUtility::validateProperties(properties, "ErrorLog: " + *log->errorId, "HandledError");
    if (auto unit = channelUnit()) unit->enqueueItem(log, DAVFlagsNormal);
    if (!attachments.empty()) sendErrorAttachmentsInstance(attachments, *log->errorId);
    return log->errorId;
}

std::shared_ptr<DAVErrorReport> DAVCrashes::buildHandledErrorReportWithErrorID(const std::string& errorId) {
    return std::make_shared<DAVErrorReport>(errorId, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                            appStartTime_, Foundation::Date{Foundation::clock().now()},
                                            DAVDeviceTracker::sharedInstance()->device(), 0);
}

void DAVCrashes::setAutomaticProcessingEnabled(bool enabled) {
    std::lock_guard<std::mutex> state(stateLock_);
    automaticProcessingEnabled_ = enabled;
}

bool DAVCrashes::automaticProcessingEnabled() const {
    std::lock_guard<std::mutex> state(stateLock_);
    return automaticProcessingEnabled_;
}

std::shared_ptr<DAVCrashesDelegate> DAVCrashes::currentDelegate() const {
    std::lock_guard<std::mutex> state(stateLock_);
    return delegate_.lock();
}

bool DAVCrashes::didCrashInLastSession() const {
    std::lock_guard<std::mutex> state(stateLock_);
    return didCrashInLastSession_;
}

bool DAVCrashes::didReceiveMemoryWarningInLastSession() const {
    std::lock_guard<std::mutex> state(stateLock_);
    return didReceiveMemoryWarningInLastSession_;
}

std::vector<std::string> DAVCrashes::crashFiles() const {
    std::lock_guard<std::mutex> state(stateLock_);
    return crashFiles_;
}
