#pragma once
// The crash reporting service. Once started it owns the crash reporter, turns
// the crash report of the previous run into an error log and an error report,
// asks the application (delegate, confirmation handler) whether to send them,
// and enqueues them on its channel unit "Crashes". It also sends handled
// errors and attachments, keeps the crash-time log buffer of every channel,
// and notes memory pressure.
//
// Files, under the SDK's directory: "crashes" holds the saved reports (the
// crash reporter's bytes unchanged, named by the seconds since 2001 at which
// they were saved, with "-1", "-2"... when several are saved in one second)
// and the marker "DAVCrashes.analyzer", present only while a report is being
// converted; "crasheslogbuffer" holds the log buffer.
//
// Processing of saved reports runs on a global queue 1 s after enabling, once
// per process; the confirmation handler and the delegate's send callbacks run
// on the main thread.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/DAVServiceAbstract.h"
#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelDelegate.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVEncrypter.h"
#include "DerAvedurCrashes/DerAvedurCrashes/DAVCrashesConstants.h"
#include "DerAvedurCrashes/DerAvedurCrashes/DAVCrashesDelegate.h"
#include "DerAvedurCrashes/DerAvedurCrashes/DAVErrorAttachmentLog.h"
#include "DerAvedurCrashes/DerAvedurCrashes/DAVErrorReport.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Value.h"
#include "Vendor/VXCrashReporter/Source/VXCrashUncaughtException.h"

class DAVAppleErrorLog;
class DAVException;
class VXCrashReporter;

enum DAVUserConfirmation : unsigned {
    DAVUserConfirmationDontSend = 0,
    DAVUserConfirmationSend = 1,
    DAVUserConfirmationAlways = 2,
};

// Called with the reports waiting to be sent; true means the application asks
// the user and answers later with notifyWithUserConfirmation.
using DAVUserConfirmationHandler = std::function<bool(const std::vector<std::shared_ptr<DAVErrorReport>>&)>;

// Memory pressure stands in as this notification (any thread); userInfo
// "level": 2 warning, 4 critical (absent: warning); 1 (normal) is ignored.
inline constexpr const char* kDAVMemoryPressureNotification = "DAVMemoryPressureNotification";

class DAVCrashes : public DAVServiceAbstract,
                   public DAVChannelDelegate,
                   public std::enable_shared_from_this<DAVCrashes> {
public:
    static constexpr const char* kServiceName = "Crashes";
    static constexpr const char* kGroupId = "Crashes";
    static constexpr const char* kBufferGroupId = "CrashesBuffer";
    static constexpr int kInitializationPriority = 999;
    static constexpr const char* kAnalyzerFileName = "DAVCrashes.analyzer";
    static constexpr const char* kMemoryWarningKey = "AppDidReceiveMemoryWarning";
    static constexpr const char* kUserConfirmationKey = "CrashesUserConfirmation";
    static constexpr std::size_t kMaxAttachmentSize = 7 * 1024 * 1024;
    static constexpr double kProcessingDelay = 1.0;

    // --- class methods (each acts on the shared instance) ---------------------
    static std::shared_ptr<DAVCrashes> sharedInstance();
    // Forgets the shared instance and the once-per-process processing guard.
    static void resetSharedInstance();
    // What DAVDerAvedur::startService takes.
    static DAVServiceClass serviceClass();

    static bool isEnabled();
    static void setEnabled(bool isEnabled);
    // Dies of an illegal instruction (not in an App Store environment).
    static void generateTestCrash();
    static bool hasCrashedInLastSession();
    static bool hasReceivedMemoryWarningInLastSession();
    static std::shared_ptr<DAVErrorReport> lastSessionCrashReport();
    static DAVUserConfirmationHandler userConfirmationHandler();
    static void setUserConfirmationHandler(DAVUserConfirmationHandler handler);
    static void notifyWithUserConfirmation(DAVUserConfirmation userConfirmation);
    // The application's own exception reporting: hands the exception to the
    // crash reporter's handler, which records it and aborts.
    static void applicationDidReportException(const VXCrashUncaughtException& exception);
    // Effective only before the service is enabled.
    static void disableMachExceptionHandler();
    static std::shared_ptr<DAVCrashesDelegate> delegate();
    // Held weakly.
    static void setDelegate(const std::shared_ptr<DAVCrashesDelegate>& delegate);
    static bool validatePropertiesForAttachment(const DAVErrorAttachmentLog& attachment);
    static void sendErrorAttachments(const std::vector<std::shared_ptr<DAVErrorAttachmentLog>>& attachments,
                                     const std::string& incidentIdentifier);

    // --- the service -----------------------------------------------------------
    DAVCrashes();
    ~DAVCrashes() override;

    std::string serviceName() const override { return kServiceName; }
    std::string logTag() const override { return kDAVCrashesLogTag; }
    std::string groupId() const override { return kGroupId; }
    int initializationPriority() const override { return kInitializationPriority; }
    std::shared_ptr<DAVChannelUnitConfiguration> channelUnitConfiguration() const override;
    void startWithChannelGroup(const std::shared_ptr<DAVChannelGroupProtocol>& channelGroup,
                               const std::optional<std::string>& appSecret,
                               const std::optional<std::string>& transmissionTargetToken,
                               bool fromApplication) override;
    void updateConfigurationWithAppSecret(const std::optional<std::string>& appSecret,
                                          const std::optional<std::string>& transmissionTargetToken) override;
    void applyEnabledState(bool isEnabled) override;

    // --- channel delegate --------------------------------------------------------
    void channelDidPrepareLog(const std::shared_ptr<DAVChannelProtocol>& channel, const std::shared_ptr<DAVLog>& log,
                              const std::string& internalId, DAVFlags flags) override;
    void channelDidCompleteEnqueueingLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                         const std::shared_ptr<DAVLog>& log, const std::string& internalId) override;
    void channelWillSendLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                            const std::shared_ptr<DAVLog>& log) override;
    void channelDidSucceedSendingLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                     const std::shared_ptr<DAVLog>& log) override;
    void channelDidFailSendingLog(const std::shared_ptr<DAVChannelProtocol>& channel,
                                  const std::shared_ptr<DAVLog>& log,
                                  const std::optional<Foundation::Error>& error) override;

    // --- wrapper SDKs ---------------------------------------------------------------
    // The reports waiting for an answer. Waits until the delayed processing
    // has run; answers at once (nothing) while the service is not enabled.
    std::vector<std::shared_ptr<DAVErrorReport>> unprocessedCrashReports();
    bool sendCrashReportsOrAwaitUserConfirmationForFilteredIds(const std::vector<std::string>& filteredIds);
    // The new error id, or nothing when the service is not started or not enabled.
    std::optional<std::string> trackModelException(
        const std::shared_ptr<DAVException>& exception, const Foundation::Dictionary& properties,
        const std::vector<std::shared_ptr<DAVErrorAttachmentLog>>& attachments);
    std::shared_ptr<DAVErrorReport> buildHandledErrorReportWithErrorID(const std::string& errorId);
    void setAutomaticProcessingEnabled(bool enabled);
    bool automaticProcessingEnabled() const;

    // The application came back to the foreground: saved reports that waited
    // because it was in the background are processed now.
    void applicationWillEnterForeground();

    bool didCrashInLastSession() const;
    bool didReceiveMemoryWarningInLastSession() const;
    const std::shared_ptr<VXCrashReporter>& crashReporter() const { return vxCrashReporter_; }
    // Full path of the crashes directory.
    std::string crashesDirectory() const;
    std::vector<std::string> crashFiles() const;

