#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVEventLog.h"

#include <nlohmann/json.hpp>

#include "DerAvedur/DerAvedur/Shared/Model/DAVCommonSchemaLog.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/DAVAnalyticsConstants.h"

using Json = nlohmann::ordered_json;

DAVEventLog::DAVEventLog() { setType(kDAVEventLogType); }

bool DAVEventLog::isValid() const {
    if (!DAVLogWithNameAndProperties::isValid()) return false;
    if (!eventId) {
        logInvalidField("id");
        return false;
    }
    return true;
}

Foundation::Value DAVEventLog::serializeToDictionary() const {
    Foundation::Value value = DAVLogWithNameAndProperties::serializeToDictionary();
    Foundation::Dictionary& json = value.mutableDictionary();
    if (eventId) json.set("id", *eventId);
    if (typedProperties && !typedProperties->isEmpty())
        json.set("typedProperties", typedProperties->serializeToArray());
    return value;
}

bool DAVEventLog::isEqual(const DAVAbstractLog& other) const {
    if (!DAVLogWithNameAndProperties::isEqual(other)) return false;
    const auto& event = static_cast<const DAVEventLog&>(other);
    if (eventId != event.eventId) return false;
    if (!typedProperties || !event.typedProperties) return !typedProperties && !event.typedProperties;
    return typedProperties->isEqual(*event.typedProperties);
}

namespace {

// Metadata type codes of the collector for values that JSON alone does not type.
constexpr int kMetadataLong = 4;
constexpr int kMetadataDouble = 6;
constexpr int kMetadataDateTime = 9;

int metadataType(const DAVTypedProperty& property) {
    if (dynamic_cast<const DAVLongTypedProperty*>(&property)) return kMetadataLong;
    if (dynamic_cast<const DAVDoubleTypedProperty*>(&property)) return kMetadataDouble;
    if (dynamic_cast<const DAVDateTimeTypedProperty*>(&property)) return kMetadataDateTime;
    return 0;
}

std::vector<std::string> splitKey(const std::string& key) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        std::size_t dot = key.find('.', start);
        parts.push_back(key.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) return parts;
        start = dot + 1;
    }
}

// Places `value` at the dotted path inside `root`; false when the path is
// empty somewhere or collides with a value already there.
bool placeAtPath(Json& root, const std::vector<std::string>& path, Json value) {
    Json* node = &root;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const std::string& part = path[i];
        if (part.empty() || !node->is_object()) return false;
        if (i + 1 == path.size()) {
            if (node->contains(part)) return false;
            (*node)[part] = std::move(value);
            return true;
        }
        if (!node->contains(part)) (*node)[part] = Json::object();
        node = &(*node)[part];
    }
    return false;
}

}  // namespace

std::shared_ptr<DAVCommonSchemaLog> DAVEventLog::toCommonSchemaLogForTargetToken(const std::string& token,
                                                                                 DAVFlags flags) const {
    auto csLog = DAVLogWithNameAndProperties::toCommonSchemaLogForTargetToken(token, flags);
    if (!csLog) return nullptr;
    csLog->name = name;

    std::vector<std::shared_ptr<DAVTypedProperty>> entries;
    if (typedProperties) {
        entries = typedProperties->properties();
    } else {
        for (const auto& [key, value] : properties)
            if (value.isString()) entries.push_back(std::make_shared<DAVStringTypedProperty>(key, value.asString()));
    }

    auto data = std::make_shared<DAVCSData>();
    Json fields = Json::object();
    for (const auto& property : entries) {
        if (property->name == "baseType" && !dynamic_cast<const DAVStringTypedProperty*>(property.get())) {
            DAVLogWarning(kDAVAnalyticsLogTag, "baseType must be a string, dropping the property.");
            continue;
        }
        const std::vector<std::string> path = splitKey(property->name);
        if (!placeAtPath(*data->properties, path, property->jsonValue())) {
            DAVLogWarning(kDAVAnalyticsLogTag, "Property key '%s' is empty or collides with another key, dropping it.",
                          property->name.c_str());
            continue;
        }
        if (int code = metadataType(*property)) placeAtPath(fields, path, code);
    }
    // The collector reads baseData only under a baseType and the reverse.
    const bool hasBaseType = data->properties.contains("baseType");
    const bool hasBaseData = data->properties.contains("baseData");
    if (hasBaseType != hasBaseData) {
        const char* present = hasBaseType ? "baseType" : "baseData";
        DAVLogWarning(kDAVAnalyticsLogTag, "%s needs both baseType and baseData, dropping it.", present);
        data->properties.erase(present);
        fields.erase(present);
    }
    if (!data->properties.empty()) csLog->data = std::move(data);
    if (!fields.empty()) {
        if (!csLog->ext) csLog->ext = std::make_shared<DAVCSExtensions>();
        csLog->ext->metadataExt = std::make_shared<DAVMetadataExtension>();
        *csLog->ext->metadataExt->metadata = Json::object({{"f", std::move(fields)}});
    }
    return csLog;
}

void DAVEventLog::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    DAVLogWithNameAndProperties::encodeWithCoder(coder);
    if (eventId) coder.encode("id", Foundation::Value(*eventId));
    if (typedProperties) coder.encode("typedProperties", Foundation::Value(typedProperties));
}

void DAVEventLog::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    DAVLogWithNameAndProperties::decodeWithCoder(coder);
    eventId = coder.decodeStringForKey("id");
    typedProperties = coder.decodeObjectOfClass<DAVEventProperties>("typedProperties");
}
