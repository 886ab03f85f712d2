#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Util/DAVErrorLogFormatter.h"

#include <cinttypes>
#include <set>

#include "DerAvedur/DerAvedur/Shared/Context/DAVDeviceTracker.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVDerAvedurUserDefaults.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Text.h"
#include "Vendor/VXCrashReporter/Source/VXCrashReport.h"

namespace {

constexpr std::uint64_t kCpuTypeX86 = 7;
constexpr std::uint64_t kCpuTypeArm = 12;
constexpr std::uint64_t kCpuTypePowerPC = 18;
constexpr std::uint64_t kCpuArch64 = 0x1000000;

std::optional<Foundation::Date> toDate(const std::optional<VXCrashReportDate>& date) {
    if (!date) return std::nullopt;
    const auto since = std::chrono::duration<double>(date->time_since_epoch());
    return Foundation::Date{since.count()};
}

std::string uuidText(const VXCrashReport::UUID& bytes) {
    std::string hex = Foundation::uppercase(Foundation::hexString(Foundation::Data(bytes.begin(), bytes.end())));
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
           hex.substr(20, 12);
}

std::shared_ptr<const VXCrashReportProcessorInfo> processorOf(const VXCrashReport& report) {
    if (report.hasMachineInfo() && report.machineInfo()->processorInfo()) return report.machineInfo()->processorInfo();
    return report.systemInfo()->processorInfo();
}

std::shared_ptr<const VXCrashReportThreadInfo> crashedThread(const VXCrashReport& report) {
    for (const auto& thread : report.threads())
        if (thread->crashed()) return thread;
    return nullptr;
}

std::vector<std::shared_ptr<DAVStackFrame>> framesOf(const VXCrashReportStackFrames& frames) {
    std::vector<std::shared_ptr<DAVStackFrame>> result;
    for (const auto& info : frames) {
        auto frame = std::make_shared<DAVStackFrame>();
        frame->address = DAVErrorLogFormatter::addressText(info->instructionPointer());
        if (info->symbolInfo()) frame->code = info->symbolInfo()->symbolName();
        result.push_back(std::move(frame));
    }
    return result;
}

std::string lastPathComponent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::shared_ptr<DAVBinary> binaryOf(const VXCrashReportBinaryImageInfo& image,
                                    const std::shared_ptr<const VXCrashReportProcessorInfo>& fallbackProcessor) {
    auto binary = std::make_shared<DAVBinary>();
    binary->binaryId = image.imageUUID();
    binary->startAddress = DAVErrorLogFormatter::addressText(image.imageBaseAddress());
    const std::uint64_t size = image.imageSize();
    binary->endAddress = DAVErrorLogFormatter::addressText(image.imageBaseAddress() + (size > 0 ? size - 1 : 0));
    binary->name = lastPathComponent(image.imageName());
    binary->path = image.imageName();
    const auto& processor = image.codeType() ? image.codeType() : fallbackProcessor;
    if (processor && processor->typeEncoding() == VXCrashReportProcessorTypeEncodingMach) {
        binary->architecture = DAVErrorLogFormatter::architectureName(processor->type(), processor->subtype());
        binary->primaryArchitectureId = static_cast<std::int64_t>(processor->type());
        binary->architectureVariantId = static_cast<std::int64_t>(processor->subtype());
    }
    return binary;
}

}  // namespace

std::string DAVErrorLogFormatter::addressText(std::uint64_t address) {
    return Foundation::format("0x%016" PRIx64, address);
}

std::optional<std::string> DAVErrorLogFormatter::architectureName(std::uint64_t cpuType, std::uint64_t cpuSubtype) {
    switch (cpuType) {
        case kCpuTypeX86:
            return std::string("i386");
        case kCpuTypeX86 | kCpuArch64:
            return std::string(cpuSubtype == 8 ? "x86_64h" : "x86_64");
        case kCpuTypeArm:
            switch (cpuSubtype) {
                case 6:
                    return std::string("armv6");
                case 9:
                    return std::string("armv7");
                case 11:
                    return std::string("armv7s");
                default:
                    return std::string("arm");
            }
        case kCpuTypeArm | kCpuArch64:
            return std::string(cpuSubtype == 2 ? "arm64e" : "arm64");
        case kCpuTypePowerPC:
            return std::string("ppc");
        case kCpuTypePowerPC | kCpuArch64:
            return std::string("ppc64");
        default:
            return std::nullopt;
    }
}

std::optional<std::string> DAVErrorLogFormatter::reporterKey() {
    Foundation::Value installId = DAVDerAvedurUserDefaults::shared().objectForKey("InstallId");
    if (installId.isString()) return installId.asString();
    return std::nullopt;
}

std::string DAVErrorLogFormatter::errorIdForCrashReport(const VXCrashReport& report) {
    if (report.uuidRef()) return uuidText(*report.uuidRef());
    // No UUID in the report: hash what identifies this crash into a version 4
    // form, so the log and the report of the same bytes agree.
    std::string identity = report.signalInfo()->name() + "|" + report.signalInfo()->code() + "|" +
                           addressText(report.signalInfo()->address());
    if (auto time = toDate(report.systemInfo()->timestamp()))
        identity += Foundation::format("|%.6f", time->secondsSince1970);
    if (report.hasProcessInfo()) {
        identity += Foundation::format("|%" PRIu64, report.processInfo()->processID());
        if (auto start = toDate(report.processInfo()->processStartTime()))
            identity += Foundation::format("|%.6f", start->secondsSince1970);
    }
    if (auto thread = crashedThread(report); thread && !thread->stackFrames().empty())
        identity += "|" + addressText(thread->stackFrames().front()->instructionPointer());
    Foundation::Data digest = Foundation::sha256(identity);
    VXCrashReport::UUID bytes{};
    std::copy(digest.begin(), digest.begin() + 16, bytes.begin());
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3f) | 0x80);
    return uuidText(bytes);
}

