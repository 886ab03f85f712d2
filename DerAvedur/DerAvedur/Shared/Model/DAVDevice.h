#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "DerAvedur/DerAvedur/Shared/Model/DAVWrapperSdk.h"

// The device every log carries; filled by the device tracker.
class DAVDevice : public DAVWrapperSdk {
public:
    std::optional<std::string> sdkName;
    std::optional<std::string> sdkVersion;
    std::optional<std::string> model;
    std::optional<std::string> oemName;
    std::optional<std::string> osName;
    std::optional<std::string> osVersion;
    std::optional<std::string> osBuild;
    std::optional<std::int64_t> osApiLevel;
    std::optional<std::string> locale;
    std::optional<std::int64_t> timeZoneOffset;  // minutes from UTC
    std::optional<std::string> screenSize;
    std::optional<std::string> appVersion;
    std::optional<std::string> carrierName;
    std::optional<std::string> carrierCountry;
    std::optional<std::string> appBuild;
    std::optional<std::string> appNamespace;

    std::string className() const override { return "DAVDevice"; }
    Foundation::Value serializeToDictionary() const override;
    // Logs the first missing required field at VERBOSE.
    bool isValid() const override;
    bool isEqual(const DAVWrapperSdk& other) const override;

    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};
