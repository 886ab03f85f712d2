#include "DerAvedurCrashes/DerAvedurCrashes/DAVErrorReport.h"

#include "Platform/Foundation/Text.h"

DAVErrorReport::DAVErrorReport(std::optional<std::string> errorId, std::optional<std::string> reporterKey,
                               std::optional<std::string> signal, std::optional<std::string> exceptionName,
                               std::optional<std::string> exceptionReason, std::optional<Foundation::Date> appStartTime,
                               std::optional<Foundation::Date> appErrorTime, std::shared_ptr<DAVDevice> device,
                               std::uint64_t appProcessIdentifier)
    : incidentIdentifier_(std::move(errorId)),
      reporterKey_(std::move(reporterKey)),
      signal_(std::move(signal)),
      exceptionName_(std::move(exceptionName)),
      exceptionReason_(std::move(exceptionReason)),
      appStartTime_(appStartTime),
      appErrorTime_(appErrorTime),
      device_(std::move(device)),
      appProcessIdentifier_(appProcessIdentifier) {}

bool DAVErrorReport::isAppKill() const { return signal_ && Foundation::uppercase(*signal_) == "SIGKILL"; }
