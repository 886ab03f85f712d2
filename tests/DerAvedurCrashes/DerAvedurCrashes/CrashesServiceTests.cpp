// The crashes service end to end: a run crashes (a child process, this binary
// started again with "--crash-child <scenario>") or leaves a packed report as
// its pending report; the next run, here, starts the SDK against a local
// ingestion server on the manual clock and is checked by what arrives.
#include "tests/Vendor/VXCrashReporter/Source/AllocationGuard.h"
#include "Vendor/VXCrashReporter/Source/VXCrashSignalHandler.h"
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "CrashReportFixture.h"
#include "CrashesTestSupport.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVLogWithProperties.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/DAVCrashesLogBuffer.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVException.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/WrapperSDK/DAVWrapperCrashesHelper.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/Text.h"
#include "support/TestEnvironment.h"

using namespace CrashesTest;

// --- what the crashing children run --------------------------------------------------

extern "C" {
int* volatile crashes_test_null = nullptr;

__attribute__((noinline)) int crashes_test_crash_on_null() { return *crashes_test_null + 1; }
}

namespace {

// A run that starts the SDK as the application does, then dies.
int crashChild(const std::string& scenario) {
    // Whatever runs once a crash signal arrives (the reporter's writer, the
    // service's post-crash callback) must not allocate: registered before the
    // reporter's, this arms the allocation guard as the signal comes in.
    for (int signo : VXCrashSignalHandler::kCrashSignals) {
        VXCrashSignalHandler::sharedHandler().registerHandlerForSignal(
            signo,
            [](int, siginfo_t*, ucontext_t*, void*) {
                crashtest::armAllocationGuard();
                return false;
            },
            nullptr, nullptr);
    }
    auto executor = Foundation::TestExecutor::install();
    // Never reached: nothing leaves the child before it dies.
    DAVDerAvedur::setLogUrl("http://127.0.0.1:9");
    DAVDerAvedur::configureWithAppSecret(std::string(kAppSecret));
    DAVDerAvedur::startService(DAVCrashes::serviceClass());
    executor->drain();
    if (scenario == "buffered") {
        // Handed to a channel but not yet stored when the crash comes.
        auto unit = DAVDerAvedur::sharedInstance()->channelGroup()->addChannelUnitWithConfiguration(
            DAVChannelUnitConfiguration::initDefaultConfigurationWithGroupId("Events"));
        for (int i = 1; i <= 3; ++i) {
            auto log = std::make_shared<DAVLogWithProperties>();
            log->setType("event");
            log->properties.set("name", Foundation::Value("buffered-" + std::to_string(i)));
            unit->enqueueItem(log, DAVFlagsNormal);
        }
        crashtest::armAllocationGuard();
        return crashes_test_crash_on_null();
    }
    if (scenario == "null") {
        crashtest::armAllocationGuard();
        return crashes_test_crash_on_null();
    }
    if (scenario == "exception") throw std::runtime_error("boom");
    if (scenario == "trap") DAVCrashes::generateTestCrash();
    if (scenario == "reported") DAVCrashes::applicationDidReportException({"RangeError", "index 3 beyond bounds", {}});
    return 3;
}

// --- a crash of the last run ----------------------------------------------------------

class CrashesEndToEnd : public ServiceFixture {};

TEST_F(CrashesEndToEnd, ACrashOnNullIsSentOnTheNextRunAndItsFilesAreGone) {
    CRASHES_SKIP_WHEN_SANITIZED();
    Child child = runCrashChild("null");
    ASSERT_FALSE(child.exited) << child.describe();
    ASSERT_EQ(child.status, SIGSEGV);
    ASSERT_TRUE(fs::exists(pendingReportPath()));

    startSdk();
    EXPECT_TRUE(DAVCrashes::hasCrashedInLastSession());
    auto report = DAVCrashes::lastSessionCrashReport();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->signal(), "SIGSEGV");
    EXPECT_EQ(report->appProcessIdentifier(), static_cast<std::uint64_t>(child.pid));
    // Saved, then purged from the crash reporter; no marker is left.
    EXPECT_FALSE(fs::exists(pendingReportPath()));
    EXPECT_EQ(savedReports().size(), 1u);
    EXPECT_FALSE(fs::exists(sdkPath("crashes/DAVCrashes.analyzer")));

