// Decoded crash reports turned into error logs and error reports.
#include <gtest/gtest.h>

#include "CrashReportFixture.h"
#include "DerAvedur/DerAvedur/DerAvedurTestSupport.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Util/DAVErrorLogFormatter.h"
#include "Platform/Foundation/Text.h"

namespace {

using CrashesTest::ReportFixture;

std::vector<std::string> addresses(const DAVThread& thread) {
    std::vector<std::string> result;
    for (const auto& frame : *thread.frames) result.push_back(*frame->address);
    return result;
}

TEST(ErrorLogFormatter, ACrashBecomesAFatalAppleErrorLog) {
    ReportFixture fixture;
    auto report = fixture.decode();
    ASSERT_TRUE(report);
    auto log = DAVErrorLogFormatter::errorLogFromCrashReport(*report);

    EXPECT_EQ(log->type(), "appleError");
    EXPECT_EQ(log->errorId, "A0A1A2A3-A4A5-A6A7-A8A9-AAABACADAEAF");
    EXPECT_TRUE(log->isFatal());
    EXPECT_EQ(log->timestamp(), (Foundation::Date{1700000000}));
    EXPECT_EQ(log->appLaunchTimestamp, (Foundation::Date{1699999990}));
    EXPECT_EQ(log->processId, 4242);
    EXPECT_EQ(log->processName, "vexil");
    EXPECT_EQ(log->parentProcessId, 100);
    EXPECT_EQ(log->parentProcessName, "bash");
    EXPECT_EQ(log->applicationPath, "/usr/bin/vexil");
    EXPECT_EQ(log->architecture, "x86_64");
    EXPECT_EQ(log->primaryArchitectureId, 0x1000007);
    EXPECT_EQ(log->architectureVariantId, 3);
    EXPECT_EQ(log->osExceptionType, "SIGSEGV");
    EXPECT_EQ(log->osExceptionCode, "SEGV_MAPERR");
    EXPECT_EQ(log->osExceptionAddress, "0x0000000000000000");
    EXPECT_EQ(log->errorThreadId, 4242);
    EXPECT_FALSE(log->exceptionType);
    EXPECT_FALSE(log->exception);
    ASSERT_NE(log->device(), nullptr);
    EXPECT_TRUE(log->isValid());

    // The thread that could not be walked has nothing to show.
    ASSERT_TRUE(log->threads);
    ASSERT_EQ(log->threads->size(), 2u);
    EXPECT_EQ((*log->threads)[0]->threadId, 4242);
    EXPECT_EQ(addresses(*(*log->threads)[0]), (std::vector<std::string>{"0x0000000000401010", "0x00007f0000001100"}));
    EXPECT_EQ((*(*log->threads)[0]->frames)[0]->code, "crash_here");
    EXPECT_FALSE((*(*log->threads)[0]->frames)[1]->code);
    EXPECT_EQ((*log->threads)[1]->threadId, 4244);
    for (const auto& thread : *log->threads) EXPECT_TRUE(thread->isValid());

    EXPECT_EQ(log->registers, (Foundation::Dictionary{{"rip", Foundation::Value("0x0000000000401010")},
                                                      {"rsp", Foundation::Value("0x00007ffc0000fff0")}}));

    // Only images that hold a frame, and only those with a build id.
    ASSERT_TRUE(log->binaries);
    ASSERT_EQ(log->binaries->size(), 2u);
    const DAVBinary& executable = *(*log->binaries)[0];
    EXPECT_EQ(executable.binaryId, "101112131415161718191a1b1c1d1e1f20212223");
    EXPECT_EQ(executable.name, "vexil");
    EXPECT_EQ(executable.path, "/usr/bin/vexil");
    EXPECT_EQ(executable.startAddress, "0x0000000000400000");
    EXPECT_EQ(executable.endAddress, "0x0000000000401fff");
    EXPECT_EQ(executable.architecture, "x86_64");
    EXPECT_EQ(executable.primaryArchitectureId, 0x1000007);
    EXPECT_TRUE(executable.isValid());
    EXPECT_EQ((*log->binaries)[1]->name, "libc.so.6");
}

TEST(ErrorLogFormatter, AnUncaughtExceptionCarriesItsFramesAndTheirImages) {
    ReportFixture fixture;
    fixture.report.exception = &fixture.exception;
    auto report = fixture.decode();
    ASSERT_TRUE(report);
    auto log = DAVErrorLogFormatter::errorLogFromCrashReport(*report);
    EXPECT_EQ(log->exceptionType, "std::runtime_error");
    EXPECT_EQ(log->exceptionReason, "boom");
    ASSERT_TRUE(log->exception);
    EXPECT_EQ(log->exception->type, "std::runtime_error");
    EXPECT_EQ(log->exception->message, "boom");
    ASSERT_TRUE(log->exception->frames);
    EXPECT_EQ(log->exception->frames->size(), 2u);
    EXPECT_TRUE(log->exception->isValid());
    std::vector<std::string> names;
    for (const auto& binary : *log->binaries) names.push_back(*binary->name);
    EXPECT_EQ(names, (std::vector<std::string>{"vexil", "libc.so.6", "libunused.so"}));

    auto errorReport = DAVErrorLogFormatter::errorReportFromCrashReport(*report);
    EXPECT_EQ(errorReport->exceptionName(), "std::runtime_error");
    EXPECT_EQ(errorReport->exceptionReason(), "boom");
}

TEST(ErrorLogFormatter, TheErrorReportMatchesTheLog) {
    DAVDerAvedurUserDefaults::shared().setObject(Foundation::Value("7D3F1C8E-0000-4000-8000-000000000001"),
                                                 "InstallId");
    ReportFixture fixture;
    auto report = fixture.decode();
    ASSERT_TRUE(report);
    auto fromReport = DAVErrorLogFormatter::errorReportFromCrashReport(*report);
    auto log = DAVErrorLogFormatter::errorLogFromCrashReport(*report);
    auto fromLog = DAVErrorLogFormatter::errorReportFromLog(*log);
    for (const auto& errorReport : {fromReport, fromLog}) {
        EXPECT_EQ(errorReport->incidentIdentifier(), log->errorId);
        EXPECT_EQ(errorReport->reporterKey(), "7D3F1C8E-0000-4000-8000-000000000001");
        EXPECT_EQ(errorReport->signal(), "SIGSEGV");
        EXPECT_FALSE(errorReport->exceptionName());
        EXPECT_EQ(errorReport->appStartTime(), (Foundation::Date{1699999990}));
        EXPECT_EQ(errorReport->appErrorTime(), (Foundation::Date{1700000000}));
        EXPECT_EQ(errorReport->appProcessIdentifier(), 4242u);
        EXPECT_NE(errorReport->device(), nullptr);
        EXPECT_FALSE(errorReport->isAppKill());
    }
    DAVDerAvedurUserDefaults::shared().removeObjectForKey("InstallId");
}

TEST(ErrorLogFormatter, AReportWithoutUuidOrProcessInformationStillGivesAStableValidLog) {
    ReportFixture fixture;
    fixture.report.report_info = nullptr;
    auto first = DAVErrorLogFormatter::errorIdForCrashReport(*fixture.decode());
    EXPECT_TRUE(Foundation::isUUIDString(first)) << first;
    EXPECT_EQ(DAVErrorLogFormatter::errorIdForCrashReport(*fixture.decode()), first);
    fixture.process.process_id = 4243;
    EXPECT_NE(DAVErrorLogFormatter::errorIdForCrashReport(*fixture.decode()), first);

    fixture.report.process_info = nullptr;
    auto report = fixture.decode();
    ASSERT_TRUE(report);
    auto log = DAVErrorLogFormatter::errorLogFromCrashReport(*report);
    EXPECT_EQ(log->errorId, DAVErrorLogFormatter::errorReportFromCrashReport(*report)->incidentIdentifier());
    EXPECT_EQ(log->processName, "com.tarnwick.vexil");
    EXPECT_EQ(log->processId, 0);
    EXPECT_EQ(log->applicationPath, "com.tarnwick.vexil");
    EXPECT_FALSE(log->appLaunchTimestamp);
    EXPECT_TRUE(log->isValid());
}

TEST(ErrorLogFormatter, ArchitectureNames) {
    EXPECT_EQ(DAVErrorLogFormatter::architectureName(0x1000007, 3), "x86_64");
    EXPECT_EQ(DAVErrorLogFormatter::architectureName(7, 3), "i386");
    EXPECT_EQ(DAVErrorLogFormatter::architectureName(0x100000C, 2), "arm64e");
    EXPECT_EQ(DAVErrorLogFormatter::architectureName(0x100000C, 0), "arm64");
    EXPECT_EQ(DAVErrorLogFormatter::architectureName(12, 9), "armv7");
    EXPECT_EQ(DAVErrorLogFormatter::architectureName(99, 0), std::nullopt);
}

}  // namespace
