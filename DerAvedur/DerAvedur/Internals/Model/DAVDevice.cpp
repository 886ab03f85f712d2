#include "DerAvedur/DerAvedur/Internals/Model/DAVDevice.h"

#include "DerAvedur/DerAvedur/Internals/Model/DAVModelSupport.h"
#include "DerAvedur/DerAvedur/Internals/Util/DAVLogger.h"

using namespace DAVModelSupport;

nlohmann::ordered_json DAVDevice::serializeToDictionary() const {
    nlohmann::ordered_json json = DAVWrapperSdk::serializeToDictionary();
    setIfPresent(json, "sdkName", sdkName);
    setIfPresent(json, "sdkVersion", sdkVersion);
    setIfPresent(json, "model", model);
    setIfPresent(json, "oemName", oemName);
    setIfPresent(json, "osName", osName);
    setIfPresent(json, "osVersion", osVersion);
    setIfPresent(json, "osBuild", osBuild);
    setIfPresent(json, "osApiLevel", osApiLevel);
    setIfPresent(json, "locale", locale);
    setIfPresent(json, "timeZoneOffset", timeZoneOffset);
    setIfPresent(json, "screenSize", screenSize);
    setIfPresent(json, "appVersion", appVersion);
    setIfPresent(json, "carrierName", carrierName);
    setIfPresent(json, "carrierCountry", carrierCountry);
    setIfPresent(json, "appBuild", appBuild);
    setIfPresent(json, "appNamespace", appNamespace);
    return json;
}

bool DAVDevice::isValid() const {
    if (!DAVWrapperSdk::isValid()) return false;
    const std::pair<const char*, bool> required[] = {
        {"sdkName", sdkName.has_value()},   {"sdkVersion", sdkVersion.has_value()},
        {"osName", osName.has_value()},     {"osVersion", osVersion.has_value()},
        {"locale", locale.has_value()},     {"timeZoneOffset", timeZoneOffset.has_value()},
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
    if (!device || !DAVWrapperSdk::isEqual(other)) return false;
    return sdkName == device->sdkName && sdkVersion == device->sdkVersion && model == device->model &&
           oemName == device->oemName && osName == device->osName && osVersion == device->osVersion &&
           osBuild == device->osBuild && osApiLevel == device->osApiLevel && locale == device->locale &&
           timeZoneOffset == device->timeZoneOffset && screenSize == device->screenSize &&
           appVersion == device->appVersion && carrierName == device->carrierName &&
           carrierCountry == device->carrierCountry && appBuild == device->appBuild &&
           appNamespace == device->appNamespace;
}

void DAVDevice::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVWrapperSdk::encodeWithCoder(coder);
    encodeIfPresent(coder, "sdkName", sdkName);
    encodeIfPresent(coder, "sdkVersion", sdkVersion);
    encodeIfPresent(coder, "model", model);
    encodeIfPresent(coder, "oemName", oemName);
    encodeIfPresent(coder, "osName", osName);
    encodeIfPresent(coder, "osVersion", osVersion);
    encodeIfPresent(coder, "osBuild", osBuild);
    encodeIfPresent(coder, "osApiLevel", osApiLevel);
    encodeIfPresent(coder, "locale", locale);
    encodeIfPresent(coder, "timeZoneOffset", timeZoneOffset);
    encodeIfPresent(coder, "screenSize", screenSize);
    encodeIfPresent(coder, "appVersion", appVersion);
    encodeIfPresent(coder, "carrierName", carrierName);
    encodeIfPresent(coder, "carrierCountry", carrierCountry);
    encodeIfPresent(coder, "appBuild", appBuild);
    encodeIfPresent(coder, "appNamespace", appNamespace);
}

void DAVDevice::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVWrapperSdk::decodeWithCoder(coder);
    sdkName = coder.decodeStringForKey("sdkName");
    sdkVersion = coder.decodeStringForKey("sdkVersion");
    model = coder.decodeStringForKey("model");
    oemName = coder.decodeStringForKey("oemName");
    osName = coder.decodeStringForKey("osName");
    osVersion = coder.decodeStringForKey("osVersion");
    osBuild = coder.decodeStringForKey("osBuild");
    osApiLevel = decodeOptionalInteger(coder, "osApiLevel");
    locale = coder.decodeStringForKey("locale");
    timeZoneOffset = decodeOptionalInteger(coder, "timeZoneOffset");
    screenSize = coder.decodeStringForKey("screenSize");
    appVersion = coder.decodeStringForKey("appVersion");
    carrierName = coder.decodeStringForKey("carrierName");
    carrierCountry = coder.decodeStringForKey("carrierCountry");
    appBuild = coder.decodeStringForKey("appBuild");
    appNamespace = coder.decodeStringForKey("appNamespace");
}
