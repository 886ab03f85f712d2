// The process's handler of crash signals: one list of callbacks per signal.
//
// The first registration for a signal installs one SA_SIGINFO action, run on
// the thread's alternate signal stack, and keeps the action it replaced. The
// callbacks themselves run on a stack of the process's own. When
// a signal arrives:
// - the first thread to get one owns the crash: it runs the signal's
//   callbacks in registration order until one answers that it handled the
//   signal (then the thread resumes);
// - otherwise the replaced action is put back (the default action when it
//   was "ignore") and the signal is raised again, with the same information,
//   on the same thread: it is delivered as soon as the handler returns, so a
//   trap or a signal sent by kill() ends the process just as a fault does,
//   and an earlier handler still sees the original fault;
// - a thread that gets a signal while another one runs the callbacks waits
//   until they are done, then hands its signal to the replaced action too; a
//   crash signal raised on the thread that runs them takes the default action.
//
// Registration is not async-safe and may happen from any thread; dispatching
// allocates nothing and takes no lock.
#pragma once

#include "Vendor/VXCrashReporter/Source/VXCrashReporterError.h"

#include <csignal>
#include <cstddef>
#include <ucontext.h>

// Returns true when the signal was handled and the thread may resume.
typedef bool (*VXCrashSignalHandlerCallbackFunc)(int signo, siginfo_t *info, ucontext_t *uap, void *context);

class VXCrashSignalHandler {
public:
    static constexpr size_t kMaxCallbacksPerSignal = 8;
    // The callbacks run on a stack of the process's own (the report writer
    // needs about 40 KiB of it, see crashStackUsed); a thread's alternate
    // stack only holds the kernel's signal frame and the step onto it.
    static constexpr size_t kCrashStackSize = 256 * 1024;
    static constexpr size_t kAlternateStackSize = 64 * 1024;

    // The signals blocked while a callback runs (SIGABRT, SIGBUS, SIGFPE,
    // SIGILL, SIGSEGV, SIGTRAP): a fault inside the handler is not caught again.
    static const int kCrashSignals[6];

    static VXCrashSignalHandler &sharedHandler();

    // Appends callback to signo's list, installing the action on first use and
    // the alternate stack of the calling thread when it has none.
    bool registerHandlerForSignal(int signo, VXCrashSignalHandlerCallbackFunc callback, void *context,
                                  VXCrashReporterError *error);

    // The number of callbacks registered for signo.
    size_t callbackCount(int signo) const;

    // Gives the calling thread an alternate signal stack unless it has one, so
    // that a stack overflow on it can still be reported. Threads started after
    // the first registration get one by themselves (VXCrashThreadStacks.h);
    // this is for threads that existed before.
    static bool installAlternateStack(VXCrashReporterError *error = nullptr);

    // How deep the callbacks have gone into the crash stack so far, in bytes
    // (0 before the first registration). Measures the writer's stack need.
    static size_t crashStackUsed();

    VXCrashSignalHandler(const VXCrashSignalHandler &) = delete;
    VXCrashSignalHandler &operator=(const VXCrashSignalHandler &) = delete;

private:
    VXCrashSignalHandler() = default;
};