private:
    struct Unprocessed {
        std::shared_ptr<DAVAppleErrorLog> log;
        std::shared_ptr<DAVErrorReport> report;
        std::string filePath;
    };

    void configureCrashReporterWithUncaughtExceptionHandlerEnabled(bool enabled);
    void handleLatestCrashReport();
    std::vector<std::string> persistedCrashReports();
    void startDelayedCrashProcessing();
    void startCrashProcessing();
    void processCrashReports();
    bool sendCrashReportsOrAwaitUserConfirmation();
    void handleUserConfirmation(DAVUserConfirmation userConfirmation);
    void notifyWithUserConfirmationInstance(DAVUserConfirmation userConfirmation);
    void sendErrorAttachmentsInstance(const std::vector<std::shared_ptr<DAVErrorAttachmentLog>>& attachments,
                                      const std::string& incidentIdentifier);
    void processLogBufferAfterCrash();
    void processMemoryWarningInLastSession();
    void didReceiveMemoryWarning();
    void deleteAllFromCrashesDirectory();
    void removeAnalyzerFile();
    void removeCrashFile(const std::string& path);
    void clearUnprocessedReports();
    void signalDelayedProcessingDone();
    std::shared_ptr<DAVCrashesDelegate> currentDelegate() const;
    static void clearContextHistoryAndKeepCurrentSession();
    std::string analyzerInProgressFilePathComponent() const;

    // Guards the fields below that processing and the application's answers share.
    mutable std::mutex stateLock_;
    bool didCrashInLastSession_ = false;
    bool didReceiveMemoryWarningInLastSession_ = false;
    std::shared_ptr<DAVErrorReport> lastSessionCrashReport_;
    std::vector<std::string> crashFiles_;
    // Nothing until a processing run made the list.
    std::optional<std::vector<Unprocessed>> unprocessed_;
    DAVUserConfirmationHandler userConfirmationHandler_;
    std::weak_ptr<DAVCrashesDelegate> delegate_;
    bool automaticProcessingEnabled_ = true;
    bool enableMachExceptionHandler_ = true;

    // The delayed processing has run (or was not needed); waited on by
    // unprocessedCrashReports.
    std::mutex processedLock_;
    std::condition_variable processedChanged_;
    bool delayedProcessingDone_ = false;
    std::atomic<bool> enabled_{false};

    std::shared_ptr<DAVChannelUnitProtocol> bufferChannelUnit_;
    DAVEncrypter targetTokenEncrypter_;
    std::optional<Foundation::NotificationCenter::ObserverToken> memoryPressureSource_;
    std::shared_ptr<VXCrashReporter> vxCrashReporter_;
    VXCrashUncaughtExceptionHandler exceptionHandler_ = nullptr;
    std::string crashesPathComponent_;
    std::string logBufferPathComponent_;
    Foundation::Date appStartTime_;
};
