#include "Vendor/VXCrashReporter/Source/VXCrashReporter.h"

#include "Vendor/VXCrashReporter/Source/VXCrashAsync.h"
#include "Vendor/VXCrashReporter/Source/VXCrashAsyncThreadState.h"
#include "Vendor/VXCrashReporter/Source/VXCrashLogWriter.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReporterInternal.h"
#include "Vendor/VXCrashReporter/Source/VXCrashSharedImageList.h"
#include "Vendor/VXCrashReporter/Source/VXCrashSignalHandler.h"
#include "Vendor/VXCrashReporter/Source/VXCrashUncaughtException.h"

#include "VexilConfig.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <pthread.h>
#include <pwd.h>
#include <climits>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace {

using namespace vxcrash::reporter_internal;

constexpr off_t kReportSizeLimit = 256 * 1024;  // live reports too
constexpr const char *kQueuedReportsName = "queued_reports";
constexpr const char *kPendingReportName = "live_report.vxcrash";

std::mutex g_enableLock;
bool g_processEnabled = false;
std::atomic<bool> g_uncaughtExceptionSeen{false};

std::mutex g_mainBundleLock;
VXCrashReporterBundle g_mainBundle{"com.tarnwick.vexil", VEXIL_BUILD_NUMBER, VEXIL_VERSION};

void uncaught_exception_handler(const VXCrashUncaughtException &exception) {
    bool expected = false;
    if (!g_uncaughtExceptionSeen.compare_exchange_strong(expected, true)) return;
    vxcrash_log_writer_set_exception(&g_writer, exception.name.c_str(), exception.reason.c_str(),
                                     exception.callStackReturnAddresses.data(),
                                     exception.callStackReturnAddresses.size());
    // The report is written by the SIGABRT handler.
    abort();
}

std::string env(const char *name) {
    const char *value = getenv(name);
    return value != nullptr ? value : "";
}

std::string home_directory() {
    std::string home = env("HOME");
    if (!home.empty()) return home;
    struct passwd entry;
    struct passwd *found = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr)
        return found->pw_dir;
    return "/tmp";
}

std::string temporary_directory() {
    std::string vexilHome = env("VEXIL_HOME");
    if (!vexilHome.empty()) return vexilHome + "/tmp";
    std::string tmp = env("TMPDIR");
    return tmp.empty() ? "/tmp" : tmp;
}

// mkdir -p with mode 0755 for each folder it makes.
bool make_directories(const std::string &path, VXCrashReporterError *error) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        vxcrash_set_posix_error(error, ENOTDIR, "Could not create the directory " + path);
        return false;
    }
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            vxcrash_set_posix_error(error, errno, "Could not create the directory " + part);
            return false;
        }
    }
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        vxcrash_set_posix_error(error, ENOTDIR, "Could not create the directory " + path);
        return false;
    }
    return true;
}

bool read_whole_file(const std::string &path, std::vector<uint8_t> *out, int *errnum) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *errnum = errno;
        return false;
    }
    out->clear();
    uint8_t buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *errnum = errno;
            close(fd);
            return false;
        }
        if (n == 0) break;
        out->insert(out->end(), buffer, buffer + n);
    }
    close(fd);
    return true;
}

// Removes the temporary files of writers that died part-way
// ("live_report.vxcrash.<pid>.tmp" of a process that is gone).
void remove_dead_writers_files(const std::string &directory) {
    DIR *dir = opendir(directory.c_str());
    if (dir == nullptr) return;
    const std::string prefix = std::string(kPendingReportName) + ".";
    while (struct dirent *entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - 4, 4, ".tmp") != 0)
            continue;
        std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - 4);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9)
            continue;
        pid_t pid = (pid_t)std::stol(digits);
        if (kill(pid, 0) != 0 && errno == ESRCH) unlink((directory + "/" + name).c_str());
    }
    closedir(dir);
}

struct LiveWrite {
    vxcrash_log_writer_t *writer;
    vxcrash_async_file_t *file;
    const vxcrash_log_signal_info_t *siginfo;
};

// The top of the calling thread's stack, found once per thread (0 when unknown).
uintptr_t own_stack_top() {
    thread_local uintptr_t top = 0;
    if (top == 0) {
        pthread_attr_t attr;
        void *low = nullptr;
        size_t size = 0;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            if (pthread_attr_getstack(&attr, &low, &size) == 0) top = (uintptr_t)low + size;
            pthread_attr_destroy(&attr);
        }
    }
    return top;
}

// Rows kept across live reports.
vxcrash_async_unwind_cache_t *live_unwind_cache() {
    static vxcrash_async_unwind_cache_t *cache = [] {
        auto *made = new vxcrash_async_unwind_cache_t();
        vxcrash_async_unwind_cache_init(made);
        return made;
    }();
    return cache;
}