    // Nothing before the processing delay.
    EXPECT_TRUE(sentLogs("appleError").empty());
    executor->advance(DAVCrashes::kProcessingDelay);
    ASSERT_TRUE(waitForLogs("appleError", 1));

    const nlohmann::json log = sentLogs("appleError")[0];
    EXPECT_EQ(log["id"], *report->incidentIdentifier());
    EXPECT_EQ(log["osExceptionType"], "SIGSEGV");
    EXPECT_EQ(log["osExceptionCode"], "SEGV_MAPERR");
    EXPECT_EQ(log["osExceptionAddress"], "0x0000000000000000");
    EXPECT_EQ(log["fatal"], true);
    EXPECT_EQ(log["processId"], child.pid);
    EXPECT_EQ(log["primaryArchitectureId"], 0x1000007);
    EXPECT_EQ(log["applicationPath"], fs::canonical("/proc/self/exe").string());
    ASSERT_FALSE(log["threads"].empty());
    bool crashedThreadFound = false;
    for (const auto& thread : log["threads"]) {
        ASSERT_FALSE(thread["frames"].empty());
        for (const auto& frame : thread["frames"]) EXPECT_TRUE(frame.contains("address"));
        crashedThreadFound |= thread["id"] == log["errorThreadId"];
    }
    EXPECT_TRUE(crashedThreadFound);
    bool executableFound = false;
    for (const auto& binary : log["binaries"])
        executableFound |=
            binary["id"] == executableBuildId() && binary["path"] == fs::canonical("/proc/self/exe").string();
    EXPECT_TRUE(executableFound) << log["binaries"].dump();
    EXPECT_TRUE(log.contains("device"));

    const auto request = server->requests().back();
    EXPECT_EQ(request.query, "api-version=1.0.0");
    EXPECT_EQ(request.header("App-Secret"), kAppSecret);

    EXPECT_TRUE(savedReports().empty());
    EXPECT_TRUE(DAVCrashes::sharedInstance()->crashFiles().empty());
}

TEST_F(CrashesEndToEnd, ExceptionsAndTestCrashesNameTheirCause) {
    CRASHES_SKIP_WHEN_SANITIZED();
    Child exception = runCrashChild("exception");
    ASSERT_EQ(exception.status, SIGABRT) << exception.describe();
    startSdk();
    executor->advance(DAVCrashes::kProcessingDelay);
    ASSERT_TRUE(waitForLogs("appleError", 1));
    nlohmann::json log = sentLogs("appleError")[0];
    EXPECT_EQ(log["osExceptionType"], "SIGABRT");
    EXPECT_EQ(log["exceptionType"], "std::runtime_error");
    EXPECT_EQ(log["exceptionReason"], "boom");
    EXPECT_EQ(log["exception"]["type"], "std::runtime_error");
    EXPECT_FALSE(log["exception"]["frames"].empty());

    Child trap = runCrashChild("trap");
    ASSERT_EQ(trap.status, SIGILL) << trap.describe();
    restartSdk();
    executor->advance(DAVCrashes::kProcessingDelay);
    ASSERT_TRUE(waitForLogs("appleError", 2));
    EXPECT_EQ(sentLogs("appleError")[1]["osExceptionType"], "SIGILL");

    // An exception the application reports itself goes the same way.
    Child reported = runCrashChild("reported");
    ASSERT_EQ(reported.status, SIGABRT) << reported.describe();
    restartSdk();
    executor->advance(DAVCrashes::kProcessingDelay);
    ASSERT_TRUE(waitForLogs("appleError", 3));
    log = sentLogs("appleError")[2];
    EXPECT_EQ(log["exceptionType"], "RangeError");
    EXPECT_EQ(log["exceptionReason"], "index 3 beyond bounds");
}

