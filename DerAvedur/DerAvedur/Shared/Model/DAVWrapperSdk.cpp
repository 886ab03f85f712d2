#include "DerAvedur/DerAvedur/Shared/Model/DAVWrapperSdk.h"

#include <typeinfo>

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelFields.h"

using namespace DAVModelFields;

namespace {

const Field<DAVWrapperSdk> kWrapperFields[] = {
    {"wrapperSdkVersion", &DAVWrapperSdk::wrapperSdkVersion},
    {"wrapperSdkName", &DAVWrapperSdk::wrapperSdkName},
    {"wrapperRuntimeVersion", &DAVWrapperSdk::wrapperRuntimeVersion},
    {"liveUpdateReleaseLabel", &DAVWrapperSdk::liveUpdateReleaseLabel},
    {"liveUpdateDeploymentKey", &DAVWrapperSdk::liveUpdateDeploymentKey},
    {"liveUpdatePackageHash", &DAVWrapperSdk::liveUpdatePackageHash},
};

}  // namespace

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

Foundation::Value DAVWrapperSdk::serializeToDictionary() const { return fieldsToDictionary(*this, kWrapperFields); }

bool DAVWrapperSdk::isEqual(const DAVWrapperSdk& other) const {
    return typeid(*this) == typeid(other) && fieldsEqual(*this, other, kWrapperFields);
}

void DAVWrapperSdk::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeFields(coder, *this, kWrapperFields);
}

void DAVWrapperSdk::decodeWithCoder(Foundation::KeyedUnarchiver& coder) { decodeFields(coder, *this, kWrapperFields); }
