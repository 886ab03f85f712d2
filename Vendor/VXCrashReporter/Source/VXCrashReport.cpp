#include "Vendor/VXCrashReporter/Source/VXCrashReport.h"

#include "Vendor/VXCrashReporter/Source/VXCrashReport.pb-c.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace {

constexpr size_t kHeaderLength = 8;
constexpr uint8_t kSupportedVersion = 1;
constexpr size_t kMaxMachExceptionCodes = 255;

constexpr uint64_t kCpuTypeX86 = 7;
constexpr uint64_t kCpuTypeX86_64 = 0x1000007;
constexpr uint64_t kCpuTypeARM = 12;
constexpr uint64_t kCpuTypePowerPC = 18;
constexpr uint64_t kCpuTypePowerPC64 = 0x1000012;
constexpr uint64_t kCpuTypeARM64 = 0x100000C;
constexpr uint64_t kCpuSubtypeARM64E = 2;
// Pointer-authentication signatures live above the low 36 bits.
constexpr uint64_t kPointerAuthenticationMask = 0xFFFFFFFFFull;

// The messages go through the string table as the application ships it;
// there is no translation table, so a key stands for itself.
std::string localized(const char *key) { return key; }

// Sets a code-2 error with a localised message.
void invalid(VXCrashReporterError *error, const char *message) {
    vxcrash_set_reporter_error(error, VXCrashReporterErrorCrashReportInvalid, localized(message));
}

// The same, for the few messages that are used as they stand.
void invalidVerbatim(VXCrashReporterError *error, const char *message) {
    vxcrash_set_reporter_error(error, VXCrashReporterErrorCrashReportInvalid, message);
}

std::optional<std::string> optionalText(const char *text) {
    if (text == nullptr) return std::nullopt;
    return std::string(text);
}

VXCrashReportDate dateFromSeconds(int64_t seconds) { return VXCrashReportDate(std::chrono::seconds(seconds)); }

std::vector<uint8_t> bytesOf(const ProtobufCBinaryData &data) {
    if (data.len == 0) return {};
    return std::vector<uint8_t>(data.data, data.data + data.len);
}

std::string hex(const uint8_t *bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0f]);
    }
    return text;
}

}  // namespace

// --- info classes ---------------------------------------------------------------

VXCrashReportProcessorInfo::VXCrashReportProcessorInfo(VXCrashReportProcessorTypeEncoding typeEncoding, uint64_t type,
                                                       uint64_t subtype)
    : m_typeEncoding(typeEncoding), m_type(type), m_subtype(subtype) {}

VXCrashReportSystemInfo::VXCrashReportSystemInfo(VXCrashReportOperatingSystem operatingSystem,
                                                 std::string operatingSystemVersion,
                                                 std::optional<std::string> operatingSystemBuild,
                                                 VXCrashReportArchitecture architecture,
                                                 std::shared_ptr<const VXCrashReportProcessorInfo> processorInfo,
                                                 std::optional<VXCrashReportDate> timestamp)
    : m_operatingSystem(operatingSystem),
      m_operatingSystemVersion(std::move(operatingSystemVersion)),
      m_operatingSystemBuild(std::move(operatingSystemBuild)),
      m_architecture(architecture),
      m_processorInfo(std::move(processorInfo)),
      m_timestamp(timestamp) {}

VXCrashReportSystemInfo::VXCrashReportSystemInfo(VXCrashReportOperatingSystem operatingSystem,
                                                 std::string operatingSystemVersion,
                                                 VXCrashReportArchitecture architecture,
                                                 std::optional<VXCrashReportDate> timestamp)
    : VXCrashReportSystemInfo(operatingSystem, std::move(operatingSystemVersion), std::nullopt, architecture, nullptr,
                              timestamp) {}

VXCrashReportSystemInfo::VXCrashReportSystemInfo(VXCrashReportOperatingSystem operatingSystem,
                                                 std::string operatingSystemVersion,
                                                 std::optional<std::string> operatingSystemBuild,
                                                 VXCrashReportArchitecture architecture,
                                                 std::optional<VXCrashReportDate> timestamp)
    : VXCrashReportSystemInfo(operatingSystem, std::move(operatingSystemVersion), std::move(operatingSystemBuild),
                              architecture, nullptr, timestamp) {}