vxcrash_error_t write_live_from_state(vxcrash_async_thread_state_t *state, void *context) {
    auto *live = static_cast<LiveWrite *>(context);
    // Everything from this frame up to the stack's top is mapped: the walk of
    // this thread, which starts above it, reads it in place.
    volatile char here = 0;
    uintptr_t top = own_stack_top();
    if (top > (uintptr_t)&here) {
        live->writer->own_stack_start = (uintptr_t)&here & ~(uintptr_t)4095;
        live->writer->own_stack_end = top;
    }
    return vxcrash_log_writer_write(live->writer, vxcrash_async_gettid(), vxcrash_shared_image_list(), live->file,
                                    live->siginfo, state);
}

}  // namespace

// --- bundle -------------------------------------------------------------------

VXCrashReporterBundle VXCrashReporterBundle::mainBundle() {
    std::lock_guard<std::mutex> lock(g_mainBundleLock);
    return g_mainBundle;
}

void VXCrashReporterBundle::setMainBundle(const VXCrashReporterBundle &bundle) {
    std::lock_guard<std::mutex> lock(g_mainBundleLock);
    g_mainBundle = bundle;
}

std::string vxcrash_user_state_directory() {
    std::string vexilHome = env("VEXIL_HOME");
    if (!vexilHome.empty()) return vexilHome + "/.local/state";
    std::string xdg = env("XDG_STATE_HOME");
    if (!xdg.empty() && xdg[0] == '/') return xdg;
    return home_directory() + "/.local/state";
}

std::string vxcrash_user_cache_directory() {
    std::string vexilHome = env("VEXIL_HOME");
    if (!vexilHome.empty()) return vexilHome + "/.cache";
    std::string xdg = env("XDG_CACHE_HOME");
    if (!xdg.empty() && xdg[0] == '/') return xdg;
    return home_directory() + "/.cache";
}

// --- reporter -----------------------------------------------------------------

std::shared_ptr<VXCrashReporter> VXCrashReporter::sharedReporter() {
    static std::shared_ptr<VXCrashReporter> shared = std::make_shared<VXCrashReporter>(
        VXCrashReporterBundle::mainBundle(), VXCrashReporterConfig::defaultConfiguration());
    return shared;
}

VXCrashReporter::VXCrashReporter() : VXCrashReporter(VXCrashReporterConfig::defaultConfiguration()) {}

VXCrashReporter::VXCrashReporter(std::shared_ptr<VXCrashReporterConfig> configuration)
    : VXCrashReporter(VXCrashReporterBundle::mainBundle(), std::move(configuration)) {}

namespace {

std::string identifier_of(const VXCrashReporterBundle &bundle) {
    if (bundle.bundleIdentifier && !bundle.bundleIdentifier->empty()) return *bundle.bundleIdentifier;
    const char *name = program_invocation_short_name;
    if (name == nullptr || name[0] == '\0')
        throw VXCrashReporterException("Can not determine process identifier or process name");
    fprintf(stderr, "[VXCrashReporter] Warning -- bundle identifier, using process name %s\n", name);
    return name;
}

std::string version_of(const VXCrashReporterBundle &bundle) {
    if (bundle.bundleVersion) return *bundle.bundleVersion;
    fprintf(stderr, "[VXCrashReporter] Warning -- bundle version unavailable\n");
    return "";
}

}  // namespace

VXCrashReporter::VXCrashReporter(const VXCrashReporterBundle &bundle,
                                 std::shared_ptr<VXCrashReporterConfig> configuration)
    : VXCrashReporter(identifier_of(bundle), version_of(bundle), bundle.bundleShortVersionString,
                      std::move(configuration)) {}

VXCrashReporter::VXCrashReporter(std::string applicationIdentifier, std::string appVersion,
                                 std::optional<std::string> appMarketingVersion,
                                 std::shared_ptr<VXCrashReporterConfig> configuration)
    : m_configuration(configuration ? std::move(configuration) : VXCrashReporterConfig::defaultConfiguration()),
      m_applicationIdentifier(std::move(applicationIdentifier)),
      m_applicationVersion(std::move(appVersion)),
      m_applicationMarketingVersion(std::move(appMarketingVersion)) {
    // The image list follows the process from the first reporter on.
    vxcrash_shared_image_list();

    std::string leaf = m_applicationIdentifier;
    for (char &c : leaf) {
        if (c == '/') c = '_';
    }
    std::string base = m_configuration->crashReportBaseDirectory();
    m_crashReportDirectory = (base.empty() ? vxcrash_user_state_directory() : base) + "/" + leaf;
    m_temporaryDirectory = temporary_directory();
    if (base.empty()) vxcrash_adopt_legacy_reports(vxcrash_user_cache_directory() + "/" + leaf, m_crashReportDirectory);
}

