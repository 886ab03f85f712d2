#include "Vendor/VXCrashReporter/Source/VXCrashAsyncThreadParking.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

struct Slot {
    pid_t tid;
    // Session id in the high half, vxcrash_async_parked_state_t in the low
    // half: a handler that runs late, after its session ended, cannot take a
    // slot of the next one.
    std::atomic<uint64_t> word;
    vxcrash_async_thread_state_t state;
};

Slot g_slots[VXCRASH_THREAD_LIST_CAPACITY];
std::atomic<size_t> g_count{0};
std::atomic<uint32_t> g_active{0};  // running session, 0 = none; futex word
std::atomic<uint32_t> g_acks{0};    // futex word
uint32_t g_lastSession = 0;
vxcrash_async_spinlock_t g_sessionLock;
std::atomic<uint32_t> g_timeoutMs{500};
std::atomic<const char *> g_taskDirectory{"/proc/self/task"};
std::atomic<int> g_signal{0};
std::atomic<bool> g_prepared{false};

constexpr uint32_t kSessionLockSpins = 200000;

uint64_t tag(uint32_t session, vxcrash_async_parked_state_t state) { return ((uint64_t)session << 32) | state; }

vxcrash_async_parked_state_t state_of(uint64_t word) { return (vxcrash_async_parked_state_t)(word & 0xffffffffu); }

long futex_wait(std::atomic<uint32_t> *word, uint32_t expected, const struct timespec *timeout) {
    return syscall(SYS_futex, reinterpret_cast<uint32_t *>(word), FUTEX_WAIT_PRIVATE, expected, timeout, nullptr, 0);
}

void futex_wake(std::atomic<uint32_t> *word, int count) {
    syscall(SYS_futex, reinterpret_cast<uint32_t *>(word), FUTEX_WAKE_PRIVATE, count, nullptr, nullptr, 0);
}

void park_handler(int, siginfo_t *info, void *context) {
    int savedErrno = errno;
    auto session = (uint32_t)info->si_value.sival_int;
    if (info->si_code == SI_QUEUE && info->si_pid == (pid_t)syscall(SYS_getpid) && session != 0 &&
        g_active.load(std::memory_order_acquire) == session) {
        pid_t self = vxcrash_async_gettid();
        size_t count = g_count.load(std::memory_order_acquire);
        for (size_t i = 0; i < count; ++i) {
            Slot &slot = g_slots[i];
            if (slot.tid != self) continue;
            uint64_t expected = tag(session, VXCRASH_THREAD_SIGNALLED);
            if (slot.word.compare_exchange_strong(expected, tag(session, VXCRASH_THREAD_SAVING),
                                                  std::memory_order_acq_rel)) {
                vxcrash_async_thread_state_ucontext_init(&slot.state, static_cast<const ucontext_t *>(context));
                slot.word.store(tag(session, VXCRASH_THREAD_PARKED), std::memory_order_release);
                g_acks.fetch_add(1, std::memory_order_acq_rel);
                futex_wake(&g_acks, 1);
                while (g_active.load(std::memory_order_acquire) == session) futex_wait(&g_active, session, nullptr);
            }
            break;
        }
    }
    errno = savedErrno;
}

struct LinuxDirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

