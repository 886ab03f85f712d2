#include "DerAvedur/DerAvedur/Internals/Model/DAVCSModel.h"

#include <typeinfo>

#include "DerAvedur/DerAvedur/Internals/Model/DAVModelSupport.h"
#include "Platform/Foundation/Json.h"

using namespace DAVModelSupport;
using Json = nlohmann::ordered_json;

namespace {

void encodeJson(Foundation::KeyedArchiver& coder, const char* key, const Json& json) {
    coder.encode(key, Foundation::valueFromJSON(json));
}

Json decodeJson(Foundation::KeyedUnarchiver& coder, const char* key) {
    Foundation::Value value = coder.decodeObjectForKey(key);
    if (!value.isDictionary()) return Json::object();
    return Foundation::toJSON(value);
}

template <class T>
void encodeObject(Foundation::KeyedArchiver& coder, const char* key, const std::shared_ptr<T>& object) {
    if (object) coder.encode(key, Foundation::Value(object));
}

template <class T>
void setObjectIfPresent(Json& json, const char* key, const std::shared_ptr<T>& object) {
    if (object) json[key] = object->serializeToDictionary();
}

}  // namespace

// Every field of these records is in their JSON, so the JSON compares them all.
bool DAVCSModelObject::isEqual(const DAVCSModelObject& other) const {
    return typeid(*this) == typeid(other) && serializeToDictionary() == other.serializeToDictionary();
}

Json DAVProtocolExtension::serializeToDictionary() const {
    Json json = Json::object();
    if (ticketKeys) json["ticketKeys"] = *ticketKeys;
    setIfPresent(json, "devMake", devMake);
    setIfPresent(json, "devModel", devModel);
    return json;
}

void DAVProtocolExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    if (ticketKeys) {
        Foundation::Array keys;
        for (const auto& key : *ticketKeys) keys.emplace_back(key);
        coder.encode("ticketKeys", Foundation::Value(std::move(keys)));
    }
    encodeIfPresent(coder, "devMake", devMake);
    encodeIfPresent(coder, "devModel", devModel);
}

void DAVProtocolExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    Foundation::Value keys = coder.decodeObjectForKey("ticketKeys");
    if (const auto* array = keys.arrayOrNull()) {
        ticketKeys.emplace();
        for (const auto& key : *array)
            if (key.isString()) ticketKeys->push_back(key.asString());
    }
    devMake = coder.decodeStringForKey("devMake");
    devModel = coder.decodeStringForKey("devModel");
}

Json DAVUserExtension::serializeToDictionary() const {
    Json json = Json::object();
    setIfPresent(json, "localId", localId);
    setIfPresent(json, "locale", locale);
    return json;
}

void DAVUserExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeIfPresent(coder, "localId", localId);
    encodeIfPresent(coder, "locale", locale);
}

void DAVUserExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    localId = coder.decodeStringForKey("localId");
    locale = coder.decodeStringForKey("locale");
}

Json DAVDeviceExtension::serializeToDictionary() const {
    Json json = Json::object();
    setIfPresent(json, "localId", localId);
    return json;
}

void DAVDeviceExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeIfPresent(coder, "localId", localId);
}

void DAVDeviceExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    localId = coder.decodeStringForKey("localId");
}

Json DAVOSExtension::serializeToDictionary() const {
    Json json = Json::object();
    setIfPresent(json, "name", name);
    setIfPresent(json, "ver", ver);
    return json;
}

void DAVOSExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeIfPresent(coder, "name", name);
    encodeIfPresent(coder, "ver", ver);
}

void DAVOSExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    name = coder.decodeStringForKey("name");
    ver = coder.decodeStringForKey("ver");
}

Json DAVAppExtension::serializeToDictionary() const {
    Json json = Json::object();
    setIfPresent(json, "id", appId);
    setIfPresent(json, "ver", ver);
    setIfPresent(json, "name", name);
    setIfPresent(json, "locale", locale);
    setIfPresent(json, "userId", userId);
    return json;
}

void DAVAppExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeIfPresent(coder, "id", appId);
    encodeIfPresent(coder, "ver", ver);
    encodeIfPresent(coder, "name", name);
    encodeIfPresent(coder, "locale", locale);
    encodeIfPresent(coder, "userId", userId);
}

void DAVAppExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    appId = coder.decodeStringForKey("id");
    ver = coder.decodeStringForKey("ver");
    name = coder.decodeStringForKey("name");
    locale = coder.decodeStringForKey("locale");
    userId = coder.decodeStringForKey("userId");
}

Json DAVNetExtension::serializeToDictionary() const {
    Json json = Json::object();
    setIfPresent(json, "provider", provider);
    return json;
}

void DAVNetExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeIfPresent(coder, "provider", provider);
}

void DAVNetExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    provider = coder.decodeStringForKey("provider");
}

Json DAVSDKExtension::serializeToDictionary() const {
    Json json = Json::object();
    setIfPresent(json, "libVer", libVer);
    setIfPresent(json, "epoch", epoch);
    setIfPresent(json, "seq", seq);
    setIfPresent(json, "installId", installId);
    return json;
}

void DAVSDKExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeIfPresent(coder, "libVer", libVer);
    encodeIfPresent(coder, "epoch", epoch);
    encodeIfPresent(coder, "seq", seq);
    encodeIfPresent(coder, "installId", installId);
}

void DAVSDKExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    libVer = coder.decodeStringForKey("libVer");
    epoch = coder.decodeStringForKey("epoch");
    seq = decodeOptionalInteger(coder, "seq");
    installId = coder.decodeStringForKey("installId");
}

Json DAVLocExtension::serializeToDictionary() const {
    Json json = Json::object();
    setIfPresent(json, "tz", tz);
    return json;
}

void DAVLocExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const { encodeIfPresent(coder, "tz", tz); }

void DAVLocExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) { tz = coder.decodeStringForKey("tz"); }

void DAVMetadataExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeJson(coder, "metadata", metadata);
}

void DAVMetadataExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    metadata = decodeJson(coder, "metadata");
}

Json DAVCSExtensions::serializeToDictionary() const {
    Json json = Json::object();
    setObjectIfPresent(json, "metadata", metadataExt);
    setObjectIfPresent(json, "protocol", protocolExt);
    setObjectIfPresent(json, "user", userExt);
    setObjectIfPresent(json, "device", deviceExt);
    setObjectIfPresent(json, "os", osExt);
    setObjectIfPresent(json, "app", appExt);
    setObjectIfPresent(json, "net", netExt);
    setObjectIfPresent(json, "sdk", sdkExt);
    setObjectIfPresent(json, "loc", locExt);
    return json;
}

void DAVCSExtensions::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeObject(coder, "metadata", metadataExt);
    encodeObject(coder, "protocol", protocolExt);
    encodeObject(coder, "user", userExt);
    encodeObject(coder, "device", deviceExt);
    encodeObject(coder, "os", osExt);
    encodeObject(coder, "app", appExt);
    encodeObject(coder, "net", netExt);
    encodeObject(coder, "sdk", sdkExt);
    encodeObject(coder, "loc", locExt);
}

void DAVCSExtensions::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    metadataExt = coder.decodeObjectOfClass<DAVMetadataExtension>("metadata");
    protocolExt = coder.decodeObjectOfClass<DAVProtocolExtension>("protocol");
    userExt = coder.decodeObjectOfClass<DAVUserExtension>("user");
    deviceExt = coder.decodeObjectOfClass<DAVDeviceExtension>("device");
    osExt = coder.decodeObjectOfClass<DAVOSExtension>("os");
    appExt = coder.decodeObjectOfClass<DAVAppExtension>("app");
    netExt = coder.decodeObjectOfClass<DAVNetExtension>("net");
    sdkExt = coder.decodeObjectOfClass<DAVSDKExtension>("sdk");
    locExt = coder.decodeObjectOfClass<DAVLocExtension>("loc");
}

Json DAVCSData::serializeToDictionary() const {
    Json json = Json::object();
    if (!properties.is_object()) return json;
    for (const char* key : {"baseType", "baseData"})
        if (properties.contains(key)) json[key] = properties[key];
    for (const auto& [key, value] : properties.items())
        if (key != "baseType" && key != "baseData") json[key] = value;
    return json;
}

void DAVCSData::encodeWithCoder(Foundation::KeyedArchiver& coder) const { encodeJson(coder, "properties", properties); }

void DAVCSData::decodeWithCoder(Foundation::KeyedUnarchiver& coder) { properties = decodeJson(coder, "properties"); }
