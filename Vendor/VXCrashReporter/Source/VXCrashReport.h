// A decoded crash report: an immutable tree of small read-only objects, one
// class per section of the report file (VXCrashLogWriter.h describes the file).
//
// Decoding is all-or-nothing: initWithData gives a complete report, or
// nullptr and one error of the domain "VXCrashReporterErrorDomain" (code 2 for
// every malformed input).
#pragma once

// The reader allocates and calls protobuf-c: it never runs in a signal handler.
#ifdef VXCRASH_CRASH_TIME
#error "crash-time code (target VXCrashReporter) must not use the report reader"
#endif

#include "Vendor/VXCrashReporter/Source/VXCrashReporterError.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct Vxcrash__CrashReport;
struct Vxcrash__CrashReport__SystemInfo;
struct Vxcrash__CrashReport__MachineInfo;
struct Vxcrash__CrashReport__ApplicationInfo;
struct Vxcrash__CrashReport__ProcessInfo;
struct Vxcrash__CrashReport__Signal;
struct Vxcrash__CrashReport__Signal__MachException;
struct Vxcrash__CrashReport__Thread;
struct Vxcrash__CrashReport__Thread__StackFrame;
struct Vxcrash__CrashReport__BinaryImage;
struct Vxcrash__CrashReport__Exception;
struct Vxcrash__CrashReport__Processor;
struct Vxcrash__CrashReport__Symbol;

using VXCrashReportDate = std::chrono::system_clock::time_point;

enum VXCrashReportOperatingSystem : uint32_t {
    VXCrashReportOperatingSystemMacOSX = 0,
    VXCrashReportOperatingSystemiPhoneOS = 1,
    VXCrashReportOperatingSystemiPhoneSimulator = 2,
    VXCrashReportOperatingSystemUnknown = 3,
    VXCrashReportOperatingSystemAppleTVOS = 4,
    VXCrashReportOperatingSystemLinux = 5,
};

enum VXCrashReportArchitecture : uint32_t {
    VXCrashReportArchitectureX86_32 = 0,
    VXCrashReportArchitectureX86_64 = 1,
    VXCrashReportArchitectureARMv6 = 2,
    VXCrashReportArchitecturePPC = 3,
    VXCrashReportArchitecturePPC64 = 4,
    VXCrashReportArchitectureARMv7 = 5,
    VXCrashReportArchitectureUnknown = 6,
};

enum VXCrashReportProcessorTypeEncoding : uint32_t {
    VXCrashReportProcessorTypeEncodingUnknown = 0,
    // type and subtype are Mach CPU type and subtype numbers.
    VXCrashReportProcessorTypeEncodingMach = 1,
};

class VXCrashReportProcessorInfo {
public:
    VXCrashReportProcessorInfo(VXCrashReportProcessorTypeEncoding typeEncoding, uint64_t type, uint64_t subtype);
    VXCrashReportProcessorTypeEncoding typeEncoding() const { return m_typeEncoding; }
    uint64_t type() const { return m_type; }
    uint64_t subtype() const { return m_subtype; }

private:
    VXCrashReportProcessorTypeEncoding m_typeEncoding;
    uint64_t m_type;
    uint64_t m_subtype;
};

class VXCrashReportSystemInfo {
public:
    VXCrashReportSystemInfo(VXCrashReportOperatingSystem operatingSystem, std::string operatingSystemVersion,
                            std::optional<std::string> operatingSystemBuild, VXCrashReportArchitecture architecture,
                            std::shared_ptr<const VXCrashReportProcessorInfo> processorInfo,
                            std::optional<VXCrashReportDate> timestamp);
    VXCrashReportSystemInfo(VXCrashReportOperatingSystem operatingSystem, std::string operatingSystemVersion,
                            VXCrashReportArchitecture architecture, std::optional<VXCrashReportDate> timestamp);
    VXCrashReportSystemInfo(VXCrashReportOperatingSystem operatingSystem, std::string operatingSystemVersion,
                            std::optional<std::string> operatingSystemBuild, VXCrashReportArchitecture architecture,
                            std::optional<VXCrashReportDate> timestamp);

    VXCrashReportOperatingSystem operatingSystem() const { return m_operatingSystem; }
    const std::string &operatingSystemVersion() const { return m_operatingSystemVersion; }
    const std::optional<std::string> &operatingSystemBuild() const { return m_operatingSystemBuild; }
    VXCrashReportArchitecture architecture() const { return m_architecture; }
    const std::shared_ptr<const VXCrashReportProcessorInfo> &processorInfo() const { return m_processorInfo; }
    const std::optional<VXCrashReportDate> &timestamp() const { return m_timestamp; }

private:
    VXCrashReportOperatingSystem m_operatingSystem;
    std::string m_operatingSystemVersion;
    std::optional<std::string> m_operatingSystemBuild;
    VXCrashReportArchitecture m_architecture;
    std::shared_ptr<const VXCrashReportProcessorInfo> m_processorInfo;
    std::optional<VXCrashReportDate> m_timestamp;
};

