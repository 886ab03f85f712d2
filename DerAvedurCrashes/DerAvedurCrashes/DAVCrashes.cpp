// The crashes service itself: its shared instance and class methods, and its
// life cycle (enabling, the crash reporter's set-up). Processing the previous
// run's reports is in DAVCrashesReportProcessing.cpp, the service's own files
// in DAVCrashesFiles.cpp, its channel's calls in DAVCrashesChannelDelegate.cpp.
#include "DerAvedurCrashes/DerAvedurCrashes/DAVCrashes.h"

#include <algorithm>

#include "DerAvedur/DerAvedur/DAVDerAvedur.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVDispatcherUtil.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/DAVCrashesInternal.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/DAVCrashesLogBuffer.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVAppleErrorLog.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVCrashesCodingClasses.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVHandledErrorLog.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Util/DAVCrashesUtil.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/WrapperSDK/DAVWrapperCrashesHelper.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/SharedInstance.h"
#include "Platform/Foundation/Text.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReport.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReporter.h"

namespace {

// The crash reporter calls this after it wrote a report.
VXCrashReporterCallbacks gCrashCallbacks = {0, nullptr, &DAVCrashesLogBuffer::crashCallback};

}  // namespace

namespace DAVCrashesInternal {

std::mutex& processingGuardLock() {
    static std::mutex lock;
    return lock;
}
bool gDelayedProcessingRan = false;

bool boolForKey(const char* key) {
    Foundation::Value value = DAVDerAvedurUserDefaults::shared().objectForKey(key);
    if (value.isBool()) return value.asBool();
    if (auto number = value.integerValue()) return *number != 0;
    return false;
}

}  // namespace DAVCrashesInternal

using namespace DAVCrashesInternal;

// --- shared instance and class methods ----------------------------------------------

std::shared_ptr<DAVCrashes> DAVCrashes::sharedInstance() {
    return Foundation::SharedInstance<DAVCrashes>::process().get();
}

void DAVCrashes::resetSharedInstance() {
    std::shared_ptr<DAVCrashes> old = Foundation::SharedInstance<DAVCrashes>::process().reset();
    std::lock_guard<std::mutex> guard(processingGuardLock());
    gDelayedProcessingRan = false;
}

DAVServiceClass DAVCrashes::serviceClass() { return DAVServiceClass::of<DAVCrashes>("DAVCrashes"); }

bool DAVCrashes::isEnabled() { return sharedInstance()->isServiceEnabled(); }
void DAVCrashes::setEnabled(bool isEnabled) { sharedInstance()->setServiceEnabled(isEnabled); }

void DAVCrashes::generateTestCrash() {
    auto crashes = sharedInstance();
    std::lock_guard<std::recursive_mutex> guard(crashes->lock_);
    if (!crashes->canBeUsed()) return;
    if (DAVUtility::currentAppEnvironment() == 0) {
        DAVLogWarning(kDAVCrashesLogTag,
                      "GenerateTestCrash was just called in an App Store environment. The call "
                      "will be ignored.");
        return;
    }
    if (DAVDerAvedur::isDebuggerAttached())
        DAVLogWarning(kDAVCrashesLogTag,
                      "The debugger is attached. The following crash cannot be detected by the SDK!");
    __builtin_trap();
}

bool DAVCrashes::hasCrashedInLastSession() { return sharedInstance()->didCrashInLastSession(); }

bool DAVCrashes::hasReceivedMemoryWarningInLastSession() {
    return sharedInstance()->didReceiveMemoryWarningInLastSession();
}

std::shared_ptr<DAVErrorReport> DAVCrashes::lastSessionCrashReport() {
    auto crashes = sharedInstance();
    std::lock_guard<std::mutex> guard(crashes->stateLock_);
    return crashes->lastSessionCrashReport_;
}

