// Crash-time half of the log writer: async-safe only.
#include "Vendor/VXCrashReporter/Source/VXCrashLogWriter.h"

#include "Vendor/VXCrashReporter/Source/VXCrashAsyncThreadParking.h"
#include "Vendor/VXCrashReporter/Source/VXCrashFrameCursor.h"
#include "Vendor/VXCrashReporter/Source/VXCrashSignalNames.h"

#include <cstdlib>
#include <ctime>
#include <elf.h>
#include <protobuf-c/protobuf-c.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Field numbers of VXCrashReport.proto.
enum : uint32_t {
    kReportSystemInfo = 1,
    kReportApplicationInfo = 2,
    kReportThreads = 3,
    kReportBinaryImages = 4,
    kReportException = 5,
    kReportSignal = 6,
    kReportProcessInfo = 7,
    kReportMachineInfo = 8,
    kReportReportInfo = 9,
    kReportCustomData = 10,

    kSystemOperatingSystem = 1,
    kSystemOsVersion = 2,
    kSystemArchitecture = 3,
    kSystemTimestamp = 4,
    kSystemOsBuild = 5,

    kApplicationIdentifier = 1,
    kApplicationVersion = 2,
    kApplicationMarketingVersion = 3,

    kProcessName = 1,
    kProcessId = 2,
    kProcessPath = 3,
    kProcessParentName = 4,
    kProcessParentId = 5,
    kProcessNative = 6,
    kProcessStartTime = 7,

    kMachineModel = 1,
    kMachineProcessor = 2,
    kMachineProcessorCount = 3,
    kMachineLogicalProcessorCount = 4,

    kProcessorEncoding = 1,
    kProcessorType = 2,
    kProcessorSubtype = 3,

    kReportInfoUserRequested = 1,
    kReportInfoUuid = 2,

    kThreadNumber = 1,
    kThreadFrames = 2,
    kThreadCrashed = 3,
    kThreadRegisters = 4,
    kThreadFramesTruncated = 5,

    kFramePc = 3,

    kRegisterName = 1,
    kRegisterValue = 2,

    kImageBaseAddress = 1,
    kImageSize = 2,
    kImageName = 3,
    kImageUuid = 4,
    kImageCodeType = 5,

    kExceptionName = 1,
    kExceptionReason = 2,
    kExceptionFrames = 3,

    kSignalName = 1,
    kSignalCode = 2,
    kSignalAddress = 3,
    kSignalMachException = 4,

    kMachExceptionType = 1,
    kMachExceptionCodes = 2,
};

// Enumeration values of VXCrashReport.proto.
constexpr uint32_t kOperatingSystemLinux = 5;
constexpr uint32_t kArchitectureX86_64 = 1;
constexpr uint32_t kTypeEncodingUnknown = 0;
constexpr uint32_t kTypeEncodingMach = 1;

using File = vxcrash_async_file_t;

size_t put(File *file, uint32_t field, ProtobufCType type, const void *value) {
    return vxcrash_writer_encode_field(file, field, type, value);
}

size_t put_bytes(File *file, uint32_t field, const vxcrash_log_writer_bytes_t &bytes) {
    vxcrash_writer_bytes_value_t value = {(size_t)bytes.length, bytes.data != nullptr ? bytes.data : ""};
    return put(file, field, PROTOBUF_C_TYPE_BYTES, &value);
}

size_t put_text(File *file, uint32_t field, const char *text, size_t length) {
    vxcrash_writer_bytes_value_t value = {length, text};
    return put(file, field, PROTOBUF_C_TYPE_BYTES, &value);
}

size_t put_u64(File *file, uint32_t field, uint64_t v) { return put(file, field, PROTOBUF_C_TYPE_UINT64, &v); }

size_t put_u32(File *file, uint32_t field, uint32_t v) { return put(file, field, PROTOBUF_C_TYPE_UINT32, &v); }

size_t put_bool(File *file, uint32_t field, bool v) {
    protobuf_c_boolean b = v ? 1 : 0;
    return put(file, field, PROTOBUF_C_TYPE_BOOL, &b);
}

