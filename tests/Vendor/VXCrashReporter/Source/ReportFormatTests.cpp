// Pure data tests of the report format: the message set of the .proto, the
// field encoder, the async file and the signal name tables.
#include "Vendor/VXCrashReporter/Source/VXCrashLogWriter.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReport.pb-c.h"
#include "Vendor/VXCrashReporter/Source/VXCrashSignalNames.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <protobuf-c/protobuf-c.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

struct MemFile {
    int fd = memfd_create("vxcrash-test", 0);
    ~MemFile() { close(fd); }
    std::vector<uint8_t> contents() const {
        std::vector<uint8_t> out((size_t)lseek(fd, 0, SEEK_END));
        if (pread(fd, out.data(), out.size(), 0) != (ssize_t)out.size()) out.clear();
        return out;
    }
};

// The message and field table of the report format: every
// message's full name, and each field's number, name, label and type (a
// message or enumeration field by its full type name), as protoc-c compiled
// them from VXCrashReport.proto.
TEST(CrashReportFormat, MessagesAndFieldsAreThoseOfTheFormatTable) {
    const ProtobufCLabel req = PROTOBUF_C_LABEL_REQUIRED, opt = PROTOBUF_C_LABEL_OPTIONAL,
                         rep = PROTOBUF_C_LABEL_REPEATED;
    struct Field {
        uint32_t number;
        const char* name;
        ProtobufCLabel label;
        ProtobufCType type;
        const char* typeName;  // message or enumeration fields
    };
    struct Message {
        const ProtobufCMessageDescriptor* descriptor;
        const char* fullName;
        std::vector<Field> fields;
    };
    const ProtobufCType string = PROTOBUF_C_TYPE_STRING, bytes = PROTOBUF_C_TYPE_BYTES,
                        message = PROTOBUF_C_TYPE_MESSAGE, enumeration = PROTOBUF_C_TYPE_ENUM,
                        u64 = PROTOBUF_C_TYPE_UINT64, u32 = PROTOBUF_C_TYPE_UINT32, i64 = PROTOBUF_C_TYPE_INT64,
                        boolean = PROTOBUF_C_TYPE_BOOL;
    const Message messages[] = {
        {&vxcrash__crash_report__descriptor,
         "vxcrash.CrashReport",
         {{1, "system_info", req, message, "vxcrash.CrashReport.SystemInfo"},
          {2, "application_info", req, message, "vxcrash.CrashReport.ApplicationInfo"},
          {3, "threads", rep, message, "vxcrash.CrashReport.Thread"},
          {4, "binary_images", rep, message, "vxcrash.CrashReport.BinaryImage"},
          {5, "exception", opt, message, "vxcrash.CrashReport.Exception"},
          {6, "signal", req, message, "vxcrash.CrashReport.Signal"},
          {7, "process_info", opt, message, "vxcrash.CrashReport.ProcessInfo"},
          {8, "machine_info", opt, message, "vxcrash.CrashReport.MachineInfo"},
          {9, "report_info", opt, message, "vxcrash.CrashReport.ReportInfo"},
          {10, "custom_data", opt, bytes, nullptr}}},
        {&vxcrash__crash_report__system_info__descriptor,
         "vxcrash.CrashReport.SystemInfo",
         {{1, "operating_system", opt, enumeration, "vxcrash.CrashReport.SystemInfo.OperatingSystem"},
          {2, "os_version", req, string, nullptr},
          {3, "architecture", req, enumeration, "vxcrash.Architecture"},
          {4, "timestamp", req, i64, nullptr},
          {5, "os_build", opt, string, nullptr}}},
        {&vxcrash__crash_report__application_info__descriptor,
         "vxcrash.CrashReport.ApplicationInfo",
         {{1, "identifier", req, string, nullptr},
          {2, "version", req, string, nullptr},
          {3, "marketing_version", opt, string, nullptr}}},
        {&vxcrash__crash_report__process_info__descriptor,
         "vxcrash.CrashReport.ProcessInfo",
         {{1, "process_name", opt, string, nullptr},
          {2, "process_id", req, u32, nullptr},
          {3, "process_path", opt, string, nullptr},
          {4, "parent_process_name", opt, string, nullptr},
          {5, "parent_process_id", req, u32, nullptr},
          {6, "native", req, boolean, nullptr},
          {7, "start_time", opt, u64, nullptr}}},
        {&vxcrash__crash_report__machine_info__descriptor,
         "vxcrash.CrashReport.MachineInfo",
         {{1, "model", opt, string, nullptr},
          {2, "processor", req, message, "vxcrash.CrashReport.Processor"},
          {3, "processor_count", req, u32, nullptr},
          {4, "logical_processor_count", req, u32, nullptr}}},
        {&vxcrash__crash_report__processor__descriptor,
         "vxcrash.CrashReport.Processor",
         {{1, "encoding", opt, enumeration, "vxcrash.CrashReport.Processor.TypeEncoding"},
          {2, "type", req, u64, nullptr},
          {3, "subtype", req, u64, nullptr}}},
        {&vxcrash__crash_report__report_info__descriptor,
         "vxcrash.CrashReport.ReportInfo",
         {{1, "user_requested", req, boolean, nullptr}, {2, "uuid", opt, bytes, nullptr}}},
        {&vxcrash__crash_report__thread__descriptor,
         "vxcrash.CrashReport.Thread",
         {{1, "thread_number", req, u32, nullptr},
          {2, "frames", rep, message, "vxcrash.CrashReport.Thread.StackFrame"},
          {3, "crashed", req, boolean, nullptr},
          {4, "registers", rep, message, "vxcrash.CrashReport.Thread.RegisterValue"},
          {5, "frames_truncated", opt, boolean, nullptr}}},
        {&vxcrash__crash_report__thread__stack_frame__descriptor,
         "vxcrash.CrashReport.Thread.StackFrame",
         {{3, "pc", req, u64, nullptr}, {6, "symbol", opt, message, "vxcrash.CrashReport.Symbol"}}},
        {&vxcrash__crash_report__thread__register_value__descriptor,
         "vxcrash.CrashReport.Thread.RegisterValue",
         {{1, "name", req, string, nullptr}, {2, "value", req, u64, nullptr}}},
        {&vxcrash__crash_report__symbol__descriptor,
         "vxcrash.CrashReport.Symbol",
         {{1, "name", req, string, nullptr},
          {2, "start_address", req, u64, nullptr},
          {3, "end_address", opt, u64, nullptr}}},
        {&vxcrash__crash_report__binary_image__descriptor,
         "vxcrash.CrashReport.BinaryImage",
         {{1, "base_address", req, u64, nullptr},
          {2, "size", req, u64, nullptr},
          {3, "name", req, string, nullptr},
          {4, "uuid", opt, bytes, nullptr},
          {5, "code_type", opt, message, "vxcrash.CrashReport.Processor"}}},
        {&vxcrash__crash_report__exception__descriptor,
         "vxcrash.CrashReport.Exception",
         {{1, "name", req, string, nullptr},
          {2, "reason", req, string, nullptr},
          {3, "frames", rep, message, "vxcrash.CrashReport.Thread.StackFrame"}}},
        {&vxcrash__crash_report__signal__descriptor,
         "vxcrash.CrashReport.Signal",
         {{1, "name", req, string, nullptr},
          {2, "code", req, string, nullptr},
          {3, "address", req, u64, nullptr},
          {4, "mach_exception", opt, message, "vxcrash.CrashReport.Signal.MachException"}}},
        {&vxcrash__crash_report__signal__mach_exception__descriptor,
         "vxcrash.CrashReport.Signal.MachException",
         {{1, "type", req, u64, nullptr}, {2, "codes", rep, u64, nullptr}}},
    };
    for (const Message& m : messages) {
        SCOPED_TRACE(m.fullName);
        EXPECT_STREQ(m.descriptor->name, m.fullName);
        EXPECT_STREQ(m.descriptor->package_name, "vxcrash");
        ASSERT_EQ(m.descriptor->n_fields, m.fields.size());
        for (const Field& f : m.fields) {
            SCOPED_TRACE(f.name);
            const ProtobufCFieldDescriptor* d = protobuf_c_message_descriptor_get_field(m.descriptor, f.number);
            ASSERT_NE(d, nullptr);
            EXPECT_STREQ(d->name, f.name);
            EXPECT_EQ(d->label, f.label);
            EXPECT_EQ(d->type, f.type);
            if (f.type == message) {
                EXPECT_STREQ(static_cast<const ProtobufCMessageDescriptor*>(d->descriptor)->name, f.typeName);
            } else if (f.type == enumeration) {
                EXPECT_STREQ(static_cast<const ProtobufCEnumDescriptor*>(d->descriptor)->name, f.typeName);
            }
        }
    }

    // The enumerations' values, and the defaults of the enumeration fields.
    struct Value {
        const ProtobufCEnumDescriptor* descriptor;
        const char* name;
        int value;
    };
    const Value values[] = {
        {&vxcrash__crash_report__processor__type_encoding__descriptor, "TYPE_ENCODING_UNKNOWN", 0},
        {&vxcrash__crash_report__processor__type_encoding__descriptor, "TYPE_ENCODING_MACH", 1},
        {&vxcrash__crash_report__system_info__operating_system__descriptor, "MAC_OS_X", 0},
        {&vxcrash__crash_report__system_info__operating_system__descriptor, "IPHONE_OS", 1},
        {&vxcrash__crash_report__system_info__operating_system__descriptor, "IPHONE_SIMULATOR", 2},
        {&vxcrash__crash_report__system_info__operating_system__descriptor, "OS_UNKNOWN", 3},
        {&vxcrash__crash_report__system_info__operating_system__descriptor, "APPLE_TVOS", 4},
        {&vxcrash__architecture__descriptor, "X86_32", 0},
        {&vxcrash__architecture__descriptor, "X86_64", 1},
        {&vxcrash__architecture__descriptor, "ARMV6", 2},
        {&vxcrash__architecture__descriptor, "PPC", 3},
        {&vxcrash__architecture__descriptor, "PPC64", 4},
        {&vxcrash__architecture__descriptor, "ARMV7", 5},
        {&vxcrash__architecture__descriptor, "ARCHITECTURE_UNKNOWN", 6},
    };
    for (const Value& v : values) {
        const ProtobufCEnumValue* found = protobuf_c_enum_descriptor_get_value_by_name(v.descriptor, v.name);
        ASSERT_NE(found, nullptr) << v.name;
        EXPECT_EQ(found->value, v.value) << v.name;
    }
    auto defaultOf = [](const ProtobufCMessageDescriptor* descriptor, uint32_t number) {
        const ProtobufCFieldDescriptor* d = protobuf_c_message_descriptor_get_field(descriptor, number);
        return d != nullptr && d->default_value != nullptr ? *static_cast<const int*>(d->default_value) : -1;
    };
    EXPECT_EQ(defaultOf(&vxcrash__crash_report__processor__descriptor, 1), 0);
    EXPECT_EQ(defaultOf(&vxcrash__crash_report__system_info__descriptor, 1), 3);
    EXPECT_EQ(defaultOf(&vxcrash__crash_report__system_info__descriptor, 3), 6);
}