DAVUserConfirmationHandler DAVCrashes::userConfirmationHandler() {
    auto crashes = sharedInstance();
    std::lock_guard<std::mutex> guard(crashes->stateLock_);
    return crashes->userConfirmationHandler_;
}

void DAVCrashes::setUserConfirmationHandler(DAVUserConfirmationHandler handler) {
    auto crashes = sharedInstance();
    std::lock_guard<std::mutex> guard(crashes->stateLock_);
    crashes->userConfirmationHandler_ = std::move(handler);
}

void DAVCrashes::notifyWithUserConfirmation(DAVUserConfirmation userConfirmation) {
    sharedInstance()->notifyWithUserConfirmationInstance(userConfirmation);
}

void DAVCrashes::applicationDidReportException(const VXCrashUncaughtException& exception) {
    auto crashes = sharedInstance();
    if (DAVDerAvedur::isDebuggerAttached()) return;
    VXCrashUncaughtExceptionHandler handler;
    {
        std::lock_guard<std::recursive_mutex> guard(crashes->lock_);
        handler = crashes->exceptionHandler_;
    }
    if (handler) handler(exception);
}

void DAVCrashes::disableMachExceptionHandler() {
    auto crashes = sharedInstance();
    std::lock_guard<std::mutex> guard(crashes->stateLock_);
    crashes->enableMachExceptionHandler_ = false;
}

std::shared_ptr<DAVCrashesDelegate> DAVCrashes::delegate() {
    auto crashes = sharedInstance();
    std::lock_guard<std::mutex> guard(crashes->stateLock_);
    return crashes->delegate_.lock();
}

void DAVCrashes::setDelegate(const std::shared_ptr<DAVCrashesDelegate>& delegate) {
    auto crashes = sharedInstance();
    std::lock_guard<std::mutex> guard(crashes->stateLock_);
    crashes->delegate_ = delegate;
}

bool DAVCrashes::validatePropertiesForAttachment(const DAVErrorAttachmentLog& attachment) {
    return attachment.errorId && attachment.attachmentId && attachment.data && attachment.contentType;
}

void DAVCrashes::sendErrorAttachments(const std::vector<std::shared_ptr<DAVErrorAttachmentLog>>& attachments,
                                      const std::string& incidentIdentifier) {
    sharedInstance()->sendErrorAttachmentsInstance(attachments, incidentIdentifier);
}

// --- life cycle ------------------------------------------------------------------------

DAVCrashes::DAVCrashes() {
    DAVDerAvedurUserDefaults::shared().migrateKeys(
        {
            {"DAVDerAvedurCrashesIsEnabled", "kDAVCrashesIsEnabledKey"},
            {"DAVDerAvedurAppDidReceiveMemoryWarning", "DAVAppDidReceiveMemoryWarning"},
            {"DAVDerAvedurCrashesUserConfirmation", "DAVUserConfirmation"},
        },
        kServiceName);
    // The store reads these logs back from their archives.
    DAVRegisterCrashesCodingClasses();
    DAVUtility::addMigrationClasses({
        {"DAVAppleErrorLog", "DAVAppleErrorLog"},
        {"DAVThread", "DAVThread"},
        {"DAVWrapperException", "DAVWrapperException"},
        {"DAVAbstractErrorLog", "DAVAbstractErrorLog"},
        {"DAVHandledErrorLog", "DAVHandledErrorLog"},
        {"DAVException", "DAVException"},
        {"DAVStackFrame", "DAVStackFrame"},
        {"DAVBinary", "DAVBinary"},
        {"DAVErrorAttachmentLog", "DAVErrorAttachmentLog"},
        {"DAVErrorReport", "DAVErrorReport"},
    });
    crashesPathComponent_ = DAVCrashesUtil::crashesDir();
    logBufferPathComponent_ = DAVCrashesUtil::logBufferDir();
    appStartTime_ = Foundation::Date{Foundation::clock().now()};
    // setupLogBuffer: the slots take the buffer files; what the files hold
    // from the last run waits for processLogBufferAfterCrash.
    DAVCrashesLogBuffer::setup(*DAVUtility::fullURLForPathComponent(logBufferPathComponent_));
}