class VXCrashReportApplicationInfo {
public:
    VXCrashReportApplicationInfo(std::string applicationIdentifier, std::string applicationVersion,
                                 std::optional<std::string> applicationMarketingVersion);
    const std::string &applicationIdentifier() const { return m_applicationIdentifier; }
    const std::string &applicationVersion() const { return m_applicationVersion; }
    const std::optional<std::string> &applicationMarketingVersion() const { return m_applicationMarketingVersion; }

private:
    std::string m_applicationIdentifier;
    std::string m_applicationVersion;
    std::optional<std::string> m_applicationMarketingVersion;
};

class VXCrashReportMachineInfo {
public:
    VXCrashReportMachineInfo(std::optional<std::string> modelName,
                             std::shared_ptr<const VXCrashReportProcessorInfo> processorInfo, uint64_t processorCount,
                             uint64_t logicalProcessorCount);
    const std::optional<std::string> &modelName() const { return m_modelName; }
    const std::shared_ptr<const VXCrashReportProcessorInfo> &processorInfo() const { return m_processorInfo; }
    uint64_t processorCount() const { return m_processorCount; }
    uint64_t logicalProcessorCount() const { return m_logicalProcessorCount; }

private:
    std::optional<std::string> m_modelName;
    std::shared_ptr<const VXCrashReportProcessorInfo> m_processorInfo;
    uint64_t m_processorCount;
    uint64_t m_logicalProcessorCount;
};

class VXCrashReportProcessInfo {
public:
    VXCrashReportProcessInfo(std::optional<std::string> processName, uint64_t processID,
                             std::optional<std::string> processPath, std::optional<VXCrashReportDate> processStartTime,
                             std::optional<std::string> parentProcessName, uint64_t parentProcessID, bool native);
    const std::optional<std::string> &processName() const { return m_processName; }
    uint64_t processID() const { return m_processID; }
    const std::optional<std::string> &processPath() const { return m_processPath; }
    const std::optional<VXCrashReportDate> &processStartTime() const { return m_processStartTime; }
    const std::optional<std::string> &parentProcessName() const { return m_parentProcessName; }
    uint64_t parentProcessID() const { return m_parentProcessID; }
    bool native() const { return m_native; }

private:
    std::optional<std::string> m_processName;
    uint64_t m_processID;
    std::optional<std::string> m_processPath;
    std::optional<VXCrashReportDate> m_processStartTime;
    std::optional<std::string> m_parentProcessName;
    uint64_t m_parentProcessID;
    bool m_native;
};

class VXCrashReportSignalInfo {
public:
    VXCrashReportSignalInfo(std::string name, std::string code, uint64_t address);
    const std::string &name() const { return m_name; }
    const std::string &code() const { return m_code; }
    uint64_t address() const { return m_address; }

private:
    std::string m_name;
    std::string m_code;
    uint64_t m_address;
};

class VXCrashReportMachExceptionInfo {
public:
    VXCrashReportMachExceptionInfo(uint64_t type, std::vector<uint64_t> codes);
    uint64_t type() const { return m_type; }
    const std::vector<uint64_t> &codes() const { return m_codes; }

private:
    uint64_t m_type;
    std::vector<uint64_t> m_codes;
};

class VXCrashReportSymbolInfo {
public:
    VXCrashReportSymbolInfo(std::string symbolName, uint64_t startAddress, uint64_t endAddress);
    const std::string &symbolName() const { return m_symbolName; }
    uint64_t startAddress() const { return m_startAddress; }
    uint64_t endAddress() const { return m_endAddress; }

private:
    std::string m_symbolName;
    uint64_t m_startAddress;
    uint64_t m_endAddress;
};

class VXCrashReportStackFrameInfo {
public:
    VXCrashReportStackFrameInfo(uint64_t instructionPointer, std::shared_ptr<const VXCrashReportSymbolInfo> symbolInfo);
    uint64_t instructionPointer() const { return m_instructionPointer; }
    const std::shared_ptr<const VXCrashReportSymbolInfo> &symbolInfo() const { return m_symbolInfo; }

private:
    uint64_t m_instructionPointer;
    std::shared_ptr<const VXCrashReportSymbolInfo> m_symbolInfo;
};

