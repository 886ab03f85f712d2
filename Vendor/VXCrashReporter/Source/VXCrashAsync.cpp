#include "Vendor/VXCrashReporter/Source/VXCrashAsync.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

const char *vxcrash_async_strerror(vxcrash_error_t error) {
    switch (error) {
        case VXCRASH_ESUCCESS:
            return "No error";
        case VXCRASH_EUNKNOWN:
            return "Unknown error";
        case VXCRASH_OUTPUT_ERR:
            return "Output file can not be opened (or written to)";
        case VXCRASH_ENOMEM:
            return "No memory available";
        case VXCRASH_ENOTSUP:
            return "Operation not supported";
        case VXCRASH_EINVAL:
            return "Invalid argument";
        case VXCRASH_EINTERNAL:
            return "Internal error";
        case VXCRASH_EACCESS:
            return "Access denied";
        case VXCRASH_ENOTFOUND:
            return "Not found";
        case VXCRASH_EINVALID_DATA:
            return "The input data is in an unknown or invalid format.";
    }
    return "Unhandled error code";
}

size_t vxcrash_async_strlen(const char *s) {
    size_t n = 0;
    while (s[n] != '\0') ++n;
    return n;
}

int vxcrash_async_strcmp(const char *a, const char *b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return (unsigned char)*a - (unsigned char)*b;
}

int vxcrash_async_strncmp(const char *a, const char *b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i] || a[i] == '\0') return (unsigned char)a[i] - (unsigned char)b[i];
    }
    return 0;
}

static size_t format_digits(char *buffer, size_t size, uint64_t value, unsigned base, bool negative) {
    if (size == 0) return 0;
    char digits[24];
    size_t n = 0;
    do {
        unsigned d = (unsigned)(value % base);
        digits[n++] = (char)(d < 10 ? '0' + d : 'a' + (d - 10));
        value /= base;
    } while (value != 0);
    size_t out = 0;
    if (negative && out + 1 < size) buffer[out++] = '-';
    while (n > 0 && out + 1 < size) buffer[out++] = digits[--n];
    buffer[out] = '\0';
    return out;
}

size_t vxcrash_async_format_int(char *buffer, size_t size, int64_t value) {
    uint64_t magnitude = value < 0 ? (uint64_t)0 - (uint64_t)value : (uint64_t)value;
    return format_digits(buffer, size, magnitude, 10, value < 0);
}

size_t vxcrash_async_format_uint(char *buffer, size_t size, uint64_t value) {
    return format_digits(buffer, size, value, 10, false);
}

size_t vxcrash_async_format_hex(char *buffer, size_t size, uint64_t value) {
    return format_digits(buffer, size, value, 16, false);
}

void vxcrash_async_log(const char *message) {
    vxcrash_async_writen(STDERR_FILENO, message, vxcrash_async_strlen(message));
}

pid_t vxcrash_async_gettid() { return (pid_t)syscall(SYS_gettid); }

uint64_t vxcrash_async_monotonic_ms() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
}

// --- spin locks -------------------------------------------------------------

static inline void cpu_relax(uint32_t round) {
    if ((round & 63u) == 63u)
        sched_yield();
    else
        __builtin_ia32_pause();
}

void vxcrash_async_spinlock_lock(vxcrash_async_spinlock_t *lock) {
    for (uint32_t round = 0;; ++round) {
        int expected = 0;
        if (lock->value.compare_exchange_weak(expected, 1, std::memory_order_acquire)) return;
        cpu_relax(round);
    }
}

bool vxcrash_async_spinlock_trylock(vxcrash_async_spinlock_t *lock, uint32_t spins) {
    for (uint32_t round = 0; round <= spins; ++round) {
        int expected = 0;
        if (lock->value.compare_exchange_weak(expected, 1, std::memory_order_acquire)) return true;
        cpu_relax(round);
    }
    return false;
}

void vxcrash_async_spinlock_unlock(vxcrash_async_spinlock_t *lock) { lock->value.store(0, std::memory_order_release); }

