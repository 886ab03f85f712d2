#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVException.h"

// One thread of a crashed process.
class DAVThread : public Foundation::Coding, public DAVSerializableObject {
public:
    std::optional<std::int64_t> threadId;  // required
    std::optional<std::string> name;
    std::optional<std::vector<std::shared_ptr<DAVStackFrame>>> frames;  // required, not empty
    std::shared_ptr<DAVException> exception;

    std::string className() const override { return "DAVThread"; }
    Foundation::Value serializeToDictionary() const override;
    bool isValid() const;
    bool isEqual(const DAVThread& other) const;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder);
};
