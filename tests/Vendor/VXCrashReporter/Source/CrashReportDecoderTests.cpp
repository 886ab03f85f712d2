// The crash report decoder: header checks, the sections' rules over reports
// packed by protoc-c's code, and a report written by the log writer read back
// field by field.
#include "Vendor/VXCrashReporter/Source/VXCrashLogWriter.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReport.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReport.pb-c.h"
#include "Vendor/VXCrashReporter/Source/VXCrashSharedImageList.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<uint8_t> withHeader(const std::vector<uint8_t>& body, uint8_t version = 1) {
    std::vector<uint8_t> bytes(8 + body.size());
    memcpy(bytes.data(), "vxcrash", 7);
    bytes[7] = version;
    if (!body.empty()) memcpy(bytes.data() + 8, body.data(), body.size());
    return bytes;
}

// A small valid report built from protoc-c's message structs; tests change
// what they need before packing it.
struct ReportFixture {
    Vxcrash__CrashReport report;
    Vxcrash__CrashReport__SystemInfo system;
    Vxcrash__CrashReport__ApplicationInfo application;
    Vxcrash__CrashReport__Signal signal;
    Vxcrash__CrashReport__Signal__MachException mach;
    Vxcrash__CrashReport__MachineInfo machine;
    Vxcrash__CrashReport__Processor machineProcessor;
    Vxcrash__CrashReport__ReportInfo reportInfo;
    Vxcrash__CrashReport__Thread thread;
    Vxcrash__CrashReport__Thread* threads[1];
    Vxcrash__CrashReport__Thread__StackFrame frame;
    Vxcrash__CrashReport__Thread__StackFrame* frames[1];
    Vxcrash__CrashReport__BinaryImage images[2];
    Vxcrash__CrashReport__BinaryImage* imagePointers[2];
    Vxcrash__CrashReport__Exception exception;
    std::vector<uint64_t> codes;
    uint8_t uuid[16];

    ReportFixture() {
        vxcrash__crash_report__init(&report);
        vxcrash__crash_report__system_info__init(&system);
        system.has_operating_system = 1;
        system.operating_system = VXCRASH__CRASH_REPORT__SYSTEM_INFO__OPERATING_SYSTEM__LINUX;
        system.os_version = const_cast<char*>("6.1");
        system.architecture = VXCRASH__ARCHITECTURE__X86_64;
        report.system_info = &system;

        vxcrash__crash_report__application_info__init(&application);
        application.identifier = const_cast<char*>("com.tarnwick.vexil");
        application.version = const_cast<char*>("1");
        report.application_info = &application;

        vxcrash__crash_report__signal__init(&signal);
        signal.name = const_cast<char*>("SIGSEGV");
        signal.code = const_cast<char*>("SEGV_MAPERR");
        report.signal = &signal;
        vxcrash__crash_report__signal__mach_exception__init(&mach);

        vxcrash__crash_report__machine_info__init(&machine);
        vxcrash__crash_report__processor__init(&machineProcessor);
        machine.processor = &machineProcessor;
        vxcrash__crash_report__report_info__init(&reportInfo);

        vxcrash__crash_report__thread__init(&thread);
        vxcrash__crash_report__thread__stack_frame__init(&frame);
        frame.pc = 0x1000;
        frames[0] = &frame;
        thread.n_frames = 1;
        thread.frames = frames;
        thread.crashed = 1;
        threads[0] = &thread;
        report.n_threads = 1;
        report.threads = threads;

        for (int i = 0; i < 2; ++i) {
            vxcrash__crash_report__binary_image__init(&images[i]);
            images[i].name = const_cast<char*>(i == 0 ? "/usr/bin/vexil" : "/usr/lib/libc.so.6");
            imagePointers[i] = &images[i];
        }
        images[0].base_address = 0x400000;
        images[0].size = 0x1000;
        images[1].base_address = 0x400000;
        images[1].size = 0x2000;
        report.n_binary_images = 1;
        report.binary_images = imagePointers;

        vxcrash__crash_report__exception__init(&exception);
        for (int i = 0; i < 16; ++i) uuid[i] = (uint8_t)(0xa0 + i);
    }

