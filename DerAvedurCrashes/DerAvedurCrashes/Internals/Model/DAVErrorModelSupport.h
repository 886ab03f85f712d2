#pragma once
// Helpers shared by the error-log model: the validity message, optional
// values and arrays of nested objects in JSON, archives and comparisons.

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "DerAvedur/DerAvedur/Internals/Util/DAVLogger.h"
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

template <class T>
using ObjectArray = std::optional<std::vector<std::shared_ptr<T>>>;

template <class T>
bool hasElements(const ObjectArray<T>& array) {
    return array && !array->empty();
}

// Each element by its own serialisation, in order.
template <class T>
void setArrayIfPresent(nlohmann::ordered_json& json, const char* key, const ObjectArray<T>& array) {
    if (!array) return;
    nlohmann::ordered_json items = nlohmann::ordered_json::array();
    for (const auto& item : *array)
        if (item) items.push_back(item->serializeToDictionary());
    json[key] = std::move(items);
}

template <class T>
void encodeArrayIfPresent(Foundation::KeyedArchiver& coder, const char* key, const ObjectArray<T>& array) {
    if (!array) return;
    Foundation::Array items;
    for (const auto& item : *array)
        if (item) items.emplace_back(item);
    coder.encode(key, Foundation::Value(std::move(items)));
}

// Elements of another class are left out.
template <class T>
ObjectArray<T> decodeArray(Foundation::KeyedUnarchiver& coder, const char* key) {
    Foundation::Value value = coder.decodeObjectForKey(key);
    const Foundation::Array* items = value.arrayOrNull();
    if (!items) return std::nullopt;
    std::vector<std::shared_ptr<T>> result;
    for (const auto& item : *items)
        if (item.isObject())
            if (auto object = std::dynamic_pointer_cast<T>(item.asObject())) result.push_back(std::move(object));
    return result;
}

template <class T>
bool objectEqual(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) {
    if (!a || !b) return !a && !b;
    return a->isEqual(*b);
}

template <class T>
bool arraysEqual(const ObjectArray<T>& a, const ObjectArray<T>& b) {
    if (!a || !b) return !a && !b;
    if (a->size() != b->size()) return false;
    for (std::size_t i = 0; i < a->size(); ++i)
        if (!objectEqual((*a)[i], (*b)[i])) return false;
    return true;
}

}  // namespace DAVErrorModelSupport
