// Crash-time half of the signal handler: the action every crash signal runs.
// Allocates nothing, takes no lock, makes only system calls.
#include "Vendor/VXCrashReporter/Source/VXCrashSignalHandlerInternal.h"

#include "Vendor/VXCrashReporter/Source/VXCrashAsync.h"

#include <cerrno>
#include <climits>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vxcrash::signal_internal {

SignalSlot g_slots[kSignalTableSize];
std::atomic<char *> g_crashStackBase{nullptr};
std::atomic<char *> g_crashStackTop{nullptr};

namespace {

// The owner word: no crash, the thread id of the thread running the
// callbacks, or done (a crash was dealt with and its signal passed on).
constexpr int kIdle = 0;
constexpr int kDone = -1;

std::atomic<int> g_owner{kIdle};

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

}  // namespace

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

}  // namespace vxcrash::signal_internal
