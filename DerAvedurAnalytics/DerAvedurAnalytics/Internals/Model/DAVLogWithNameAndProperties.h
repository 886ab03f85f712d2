#pragma once
#include "DerAvedur/DerAvedur/Shared/Model/DAVLogWithProperties.h"

// A named log with text properties: the base of event and page logs.
class DAVLogWithNameAndProperties : public DAVLogWithProperties {
public:
    std::optional<std::string> name;

    std::string className() const override { return "DAVLogWithNameAndProperties"; }
    // A name is required on top of the base rules.
    bool isValid() const override;
    Foundation::Value serializeToDictionary() const override;
    bool isEqual(const DAVAbstractLog& other) const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};