size_t put_enum(File *file, uint32_t field, uint32_t v) { return put(file, field, PROTOBUF_C_TYPE_ENUM, &v); }

// A nested message: measured by running body without a file, then its key and
// length, then body again with the file. body must write the same bytes both times.
template <typename Body>
size_t put_message(File *file, uint32_t field, Body body) {
    size_t size = body(nullptr);
    uint32_t length = (uint32_t)size;
    size_t header = put(file, field, PROTOBUF_C_TYPE_MESSAGE, &length);
    if (file != nullptr) body(file);
    return header + size;
}

size_t write_processor(File *file, uint32_t encoding, uint64_t type, uint64_t subtype) {
    size_t rv = put_enum(file, kProcessorEncoding, encoding);
    rv += put_u64(file, kProcessorType, type);
    rv += put_u64(file, kProcessorSubtype, subtype);
    return rv;
}

// The process as it is at the crash: a forked child crashes with its own pid,
// its parent is the process the writer was made in, and its report gets an
// id of its own.
struct CrashProcess {
    uint32_t pid;
    uint32_t parent_pid;
    bool forked;
    uint8_t uuid[16];
};

void crash_process_init(CrashProcess *p, const vxcrash_log_writer_t *w) {
    p->pid = (uint32_t)syscall(SYS_getpid);
    p->forked = p->pid != w->process_info.process_id;
    p->parent_pid = p->forked ? (uint32_t)syscall(SYS_getppid) : w->process_info.parent_process_id;
    vxcrash_async_memcpy(p->uuid, w->uuid, sizeof(p->uuid));
    if (p->forked) {
        uint64_t seed = ((uint64_t)p->pid << 32) ^ vxcrash_async_monotonic_ms();
        for (size_t i = 0; i < sizeof(p->uuid); ++i) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            p->uuid[i] ^= (uint8_t)(seed >> 56);
        }
        p->uuid[6] = (uint8_t)((p->uuid[6] & 0x0f) | 0x40);
        p->uuid[8] = (uint8_t)((p->uuid[8] & 0x3f) | 0x80);
    }
}

size_t write_report_info(File *file, const vxcrash_log_writer_t *w, const CrashProcess *process) {
    size_t rv = put_bool(file, kReportInfoUserRequested, w->user_requested);
    rv += put_text(file, kReportInfoUuid, reinterpret_cast<const char *>(process->uuid), sizeof(process->uuid));
    return rv;
}

size_t write_system_info(File *file, const vxcrash_log_writer_t *w, int64_t timestamp) {
    size_t rv = put_enum(file, kSystemOperatingSystem, kOperatingSystemLinux);
    rv += put_bytes(file, kSystemOsVersion, w->system_info.os_version);
    rv += put_bytes(file, kSystemOsBuild, w->system_info.os_build);
    rv += put_enum(file, kSystemArchitecture, kArchitectureX86_64);
    rv += put(file, kSystemTimestamp, PROTOBUF_C_TYPE_INT64, &timestamp);
    return rv;
}

size_t write_machine_info(File *file, const vxcrash_log_writer_t *w) {
    size_t rv = 0;
    if (w->machine_info.model.data != nullptr) rv += put_bytes(file, kMachineModel, w->machine_info.model);
    rv += put_message(file, kMachineProcessor, [&](File *f) {
        return write_processor(f, kTypeEncodingMach, w->machine_info.cpu_type, w->machine_info.cpu_subtype);
    });
    rv += put_u32(file, kMachineProcessorCount, w->machine_info.processor_count);
    rv += put_u32(file, kMachineLogicalProcessorCount, w->machine_info.logical_processor_count);
    return rv;
}

size_t write_application_info(File *file, const vxcrash_log_writer_t *w) {
    size_t rv = put_bytes(file, kApplicationIdentifier, w->application_info.identifier);
    rv += put_bytes(file, kApplicationVersion, w->application_info.version);
    if (w->application_info.marketing_version.data != nullptr)
        rv += put_bytes(file, kApplicationMarketingVersion, w->application_info.marketing_version);
    return rv;
}

