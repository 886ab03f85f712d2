#include "DerAvedur/DerAvedur/Shared/Model/DAVDevice.h"

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelFields.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"

using namespace DAVModelFields;

namespace {

// After the wrapper's own fields, which its table holds.
const Field<DAVDevice> kDeviceFields[] = {
    {"sdkName", &DAVDevice::sdkName},
    {"sdkVersion", &DAVDevice::sdkVersion},
    {"model", &DAVDevice::model},
    {"oemName", &DAVDevice::oemName},
    {"osName", &DAVDevice::osName},
    {"osVersion", &DAVDevice::osVersion},
    {"osBuild", &DAVDevice::osBuild},
    {"osApiLevel", &DAVDevice::osApiLevel},
    {"locale", &DAVDevice::locale},
    {"timeZoneOffset", &DAVDevice::timeZoneOffset},
    {"screenSize", &DAVDevice::screenSize},
    {"appVersion", &DAVDevice::appVersion},
    {"carrierName", &DAVDevice::carrierName},
    {"carrierCountry", &DAVDevice::carrierCountry},
    {"appBuild", &DAVDevice::appBuild},
    {"appNamespace", &DAVDevice::appNamespace},
};

}  // namespace

Foundation::Value DAVDevice::serializeToDictionary() const {
    Foundation::Value value = DAVWrapperSdk::serializeToDictionary();
    Foundation::Dictionary& json = value.mutableDictionary();
    appendFields(json, *this, kDeviceFields);
    return value;
}

bool DAVDevice::isValid() const {
    if (!DAVWrapperSdk::isValid()) return false;
    const std::pair<const char*, bool> required[] = {
        {"sdkName", sdkName.has_value()},       {"sdkVersion", sdkVersion.has_value()},
        {"osName", osName.has_value()},         {"osVersion", osVersion.has_value()},
        {"locale", locale.has_value()},         {"timeZoneOffset", timeZoneOffset.has_value()},
        {"appVersion", appVersion.has_value()}, {"appBuild", appBuild.has_value()},
    };
    for (const auto& entry : required) {
        if (!entry.second) {
            const char* field = entry.first;
            DAVLogVerbose(kDAVDerAvedurLogTag, "%s: \"%s\" is not valid.", className().c_str(), field);
            return false;
        }
    }
    return true;
}

bool DAVDevice::isEqual(const DAVWrapperSdk& other) const {
    const auto* device = dynamic_cast<const DAVDevice*>(&other);
    return device && DAVWrapperSdk::isEqual(other) && fieldsEqual(*this, *device, kDeviceFields);
}

void DAVDevice::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVWrapperSdk::encodeWithCoder(coder);
    encodeFields(coder, *this, kDeviceFields);
}

void DAVDevice::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVWrapperSdk::decodeWithCoder(coder);
    decodeFields(coder, *this, kDeviceFields);
}
