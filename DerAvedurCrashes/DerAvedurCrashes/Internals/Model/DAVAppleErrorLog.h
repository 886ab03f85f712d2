#pragma once
#include <memory>
#include <vector>

#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVAbstractErrorLog.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVBinary.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVException.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVThread.h"

// A crash of the previous run ("appleError").
class DAVAppleErrorLog : public DAVAbstractErrorLog {
public:
    DAVAppleErrorLog();

    std::optional<std::int64_t> primaryArchitectureId;  // required
    std::optional<std::int64_t> architectureVariantId;
    std::optional<std::string> applicationPath;     // required
    std::optional<std::string> osExceptionType;     // required
    std::optional<std::string> osExceptionCode;     // required
    std::optional<std::string> osExceptionAddress;  // required
    std::optional<std::string> exceptionType;
    std::optional<std::string> exceptionReason;
    std::optional<std::string> selectorRegisterValue;
    std::optional<std::vector<std::shared_ptr<DAVThread>>> threads;
    std::optional<std::vector<std::shared_ptr<DAVBinary>>> binaries;
    // Register name to value text, in the order the registers were read.
    std::optional<Foundation::Dictionary> registers;
    std::shared_ptr<DAVException> exception;

    std::string className() const override { return "DAVAppleErrorLog"; }
    Foundation::Value serializeToDictionary() const override;
    bool isValid() const override;
    bool isEqual(const DAVAbstractLog& other) const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};