// Lists the threads into the table; false when the directory cannot be read.
// The caller and first (when not 0) come first, so that they are in the
// table however many threads the process has.
bool list_threads(pid_t self, pid_t first) {
    int fd = (int)syscall(SYS_openat, AT_FDCWD, g_taskDirectory.load(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    alignas(8) char buffer[4096];
    size_t count = 0;
    bool ok = true;
    g_slots[count].tid = self;
    g_slots[count++].word.store(tag(0, VXCRASH_THREAD_SELF), std::memory_order_relaxed);
    if (first > 0 && first != self) {
        g_slots[count].tid = first;
        g_slots[count++].word.store(tag(0, VXCRASH_THREAD_LISTED), std::memory_order_relaxed);
    }
    size_t reserved = count;
    for (;;) {
        long n = syscall(SYS_getdents64, fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        for (long at = 0; at < n;) {
            auto *entry = reinterpret_cast<LinuxDirent64 *>(buffer + at);
            if (entry->d_reclen == 0) break;
            at += entry->d_reclen;
            int64_t tid = 0;
            bool digits = entry->d_name[0] != '\0';
            for (const char *c = entry->d_name; *c != '\0'; ++c) {
                if (*c < '0' || *c > '9' || tid > INT_MAX / 10) {
                    digits = false;
                    break;
                }
                tid = tid * 10 + (*c - '0');
            }
            if (!digits || count == VXCRASH_THREAD_LIST_CAPACITY) continue;
            bool already = false;
            for (size_t i = 0; i < reserved; ++i) already = already || g_slots[i].tid == (pid_t)tid;
            if (already) continue;
            g_slots[count].tid = (pid_t)tid;
            g_slots[count].word.store(tag(0, tid == self ? VXCRASH_THREAD_SELF : VXCRASH_THREAD_LISTED),
                                      std::memory_order_relaxed);
            ++count;
        }
    }
    syscall(SYS_close, fd);
    g_count.store(ok ? count : 0, std::memory_order_release);
    return ok;
}

}  // namespace

vxcrash_error_t vxcrash_async_thread_parking_prepare() {
    bool expected = false;
    if (!g_prepared.compare_exchange_strong(expected, true)) return VXCRASH_ESUCCESS;
    int sig = SIGRTMAX - 3;
    struct sigaction action;
    memset(&action, 0, sizeof(action));
    action.sa_sigaction = park_handler;
    action.sa_flags = SA_SIGINFO | SA_RESTART | SA_ONSTACK;
    // A parked thread runs nothing else until it is let go.
    sigfillset(&action.sa_mask);
    if (sigaction(sig, &action, nullptr) != 0) {
        g_prepared.store(false);
        return VXCRASH_EINTERNAL;
    }
    g_signal.store(sig);
    return VXCRASH_ESUCCESS;
}

int vxcrash_async_thread_parking_signal() { return g_signal.load(); }

void vxcrash_async_thread_parking_set_timeout_ms(uint32_t milliseconds) { g_timeoutMs.store(milliseconds); }

void vxcrash_async_thread_parking_set_task_directory(const char *path) { g_taskDirectory.store(path); }

vxcrash_error_t vxcrash_async_thread_parking_begin(pid_t first) {
    if (!vxcrash_async_spinlock_trylock(&g_sessionLock, kSessionLockSpins)) return VXCRASH_EACCESS;

    pid_t self = vxcrash_async_gettid();
    if (!list_threads(self, first)) {
        vxcrash_async_spinlock_unlock(&g_sessionLock);
        return VXCRASH_EINTERNAL;
    }

    uint32_t session = ++g_lastSession;
    if (session == 0 || session > INT_MAX) session = g_lastSession = 1;
    size_t count = g_count.load(std::memory_order_relaxed);
    for (size_t i = 0; i < count; ++i) {
        auto s = state_of(g_slots[i].word.load(std::memory_order_relaxed));
        g_slots[i].word.store(tag(session, s), std::memory_order_relaxed);
    }
    g_acks.store(0, std::memory_order_relaxed);
    g_active.store(session, std::memory_order_release);

    int sig = g_signal.load();
    pid_t pid = (pid_t)syscall(SYS_getpid);
    uint32_t sent = 0;
    for (size_t i = 0; i < count && sig != 0; ++i) {
        Slot &slot = g_slots[i];
        if (slot.tid == self) continue;
        slot.word.store(tag(session, VXCRASH_THREAD_SIGNALLED), std::memory_order_release);
        siginfo_t info;
        vxcrash_async_memset(&info, 0, sizeof(info));
        info.si_signo = sig;
        info.si_code = SI_QUEUE;
        info.si_pid = pid;
        info.si_uid = getuid();
        info.si_value.sival_int = (int)session;
        if (syscall(SYS_rt_tgsigqueueinfo, pid, slot.tid, sig, &info) == 0) {
            ++sent;
        } else {
            auto failed = errno == ESRCH ? VXCRASH_THREAD_GONE : VXCRASH_THREAD_NO_ANSWER;
            slot.word.store(tag(session, failed), std::memory_order_release);
        }
    }

    uint64_t deadline = vxcrash_async_monotonic_ms() + g_timeoutMs.load();
    for (;;) {
        uint32_t acks = g_acks.load(std::memory_order_acquire);
        if (acks >= sent) break;
        uint64_t now = vxcrash_async_monotonic_ms();
        if (now >= deadline) break;
        uint64_t left = deadline - now;
        struct timespec timeout = {(time_t)(left / 1000), (long)((left % 1000) * 1000000)};
        futex_wait(&g_acks, acks, &timeout);
    }

    // Whoever has not answered by now is reported without a state.
    for (size_t i = 0; i < count; ++i) {
        Slot &slot = g_slots[i];
        uint64_t expected = tag(session, VXCRASH_THREAD_SIGNALLED);
        if (slot.word.compare_exchange_strong(expected, tag(session, VXCRASH_THREAD_NO_ANSWER),
                                              std::memory_order_acq_rel))
            continue;
        // A handler caught mid-copy finishes within a few instructions.
        for (uint32_t spins = 0;
             state_of(slot.word.load(std::memory_order_acquire)) == VXCRASH_THREAD_SAVING && spins < 10000000; ++spins)
            __builtin_ia32_pause();
    }
    return VXCRASH_ESUCCESS;
}

size_t vxcrash_async_thread_parking_count() {
    return g_active.load(std::memory_order_acquire) == 0 ? 0 : g_count.load(std::memory_order_acquire);
}

bool vxcrash_async_thread_parking_entry(size_t index, vxcrash_async_thread_entry_t *entry) {
    if (index >= vxcrash_async_thread_parking_count()) return false;
    Slot &slot = g_slots[index];
    entry->tid = slot.tid;
    entry->state = state_of(slot.word.load(std::memory_order_acquire));
    if (entry->state == VXCRASH_THREAD_SAVING) entry->state = VXCRASH_THREAD_NO_ANSWER;
    entry->thread_state = entry->state == VXCRASH_THREAD_PARKED ? &slot.state : nullptr;
    return true;
}

bool vxcrash_async_thread_parking_get_state(pid_t tid, vxcrash_async_thread_state_t *state) {
    size_t count = vxcrash_async_thread_parking_count();
    for (size_t i = 0; i < count; ++i) {
        vxcrash_async_thread_entry_t entry;
        if (vxcrash_async_thread_parking_entry(i, &entry) && entry.tid == tid && entry.thread_state != nullptr) {
            vxcrash_async_thread_state_copy(state, entry.thread_state);
            return true;
        }
    }
    return false;
}

void vxcrash_async_thread_parking_end() {
    g_active.store(0, std::memory_order_release);
    futex_wake(&g_active, INT_MAX);
    vxcrash_async_spinlock_unlock(&g_sessionLock);
}
