#pragma once
#include <memory>
#include <string>

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelProtocol.h"
#include "DerAvedur/DerAvedur/Shared/Channel/DAVChannelUnitConfiguration.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVLog.h"
#include "Platform/Foundation/Dispatch.h"

// The pipeline of one group id: stamps, filters, stores, batches and sends logs.
class DAVChannelUnitProtocol : public DAVChannelProtocol {
public:
    virtual void enqueueItem(const std::shared_ptr<DAVLog>& item, DAVFlags flags) = 0;
    virtual void pauseSendingLogsWithToken(const std::string& token) = 0;
    virtual void resumeSendingLogsWithToken(const std::string& token) = 0;
    // On the logs queue.
    virtual void checkPendingLogs() = 0;

    virtual std::shared_ptr<DAVChannelUnitConfiguration> configuration() const = 0;
    virtual void setConfiguration(std::shared_ptr<DAVChannelUnitConfiguration> configuration) = 0;
    virtual std::shared_ptr<Foundation::DispatchQueue> logsDispatchQueue() const = 0;
    virtual void setLogsDispatchQueue(std::shared_ptr<Foundation::DispatchQueue> queue) = 0;
};
