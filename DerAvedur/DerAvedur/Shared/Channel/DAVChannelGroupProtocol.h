#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelProtocol.h"
#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelUnitProtocol.h"

class DAVIngestionProtocol;

// What all units share: the queue, the log store, the ingestion.
class DAVChannelGroupProtocol : public DAVChannelProtocol {
public:
    // Nothing for a missing or unusable configuration.
    virtual std::shared_ptr<DAVChannelUnitProtocol> addChannelUnitWithConfiguration(
        const std::shared_ptr<DAVChannelUnitConfiguration>& configuration) = 0;
    // `ingestion` nullptr: the group's own.
    virtual std::shared_ptr<DAVChannelUnitProtocol> addChannelUnitWithConfiguration(
        const std::shared_ptr<DAVChannelUnitConfiguration>& configuration,
        const std::shared_ptr<DAVIngestionProtocol>& ingestion) = 0;
    // The store answers on the group's queue; a missing completion is not called.
    virtual void setMaxStorageSize(std::int64_t sizeInBytes, std::function<void(bool success)> completionHandler) = 0;
    // The first unit added with that group id, compared exactly.
    virtual std::shared_ptr<DAVChannelUnitProtocol> channelUnitForGroupId(const std::string& groupId) = 0;

    virtual std::optional<std::string> logUrl() const = 0;
    virtual void setLogUrl(const std::string& logUrl) = 0;
    virtual std::optional<std::string> appSecret() const = 0;
    virtual void setAppSecret(const std::optional<std::string>& appSecret) = 0;
};