void vxcrash_adopt_legacy_reports(const std::string &legacyDirectory, const std::string &directory) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (legacyDirectory == directory || !fs::is_directory(legacyDirectory, ec)) return;
    // A file already at the new place stays; the old one then waits for a
    // later start rather than being overwritten.
    auto move = [](const fs::path &from, const fs::path &to) {
        std::error_code error;
        if (!fs::is_regular_file(from, error) || fs::exists(to, error)) return;
        fs::create_directories(to.parent_path(), error);
        fs::rename(from, to, error);
        if (error && fs::copy_file(from, to, error))  // another file system
            fs::remove(from, error);
    };
    const fs::path legacy(legacyDirectory);
    move(legacy / kPendingReportName, fs::path(directory) / kPendingReportName);
    const fs::path queued = legacy / kQueuedReportsName;
    if (fs::is_directory(queued, ec)) {
        for (const auto &entry : fs::directory_iterator(queued, ec))
            move(entry.path(), fs::path(directory) / kQueuedReportsName / entry.path().filename());
    }
    // Removed only when emptied.
    fs::remove(queued, ec);
    fs::remove(legacy, ec);
}

std::string VXCrashReporter::queuedCrashReportDirectory() const {
    return m_crashReportDirectory + "/" + kQueuedReportsName;
}

std::string VXCrashReporter::crashReportPath() const { return m_crashReportDirectory + "/" + kPendingReportName; }

bool VXCrashReporter::hasPendingCrashReport() const { return access(crashReportPath().c_str(), F_OK) == 0; }

std::optional<std::vector<uint8_t>> VXCrashReporter::loadPendingCrashReportData(VXCrashReporterError *error) const {
    std::vector<uint8_t> data;
    int errnum = 0;
    if (!read_whole_file(crashReportPath(), &data, &errnum)) {
        vxcrash_set_posix_error(error, errnum, "Could not read " + crashReportPath());
        return std::nullopt;
    }
    return data;
}

bool VXCrashReporter::purgePendingCrashReport(VXCrashReporterError *error) {
    if (unlink(crashReportPath().c_str()) != 0) {
        vxcrash_set_posix_error(error, errno, "Could not remove " + crashReportPath());
        return false;
    }
    return true;
}

bool VXCrashReporter::setCrashCallbacks(const VXCrashReporterCallbacks *callbacks, VXCrashReporterError *error) {
    if (m_enabled) throw VXCrashReporterException("The crash reporter has alread been enabled");
    if (callbacks == nullptr) {
        g_callbackFunction.store(nullptr);
        g_callbackContext.store(nullptr);
        return true;
    }
    if (callbacks->version != 0) {
        vxcrash_set_reporter_error(error, VXCrashReporterErrorUnknown,
                                   "Unsupported crash callbacks version " + std::to_string(callbacks->version));
        return false;
    }
    g_callbackContext.store(callbacks->context);
    g_callbackFunction.store(callbacks->handleSignal);
    return true;
}

void VXCrashReporter::setCustomData(std::optional<std::vector<uint8_t>> data) {
    m_customData = std::move(data);
    if (g_writerReady.load()) {
        if (m_customData)
            vxcrash_log_writer_set_custom_data(&g_writer, m_customData->data(), m_customData->size());
        else
            vxcrash_log_writer_set_custom_data(&g_writer, nullptr, 0);
    }
}

bool VXCrashReporter::enableCrashReporter(VXCrashReporterError *error) {
    {
        std::lock_guard<std::mutex> lock(g_enableLock);
        if (g_processEnabled) {
            vxcrash_set_reporter_error(error, VXCrashReporterErrorResourceBusy,
                                       "A VXCrashReporter instance has already been enabled");
            return false;
        }
        g_processEnabled = true;
    }
    if (m_enabled) throw VXCrashReporterException("The crash reporter has alread been enabled");

    // The process-wide flag stays set from here on, also when a later step
    // fails: a second enable, of any reporter, ends at the check above.
    if (!make_directories(m_crashReportDirectory, error) || !make_directories(queuedCrashReportDirectory(), error))
        return false;
    remove_dead_writers_files(m_crashReportDirectory);

    const char *marketing = m_applicationMarketingVersion ? m_applicationMarketingVersion->c_str() : nullptr;
    if (vxcrash_log_writer_init(&g_writer, m_applicationIdentifier.c_str(), m_applicationVersion.c_str(), marketing,
                                m_configuration->symbolicationStrategy() & 3u, false) != VXCRASH_ESUCCESS) {
        vxcrash_set_reporter_error(error, VXCrashReporterErrorOperatingSystem,
                                   "Could not read the process information");
        return false;
    }
    g_writerReady.store(true);
    if (m_customData) vxcrash_log_writer_set_custom_data(&g_writer, m_customData->data(), m_customData->size());

    // Enabled once per process: the paths live as long as it does.
    g_crashPaths.store(new CrashPaths{strdup(crashReportPath().c_str()), strdup(m_crashReportDirectory.c_str()),
                                      strdup(queuedCrashReportDirectory().c_str()), getpid()});
    g_imageList.store(vxcrash_shared_image_list());

    uint32_t type = m_configuration->signalHandlerType();
    if (type == VXCrashReporterSignalHandlerTypeBSD || type == VXCrashReporterSignalHandlerTypeMach) {
        for (int signo : VXCrashSignalHandler::kCrashSignals) {
            if (!VXCrashSignalHandler::sharedHandler().registerHandlerForSignal(signo, crash_signal_callback, nullptr,
                                                                                error))
                return false;
        }
    }

    if (m_configuration->shouldRegisterUncaughtExceptionHandler())
        vxcrash_set_uncaught_exception_handler(uncaught_exception_handler);

    m_enabled = true;
    return true;
}

