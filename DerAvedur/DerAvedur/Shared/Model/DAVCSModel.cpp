#include "DerAvedur/DerAvedur/Shared/Model/DAVCSModel.h"

#include <typeinfo>
#include <variant>

#include <nlohmann/json.hpp>

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelFields.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVModelSupport.h"
#include "Platform/Foundation/Json.h"

using namespace DAVModelSupport;
using namespace DAVModelFields;
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
void setObjectIfPresent(Foundation::Dictionary& json, const char* key, const std::shared_ptr<T>& object) {
    if (object) json.set(key, object->serializeToDictionary());
}

const Field<DAVProtocolExtension> kProtocolFields[] = {
    {"ticketKeys", &DAVProtocolExtension::ticketKeys},
    {"devMake", &DAVProtocolExtension::devMake},
    {"devModel", &DAVProtocolExtension::devModel},
};
const Field<DAVUserExtension> kUserFields[] = {
    {"localId", &DAVUserExtension::localId},
    {"locale", &DAVUserExtension::locale},
};
const Field<DAVDeviceExtension> kDeviceFields[] = {
    {"localId", &DAVDeviceExtension::localId},
};
const Field<DAVOSExtension> kOSFields[] = {
    {"name", &DAVOSExtension::name},
    {"ver", &DAVOSExtension::ver},
};
const Field<DAVAppExtension> kAppFields[] = {
    {"id", &DAVAppExtension::appId},      {"ver", &DAVAppExtension::ver},       {"name", &DAVAppExtension::name},
    {"locale", &DAVAppExtension::locale}, {"userId", &DAVAppExtension::userId},
};
const Field<DAVNetExtension> kNetFields[] = {
    {"provider", &DAVNetExtension::provider},
};
const Field<DAVSDKExtension> kSDKFields[] = {
    {"libVer", &DAVSDKExtension::libVer},
    {"epoch", &DAVSDKExtension::epoch},
    {"seq", &DAVSDKExtension::seq},
    {"installId", &DAVSDKExtension::installId},
};
const Field<DAVLocExtension> kLocFields[] = {
    {"tz", &DAVLocExtension::tz},
};

}  // namespace

DAVOrderedJson::DAVOrderedJson() : json_(std::make_unique<Json>(Json::object())) {}
DAVOrderedJson::DAVOrderedJson(const DAVOrderedJson& other) : json_(std::make_unique<Json>(*other.json_)) {}
DAVOrderedJson::DAVOrderedJson(DAVOrderedJson&& other) : json_(std::make_unique<Json>(std::move(*other.json_))) {}
DAVOrderedJson& DAVOrderedJson::operator=(const DAVOrderedJson& other) {
    *json_ = *other.json_;
    return *this;
}
DAVOrderedJson& DAVOrderedJson::operator=(DAVOrderedJson&& other) {
    *json_ = std::move(*other.json_);
    return *this;
}
DAVOrderedJson::~DAVOrderedJson() = default;
Json& DAVOrderedJson::operator[](const std::string& key) { return (*json_)[key]; }
Json& DAVOrderedJson::at(const std::string& key) { return json_->at(key); }
const Json& DAVOrderedJson::at(const std::string& key) const { return json_->at(key); }
bool DAVOrderedJson::contains(const std::string& key) const { return json_->contains(key); }
std::size_t DAVOrderedJson::erase(const std::string& key) { return json_->erase(key); }
bool DAVOrderedJson::empty() const { return json_->empty(); }
std::size_t DAVOrderedJson::size() const { return json_->size(); }

// Every field of these records is in their JSON, so the JSON compares them all.
bool DAVCSModelObject::isEqual(const DAVCSModelObject& other) const {
    return typeid(*this) == typeid(other) && serializeToDictionary() == other.serializeToDictionary();
}

