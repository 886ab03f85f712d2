// The crash reporter front end: configure, enable once per process, hand back
// the pending report of the last run, write live reports on demand.
//
// Files: the crash directory is the user's state directory
// ($VEXIL_HOME/.local/state when VEXIL_HOME is set, else $XDG_STATE_HOME, else
// ~/.local/state; cache cleaners would empty the cache directory), or the
// configuration's base directory, plus the application identifier with every
// "/" made "_". It holds
// "queued_reports" and the pending report
// "live_report.vxcrash". Paths are computed when the reporter is made, never
// at crash time. Reports an older version left in the cache directory
// (<cache>/<identifier>) move to the state directory when a reporter with the
// default location is made.
//
// Enabling installs the handlers of SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGSEGV
// and SIGTRAP (VXCrashSignalHandler) and, when the configuration asks, the
// uncaught-exception handler (VXCrashUncaughtException): an uncaught C++
// exception is recorded and the process aborts, so the report of the SIGABRT
// carries the exception.
//
// A stack overflow is reported on any thread that has an alternate signal
// stack. Enabling gives one to the calling thread and to every thread started
// from then on, by whatever code starts it (VXCrashThreadStacks.h: programs
// that link this target through CMake). Threads that already ran when the
// reporter was enabled keep what they had: an overflow on one without an
// alternate stack (unless it calls VXCrashSignalHandler::installAlternateStack)
// kills the process with no report, as before.
#pragma once

#include "Vendor/VXCrashReporter/Source/VXCrashReporterCallbacks.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReporterConfig.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReporterError.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <vector>

// Raised for programming errors: callbacks set or enable called twice on an
// enabled reporter, or no way to name the process.
class VXCrashReporterException : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// The values the reporter reads from an application bundle.
struct VXCrashReporterBundle {
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> bundleVersion;             // "CFBundleVersion"
    std::optional<std::string> bundleShortVersionString;  // "CFBundleShortVersionString"

    // The application's bundle: "com.tarnwick.vexil", the build number and the
    // project's version unless the application replaced it with what its
    // bundle says.
    static VXCrashReporterBundle mainBundle();
    static void setMainBundle(const VXCrashReporterBundle &bundle);
};

class VXCrashReporter {
public:
    static std::shared_ptr<VXCrashReporter> sharedReporter();

    // The main bundle with the default configuration.
    VXCrashReporter();
    explicit VXCrashReporter(std::shared_ptr<VXCrashReporterConfig> configuration);
    // Throws VXCrashReporterException when neither the bundle nor the process
    // has a name.
    VXCrashReporter(const VXCrashReporterBundle &bundle, std::shared_ptr<VXCrashReporterConfig> configuration);
    VXCrashReporter(std::string applicationIdentifier, std::string appVersion,
                    std::optional<std::string> appMarketingVersion,
                    std::shared_ptr<VXCrashReporterConfig> configuration);

    const std::string &crashReportDirectory() const { return m_crashReportDirectory; }
    std::string queuedCrashReportDirectory() const;
    std::string crashReportPath() const;

    bool hasPendingCrashReport() const;
    std::optional<std::vector<uint8_t>> loadPendingCrashReportData(VXCrashReporterError *error = nullptr) const;
    bool purgePendingCrashReport(VXCrashReporterError *error = nullptr);

    // Once per process: a second enable, of any reporter, fails with
    // VXCrashReporterErrorResourceBusy and installs nothing, also when the
    // first one failed (its directories could not be made).
    bool enableCrashReporter(VXCrashReporterError *error = nullptr);
    bool isEnabled() const { return m_enabled; }

    // Copies the callbacks (nullptr clears them). Throws on an enabled
    // reporter; a version other than 0 is refused with an error.
    bool setCrashCallbacks(const VXCrashReporterCallbacks *callbacks, VXCrashReporterError *error = nullptr);

    const std::optional<std::vector<uint8_t>> &customData() const { return m_customData; }
    // Reaches the next report at once when the reporter is enabled.
    void setCustomData(std::optional<std::vector<uint8_t>> data);

    // A report of the calling thread (SIGTRAP, TRAP_TRACE, the caller's
    // address), or of another thread of the process by its thread id.
    std::optional<std::vector<uint8_t>> generateLiveReport(VXCrashReporterError *error = nullptr);
    std::optional<std::vector<uint8_t>> generateLiveReportWithThread(pid_t thread,
                                                                     VXCrashReporterError *error = nullptr);

    const std::string &applicationIdentifier() const { return m_applicationIdentifier; }
    const std::string &applicationVersion() const { return m_applicationVersion; }
    const std::optional<std::string> &applicationMarketingVersion() const { return m_applicationMarketingVersion; }
    const std::shared_ptr<VXCrashReporterConfig> &configuration() const { return m_configuration; }

private:
    std::optional<std::vector<uint8_t>> liveReport(pid_t thread, uint64_t callerAddress, VXCrashReporterError *error);

    std::shared_ptr<VXCrashReporterConfig> m_configuration;
    bool m_enabled = false;
    std::string m_applicationIdentifier;
    std::string m_applicationVersion;
    std::optional<std::string> m_applicationMarketingVersion;
    std::string m_crashReportDirectory;
    std::string m_temporaryDirectory;
    std::optional<std::vector<uint8_t>> m_customData;
};

// Where the crash directory lives by default (see above).
std::string vxcrash_user_state_directory();
// Where it lived before: $VEXIL_HOME/.cache, else $XDG_CACHE_HOME, else ~/.cache.
std::string vxcrash_user_cache_directory();
// Moves the pending and queued reports of the old crash directory to the new
// one, never replacing a file there; removes the old directory once empty.
void vxcrash_adopt_legacy_reports(const std::string &legacyDirectory, const std::string &directory);
