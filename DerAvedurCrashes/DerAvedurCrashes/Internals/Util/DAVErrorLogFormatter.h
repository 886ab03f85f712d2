#pragma once
// Turns a decoded crash report into the error log that is sent and the error
// report the application sees. Both carry the same incident identifier: the
// report's own UUID, or, for a report without one, an id derived from what
// the report says, so that decoding the same bytes twice gives the same id.

#include <memory>
#include <optional>
#include <string>

#include "DerAvedurCrashes/DerAvedurCrashes/DAVErrorReport.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVAppleErrorLog.h"

class VXCrashReport;

class DAVErrorLogFormatter {
public:
    static std::shared_ptr<DAVAppleErrorLog> errorLogFromCrashReport(const VXCrashReport& report);
    static std::shared_ptr<DAVErrorReport> errorReportFromCrashReport(const VXCrashReport& report);
    static std::shared_ptr<DAVErrorReport> errorReportFromLog(const DAVAppleErrorLog& log);

    static std::string errorIdForCrashReport(const VXCrashReport& report);
    // "0x" and 16 lower-case hex digits.
    static std::string addressText(std::uint64_t address);
    // "x86_64", "arm64" and the like for Mach CPU numbers; nothing when unknown.
    static std::optional<std::string> architectureName(std::uint64_t cpuType, std::uint64_t cpuSubtype);
    // The install id the SDK keeps, which names this installation's reports.
    static std::optional<std::string> reporterKey();
};