VXCrashReportApplicationInfo::VXCrashReportApplicationInfo(std::string applicationIdentifier,
                                                           std::string applicationVersion,
                                                           std::optional<std::string> applicationMarketingVersion)
    : m_applicationIdentifier(std::move(applicationIdentifier)),
      m_applicationVersion(std::move(applicationVersion)),
      m_applicationMarketingVersion(std::move(applicationMarketingVersion)) {}

VXCrashReportMachineInfo::VXCrashReportMachineInfo(std::optional<std::string> modelName,
                                                   std::shared_ptr<const VXCrashReportProcessorInfo> processorInfo,
                                                   uint64_t processorCount, uint64_t logicalProcessorCount)
    : m_modelName(std::move(modelName)),
      m_processorInfo(std::move(processorInfo)),
      m_processorCount(processorCount),
      m_logicalProcessorCount(logicalProcessorCount) {}

VXCrashReportProcessInfo::VXCrashReportProcessInfo(std::optional<std::string> processName, uint64_t processID,
                                                   std::optional<std::string> processPath,
                                                   std::optional<VXCrashReportDate> processStartTime,
                                                   std::optional<std::string> parentProcessName,
                                                   uint64_t parentProcessID, bool native)
    : m_processName(std::move(processName)),
      m_processID(processID),
      m_processPath(std::move(processPath)),
      m_processStartTime(processStartTime),
      m_parentProcessName(std::move(parentProcessName)),
      m_parentProcessID(parentProcessID),
      m_native(native) {}

VXCrashReportSignalInfo::VXCrashReportSignalInfo(std::string name, std::string code, uint64_t address)
    : m_name(std::move(name)), m_code(std::move(code)), m_address(address) {}

VXCrashReportMachExceptionInfo::VXCrashReportMachExceptionInfo(uint64_t type, std::vector<uint64_t> codes)
    : m_type(type), m_codes(std::move(codes)) {}

VXCrashReportSymbolInfo::VXCrashReportSymbolInfo(std::string symbolName, uint64_t startAddress, uint64_t endAddress)
    : m_symbolName(std::move(symbolName)), m_startAddress(startAddress), m_endAddress(endAddress) {}

VXCrashReportStackFrameInfo::VXCrashReportStackFrameInfo(uint64_t instructionPointer,
                                                         std::shared_ptr<const VXCrashReportSymbolInfo> symbolInfo)
    : m_instructionPointer(instructionPointer), m_symbolInfo(std::move(symbolInfo)) {}

VXCrashReportRegisterInfo::VXCrashReportRegisterInfo(std::string registerName, uint64_t registerValue)
    : m_registerName(std::move(registerName)), m_registerValue(registerValue) {}

VXCrashReportThreadInfo::VXCrashReportThreadInfo(
    int64_t threadNumber, VXCrashReportStackFrames stackFrames, bool crashed,
    std::vector<std::shared_ptr<const VXCrashReportRegisterInfo>> registers, bool framesTruncated)
    : m_threadNumber(threadNumber),
      m_stackFrames(std::move(stackFrames)),
      m_crashed(crashed),
      m_registers(std::move(registers)),
      m_framesTruncated(framesTruncated) {}

VXCrashReportExceptionInfo::VXCrashReportExceptionInfo(std::string exceptionName, std::string exceptionReason,
                                                       std::optional<VXCrashReportStackFrames> stackFrames)
    : m_exceptionName(std::move(exceptionName)),
      m_exceptionReason(std::move(exceptionReason)),
      m_stackFrames(std::move(stackFrames)) {}

VXCrashReportExceptionInfo::VXCrashReportExceptionInfo(std::string exceptionName, std::string exceptionReason)
    : VXCrashReportExceptionInfo(std::move(exceptionName), std::move(exceptionReason), std::nullopt) {}

