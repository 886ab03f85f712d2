#pragma once
// The protocols every telemetry log and model object adopts.

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "Platform/Foundation/Value.h"

class DAVDevice;
class DAVCommonSchemaLog;

// An object with an ingestion JSON form: a dictionary Value, made JSON text
// only when a log or batch is written out. Key order matters to the services.
class DAVSerializableObject {
public:
    virtual ~DAVSerializableObject() = default;
    virtual Foundation::Value serializeToDictionary() const = 0;
};

// A record of the Common Schema model.
class DAVModel {
public:
    virtual ~DAVModel() = default;
    virtual bool isValid() const = 0;
};

class DAVLog {
public:
    virtual ~DAVLog() = default;

    virtual bool isValid() const = 0;
    // Thread-safe; a token added twice is held once.
    virtual void addTransmissionTargetToken(const std::string& token) = 0;
    virtual std::set<std::string> transmissionTargetTokens() const = 0;

    virtual std::optional<std::string> type() const = 0;
    virtual void setType(std::optional<std::string> type) = 0;
    virtual std::optional<Foundation::Date> timestamp() const = 0;
    virtual void setTimestamp(std::optional<Foundation::Date> timestamp) = 0;
    virtual std::optional<std::string> sid() const = 0;
    virtual void setSid(std::optional<std::string> sid) = 0;
    virtual std::optional<std::string> distributionGroupId() const = 0;
    virtual void setDistributionGroupId(std::optional<std::string> distributionGroupId) = 0;
    virtual std::optional<std::string> userId() const = 0;
    virtual void setUserId(std::optional<std::string> userId) = 0;
    virtual std::shared_ptr<DAVDevice> device() const = 0;
    virtual void setDevice(std::shared_ptr<DAVDevice> device) = 0;
    // In memory only: never serialised nor archived.
    virtual std::shared_ptr<void> tag() const = 0;
    virtual void setTag(std::shared_ptr<void> tag) = 0;

    // The JSON text; nothing when it cannot be made.
    virtual std::optional<std::string> serializeLogWithPrettyPrinting(bool prettyPrint) const = 0;
};

class DAVLogConversion {
public:
    virtual ~DAVLogConversion() = default;
    // One Common Schema log per target token; empty when there is none.
    virtual std::vector<std::shared_ptr<DAVCommonSchemaLog>> toCommonSchemaLogsWithFlags(DAVFlags flags) const = 0;
};

// Marks logs the session tracker must not stamp with a session id.
class DAVNoAutoAssignSessionIdLog {
public:
    virtual ~DAVNoAutoAssignSessionIdLog() = default;
};