Foundation::Value DAVProtocolExtension::serializeToDictionary() const {
    return fieldsToDictionary(*this, kProtocolFields);
}
void DAVProtocolExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeFields(coder, *this, kProtocolFields);
}
void DAVProtocolExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    decodeFields(coder, *this, kProtocolFields);
}

Foundation::Value DAVUserExtension::serializeToDictionary() const { return fieldsToDictionary(*this, kUserFields); }
void DAVUserExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeFields(coder, *this, kUserFields);
}
void DAVUserExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) { decodeFields(coder, *this, kUserFields); }

Foundation::Value DAVDeviceExtension::serializeToDictionary() const { return fieldsToDictionary(*this, kDeviceFields); }
void DAVDeviceExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeFields(coder, *this, kDeviceFields);
}
void DAVDeviceExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    decodeFields(coder, *this, kDeviceFields);
}

Foundation::Value DAVOSExtension::serializeToDictionary() const { return fieldsToDictionary(*this, kOSFields); }
void DAVOSExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const { encodeFields(coder, *this, kOSFields); }
void DAVOSExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) { decodeFields(coder, *this, kOSFields); }

Foundation::Value DAVAppExtension::serializeToDictionary() const { return fieldsToDictionary(*this, kAppFields); }
void DAVAppExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeFields(coder, *this, kAppFields);
}
void DAVAppExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) { decodeFields(coder, *this, kAppFields); }

Foundation::Value DAVNetExtension::serializeToDictionary() const { return fieldsToDictionary(*this, kNetFields); }
void DAVNetExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeFields(coder, *this, kNetFields);
}
void DAVNetExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) { decodeFields(coder, *this, kNetFields); }

Foundation::Value DAVSDKExtension::serializeToDictionary() const { return fieldsToDictionary(*this, kSDKFields); }
void DAVSDKExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeFields(coder, *this, kSDKFields);
}
void DAVSDKExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) { decodeFields(coder, *this, kSDKFields); }

Foundation::Value DAVLocExtension::serializeToDictionary() const { return fieldsToDictionary(*this, kLocFields); }
void DAVLocExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeFields(coder, *this, kLocFields);
}
void DAVLocExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) { decodeFields(coder, *this, kLocFields); }

Foundation::Value DAVMetadataExtension::serializeToDictionary() const { return Foundation::valueFromJSON(*metadata); }

// The caller's JSON compares as JSON (a number by its value, keys in order).
bool DAVMetadataExtension::isEqual(const DAVCSModelObject& other) const {
    return typeid(*this) == typeid(other) && *metadata == *static_cast<const DAVMetadataExtension&>(other).metadata;
}

void DAVMetadataExtension::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    encodeJson(coder, "metadata", *metadata);
}

void DAVMetadataExtension::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    *metadata = decodeJson(coder, "metadata");
}

Foundation::Value DAVCSExtensions::serializeToDictionary() const {
    Foundation::Dictionary json;
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

// The caller's JSON becomes a Value exactly: its numbers are 64-bit integers
// and doubles (the typed properties and metadata codes).
Foundation::Value DAVCSData::serializeToDictionary() const { return Foundation::valueFromJSON(orderedProperties()); }

bool DAVCSData::isEqual(const DAVCSModelObject& other) const {
    return typeid(*this) == typeid(other) &&
           orderedProperties() == static_cast<const DAVCSData&>(other).orderedProperties();
}

Json DAVCSData::orderedProperties() const {
    Json json = Json::object();
    if (!properties->is_object()) return json;
    for (const char* key : {"baseType", "baseData"})
        if (properties->contains(key)) json[key] = (*properties)[key];
    for (const auto& [key, value] : properties->items())
        if (key != "baseType" && key != "baseData") json[key] = value;
    return json;
}

void DAVCSData::encodeWithCoder(Foundation::KeyedArchiver& coder) const { encodeJson(coder, "properties", *properties); }

void DAVCSData::decodeWithCoder(Foundation::KeyedUnarchiver& coder) { *properties = decodeJson(coder, "properties"); }