using VXCrashReportStackFrames = std::vector<std::shared_ptr<const VXCrashReportStackFrameInfo>>;

class VXCrashReportRegisterInfo {
public:
    VXCrashReportRegisterInfo(std::string registerName, uint64_t registerValue);
    const std::string &registerName() const { return m_registerName; }
    uint64_t registerValue() const { return m_registerValue; }

private:
    std::string m_registerName;
    uint64_t m_registerValue;
};

class VXCrashReportThreadInfo {
public:
    VXCrashReportThreadInfo(int64_t threadNumber, VXCrashReportStackFrames stackFrames, bool crashed,
                            std::vector<std::shared_ptr<const VXCrashReportRegisterInfo>> registers,
                            bool framesTruncated = false);
    int64_t threadNumber() const { return m_threadNumber; }
    const VXCrashReportStackFrames &stackFrames() const { return m_stackFrames; }
    bool crashed() const { return m_crashed; }
    const std::vector<std::shared_ptr<const VXCrashReportRegisterInfo>> &registers() const { return m_registers; }
    // Frames were left out to keep the report within its size limit.
    bool framesTruncated() const { return m_framesTruncated; }

private:
    int64_t m_threadNumber;
    VXCrashReportStackFrames m_stackFrames;
    bool m_crashed;
    std::vector<std::shared_ptr<const VXCrashReportRegisterInfo>> m_registers;
    bool m_framesTruncated;
};

class VXCrashReportExceptionInfo {
public:
    VXCrashReportExceptionInfo(std::string exceptionName, std::string exceptionReason,
                               std::optional<VXCrashReportStackFrames> stackFrames);
    VXCrashReportExceptionInfo(std::string exceptionName, std::string exceptionReason);
    const std::string &exceptionName() const { return m_exceptionName; }
    const std::string &exceptionReason() const { return m_exceptionReason; }
    // Absent when the exception carried no frames.
    const std::optional<VXCrashReportStackFrames> &stackFrames() const { return m_stackFrames; }

private:
    std::string m_exceptionName;
    std::string m_exceptionReason;
    std::optional<VXCrashReportStackFrames> m_stackFrames;
};

class VXCrashReportBinaryImageInfo {
public:
    VXCrashReportBinaryImageInfo(std::shared_ptr<const VXCrashReportProcessorInfo> codeType, uint64_t imageBaseAddress,
                                 uint64_t imageSize, std::string imageName,
                                 std::optional<std::vector<uint8_t>> imageUUID);
    const std::shared_ptr<const VXCrashReportProcessorInfo> &codeType() const { return m_codeType; }
    uint64_t imageBaseAddress() const { return m_imageBaseAddress; }
    uint64_t imageSize() const { return m_imageSize; }
    const std::string &imageName() const { return m_imageName; }
    bool hasImageUUID() const { return m_imageUUID.has_value(); }
    // Lowercase hexadecimal, two characters a byte, no separators.
    const std::optional<std::string> &imageUUID() const { return m_imageUUID; }

private:
    std::shared_ptr<const VXCrashReportProcessorInfo> m_codeType;
    uint64_t m_imageBaseAddress;
    uint64_t m_imageSize;
    std::string m_imageName;
    std::optional<std::string> m_imageUUID;
};

class VXCrashReport {
public:
    using UUID = std::array<uint8_t, 16>;

    static std::shared_ptr<VXCrashReport> initWithData(const std::vector<uint8_t> &data,
                                                       VXCrashReporterError *error = nullptr);
    static std::shared_ptr<VXCrashReport> initWithData(const uint8_t *bytes, size_t length,
                                                       VXCrashReporterError *error = nullptr);
    ~VXCrashReport();
    VXCrashReport(const VXCrashReport &) = delete;
    VXCrashReport &operator=(const VXCrashReport &) = delete;

    const std::shared_ptr<const VXCrashReportSystemInfo> &systemInfo() const { return m_systemInfo; }
    const std::shared_ptr<const VXCrashReportMachineInfo> &machineInfo() const { return m_machineInfo; }
    bool hasMachineInfo() const { return m_machineInfo != nullptr; }
    const std::shared_ptr<const VXCrashReportApplicationInfo> &applicationInfo() const { return m_applicationInfo; }
    const std::shared_ptr<const VXCrashReportProcessInfo> &processInfo() const { return m_processInfo; }
    bool hasProcessInfo() const { return m_processInfo != nullptr; }
    const std::shared_ptr<const VXCrashReportSignalInfo> &signalInfo() const { return m_signalInfo; }
    const std::shared_ptr<const VXCrashReportMachExceptionInfo> &machExceptionInfo() const {
        return m_machExceptionInfo;
    }
    const std::vector<std::shared_ptr<const VXCrashReportThreadInfo>> &threads() const { return m_threads; }
    const std::vector<std::shared_ptr<const VXCrashReportBinaryImageInfo>> &images() const { return m_images; }
    const std::shared_ptr<const VXCrashReportExceptionInfo> &exceptionInfo() const { return m_exceptionInfo; }
    bool hasExceptionInfo() const { return m_exceptionInfo != nullptr; }
    const std::optional<std::vector<uint8_t>> &customData() const { return m_customData; }
    const std::optional<UUID> &uuidRef() const { return m_uuid; }

