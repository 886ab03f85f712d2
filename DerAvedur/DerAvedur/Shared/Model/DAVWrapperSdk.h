#pragma once
#include <optional>
#include <string>

#include "DerAvedur/DerAvedur/Shared/Model/DAVLog.h"
#include "Platform/Foundation/KeyedArchiver.h"

// The wrapper SDK's identity, the first part of every device record.
class DAVWrapperSdk : public Foundation::Coding, public DAVSerializableObject {
public:
    DAVWrapperSdk() = default;
    DAVWrapperSdk(std::optional<std::string> wrapperSdkVersion, std::optional<std::string> wrapperSdkName,
                  std::optional<std::string> wrapperRuntimeVersion, std::optional<std::string> liveUpdateReleaseLabel,
                  std::optional<std::string> liveUpdateDeploymentKey, std::optional<std::string> liveUpdatePackageHash);

    std::optional<std::string> wrapperSdkVersion;
    std::optional<std::string> wrapperSdkName;
    std::optional<std::string> wrapperRuntimeVersion;
    std::optional<std::string> liveUpdateReleaseLabel;
    std::optional<std::string> liveUpdateDeploymentKey;
    std::optional<std::string> liveUpdatePackageHash;

    std::string className() const override { return "DAVWrapperSdk"; }
    Foundation::Value serializeToDictionary() const override;
    virtual bool isValid() const { return true; }
    virtual bool isEqual(const DAVWrapperSdk& other) const;

    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    virtual void decodeWithCoder(Foundation::KeyedUnarchiver& coder);
};