__attribute__((noinline)) std::optional<std::vector<uint8_t>> VXCrashReporter::generateLiveReport(
    VXCrashReporterError *error) {
    uint64_t caller = (uint64_t)(uintptr_t)__builtin_extract_return_addr(__builtin_return_address(0));
    return liveReport(vxcrash_async_gettid(), caller, error);
}

__attribute__((noinline)) std::optional<std::vector<uint8_t>> VXCrashReporter::generateLiveReportWithThread(
    pid_t thread, VXCrashReporterError *error) {
    uint64_t caller = (uint64_t)(uintptr_t)__builtin_extract_return_addr(__builtin_return_address(0));
    return liveReport(thread, caller, error);
}

std::optional<std::vector<uint8_t>> VXCrashReporter::liveReport(pid_t thread, uint64_t callerAddress,
                                                                VXCrashReporterError *error) {
    mkdir(m_temporaryDirectory.c_str(), 0755);
    std::string path = m_temporaryDirectory + "/live_crash_report.XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0) {
        vxcrash_set_error(error, VXCrashReporterPOSIXErrorDomain, errno, "Failed to create temporary path");
        return std::nullopt;
    }

    auto writer = std::make_unique<vxcrash_log_writer_t>();
    const char *marketing = m_applicationMarketingVersion ? m_applicationMarketingVersion->c_str() : nullptr;
    vxcrash_error_t result =
        vxcrash_log_writer_init(writer.get(), m_applicationIdentifier.c_str(), m_applicationVersion.c_str(), marketing,
                                m_configuration->symbolicationStrategy() & 3u, true);
    vxcrash_async_file_t file;
    vxcrash_async_file_init(&file, fd, kReportSizeLimit);
    if (result == VXCRASH_ESUCCESS) {
        if (m_customData) vxcrash_log_writer_set_custom_data(writer.get(), m_customData->data(), m_customData->size());
        writer->unwind_cache = live_unwind_cache();

        vxcrash_log_bsd_signal_info_t bsd = {SIGTRAP, TRAP_TRACE, callerAddress};
        vxcrash_log_signal_info_t siginfo = {&bsd, nullptr};
        if (thread != vxcrash_async_gettid()) {
            result =
                vxcrash_log_writer_write(writer.get(), thread, vxcrash_shared_image_list(), &file, &siginfo, nullptr);
        } else {
            LiveWrite live{writer.get(), &file, &siginfo};
            result = vxcrash_async_thread_state_current(write_live_from_state, &live);
        }
        vxcrash_log_writer_close(writer.get());
    }
    vxcrash_error_t closed = vxcrash_async_file_close(&file);
    if (result == VXCRASH_ESUCCESS && closed != VXCRASH_ESUCCESS) result = closed;

    std::optional<std::vector<uint8_t>> data;
    if (result != VXCRASH_ESUCCESS) {
        fprintf(stderr, "[VXCrashReporter] Write failed with error %s\n", vxcrash_async_strerror(result));
        vxcrash_set_reporter_error(error, VXCrashReporterErrorUnknown, "Failed to write the crash report to disk");
    } else {
        std::vector<uint8_t> bytes;
        int errnum = 0;
        if (read_whole_file(path, &bytes, &errnum))
            data = std::move(bytes);
        else
            vxcrash_set_reporter_error(error, VXCrashReporterErrorUnknown,
                                       "Unable to open live crash report for reading");
    }

    vxcrash_log_writer_free(writer.get());
    if (unlink(path.c_str()) != 0)
        fprintf(stderr, "[VXCrashReporter] Failure occured deleting live crash report: %s\n", strerror(errno));
    return data;
}
