#include "Vendor/VXCrashReporter/Source/VXCrashSignalHandler.h"

#include "Vendor/VXCrashReporter/Source/VXCrashSignalHandlerInternal.h"
#include "Vendor/VXCrashReporter/Source/VXCrashThreadStacks.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

const int VXCrashSignalHandler::kCrashSignals[6] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV, SIGTRAP};

using namespace vxcrash::signal_internal;

namespace {

std::mutex g_registerLock;

// Maps size bytes with a guard page below them; nullptr on failure.
char *map_stack(size_t size) {
    size_t page = (size_t)sysconf(_SC_PAGESIZE);
    void *memory = mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) return nullptr;
    mprotect(memory, page, PROT_NONE);
    return static_cast<char *>(memory) + page;
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
