#include "Vendor/VXCrashReporter/Source/VXCrashReporterConfig.h"

#include <utility>

VXCrashReporterConfig::VXCrashReporterConfig()
    : VXCrashReporterConfig(VXCrashReporterSignalHandlerTypeBSD, VXCrashReporterSymbolicationStrategyNone) {}

VXCrashReporterConfig::VXCrashReporterConfig(uint32_t signalHandlerType, uint32_t symbolicationStrategy)
    : VXCrashReporterConfig(signalHandlerType, symbolicationStrategy, true) {}

VXCrashReporterConfig::VXCrashReporterConfig(uint32_t signalHandlerType, uint32_t symbolicationStrategy,
                                             bool shouldRegisterUncaughtExceptionHandler)
    : VXCrashReporterConfig(signalHandlerType, symbolicationStrategy, shouldRegisterUncaughtExceptionHandler,
                            std::string()) {}

VXCrashReporterConfig::VXCrashReporterConfig(uint32_t signalHandlerType, uint32_t symbolicationStrategy,
                                             bool shouldRegisterUncaughtExceptionHandler,
                                             std::string crashReportBaseDirectory)
    : m_signalHandlerType(signalHandlerType),
      m_symbolicationStrategy(symbolicationStrategy),
      m_shouldRegisterUncaughtExceptionHandler(shouldRegisterUncaughtExceptionHandler),
      m_crashReportBaseDirectory(std::move(crashReportBaseDirectory)) {}

std::shared_ptr<VXCrashReporterConfig> VXCrashReporterConfig::defaultConfiguration() {
    return std::make_shared<VXCrashReporterConfig>();
}
