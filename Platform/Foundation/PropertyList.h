#pragma once
// Property lists (XML and binary) to and from Values, through libplist.
//
// Types: Bool, Int (64-bit), Double, String, Data, Date, Array and Dictionary
// map one to one; dictionaries keep the order of the file (and of the Value
// when writing). A UID (found in foreign keyed archives) reads as the
// dictionary {"CF$UID": n}. Property lists have no null and no objects: a
// Value holding either anywhere cannot be written.
//
// Dates: binary lists keep them to the microsecond; XML lists keep whole
// seconds (the platform's XML form). libplist holds dates as 32-bit seconds
// from 2001-01-01, so only dates from 1932 to 2069 can be written.
//
// Reading detects the format ("bplist00" is binary, anything else is tried as
// XML). Corrupt, truncated or empty input gives nothing and an Error
// {NSCocoaErrorDomain, 3840}; it never crashes or throws.

#include <optional>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"

namespace Foundation {

enum class PropertyListFormat { XML, Binary };

std::optional<Value> valueFromPropertyList(const Data& data, Error* error = nullptr,
                                           PropertyListFormat* format = nullptr);

// The encoded list; empty Data and an Error {NSCocoaErrorDomain, 3851} when the
// value holds something a property list cannot.
Data propertyListData(const Value& value, PropertyListFormat format, Error* error = nullptr);

}  // namespace Foundation
