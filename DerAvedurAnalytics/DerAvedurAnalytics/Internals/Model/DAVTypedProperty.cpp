#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVTypedProperty.h"

#include <typeinfo>

#include <nlohmann/json.hpp>

#include "DerAvedur/DerAvedur/Shared/Model/DAVAbstractLog.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Json.h"

Foundation::Value DAVTypedProperty::serializeToDictionary() const {
    Foundation::Dictionary json{{"type", type}, {"name", name}};
    nlohmann::ordered_json value = jsonValue();
    if (!value.is_null()) json.set("value", Foundation::valueFromJSON(value));
    return json;
}

bool DAVTypedProperty::isEqual(const DAVTypedProperty& other) const {
    return typeid(*this) == typeid(other) && type == other.type && name == other.name;
}

std::shared_ptr<DAVTypedProperty> DAVTypedProperty::copyWithName(const std::string&) const { return nullptr; }

nlohmann::ordered_json DAVTypedProperty::jsonValue() const { return nullptr; }

void DAVTypedProperty::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    coder.encode("type", Foundation::Value(type));
    coder.encode("name", Foundation::Value(name));
}

void DAVTypedProperty::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    if (auto decoded = coder.decodeStringForKey("type")) type = *decoded;
    name = coder.decodeStringForKey("name").value_or("");
}

// --- string ------------------------------------------------------------------

DAVStringTypedProperty::DAVStringTypedProperty(std::string propertyName, std::string propertyValue)
    : DAVStringTypedProperty() {
    name = std::move(propertyName);
    value = std::move(propertyValue);
}

bool DAVStringTypedProperty::isEqual(const DAVTypedProperty& other) const {
    return DAVTypedProperty::isEqual(other) && value == static_cast<const DAVStringTypedProperty&>(other).value;
}

std::shared_ptr<DAVTypedProperty> DAVStringTypedProperty::copyWithName(const std::string& newName) const {
    return std::make_shared<DAVStringTypedProperty>(newName, value);
}

nlohmann::ordered_json DAVStringTypedProperty::jsonValue() const { return value; }

void DAVStringTypedProperty::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVTypedProperty::encodeWithCoder(coder);
    coder.encode("value", Foundation::Value(value));
}

void DAVStringTypedProperty::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVTypedProperty::decodeWithCoder(coder);
    value = coder.decodeStringForKey("value").value_or("");
}

// --- boolean -----------------------------------------------------------------

DAVBooleanTypedProperty::DAVBooleanTypedProperty(std::string propertyName, bool propertyValue)
    : DAVBooleanTypedProperty() {
    name = std::move(propertyName);
    value = propertyValue;
}

bool DAVBooleanTypedProperty::isEqual(const DAVTypedProperty& other) const {
    return DAVTypedProperty::isEqual(other) && value == static_cast<const DAVBooleanTypedProperty&>(other).value;
}

std::shared_ptr<DAVTypedProperty> DAVBooleanTypedProperty::copyWithName(const std::string& newName) const {
    return std::make_shared<DAVBooleanTypedProperty>(newName, value);
}

nlohmann::ordered_json DAVBooleanTypedProperty::jsonValue() const { return value; }

void DAVBooleanTypedProperty::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVTypedProperty::encodeWithCoder(coder);
    coder.encode("value", Foundation::Value(value));
}

void DAVBooleanTypedProperty::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVTypedProperty::decodeWithCoder(coder);
    value = coder.decodeBoolForKey("value");
}

// --- long --------------------------------------------------------------------

DAVLongTypedProperty::DAVLongTypedProperty(std::string propertyName, std::int64_t propertyValue)
    : DAVLongTypedProperty() {
    name = std::move(propertyName);
    value = propertyValue;
}

bool DAVLongTypedProperty::isEqual(const DAVTypedProperty& other) const {
    return DAVTypedProperty::isEqual(other) && value == static_cast<const DAVLongTypedProperty&>(other).value;
}

std::shared_ptr<DAVTypedProperty> DAVLongTypedProperty::copyWithName(const std::string& newName) const {
    return std::make_shared<DAVLongTypedProperty>(newName, value);
}

nlohmann::ordered_json DAVLongTypedProperty::jsonValue() const { return value; }

void DAVLongTypedProperty::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVTypedProperty::encodeWithCoder(coder);
    coder.encode("value", Foundation::Value(value));
}

void DAVLongTypedProperty::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVTypedProperty::decodeWithCoder(coder);
    value = coder.decodeIntegerForKey("value");
}

// --- double ------------------------------------------------------------------

DAVDoubleTypedProperty::DAVDoubleTypedProperty(std::string propertyName, double propertyValue)
    : DAVDoubleTypedProperty() {
    name = std::move(propertyName);
    value = propertyValue;
}

bool DAVDoubleTypedProperty::isEqual(const DAVTypedProperty& other) const {
    return DAVTypedProperty::isEqual(other) && value == static_cast<const DAVDoubleTypedProperty&>(other).value;
}

std::shared_ptr<DAVTypedProperty> DAVDoubleTypedProperty::copyWithName(const std::string& newName) const {
    return std::make_shared<DAVDoubleTypedProperty>(newName, value);
}

nlohmann::ordered_json DAVDoubleTypedProperty::jsonValue() const { return value; }

void DAVDoubleTypedProperty::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVTypedProperty::encodeWithCoder(coder);
    coder.encode("value", Foundation::Value(value));
}

void DAVDoubleTypedProperty::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVTypedProperty::decodeWithCoder(coder);
    value = coder.decodeDoubleForKey("value");
}

// --- date and time -------------------------------------------------------------

DAVDateTimeTypedProperty::DAVDateTimeTypedProperty(std::string propertyName, Foundation::Date propertyValue)
    : DAVDateTimeTypedProperty() {
    name = std::move(propertyName);
    value = propertyValue;
}

bool DAVDateTimeTypedProperty::isEqual(const DAVTypedProperty& other) const {
    return DAVTypedProperty::isEqual(other) &&
           DAVTimestampsEqual(value, static_cast<const DAVDateTimeTypedProperty&>(other).value);
}

std::shared_ptr<DAVTypedProperty> DAVDateTimeTypedProperty::copyWithName(const std::string& newName) const {
    return std::make_shared<DAVDateTimeTypedProperty>(newName, value);
}

nlohmann::ordered_json DAVDateTimeTypedProperty::jsonValue() const { return DAVUtility::dateToISO8601(value); }

void DAVDateTimeTypedProperty::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVTypedProperty::encodeWithCoder(coder);
    coder.encode("value", Foundation::Value(value));
}

void DAVDateTimeTypedProperty::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVTypedProperty::decodeWithCoder(coder);
    Foundation::Value decoded = coder.decodeObjectForKey("value");
    value = decoded.isDate() ? decoded.asDate() : Foundation::Date{};
}