static bool try_read_once(vxcrash_async_rwspinlock_t *lock) {
    int v = lock->value.load(std::memory_order_relaxed);
    return v >= 0 && lock->value.compare_exchange_weak(v, v + 1, std::memory_order_acquire);
}

void vxcrash_async_rwspinlock_read_lock(vxcrash_async_rwspinlock_t *lock) {
    for (uint32_t round = 0; !try_read_once(lock); ++round) cpu_relax(round);
}

bool vxcrash_async_rwspinlock_try_read_lock(vxcrash_async_rwspinlock_t *lock, uint32_t spins) {
    for (uint32_t round = 0; round <= spins; ++round) {
        if (try_read_once(lock)) return true;
        cpu_relax(round);
    }
    return false;
}

void vxcrash_async_rwspinlock_read_unlock(vxcrash_async_rwspinlock_t *lock) {
    lock->value.fetch_sub(1, std::memory_order_release);
}

void vxcrash_async_rwspinlock_write_lock(vxcrash_async_rwspinlock_t *lock) {
    for (uint32_t round = 0;; ++round) {
        int expected = 0;
        if (lock->value.compare_exchange_weak(expected, -1, std::memory_order_acquire)) return;
        cpu_relax(round);
    }
}

bool vxcrash_async_rwspinlock_try_write_lock(vxcrash_async_rwspinlock_t *lock, uint32_t spins) {
    for (uint32_t round = 0; round <= spins; ++round) {
        int expected = 0;
        if (lock->value.compare_exchange_weak(expected, -1, std::memory_order_acquire)) return true;
        cpu_relax(round);
    }
    return false;
}

void vxcrash_async_rwspinlock_write_unlock(vxcrash_async_rwspinlock_t *lock) {
    lock->value.store(0, std::memory_order_release);
}

// --- checked reads -----------------------------------------------------------

