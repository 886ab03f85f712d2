#pragma once
#include "DerAvedur/DerAvedur/Shared/Model/DAVAbstractLog.h"

// Names the services started in one call; never stamped with a session id.
class DAVStartServiceLog : public DAVAbstractLog, public DAVNoAutoAssignSessionIdLog {
public:
    DAVStartServiceLog();

    std::optional<std::vector<std::string>> services;

    std::string className() const override { return "DAVStartServiceLog"; }
    Foundation::Value serializeToDictionary() const override;
    bool isEqual(const DAVAbstractLog& other) const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};
