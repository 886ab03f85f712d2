#pragma once
// Helpers shared by the error-log model: the validity message, required
// fields, and comparing nested objects outside a table of fields.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelFields.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedurCrashes/DerAvedurCrashes/DAVCrashesConstants.h"
#include "Platform/Foundation/KeyedArchiver.h"

namespace DAVErrorModelSupport {

// VERBOSE "<class>: "<field>" is not valid." with the crashes service's tag.
inline void logInvalidField(const std::string& className, const char* field) {
    DAVLogVerbose(kDAVCrashesLogTag, "%s: \"%s\" is not valid.", className.c_str(), field);
}

// The first field whose flag is false is logged and makes the object invalid.
struct RequiredField {
    const char* name;
    bool present;
};
template <std::size_t N>
bool checkRequired(const std::string& className, const RequiredField (&fields)[N]) {
    for (const RequiredField& field : fields) {
        if (!field.present) {
            logInvalidField(className, field.name);
            return false;
        }
    }
    return true;
}

using DAVModelFields::ObjectArray;

template <class T>
bool hasElements(const ObjectArray<T>& array) {
    return array && !array->empty();
}

template <class T>
bool objectEqual(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) {
    return DAVModelFields::fieldEqual(a, b);
}

}  // namespace DAVErrorModelSupport