size_t write_process_info(File *file, const vxcrash_log_writer_t *w, const CrashProcess *process) {
    const auto &p = w->process_info;
    size_t rv = put_bytes(file, kProcessName, p.process_name);
    rv += put_u32(file, kProcessId, process->pid);
    rv += put_bytes(file, kProcessPath, p.process_path);
    // A forked child's parent is the process the writer was made in.
    rv += put_bytes(file, kProcessParentName, process->forked ? p.process_name : p.parent_process_name);
    rv += put_u32(file, kProcessParentId, process->parent_pid);
    rv += put_bool(file, kProcessNative, p.native);
    rv += put_u64(file, kProcessStartTime, p.start_time);
    return rv;
}

size_t write_frame(File *file, uint64_t pc) { return put_u64(file, kFramePc, pc); }

// One thread, walked once before anything is measured, so that the measuring
// pass and the writing pass see the same frames.
struct ThreadCapture {
    uint32_t number;
    bool crashed;
    bool has_registers;
    bool walk_cut;  // the walk went on past the frames kept
    size_t register_count;
    const char *register_names[VXCRASH_X86_64_REG_COUNT];
    uint64_t register_values[VXCRASH_X86_64_REG_COUNT];
    size_t frame_count;
    uint64_t frames[VXCRASH_WRITER_MAX_FRAMES];
};

// What a walk may use beyond the thread's state (see the writer record).
struct WalkAids {
    vxcrash_async_unwind_cache_t *unwind_cache;
    const vxcrash_async_thread_state_t *own_state;  // the calling thread's, when walked
    uintptr_t own_stack_start;
    uintptr_t own_stack_end;
};

void capture_thread(ThreadCapture *capture, const vxcrash_async_thread_state_t *state,
                    vxcrash_async_image_list_t *image_list, const WalkAids *aids) {
    capture->has_registers = false;
    capture->walk_cut = false;
    capture->register_count = 0;
    capture->frame_count = 0;
    if (state == nullptr) return;

    vxcrash_async_task_t task;
    vxcrash_async_task_init(&task);
    if (aids != nullptr) {
        vxcrash_async_task_set_unwind_cache(&task, aids->unwind_cache);
        if (state == aids->own_state && aids->own_stack_start < aids->own_stack_end)
            vxcrash_async_task_set_readable_range(&task, aids->own_stack_start, aids->own_stack_end);
    }
    vxcrash_async_frame_cursor_t cursor;
    if (vxcrash_async_frame_cursor_init(&cursor, &task, state, image_list) != VXCRASH_ESUCCESS) return;

    for (;;) {
        if (vxcrash_async_frame_cursor_next(&cursor) != VXCRASH_FRAME_ESUCCESS) break;
        if (capture->frame_count == VXCRASH_WRITER_MAX_FRAMES) {
            capture->walk_cut = true;
            break;
        }
        if (capture->frame_count == 0 && capture->crashed) {
            capture->has_registers = true;
            capture->register_count = vxcrash_async_frame_cursor_get_regcount(&cursor);
            for (size_t i = 0; i < capture->register_count; ++i) {
                uint64_t value = 0;
                if (vxcrash_async_frame_cursor_get_reg(&cursor, (vxcrash_regnum_t)i, &value) != VXCRASH_FRAME_ESUCCESS)
                    value = 0;
                capture->register_names[i] = vxcrash_async_frame_cursor_get_regname(&cursor, (vxcrash_regnum_t)i);
                capture->register_values[i] = value;
            }
        }
        uint64_t pc;
        if (vxcrash_async_frame_cursor_get_reg(&cursor, VXCRASH_REG_IP, &pc) != VXCRASH_FRAME_ESUCCESS) break;
        capture->frames[capture->frame_count++] = pc;
    }
    vxcrash_async_frame_cursor_free(&cursor);
}

size_t frame_message_size(uint64_t pc) {
    return put_message(nullptr, kThreadFrames, [&](File *f) { return write_frame(f, pc); });
}

