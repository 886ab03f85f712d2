#include "DerAvedur/DerAvedur/Internals/Model/DAVStartServiceLog.h"

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelSupport.h"

DAVStartServiceLog::DAVStartServiceLog() { setType("startService"); }

Foundation::Value DAVStartServiceLog::serializeToDictionary() const {
    Foundation::Value value = DAVAbstractLog::serializeToDictionary();
    Foundation::Dictionary& json = value.mutableDictionary();
    if (services) json.set("services", DAVModelSupport::textArray(*services));
    return value;
}

bool DAVStartServiceLog::isEqual(const DAVAbstractLog& other) const {
    return DAVAbstractLog::isEqual(other) && services == static_cast<const DAVStartServiceLog&>(other).services;
}

void DAVStartServiceLog::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVAbstractLog::encodeWithCoder(coder);
    if (services) {
        Foundation::Array names;
        for (const auto& name : *services) names.emplace_back(name);
        coder.encode("services", Foundation::Value(std::move(names)));
    }
}

void DAVStartServiceLog::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVAbstractLog::decodeWithCoder(coder);
    services.reset();
    Foundation::Value value = coder.decodeObjectForKey("services");
    if (const auto* array = value.arrayOrNull()) {
        services.emplace();
        for (const auto& name : *array)
            if (name.isString()) services->push_back(name.asString());
    }
}