VXCrashReportBinaryImageInfo::VXCrashReportBinaryImageInfo(std::shared_ptr<const VXCrashReportProcessorInfo> codeType,
                                                           uint64_t imageBaseAddress, uint64_t imageSize,
                                                           std::string imageName,
                                                           std::optional<std::vector<uint8_t>> imageUUID)
    : m_codeType(std::move(codeType)),
      m_imageBaseAddress(imageBaseAddress),
      m_imageSize(imageSize),
      m_imageName(std::move(imageName)) {
    if (imageUUID) m_imageUUID = hex(imageUUID->data(), imageUUID->size());
}

// --- the report -------------------------------------------------------------------

VXCrashReport::~VXCrashReport() {
    if (m_decoded != nullptr) vxcrash__crash_report__free_unpacked(m_decoded, nullptr);
}

std::shared_ptr<VXCrashReport> VXCrashReport::initWithData(const std::vector<uint8_t> &data,
                                                           VXCrashReporterError *error) {
    return initWithData(data.data(), data.size(), error);
}

std::shared_ptr<VXCrashReport> VXCrashReport::initWithData(const uint8_t *bytes, size_t length,
                                                           VXCrashReporterError *error) {
    std::shared_ptr<VXCrashReport> report(new VXCrashReport());
    if (!report->decodeCrashData(bytes, length, error)) return nullptr;
    const Vxcrash__CrashReport *decoded = report->m_decoded;

    if (decoded->report_info != nullptr && decoded->report_info->has_uuid) {
        if (decoded->report_info->uuid.len != 16) {
            invalidVerbatim(error, "Report UUID value is not a standard 16 bytes");
            return nullptr;
        }
        UUID uuid;
        memcpy(uuid.data(), decoded->report_info->uuid.data, uuid.size());
        report->m_uuid = uuid;
    }

    // Machine info first: the system info takes its processor.
    if (decoded->machine_info != nullptr) {
        report->m_machineInfo = report->extractMachineInfo(decoded->machine_info, error);
        if (!report->m_machineInfo) return nullptr;
    }

    report->m_systemInfo = report->extractSystemInfo(
        decoded->system_info, report->m_machineInfo ? report->m_machineInfo->processorInfo() : nullptr, error);
    if (!report->m_systemInfo) return nullptr;

    report->m_applicationInfo = report->extractApplicationInfo(decoded->application_info, error);
    if (!report->m_applicationInfo) return nullptr;

    if (decoded->process_info != nullptr) {
        report->m_processInfo = report->extractProcessInfo(decoded->process_info, error);
        if (!report->m_processInfo) return nullptr;
    }

    report->m_signalInfo = report->extractSignalInfo(decoded->signal, error);
    if (!report->m_signalInfo) return nullptr;
    if (decoded->signal->mach_exception != nullptr) {
        report->m_machExceptionInfo = report->extractMachExceptionInfo(decoded->signal->mach_exception, error);
        if (!report->m_machExceptionInfo) return nullptr;
    }

    if (decoded->n_threads == 0) {
        invalid(error, "Crash report is missing thread state information");
        return nullptr;
    }
    for (size_t i = 0; i < decoded->n_threads; ++i) {
        auto thread = report->extractThreadInfo(decoded->threads[i], error);
        if (!thread) return nullptr;
        report->m_threads.push_back(std::move(thread));
    }

    if (decoded->n_binary_images == 0) {
        invalid(error, "Crash report is missing binary image information");
        return nullptr;
    }
    for (size_t i = 0; i < decoded->n_binary_images; ++i) {
        auto image = report->extractImageInfo(decoded->binary_images[i], error);
        if (!image) return nullptr;
        report->m_images.push_back(std::move(image));
    }

    if (decoded->exception != nullptr) {
        report->m_exceptionInfo = report->extractExceptionInfo(decoded->exception, error);
        if (!report->m_exceptionInfo) return nullptr;
    }

    if (decoded->has_custom_data) {
        report->m_customData = bytesOf(decoded->custom_data);
    }
    return report;
}

std::shared_ptr<const VXCrashReportBinaryImageInfo> VXCrashReport::imageForAddress(uint64_t address) const {
    for (const auto &image : m_images) {
        uint64_t base = image->imageBaseAddress();
        if (base <= address && address - base < image->imageSize()) return image;
    }
    return nullptr;
}

