// Decoded crash reports turned into error logs and error reports. The
// reports are packed with protoc-c's code, so every field is under control.
#include <gtest/gtest.h>

#include <cstring>

#include "DerAvedur/DerAvedur/DerAvedurTestSupport.h"
#include "DerAvedur/DerAvedur/Internals/Util/DAVDerAvedurUserDefaults.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Util/DAVErrorLogFormatter.h"
#include "Platform/Foundation/Text.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReport.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReport.pb-c.h"

namespace {

char* text(const char* s) { return const_cast<char*>(s); }

struct Frame {
    Vxcrash__CrashReport__Thread__StackFrame frame;
    Vxcrash__Symbol symbol;
};

// A crash of "vexil" (pid 4242) on its thread 4242 in the executable, called
// from libc; a second thread that could not be walked and a third one in an
// image that has no build id.
struct ReportFixture {
    Vxcrash__CrashReport report;
    Vxcrash__CrashReport__SystemInfo system;
    Vxcrash__CrashReport__ApplicationInfo application;
    Vxcrash__CrashReport__ProcessInfo process;
    Vxcrash__CrashReport__MachineInfo machine;
    Vxcrash__Processor processor;
    Vxcrash__CrashReport__ReportInfo reportInfo;
    Vxcrash__CrashReport__Signal signal;
    Vxcrash__CrashReport__Thread threads[3];
    Vxcrash__CrashReport__Thread* threadPointers[3];
    Frame frames[5];
    Vxcrash__CrashReport__Thread__StackFrame* crashedFrames[2];
    Vxcrash__CrashReport__Thread__StackFrame* thirdFrames[1];
    Vxcrash__CrashReport__Thread__StackFrame* exceptionFrames[2];
    Vxcrash__CrashReport__Thread__RegisterValue registers[2];
    Vxcrash__CrashReport__Thread__RegisterValue* registerPointers[2];
    Vxcrash__CrashReport__BinaryImage images[4];
    Vxcrash__CrashReport__BinaryImage* imagePointers[4];
    Vxcrash__CrashReport__Exception exception;
    uint8_t uuid[16];
    uint8_t buildIds[3][20];