TEST(CrashFieldEncoder, EncodesEveryFieldKind) {
    int32_t minusOne = -1, sMinusOne = -1, fixed32 = 0x01020304;
    int64_t sMinusTwo = -2;
    uint64_t three00 = 300, fixed64 = 0x0102030405060708ull;
    uint32_t five = 5, length300 = 300;
    float oneFloat = 1.0f;
    double oneDouble = 1.0;
    protobuf_c_boolean yes = 1;
    vxcrash_writer_bytes_value_t bytes = {2, "\x00\x01"};

    struct Case {
        uint32_t field;
        ProtobufCType type;
        const void* value;
        std::vector<uint8_t> expected;
    } cases[] = {
        // A negative int32 is sign-extended to ten bytes.
        {1, PROTOBUF_C_TYPE_INT32, &minusOne, {0x08, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}},
        {1, PROTOBUF_C_TYPE_SINT32, &sMinusOne, {0x08, 0x01}},
        {2, PROTOBUF_C_TYPE_SFIXED32, &fixed32, {0x15, 0x04, 0x03, 0x02, 0x01}},
        {2, PROTOBUF_C_TYPE_FIXED32, &fixed32, {0x15, 0x04, 0x03, 0x02, 0x01}},
        {2, PROTOBUF_C_TYPE_FLOAT, &oneFloat, {0x15, 0x00, 0x00, 0x80, 0x3f}},
        {1, PROTOBUF_C_TYPE_INT64, &three00, {0x08, 0xac, 0x02}},
        {1, PROTOBUF_C_TYPE_UINT64, &three00, {0x08, 0xac, 0x02}},
        {1, PROTOBUF_C_TYPE_SINT64, &sMinusTwo, {0x08, 0x03}},
        {2, PROTOBUF_C_TYPE_FIXED64, &fixed64, {0x11, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
        {2, PROTOBUF_C_TYPE_SFIXED64, &fixed64, {0x11, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
        {2, PROTOBUF_C_TYPE_DOUBLE, &oneDouble, {0x11, 0, 0, 0, 0, 0, 0, 0xf0, 0x3f}},
        {1, PROTOBUF_C_TYPE_UINT32, &five, {0x08, 0x05}},
        {1, PROTOBUF_C_TYPE_ENUM, &five, {0x08, 0x05}},
        {1, PROTOBUF_C_TYPE_BOOL, &yes, {0x08, 0x01}},
        {3, PROTOBUF_C_TYPE_STRING, "abc", {0x1a, 0x03, 'a', 'b', 'c'}},
        {3, PROTOBUF_C_TYPE_BYTES, &bytes, {0x1a, 0x02, 0x00, 0x01}},
        // A message: its key and length only; the body follows from the caller.
        {16, PROTOBUF_C_TYPE_MESSAGE, &length300, {0x82, 0x01, 0xac, 0x02}},
    };
    for (const Case& c : cases) {
        MemFile mem;
        vxcrash_async_file_t file;
        vxcrash_async_file_init(&file, mem.fd, 0);
        size_t measured = vxcrash_writer_encode_field(nullptr, c.field, c.type, c.value);
        size_t written = vxcrash_writer_encode_field(&file, c.field, c.type, c.value);
        ASSERT_EQ(vxcrash_async_file_flush(&file), VXCRASH_ESUCCESS);
        EXPECT_EQ(measured, written) << "type " << c.type;
        EXPECT_EQ(mem.contents(), c.expected) << "type " << c.type;
        EXPECT_EQ(written, c.expected.size()) << "type " << c.type;
    }
}

TEST(CrashFieldEncoder, VarintsTakeUpToTenBytes) {
    uint8_t buffer[16];
    EXPECT_EQ(vxcrash_writer_encode_varint(buffer, 0), 1u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(vxcrash_writer_encode_varint(buffer, 127), 1u);
    EXPECT_EQ(vxcrash_writer_encode_varint(buffer, 128), 2u);
    EXPECT_EQ(vxcrash_writer_encode_varint(buffer, UINT64_MAX), 10u);
    EXPECT_EQ(buffer[9], 0x01);
}

TEST(CrashAsyncFile, KeepsTheFirstFailureOnceTheLimitIsReached) {
    MemFile mem;
    vxcrash_async_file_t file;
    vxcrash_async_file_init(&file, dup(mem.fd), 100);
    std::vector<uint8_t> chunk(60, 0xab);
    EXPECT_EQ(vxcrash_async_file_write(&file, chunk.data(), chunk.size()), VXCRASH_ESUCCESS);
    EXPECT_EQ(vxcrash_async_file_write(&file, chunk.data(), chunk.size()), VXCRASH_OUTPUT_ERR);
    // Once failed, a write that would fit is refused too: the file must not go on with a hole.
    EXPECT_EQ(vxcrash_async_file_write(&file, chunk.data(), 10), VXCRASH_OUTPUT_ERR);
    EXPECT_EQ(vxcrash_async_file_error(&file), VXCRASH_OUTPUT_ERR);
    EXPECT_EQ(vxcrash_async_file_close(&file), VXCRASH_OUTPUT_ERR);
    EXPECT_EQ(mem.contents().size(), 60u);
}

TEST(CrashAsyncFile, WritesLargeAndSmallPiecesInOrder) {
    MemFile mem;
    vxcrash_async_file_t file;
    vxcrash_async_file_init(&file, dup(mem.fd), 0);
    std::vector<uint8_t> expected;
    for (size_t size : {3u, 2000u, 1u, 1023u, 1024u, 5000u}) {
        std::vector<uint8_t> piece(size);
        for (size_t i = 0; i < size; ++i) piece[i] = (uint8_t)(expected.size() + i);
        ASSERT_EQ(vxcrash_async_file_write(&file, piece.data(), piece.size()), VXCRASH_ESUCCESS);
        expected.insert(expected.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(vxcrash_async_file_close(&file), VXCRASH_ESUCCESS);
    EXPECT_EQ(mem.contents(), expected);
}

TEST(CrashAsyncFile, AFailedWriteIsReported) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    signal(SIGPIPE, SIG_IGN);
    vxcrash_async_file_t file;
    vxcrash_async_file_init(&file, fds[1], 0);
    EXPECT_EQ(vxcrash_async_file_write(&file, "abc", 3), VXCRASH_ESUCCESS);  // buffered
    EXPECT_EQ(vxcrash_async_file_close(&file), VXCRASH_OUTPUT_ERR);
}

TEST(CrashSignalNames, UseThisSystemsNumbers) {
    EXPECT_STREQ(vxcrash_async_signal_signame(7), "SIGBUS");
    EXPECT_STREQ(vxcrash_async_signal_signame(SIGSEGV), "SIGSEGV");
    EXPECT_STREQ(vxcrash_async_signal_signame(SIGABRT), "SIGABRT");
    EXPECT_EQ(vxcrash_async_signal_signame(0), nullptr);
    EXPECT_EQ(vxcrash_async_signal_signame(99), nullptr);

    struct Case {
        int signo, code;
        const char* name;
    } cases[] = {
        {SIGSEGV, SEGV_MAPERR, "SEGV_MAPERR"},
        {SIGSEGV, SEGV_ACCERR, "SEGV_ACCERR"},
        {SIGBUS, BUS_ADRALN, "BUS_ADRALN"},
        {SIGFPE, FPE_INTDIV, "FPE_INTDIV"},
        {SIGILL, ILL_ILLOPC, "ILL_ILLOPC"},
        {SIGTRAP, TRAP_BRKPT, "TRAP_BRKPT"},
        {SIGABRT, SI_TKILL, "SI_TKILL"},
        {SIGSEGV, SI_KERNEL, "SI_KERNEL"},
        {SIGABRT, SI_USER, "SI_USER"},
        {SIGSEGV, SI_QUEUE, "SI_QUEUE"},
        // Every code the kernel defines, also those the C library may not name.
        {SIGILL, 9, "ILL_BADIADDR"},
        {SIGFPE, 14, "FPE_FLTUNK"},
        {SIGFPE, 15, "FPE_CONDTRAP"},
        {SIGSEGV, 9, "SEGV_MTESERR"},
        {SIGSEGV, 10, "SEGV_CPERR"},
        {SIGTRAP, 5, "TRAP_UNK"},
        {SIGTRAP, 6, "TRAP_PERF"},
        {SIGSYS, 2, "SYS_USER_DISPATCH"},
        {SIGKILL, -7, "SI_DETHREAD"},
        {SIGIO, -60, "SI_ASYNCNL"},
        {SIGABRT, 1, nullptr},
        {SIGSEGV, 77, nullptr},
    };
    for (const Case& c : cases) {
        const char* name = vxcrash_async_signal_sigcode(c.signo, c.code);
        if (c.name == nullptr)
            EXPECT_EQ(name, nullptr) << c.signo << "/" << c.code;
        else
            EXPECT_STREQ(name, c.name) << c.signo << "/" << c.code;
    }
}

}  // namespace
