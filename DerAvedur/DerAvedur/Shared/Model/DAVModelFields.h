#pragma once
// One table of fields per model class: each field's key, the same in JSON and
// in the archive, and the member that holds it. The table serves the class's
// JSON, equality, encoding and decoding in its order, so a field added to the
// class is added to all four at once and can't be lost across a restart.
// A subclass's table holds only its own fields: its four functions call the
// base's first, then go through the table.

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "DerAvedur/DerAvedur/Shared/Model/DAVModelSupport.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/KeyedArchiver.h"
#include "Platform/Foundation/Text.h"

namespace DAVModelFields {

using TextList = std::optional<std::vector<std::string>>;
// Names to texts; other values are kept in the archive but not in JSON, and
// are dropped when decoded.
using TextDictionary = std::optional<Foundation::Dictionary>;

// Nested records: one optional object, or an optional list of them.
template <class U>
using ObjectArray = std::optional<std::vector<std::shared_ptr<U>>>;

// Where a field goes; most go everywhere. A field may appear in JSON only
// (under another key, its value held by another entry) or stay out of it.
enum FieldUse : unsigned {
    kInJson = 1u << 0,
    kInArchive = 1u << 1,  // encoded and decoded
    kInEquality = 1u << 2,
    kEverywhere = kInJson | kInArchive | kInEquality,
    kNotInJson = kInArchive | kInEquality,
};

// `Nested` names the member types of nested records a class's table holds.
// Unset optionals are left out of JSON and the archive; of the plain values, a
// Boolean and a double are always written, an integer only when not 0 in JSON
// (always in the archive).
template <class T, class... Nested>
struct Field {
    const char* key;
    std::variant<std::optional<std::string> T::*, std::optional<std::int64_t> T::*, TextList T::*,
                 std::optional<Foundation::Date> T::*, std::optional<Foundation::Data> T::*, TextDictionary T::*,
                 bool T::*, std::int64_t T::*, double T::*, Nested T::*...>
        member;
    unsigned uses = kEverywhere;
};

inline void setField(Foundation::Dictionary& json, const char* key, const std::optional<std::string>& value) {
    DAVModelSupport::setIfPresent(json, key, value);
}
inline void setField(Foundation::Dictionary& json, const char* key, const std::optional<std::int64_t>& value) {
    DAVModelSupport::setIfPresent(json, key, value);
}
inline void setField(Foundation::Dictionary& json, const char* key, const TextList& value) {
    if (value) json.set(key, DAVModelSupport::textArray(*value));
}
inline void setField(Foundation::Dictionary& json, const char* key, const std::optional<Foundation::Date>& value) {
    if (value) json.set(key, DAVUtility::dateToISO8601(*value));
}
inline void setField(Foundation::Dictionary& json, const char* key, const std::optional<Foundation::Data>& value) {
    if (value) json.set(key, Foundation::base64Encode(*value));
}
inline void setField(Foundation::Dictionary& json, const char* key, const TextDictionary& value) {
    if (!value) return;
    Foundation::Dictionary texts;
    for (const auto& [name, entry] : *value)
        if (entry.isString()) texts.set(name, entry);
    json.set(key, std::move(texts));
}
inline void setField(Foundation::Dictionary& json, const char* key, bool value) { json.set(key, value); }
inline void setField(Foundation::Dictionary& json, const char* key, std::int64_t value) {
    if (value != 0) json.set(key, value);
}
inline void setField(Foundation::Dictionary& json, const char* key, double value) { json.set(key, value); }

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
inline void encodeField(Foundation::KeyedArchiver& coder, const char* key,
                        const std::optional<Foundation::Date>& value) {
    if (value) coder.encode(key, Foundation::Value(*value));
}
inline void encodeField(Foundation::KeyedArchiver& coder, const char* key,
                        const std::optional<Foundation::Data>& value) {
    if (value) coder.encode(key, Foundation::Value(*value));
}
inline void encodeField(Foundation::KeyedArchiver& coder, const char* key, const TextDictionary& value) {
    if (value) coder.encode(key, Foundation::Value(*value));
}
inline void encodeField(Foundation::KeyedArchiver& coder, const char* key, bool value) {
    coder.encode(key, Foundation::Value(value));
}
inline void encodeField(Foundation::KeyedArchiver& coder, const char* key, std::int64_t value) {
    coder.encode(key, Foundation::Value(value));
}
inline void encodeField(Foundation::KeyedArchiver& coder, const char* key, double value) {
    coder.encode(key, Foundation::Value(value));
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
inline void decodeField(Foundation::KeyedUnarchiver& coder, const char* key, std::optional<Foundation::Date>& value) {
    Foundation::Value decoded = coder.decodeObjectForKey(key);
    value = decoded.isDate() ? std::optional<Foundation::Date>(decoded.asDate()) : std::nullopt;
}
inline void decodeField(Foundation::KeyedUnarchiver& coder, const char* key, std::optional<Foundation::Data>& value) {
    Foundation::Value decoded = coder.decodeObjectForKey(key);
    value = decoded.isData() ? std::optional<Foundation::Data>(decoded.asData()) : std::nullopt;
}
inline void decodeField(Foundation::KeyedUnarchiver& coder, const char* key, TextDictionary& value) {
    value.reset();
    Foundation::Value decoded = coder.decodeObjectForKey(key);
    if (const auto* dictionary = decoded.dictionaryOrNull()) {
        value.emplace();
        for (const auto& [name, entry] : *dictionary)
            if (entry.isString()) value->set(name, entry);
    }
}
inline void decodeField(Foundation::KeyedUnarchiver& coder, const char* key, bool& value) {
    value = coder.decodeBoolForKey(key);
}
inline void decodeField(Foundation::KeyedUnarchiver& coder, const char* key, std::int64_t& value) {
    value = coder.decodeIntegerForKey(key);
}
inline void decodeField(Foundation::KeyedUnarchiver& coder, const char* key, double& value) {
    value = coder.decodeDoubleForKey(key);
}

// Each element by its own serialisation, in order.
template <class U>
void setField(Foundation::Dictionary& json, const char* key, const ObjectArray<U>& array) {
    if (!array) return;
    Foundation::Array items;
    items.reserve(array->size());
    for (const auto& item : *array)
        if (item) items.push_back(item->serializeToDictionary());
    json.set(key, std::move(items));
}
template <class U>
void setField(Foundation::Dictionary& json, const char* key, const std::shared_ptr<U>& object) {
    if (object) json.set(key, object->serializeToDictionary());
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
// Two dates name the same instant (both unset, or within a microsecond):
// archives keep dates relative to another epoch, which may move the last bits
// of the double.
inline bool fieldEqual(const std::optional<Foundation::Date>& a, const std::optional<Foundation::Date>& b) {
    if (!a || !b) return !a && !b;
    return std::fabs(a->secondsSince1970 - b->secondsSince1970) < 1e-6;
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
void appendFields(Foundation::Dictionary& json, const T& object, const Field<T, Nested...> (&fields)[N]) {
    for (const auto& field : fields)
        if (field.uses & kInJson)
            std::visit([&](auto member) { setField(json, field.key, object.*member); }, field.member);
}

// The JSON dictionary of the set fields, in table order.
template <class T, class... Nested, std::size_t N>
Foundation::Value fieldsToDictionary(const T& object, const Field<T, Nested...> (&fields)[N]) {
    Foundation::Dictionary json;
    appendFields(json, object, fields);
    return json;
}

template <class T, class... Nested, std::size_t N>
bool fieldsEqual(const T& a, const T& b, const Field<T, Nested...> (&fields)[N]) {
    for (const auto& field : fields)
        if ((field.uses & kInEquality) &&
            !std::visit([&](auto member) { return fieldEqual(a.*member, b.*member); }, field.member))
            return false;
    return true;
}

template <class T, class... Nested, std::size_t N>
void encodeFields(Foundation::KeyedArchiver& coder, const T& object, const Field<T, Nested...> (&fields)[N]) {
    for (const auto& field : fields)
        if (field.uses & kInArchive)
            std::visit([&](auto member) { encodeField(coder, field.key, object.*member); }, field.member);
}

template <class T, class... Nested, std::size_t N>
void decodeFields(Foundation::KeyedUnarchiver& coder, T& object, const Field<T, Nested...> (&fields)[N]) {
    for (const auto& field : fields)
        if (field.uses & kInArchive)
            std::visit([&](auto member) { decodeField(coder, field.key, object.*member); }, field.member);
}

}  // namespace DAVModelFields