    // The first image, in images() order, that holds address; nullptr when none.
    std::shared_ptr<const VXCrashReportBinaryImageInfo> imageForAddress(uint64_t address) const;

private:
    VXCrashReport() = default;

    bool decodeCrashData(const uint8_t *bytes, size_t length, VXCrashReporterError *error);
    std::shared_ptr<const VXCrashReportSystemInfo> extractSystemInfo(
        const Vxcrash__CrashReport__SystemInfo *systemInfo,
        std::shared_ptr<const VXCrashReportProcessorInfo> processorInfo, VXCrashReporterError *error);
    std::shared_ptr<const VXCrashReportProcessorInfo> extractProcessorInfo(
        const Vxcrash__CrashReport__Processor *processor, VXCrashReporterError *error);
    std::shared_ptr<const VXCrashReportProcessorInfo> synthesizeProcessorInfoFromArchitecture(
        const Vxcrash__CrashReport__SystemInfo *systemInfo, VXCrashReporterError *error);
    std::shared_ptr<const VXCrashReportMachineInfo> extractMachineInfo(
        const Vxcrash__CrashReport__MachineInfo *machineInfo, VXCrashReporterError *error);
    std::shared_ptr<const VXCrashReportApplicationInfo> extractApplicationInfo(
        const Vxcrash__CrashReport__ApplicationInfo *applicationInfo, VXCrashReporterError *error);
    std::shared_ptr<const VXCrashReportProcessInfo> extractProcessInfo(
        const Vxcrash__CrashReport__ProcessInfo *processInfo, VXCrashReporterError *error);
    std::shared_ptr<const VXCrashReportSymbolInfo> extractSymbolInfo(const Vxcrash__CrashReport__Symbol *symbol,
                                                                     VXCrashReporterError *error);
    std::shared_ptr<const VXCrashReportStackFrameInfo> extractStackFrameInfo(
        const Vxcrash__CrashReport__Thread__StackFrame *frame, VXCrashReporterError *error);
    std::shared_ptr<const VXCrashReportThreadInfo> extractThreadInfo(const Vxcrash__CrashReport__Thread *thread,
                                                                     VXCrashReporterError *error);
    std::shared_ptr<const VXCrashReportBinaryImageInfo> extractImageInfo(const Vxcrash__CrashReport__BinaryImage *image,
                                                                         VXCrashReporterError *error);
    std::shared_ptr<const VXCrashReportExceptionInfo> extractExceptionInfo(
        const Vxcrash__CrashReport__Exception *exception, VXCrashReporterError *error);
    std::shared_ptr<const VXCrashReportSignalInfo> extractSignalInfo(const Vxcrash__CrashReport__Signal *signal,
                                                                     VXCrashReporterError *error);
    std::shared_ptr<const VXCrashReportMachExceptionInfo> extractMachExceptionInfo(
        const Vxcrash__CrashReport__Signal__MachException *machException, VXCrashReporterError *error);

    Vxcrash__CrashReport *m_decoded = nullptr;
    std::shared_ptr<const VXCrashReportSystemInfo> m_systemInfo;
    std::shared_ptr<const VXCrashReportMachineInfo> m_machineInfo;
    std::shared_ptr<const VXCrashReportApplicationInfo> m_applicationInfo;
    std::shared_ptr<const VXCrashReportProcessInfo> m_processInfo;
    std::shared_ptr<const VXCrashReportSignalInfo> m_signalInfo;
    std::shared_ptr<const VXCrashReportMachExceptionInfo> m_machExceptionInfo;
    std::vector<std::shared_ptr<const VXCrashReportThreadInfo>> m_threads;
    std::vector<std::shared_ptr<const VXCrashReportBinaryImageInfo>> m_images;
    std::shared_ptr<const VXCrashReportExceptionInfo> m_exceptionInfo;
    std::optional<std::vector<uint8_t>> m_customData;
    std::optional<UUID> m_uuid;
};
