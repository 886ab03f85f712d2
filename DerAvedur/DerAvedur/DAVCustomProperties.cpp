#include "DerAvedur/DerAvedur/DAVCustomProperties.h"

#include <cmath>
#include <regex>

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelSupport.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Text.h"

namespace {

constexpr const char* kTag = kDAVDerAvedurLogTag;

}  // namespace

bool DAVCustomProperties::isValidKey(const std::string& key) const {
    static const std::regex pattern("^[a-zA-Z][a-zA-Z0-9\\-_]*$");
    if (key.size() > kMaxPropertyKeyLength || !std::regex_match(key, pattern)) {
        DAVLogError(
            kTag,
            "Custom property \"%s\" must match \"^[a-zA-Z][a-zA-Z0-9\\-_]*$\" and be at most %zu characters long.",
            key.c_str(), kMaxPropertyKeyLength);
        return false;
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (!properties_.contains(key) && properties_.size() >= kMaxPropertiesCount) {
        DAVLogError(kTag, "Custom properties cannot contain more than %zu items.", kMaxPropertiesCount);
        return false;
    }
    return true;
}

void DAVCustomProperties::set(const std::string& key, Foundation::Value value) {
    std::lock_guard<std::mutex> guard(lock_);
    properties_.set(key, std::move(value));
}

DAVCustomProperties& DAVCustomProperties::setString(const std::string& value, const std::string& key) {
    if (!isValidKey(key)) return *this;
    if (Foundation::utf16Length(value) > kMaxPropertyValueLength) {
        DAVLogError(kTag, "Custom property \"%s\" value length cannot be longer than %zu characters.", key.c_str(),
                    kMaxPropertyValueLength);
        return *this;
    }
    set(key, Foundation::Value(value));
    return *this;
}

DAVCustomProperties& DAVCustomProperties::setNumber(double value, const std::string& key) {
    if (!std::isfinite(value)) {
        DAVLogError(kTag, "Custom property \"%s\" value cannot be NaN or infinite.", key.c_str());
        return *this;
    }
    if (isValidKey(key)) set(key, Foundation::Value(value));
    return *this;
}

DAVCustomProperties& DAVCustomProperties::setBool(bool value, const std::string& key) {
    if (isValidKey(key)) set(key, Foundation::Value(value));
    return *this;
}

DAVCustomProperties& DAVCustomProperties::setDate(Foundation::Date value, const std::string& key) {
    if (isValidKey(key)) set(key, Foundation::Value(value));
    return *this;
}

DAVCustomProperties& DAVCustomProperties::clearPropertyForKey(const std::string& key) {
    if (isValidKey(key)) set(key, Foundation::Value());
    return *this;
}

Foundation::Dictionary DAVCustomProperties::propertiesImmutableCopy() const {
    std::lock_guard<std::mutex> guard(lock_);
    return properties_;
}

DAVCustomPropertiesLog::DAVCustomPropertiesLog() { setType("customProperties"); }

Foundation::Value DAVCustomPropertiesLog::serializeToDictionary() const {
    Foundation::Value value = DAVAbstractLog::serializeToDictionary();
    Foundation::Dictionary& json = value.mutableDictionary();
    Foundation::Array list;
    for (const auto& [key, value] : properties) {
        Foundation::Dictionary entry;
        entry.set("name", key);
        if (value.isNull()) {
            entry.set("type", "clear");
        } else if (value.isString()) {
            entry.set("type", "string");
            entry.set("value", value.asString());
        } else if (value.isBool()) {
            entry.set("type", "boolean");
            entry.set("value", value.asBool());
        } else if (value.isDate()) {
            entry.set("type", "dateTime");
            entry.set("value", DAVUtility::dateToISO8601(value.asDate()));
        } else if (auto number = value.numberValue()) {
            entry.set("type", "number");
            entry.set("value", *number);
        } else {
            continue;
        }
        list.push_back(std::move(entry));
    }
    json.set("properties", std::move(list));
    return value;
}

bool DAVCustomPropertiesLog::isEqual(const DAVAbstractLog& other) const {
    return DAVAbstractLog::isEqual(other) && properties == static_cast<const DAVCustomPropertiesLog&>(other).properties;
}

void DAVCustomPropertiesLog::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVAbstractLog::encodeWithCoder(coder);
    // Cleared keys are kept as names in their own list: archives hold no null inside a dictionary.
    Foundation::Dictionary values;
    Foundation::Array cleared;
    for (const auto& [key, value] : properties) {
        if (value.isNull())
            cleared.emplace_back(key);
        else
            values.set(key, value);
    }
    coder.encode("properties", Foundation::Value(std::move(values)));
    coder.encode("clearedProperties", Foundation::Value(std::move(cleared)));
}

void DAVCustomPropertiesLog::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVAbstractLog::decodeWithCoder(coder);
    properties = Foundation::Dictionary();
    Foundation::Value values = coder.decodeObjectForKey("properties");
    if (const auto* dictionary = values.dictionaryOrNull())
        for (const auto& [key, value] : *dictionary) properties.set(key, value);
    Foundation::Value cleared = coder.decodeObjectForKey("clearedProperties");
    if (const auto* array = cleared.arrayOrNull())
        for (const auto& key : *array)
            if (key.isString()) properties.set(key.asString(), Foundation::Value());
}

void DAVCustomPropertiesLog::registerCodingClass() {
    static Foundation::OnceFlag flag;
    Foundation::once(flag,
                     [] { DAVModelSupport::registerCodingClass<DAVCustomPropertiesLog>("DAVCustomPropertiesLog"); });
}
