#pragma once
#include "DerAvedurAnalytics/DerAvedurAnalytics/DAVEventProperties.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVLogWithNameAndProperties.h"

// A usage event: name, id and typed properties.
class DAVEventLog : public DAVLogWithNameAndProperties {
public:
    DAVEventLog();

    std::optional<std::string> eventId;  // JSON "id"
    std::shared_ptr<DAVEventProperties> typedProperties;

    std::string className() const override { return "DAVEventLog"; }
    // An id is required on top of the named log's rules.
    bool isValid() const override;
    // The named log's keys, then "id" and "typedProperties" (when not empty).
    Foundation::Value serializeToDictionary() const override;
    bool isEqual(const DAVAbstractLog& other) const override;
    // Adds the event's name and its properties as the data part; a dotted key
    // ("colour.hex") nests, and numbers and dates are typed in the metadata.
    std::shared_ptr<DAVCommonSchemaLog> toCommonSchemaLogForTargetToken(const std::string& token,
                                                                        DAVFlags flags) const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};
