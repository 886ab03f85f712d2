#pragma once
// JSON text to and from Values, through nlohmann::ordered_json.
//
// Reading: objects become insertion-ordered Dictionaries (a repeated key keeps
// its first position and its last value), integers become Int (an unsigned
// integer beyond the int64 range becomes Double), every other number Double,
// null the null Value. Any value is accepted at the top level (the platform's
// "fragments allowed"). Malformed text gives nothing and an Error
// {NSCocoaErrorDomain, 3840, "<what> at byte <n>"}; nothing ever throws.
//
// Writing: dictionaries keep their order; Int stays an integer and Double a
// number with a fraction or exponent ("1.0", "0.1"); Data becomes its base64
// text; Date its ISO-8601 text with milliseconds in UTC
// ("2026-12-10T12:00:00.123Z"); an Object the dictionary of its fieldNames()
// and valueForKey() (a null object: null); a non-finite Double becomes null;
// bytes that are not UTF-8 are replaced by U+FFFD. `pretty` indents by two
// spaces.

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"

namespace Foundation {

std::optional<Value> valueFromJSON(std::string_view text, Error* error = nullptr);
std::optional<Value> valueFromJSON(const Data& bytes, Error* error = nullptr);

std::string jsonString(const Value& value, bool pretty = false);
Data jsonData(const Value& value, bool pretty = false);

// The same conversions for code that works with nlohmann directly.
nlohmann::ordered_json toJSON(const Value& value);
Value valueFromJSON(const nlohmann::ordered_json& json);

}  // namespace Foundation
