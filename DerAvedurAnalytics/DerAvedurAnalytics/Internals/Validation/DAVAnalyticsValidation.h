#pragma once
// The rules events and pages must meet before they are stored for the
// ingestion service: names, property counts and lengths. Lengths count UTF-16
// units and a cut never splits a character.

#include <memory>
#include <optional>
#include <string>

#include "DerAvedurAnalytics/DerAvedurAnalytics/DAVEventProperties.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVLogWithNameAndProperties.h"
#include "Platform/Foundation/Value.h"

namespace DAVAnalyticsValidation {

// Nothing (with an error) for a missing or empty name; a name longer than 256
// units is cut to 256 with a warning.
std::optional<std::string> validateEventName(const std::optional<std::string>& name, const std::string& logType);

// Validates the name and the text properties in place; false when the log
// must not be stored.
bool validateLog(DAVLogWithNameAndProperties& log);

// At most 20 properties, each through validateDerAvedurTypedProperty.
std::shared_ptr<DAVEventProperties> validateDerAvedurEventProperties(const DAVEventProperties& properties);
// A copy with the key and a text value cut; nullptr for an unknown kind.
std::shared_ptr<DAVTypedProperty> validateDerAvedurTypedProperty(const DAVTypedProperty& property);
// Longer than 125 units: cut to 124 with a warning.
std::string validateDerAvedurPropertyName(const std::string& key);
std::string validateDerAvedurStringTypedPropertyValue(const std::string& value);

// Keeps the text values; an empty key or a null value is dropped with a warning.
Foundation::Dictionary removeInvalidProperties(const Foundation::Dictionary& properties);

}  // namespace DAVAnalyticsValidation