    std::vector<uint8_t> bytes() {
        std::vector<uint8_t> body(vxcrash__crash_report__get_packed_size(&report));
        vxcrash__crash_report__pack(&report, body.data());
        return withHeader(body);
    }

    std::shared_ptr<VXCrashReport> decode(VXCrashReporterError* error = nullptr) {
        return VXCrashReport::initWithData(bytes(), error);
    }
};

void expectInvalid(const std::vector<uint8_t>& bytes, const std::string& message) {
    VXCrashReporterError error;
    EXPECT_EQ(VXCrashReport::initWithData(bytes, &error), nullptr) << message;
    EXPECT_EQ(error.domain, "VXCrashReporterErrorDomain");
    EXPECT_EQ(error.code, VXCrashReporterErrorCrashReportInvalid);
    EXPECT_EQ(error.localizedDescription, message);
    // Without an error location the failure is the same, only unreported.
    EXPECT_EQ(VXCrashReport::initWithData(bytes, nullptr), nullptr);
}

TEST(CrashReportDecoder, RejectsBadHeadersAndUndecodableBodies) {
    const std::string truncated = "Could not decode truncated crash log";
    const std::string unknown = "An unknown error occured decoding the crash report";
    struct Case {
        std::vector<uint8_t> bytes;
        std::string message;
    };
    const Case cases[] = {
        {{}, truncated},
        {withHeader({}), truncated},  // exactly the 8 header bytes
        {{'v', 'x', 'c', 'r', 'a', 's', 'X', 1, 0x08}, "Could not decode invalid crash log header"},
        {withHeader({0x08, 0x01}, 2), "Could not decode unsupported crash report version: 2"},
        {withHeader({0x08, 0x01}, 0), "Could not decode unsupported crash report version: 0"},
        {withHeader({0xff}), unknown},                    // 9 bytes, not a message
        {withHeader({0x0a, 0x7f, 0x01}), unknown},        // a length running past the end
        {withHeader({0x4a, 0x02, 0x08, 0x01}), unknown},  // only report_info: required sections missing
    };
    for (const Case& c : cases) expectInvalid(c.bytes, c.message);

    // Garbage of every length never crashes the decoder.
    uint32_t seed = 12345;
    for (size_t length = 9; length < 200; ++length) {
        std::vector<uint8_t> body(length - 8);
        for (auto& b : body) {
            seed = seed * 1103515245u + 12345u;
            b = (uint8_t)(seed >> 16);
        }
        EXPECT_EQ(VXCrashReport::initWithData(withHeader(body)), nullptr);
    }
}

TEST(CrashReportDecoder, MinimalReportWithoutOptionalSections) {
    ReportFixture f;
    f.frame.pc = 0xFFFFFF0000001234ull;
    VXCrashReporterError error;
    auto report = f.decode(&error);
    ASSERT_NE(report, nullptr) << error.localizedDescription;

    EXPECT_FALSE(report->hasMachineInfo());
    EXPECT_FALSE(report->hasProcessInfo());
    EXPECT_FALSE(report->hasExceptionInfo());
    EXPECT_EQ(report->machExceptionInfo(), nullptr);
    EXPECT_FALSE(report->uuidRef().has_value());
    EXPECT_FALSE(report->customData().has_value());

    const auto& system = *report->systemInfo();
    EXPECT_EQ(system.operatingSystem(), VXCrashReportOperatingSystemLinux);
    EXPECT_EQ(system.operatingSystemVersion(), "6.1");
    EXPECT_FALSE(system.operatingSystemBuild().has_value());
    EXPECT_FALSE(system.timestamp().has_value());  // timestamp 0
    // No machine record: the processor comes from the architecture.
    ASSERT_NE(system.processorInfo(), nullptr);
    EXPECT_EQ(system.processorInfo()->typeEncoding(), VXCrashReportProcessorTypeEncodingMach);
    EXPECT_EQ(system.processorInfo()->type(), 0x1000007u);
    EXPECT_EQ(system.processorInfo()->subtype(), 3u);

    EXPECT_FALSE(report->applicationInfo()->applicationMarketingVersion().has_value());
    ASSERT_EQ(report->threads().size(), 1u);
    // Not masked without an ARM64E machine record.
    EXPECT_EQ(report->threads()[0]->stackFrames()[0]->instructionPointer(), 0xFFFFFF0000001234ull);
    EXPECT_EQ(report->threads()[0]->stackFrames()[0]->symbolInfo(), nullptr);
    EXPECT_FALSE(report->images()[0]->hasImageUUID());
    EXPECT_FALSE(report->images()[0]->imageUUID().has_value());
    EXPECT_EQ(report->images()[0]->codeType(), nullptr);
}

