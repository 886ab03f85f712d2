// What the crash reporter calls after it has written a crash report.
#pragma once

#include <csignal>
#include <cstdint>
#include <ucontext.h>

// Called on the crashed thread, in the signal handler, after a report was
// written successfully: it must be async-signal-safe.
typedef void (*VXCrashReporterPostCrashSignalCallback)(siginfo_t *info, ucontext_t *uap, void *context);

struct VXCrashReporterCallbacks {
    // Must be 0; the reporter refuses any other version.
    uint16_t version;
    void *context;
    VXCrashReporterPostCrashSignalCallback handleSignal;
};