    ReportFixture() {
        vxcrash__crash_report__init(&report);
        vxcrash__crash_report__system_info__init(&system);
        system.has_operating_system = 1;
        system.operating_system = VXCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__LINUX;
        system.os_version = text("6.1.0");
        system.architecture = VXCRASH__ARCHITECTURE__X86_64;
        system.timestamp = 1700000000;
        report.system_info = &system;

        vxcrash__crash_report__application_info__init(&application);
        application.identifier = text("com.tarnwick.vexil");
        application.version = text("1");
        report.application_info = &application;

        vxcrash__crash_report__process_info__init(&process);
        process.process_name = text("vexil");
        process.process_id = 4242;
        process.process_path = text("/usr/bin/vexil");
        process.parent_process_name = text("bash");
        process.parent_process_id = 100;
        process.native = 1;
        process.has_start_time = 1;
        process.start_time = 1699999990;
        report.process_info = &process;

        vxcrash__crash_report__machine_info__init(&machine);
        vxcrash__processor__init(&processor);
        processor.has_encoding = 1;
        processor.encoding = VXCRASH__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH;
        processor.type = 0x1000007;
        processor.subtype = 3;
        machine.processor = &processor;
        machine.processor_count = 4;
        machine.logical_processor_count = 8;
        report.machine_info = &machine;

        vxcrash__crash_report__report_info__init(&reportInfo);
        for (int i = 0; i < 16; ++i) uuid[i] = static_cast<uint8_t>(0xa0 + i);
        reportInfo.has_uuid = 1;
        reportInfo.uuid.len = 16;
        reportInfo.uuid.data = uuid;
        report.report_info = &reportInfo;

        vxcrash__crash_report__signal__init(&signal);
        signal.name = text("SIGSEGV");
        signal.code = text("SEGV_MAPERR");
        signal.address = 0;
        report.signal = &signal;

        const uint64_t pcs[5] = {0x401010, 0x7f0000001100, 0x7f2000000010, 0x7f3000000040, 0x401020};
        for (int i = 0; i < 5; ++i) {
            vxcrash__crash_report__thread__stack_frame__init(&frames[i].frame);
            frames[i].frame.pc = pcs[i];
        }
        vxcrash__symbol__init(&frames[0].symbol);
        frames[0].symbol.name = text("crash_here");
        frames[0].symbol.start_address = 0x401000;
        frames[0].frame.symbol = &frames[0].symbol;
        crashedFrames[0] = &frames[0].frame;
        crashedFrames[1] = &frames[1].frame;
        thirdFrames[0] = &frames[2].frame;
        exceptionFrames[0] = &frames[3].frame;
        exceptionFrames[1] = &frames[4].frame;

        for (int i = 0; i < 3; ++i) {
            vxcrash__crash_report__thread__init(&threads[i]);
            threads[i].thread_number = 4242 + i;
            threadPointers[i] = &threads[i];
        }
        threads[0].crashed = 1;
        threads[0].n_frames = 2;
        threads[0].frames = crashedFrames;
        const char* names[2] = {"rip", "rsp"};
        const uint64_t values[2] = {0x401010, 0x7ffc0000fff0};
        for (int i = 0; i < 2; ++i) {
            vxcrash__crash_report__thread__register_value__init(&registers[i]);
            registers[i].name = text(names[i]);
            registers[i].value = values[i];
            registerPointers[i] = &registers[i];
        }
        threads[0].n_registers = 2;
        threads[0].registers = registerPointers;
        threads[2].n_frames = 1;
        threads[2].frames = thirdFrames;
        report.n_threads = 3;
        report.threads = threadPointers;

        // The executable, libc, the image of the third thread (no build id)
        // and an image of the exception's frames.
        const char* imageNames[4] = {"/usr/bin/vexil", "/usr/lib/x86_64-linux-gnu/libc.so.6", "linux-vdso.so.1",
                                     "/usr/lib/libunused.so"};
        const uint64_t bases[4] = {0x400000, 0x7f0000000000, 0x7f2000000000, 0x7f3000000000};
        for (int i = 0; i < 4; ++i) {
            vxcrash__crash_report__binary_image__init(&images[i]);
            images[i].name = text(imageNames[i]);
            images[i].base_address = bases[i];
            images[i].size = 0x2000;
            imagePointers[i] = &images[i];
        }
        for (int i = 0; i < 3; ++i)
            for (int b = 0; b < 20; ++b) buildIds[i][b] = static_cast<uint8_t>(0x10 * (i + 1) + b);
        const int withId[3] = {0, 1, 3};
        for (int i = 0; i < 3; ++i) {
            images[withId[i]].has_uuid = 1;
            images[withId[i]].uuid.len = 20;
            images[withId[i]].uuid.data = buildIds[i];
        }
        report.n_binary_images = 4;
        report.binary_images = imagePointers;

        vxcrash__crash_report__exception__init(&exception);
        exception.name = text("std::runtime_error");
        exception.reason = text("boom");
        exception.n_frames = 2;
        exception.frames = exceptionFrames;
    }

    std::shared_ptr<VXCrashReport> decode() {
        std::vector<uint8_t> bytes(8 + vxcrash__crash_report__get_packed_size(&report));
        std::memcpy(bytes.data(), "vxcrash", 7);
        bytes[7] = 1;
        vxcrash__crash_report__pack(&report, bytes.data() + 8);
        VXCrashReporterError error;
        auto decoded = VXCrashReport::initWithData(bytes, &error);
        EXPECT_NE(decoded, nullptr) << error.localizedDescription;
        return decoded;
    }
};

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
    EXPECT_EQ(addresses(*(*log->threads)[0]),
              (std::vector<std::string>{"0x0000000000401010", "0x00007f0000001100"}));
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
    DAVDerAvedurUserDefaults::shared().setObject(Foundation::Value("7D3F1C8E-0000-4000-8000-000000000001"), "InstallId");
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
