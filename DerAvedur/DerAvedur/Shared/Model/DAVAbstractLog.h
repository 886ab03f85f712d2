#pragma once
#include <mutex>

#include "DerAvedur/DerAvedur/Shared/Model/DAVDevice.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVLog.h"
#include "Platform/Foundation/KeyedArchiver.h"

// The base of every telemetry log.
class DAVAbstractLog : public Foundation::Coding, public DAVLog, public DAVSerializableObject, public DAVLogConversion {
public:
    DAVAbstractLog() = default;
    DAVAbstractLog(const DAVAbstractLog&) = delete;
    DAVAbstractLog& operator=(const DAVAbstractLog&) = delete;

    std::string className() const override { return "DAVAbstractLog"; }

    // Type, then timestamp, then a valid device; logs the first that fails.
    bool isValid() const override;
    void addTransmissionTargetToken(const std::string& token) override;
    std::set<std::string> transmissionTargetTokens() const override;

    std::optional<std::string> type() const override { return type_; }
    void setType(std::optional<std::string> type) override { type_ = std::move(type); }
    std::optional<Foundation::Date> timestamp() const override { return timestamp_; }
    void setTimestamp(std::optional<Foundation::Date> timestamp) override { timestamp_ = timestamp; }
    std::optional<std::string> sid() const override { return sid_; }
    void setSid(std::optional<std::string> sid) override { sid_ = std::move(sid); }
    std::optional<std::string> distributionGroupId() const override { return distributionGroupId_; }
    void setDistributionGroupId(std::optional<std::string> id) override { distributionGroupId_ = std::move(id); }
    std::optional<std::string> userId() const override { return userId_; }
    void setUserId(std::optional<std::string> userId) override { userId_ = std::move(userId); }
    std::shared_ptr<DAVDevice> device() const override { return device_; }
    void setDevice(std::shared_ptr<DAVDevice> device) override { device_ = std::move(device); }
    std::shared_ptr<void> tag() const override { return tag_; }
    void setTag(std::shared_ptr<void> tag) override { tag_ = std::move(tag); }

    Foundation::Value serializeToDictionary() const override;
    std::optional<std::string> serializeLogWithPrettyPrinting(bool prettyPrint) const override;

    // Same class and equal fields (the tag compared by identity; tokens not compared).
    virtual bool isEqual(const DAVAbstractLog& other) const;

    std::vector<std::shared_ptr<DAVCommonSchemaLog>> toCommonSchemaLogsWithFlags(DAVFlags flags) const override;
    // Subclasses (the event log) extend the conversion.
    virtual std::shared_ptr<DAVCommonSchemaLog> toCommonSchemaLogForTargetToken(const std::string& token,
                                                                                DAVFlags flags) const;

    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    virtual void decodeWithCoder(Foundation::KeyedUnarchiver& coder);

protected:
    // VERBOSE "<class>: "<field>" is not valid."
    void logInvalidField(const char* field) const;

    // The table of fields (beside the code); a subclass's table names these
    // members too where its JSON holds them under other keys.
    struct Fields;
    std::optional<std::string> type_;
    std::optional<Foundation::Date> timestamp_;
    std::optional<std::string> sid_;
    std::optional<std::string> distributionGroupId_;
    std::optional<std::string> userId_;
    std::shared_ptr<DAVDevice> device_;

private:
    std::shared_ptr<void> tag_;
    mutable std::mutex tokensLock_;
    std::set<std::string> transmissionTargetTokens_;
};

// Two timestamps name the same instant (both unset, or within a microsecond).
bool DAVTimestampsEqual(const std::optional<Foundation::Date>& a, const std::optional<Foundation::Date>& b);
// "Version 12" / "Version 12 (Build 21A5)"; nothing when both are empty.
std::optional<std::string> DAVOSVersionText(const std::optional<std::string>& version,
                                            const std::optional<std::string>& build);
// Minutes from UTC as "+02:00", "-03:30", "-00:30".
std::string DAVTimeZoneOffsetText(std::int64_t minutes);
