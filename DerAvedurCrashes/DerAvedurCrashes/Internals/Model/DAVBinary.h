#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "DerAvedur/DerAvedur/Shared/Model/DAVLog.h"
#include "Platform/Foundation/KeyedArchiver.h"

// One loaded image of a crashed process, named by its build id.
class DAVBinary : public Foundation::Coding, public DAVSerializableObject {
public:
    std::optional<std::string> binaryId;      // required
    std::optional<std::string> startAddress;  // required
    std::optional<std::string> endAddress;    // required
    std::optional<std::string> name;          // required
    std::optional<std::string> path;          // required
    std::optional<std::string> architecture;
    std::optional<std::int64_t> primaryArchitectureId;
    std::optional<std::int64_t> architectureVariantId;

    std::string className() const override { return "DAVBinary"; }
    Foundation::Value serializeToDictionary() const override;
    bool isValid() const;
    bool isEqual(const DAVBinary& other) const;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder);
};
