#pragma once
// Small helpers shared by the model classes: optional fields into JSON and
// archives, and the coding registry.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Foundation/KeyedArchiver.h"

namespace DAVModelSupport {

inline void setIfPresent(Foundation::Dictionary& json, const char* key, const std::optional<std::string>& value) {
    if (value) json.set(key, *value);
}
inline void setIfPresent(Foundation::Dictionary& json, const char* key, const std::optional<std::int64_t>& value) {
    if (value) json.set(key, *value);
}
inline Foundation::Array textArray(const std::vector<std::string>& texts) {
    Foundation::Array array;
    array.reserve(texts.size());
    for (const auto& text : texts) array.emplace_back(text);
    return array;
}

inline void encodeIfPresent(Foundation::KeyedArchiver& coder, const char* key,
                            const std::optional<std::string>& value) {
    if (value) coder.encode(key, Foundation::Value(*value));
}
inline void encodeIfPresent(Foundation::KeyedArchiver& coder, const char* key,
                            const std::optional<std::int64_t>& value) {
    if (value) coder.encode(key, Foundation::Value(*value));
}
inline std::optional<std::int64_t> decodeOptionalInteger(Foundation::KeyedUnarchiver& coder, const char* key) {
    if (!coder.containsValueForKey(key)) return std::nullopt;
    return coder.decodeIntegerForKey(key);
}

// Registers T under its class name; T decodes itself in `decodeWithCoder`.
template <class T>
void registerCodingClass(const std::string& className) {
    Foundation::registerCodingClass(className,
                                    [](Foundation::KeyedUnarchiver& coder) -> std::shared_ptr<Foundation::Coding> {
                                        auto object = std::make_shared<T>();
                                        object->decodeWithCoder(coder);
                                        return object;
                                    });
}

// Two optional shared objects are equal when both are unset or both hold equal values.
template <class T>
bool objectsEqual(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) {
    if (!a || !b) return !a && !b;
    return a->isEqual(*b);
}

}  // namespace DAVModelSupport

// Registers the core's archived classes (logs, device, Common Schema model,
// context histories) once per process.
void DAVRegisterCoreCodingClasses();