TEST_F(CrashesEndToEnd, LogsBufferedAtCrashTimeAreSentOnTheNextRun) {
    CRASHES_SKIP_WHEN_SANITIZED();
    Child child = runCrashChild("buffered");
    ASSERT_EQ(child.status, SIGSEGV) << child.describe();
    startSdk();
    executor->advance(3);  // the buffer unit's flush interval
    ASSERT_TRUE(waitForLogs("event", 3));
    std::set<std::string> names;
    for (const auto& log : sentLogs("event")) names.insert(log["properties"]["name"].get<std::string>());
    EXPECT_EQ(names, (std::set<std::string>{"buffered-1", "buffered-2", "buffered-3"}));
    // The files are emptied once read: a later launch sends nothing again.
    for (const std::string& name : filesIn(sdkPath("crasheslogbuffer")))
        EXPECT_EQ(fs::file_size(sdkPath("crasheslogbuffer/" + name)), 0u) << name;
}

TEST_F(CrashesEndToEnd, AMarkerFromADeadConversionPurgesTheReportAndSendsNothing) {
    CRASHES_SKIP_WHEN_SANITIZED();
    Child child = runCrashChild("null");
    ASSERT_EQ(child.status, SIGSEGV) << child.describe();
    fs::create_directories(sdkPath("crashes"));
    std::ofstream(sdkPath("crashes/DAVCrashes.analyzer")).close();

    DAVTest::MessageRecorder recorder;
    startSdk();
    EXPECT_TRUE(recorder.contains(DAVLogLevelError, "Error on loading the crash report, it will be purged."));
    EXPECT_FALSE(fs::exists(pendingReportPath()));
    EXPECT_FALSE(fs::exists(sdkPath("crashes/DAVCrashes.analyzer")));
    EXPECT_TRUE(savedReports().empty());
    EXPECT_FALSE(DAVCrashes::lastSessionCrashReport());
    settle(5);
    EXPECT_TRUE(sentLogs("appleError").empty());
}

// --- packed reports: no crash needed ----------------------------------------------------

class CrashesService : public ServiceFixture {
protected:
    void leavePendingReport(uint8_t uuidTag = 0xa0) {
        ReportFixture fixture;
        fixture.uuid[0] = uuidTag;
        writePendingReport(fixture.bytes());
    }
    static std::string errorIdFor(uint8_t uuidTag) {
        return Foundation::format("%02X", uuidTag) + "A1A2A3-A4A5-A6A7-A8A9-AAABACADAEAF";
    }
};

// A run that processes the report while the ingestion cannot be reached keeps
// the error log in the log store; the next start sends it, with no new crash
// and no new log to set the channel going.
TEST_F(CrashesService, AReportStoredWhileOfflineArrivesAtTheNextStartWithNoNewCrash) {
    leavePendingReport();
    executor = Foundation::TestExecutor::install();
    server = std::make_unique<DAVTest::IngestionServer>();
    client = std::make_shared<DAVHttpClient>();
    DAVDependencyConfiguration::setHttpClient(client);
    DAVDerAvedur::setLogUrl("http://127.0.0.1:9");  // nothing listens there
    DAVDerAvedur::configureWithAppSecret(std::string(kAppSecret));
    DAVDerAvedur::startService(DAVCrashes::serviceClass());
    executor->drain();
    settle(DAVCrashes::kProcessingDelay + 5);
    EXPECT_FALSE(fs::exists(pendingReportPath()));
    EXPECT_EQ(server->requestCount(), 0u);

    restartSdk();
    ASSERT_TRUE(waitForLogs("appleError", 1));
    EXPECT_EQ(sentLogs("appleError")[0]["id"], errorIdFor(0xa0));
}

