// Crash-time half of the reporter: the signal callback and the report's
// file. Allocates nothing, takes no lock, makes only system calls.
#include "Vendor/VXCrashReporter/Source/VXCrashReporterInternal.h"

#include "Vendor/VXCrashReporter/Source/VXCrashAsync.h"
#include "Vendor/VXCrashReporter/Source/VXCrashAsyncThreadState.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vxcrash::reporter_internal {

vxcrash_log_writer_t g_writer;
std::atomic<bool> g_writerReady{false};
std::atomic<vxcrash_async_image_list_t *> g_imageList{nullptr};
std::atomic<void *> g_callbackContext{nullptr};
std::atomic<VXCrashReporterPostCrashSignalCallback> g_callbackFunction{nullptr};
std::atomic<CrashPaths *> g_crashPaths{nullptr};

namespace {

constexpr off_t kReportSizeLimit = 256 * 1024;

// Appends text to buffer[*at] within size (the last byte stays for the NUL).
bool append_text(char *buffer, size_t size, size_t *at, const char *text) {
    size_t length = vxcrash_async_strlen(text);
    if (length >= size - *at) return false;
    vxcrash_async_memcpy(buffer + *at, text, length);
    *at += length;
    buffer[*at] = '\0';
    return true;
}

// mkdir -p with plain system calls; a cache cleaner may have removed the
// crash directory while the program ran.
void make_directories_async(const char *path) {
    char prefix[PATH_MAX];
    size_t length = vxcrash_async_strlen(path);
    if (length >= sizeof(prefix)) return;
    for (size_t at = 1; at <= length; ++at) {
        if (at != length && path[at] != '/') continue;
        vxcrash_async_memcpy(prefix, path, at);
        prefix[at] = '\0';
        mkdir(prefix, 0755);
    }
}

// Opens the report under a temporary name of its own and writes it; only a
// whole report is renamed into place, so a writer that dies part-way leaves
// an earlier report as it was. A forked child never replaces a report that is
// already pending: its report then goes to the queued directory. The result
// is the write's, or an internal error when the file cannot be opened,
// flushed, closed or renamed. Async-safe.
vxcrash_error_t vxcrash_write_report(pid_t crashed_thread, const vxcrash_async_thread_state_t *state,
                                     const vxcrash_log_signal_info_t *siginfo) {
    const CrashPaths *paths = g_crashPaths.load(std::memory_order_acquire);
    if (paths == nullptr) return VXCRASH_EINTERNAL;
    pid_t pid = (pid_t)syscall(SYS_getpid);
    char pidText[16];
    vxcrash_async_format_int(pidText, sizeof(pidText), pid);
    char temporary[PATH_MAX];
    size_t at = 0;
    if (!append_text(temporary, sizeof(temporary), &at, paths->report) ||
        !append_text(temporary, sizeof(temporary), &at, ".") ||
        !append_text(temporary, sizeof(temporary), &at, pidText) ||
        !append_text(temporary, sizeof(temporary), &at, ".tmp"))
        return VXCRASH_EINTERNAL;

    int fd = open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 && errno == ENOENT) {
        make_directories_async(paths->directory);
        make_directories_async(paths->queued);
        fd = open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    if (fd < 0) return VXCRASH_EINTERNAL;
    vxcrash_async_file_t file;
    vxcrash_async_file_init(&file, fd, kReportSizeLimit);
    vxcrash_error_t result =
        vxcrash_log_writer_write(&g_writer, crashed_thread, g_imageList.load(), &file, siginfo, state);
    vxcrash_log_writer_close(&g_writer);
    if (vxcrash_async_file_close(&file) != VXCRASH_ESUCCESS && result == VXCRASH_ESUCCESS) result = VXCRASH_EINTERNAL;
    if (result != VXCRASH_ESUCCESS) {
        unlink(temporary);
        return result;
    }

    if (pid == paths->pid) {
        if (rename(temporary, paths->report) != 0) result = VXCRASH_EINTERNAL;
    } else if (link(temporary, paths->report) == 0) {
        unlink(temporary);
    } else {
        char queued[PATH_MAX];
        at = 0;
        if (!append_text(queued, sizeof(queued), &at, paths->queued) ||
            !append_text(queued, sizeof(queued), &at, "/live_report-") ||
            !append_text(queued, sizeof(queued), &at, pidText) ||
            !append_text(queued, sizeof(queued), &at, ".vxcrash") || rename(temporary, queued) != 0)
            result = VXCRASH_EINTERNAL;
    }
    if (result != VXCRASH_ESUCCESS) unlink(temporary);
    return result;
}

// The kernel's fault signals carry the faulting address; a signal sent by a
// process carries its sender's pid and uid in the same place instead.
uint64_t fault_address(int signo, const siginfo_t *info) {
    if (info->si_code <= 0) return 0;
    switch (signo) {
        case SIGSEGV:
        case SIGBUS:
        case SIGILL:
        case SIGFPE:
        case SIGTRAP:
            return (uint64_t)(uintptr_t)info->si_addr;
        default:
            return 0;
    }
}

}  // namespace

bool crash_signal_callback(int signo, siginfo_t *info, ucontext_t *uap, void *) {
    vxcrash_async_thread_state_t state;
    vxcrash_async_thread_state_ucontext_init(&state, uap);
    vxcrash_log_bsd_signal_info_t bsd = {signo, info->si_code, fault_address(signo, info)};
    vxcrash_log_signal_info_t siginfo = {&bsd, nullptr};
    if (vxcrash_write_report(vxcrash_async_gettid(), &state, &siginfo) == VXCRASH_ESUCCESS) {
        VXCrashReporterPostCrashSignalCallback function = g_callbackFunction.load();
        if (function != nullptr) function(info, uap, g_callbackContext.load());
    }
    // The signal goes on to the action it replaced; the process ends.
    return false;
}

}  // namespace vxcrash::reporter_internal
