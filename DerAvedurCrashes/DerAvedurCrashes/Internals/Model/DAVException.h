#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVStackFrame.h"

// An exception: its type, message and frames, with nested inner exceptions.
class DAVException : public Foundation::Coding, public DAVSerializableObject {
public:
    std::optional<std::string> type;  // required
    std::optional<std::string> message;
    std::optional<std::string> stackTrace;
    std::optional<std::string> wrapperSdkName;
    std::optional<std::vector<std::shared_ptr<DAVStackFrame>>> frames;  // required, not empty
    std::optional<std::vector<std::shared_ptr<DAVException>>> innerExceptions;

    std::string className() const override { return "DAVException"; }
    Foundation::Value serializeToDictionary() const override;
    // Logs the first missing required field at VERBOSE.
    bool isValid() const;
    bool isEqual(const DAVException& other) const;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder);
};