TEST_F(CrashesService, UserConfirmationSendDontSendAndAlwaysSend) {
    std::vector<std::size_t> asked;
    auto askUser = [&](const std::vector<std::shared_ptr<DAVErrorReport>>& reports) {
        EXPECT_TRUE(Foundation::DispatchQueue::isMainThread());
        asked.push_back(reports.size());
        return true;
    };

    // Don't send: the report and its file go, nothing is sent.
    leavePendingReport(0xa0);
    startSdk();
    DAVCrashes::setUserConfirmationHandler(askUser);
    executor->advance(DAVCrashes::kProcessingDelay);
    EXPECT_EQ(asked, (std::vector<std::size_t>{1}));
    auto waiting = DAVCrashes::sharedInstance()->unprocessedCrashReports();
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(waiting[0]->incidentIdentifier(), errorIdFor(0xa0));
    DAVCrashes::notifyWithUserConfirmation(DAVUserConfirmationDontSend);
    EXPECT_TRUE(savedReports().empty());
    EXPECT_TRUE(DAVCrashes::sharedInstance()->unprocessedCrashReports().empty());
    executor->advance(5);

    // Send: this one report goes.
    leavePendingReport(0xb0);
    restartSdk();
    DAVCrashes::setUserConfirmationHandler(askUser);
    executor->advance(DAVCrashes::kProcessingDelay);
    EXPECT_EQ(asked, (std::vector<std::size_t>{1, 1}));
    EXPECT_TRUE(sentLogs("appleError").empty());
    DAVCrashes::notifyWithUserConfirmation(DAVUserConfirmationSend);
    ASSERT_TRUE(waitForLogs("appleError", 1));
    EXPECT_EQ(sentLogs("appleError")[0]["id"], errorIdFor(0xb0));

    // Always send: stored, and the next run does not ask.
    leavePendingReport(0xc0);
    restartSdk();
    DAVCrashes::setUserConfirmationHandler(askUser);
    executor->advance(DAVCrashes::kProcessingDelay);
    DAVCrashes::notifyWithUserConfirmation(DAVUserConfirmationAlways);
    ASSERT_TRUE(waitForLogs("appleError", 2));
    EXPECT_EQ(DAVDerAvedurUserDefaults::shared().objectForKey("CrashesUserConfirmation"), Foundation::Value(true));

    leavePendingReport(0xd0);
    restartSdk();
    DAVCrashes::setUserConfirmationHandler(askUser);
    executor->advance(DAVCrashes::kProcessingDelay);
    ASSERT_TRUE(waitForLogs("appleError", 3));
    EXPECT_EQ(asked.size(), 3u);
    std::vector<std::string> ids;
    for (const auto& log : sentLogs("appleError")) ids.push_back(log["id"]);
    EXPECT_EQ(ids, (std::vector<std::string>{errorIdFor(0xb0), errorIdFor(0xc0), errorIdFor(0xd0)}));
}

TEST_F(CrashesService, AHandlerThatAnswersNoAndMisplacedAnswers) {
    DAVTest::MessageRecorder recorder;
    leavePendingReport();
    startSdk();
    // An answer before any processing, with no handler, is a mistake.
    DAVCrashes::notifyWithUserConfirmation(DAVUserConfirmationSend);
    EXPECT_TRUE(recorder.containsPrefix(DAVLogLevelError, "Incorrect usage of notifyWithUserConfirmation"));
    DAVCrashes::setUserConfirmationHandler([](const auto&) { return false; });
    executor->advance(DAVCrashes::kProcessingDelay);
    ASSERT_TRUE(waitForLogs("appleError", 1));
    EXPECT_TRUE(recorder.contains(DAVLogLevelDebug,
                                  "The user confirmation handler is not implemented or returned "
                                  "NO, continue sending logs"));
}

