#pragma once
#include <memory>

#include "DerAvedur/DerAvedur/Shared/Model/DAVLogWithProperties.h"
#include "DerAvedurCrashes/DerAvedurCrashes/Internals/Model/DAVException.h"

// An error the application (or a wrapper SDK) caught and reported
// ("handledError"). Its validated properties travel with it, written after
// the base keys only when there are any.
class DAVHandledErrorLog : public DAVLogWithProperties {
public:
    DAVHandledErrorLog();

    std::optional<std::string> errorId;       // required
    std::shared_ptr<DAVException> exception;  // required

    std::string className() const override { return "DAVHandledErrorLog"; }
    Foundation::Value serializeToDictionary() const override;
    bool isValid() const override;
    bool isEqual(const DAVAbstractLog& other) const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};
