// Async-signal-safe foundation of the crash reporter: result codes, spin locks,
// number formatting, checked reads of this process's memory, memory objects,
// LEB128 readers and the size-capped async file.
//
// Everything here may run inside a signal handler: no allocation, no stdio, no
// blocking lock. Only system calls and plain memory access are used.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>

// Result of the crash reporter's async-safe functions; 0 is success.
enum vxcrash_error_t : int {
    VXCRASH_ESUCCESS = 0,
    VXCRASH_EUNKNOWN = 1,
    VXCRASH_OUTPUT_ERR = 2,
    VXCRASH_ENOMEM = 3,
    VXCRASH_ENOTSUP = 4,
    VXCRASH_EINVAL = 5,
    VXCRASH_EINTERNAL = 6,
    VXCRASH_EACCESS = 7,
    VXCRASH_ENOTFOUND = 8,
    VXCRASH_EINVALID_DATA = 9,
};

const char *vxcrash_async_strerror(vxcrash_error_t error);

// ---------------------------------------------------------------------------
// Plain helpers that libc does not promise to be async-safe.

size_t vxcrash_async_strlen(const char *s);
int vxcrash_async_strcmp(const char *a, const char *b);
int vxcrash_async_strncmp(const char *a, const char *b, size_t n);
// memcpy and memset are async-signal-safe (POSIX.1-2008 TC2); inline, the
// compiler turns the small fixed-size copies of stack walking into moves.
inline void *vxcrash_async_memcpy(void *dest, const void *src, size_t n) { return __builtin_memcpy(dest, src, n); }
inline void *vxcrash_async_memset(void *dest, int value, size_t n) { return __builtin_memset(dest, value, n); }

// Writes the decimal text of value into buffer (NUL-terminated, truncated to
// size - 1 characters); returns the length written.
size_t vxcrash_async_format_int(char *buffer, size_t size, int64_t value);
size_t vxcrash_async_format_uint(char *buffer, size_t size, uint64_t value);
size_t vxcrash_async_format_hex(char *buffer, size_t size, uint64_t value);

// Writes to standard error (diagnostics of the crash reporter, async-safe).
void vxcrash_async_log(const char *message);

// Thread id of the caller (raw gettid).
pid_t vxcrash_async_gettid();

// Milliseconds of the monotonic clock.
uint64_t vxcrash_async_monotonic_ms();

// ---------------------------------------------------------------------------
// Spin locks. Crash-time code takes no other kind of lock; the try forms bound
// the wait so that a lock held by a thread that will never run again (parked,
// or the crashed thread itself) cannot hang a report.

struct vxcrash_async_spinlock_t {
    std::atomic<int> value{0};
};

void vxcrash_async_spinlock_lock(vxcrash_async_spinlock_t *lock);
bool vxcrash_async_spinlock_trylock(vxcrash_async_spinlock_t *lock, uint32_t spins);
void vxcrash_async_spinlock_unlock(vxcrash_async_spinlock_t *lock);

// Readers and one writer. The count is -1 while written.
struct vxcrash_async_rwspinlock_t {
    std::atomic<int> value{0};
};

void vxcrash_async_rwspinlock_read_lock(vxcrash_async_rwspinlock_t *lock);
bool vxcrash_async_rwspinlock_try_read_lock(vxcrash_async_rwspinlock_t *lock, uint32_t spins);
void vxcrash_async_rwspinlock_read_unlock(vxcrash_async_rwspinlock_t *lock);
void vxcrash_async_rwspinlock_write_lock(vxcrash_async_rwspinlock_t *lock);
bool vxcrash_async_rwspinlock_try_write_lock(vxcrash_async_rwspinlock_t *lock, uint32_t spins);
void vxcrash_async_rwspinlock_write_unlock(vxcrash_async_rwspinlock_t *lock);

