#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVLogWithNameAndProperties.h"

bool DAVLogWithNameAndProperties::isValid() const {
    if (!DAVLogWithProperties::isValid()) return false;
    if (!name) {
        logInvalidField("name");
        return false;
    }
    return true;
}

Foundation::Value DAVLogWithNameAndProperties::serializeToDictionary() const {
    Foundation::Value value = DAVLogWithProperties::serializeToDictionary();
    Foundation::Dictionary& json = value.mutableDictionary();
    if (name) json.set("name", *name);
    return value;
}

bool DAVLogWithNameAndProperties::isEqual(const DAVAbstractLog& other) const {
    return DAVLogWithProperties::isEqual(other) && name == static_cast<const DAVLogWithNameAndProperties&>(other).name;
}

void DAVLogWithNameAndProperties::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVLogWithProperties::encodeWithCoder(coder);
    if (name) coder.encode("name", Foundation::Value(*name));
}

void DAVLogWithNameAndProperties::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVLogWithProperties::decodeWithCoder(coder);
    name = coder.decodeStringForKey("name");
}