class RecordingDelegate : public DAVCrashesDelegate {
public:
    bool process = true;
    std::vector<std::shared_ptr<DAVErrorAttachmentLog>> attachments;
    std::vector<std::string> calls;

    bool crashesShouldProcessErrorReport(DAVCrashes&, const std::shared_ptr<DAVErrorReport>&) override {
        calls.push_back("shouldProcess");
        return process;
    }
    std::optional<std::vector<std::shared_ptr<DAVErrorAttachmentLog>>> attachmentsWithCrashes(
        DAVCrashes&, const std::shared_ptr<DAVErrorReport>&) override {
        return attachments;
    }
    void crashesWillSendErrorReport(DAVCrashes&, const std::shared_ptr<DAVErrorReport>& report) override {
        EXPECT_TRUE(Foundation::DispatchQueue::isMainThread());
        calls.push_back("willSend " + report->signal().value_or(""));
    }
    void crashesDidSucceedSendingErrorReport(DAVCrashes&, const std::shared_ptr<DAVErrorReport>& report) override {
        EXPECT_TRUE(Foundation::DispatchQueue::isMainThread());
        calls.push_back("didSucceed " + report->incidentIdentifier().value_or(""));
    }
    void crashesDidFailSendingErrorReport(DAVCrashes&, const std::shared_ptr<DAVErrorReport>&,
                                          const std::optional<Foundation::Error>&) override {
        calls.push_back("didFail");
    }
};

TEST_F(CrashesService, AttachmentsUpToSevenMebibytesGoWithTheReport) {
    auto delegate = std::make_shared<RecordingDelegate>();
    delegate->attachments = {
        DAVErrorAttachmentLog::attachmentWithBinary(Foundation::Data(DAVCrashes::kMaxAttachmentSize, 'a'),
                                                    std::string("exact.bin"), std::string("application/octet-stream")),
        DAVErrorAttachmentLog::attachmentWithBinary(Foundation::Data(DAVCrashes::kMaxAttachmentSize + 1, 'b'),
                                                    std::string("over.bin"), std::string("application/octet-stream")),
        DAVErrorAttachmentLog::attachmentWithText("notes", std::string("notes.txt")),
    };
    delegate->attachments[2]->contentType.reset();  // incomplete: dropped
    leavePendingReport();
    DAVTest::MessageRecorder recorder;
    startSdk();
    DAVCrashes::setDelegate(delegate);
    executor->advance(DAVCrashes::kProcessingDelay);
    ASSERT_TRUE(waitForLogs("errorAttachment", 1));
    ASSERT_TRUE(waitForLogs("appleError", 1));
    // The send callbacks follow the server's answer, on the main thread.
    ASSERT_TRUE(executor->runUntil([&] { return delegate->calls.size() >= 3; }));

    auto sent = sentLogs("errorAttachment");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["fileName"], "exact.bin");
    EXPECT_EQ(sent[0]["errorId"], errorIdFor(0xa0));
    EXPECT_EQ(Foundation::base64DecodeStrict(sent[0]["data"].get<std::string>())->size(),
              DAVCrashes::kMaxAttachmentSize);
    EXPECT_TRUE(recorder.contains(
        DAVLogLevelError, "Discarding attachment with size above 7340032 bytes: size=7340033, fileName=over.bin."));
    EXPECT_TRUE(recorder.contains(DAVLogLevelError, "Not all required fields are present in DAVErrorAttachmentLog."));
    EXPECT_EQ(delegate->calls,
              (std::vector<std::string>{"shouldProcess", "willSend SIGSEGV", "didSucceed " + errorIdFor(0xa0)}));
}

TEST_F(CrashesService, AReportTheDelegateRefusesIsDiscarded) {
    auto delegate = std::make_shared<RecordingDelegate>();
    delegate->process = false;
    leavePendingReport();
    startSdk();
    DAVCrashes::setDelegate(delegate);
    EXPECT_EQ(savedReports().size(), 1u);
    executor->advance(DAVCrashes::kProcessingDelay);
    EXPECT_TRUE(savedReports().empty());
    EXPECT_TRUE(DAVCrashes::sharedInstance()->unprocessedCrashReports().empty());
    settle(5);
    EXPECT_TRUE(sentLogs("appleError").empty());
}

