#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Validation/DAVAnalyticsValidation.h"

#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/DAVAnalyticsConstants.h"
#include "Platform/Foundation/Text.h"

namespace DAVAnalyticsValidation {

std::optional<std::string> validateEventName(const std::optional<std::string>& name, const std::string& logType) {
    if (!name || name->empty()) {
        DAVLogError(kDAVAnalyticsLogTag, "%s name cannot be null or empty", logType.c_str());
        return std::nullopt;
    }
    if (Foundation::utf16Length(*name) > kDAVMaxEventNameLength) {
        DAVLogWarning(kDAVAnalyticsLogTag,
                      "%s '%s' : name length cannot be longer than %d characters. Name will be truncated.",
                      logType.c_str(), name->c_str(), static_cast<int>(kDAVMaxEventNameLength));
        return Foundation::utf16Prefix(*name, kDAVMaxEventNameLength);
    }
    return name;
}

bool validateLog(DAVLogWithNameAndProperties& log) {
    const std::string type = log.type().value_or("");
    std::optional<std::string> name = validateEventName(log.name, type);
    if (!name) return false;
    log.name = *name;
    log.properties = DAVUtility::validateProperties(log.properties, *name, type);
    return true;
}

std::shared_ptr<DAVEventProperties> validateDerAvedurEventProperties(const DAVEventProperties& properties) {
    auto validated = std::make_shared<DAVEventProperties>();
    for (const auto& property : properties.properties()) {
        if (validated->count() >= kDAVMaxTypedPropertiesCount) {
            DAVLogWarning(kDAVAnalyticsLogTag,
                          "Typed properties cannot contain more than %d items. Skipping other properties.",
                          static_cast<int>(kDAVMaxTypedPropertiesCount));
            break;
        }
        validated->setTypedProperty(validateDerAvedurTypedProperty(*property));
    }
    return validated;
}

std::shared_ptr<DAVTypedProperty> validateDerAvedurTypedProperty(const DAVTypedProperty& property) {
    std::shared_ptr<DAVTypedProperty> copy = property.copyWithName(validateDerAvedurPropertyName(property.name));
    if (auto* text = dynamic_cast<DAVStringTypedProperty*>(copy.get()))
        text->value = validateDerAvedurStringTypedPropertyValue(text->value);
    return copy;
}

std::string validateDerAvedurPropertyName(const std::string& key) {
    if (Foundation::utf16Length(key) <= kDAVMaxPropertyKeyLength) return key;
    DAVLogWarning(kDAVAnalyticsLogTag,
                  "Typed property '%s': key length cannot exceed %d characters. Property value will be truncated.",
                  key.c_str(), static_cast<int>(kDAVMaxPropertyKeyLength));
    return Foundation::utf16Prefix(key, kDAVTruncatedPropertyLength);
}

std::string validateDerAvedurStringTypedPropertyValue(const std::string& value) {
    if (Foundation::utf16Length(value) <= kDAVMaxPropertyValueLength) return value;
    DAVLogWarning(kDAVAnalyticsLogTag,
                  "Typed property value length cannot exceed %d characters. Property value will be truncated.",
                  static_cast<int>(kDAVMaxPropertyValueLength));
    return Foundation::utf16Prefix(value, kDAVTruncatedPropertyLength);
}

Foundation::Dictionary removeInvalidProperties(const Foundation::Dictionary& properties) {
    Foundation::Dictionary valid;
    for (const auto& [key, value] : properties) {
        if (key.empty()) {
            DAVLogWarning(kDAVAnalyticsLogTag, "Event property contains an invalid key, dropping the property.");
            continue;
        }
        if (value.isNull()) {
            DAVLogWarning(kDAVAnalyticsLogTag,
                          "Event property contains an invalid value for key %s, dropping the property.", key.c_str());
            continue;
        }
        if (value.isString()) valid.set(key, value);
    }
    return valid;
}

}  // namespace DAVAnalyticsValidation
