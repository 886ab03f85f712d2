#pragma once
// A crash report packed with protoc-c's code, so that every field is under
// the test's control: a crash of "vexil" (pid 4242) on its thread 4242 in the
// executable, called from libc; a second thread that could not be walked and
// a third one in an image that has no build id.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "Vendor/VXCrashReporter/Source/VXCrashReport.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReport.pb-c.h"

namespace CrashesTest {

inline char* text(const char* s) { return const_cast<char*>(s); }

struct Frame {
    Vxcrash__CrashReport__Thread__StackFrame frame;
    Vxcrash__CrashReport__Symbol symbol;
};

struct ReportFixture {
    Vxcrash__CrashReport report;
    Vxcrash__CrashReport__SystemInfo system;
    Vxcrash__CrashReport__ApplicationInfo application;
    Vxcrash__CrashReport__ProcessInfo process;
    Vxcrash__CrashReport__MachineInfo machine;
    Vxcrash__CrashReport__Processor processor;
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
        vxcrash__crash_report__processor__init(&processor);
        processor.has_encoding = 1;
        processor.encoding = VXCRASH__CRASH_REPORT__PROCESSOR__TYPE_ENCODING__TYPE_ENCODING_MACH;
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
        vxcrash__crash_report__symbol__init(&frames[0].symbol);
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

    // The report file's bytes: header, then the message.
    std::vector<uint8_t> bytes() {
        std::vector<uint8_t> bytes(8 + vxcrash__crash_report__get_packed_size(&report));
        std::memcpy(bytes.data(), "vxcrash", 7);
        bytes[7] = 1;
        vxcrash__crash_report__pack(&report, bytes.data() + 8);
        return bytes;
    }

    std::shared_ptr<VXCrashReport> decode() {
        VXCrashReporterError error;
        auto decoded = VXCrashReport::initWithData(bytes(), &error);
        EXPECT_NE(decoded, nullptr) << error.localizedDescription;
        return decoded;
    }
};

}  // namespace CrashesTest