TEST_F(CrashesService, WithoutAutomaticProcessingTheWrapperChoosesWhatIsSent) {
    // Saved reports of earlier runs, among files that are no reports.
    fs::create_directories(sdkPath("crashes"));
    for (uint8_t tag : {0xa0, 0xb0}) {
        ReportFixture fixture;
        fixture.uuid[0] = tag;
        auto bytes = fixture.bytes();
        std::ofstream(sdkPath("crashes/78000000" + std::to_string(tag)), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::ofstream(sdkPath("crashes/empty")).close();
    std::ofstream(sdkPath("crashes/settings.plist")) << "not a report";
    std::ofstream(sdkPath("crashes/garbage")) << "not a report";

    DAVTest::MessageRecorder recorder;
    startSdk();
    EXPECT_EQ(DAVCrashes::sharedInstance()->crashFiles().size(), 3u);
    DAVWrapperCrashesHelper::setAutomaticProcessing(false);
    executor->advance(DAVCrashes::kProcessingDelay);
    EXPECT_TRUE(recorder.containsPrefix(DAVLogLevelWarning,
                                        "Crash report found but couldn't parse it, discard the crash report: "));
    auto waiting = DAVWrapperCrashesHelper::unprocessedCrashReports();
    ASSERT_EQ(waiting.size(), 2u);
    settle(3);
    EXPECT_TRUE(sentLogs("appleError").empty());

    // The wrapper keeps one report; the other one and its file go.
    EXPECT_FALSE(DAVWrapperCrashesHelper::sendCrashReportsOrAwaitUserConfirmationForFilteredIds({errorIdFor(0xa0)}));
    EXPECT_TRUE(recorder.contains(DAVLogLevelDebug,
                                  "Automatic crash processing is disabled and \"AlwaysSend\" is "
                                  "false. Awaiting user confirmation."));
    EXPECT_EQ(DAVWrapperCrashesHelper::unprocessedCrashReports().size(), 1u);
    EXPECT_FALSE(fs::exists(sdkPath("crashes/78000000176")));
    DAVCrashes::notifyWithUserConfirmation(DAVUserConfirmationSend);
    ASSERT_TRUE(waitForLogs("appleError", 1));
    settle(3);
    ASSERT_EQ(sentLogs("appleError").size(), 1u);
    EXPECT_EQ(sentLogs("appleError")[0]["id"], errorIdFor(0xa0));
    // What is no report stays where it is.
    auto left = filesIn(sdkPath("crashes"));
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"empty", "garbage", "settings.plist"}));
}

TEST_F(CrashesService, OldKeysMoveToTheirNewNames) {
    Foundation::UserDefaults::standard().set("DAVUserConfirmation", Foundation::Value(true));
    Foundation::UserDefaults::standard().set("kDAVCrashesIsEnabledKey", Foundation::Value(false));
    DAVCrashes::sharedInstance();
    EXPECT_EQ(DAVDerAvedurUserDefaults::shared().objectForKey("CrashesUserConfirmation"), Foundation::Value(true));
    EXPECT_EQ(DAVDerAvedurUserDefaults::shared().objectForKey("CrashesIsEnabled"), Foundation::Value(false));
    EXPECT_TRUE(Foundation::UserDefaults::standard().objectForKey("DAVUserConfirmation").isNull());
    startSdk();
    EXPECT_FALSE(DAVCrashes::isEnabled());
}

