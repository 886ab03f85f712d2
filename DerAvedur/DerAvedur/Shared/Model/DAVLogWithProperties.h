#pragma once
#include "DerAvedur/DerAvedur/Shared/Model/DAVAbstractLog.h"

// A log with text properties.
class DAVLogWithProperties : public DAVAbstractLog {
public:
    // Text to text; written to JSON only when it holds an entry.
    Foundation::Dictionary properties;

    std::string className() const override { return "DAVLogWithProperties"; }
    Foundation::Value serializeToDictionary() const override;
    bool isEqual(const DAVAbstractLog& other) const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};
