// Errors the crash reporter hands to its callers: a domain, a small code and a
// description, like the rest of the system's error values but without any
// dependency outside the crash reporter.
#pragma once

#include <string>

// The crash reporter's own errors.
extern const char *const VXCrashReporterErrorDomain;  // "VXCrashReporterErrorDomain"
// Errors of system calls (file creation, reads); the code is errno.
extern const char *const VXCrashReporterPOSIXErrorDomain;  // "NSPOSIXErrorDomain"

enum VXCrashReporterErrorCode : int {
    VXCrashReporterErrorUnknown = 0,
    VXCrashReporterErrorOperatingSystem = 1,
    VXCrashReporterErrorCrashReportInvalid = 2,
    VXCrashReporterErrorResourceBusy = 3,
};

struct VXCrashReporterError {
    std::string domain;
    int code = 0;
    std::string localizedDescription;
};

// Stores an error when the caller asked for one (error may be nullptr).
void vxcrash_set_error(VXCrashReporterError *error, const char *domain, int code, const std::string &description);
// An error of the crash reporter's domain.
void vxcrash_set_reporter_error(VXCrashReporterError *error, VXCrashReporterErrorCode code,
                                const std::string &description);
// A POSIX error: what was attempted, then strerror(errnum).
void vxcrash_set_posix_error(VXCrashReporterError *error, int errnum, const std::string &what);