// A nested message's size on the wire from its body's size (key of one byte:
// every field number here is below 16).
size_t message_size(size_t body) {
    uint8_t buffer[10];
    return 1 + vxcrash_writer_encode_varint(buffer, body) + body;
}

// The thread with its first frame_limit frames.
size_t write_thread(File *file, const ThreadCapture *c, size_t frame_limit) {
    size_t frames = c->frame_count < frame_limit ? c->frame_count : frame_limit;
    size_t rv = put_u32(file, kThreadNumber, c->number);
    rv += put_bool(file, kThreadCrashed, c->crashed);
    if (c->has_registers) {
        for (size_t i = 0; i < c->register_count; ++i) {
            rv += put_message(file, kThreadRegisters, [&](File *f) {
                size_t n = put(f, kRegisterName, PROTOBUF_C_TYPE_STRING, c->register_names[i]);
                n += put_u64(f, kRegisterValue, c->register_values[i]);
                return n;
            });
        }
    }
    for (size_t i = 0; i < frames; ++i)
        rv += put_message(file, kThreadFrames, [&](File *f) { return write_frame(f, c->frames[i]); });
    if (frames < c->frame_count || c->walk_cut) rv += put_bool(file, kThreadFramesTruncated, true);
    return rv;
}

// How many of the thread's frames fit in budget bytes (its whole message);
// false when not even the thread without frames does.
bool fit_thread(const ThreadCapture *c, size_t budget, size_t *frames, size_t *size) {
    // Measured with the cut mark: an upper bound of every cut.
    size_t body = write_thread(nullptr, c, 0);
    if (c->frame_count > 0 && !c->walk_cut) body += 2;
    size_t k = 0;
    while (k < c->frame_count) {
        size_t next = body + frame_message_size(c->frames[k]);
        if (message_size(next) > budget) break;
        body = next;
        ++k;
    }
    if (message_size(body) > budget) return false;
    *frames = k;
    *size = message_size(write_thread(nullptr, c, k));
    return true;
}

size_t write_thread_message(File *file, const ThreadCapture *c, size_t frame_limit) {
    return put_message(file, kReportThreads, [&](File *f) { return write_thread(f, c, frame_limit); });
}

void processor_for_machine(uint16_t machine, uint32_t *encoding, uint64_t *type, uint64_t *subtype) {
    *encoding = kTypeEncodingMach;
    *subtype = VXCRASH_CPU_SUBTYPE_X86_ALL;
    switch (machine) {
        case EM_X86_64:
            *type = VXCRASH_CPU_TYPE_X86_64;
            return;
        case EM_386:
            *type = VXCRASH_CPU_TYPE_X86;
            return;
        case EM_AARCH64:
            *type = VXCRASH_CPU_TYPE_ARM64;
            *subtype = 0;
            return;
        default:
            *encoding = kTypeEncodingUnknown;
            *type = machine;
            *subtype = 0;
            return;
    }
}

size_t write_image(File *file, const vxcrash_async_image_t *image, const char *name, size_t nameLength) {
    size_t rv = put_u64(file, kImageSize, (uint64_t)(image->end - image->start));
    rv += put_u64(file, kImageBaseAddress, (uint64_t)image->header_address);
    rv += put_text(file, kImageName, name, nameLength);
    if (image->build_id_length > 0)
        rv += put_text(file, kImageUuid, reinterpret_cast<const char *>(image->build_id), image->build_id_length);
    uint32_t encoding;
    uint64_t type, subtype;
    processor_for_machine(image->machine, &encoding, &type, &subtype);
    rv += put_message(file, kImageCodeType, [&](File *f) { return write_processor(f, encoding, type, subtype); });
    return rv;
}