std::shared_ptr<DAVAppleErrorLog> DAVErrorLogFormatter::errorLogFromCrashReport(const VXCrashReport& report) {
    auto log = std::make_shared<DAVAppleErrorLog>();
    log->errorId = errorIdForCrashReport(report);
    log->fatal = true;

    const auto crashTime = toDate(report.systemInfo()->timestamp());
    log->setTimestamp(crashTime ? *crashTime : Foundation::Date{Foundation::clock().now()});
    log->setDevice(DAVDeviceTracker::sharedInstance()->deviceForTimestamp(log->timestamp()));

    if (report.hasProcessInfo()) {
        const auto& process = *report.processInfo();
        log->processId = static_cast<std::int64_t>(process.processID());
        log->processName = process.processName();
        log->parentProcessId = static_cast<std::int64_t>(process.parentProcessID());
        log->parentProcessName = process.parentProcessName();
        log->applicationPath = process.processPath();
        log->appLaunchTimestamp = toDate(process.processStartTime());
    }
    // A report without process information still names the application.
    if (!log->processName) log->processName = report.applicationInfo()->applicationIdentifier();
    if (!log->processId) log->processId = 0;
    if (!log->applicationPath) log->applicationPath = log->processName;

    if (auto processor = processorOf(report);
        processor && processor->typeEncoding() == VXCrashReportProcessorTypeEncodingMach) {
        log->primaryArchitectureId = static_cast<std::int64_t>(processor->type());
        log->architectureVariantId = static_cast<std::int64_t>(processor->subtype());
        log->architecture = architectureName(processor->type(), processor->subtype());
    }

    const auto& signal = *report.signalInfo();
    log->osExceptionType = signal.name();
    log->osExceptionCode = signal.code();
    log->osExceptionAddress = addressText(signal.address());

    // Images that hold a frame of some thread or of the exception.
    std::set<const VXCrashReportBinaryImageInfo*> used;
    auto noteImages = [&](const VXCrashReportStackFrames& frames) {
        for (const auto& frame : frames)
            if (auto image = report.imageForAddress(frame->instructionPointer())) used.insert(image.get());
    };

    std::vector<std::shared_ptr<DAVThread>> threads;
    for (const auto& info : report.threads()) {
        noteImages(info->stackFrames());
        // A thread that could not be walked has nothing to show.
        if (info->stackFrames().empty()) continue;
        auto thread = std::make_shared<DAVThread>();
        thread->threadId = info->threadNumber();
        thread->frames = framesOf(info->stackFrames());
        threads.push_back(std::move(thread));
    }
    log->threads = std::move(threads);

    if (auto crashed = crashedThread(report)) {
        log->errorThreadId = crashed->threadNumber();
        Foundation::Dictionary registers;
        for (const auto& reg : crashed->registers())
            registers.set(reg->registerName(), Foundation::Value(addressText(reg->registerValue())));
        log->registers = std::move(registers);
    }

    if (report.hasExceptionInfo()) {
        const auto& info = *report.exceptionInfo();
        log->exceptionType = info.exceptionName();
        log->exceptionReason = info.exceptionReason();
        if (info.stackFrames() && !info.stackFrames()->empty()) {
            noteImages(*info.stackFrames());
            auto exception = std::make_shared<DAVException>();
            exception->type = info.exceptionName();
            exception->message = info.exceptionReason();
            exception->frames = framesOf(*info.stackFrames());
            log->exception = std::move(exception);
        }
    }

    // Images without a build id cannot be matched to symbols and are left out.
    std::vector<std::shared_ptr<DAVBinary>> binaries;
    for (const auto& image : report.images())
        if (used.count(image.get()) && image->hasImageUUID()) binaries.push_back(binaryOf(*image, processorOf(report)));
    log->binaries = std::move(binaries);
    return log;
}

std::shared_ptr<DAVErrorReport> DAVErrorLogFormatter::errorReportFromCrashReport(const VXCrashReport& report) {
    const auto crashTime = toDate(report.systemInfo()->timestamp());
    std::optional<Foundation::Date> startTime;
    std::uint64_t processId = 0;
    if (report.hasProcessInfo()) {
        startTime = toDate(report.processInfo()->processStartTime());
        processId = report.processInfo()->processID();
    }
    std::optional<std::string> exceptionName, exceptionReason;
    if (report.hasExceptionInfo()) {
        exceptionName = report.exceptionInfo()->exceptionName();
        exceptionReason = report.exceptionInfo()->exceptionReason();
    }
    return std::make_shared<DAVErrorReport>(
        errorIdForCrashReport(report), reporterKey(), report.signalInfo()->name(), exceptionName, exceptionReason,
        startTime, crashTime, DAVDeviceTracker::sharedInstance()->deviceForTimestamp(crashTime), processId);
}

std::shared_ptr<DAVErrorReport> DAVErrorLogFormatter::errorReportFromLog(const DAVAppleErrorLog& log) {
    return std::make_shared<DAVErrorReport>(log.errorId, reporterKey(), log.osExceptionType, log.exceptionType,
                                            log.exceptionReason, log.appLaunchTimestamp, log.timestamp(), log.device(),
                                            static_cast<std::uint64_t>(log.processId.value_or(0)));
}