bool VXCrashReport::decodeCrashData(const uint8_t *bytes, size_t length, VXCrashReporterError *error) {
    if (bytes == nullptr || length <= kHeaderLength) {
        invalid(error, "Could not decode truncated crash log");
        return false;
    }
    if (memcmp(bytes, "vxcrash", 7) != 0) {
        invalid(error, "Could not decode invalid crash log header");
        return false;
    }
    if (bytes[7] != kSupportedVersion) {
        char message[96];
        snprintf(message, sizeof(message), localized("Could not decode unsupported crash report version: %d").c_str(),
                 (int)bytes[7]);
        vxcrash_set_reporter_error(error, VXCrashReporterErrorCrashReportInvalid, message);
        return false;
    }
    m_decoded = vxcrash__crash_report__unpack(nullptr, length - kHeaderLength, bytes + kHeaderLength);
    if (m_decoded == nullptr) {
        invalid(error, "An unknown error occured decoding the crash report");
        return false;
    }
    return true;
}

std::shared_ptr<const VXCrashReportProcessorInfo> VXCrashReport::extractProcessorInfo(
    const Vxcrash__CrashReport__Processor *processor, VXCrashReporterError *error) {
    if (processor == nullptr) {
        invalid(error, "Crash report is missing processor info section");
        return nullptr;
    }
    return std::make_shared<VXCrashReportProcessorInfo>((VXCrashReportProcessorTypeEncoding)processor->encoding,
                                                        processor->type, processor->subtype);
}

std::shared_ptr<const VXCrashReportProcessorInfo> VXCrashReport::synthesizeProcessorInfoFromArchitecture(
    const Vxcrash__CrashReport__SystemInfo *systemInfo, VXCrashReporterError *error) {
    uint64_t type, subtype;
    switch (systemInfo->architecture) {
        case VXCRASH__ARCHITECTURE__X86_32:
            type = kCpuTypeX86, subtype = 3;
            break;
        case VXCRASH__ARCHITECTURE__X86_64:
            type = kCpuTypeX86_64, subtype = 3;
            break;
        case VXCRASH__ARCHITECTURE__ARMV6:
            type = kCpuTypeARM, subtype = 6;
            break;
        case VXCRASH__ARCHITECTURE__PPC:
            type = kCpuTypePowerPC, subtype = 0;
            break;
        case VXCRASH__ARCHITECTURE__PPC64:
            type = kCpuTypePowerPC64, subtype = 0;
            break;
        case VXCRASH__ARCHITECTURE__ARMV7:
            type = kCpuTypeARM, subtype = 9;
            break;
        default:
            invalid(error, "Crash report has an unknown architecture");
            return nullptr;
    }
    return std::make_shared<VXCrashReportProcessorInfo>(VXCrashReportProcessorTypeEncodingMach, type, subtype);
}

std::shared_ptr<const VXCrashReportSystemInfo> VXCrashReport::extractSystemInfo(
    const Vxcrash__CrashReport__SystemInfo *systemInfo, std::shared_ptr<const VXCrashReportProcessorInfo> processorInfo,
    VXCrashReporterError *error) {
    if (systemInfo == nullptr) {
        invalid(error, "Crash report is missing System Information section");
        return nullptr;
    }
    if (systemInfo->os_version == nullptr) {
        invalid(error, "Crash report is missing System Information OS version field");
        return nullptr;
    }
    if (!processorInfo) {
        processorInfo = synthesizeProcessorInfoFromArchitecture(systemInfo, error);
        if (!processorInfo) return nullptr;
    }
    std::optional<VXCrashReportDate> timestamp;
    if (systemInfo->timestamp != 0) timestamp = dateFromSeconds(systemInfo->timestamp);
    return std::make_shared<VXCrashReportSystemInfo>((VXCrashReportOperatingSystem)systemInfo->operating_system,
                                                     systemInfo->os_version, optionalText(systemInfo->os_build),
                                                     (VXCrashReportArchitecture)systemInfo->architecture,
                                                     std::move(processorInfo), timestamp);
}

