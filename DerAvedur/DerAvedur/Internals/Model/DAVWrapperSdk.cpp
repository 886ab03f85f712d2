#include "DerAvedur/DerAvedur/Internals/Model/DAVWrapperSdk.h"

#include <typeinfo>

#include "DerAvedur/DerAvedur/Internals/Model/DAVModelSupport.h"

using namespace DAVModelSupport;

DAVWrapperSdk::DAVWrapperSdk(std::optional<std::string> wrapperSdkVersion_, std::optional<std::string> wrapperSdkName_,
                             std::optional<std::string> wrapperRuntimeVersion_,
                             std::optional<std::string> liveUpdateReleaseLabel_,
                             std::optional<std::string> liveUpdateDeploymentKey_,
                             std::optional<std::string> liveUpdatePackageHash_)
    : wrapperSdkVersion(std::move(wrapperSdkVersion_)),
      wrapperSdkName(std::move(wrapperSdkName_)),
      wrapperRuntimeVersion(std::move(wrapperRuntimeVersion_)),
      liveUpdateReleaseLabel(std::move(liveUpdateReleaseLabel_)),
      liveUpdateDeploymentKey(std::move(liveUpdateDeploymentKey_)),
      liveUpdatePackageHash(std::move(liveUpdatePackageHash_)) {}

nlohmann::ordered_json DAVWrapperSdk::serializeToDictionary() const {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    setIfPresent(json, "wrapperSdkVersion", wrapperSdkVersion);
    setIfPresent(json, "wrapperSdkName", wrapperSdkName);
    setIfPresent(json, "wrapperRuntimeVersion", wrapperRuntimeVersion);
    setIfPresent(json, "liveUpdateReleaseLabel", liveUpdateReleaseLabel);
    setIfPresent(json, "liveUpdateDeploymentKey", liveUpdateDeploymentKey);
    setIfPresent(json, "liveUpdatePackageHash", liveUpdatePackageHash);
    return json;
}

bool DAVWrapperSdk::isEqual(const DAVWrapperSdk& other) const {
    if (typeid(*this) != typeid(other)) return false;
    return wrapperSdkVersion == other.wrapperSdkVersion && wrapperSdkName == other.wrapperSdkName &&
           wrapperRuntimeVersion == other.wrapperRuntimeVersion &&
           liveUpdateReleaseLabel == other.liveUpdateReleaseLabel &&
           liveUpdateDeploymentKey == other.liveUpdateDeploymentKey &&
           liveUpdatePackageHash == other.liveUpdatePackageHash;
}

void DAVWrapperSdk::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeIfPresent(coder, "wrapperSdkVersion", wrapperSdkVersion);
    encodeIfPresent(coder, "wrapperSdkName", wrapperSdkName);
    encodeIfPresent(coder, "wrapperRuntimeVersion", wrapperRuntimeVersion);
    encodeIfPresent(coder, "liveUpdateReleaseLabel", liveUpdateReleaseLabel);
    encodeIfPresent(coder, "liveUpdateDeploymentKey", liveUpdateDeploymentKey);
    encodeIfPresent(coder, "liveUpdatePackageHash", liveUpdatePackageHash);
}

void DAVWrapperSdk::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    wrapperSdkVersion = coder.decodeStringForKey("wrapperSdkVersion");
    wrapperSdkName = coder.decodeStringForKey("wrapperSdkName");
    wrapperRuntimeVersion = coder.decodeStringForKey("wrapperRuntimeVersion");
    liveUpdateReleaseLabel = coder.decodeStringForKey("liveUpdateReleaseLabel");
    liveUpdateDeploymentKey = coder.decodeStringForKey("liveUpdateDeploymentKey");
    liveUpdatePackageHash = coder.decodeStringForKey("liveUpdatePackageHash");
}