// ---------------------------------------------------------------------------
// Checked reads of the process's memory. A read of an unmapped or unreadable
// address fails with VXCRASH_EACCESS instead of faulting. Reads go through
// process_vm_readv (a pipe when the kernel refuses it) and are cached per task
// record in page-sized blocks, so a stack walk costs a few system calls.
//
// A task record belongs to one walk: memory that changes while a record is in
// use (a running thread's stack) must not be read through it. It also keeps
// the unwind rows the walk has decoded, by instruction pointer, so that the
// frames of a recursion are decoded once.

constexpr size_t VXCRASH_TASK_BLOCK_SIZE = 4096;
constexpr size_t VXCRASH_TASK_BLOCK_COUNT = 2;

// One decoded unwind row in compact form, kept by pc: the CFA is a register
// plus an offset, the return address and up to seven callee-saved registers
// lie at the CFA plus offsets, some registers become undefined; everything
// else stays. Applying one takes a load per saved value. Rows with other
// rules (expressions, register copies, rules for caller-saved registers) are
// not kept: they are decoded each time.
constexpr size_t VXCRASH_UNWIND_ROW_SAVED = 7;
constexpr size_t VXCRASH_UNWIND_ROW_CACHE = 8;
constexpr uint8_t VXCRASH_UNWIND_ROW_SIGNAL_FRAME = 1u << 0;
constexpr uint8_t VXCRASH_UNWIND_ROW_NO_RETURN = 1u << 1;  // the outermost frame

struct vxcrash_async_unwind_row_t {
    uint64_t pc;  // the looked-up pc; 0 = empty
    int32_t cfa_offset;
    int32_t return_offset;  // from the CFA
    uint8_t cfa_register;   // generic register numbers (VXCrashAsyncThreadState.h)
    uint8_t flags;
    uint8_t saved_count;
    uint8_t saved_registers[VXCRASH_UNWIND_ROW_SAVED];
    uint32_t undefined_registers;  // a bit per generic register
    int32_t saved_offsets[VXCRASH_UNWIND_ROW_SAVED];
    int32_t low_offset;  // the span of the words read, from the CFA
    int32_t high_offset;
};
static_assert(sizeof(vxcrash_async_unwind_row_t) % 8 == 0, "rows are copied a word at a time");

// Decoded rows kept across walks (live reports walk the same code again and
// again). Rows hold for one set of loaded images: a cache is emptied when it
// is used with another generation of the image list. Taken with a bounded
// wait; a walk that cannot take it goes on without it.
constexpr size_t VXCRASH_UNWIND_CACHE_ROWS = 1024;  // a power of two

// Writers take the lock; readers take none: they read the sequence word, the
// row, and the sequence word again, and use the row only when no write
// started or ran in between (odd while one runs).
struct vxcrash_async_unwind_cache_t {
    vxcrash_async_spinlock_t lock;
    uint64_t sequence;
    uint64_t generation;
    vxcrash_async_unwind_row_t rows[VXCRASH_UNWIND_CACHE_ROWS];
};

void vxcrash_async_unwind_cache_init(vxcrash_async_unwind_cache_t *cache);

// Stack pages a task has found readable, read directly afterwards.
constexpr size_t VXCRASH_TASK_PROBE_PAGES = 16;

struct vxcrash_async_task_t {
    uint32_t next_block;
    uint32_t next_row;
    vxcrash_async_unwind_cache_t *unwind_cache;  // nullptr: none
    uintptr_t readable_start;                    // [start, end) checked readable
    uintptr_t readable_end;
    // Code ranges (executable segments) the walk found pcs in, newest last.
    uint32_t next_code_range;
    struct {
        uintptr_t start;
        uintptr_t end;
    } code_ranges[4];
    vxcrash_async_unwind_row_t rows[VXCRASH_UNWIND_ROW_CACHE];
    uint32_t last_row;  // the row found last (a recursion asks for it again)
    struct {
        uintptr_t base;
        bool valid;
        uint8_t bytes[VXCRASH_TASK_BLOCK_SIZE];
    } blocks[VXCRASH_TASK_BLOCK_COUNT];
};

