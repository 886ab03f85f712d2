#pragma once
// The text forms the engine prints values in. They follow the platform's
// language, because template authors and error messages see them:
// "\(value)" (description), debugPrint (debug description) and optionals.

#include <string>
#include <string_view>

#include "Platform/Foundation/Value.h"

namespace Templates {

using Foundation::Value;

// String interpolation: text as is, 7, 1.5, true, ["a", 1], ["k": 1], "nil" for null.
std::string textualForm(const Value& value);
// Debug form: text quoted and escaped ("a\"b"), the rest as textualForm.
std::string debugForm(const Value& value);
// How an optional prints: "nil" or "Optional(" + debug form + ")".
std::string optionalForm(const Value& value);
// A text in double quotes with the platform's escapes.
std::string quotedText(std::string_view text);
// A number as the platform prints it: 1.0, 0.1, 1e+16, inf, nan. A double that
// is exactly a 32-bit float prints in the float's shortest form, so float
// literals of templates print as written.
std::string numberText(double value);

}  // namespace Templates
