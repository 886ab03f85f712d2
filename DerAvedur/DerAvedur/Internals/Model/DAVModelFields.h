#pragma once
// One table of fields per model class: each field's key, the same in JSON and
// in the archive, and the member that holds it. The table serves the class's
// JSON, equality, encoding and decoding in its order, so a field added to the
// class is added to all four at once and can't be lost across a restart.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "DerAvedur/DerAvedur/Internals/Model/DAVModelSupport.h"
#include "Platform/Foundation/KeyedArchiver.h"

namespace DAVModelFields {

using TextList = std::optional<std::vector<std::string>>;

template <class T>
struct Field {
    const char* key;
    std::variant<std::optional<std::string> T::*, std::optional<std::int64_t> T::*, TextList T::*> member;
};

inline void setField(nlohmann::ordered_json& json, const char* key, const std::optional<std::string>& value) {
    DAVModelSupport::setIfPresent(json, key, value);
}
inline void setField(nlohmann::ordered_json& json, const char* key, const std::optional<std::int64_t>& value) {
    DAVModelSupport::setIfPresent(json, key, value);
}
inline void setField(nlohmann::ordered_json& json, const char* key, const TextList& value) {
    if (value) json[key] = *value;
}

inline void encodeField(Foundation::KeyedArchiver& coder, const char* key, const std::optional<std::string>& value) {
    DAVModelSupport::encodeIfPresent(coder, key, value);
}
inline void encodeField(Foundation::KeyedArchiver& coder, const char* key, const std::optional<std::int64_t>& value) {
    DAVModelSupport::encodeIfPresent(coder, key, value);
}
inline void encodeField(Foundation::KeyedArchiver& coder, const char* key, const TextList& value) {
    if (!value) return;
    Foundation::Array texts;
    for (const auto& text : *value) texts.emplace_back(text);
    coder.encode(key, Foundation::Value(std::move(texts)));
}

inline void decodeField(Foundation::KeyedUnarchiver& coder, const char* key, std::optional<std::string>& value) {
    value = coder.decodeStringForKey(key);
}
inline void decodeField(Foundation::KeyedUnarchiver& coder, const char* key, std::optional<std::int64_t>& value) {
    value = DAVModelSupport::decodeOptionalInteger(coder, key);
}
// Only the texts of an array are kept; anything else leaves the list unset.
inline void decodeField(Foundation::KeyedUnarchiver& coder, const char* key, TextList& value) {
    value.reset();
    Foundation::Value decoded = coder.decodeObjectForKey(key);
    if (const auto* array = decoded.arrayOrNull()) {
        value.emplace();
        for (const auto& entry : *array)
            if (entry.isString()) value->push_back(entry.asString());
    }
}

// Adds the set fields to `json`, after whatever it already holds.
template <class T, std::size_t N>
void appendFields(nlohmann::ordered_json& json, const T& object, const Field<T> (&fields)[N]) {
    for (const Field<T>& field : fields)
        std::visit([&](auto member) { setField(json, field.key, object.*member); }, field.member);
}

template <class T, std::size_t N>
nlohmann::ordered_json fieldsToJson(const T& object, const Field<T> (&fields)[N]) {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    appendFields(json, object, fields);
    return json;
}

template <class T, std::size_t N>
bool fieldsEqual(const T& a, const T& b, const Field<T> (&fields)[N]) {
    for (const Field<T>& field : fields)
        if (!std::visit([&](auto member) { return a.*member == b.*member; }, field.member)) return false;
    return true;
}

template <class T, std::size_t N>
void encodeFields(Foundation::KeyedArchiver& coder, const T& object, const Field<T> (&fields)[N]) {
    for (const Field<T>& field : fields)
        std::visit([&](auto member) { encodeField(coder, field.key, object.*member); }, field.member);
}

template <class T, std::size_t N>
void decodeFields(Foundation::KeyedUnarchiver& coder, T& object, const Field<T> (&fields)[N]) {
    for (const Field<T>& field : fields)
        std::visit([&](auto member) { decodeField(coder, field.key, object.*member); }, field.member);
}

}  // namespace DAVModelFields