std::shared_ptr<const VXCrashReportMachineInfo> VXCrashReport::extractMachineInfo(
    const Vxcrash__CrashReport__MachineInfo *machineInfo, VXCrashReporterError *error) {
    if (machineInfo == nullptr) {
        invalid(error, "Crash report is missing Machine Information section");
        return nullptr;
    }
    std::shared_ptr<const VXCrashReportProcessorInfo> processor;
    if (machineInfo->processor != nullptr) {
        processor = extractProcessorInfo(machineInfo->processor, error);
        if (!processor) return nullptr;
    }
    return std::make_shared<VXCrashReportMachineInfo>(optionalText(machineInfo->model), std::move(processor),
                                                      machineInfo->processor_count,
                                                      machineInfo->logical_processor_count);
}

std::shared_ptr<const VXCrashReportApplicationInfo> VXCrashReport::extractApplicationInfo(
    const Vxcrash__CrashReport__ApplicationInfo *applicationInfo, VXCrashReporterError *error) {
    if (applicationInfo == nullptr) {
        invalid(error, "Crash report is missing Application Information section");
        return nullptr;
    }
    if (applicationInfo->identifier == nullptr) {
        invalid(error, "Crash report is missing Application Information app identifier field");
        return nullptr;
    }
    if (applicationInfo->version == nullptr) {
        invalid(error, "Crash report is missing Application Information app version field");
        return nullptr;
    }
    return std::make_shared<VXCrashReportApplicationInfo>(applicationInfo->identifier, applicationInfo->version,
                                                          optionalText(applicationInfo->marketing_version));
}

std::shared_ptr<const VXCrashReportProcessInfo> VXCrashReport::extractProcessInfo(
    const Vxcrash__CrashReport__ProcessInfo *processInfo, VXCrashReporterError *error) {
    if (processInfo == nullptr) {
        invalid(error, "Crash report is missing Process Information section");
        return nullptr;
    }
    std::optional<VXCrashReportDate> startTime;
    if (processInfo->has_start_time) startTime = dateFromSeconds((int64_t)processInfo->start_time);
    return std::make_shared<VXCrashReportProcessInfo>(optionalText(processInfo->process_name), processInfo->process_id,
                                                      optionalText(processInfo->process_path), startTime,
                                                      optionalText(processInfo->parent_process_name),
                                                      processInfo->parent_process_id, processInfo->native != 0);
}

std::shared_ptr<const VXCrashReportSymbolInfo> VXCrashReport::extractSymbolInfo(
    const Vxcrash__CrashReport__Symbol *symbol, VXCrashReporterError *error) {
    if (symbol == nullptr) {
        invalid(error, "Crash report is missing symbol information");
        return nullptr;
    }
    return std::make_shared<VXCrashReportSymbolInfo>(symbol->name != nullptr ? symbol->name : "", symbol->start_address,
                                                     symbol->has_end_address ? symbol->end_address : 0);
}

std::shared_ptr<const VXCrashReportStackFrameInfo> VXCrashReport::extractStackFrameInfo(
    const Vxcrash__CrashReport__Thread__StackFrame *frame, VXCrashReporterError *error) {
    if (frame == nullptr) {
        invalid(error, "Crash report is missing stack frame information");
        return nullptr;
    }
    std::shared_ptr<const VXCrashReportSymbolInfo> symbol;
    if (frame->symbol != nullptr) {
        symbol = extractSymbolInfo(frame->symbol, error);
        if (!symbol) return nullptr;
    }
    // Only the machine record says whether pointers carry signatures; the
    // processor made up from the architecture never does.
    uint64_t pc = frame->pc;
    if (m_machineInfo && m_machineInfo->processorInfo()) {
        const auto &processor = *m_machineInfo->processorInfo();
        if (processor.type() == kCpuTypeARM64 && processor.subtype() == kCpuSubtypeARM64E)
            pc &= kPointerAuthenticationMask;
    }
    return std::make_shared<VXCrashReportStackFrameInfo>(pc, std::move(symbol));
}

