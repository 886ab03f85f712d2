// The crash reporter's settings.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

enum VXCrashReporterSignalHandlerType : uint32_t {
    VXCrashReporterSignalHandlerTypeBSD = 0,
    // No Mach exception ports here: this type installs the same signal
    // handlers as the BSD type.
    VXCrashReporterSignalHandlerTypeMach = 1,
};

enum VXCrashReporterSymbolicationStrategy : uint32_t {
    VXCrashReporterSymbolicationStrategyNone = 0,
    VXCrashReporterSymbolicationStrategySymbolTable = 1u << 0,
    VXCrashReporterSymbolicationStrategyObjC = 1u << 1,
    VXCrashReporterSymbolicationStrategyAll = 3,
};

class VXCrashReporterConfig {
public:
    // BSD handlers, no symbolication, the uncaught-exception handler installed.
    VXCrashReporterConfig();
    VXCrashReporterConfig(uint32_t signalHandlerType, uint32_t symbolicationStrategy);
    VXCrashReporterConfig(uint32_t signalHandlerType, uint32_t symbolicationStrategy,
                          bool shouldRegisterUncaughtExceptionHandler);
    // crashReportBaseDirectory replaces the user's cache directory in the
    // crash directory's path (tests); empty: the cache directory.
    VXCrashReporterConfig(uint32_t signalHandlerType, uint32_t symbolicationStrategy,
                          bool shouldRegisterUncaughtExceptionHandler, std::string crashReportBaseDirectory);

    static std::shared_ptr<VXCrashReporterConfig> defaultConfiguration();

    uint32_t signalHandlerType() const { return m_signalHandlerType; }
    uint32_t symbolicationStrategy() const { return m_symbolicationStrategy; }
    bool shouldRegisterUncaughtExceptionHandler() const { return m_shouldRegisterUncaughtExceptionHandler; }
    const std::string &crashReportBaseDirectory() const { return m_crashReportBaseDirectory; }

private:
    uint32_t m_signalHandlerType;
    uint32_t m_symbolicationStrategy;
    bool m_shouldRegisterUncaughtExceptionHandler;
    std::string m_crashReportBaseDirectory;
};