TEST(CrashReportDecoder, ProcessorFromTheArchitecture) {
    struct Case {
        Vxcrash__Architecture architecture;
        uint64_t type;
        uint64_t subtype;
    };
    const Case cases[] = {
        {VXCRASH__ARCHITECTURE__X86_32, 7, 3},        {VXCRASH__ARCHITECTURE__X86_64, 0x1000007, 3},
        {VXCRASH__ARCHITECTURE__ARMV6, 12, 6},        {VXCRASH__ARCHITECTURE__PPC, 18, 0},
        {VXCRASH__ARCHITECTURE__PPC64, 0x1000012, 0}, {VXCRASH__ARCHITECTURE__ARMV7, 12, 9},
    };
    for (const Case& c : cases) {
        ReportFixture f;
        f.system.architecture = c.architecture;
        auto report = f.decode();
        ASSERT_NE(report, nullptr);
        EXPECT_EQ(report->systemInfo()->processorInfo()->type(), c.type);
        EXPECT_EQ(report->systemInfo()->processorInfo()->subtype(), c.subtype);
    }
    ReportFixture unknown;
    unknown.system.architecture = VXCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN;
    expectInvalid(unknown.bytes(), "Crash report has an unknown architecture");

    // A machine record supplies the processor, whatever the architecture says.
    ReportFixture withMachine;
    withMachine.system.architecture = VXCRASH__ARCHITECTURE__ARCHITECTURE_UNKNOWN;
    withMachine.machineProcessor.type = 0x1000007;
    withMachine.machineProcessor.subtype = 8;
    withMachine.report.machine_info = &withMachine.machine;
    auto report = withMachine.decode();
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(report->systemInfo()->processorInfo()->subtype(), 8u);
}

TEST(CrashReportDecoder, SectionRules) {
    {
        ReportFixture f;
        f.reportInfo.has_uuid = 1;
        f.reportInfo.uuid = {15, f.uuid};
        f.report.report_info = &f.reportInfo;
        expectInvalid(f.bytes(), "Report UUID value is not a standard 16 bytes");
    }
    {
        ReportFixture f;
        f.reportInfo.has_uuid = 1;
        f.reportInfo.uuid = {16, f.uuid};
        f.report.report_info = &f.reportInfo;
        auto report = f.decode();
        ASSERT_NE(report, nullptr);
        ASSERT_TRUE(report->uuidRef().has_value());
        EXPECT_EQ(memcmp(report->uuidRef()->data(), f.uuid, 16), 0);
    }
    {
        ReportFixture f;
        f.report.n_threads = 0;
        expectInvalid(f.bytes(), "Crash report is missing thread state information");
    }
    {
        ReportFixture f;
        f.report.n_binary_images = 0;
        expectInvalid(f.bytes(), "Crash report is missing binary image information");
    }
    for (size_t count : {0, 255, 256}) {
        ReportFixture f;
        f.codes.assign(count, 7);
        f.mach.type = 1;
        f.mach.n_codes = count;
        f.mach.codes = f.codes.data();
        f.signal.mach_exception = &f.mach;
        if (count == 256) {
            expectInvalid(f.bytes(), "Crash report includes too many Mach Exception codes");
            continue;
        }
        auto report = f.decode();
        ASSERT_NE(report, nullptr) << count;
        ASSERT_NE(report->machExceptionInfo(), nullptr);
        EXPECT_EQ(report->machExceptionInfo()->type(), 1u);
        EXPECT_EQ(report->machExceptionInfo()->codes(), f.codes);
    }
}

