#include "DerAvedur/DerAvedur/Shared/Model/DAVLogWithProperties.h"

Foundation::Value DAVLogWithProperties::serializeToDictionary() const {
    Foundation::Value value = DAVAbstractLog::serializeToDictionary();
    Foundation::Dictionary& json = value.mutableDictionary();
    if (!properties.empty()) {
        Foundation::Dictionary object;
        for (const auto& [key, value] : properties)
            if (value.isString()) object.set(key, value);
        json.set("properties", std::move(object));
    }
    return value;
}

bool DAVLogWithProperties::isEqual(const DAVAbstractLog& other) const {
    return DAVAbstractLog::isEqual(other) && properties == static_cast<const DAVLogWithProperties&>(other).properties;
}

void DAVLogWithProperties::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVAbstractLog::encodeWithCoder(coder);
    if (!properties.empty()) coder.encode("properties", Foundation::Value(properties));
}

void DAVLogWithProperties::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVAbstractLog::decodeWithCoder(coder);
    properties = Foundation::Dictionary();
    Foundation::Value value = coder.decodeObjectForKey("properties");
    if (const auto* dictionary = value.dictionaryOrNull())
        for (const auto& [key, entry] : *dictionary)
            if (entry.isString()) properties.set(key, entry);
}
