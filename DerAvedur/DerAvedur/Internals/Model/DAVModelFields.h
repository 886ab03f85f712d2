#pragma once
// One table of fields per model class: each field's key, the same in JSON and
// in the archive, and the member that holds it. The table serves the class's
// JSON, equality, encoding and decoding in its order, so a field added to the
// class is added to all four at once and can't be lost across a restart.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "DerAvedur/DerAvedur/Internals/Model/DAVModelSupport.h"
#include "Platform/Foundation/KeyedArchiver.h"

namespace DAVModelFields {

using TextList = std::optional<std::vector<std::string>>;

// Nested records: one optional object, or an optional list of them.
template <class U>
using ObjectArray = std::optional<std::vector<std::shared_ptr<U>>>;

// `Nested` names the member types of nested records a class's table holds.
template <class T, class... Nested>
struct Field {
    const char* key;
    std::variant<std::optional<std::string> T::*, std::optional<std::int64_t> T::*, TextList T::*, Nested T::*...>
        member;
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

// Each element by its own serialisation, in order.
template <class U>
void setField(nlohmann::ordered_json& json, const char* key, const ObjectArray<U>& array) {
    if (!array) return;
    nlohmann::ordered_json items = nlohmann::ordered_json::array();
    for (const auto& item : *array)
        if (item) items.push_back(item->serializeToDictionary());
    json[key] = std::move(items);
}
template <class U>
void setField(nlohmann::ordered_json& json, const char* key, const std::shared_ptr<U>& object) {
    if (object) json[key] = object->serializeToDictionary();
}

template <class U>
void encodeField(Foundation::KeyedArchiver& coder, const char* key, const ObjectArray<U>& array) {
    if (!array) return;
    Foundation::Array items;
    for (const auto& item : *array)
        if (item) items.emplace_back(item);
    coder.encode(key, Foundation::Value(std::move(items)));
}
template <class U>
void encodeField(Foundation::KeyedArchiver& coder, const char* key, const std::shared_ptr<U>& object) {
    if (object) coder.encode(key, Foundation::Value(object));
}

// Elements of another class are left out.
template <class U>
ObjectArray<U> decodeArray(Foundation::KeyedUnarchiver& coder, const char* key) {
    Foundation::Value value = coder.decodeObjectForKey(key);
    const Foundation::Array* items = value.arrayOrNull();
    if (!items) return std::nullopt;
    std::vector<std::shared_ptr<U>> result;
    for (const auto& item : *items)
        if (item.isObject())
            if (auto object = std::dynamic_pointer_cast<U>(item.asObject())) result.push_back(std::move(object));
    return result;
}
template <class U>
void decodeField(Foundation::KeyedUnarchiver& coder, const char* key, ObjectArray<U>& array) {
    array = decodeArray<U>(coder, key);
}
template <class U>
void decodeField(Foundation::KeyedUnarchiver& coder, const char* key, std::shared_ptr<U>& object) {
    object = coder.decodeObjectOfClass<U>(key);
}

// Plain values compare by value, nested records by their own equality.
template <class V>
bool fieldEqual(const V& a, const V& b) {
    return a == b;
}
template <class U>
bool fieldEqual(const std::shared_ptr<U>& a, const std::shared_ptr<U>& b) {
    if (!a || !b) return !a && !b;
    return a->isEqual(*b);
}
template <class U>
bool fieldEqual(const ObjectArray<U>& a, const ObjectArray<U>& b) {
    if (!a || !b) return !a && !b;
    if (a->size() != b->size()) return false;
    for (std::size_t i = 0; i < a->size(); ++i)
        if (!fieldEqual((*a)[i], (*b)[i])) return false;
    return true;
}

// Adds the set fields to `json`, after whatever it already holds.
template <class T, class... Nested, std::size_t N>
void appendFields(nlohmann::ordered_json& json, const T& object, const Field<T, Nested...> (&fields)[N]) {
    for (const auto& field : fields)
        std::visit([&](auto member) { setField(json, field.key, object.*member); }, field.member);
}

template <class T, class... Nested, std::size_t N>
nlohmann::ordered_json fieldsToJson(const T& object, const Field<T, Nested...> (&fields)[N]) {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    appendFields(json, object, fields);
    return json;
}

template <class T, class... Nested, std::size_t N>
bool fieldsEqual(const T& a, const T& b, const Field<T, Nested...> (&fields)[N]) {
    for (const auto& field : fields)
        if (!std::visit([&](auto member) { return fieldEqual(a.*member, b.*member); }, field.member)) return false;
    return true;
}

template <class T, class... Nested, std::size_t N>
void encodeFields(Foundation::KeyedArchiver& coder, const T& object, const Field<T, Nested...> (&fields)[N]) {
    for (const auto& field : fields)
        std::visit([&](auto member) { encodeField(coder, field.key, object.*member); }, field.member);
}

template <class T, class... Nested, std::size_t N>
void decodeFields(Foundation::KeyedUnarchiver& coder, T& object, const Field<T, Nested...> (&fields)[N]) {
    for (const auto& field : fields)
        std::visit([&](auto member) { decodeField(coder, field.key, object.*member); }, field.member);
}

}  // namespace DAVModelFields