TEST_F(CrashesService, TheTenArchiveClassNamesAreRegisteredForMigration) {
    DAVCrashes::sharedInstance();
    const auto migrations = DAVUtility::migrationClasses();
    for (const char* name :
         {"DAVAppleErrorLog", "DAVThread", "DAVWrapperException", "DAVAbstractErrorLog", "DAVHandledErrorLog",
          "DAVException", "DAVStackFrame", "DAVBinary", "DAVErrorAttachmentLog", "DAVErrorReport"}) {
        auto found = migrations.find(name);
        ASSERT_NE(found, migrations.end()) << name;
        EXPECT_EQ(found->second, name);
    }
}

TEST_F(CrashesService, TwoReportsSavedInOneSecondAreBothKept) {
    // The manual clock stands still: both saves happen in the same second.
    leavePendingReport(0xa0);
    startSdk();
    leavePendingReport(0xb0);
    DAVCrashes::resetSharedInstance();
    DAVDerAvedur::resetSharedInstance();
    startSdk();
    auto saved = savedReports();
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[1], saved[0] + "-1");
    executor->advance(DAVCrashes::kProcessingDelay);
    ASSERT_TRUE(waitForLogs("appleError", 2));
    std::set<std::string> ids;
    for (const auto& log : sentLogs("appleError")) ids.insert(log["id"]);
    EXPECT_EQ(ids, (std::set<std::string>{errorIdFor(0xa0), errorIdFor(0xb0)}));
}

TEST_F(CrashesService, AReportThatCannotBeSavedIsKeptForTheNextStart) {
    // A file where the directory should be: nothing can be saved in it.
    fs::create_directories(DAVUtility::sdkDirectory());
    std::ofstream(sdkPath("crashes")).close();
    leavePendingReport();
    DAVTest::MessageRecorder recorder;
    startSdk();
    EXPECT_TRUE(fs::exists(pendingReportPath()));
    EXPECT_TRUE(recorder.contains(DAVLogLevelError, "Couldn't save the crash report; it is kept for the next start."));

    fs::remove(sdkPath("crashes"));
    DAVCrashesUtil::resetDirectory();
    restartSdk();
    EXPECT_FALSE(fs::exists(pendingReportPath()));
    EXPECT_EQ(savedReports().size(), 1u);
}

TEST_F(CrashesService, AnUndecodablePendingReportIsPurged) {
    writePendingReport({'v', 'x', 'c', 'r', 'a', 's', 'h', 1, 0xff});
    DAVTest::MessageRecorder recorder;
    startSdk();
    EXPECT_TRUE(recorder.containsPrefix(DAVLogLevelWarning, "Couldn't parse crash report: "));
    EXPECT_FALSE(fs::exists(pendingReportPath()));
    EXPECT_TRUE(savedReports().empty());
    EXPECT_TRUE(DAVCrashes::hasCrashedInLastSession());
}

TEST_F(CrashesService, DisablingLeavesNoFilesAndDoesNotBlockWaiters) {
    leavePendingReport();
    startSdk();
    DAVCrashesLogBuffer::addLog(*std::make_shared<DAVLogWithProperties>(), "internal-1",
                                *std::make_shared<DAVEncrypter>());
    DAVCrashesLogBuffer::writeAtCrash();
    std::ofstream(sdkPath("crashes/DAVCrashes.analyzer")).close();
    leavePendingReport(0xb0);
    ASSERT_EQ(savedReports().size(), 1u);

    DAVCrashes::setEnabled(false);
    EXPECT_FALSE(DAVCrashes::isEnabled());
    EXPECT_TRUE(savedReports().empty());
    EXPECT_FALSE(fs::exists(sdkPath("crashes/DAVCrashes.analyzer")));
    EXPECT_FALSE(fs::exists(pendingReportPath()));
    for (const std::string& name : filesIn(sdkPath("crasheslogbuffer")))
        EXPECT_EQ(fs::file_size(sdkPath("crasheslogbuffer/" + name)), 0u) << name;
    // Waiting for processing that will never come returns at once.
    EXPECT_TRUE(DAVCrashes::sharedInstance()->unprocessedCrashReports().empty());
    // The delayed processing finds the service disabled and sends nothing.
    settle(5);
    EXPECT_TRUE(sentLogs("appleError").empty());

    // Enabled again: the crash reporter is the same, nothing is left to process.
    auto reporter = DAVCrashes::sharedInstance()->crashReporter();
    DAVCrashes::setEnabled(true);
    EXPECT_TRUE(DAVCrashes::isEnabled());
    EXPECT_EQ(DAVCrashes::sharedInstance()->crashReporter(), reporter);
    EXPECT_TRUE(DAVCrashes::sharedInstance()->crashFiles().empty());
    EXPECT_TRUE(DAVCrashes::sharedInstance()->unprocessedCrashReports().empty());
}