TEST(CrashReportDecoder, SignedPointersAreMaskedOnlyOnAnArm64eMachine) {
    struct Case {
        uint64_t type;
        uint64_t subtype;
        uint64_t expected;
    };
    const uint64_t signedPc = 0x8badf00000012345ull;
    const Case cases[] = {
        {0x100000C, 2, signedPc & 0xFFFFFFFFFull},  // ARM64E
        {0x100000C, 0, signedPc},                   // plain ARM64
        {0x1000007, 2, signedPc},                   // x86-64
    };
    for (const Case& c : cases) {
        ReportFixture f;
        f.machineProcessor.type = c.type;
        f.machineProcessor.subtype = c.subtype;
        f.report.machine_info = &f.machine;
        f.frame.pc = signedPc;
        f.exception.name = const_cast<char*>("NSRangeException");
        f.exception.reason = const_cast<char*>("out of range");
        f.exception.n_frames = 1;
        f.exception.frames = f.frames;
        f.report.exception = &f.exception;
        auto report = f.decode();
        ASSERT_NE(report, nullptr);
        EXPECT_EQ(report->threads()[0]->stackFrames()[0]->instructionPointer(), c.expected);
        ASSERT_TRUE(report->exceptionInfo()->stackFrames().has_value());
        EXPECT_EQ((*report->exceptionInfo()->stackFrames())[0]->instructionPointer(), c.expected);
    }
}

TEST(CrashReportDecoder, ImagesByAddressAndTheirIds) {
    ReportFixture f;
    f.report.n_binary_images = 2;
    f.images[0].has_uuid = 1;
    f.images[0].uuid = {16, f.uuid};
    auto report = f.decode();
    ASSERT_NE(report, nullptr);
    ASSERT_EQ(report->images().size(), 2u);
    EXPECT_TRUE(report->images()[0]->hasImageUUID());
    EXPECT_EQ(report->images()[0]->imageUUID(), "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");

    // The images overlap: the first in order that holds the address wins.
    EXPECT_EQ(report->imageForAddress(0x3fffff), nullptr);
    EXPECT_EQ(report->imageForAddress(0x400000), report->images()[0]);
    EXPECT_EQ(report->imageForAddress(0x400fff), report->images()[0]);
    EXPECT_EQ(report->imageForAddress(0x401000), report->images()[1]);  // base + size of the first
    EXPECT_EQ(report->imageForAddress(0x402000), nullptr);
}

TEST(CrashReportDecoder, ExceptionWithoutFramesHasNoFrameList) {
    ReportFixture f;
    f.exception.name = const_cast<char*>("std::runtime_error");
    f.exception.reason = const_cast<char*>("");
    f.report.exception = &f.exception;
    auto report = f.decode();
    ASSERT_NE(report, nullptr);
    ASSERT_TRUE(report->hasExceptionInfo());
    EXPECT_EQ(report->exceptionInfo()->exceptionName(), "std::runtime_error");
    EXPECT_EQ(report->exceptionInfo()->exceptionReason(), "");
    EXPECT_FALSE(report->exceptionInfo()->stackFrames().has_value());
}

// --- a report written by the log writer, read back --------------------------

struct Written {
    vxcrash_log_writer_t* writer;
    vxcrash_async_file_t* file;
    const vxcrash_log_signal_info_t* siginfo;
};

vxcrash_error_t writeFromState(vxcrash_async_thread_state_t* state, void* context) {
    auto* w = static_cast<Written*>(context);
    return vxcrash_log_writer_write(w->writer, vxcrash_async_gettid(), vxcrash_shared_image_list(), w->file, w->siginfo,
                                    state);
}

std::string bytesText(const vxcrash_log_writer_bytes_t& bytes) { return std::string(bytes.data, bytes.length); }

std::string hexOf(const uint8_t* bytes, size_t length) {
    std::string text;
    char buffer[3];
    for (size_t i = 0; i < length; ++i) {
        snprintf(buffer, sizeof(buffer), "%02x", bytes[i]);
        text += buffer;
    }
    return text;
}