// The images in list order that fit in budget bytes (an image too large is
// left out, later ones may still fit); returns the bytes written. The same
// budget selects the same images when only measuring (file is nullptr).
size_t write_images(File *file, vxcrash_async_image_list_t *list, size_t budget) {
    if (list == nullptr || !vxcrash_async_image_list_try_set_reading(list)) return 0;
    vxcrash_async_task_t task;
    vxcrash_async_task_init(&task);
    char name[VXCRASH_IMAGE_PATH_MAX];
    size_t total = 0;
    uint32_t count = vxcrash_async_image_list_count(list);
    for (uint32_t i = 0; i < count; ++i) {
        const vxcrash_async_image_t *image = vxcrash_async_image_list_get(list, i);
        size_t nameLength = vxcrash_async_image_copy_name(list, image, &task, name, sizeof(name));
        auto body = [&](File *f) { return write_image(f, image, name, nameLength); };
        size_t size = message_size(body(nullptr));
        if (size > budget - total) continue;
        total += put_message(file, kReportBinaryImages, body);
    }
    vxcrash_async_image_list_set_reading(list, false);
    return total;
}

size_t write_exception(File *file, const vxcrash_log_writer_t *w, size_t frame_limit) {
    const auto &e = w->uncaught_exception;
    size_t rv = put_bytes(file, kExceptionName, e.name);
    rv += put_bytes(file, kExceptionReason, e.reason);
    size_t count = e.callstack_count < VXCRASH_WRITER_MAX_FRAMES ? e.callstack_count : VXCRASH_WRITER_MAX_FRAMES;
    if (count > frame_limit) count = frame_limit;
    for (size_t i = 0; i < count; ++i)
        rv += put_message(file, kExceptionFrames, [&](File *f) { return write_frame(f, e.callstack[i]); });
    return rv;
}

// "#<number>" for a signal or code without a name, cut to 9 characters.
constexpr size_t kNumberNameSize = 10;

const char *number_name(char (&buffer)[kNumberNameSize], int value) {
    buffer[0] = '#';
    vxcrash_async_format_int(buffer + 1, sizeof(buffer) - 1, value);
    return buffer;
}

size_t write_signal(File *file, const vxcrash_log_signal_info_t *siginfo) {
    const vxcrash_log_bsd_signal_info_t *bsd = siginfo->bsd_info;
    char nameBuffer[kNumberNameSize];
    char codeBuffer[kNumberNameSize];
    const char *name = vxcrash_async_signal_signame(bsd->signo);
    if (name == nullptr) name = number_name(nameBuffer, bsd->signo);
    const char *code = vxcrash_async_signal_sigcode(bsd->signo, bsd->code);
    if (code == nullptr) code = number_name(codeBuffer, bsd->code);

    size_t rv = put(file, kSignalName, PROTOBUF_C_TYPE_STRING, name);
    rv += put(file, kSignalCode, PROTOBUF_C_TYPE_STRING, code);
    rv += put_u64(file, kSignalAddress, bsd->address);
    if (siginfo->mach_info != nullptr) {
        const vxcrash_log_mach_signal_info_t *mach = siginfo->mach_info;
        rv += put_message(file, kSignalMachException, [&](File *f) {
            size_t n = put_u64(f, kMachExceptionType, mach->type);
            for (size_t i = 0; i < mach->code_count; ++i) n += put_u64(f, kMachExceptionCodes, mach->code[i]);
            return n;
        });
    }
    return rv;
}

// The state each thread of the report is walked from: the crashed thread's
// first, then the others' in listing order.
struct ThreadSource {
    bool listed;
    pid_t self;
    pid_t crashed_thread;
    const vxcrash_async_thread_state_t *current_state;
};

// The crashed thread's state (nullptr when it has none: not parked, no
// answer); false when it is not in the report at all.
bool crashed_state(const ThreadSource &src, const vxcrash_async_thread_state_t **state) {
    if (!src.listed) {
        *state = src.current_state;
        return src.current_state != nullptr;
    }
    size_t count = vxcrash_async_thread_parking_count();
    for (size_t i = 0; i < count; ++i) {
        vxcrash_async_thread_entry_t entry;
        if (!vxcrash_async_thread_parking_entry(i, &entry) || entry.tid != src.crashed_thread) continue;
        if (entry.tid == src.self) {
            *state = src.current_state;
            return src.current_state != nullptr;
        }
        *state = entry.thread_state;
        return entry.state != VXCRASH_THREAD_GONE;
    }
    return false;
}

