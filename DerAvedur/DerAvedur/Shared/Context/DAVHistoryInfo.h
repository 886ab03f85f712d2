#pragma once
// Timestamped entries of the contexts' histories, archived in the user defaults.

#include <memory>
#include <optional>
#include <string>

#include "DerAvedur/DerAvedur/Shared/Model/DAVDevice.h"
#include "Platform/Foundation/KeyedArchiver.h"

class DAVHistoryInfo : public Foundation::Coding {
public:
    Foundation::Date timestamp;

    std::string className() const override { return "DAVHistoryInfo"; }
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    virtual void decodeWithCoder(Foundation::KeyedUnarchiver& coder);
};

class DAVDeviceHistoryInfo : public DAVHistoryInfo {
public:
    std::shared_ptr<DAVDevice> device;

    std::string className() const override { return "DAVDeviceHistoryInfo"; }
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};

class DAVSessionHistoryInfo : public DAVHistoryInfo {
public:
    std::optional<std::string> sessionId;

    std::string className() const override { return "DAVSessionHistoryInfo"; }
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};

class DAVUserIdHistoryInfo : public DAVHistoryInfo {
public:
    std::optional<std::string> userId;

    std::string className() const override { return "DAVUserIdHistoryInfo"; }
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};
