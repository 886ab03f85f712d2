#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "DerAvedur/DerAvedur/Shared/Model/DAVLog.h"
#include "Platform/Foundation/KeyedArchiver.h"

// One frame of a thread or an exception; no field is required.
class DAVStackFrame : public Foundation::Coding, public DAVSerializableObject {
public:
    std::optional<std::string> address;
    std::optional<std::string> code;
    std::optional<std::string> frameClassName;  // JSON "className" (the member name is taken by Coding)
    std::optional<std::string> methodName;
    std::optional<std::int64_t> lineNumber;
    std::optional<std::string> fileName;

    std::string className() const override { return "DAVStackFrame"; }
    Foundation::Value serializeToDictionary() const override;
    bool isValid() const { return true; }
    bool isEqual(const DAVStackFrame& other) const;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder);
};