DAVCrashes::~DAVCrashes() {
    if (memoryPressureSource_) Foundation::NotificationCenter::defaultCenter().removeObserver(*memoryPressureSource_);
}

std::shared_ptr<DAVChannelUnitConfiguration> DAVCrashes::channelUnitConfiguration() const {
    return std::make_shared<DAVChannelUnitConfiguration>(kGroupId, 2, 1, 1, 3);
}

void DAVCrashes::startWithChannelGroup(const std::shared_ptr<DAVChannelGroupProtocol>& channelGroup,
                                       const std::optional<std::string>& appSecret,
                                       const std::optional<std::string>& transmissionTargetToken,
                                       bool fromApplication) {
    DAVServiceAbstract::startWithChannelGroup(channelGroup, appSecret, transmissionTargetToken, fromApplication);
    if (channelGroup) channelGroup->addDelegate(shared_from_this());
    processLogBufferAfterCrash();
    processMemoryWarningInLastSession();
    DAVLogVerbose(kDAVCrashesLogTag, "Started crash service.");
}

void DAVCrashes::updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                                  const std::optional<std::string>& transmissionTargetToken) {
    processLogBufferAfterCrash();
    DAVServiceAbstract::updateConfigurationWithAppSecret(appSecret, transmissionTargetToken);
}

void DAVCrashes::applyEnabledState(bool isEnabled) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    DAVServiceAbstract::applyEnabledState(isEnabled);
    enabled_ = isEnabled;
    if (isEnabled) {
        auto setupDelegate = DAVWrapperCrashesHelper::crashHandlerSetupDelegate();
        const bool enableUncaughtExceptionHandler =
            setupDelegate ? setupDelegate->shouldEnableUncaughtExceptionHandler() : true;
        if (setupDelegate) setupDelegate->willSetUpCrashHandlers();
        configureCrashReporterWithUncaughtExceptionHandlerEnabled(enableUncaughtExceptionHandler);
        if (setupDelegate) setupDelegate->didSetUpCrashHandlers();

        // Memory pressure: warning and critical.
        if (!memoryPressureSource_) {
            std::weak_ptr<DAVCrashes> weakSelf = shared_from_this();
            memoryPressureSource_ = Foundation::NotificationCenter::defaultCenter().addObserver(
                kDAVMemoryPressureNotification, [weakSelf](const Foundation::Notification& notification) {
                    const auto level = notification.userInfo["level"].integerValue().value_or(2);
                    if ((level & 6) == 0) return;
                    Foundation::DispatchQueue::main()->async([weakSelf] {
                        if (auto crashes = weakSelf.lock()) crashes->didReceiveMemoryWarning();
                    });
                });
        }

        // Reports collected while the service was disabled are dropped.
        if (!isInstanceEnabled()) vxCrashReporter_->purgePendingCrashReport();
        if (vxCrashReporter_->hasPendingCrashReport()) {
            {
                std::lock_guard<std::mutex> state(stateLock_);
                didCrashInLastSession_ = true;
            }
            DAVLogDebug(kDAVCrashesLogTag, "The application crashed in the last session.");
            handleLatestCrashReport();
        }

        auto files = persistedCrashReports();
        {
            std::lock_guard<std::mutex> state(stateLock_);
            crashFiles_ = files;
        }
        if (!files.empty()) {
            {
                std::lock_guard<std::mutex> processed(processedLock_);
                delayedProcessingDone_ = false;
            }
            startDelayedCrashProcessing();
        } else {
            signalDelayedProcessingDone();
            clearContextHistoryAndKeepCurrentSession();
        }

        if (DAVDerAvedur::isDebuggerAttached()) {
            DAVLogInfo(kDAVCrashesLogTag,
                       "Crashes service has been enabled but the service cannot detect crashes "
                       "due to running the application with a debugger attached.");
        } else {
            DAVLogInfo(kDAVCrashesLogTag, "Crashes service has been enabled.");
        }
        return;
    }

    if (memoryPressureSource_) {
        Foundation::NotificationCenter::defaultCenter().removeObserver(*memoryPressureSource_);
        memoryPressureSource_.reset();
    }
    DAVLogDebug(kDAVCrashesLogTag, "Cleaning up all crash files.");
    DAVWrapperExceptionManager::deleteAllWrapperExceptions();
    deleteAllFromCrashesDirectory();
    DAVCrashesLogBuffer::empty();
    removeAnalyzerFile();
    if (vxCrashReporter_) vxCrashReporter_->purgePendingCrashReport();
    clearUnprocessedReports();
    clearContextHistoryAndKeepCurrentSession();
    DAVDerAvedurUserDefaults::shared().removeObjectForKey(kMemoryWarningKey);
    // Whoever waits for the processing stops waiting: there is none now.
    processedChanged_.notify_all();
    DAVLogInfo(kDAVCrashesLogTag, "Crashes service has been disabled.");
}

