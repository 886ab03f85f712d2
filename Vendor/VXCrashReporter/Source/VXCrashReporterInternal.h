// What the reporter's front end (VXCrashReporter.cpp) and its crash-time
// half (VXCrashReporterCrash.cpp) share: the process-wide state the signal
// callback reads. Private to the crash reporter.
#pragma once

#include "Vendor/VXCrashReporter/Source/VXCrashAsyncImageList.h"
#include "Vendor/VXCrashReporter/Source/VXCrashLogWriter.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReporterCallbacks.h"

#include <atomic>
#include <csignal>
#include <sys/types.h>
#include <ucontext.h>

namespace vxcrash::reporter_internal {

extern vxcrash_log_writer_t g_writer;
extern std::atomic<bool> g_writerReady;
extern std::atomic<vxcrash_async_image_list_t *> g_imageList;
extern std::atomic<void *> g_callbackContext;
extern std::atomic<VXCrashReporterPostCrashSignalCallback> g_callbackFunction;

// Where crash-time code writes, copied at enable.
struct CrashPaths {
    char *report;     // the pending report
    char *directory;  // the crash directory, made again at crash time when gone
    char *queued;     // the queued report directory
    pid_t pid;        // the process that enabled the reporter
};

extern std::atomic<CrashPaths *> g_crashPaths;

// Writes the report of a crash signal, then runs the application's
// post-crash callback; never handles the signal (returns false).
bool crash_signal_callback(int signo, siginfo_t *info, ucontext_t *uap, void *context);

}  // namespace vxcrash::reporter_internal