std::shared_ptr<const VXCrashReportThreadInfo> VXCrashReport::extractThreadInfo(
    const Vxcrash__CrashReport__Thread *thread, VXCrashReporterError *error) {
    VXCrashReportStackFrames frames;
    frames.reserve(thread->n_frames);
    for (size_t i = 0; i < thread->n_frames; ++i) {
        auto frame = extractStackFrameInfo(thread->frames[i], error);
        if (!frame) return nullptr;
        frames.push_back(std::move(frame));
    }
    std::vector<std::shared_ptr<const VXCrashReportRegisterInfo>> registers;
    registers.reserve(thread->n_registers);
    for (size_t i = 0; i < thread->n_registers; ++i) {
        const Vxcrash__CrashReport__Thread__RegisterValue *value = thread->registers[i];
        if (value == nullptr || value->name == nullptr) {
            invalidVerbatim(error, "Missing register name in register value");
            return nullptr;
        }
        registers.push_back(std::make_shared<VXCrashReportRegisterInfo>(value->name, value->value));
    }
    return std::make_shared<VXCrashReportThreadInfo>((int64_t)thread->thread_number, std::move(frames),
                                                     thread->crashed != 0, std::move(registers),
                                                     thread->has_frames_truncated && thread->frames_truncated != 0);
}

std::shared_ptr<const VXCrashReportBinaryImageInfo> VXCrashReport::extractImageInfo(
    const Vxcrash__CrashReport__BinaryImage *image, VXCrashReporterError *error) {
    if (image->name == nullptr) {
        invalidVerbatim(error, "Missing image name in image record");
        return nullptr;
    }
    std::shared_ptr<const VXCrashReportProcessorInfo> codeType;
    if (image->code_type != nullptr) {
        codeType = extractProcessorInfo(image->code_type, error);
        if (!codeType) return nullptr;
    }
    std::optional<std::vector<uint8_t>> uuid;
    if (image->has_uuid) uuid = bytesOf(image->uuid);
    return std::make_shared<VXCrashReportBinaryImageInfo>(std::move(codeType), image->base_address, image->size,
                                                          image->name, std::move(uuid));
}

std::shared_ptr<const VXCrashReportExceptionInfo> VXCrashReport::extractExceptionInfo(
    const Vxcrash__CrashReport__Exception *exception, VXCrashReporterError *error) {
    if (exception == nullptr) {
        invalid(error, "Crash report is missing Exception Information section");
        return nullptr;
    }
    if (exception->name == nullptr) {
        invalid(error, "Crash report is missing exception name field");
        return nullptr;
    }
    if (exception->reason == nullptr) {
        invalid(error, "Crash report is missing exception reason field");
        return nullptr;
    }
    std::optional<VXCrashReportStackFrames> frames;
    if (exception->n_frames > 0) {
        frames.emplace();
        frames->reserve(exception->n_frames);
        for (size_t i = 0; i < exception->n_frames; ++i) {
            auto frame = extractStackFrameInfo(exception->frames[i], error);
            if (!frame) return nullptr;
            frames->push_back(std::move(frame));
        }
    }
    return std::make_shared<VXCrashReportExceptionInfo>(exception->name, exception->reason, std::move(frames));
}

std::shared_ptr<const VXCrashReportSignalInfo> VXCrashReport::extractSignalInfo(
    const Vxcrash__CrashReport__Signal *signal, VXCrashReporterError *error) {
    if (signal == nullptr) {
        invalid(error, "Crash report is missing Signal Information section");
        return nullptr;
    }
    if (signal->name == nullptr) {
        invalid(error, "Crash report is missing signal name field");
        return nullptr;
    }
    if (signal->code == nullptr) {
        invalid(error, "Crash report is missing signal code field");
        return nullptr;
    }
    return std::make_shared<VXCrashReportSignalInfo>(signal->name, signal->code, signal->address);
}

std::shared_ptr<const VXCrashReportMachExceptionInfo> VXCrashReport::extractMachExceptionInfo(
    const Vxcrash__CrashReport__Signal__MachException *machException, VXCrashReporterError *error) {
    if (machException == nullptr) {
        invalid(error, "Crash report is missing Mach Exception Information section");
        return nullptr;
    }
    if (machException->n_codes > kMaxMachExceptionCodes) {
        invalid(error, "Crash report includes too many Mach Exception codes");
        return nullptr;
    }
    std::vector<uint64_t> codes;
    if (machException->n_codes > 0) codes.assign(machException->codes, machException->codes + machException->n_codes);
    return std::make_shared<VXCrashReportMachExceptionInfo>(machException->type, std::move(codes));
}