// Writes every other thread within budget bytes, each taking at most an
// equal share of what is left, so that a few deep stacks cannot crowd out the
// rest; returns the bytes written.
size_t write_other_threads(File *file, const ThreadSource &src, vxcrash_async_image_list_t *image_list,
                           const WalkAids *aids, ThreadCapture *capture, uint32_t first_number, size_t budget) {
    if (!src.listed) return 0;
    size_t count = vxcrash_async_thread_parking_count();
    size_t others = 0;
    for (size_t i = 0; i < count; ++i) {
        vxcrash_async_thread_entry_t entry;
        if (vxcrash_async_thread_parking_entry(i, &entry) && entry.state != VXCRASH_THREAD_GONE &&
            entry.tid != src.crashed_thread && !(entry.tid == src.self && src.current_state == nullptr))
            ++others;
    }
    size_t written = 0;
    uint32_t number = first_number;
    for (size_t i = 0; i < count && others > 0; ++i) {
        vxcrash_async_thread_entry_t entry;
        if (!vxcrash_async_thread_parking_entry(i, &entry) || entry.state == VXCRASH_THREAD_GONE ||
            entry.tid == src.crashed_thread)
            continue;
        const vxcrash_async_thread_state_t *state = entry.thread_state;
        if (entry.tid == src.self) {
            if (src.current_state == nullptr) continue;
            state = src.current_state;
        }
        size_t share = (budget - written) / others--;
        capture->number = number;
        capture->crashed = false;
        capture_thread(capture, state, image_list, aids);
        size_t frames, size;
        if (!fit_thread(capture, share, &frames, &size)) continue;
        written += write_thread_message(file, capture, frames);
        ++number;
    }
    return written;
}

}  // namespace

size_t vxcrash_writer_encode_varint(uint8_t *buffer, uint64_t value) {
    size_t n = 0;
    do {
        uint8_t byte = value & 0x7f;
        value >>= 7;
        buffer[n++] = value != 0 ? (uint8_t)(byte | 0x80) : byte;
    } while (value != 0);
    return n;
}

