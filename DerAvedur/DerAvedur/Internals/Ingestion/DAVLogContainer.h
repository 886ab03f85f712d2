#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/Shared/Model/DAVLog.h"

// One batch of logs, as a unit hands it to an ingestion.
class DAVLogContainer {
public:
    DAVLogContainer() = default;
    // initWithBatchId:andLogs:
    DAVLogContainer(std::string batchId, std::vector<std::shared_ptr<DAVLog>> logs)
        : batchId(std::move(batchId)), logs(std::move(logs)) {}

    std::string batchId;
    std::vector<std::shared_ptr<DAVLog>> logs;

    // {"logs": [...]}, compact.
    std::optional<std::string> serializeLog() const { return serializeLogWithPrettyPrinting(false); }
    std::optional<std::string> serializeLogWithPrettyPrinting(bool prettyPrint) const;
    // Not empty, and every log valid.
    bool isValid() const;
};