void DAVCrashes::configureCrashReporterWithUncaughtExceptionHandlerEnabled(bool enabled) {
    if (vxCrashReporter_) {
        DAVLogDebug(kDAVCrashesLogTag, "Already configured VXCrashReporter.");
        return;
    }
    if (enabled) {
        DAVLogDebug(kDAVCrashesLogTag, "EnableUncaughtExceptionHandler is set to YES");
    } else {
        DAVLogDebug(kDAVCrashesLogTag,
                    "EnableUncaughtExceptionHandler is set to NO, we're running in a Xamarin runtime.");
    }
    bool mach;
    {
        std::lock_guard<std::mutex> state(stateLock_);
        mach = enableMachExceptionHandler_;
    }
    uint32_t type = VXCrashReporterSignalHandlerTypeBSD;
    if (mach) {
        type = VXCrashReporterSignalHandlerTypeMach;
        DAVLogVerbose(kDAVCrashesLogTag, "Enabled Mach exception handler.");
    }
    vxCrashReporter_ = std::make_shared<VXCrashReporter>(
        std::make_shared<VXCrashReporterConfig>(type, VXCrashReporterSymbolicationStrategyNone, enabled));

    if (DAVDerAvedur::isDebuggerAttached()) {
        DAVLogWarning(kDAVCrashesLogTag,
                      "Detecting crashes is NOT enabled due to running the app with a debugger attached.");
        return;
    }

    const VXCrashUncaughtExceptionHandler initialHandler = vxcrash_get_uncaught_exception_handler();
    vxCrashReporter_->setCrashCallbacks(&gCrashCallbacks);
    VXCrashReporterError error;
    if (!vxCrashReporter_->enableCrashReporter(&error))
        DAVLogError(kDAVCrashesLogTag, "Could not enable crash reporter: %s", error.localizedDescription.c_str());

    const VXCrashUncaughtExceptionHandler currentHandler = vxcrash_get_uncaught_exception_handler();
    if (currentHandler && currentHandler != initialHandler) {
        exceptionHandler_ = currentHandler;
        DAVLogDebug(kDAVCrashesLogTag, "Exception handler successfully initialized.");
    } else if (currentHandler && !enabled) {
        exceptionHandler_ = currentHandler;
        DAVLogDebug(
            kDAVCrashesLogTag,
            "Exception handler successfully initialized but it has not been registered due to the wrapper SDK.");
    } else {
        DAVLogError(kDAVCrashesLogTag,
                    "Exception handler could not be set. Make sure there is no other exception handler set up!");
    }
    // Uncaught C++ exceptions reach the handler through the crash reporter's
    // terminate hook; there is no application exception reporting to hook.
}