size_t vxcrash_writer_encode_field(vxcrash_async_file_t *file, uint32_t field_id, uint32_t type, const void *value) {
    uint8_t buffer[24];
    size_t n;
    auto key = [&](uint32_t wire) { n = vxcrash_writer_encode_varint(buffer, ((uint64_t)field_id << 3) | wire); };
    auto emit = [&](const void *data, size_t len) {
        if (file != nullptr && len > 0) vxcrash_async_file_write(file, data, len);
    };

    switch (type) {
        case PROTOBUF_C_TYPE_INT32: {
            key(0);
            int32_t v;
            vxcrash_async_memcpy(&v, value, sizeof(v));
            n += vxcrash_writer_encode_varint(buffer + n, (uint64_t)(int64_t)v);
            break;
        }
        case PROTOBUF_C_TYPE_SINT32: {
            key(0);
            int32_t v;
            vxcrash_async_memcpy(&v, value, sizeof(v));
            uint32_t zigzag = ((uint32_t)v << 1) ^ (uint32_t)(v >> 31);
            n += vxcrash_writer_encode_varint(buffer + n, zigzag);
            break;
        }
        case PROTOBUF_C_TYPE_SFIXED32:
        case PROTOBUF_C_TYPE_FIXED32:
        case PROTOBUF_C_TYPE_FLOAT: {
            key(5);
            uint32_t v;
            vxcrash_async_memcpy(&v, value, sizeof(v));
            for (int i = 0; i < 4; ++i) buffer[n++] = (uint8_t)(v >> (8 * i));
            break;
        }
        case PROTOBUF_C_TYPE_INT64:
        case PROTOBUF_C_TYPE_UINT64: {
            key(0);
            uint64_t v;
            vxcrash_async_memcpy(&v, value, sizeof(v));
            n += vxcrash_writer_encode_varint(buffer + n, v);
            break;
        }
        case PROTOBUF_C_TYPE_SINT64: {
            key(0);
            int64_t v;
            vxcrash_async_memcpy(&v, value, sizeof(v));
            uint64_t zigzag = ((uint64_t)v << 1) ^ (uint64_t)(v >> 63);
            n += vxcrash_writer_encode_varint(buffer + n, zigzag);
            break;
        }
        case PROTOBUF_C_TYPE_SFIXED64:
        case PROTOBUF_C_TYPE_FIXED64:
        case PROTOBUF_C_TYPE_DOUBLE: {
            key(1);
            uint64_t v;
            vxcrash_async_memcpy(&v, value, sizeof(v));
            for (int i = 0; i < 8; ++i) buffer[n++] = (uint8_t)(v >> (8 * i));
            break;
        }
        case PROTOBUF_C_TYPE_UINT32:
        case PROTOBUF_C_TYPE_ENUM: {
            key(0);
            uint32_t v;
            vxcrash_async_memcpy(&v, value, sizeof(v));
            n += vxcrash_writer_encode_varint(buffer + n, v);
            break;
        }
        case PROTOBUF_C_TYPE_BOOL: {
            key(0);
            protobuf_c_boolean v;
            vxcrash_async_memcpy(&v, value, sizeof(v));
            buffer[n++] = v ? 1 : 0;
            break;
        }
        case PROTOBUF_C_TYPE_STRING: {
            key(2);
            const char *s = static_cast<const char *>(value);
            size_t len = vxcrash_async_strlen(s);
            n += vxcrash_writer_encode_varint(buffer + n, len);
            emit(buffer, n);
            emit(s, len);
            return n + len;
        }
        case PROTOBUF_C_TYPE_BYTES: {
            key(2);
            const auto *bytes = static_cast<const vxcrash_writer_bytes_value_t *>(value);
            n += vxcrash_writer_encode_varint(buffer + n, bytes->length);
            emit(buffer, n);
            emit(bytes->data, bytes->length);
            return n + bytes->length;
        }
        case PROTOBUF_C_TYPE_MESSAGE: {
            key(2);
            uint32_t length;
            vxcrash_async_memcpy(&length, value, sizeof(length));
            n += vxcrash_writer_encode_varint(buffer + n, length);
            break;
        }
        default:
            vxcrash_async_log("[VXCrashReporter] unknown protobuf field type\n");
            abort();
    }
    emit(buffer, n);
    return n;
}