// Whether pc lies in one of the code ranges the walk has met.
inline bool vxcrash_async_task_code_contains(const vxcrash_async_task_t *task, uint64_t pc) {
    for (uint32_t i = 0; i < 4; ++i) {
        if (pc - task->code_ranges[i].start < task->code_ranges[i].end - task->code_ranges[i].start) return true;
    }
    return false;
}

// A task record for the current process with an empty cache.
void vxcrash_async_task_init(vxcrash_async_task_t *task);
// Memory the caller knows to be readable for the task's whole life (the
// calling thread's own stack, above its stack pointer): read in place with no
// check. Not for crash-time use, where nothing is known.
void vxcrash_async_task_set_readable_range(vxcrash_async_task_t *task, uintptr_t start, uintptr_t end);
// Rows kept across walks for this task's walks (nullptr: none).
void vxcrash_async_task_set_unwind_cache(vxcrash_async_task_t *task, vxcrash_async_unwind_cache_t *cache);
void vxcrash_async_task_flush(vxcrash_async_task_t *task);

// Copies len bytes at address + offset (checked add) into dest.
vxcrash_error_t vxcrash_async_task_memcpy(vxcrash_async_task_t *task, uintptr_t address, int64_t offset, void *dest,
                                          size_t len);
vxcrash_error_t vxcrash_async_task_read_uint8(vxcrash_async_task_t *task, uintptr_t address, int64_t offset,
                                              uint8_t *out);
vxcrash_error_t vxcrash_async_task_read_uint16(vxcrash_async_task_t *task, uintptr_t address, int64_t offset,
                                               uint16_t *out);
vxcrash_error_t vxcrash_async_task_read_uint32(vxcrash_async_task_t *task, uintptr_t address, int64_t offset,
                                               uint32_t *out);
vxcrash_error_t vxcrash_async_task_read_uint64(vxcrash_async_task_t *task, uintptr_t address, int64_t offset,
                                               uint64_t *out);

// Uncached checked copy (no task record needed).
vxcrash_error_t vxcrash_async_read_memory(uintptr_t address, void *dest, size_t len);

// Tests: every checked read goes through a pipe, as when the kernel refuses
// process_vm_readv (true), or process_vm_readv is tried first again (false).
void vxcrash_async_read_memory_use_pipe(bool use_pipe);
// Tests: the lock of the shared pipe. A read that cannot take it within a
// bounded wait uses a pipe of its own.
vxcrash_async_spinlock_t *vxcrash_async_read_memory_pipe_lock();

// Adds a signed offset to an address; false on overflow.
inline bool vxcrash_async_address_apply_offset(uintptr_t base, int64_t offset, uintptr_t *result) {
    if (offset >= 0) return !__builtin_add_overflow(base, (uint64_t)offset, result);
    uint64_t magnitude = (uint64_t)0 - (uint64_t)offset;
    if (magnitude > base) return false;
    *result = base - magnitude;
    return true;
}

// ---------------------------------------------------------------------------
// Memory object: a range of the process's address space known to be readable
// (an image segment, or bytes a test made), read with bounds checks.

struct vxcrash_async_mobject_t {
    uintptr_t address;  // first address of the range
    size_t length;
    const uint8_t *data;  // where the bytes are readable
};

vxcrash_error_t vxcrash_async_mobject_init(vxcrash_async_mobject_t *mobj, uintptr_t address, size_t length,
                                           const void *data);
// Pointer to length bytes at address + offset, or nullptr when any of them lies
// outside the object (or the arithmetic overflows).
inline const void *vxcrash_async_mobject_remap_address(const vxcrash_async_mobject_t *mobj, uintptr_t address,
                                                       int64_t offset, size_t length) {
    uintptr_t start;
    if (!vxcrash_async_address_apply_offset(address, offset, &start)) return nullptr;
    if (start < mobj->address) return nullptr;
    size_t within = start - mobj->address;
    if (within > mobj->length || length > mobj->length - within) return nullptr;
    return mobj->data + within;
}

