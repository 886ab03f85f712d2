#include "Vendor/VXCrashReporter/Source/VXCrashReporterError.h"

#include <cstring>

const char *const VXCrashReporterErrorDomain = "VXCrashReporterErrorDomain";
const char *const VXCrashReporterPOSIXErrorDomain = "NSPOSIXErrorDomain";

void vxcrash_set_error(VXCrashReporterError *error, const char *domain, int code, const std::string &description) {
    if (error == nullptr) return;
    error->domain = domain;
    error->code = code;
    error->localizedDescription = description;
}

void vxcrash_set_reporter_error(VXCrashReporterError *error, VXCrashReporterErrorCode code,
                                const std::string &description) {
    vxcrash_set_error(error, VXCrashReporterErrorDomain, code, description);
}

void vxcrash_set_posix_error(VXCrashReporterError *error, int errnum, const std::string &what) {
    char buffer[256];
    // GNU strerror_r: returns the text, which may or may not be in buffer.
    const char *text = strerror_r(errnum, buffer, sizeof(buffer));
    vxcrash_set_error(error, VXCrashReporterPOSIXErrorDomain, errnum, what + ": " + text);
}