vxcrash_error_t vxcrash_log_writer_write(vxcrash_log_writer_t *writer, pid_t crashed_thread,
                                         vxcrash_async_image_list_t *image_list, vxcrash_async_file_t *file,
                                         const vxcrash_log_signal_info_t *siginfo,
                                         const vxcrash_async_thread_state_t *current_state) {
    if (writer == nullptr || file == nullptr || siginfo == nullptr || siginfo->bsd_info == nullptr)
        return VXCRASH_EINVAL;

    // Park every other thread, then read the images: nothing loads or unloads now.
    bool listed = vxcrash_async_thread_parking_begin(crashed_thread) == VXCRASH_ESUCCESS;
    if (image_list != nullptr) vxcrash_async_image_list_refresh(image_list);

    uint8_t header[8];
    vxcrash_async_memcpy(header, VXCRASH_REPORT_FILE_MAGIC, 7);
    header[7] = VXCRASH_REPORT_FILE_VERSION;
    vxcrash_async_file_write(file, header, sizeof(header));

    CrashProcess process;
    crash_process_init(&process, writer);
    put_message(file, kReportReportInfo, [&](File *f) { return write_report_info(f, writer, &process); });

    time_t now = time(nullptr);
    int64_t timestamp = now == (time_t)-1 ? 0 : (int64_t)now;
    put_message(file, kReportSystemInfo, [&](File *f) { return write_system_info(f, writer, timestamp); });
    put_message(file, kReportMachineInfo, [&](File *f) { return write_machine_info(f, writer); });
    put_message(file, kReportApplicationInfo, [&](File *f) { return write_application_info(f, writer); });
    put_message(file, kReportProcessInfo, [&](File *f) { return write_process_info(f, writer, &process); });

    // Announce the read before loading the pointer: set_custom_data swaps first
    // and then waits for readers, so whichever copy is seen here stays alive.
    __atomic_add_fetch(&writer->custom_data_readers, 1, __ATOMIC_SEQ_CST);
    vxcrash_log_writer_custom_data_t *custom = __atomic_load_n(&writer->custom_data, __ATOMIC_SEQ_CST);

    // The report must fit the file's limit whatever the process holds. What
    // is left after the fixed parts and the signal goes first to the crashed
    // thread, then the exception, the images, the custom data, and last to
    // the other threads, whose frames are cut (and marked so) first.
    uint64_t limit = file->limit > 0 ? (uint64_t)file->limit : UINT64_MAX / 2;
    uint64_t fixed = (uint64_t)file->total_bytes +
                     put_message(nullptr, kReportSignal, [&](File *f) { return write_signal(f, siginfo); });
    size_t budget = fixed < limit ? (size_t)(limit - fixed) : 0;

    ThreadSource source{listed, vxcrash_async_gettid(), crashed_thread, current_state};
    WalkAids aids{writer->unwind_cache, current_state, writer->own_stack_start, writer->own_stack_end};
    ThreadCapture capture;
    const vxcrash_async_thread_state_t *crashedState = nullptr;
    bool haveCrashed = crashed_state(source, &crashedState);
    size_t crashedFrames = 0, crashedSize = 0;
    if (haveCrashed) {
        capture.number = 0;
        capture.crashed = true;
        capture_thread(&capture, crashedState, image_list, &aids);
        haveCrashed = fit_thread(&capture, budget, &crashedFrames, &crashedSize);
        if (haveCrashed) budget -= crashedSize;
    }

    size_t exceptionFrames = 0;
    bool haveException = writer->uncaught_exception.has_exception;
    if (haveException) {
        auto size = [&](size_t frames) {
            return put_message(nullptr, kReportException, [&](File *f) { return write_exception(f, writer, frames); });
        };
        exceptionFrames = writer->uncaught_exception.callstack_count;
        while (exceptionFrames > 0 && size(exceptionFrames) > budget)
            exceptionFrames = exceptionFrames > 16 ? exceptionFrames - 16 : 0;
        haveException = size(exceptionFrames) <= budget;
        if (haveException) budget -= size(exceptionFrames);
    }

    size_t imagesBudget = write_images(nullptr, image_list, budget);
    budget -= imagesBudget;

    size_t customSize = 0;
    if (custom != nullptr) {
        vxcrash_writer_bytes_value_t value = {custom->length, custom->bytes};
        customSize = put(nullptr, kReportCustomData, PROTOBUF_C_TYPE_BYTES, &value);
        if (customSize > budget)
            custom = nullptr;
        else
            budget -= customSize;
    }

    uint32_t firstOther = 0;
    if (haveCrashed) {
        // capture still holds the crashed thread's walk.
        write_thread_message(file, &capture, crashedFrames);
        firstOther = 1;
    }
    write_other_threads(file, source, image_list, &aids, &capture, firstOther, budget);
    write_images(file, image_list, imagesBudget);

    if (haveException)
        put_message(file, kReportException, [&](File *f) { return write_exception(f, writer, exceptionFrames); });

    put_message(file, kReportSignal, [&](File *f) { return write_signal(f, siginfo); });

    if (custom != nullptr) {
        vxcrash_writer_bytes_value_t value = {custom->length, custom->bytes};
        put(file, kReportCustomData, PROTOBUF_C_TYPE_BYTES, &value);
    }
    __atomic_sub_fetch(&writer->custom_data_readers, 1, __ATOMIC_SEQ_CST);

    if (listed) vxcrash_async_thread_parking_end();
    vxcrash_async_file_flush(file);
    return vxcrash_async_file_error(file);
}

vxcrash_error_t vxcrash_log_writer_close(vxcrash_log_writer_t *) { return VXCRASH_ESUCCESS; }