vxcrash_error_t vxcrash_async_mobject_read_uint8(const vxcrash_async_mobject_t *mobj, uintptr_t address, int64_t offset,
                                                 uint8_t *out);
vxcrash_error_t vxcrash_async_mobject_read_uint16(const vxcrash_async_mobject_t *mobj, uintptr_t address,
                                                  int64_t offset, uint16_t *out);
vxcrash_error_t vxcrash_async_mobject_read_uint32(const vxcrash_async_mobject_t *mobj, uintptr_t address,
                                                  int64_t offset, uint32_t *out);
vxcrash_error_t vxcrash_async_mobject_read_uint64(const vxcrash_async_mobject_t *mobj, uintptr_t address,
                                                  int64_t offset, uint64_t *out);

// ---------------------------------------------------------------------------
// LEB128. Each reads one byte at a time and only as many bytes as the value
// has, so a value that ends just before an unreadable page still decodes.
// An unsigned value running past ten bytes, or a signed one past 64 bits,
// gives VXCRASH_ENOTSUP; a byte outside the readable range VXCRASH_EINVAL.

vxcrash_error_t vxcrash_async_mobject_read_uleb128(const vxcrash_async_mobject_t *mobj, uintptr_t address,
                                                   int64_t offset, uint64_t *result, size_t *size);
vxcrash_error_t vxcrash_async_mobject_read_sleb128(const vxcrash_async_mobject_t *mobj, uintptr_t address,
                                                   int64_t offset, int64_t *result, size_t *size);
vxcrash_error_t vxcrash_async_task_read_uleb128(vxcrash_async_task_t *task, uintptr_t address, int64_t offset,
                                                uint64_t *result, size_t *size);
vxcrash_error_t vxcrash_async_task_read_sleb128(vxcrash_async_task_t *task, uintptr_t address, int64_t offset,
                                                int64_t *result, size_t *size);

// ---------------------------------------------------------------------------
// Async file: buffered writes to a descriptor with a size limit. The first
// failure (the limit reached, a failed write) is kept: later writes do nothing
// and flush/close return it, so a cut-off report is never taken for a whole one.

constexpr size_t VXCRASH_ASYNC_FILE_BUFFER = 1024;

struct vxcrash_async_file_t {
    int fd;
    off_t limit;  // 0 = none
    off_t total_bytes;
    size_t buffered;
    vxcrash_error_t error;
    uint8_t buffer[VXCRASH_ASYNC_FILE_BUFFER];
};

void vxcrash_async_file_init(vxcrash_async_file_t *file, int fd, off_t limit);
vxcrash_error_t vxcrash_async_file_write(vxcrash_async_file_t *file, const void *data, size_t len);
vxcrash_error_t vxcrash_async_file_flush(vxcrash_async_file_t *file);
// Flushes and closes the descriptor; returns the first failure of the file's life.
vxcrash_error_t vxcrash_async_file_close(vxcrash_async_file_t *file);
// The first failure so far (VXCRASH_ESUCCESS when none).
vxcrash_error_t vxcrash_async_file_error(const vxcrash_async_file_t *file);

// Writes the whole buffer to fd, retrying on EINTR and short writes.
bool vxcrash_async_writen(int fd, const void *data, size_t len);

namespace vxcrash::async {

// Typed checked read: vxcrash::async::read<uint64_t>(task, address, offset, &v).
template <typename T>
vxcrash_error_t read(vxcrash_async_task_t *task, uintptr_t address, int64_t offset, T *out) {
    return vxcrash_async_task_memcpy(task, address, offset, out, sizeof(T));
}

template <typename T>
vxcrash_error_t read(const vxcrash_async_mobject_t *mobj, uintptr_t address, int64_t offset, T *out) {
    const void *p = vxcrash_async_mobject_remap_address(mobj, address, offset, sizeof(T));
    if (p == nullptr) return VXCRASH_EINVAL;
    vxcrash_async_memcpy(out, p, sizeof(T));
    return VXCRASH_ESUCCESS;
}

}  // namespace vxcrash::async
