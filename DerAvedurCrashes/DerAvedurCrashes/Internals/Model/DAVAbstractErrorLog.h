#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "DerAvedur/DerAvedur/Shared/Model/DAVAbstractLog.h"

// What every crash log says about the process that failed.
class DAVAbstractErrorLog : public DAVAbstractLog {
public:
    std::optional<std::string> errorId;      // required
    std::optional<std::int64_t> processId;   // required
    std::optional<std::string> processName;  // required
    std::optional<std::int64_t> parentProcessId;
    std::optional<std::string> parentProcessName;
    std::optional<std::int64_t> errorThreadId;
    std::optional<std::string> errorThreadName;
    bool fatal = false;  // always written
    std::optional<Foundation::Date> appLaunchTimestamp;
    std::optional<std::string> architecture;

    bool isFatal() const { return fatal; }

    std::string className() const override { return "DAVAbstractErrorLog"; }
    Foundation::Value serializeToDictionary() const override;
    bool isValid() const override;
    bool isEqual(const DAVAbstractLog& other) const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};
