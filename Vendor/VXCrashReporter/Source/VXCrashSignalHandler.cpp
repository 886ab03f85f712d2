#include "Vendor/VXCrashReporter/Source/VXCrashSignalHandler.h"

#include "Vendor/VXCrashReporter/Source/VXCrashAsync.h"
#include "Vendor/VXCrashReporter/Source/VXCrashThreadStacks.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <linux/futex.h>
#include <mutex>
#include <string>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

const int VXCrashSignalHandler::kCrashSignals[6] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP};

namespace {

// Standard signals only: real-time ones are not crashes.
constexpr int kSignalTableSize = 32;

// The owner word: no crash, the thread id of the thread running the
// callbacks, or done (a crash was dealt with and its signal passed on).
constexpr int kIdle = 0;
constexpr int kDone = -1;

struct CallbackEntry {
    VXCrashSignalHandlerCallbackFunc function;
    void *context;
};

struct SignalSlot {
    std::atomic<uint32_t> count{0};
    CallbackEntry entries[VXCrashSignalHandler::kMaxCallbacksPerSignal];
    bool installed = false;
    struct sigaction previous;
};

SignalSlot g_slots[kSignalTableSize];
std::atomic<int> g_owner{kIdle};
std::mutex g_registerLock;

void futex_wait(std::atomic<int> *word, int expected) {
    syscall(SYS_futex, reinterpret_cast<int *>(word), FUTEX_WAIT_PRIVATE, expected, nullptr, nullptr, 0);
}

void futex_wake_all(std::atomic<int> *word) {
    syscall(SYS_futex, reinterpret_cast<int *>(word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

// Puts back the action we replaced (the default one when asked, or when the
// replaced one ignored the signal: a crash must not resume) and raises the
// signal again on this thread. The signal is blocked while its handler runs,
// so it is delivered when the handler returns, in the interrupted context.
void pass_on(int signo, const siginfo_t *info, bool use_default) {
    struct sigaction action;
    const SignalSlot &slot = g_slots[signo];
    if (!use_default && slot.installed && slot.previous.sa_handler != SIG_DFL && slot.previous.sa_handler != SIG_IGN) {
        vxcrash_async_memcpy(&action, &slot.previous, sizeof(action));
    } else {
        vxcrash_async_memset(&action, 0, sizeof(action));
        action.sa_handler = SIG_DFL;
        sigemptyset(&action.sa_mask);
    }
    sigaction(signo, &action, nullptr);

    pid_t pid = (pid_t)syscall(SYS_getpid);
    pid_t tid = vxcrash_async_gettid();
    siginfo_t copy;
    vxcrash_async_memcpy(&copy, info, sizeof(copy));
    // Same information as the original (a fault's code and address); a
    // process may queue any code to itself.
    if (syscall(SYS_rt_tgsigqueueinfo, pid, tid, signo, &copy) != 0) syscall(SYS_tgkill, pid, tid, signo);
}

struct CallbackRun {
    int signo;
    siginfo_t *info;
    ucontext_t *uap;
    bool handled;
};

// The stack the callbacks run on: one for the process, as only the thread
// that owns the crash runs them. The thread's own stack, or its alternate
// stack, only has to hold the kernel's signal frame and dispatch, so a crash
// on a thread with a small stack, or with a small alternate stack, is still
// written.
std::atomic<char *> g_crashStackBase{nullptr};  // lowest usable byte
std::atomic<char *> g_crashStackTop{nullptr};   // 16-byte aligned

void run_callbacks(CallbackRun *run) {
    SignalSlot &slot = g_slots[run->signo];
    uint32_t count = slot.count.load(std::memory_order_acquire);
    for (uint32_t i = 0; i < count && !run->handled; ++i) {
        const CallbackEntry &entry = slot.entries[i];
        run->handled = entry.function(run->signo, run->info, run->uap, entry.context);
    }
}

__attribute__((noinline)) void run_on_crash_stack(CallbackRun *run) {
    char *top = g_crashStackTop.load(std::memory_order_acquire);
#if defined(__x86_64__)
    if (top != nullptr) {
        // rbx is callee-saved: it keeps this stack's pointer across the call.
        __asm__ __volatile__(
            "movq %%rsp, %%rbx\n\t"
            "movq %[top], %%rsp\n\t"
            "callq *%[fn]\n\t"
            "movq %%rbx, %%rsp\n\t"
            : "+D"(run)
            : [top] "r"(top), [fn] "r"(&run_callbacks)
            : "rax", "rbx", "rcx", "rdx", "rsi", "r8", "r9", "r10", "r11", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4",
              "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13", "xmm14", "xmm15", "memory",
              "cc");
        return;
    }
#else
    (void)top;
#endif
    run_callbacks(run);
}

// Maps size bytes with a guard page below them; nullptr on failure.
char *map_stack(size_t size) {
    size_t page = (size_t)sysconf(_SC_PAGESIZE);
    void *memory = mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
    mprotect(memory, page, PROT_NONE);
    return static_cast<char *>(memory) + page;
}

void dispatch(int signo, siginfo_t *info, void *uap) {
    int savedErrno = errno;
    if (signo <= 0 || signo >= kSignalTableSize) {
        errno = savedErrno;
        return;
    }
    pid_t self = vxcrash_async_gettid();
    for (;;) {
        int owner = g_owner.load(std::memory_order_acquire);
        if (owner == kIdle) {
            if (g_owner.compare_exchange_strong(owner, self, std::memory_order_acq_rel)) break;
            continue;
        }
        if (owner == self) {
            // A crash while this thread runs the callbacks: no second report.
            pass_on(signo, info, true);
            errno = savedErrno;
            return;
        }
        if (owner == kDone) {
            pass_on(signo, info, false);
            errno = savedErrno;
            return;
        }
        // Another thread is writing: wait (a parking signal still reaches us).
        futex_wait(&g_owner, owner);
    }

    CallbackRun run{signo, info, static_cast<ucontext_t *>(uap), false};
    run_on_crash_stack(&run);
    bool handled = run.handled;

    if (handled) {
        g_owner.store(kIdle, std::memory_order_release);
    } else {
        pass_on(signo, info, false);
        g_owner.store(kDone, std::memory_order_release);
    }
    futex_wake_all(&g_owner);
    errno = savedErrno;
}

}  // namespace

VXCrashSignalHandler &VXCrashSignalHandler::sharedHandler() {
    static VXCrashSignalHandler handler;
    return handler;
}

bool VXCrashSignalHandler::installAlternateStack(VXCrashReporterError *error) {
    if (vxcrash_thread_stack_install(kAlternateStackSize)) return true;
    vxcrash_set_posix_error(error, errno, "Could not install the alternate signal stack");
    return false;
}

bool VXCrashSignalHandler::registerHandlerForSignal(int signo, VXCrashSignalHandlerCallbackFunc callback, void *context,
                                                    VXCrashReporterError *error) {
    if (signo <= 0 || signo >= kSignalTableSize || signo == SIGKILL || signo == SIGSTOP || callback == nullptr) {
        vxcrash_set_reporter_error(error, VXCrashReporterErrorUnknown,
                                   "Can not register a handler for signal " + std::to_string(signo));
        return false;
    }

    std::lock_guard<std::mutex> lock(g_registerLock);
    SignalSlot &slot = g_slots[signo];
    uint32_t count = slot.count.load(std::memory_order_relaxed);
    if (count == kMaxCallbacksPerSignal) {
        vxcrash_set_reporter_error(error, VXCrashReporterErrorResourceBusy,
                                   "Too many handlers for signal " + std::to_string(signo));
        return false;
    }
    // Threads started from now on get an alternate stack of their own.
    vxcrash_thread_stacks_enable();
    if (!installAlternateStack(error)) return false;
    if (g_crashStackTop.load(std::memory_order_relaxed) == nullptr) {
        char *base = map_stack(kCrashStackSize);
        if (base == nullptr) {
            vxcrash_set_posix_error(error, errno, "Could not allocate the crash stack");
            return false;
        }
        g_crashStackBase.store(base, std::memory_order_relaxed);
        g_crashStackTop.store(base + kCrashStackSize, std::memory_order_release);
    }

    // Visible to the handler before the action can run it.
    slot.entries[count].function = callback;
    slot.entries[count].context = context;
    slot.count.store(count + 1, std::memory_order_release);

    if (!slot.installed) {
        struct sigaction action;
        memset(&action, 0, sizeof(action));
        action.sa_sigaction = dispatch;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        for (int s : kCrashSignals) sigaddset(&action.sa_mask, s);
        if (sigaction(signo, &action, &slot.previous) != 0) {
            int errnum = errno;
            slot.count.store(count, std::memory_order_release);
            vxcrash_set_posix_error(error, errnum, "Could not install the handler of signal " + std::to_string(signo));
            return false;
        }
        slot.installed = true;
    }
    return true;
}

size_t VXCrashSignalHandler::callbackCount(int signo) const {
    if (signo <= 0 || signo >= kSignalTableSize) return 0;
    return g_slots[signo].count.load(std::memory_order_acquire);
}

size_t VXCrashSignalHandler::crashStackUsed() {
    const char *base = g_crashStackBase.load(std::memory_order_acquire);
    if (base == nullptr) return 0;
    // The stack starts zeroed: the lowest byte written marks how deep it went.
    size_t at = 0;
    while (at < kCrashStackSize && base[at] == 0) ++at;
    return kCrashStackSize - at;
}
