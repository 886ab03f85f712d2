#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "DerAvedur/DerAvedur/Shared/Model/DAVDevice.h"
#include "Platform/Foundation/Value.h"

// The public description of one crash of the last run (or of a handled error).
class DAVErrorReport {
public:
    DAVErrorReport(std::optional<std::string> errorId, std::optional<std::string> reporterKey,
                   std::optional<std::string> signal, std::optional<std::string> exceptionName,
                   std::optional<std::string> exceptionReason, std::optional<Foundation::Date> appStartTime,
                   std::optional<Foundation::Date> appErrorTime, std::shared_ptr<DAVDevice> device,
                   std::uint64_t appProcessIdentifier);

    const std::optional<std::string>& incidentIdentifier() const { return incidentIdentifier_; }
    const std::optional<std::string>& reporterKey() const { return reporterKey_; }
    const std::optional<std::string>& signal() const { return signal_; }
    const std::optional<std::string>& exceptionName() const { return exceptionName_; }
    const std::optional<std::string>& exceptionReason() const { return exceptionReason_; }
    const std::optional<Foundation::Date>& appStartTime() const { return appStartTime_; }
    const std::optional<Foundation::Date>& appErrorTime() const { return appErrorTime_; }
    const std::shared_ptr<DAVDevice>& device() const { return device_; }
    std::uint64_t appProcessIdentifier() const { return appProcessIdentifier_; }

    // The system killed the application (SIGKILL, in any letter case).
    bool isAppKill() const;

private:
    std::optional<std::string> incidentIdentifier_;
    std::optional<std::string> reporterKey_;
    std::optional<std::string> signal_;
    std::optional<std::string> exceptionName_;
    std::optional<std::string> exceptionReason_;
    std::optional<Foundation::Date> appStartTime_;
    std::optional<Foundation::Date> appErrorTime_;
    std::shared_ptr<DAVDevice> device_;
    std::uint64_t appProcessIdentifier_;
};
