// What the signal handler's registration (VXCrashSignalHandler.cpp) and its
// crash-time dispatch (VXCrashSignalDispatch.cpp) share. Private to the
// crash reporter.
#pragma once

#include "Vendor/VXCrashReporter/Source/VXCrashSignalHandler.h"

#include <atomic>
#include <csignal>
#include <cstdint>

namespace vxcrash::signal_internal {

// Standard signals only: real-time ones are not crashes.
constexpr int kSignalTableSize = 32;

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

extern SignalSlot g_slots[kSignalTableSize];

// The stack the callbacks run on: one for the process, as only the thread
// that owns the crash runs them. The thread's own stack, or its alternate
// stack, only has to hold the kernel's signal frame and dispatch, so a crash
// on a thread with a small stack, or with a small alternate stack, is still
// written.
extern std::atomic<char *> g_crashStackBase;  // lowest usable byte
extern std::atomic<char *> g_crashStackTop;   // 16-byte aligned

// The action installed for every crash signal.
void dispatch(int signo, siginfo_t *info, void *uap);

}  // namespace vxcrash::signal_internal