TEST_F(CrashesService, MemoryPressureIsRememberedForTheNextRun) {
    startSdk();
    EXPECT_FALSE(DAVCrashes::hasReceivedMemoryWarningInLastSession());
    Foundation::NotificationCenter::defaultCenter().post(kDAVMemoryPressureNotification, nullptr,
                                                         {{"level", Foundation::Value(1)}});
    executor->drain();
    EXPECT_TRUE(DAVDerAvedurUserDefaults::shared().objectForKey("AppDidReceiveMemoryWarning").isNull());
    Foundation::NotificationCenter::defaultCenter().post(kDAVMemoryPressureNotification, nullptr,
                                                         {{"level", Foundation::Value(4)}});
    executor->drain();
    EXPECT_EQ(DAVDerAvedurUserDefaults::shared().objectForKey("AppDidReceiveMemoryWarning"), Foundation::Value(true));

    restartSdk();
    EXPECT_TRUE(DAVCrashes::hasReceivedMemoryWarningInLastSession());
    EXPECT_TRUE(DAVDerAvedurUserDefaults::shared().objectForKey("AppDidReceiveMemoryWarning").isNull());
}

TEST_F(CrashesService, HandledErrorsAreSentWithTheirPropertiesAndAttachments) {
    auto exception = std::make_shared<DAVException>();
    exception->type = "ColorParseError";
    exception->message = "not a colour";
    exception->frames = std::vector<std::shared_ptr<DAVStackFrame>>{std::make_shared<DAVStackFrame>()};
    (*exception->frames)[0]->methodName = "parse";

    // Before the service starts there is nothing to send with.
    EXPECT_FALSE(DAVCrashes::sharedInstance()->trackModelException(exception, {}, {}));
    startSdk();
    auto errorId = DAVCrashes::sharedInstance()->trackModelException(
        exception, {{"colour", Foundation::Value("#12")}},
        {DAVErrorAttachmentLog::attachmentWithText("input: #12", std::string("input.txt"))});
    ASSERT_TRUE(errorId);
    EXPECT_TRUE(Foundation::isUUIDString(*errorId));
    ASSERT_TRUE(waitForLogs("handledError", 1));
    ASSERT_TRUE(waitForLogs("errorAttachment", 1));
    const auto log = sentLogs("handledError")[0];
    EXPECT_EQ(log["id"], *errorId);
    EXPECT_EQ(log["exception"]["type"], "ColorParseError");
    EXPECT_EQ(log["properties"]["colour"], "#12");
    EXPECT_EQ(sentLogs("errorAttachment")[0]["errorId"], *errorId);

    auto report = DAVCrashes::sharedInstance()->buildHandledErrorReportWithErrorID(*errorId);
    EXPECT_EQ(report->incidentIdentifier(), *errorId);
    EXPECT_FALSE(report->signal());
    EXPECT_EQ(report->appProcessIdentifier(), 0u);

    DAVCrashes::setEnabled(false);
    EXPECT_FALSE(DAVCrashes::sharedInstance()->trackModelException(exception, {}, {}));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--crash-child") == 0) return crashChild(argv[2]);
    vexil::test::prepareEnvironment();
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    vexil::test::finishEnvironment(result);
    return result;
}