TEST(CrashReportDecoder, EveryWrittenFieldReadsBack) {
    auto writer = std::make_unique<vxcrash_log_writer_t>();
    ASSERT_EQ(vxcrash_log_writer_init(writer.get(), "com.tarnwick.vexil", "42", "4.2.0", 0, true), VXCRASH_ESUCCESS);
    const uint64_t returnAddresses[] = {0x1111, 0x2222, 0x3333};
    vxcrash_log_writer_set_exception(writer.get(), "std::runtime_error", "boom", returnAddresses, 3);
    const uint8_t custom[] = {0, 1, 2, 0xff};
    vxcrash_log_writer_set_custom_data(writer.get(), custom, sizeof(custom));

    const char* home = getenv("VEXIL_HOME");
    std::string directory = home != nullptr ? home : "/tmp";
    std::filesystem::create_directories(directory);
    std::string path = directory + "/vxcrash-roundtrip.XXXXXX";
    int fd = mkstemp(path.data());
    ASSERT_GE(fd, 0);
    vxcrash_async_file_t file;
    vxcrash_async_file_init(&file, fd, 256 * 1024);
    const uint64_t machCodes[] = {1, 0xdeadbeef};
    vxcrash_log_mach_signal_info_t mach = {6, machCodes, 2};
    vxcrash_log_bsd_signal_info_t bsd = {SIGTRAP, TRAP_TRACE, 0x7777};
    vxcrash_log_signal_info_t siginfo = {&bsd, &mach};
    Written w{writer.get(), &file, &siginfo};
    time_t before = time(nullptr);
    ASSERT_EQ(vxcrash_async_thread_state_current(writeFromState, &w), VXCRASH_ESUCCESS);
    time_t after = time(nullptr);
    ASSERT_EQ(vxcrash_async_file_close(&file), VXCRASH_ESUCCESS);

    std::vector<uint8_t> bytes;
    {
        FILE* in = fopen(path.c_str(), "rb");
        ASSERT_NE(in, nullptr);
        uint8_t buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof(buffer), in)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
        fclose(in);
        unlink(path.c_str());
    }
    VXCrashReporterError error;
    auto report = VXCrashReport::initWithData(bytes, &error);
    ASSERT_NE(report, nullptr) << error.localizedDescription;
    const vxcrash_log_writer_t& wr = *writer;

    ASSERT_TRUE(report->uuidRef().has_value());
    EXPECT_EQ(memcmp(report->uuidRef()->data(), wr.uuid, 16), 0);

    const auto& system = *report->systemInfo();
    EXPECT_EQ(system.operatingSystem(), VXCrashReportOperatingSystemLinux);
    EXPECT_EQ(system.operatingSystemVersion(), bytesText(wr.system_info.os_version));
    EXPECT_EQ(system.operatingSystemBuild(), bytesText(wr.system_info.os_build));
    EXPECT_EQ(system.architecture(), VXCrashReportArchitectureX86_64);
    ASSERT_TRUE(system.timestamp().has_value());
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(system.timestamp()->time_since_epoch()).count();
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);

    ASSERT_TRUE(report->hasMachineInfo());
    const auto& machine = *report->machineInfo();
    if (wr.machine_info.model.data != nullptr) {
        EXPECT_EQ(machine.modelName(), bytesText(wr.machine_info.model));
    } else {
        EXPECT_FALSE(machine.modelName().has_value());
    }
    EXPECT_EQ(machine.processorInfo()->typeEncoding(), VXCrashReportProcessorTypeEncodingMach);
    EXPECT_EQ(machine.processorInfo()->type(), wr.machine_info.cpu_type);
    EXPECT_EQ(machine.processorInfo()->subtype(), wr.machine_info.cpu_subtype);
    EXPECT_EQ(machine.processorCount(), wr.machine_info.processor_count);
    EXPECT_EQ(machine.logicalProcessorCount(), wr.machine_info.logical_processor_count);
    // The system's processor is the machine's.
    EXPECT_EQ(system.processorInfo(), machine.processorInfo());

    const auto& application = *report->applicationInfo();
    EXPECT_EQ(application.applicationIdentifier(), "com.tarnwick.vexil");
    EXPECT_EQ(application.applicationVersion(), "42");
    EXPECT_EQ(application.applicationMarketingVersion(), "4.2.0");

    ASSERT_TRUE(report->hasProcessInfo());
    const auto& process = *report->processInfo();
    EXPECT_EQ(process.processName(), bytesText(wr.process_info.process_name));
    EXPECT_EQ(process.processID(), (uint64_t)getpid());
    EXPECT_EQ(process.processPath(), bytesText(wr.process_info.process_path));
    ASSERT_TRUE(process.processStartTime().has_value());
    EXPECT_EQ((uint64_t)std::chrono::duration_cast<std::chrono::seconds>(process.processStartTime()->time_since_epoch())
                  .count(),
              wr.process_info.start_time);
    EXPECT_EQ(process.parentProcessName(), bytesText(wr.process_info.parent_process_name));
    EXPECT_EQ(process.parentProcessID(), (uint64_t)getppid());
    EXPECT_EQ(process.native(), wr.process_info.native);

    EXPECT_EQ(report->signalInfo()->name(), "SIGTRAP");
    EXPECT_EQ(report->signalInfo()->code(), "TRAP_TRACE");
    EXPECT_EQ(report->signalInfo()->address(), 0x7777u);
    ASSERT_NE(report->machExceptionInfo(), nullptr);
    EXPECT_EQ(report->machExceptionInfo()->type(), 6u);
    EXPECT_EQ(report->machExceptionInfo()->codes(), (std::vector<uint64_t>{1, 0xdeadbeef}));

    ASSERT_TRUE(report->hasExceptionInfo());
    EXPECT_EQ(report->exceptionInfo()->exceptionName(), "std::runtime_error");
    EXPECT_EQ(report->exceptionInfo()->exceptionReason(), "boom");
    ASSERT_TRUE(report->exceptionInfo()->stackFrames().has_value());
    std::vector<uint64_t> exceptionPcs;
    for (const auto& frame : *report->exceptionInfo()->stackFrames())
        exceptionPcs.push_back(frame->instructionPointer());
    EXPECT_EQ(exceptionPcs, (std::vector<uint64_t>{0x1111, 0x2222, 0x3333}));

    EXPECT_EQ(report->customData(), std::vector<uint8_t>(custom, custom + sizeof(custom)));

    // The calling thread, written from its state, is the crashed one and the
    // only one with registers; the first frame is at the saved rip.
    ASSERT_GE(report->threads().size(), 1u);
    int crashed = 0;
    for (size_t i = 0; i < report->threads().size(); ++i) {
        const auto& thread = *report->threads()[i];
        EXPECT_EQ(thread.threadNumber(), (int64_t)i);
        if (!thread.crashed()) {
            EXPECT_TRUE(thread.registers().empty());
            continue;
        }
        ++crashed;
        ASSERT_EQ(thread.registers().size(), 21u);
        EXPECT_EQ(thread.registers()[0]->registerName(), "rip");
        EXPECT_EQ(thread.registers()[20]->registerName(), "gs");
        ASSERT_FALSE(thread.stackFrames().empty());
        EXPECT_EQ(thread.stackFrames()[0]->instructionPointer(), thread.registers()[0]->registerValue());
        EXPECT_NE(report->imageForAddress(thread.stackFrames()[0]->instructionPointer()), nullptr);
    }
    EXPECT_EQ(crashed, 1);

    // The images are the process's, with their build ids and x86-64 code type.
    vxcrash_async_image_list_t* list = vxcrash_shared_image_list();
    vxcrash_async_image_list_set_reading(list, true);
    ASSERT_EQ(report->images().size(), (size_t)vxcrash_async_image_list_count(list));
    for (uint32_t i = 0; i < vxcrash_async_image_list_count(list); ++i) {
        const vxcrash_async_image_t* image = vxcrash_async_image_list_get(list, i);
        const auto& info = *report->images()[i];
        EXPECT_EQ(info.imageBaseAddress(), image->header_address);
        EXPECT_EQ(info.imageSize(), image->end - image->start);
        EXPECT_EQ(info.hasImageUUID(), image->build_id_length > 0);
        if (image->build_id_length > 0) {
            EXPECT_EQ(info.imageUUID(), hexOf(image->build_id, image->build_id_length));
        }
        ASSERT_NE(info.codeType(), nullptr);
        EXPECT_EQ(info.codeType()->type(), 0x1000007u);
    }
    vxcrash_async_image_list_set_reading(list, false);
    vxcrash_log_writer_free(writer.get());
}

}  // namespace