namespace {

// 0: process_vm_readv not tried yet or working; 1: refused, use the pipe.
std::atomic<int> g_read_mode{0};
vxcrash_async_spinlock_t g_pipe_lock;
int g_pipe[2] = {-1, -1};

// A bounded wait: the holder may be a thread parked for a report, or the
// crashed thread itself, and then never lets go.
constexpr uint32_t kPipeLockSpins = 20000;

// The kernel copies from our address space into the pipe and reports EFAULT
// for an unreadable source instead of faulting.
vxcrash_error_t copy_through(const int fds[2], uintptr_t address, void *dest, size_t len) {
    vxcrash_error_t result = VXCRASH_ESUCCESS;
    auto *out = static_cast<uint8_t *>(dest);
    while (len > 0 && result == VXCRASH_ESUCCESS) {
        size_t chunk = len < 4096 ? len : 4096;
        ssize_t written;
        do {
            written = syscall(SYS_write, fds[1], (const void *)address, chunk);
        } while (written < 0 && errno == EINTR);
        if (written <= 0) {
            result = VXCRASH_EACCESS;
            break;
        }
        size_t got = 0;
        while (got < (size_t)written) {
            ssize_t n = syscall(SYS_read, fds[0], out + got, (size_t)written - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += (size_t)n;
        }
        if (got != (size_t)written) {
            result = VXCRASH_EINTERNAL;
            break;
        }
        if ((size_t)written != chunk) result = VXCRASH_EACCESS;
        address += (size_t)written;
        out += written;
        len -= (size_t)written;
    }
    return result;
}

vxcrash_error_t read_through_pipe(uintptr_t address, void *dest, size_t len) {
    if (vxcrash_async_spinlock_trylock(&g_pipe_lock, kPipeLockSpins)) {
        if (g_pipe[0] >= 0 || syscall(SYS_pipe2, g_pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
            vxcrash_error_t result = copy_through(g_pipe, address, dest, len);
            if (result == VXCRASH_EINTERNAL) {
                // Bytes may be left in it: the next read starts a new one.
                syscall(SYS_close, g_pipe[0]);
                syscall(SYS_close, g_pipe[1]);
                g_pipe[0] = g_pipe[1] = -1;
            }
            vxcrash_async_spinlock_unlock(&g_pipe_lock);
            return result;
        }
        vxcrash_async_spinlock_unlock(&g_pipe_lock);
    }
    // The shared pipe is out of reach (and may hold a reader's half-copied
    // bytes): this read gets a pipe of its own.
    int fds[2];
    if (syscall(SYS_pipe2, fds, O_CLOEXEC | O_NONBLOCK) != 0) return VXCRASH_EINTERNAL;
    vxcrash_error_t result = copy_through(fds, address, dest, len);
    syscall(SYS_close, fds[0]);
    syscall(SYS_close, fds[1]);
    return result;
}

}  // namespace

vxcrash_error_t vxcrash_async_read_memory(uintptr_t address, void *dest, size_t len) {
    if (len == 0) return VXCRASH_ESUCCESS;
    if (address + len < address) return VXCRASH_EACCESS;
    if (g_read_mode.load(std::memory_order_relaxed) == 0) {
        struct iovec local = {dest, len};
        struct iovec remote = {(void *)address, len};
        ssize_t n;
        do {
            n = syscall(SYS_process_vm_readv, (pid_t)syscall(SYS_getpid), &local, 1ul, &remote, 1ul, 0ul);
        } while (n < 0 && errno == EINTR);
        if (n == (ssize_t)len) return VXCRASH_ESUCCESS;
        if (n >= 0 || errno == EFAULT) return VXCRASH_EACCESS;
        if (errno != ENOSYS && errno != EPERM) return VXCRASH_EACCESS;
        g_read_mode.store(1, std::memory_order_relaxed);
    }
    return read_through_pipe(address, dest, len);
}

void vxcrash_async_read_memory_use_pipe(bool use_pipe) {
    g_read_mode.store(use_pipe ? 1 : 0, std::memory_order_relaxed);
}

vxcrash_async_spinlock_t *vxcrash_async_read_memory_pipe_lock() { return &g_pipe_lock; }

void vxcrash_async_unwind_cache_init(vxcrash_async_unwind_cache_t *cache) {
    cache->lock.value.store(0);
    cache->sequence = 0;
    cache->generation = 0;
    for (auto &row : cache->rows) row.pc = 0;
}

void vxcrash_async_task_init(vxcrash_async_task_t *task) {
    task->unwind_cache = nullptr;
    vxcrash_async_task_flush(task);
}

void vxcrash_async_task_set_unwind_cache(vxcrash_async_task_t *task, vxcrash_async_unwind_cache_t *cache) {
    task->unwind_cache = cache;
}

void vxcrash_async_task_set_readable_range(vxcrash_async_task_t *task, uintptr_t start, uintptr_t end) {
    task->readable_start = start;
    task->readable_end = end;
}

void vxcrash_async_task_flush(vxcrash_async_task_t *task) {
    task->readable_start = task->readable_end = 0;
    task->next_code_range = 0;
    for (auto &range : task->code_ranges) range.start = range.end = 0;
    task->next_block = 0;
    for (auto &block : task->blocks) block.valid = false;
    task->next_row = 0;
    task->last_row = 0;
    for (auto &row : task->rows) row.pc = 0;
}

namespace {

// Copies from memory known to be readable, unseen by the sanitizers: the
// bytes are other frames' stack, not ours to check.
__attribute__((no_sanitize("address", "thread"))) void copy_readable(void *dest, uintptr_t from, size_t len) {
    auto *out = static_cast<uint8_t *>(dest);
    if (len == 8) {
        uint64_t v = *reinterpret_cast<const uint64_t *>(from);
        __builtin_memcpy(out, &v, 8);
        return;
    }
    __asm__ __volatile__("rep movsb" : "+D"(out), "+S"(from), "+c"(len) : : "memory");
}

// Checks which of the pages from page on are readable, with one system call
// (a byte of each page); returns how many in a row are.
size_t probe_pages(uintptr_t page, size_t pages) {
    struct iovec remote[VXCRASH_TASK_PROBE_PAGES];
    uint8_t sink[VXCRASH_TASK_PROBE_PAGES];
    struct iovec local = {sink, pages};
    for (size_t i = 0; i < pages; ++i) remote[i] = {(void *)(page + i * VXCRASH_TASK_BLOCK_SIZE), 1};
    ssize_t n;
    do {
        n = syscall(SYS_process_vm_readv, (pid_t)syscall(SYS_getpid), &local, 1ul, remote, (unsigned long)pages, 0ul);
    } while (n < 0 && errno == EINTR);
    return n > 0 ? (size_t)n : 0;
}

}  // namespace

vxcrash_error_t vxcrash_async_task_memcpy(vxcrash_async_task_t *task, uintptr_t address, int64_t offset, void *dest,
                                          size_t len) {
    uintptr_t start;
    if (!vxcrash_async_address_apply_offset(address, offset, &start)) return VXCRASH_EINVAL;
    uintptr_t end;
    if (__builtin_add_overflow(start, len, &end)) return VXCRASH_EINVAL;

    // Pages found readable are read in place: one system call checks a run
    // of them, instead of one copying each page. Memory a walk reads does not
    // go away under it (its thread is parked, or is the caller).
    if (start >= task->readable_start && end <= task->readable_end) {
        copy_readable(dest, start, len);
        return VXCRASH_ESUCCESS;
    }
    if (len > 0 && g_read_mode.load(std::memory_order_relaxed) == 0) {
        uintptr_t page = start & ~(uintptr_t)(VXCRASH_TASK_BLOCK_SIZE - 1);
        constexpr uintptr_t span = VXCRASH_TASK_PROBE_PAGES * VXCRASH_TASK_BLOCK_SIZE;
        size_t readable = page <= UINTPTR_MAX - span ? probe_pages(page, VXCRASH_TASK_PROBE_PAGES) : 0;
        if (readable > 0) {
            uintptr_t readableEnd = page + readable * VXCRASH_TASK_BLOCK_SIZE;
            if (end <= readableEnd) {
                task->readable_start = page;
                task->readable_end = readableEnd;
                copy_readable(dest, start, len);
                return VXCRASH_ESUCCESS;
            }
        }
    }

    auto *out = static_cast<uint8_t *>(dest);
    uintptr_t at = start;
    while (at < end) {
        uintptr_t base = at & ~(uintptr_t)(VXCRASH_TASK_BLOCK_SIZE - 1);
        size_t slot = VXCRASH_TASK_BLOCK_COUNT;
        for (size_t i = 0; i < VXCRASH_TASK_BLOCK_COUNT; ++i) {
            if (task->blocks[i].valid && task->blocks[i].base == base) {
                slot = i;
                break;
            }
        }
        if (slot == VXCRASH_TASK_BLOCK_COUNT) {
            slot = task->next_block;
            task->next_block = (task->next_block + 1) % VXCRASH_TASK_BLOCK_COUNT;
            task->blocks[slot].valid = false;
            // An aligned block never crosses a page: it is readable as a whole or not at all.
            vxcrash_error_t err = vxcrash_async_read_memory(base, task->blocks[slot].bytes, VXCRASH_TASK_BLOCK_SIZE);
            if (err != VXCRASH_ESUCCESS) return err;
            task->blocks[slot].base = base;
            task->blocks[slot].valid = true;
        }
        size_t within = at - base;
        size_t n = VXCRASH_TASK_BLOCK_SIZE - within;
        if (n > end - at) n = end - at;
        vxcrash_async_memcpy(out, task->blocks[slot].bytes + within, n);
        out += n;
        at += n;
    }
    return VXCRASH_ESUCCESS;
}

vxcrash_error_t vxcrash_async_task_read_uint8(vxcrash_async_task_t *task, uintptr_t address, int64_t offset,
                                              uint8_t *out) {
    return vxcrash::async::read(task, address, offset, out);
}

vxcrash_error_t vxcrash_async_task_read_uint16(vxcrash_async_task_t *task, uintptr_t address, int64_t offset,
                                               uint16_t *out) {
    return vxcrash::async::read(task, address, offset, out);
}

vxcrash_error_t vxcrash_async_task_read_uint32(vxcrash_async_task_t *task, uintptr_t address, int64_t offset,
                                               uint32_t *out) {
    return vxcrash::async::read(task, address, offset, out);
}

vxcrash_error_t vxcrash_async_task_read_uint64(vxcrash_async_task_t *task, uintptr_t address, int64_t offset,
                                               uint64_t *out) {
    return vxcrash::async::read(task, address, offset, out);
}

// --- memory objects ----------------------------------------------------------

vxcrash_error_t vxcrash_async_mobject_init(vxcrash_async_mobject_t *mobj, uintptr_t address, size_t length,
                                           const void *data) {
    uintptr_t end;
    if (data == nullptr || __builtin_add_overflow(address, length, &end)) return VXCRASH_EINVAL;
    mobj->address = address;
    mobj->length = length;
    mobj->data = static_cast<const uint8_t *>(data);
    return VXCRASH_ESUCCESS;
}

vxcrash_error_t vxcrash_async_mobject_read_uint8(const vxcrash_async_mobject_t *mobj, uintptr_t address, int64_t offset,
                                                 uint8_t *out) {
    return vxcrash::async::read(mobj, address, offset, out);
}

vxcrash_error_t vxcrash_async_mobject_read_uint16(const vxcrash_async_mobject_t *mobj, uintptr_t address,
                                                  int64_t offset, uint16_t *out) {
    return vxcrash::async::read(mobj, address, offset, out);
}

vxcrash_error_t vxcrash_async_mobject_read_uint32(const vxcrash_async_mobject_t *mobj, uintptr_t address,
                                                  int64_t offset, uint32_t *out) {
    return vxcrash::async::read(mobj, address, offset, out);
}

vxcrash_error_t vxcrash_async_mobject_read_uint64(const vxcrash_async_mobject_t *mobj, uintptr_t address,
                                                  int64_t offset, uint64_t *out) {
    return vxcrash::async::read(mobj, address, offset, out);
}

// --- LEB128 -------------------------------------------------------------------

namespace {

template <typename ReadByte>
vxcrash_error_t decode_uleb(ReadByte readByte, uint64_t *result, size_t *size) {
    uint64_t value = 0;
    unsigned shift = 0;
    for (size_t i = 0;; ++i) {
        if (i == 10) return VXCRASH_ENOTSUP;
        uint8_t byte;
        if (!readByte(i, &byte)) return VXCRASH_EINVAL;
        if (shift < 64) value |= (uint64_t)(byte & 0x7f) << shift;
        shift += 7;
        if ((byte & 0x80) == 0) {
            *result = value;
            *size = i + 1;
            return VXCRASH_ESUCCESS;
        }
    }
}

template <typename ReadByte>
vxcrash_error_t decode_sleb(ReadByte readByte, int64_t *result, size_t *size) {
    uint64_t value = 0;
    unsigned shift = 0;
    for (size_t i = 0;; ++i) {
        if (shift >= 64) return VXCRASH_ENOTSUP;
        uint8_t byte;
        if (!readByte(i, &byte)) return VXCRASH_EINVAL;
        value |= (uint64_t)(byte & 0x7f) << shift;
        shift += 7;
        if ((byte & 0x80) == 0) {
            if (shift < 64 && (byte & 0x40) != 0) value |= ~(uint64_t)0 << shift;
            *result = (int64_t)value;
            *size = i + 1;
            return VXCRASH_ESUCCESS;
        }
    }
}

}  // namespace

vxcrash_error_t vxcrash_async_mobject_read_uleb128(const vxcrash_async_mobject_t *mobj, uintptr_t address,
                                                   int64_t offset, uint64_t *result, size_t *size) {
    uintptr_t start;
    if (!vxcrash_async_address_apply_offset(address, offset, &start)) return VXCRASH_EINVAL;
    return decode_uleb(
        [&](size_t i, uint8_t *b) { return vxcrash::async::read(mobj, start, (int64_t)i, b) == VXCRASH_ESUCCESS; },
        result, size);
}

vxcrash_error_t vxcrash_async_mobject_read_sleb128(const vxcrash_async_mobject_t *mobj, uintptr_t address,
                                                   int64_t offset, int64_t *result, size_t *size) {
    uintptr_t start;
    if (!vxcrash_async_address_apply_offset(address, offset, &start)) return VXCRASH_EINVAL;
    return decode_sleb(
        [&](size_t i, uint8_t *b) { return vxcrash::async::read(mobj, start, (int64_t)i, b) == VXCRASH_ESUCCESS; },
        result, size);
}

vxcrash_error_t vxcrash_async_task_read_uleb128(vxcrash_async_task_t *task, uintptr_t address, int64_t offset,
                                                uint64_t *result, size_t *size) {
    uintptr_t start;
    if (!vxcrash_async_address_apply_offset(address, offset, &start)) return VXCRASH_EINVAL;
    return decode_uleb(
        [&](size_t i, uint8_t *b) {
            return vxcrash_async_task_memcpy(task, start, (int64_t)i, b, 1) == VXCRASH_ESUCCESS;
        },
        result, size);
}

vxcrash_error_t vxcrash_async_task_read_sleb128(vxcrash_async_task_t *task, uintptr_t address, int64_t offset,
                                                int64_t *result, size_t *size) {
    uintptr_t start;
    if (!vxcrash_async_address_apply_offset(address, offset, &start)) return VXCRASH_EINVAL;
    return decode_sleb(
        [&](size_t i, uint8_t *b) {
            return vxcrash_async_task_memcpy(task, start, (int64_t)i, b, 1) == VXCRASH_ESUCCESS;
        },
        result, size);
}

// --- async file ----------------------------------------------------------------

bool vxcrash_async_writen(int fd, const void *data, size_t len) {
    auto *p = static_cast<const uint8_t *>(data);
    while (len > 0) {
        ssize_t n = write(fd, p, len);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        p += n;
        len -= (size_t)n;
    }
    return true;
}

void vxcrash_async_file_init(vxcrash_async_file_t *file, int fd, off_t limit) {
    file->fd = fd;
    file->limit = limit;
    file->total_bytes = 0;
    file->buffered = 0;
    file->error = VXCRASH_ESUCCESS;
}

static vxcrash_error_t file_fail(vxcrash_async_file_t *file, vxcrash_error_t error) {
    if (file->error == VXCRASH_ESUCCESS) file->error = error;
    return error;
}

vxcrash_error_t vxcrash_async_file_write(vxcrash_async_file_t *file, const void *data, size_t len) {
    if (file->error != VXCRASH_ESUCCESS) return file->error;
    if (file->limit > 0 && (uint64_t)file->total_bytes + len > (uint64_t)file->limit)
        return file_fail(file, VXCRASH_OUTPUT_ERR);

    if (len > sizeof(file->buffer) - file->buffered) {
        vxcrash_error_t err = vxcrash_async_file_flush(file);
        if (err != VXCRASH_ESUCCESS) return err;
    }
    if (len > sizeof(file->buffer)) {
        if (!vxcrash_async_writen(file->fd, data, len)) return file_fail(file, VXCRASH_OUTPUT_ERR);
    } else {
        vxcrash_async_memcpy(file->buffer + file->buffered, data, len);
        file->buffered += len;
    }
    file->total_bytes += (off_t)len;
    return VXCRASH_ESUCCESS;
}

vxcrash_error_t vxcrash_async_file_flush(vxcrash_async_file_t *file) {
    if (file->buffered == 0) return file->error;
    bool ok = vxcrash_async_writen(file->fd, file->buffer, file->buffered);
    file->buffered = 0;
    if (!ok) return file_fail(file, VXCRASH_OUTPUT_ERR);
    return file->error;
}

vxcrash_error_t vxcrash_async_file_close(vxcrash_async_file_t *file) {
    vxcrash_async_file_flush(file);
    if (file->fd >= 0) {
        if (close(file->fd) != 0 && errno != EINTR) file_fail(file, VXCRASH_OUTPUT_ERR);
        file->fd = -1;
    }
    return file->error;
}

vxcrash_error_t vxcrash_async_file_error(const vxcrash_async_file_t *file) { return file->error; }
