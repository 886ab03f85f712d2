// The crash log writer: turns the state of the process into one crash report.
//
// Everything that needs allocation or files is gathered by init into the
// writer record, before any crash. write is async-safe: it parks the other
// threads, reads memory, walks stacks and writes through an async file.
//
// Report file: the seven bytes "vxcrash", the version byte 1, then one
// vxcrash.CrashReport message (VXCrashReport.proto) in protobuf wire format.
//
// write uses about 24 KiB of stack; a signal handler that calls it needs an
// alternate stack of at least 64 KiB.
#pragma once

#include "Vendor/VXCrashReporter/Source/VXCrashAsync.h"
#include "Vendor/VXCrashReporter/Source/VXCrashAsyncImageList.h"
#include "Vendor/VXCrashReporter/Source/VXCrashAsyncThreadState.h"

constexpr uint8_t VXCRASH_REPORT_FILE_VERSION = 1;
constexpr char VXCRASH_REPORT_FILE_MAGIC[] = "vxcrash";  // 7 bytes written, no NUL
constexpr size_t VXCRASH_WRITER_MAX_FRAMES = 512;

// Symbolication strategy bits.
constexpr uint32_t VXCRASH_SYMBOL_STRATEGY_SYMBOL_TABLE = 1u << 0;
constexpr uint32_t VXCRASH_SYMBOL_STRATEGY_OBJC = 1u << 1;

// A byte string held by the record: a heap copy, NUL-terminated.
struct vxcrash_log_writer_bytes_t {
    uint64_t length;
    char *data;  // nullptr when absent
};

struct vxcrash_log_writer_custom_data_t {
    size_t length;
    uint8_t *bytes;  // follows the header in the same allocation
};

struct vxcrash_log_writer_t {
    uint32_t symbolication_strategy;
    bool user_requested;
    uint8_t uuid[16];

    struct {
        vxcrash_log_writer_bytes_t os_version;
        vxcrash_log_writer_bytes_t os_build;
    } system_info;

    struct {
        vxcrash_log_writer_bytes_t model;  // absent when unknown
        uint64_t cpu_type;
        uint64_t cpu_subtype;
        uint32_t processor_count;
        uint32_t logical_processor_count;
    } machine_info;

    struct {
        vxcrash_log_writer_bytes_t identifier;
        vxcrash_log_writer_bytes_t version;
        vxcrash_log_writer_bytes_t marketing_version;  // optional
    } application_info;

    struct {
        vxcrash_log_writer_bytes_t process_name;
        uint32_t process_id;
        vxcrash_log_writer_bytes_t process_path;
        uint64_t start_time;
        vxcrash_log_writer_bytes_t parent_process_name;
        uint32_t parent_process_id;
        bool native;
    } process_info;

    struct {
        bool has_exception;
        vxcrash_log_writer_bytes_t name;
        vxcrash_log_writer_bytes_t reason;
        uint64_t *callstack;
        size_t callstack_count;
    } uncaught_exception;

    // Replaced by set_custom_data while reports may be written: accessed
    // atomically, and an old copy is freed only once no write holds it.
    vxcrash_log_writer_custom_data_t *custom_data;
    uint32_t custom_data_readers;

    // Live reports only (both empty at a crash): rows kept across walks, and
    // the calling thread's own stack above its stack pointer, read in place
    // when the calling thread is walked.
    vxcrash_async_unwind_cache_t *unwind_cache;
    uintptr_t own_stack_start;
    uintptr_t own_stack_end;
};

struct vxcrash_log_bsd_signal_info_t {
    int32_t signo;
    int32_t code;
    uint64_t address;
};

struct vxcrash_log_mach_signal_info_t {
    uint64_t type;
    const uint64_t *code;
    size_t code_count;
};

struct vxcrash_log_signal_info_t {
    const vxcrash_log_bsd_signal_info_t *bsd_info;
    const vxcrash_log_mach_signal_info_t *mach_info;  // optional
};

// Not async-safe. marketing_version may be nullptr. VXCRASH_EINVAL when the
// process's own information cannot be read (the record is then left empty).
vxcrash_error_t vxcrash_log_writer_init(vxcrash_log_writer_t *writer, const char *app_identifier,
                                        const char *app_version, const char *app_marketing_version,
                                        uint32_t symbolication_strategy, bool user_requested);

// Records an uncaught exception. A writer takes one; a second call aborts.
void vxcrash_log_writer_set_exception(vxcrash_log_writer_t *writer, const char *name, const char *reason,
                                      const uint64_t *return_addresses, size_t count);

// Replaces the custom data (nullptr: none). Safe while another thread writes
// a report: the previous copy is freed only after that write let go of it.
void vxcrash_log_writer_set_custom_data(vxcrash_log_writer_t *writer, const void *data, size_t length);

// Async-safe. crashed_thread is the thread id of the crashed (or reported)
// thread; current_state, when given, is the calling thread's state at the
// crash. Refreshes image_list after parking the other threads. Returns the
// first failure of the file (a report cut by the file's size limit is no
// success); the threads are let go in every case.
vxcrash_error_t vxcrash_log_writer_write(vxcrash_log_writer_t *writer, pid_t crashed_thread,
                                         vxcrash_async_image_list_t *image_list, vxcrash_async_file_t *file,
                                         const vxcrash_log_signal_info_t *siginfo,
                                         const vxcrash_async_thread_state_t *current_state);

vxcrash_error_t vxcrash_log_writer_close(vxcrash_log_writer_t *writer);
void vxcrash_log_writer_free(vxcrash_log_writer_t *writer);

// Encodes one field (type: protobuf-c's ProtobufCType) to file, or only
// measures it when file is nullptr; returns its size in bytes.
size_t vxcrash_writer_encode_field(vxcrash_async_file_t *file, uint32_t field_id, uint32_t type, const void *value);

// Base-128 varint of value into buffer (at least 10 bytes); returns its length.
size_t vxcrash_writer_encode_varint(uint8_t *buffer, uint64_t value);

// The value of a bytes field: a length and a pointer.
struct vxcrash_writer_bytes_value_t {
    size_t length;
    const void *data;
};
