#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/Text.h"

double DAVUtility::nowInMilliseconds() { return Foundation::clock().now() * 1000.0; }

// Always UTC with milliseconds, whatever the process's time zone.
std::string DAVUtility::dateToISO8601(Foundation::Date date) { return Foundation::iso8601String(date); }

std::optional<Foundation::Date> DAVUtility::dateFromISO8601(const std::string& text) {
    return Foundation::dateFromISO8601(text);
}

// The formatting helpers keep no state of their own.
void DAVUtility::resetDateFormatterInstance() {}
