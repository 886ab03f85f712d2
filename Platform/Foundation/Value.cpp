#include "Platform/Foundation/Value.h"

#include <cstdio>

namespace Foundation {

Value Object::valueForKey(const std::string&) const { return Value(); }

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
    for (const auto& e : entries) set(e.first, e.second);
}

const Value* Dictionary::find(std::string_view key) const {
    for (const auto& e : entries_)
        if (e.first == key) return &e.second;
    return nullptr;
}

Value* Dictionary::find(std::string_view key) {
    for (auto& e : entries_)
        if (e.first == key) return &e.second;
    return nullptr;
}

const Value& Dictionary::operator[](std::string_view key) const {
    const Value* v = find(key);
    return v ? *v : Value::null();
}

Value& Dictionary::operator[](std::string_view key) {
    if (Value* v = find(key)) return *v;
    entries_.emplace_back(std::string(key), Value());
    return entries_.back().second;
}

void Dictionary::set(std::string key, Value value) {
    if (Value* v = find(key)) {
        *v = std::move(value);
        return;
    }
    entries_.emplace_back(std::move(key), std::move(value));
}

bool Dictionary::erase(std::string_view key) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->first == key) {
            entries_.erase(it);
            return true;
        }
    }
    return false;
}

std::vector<std::string> Dictionary::keys() const {
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (const auto& e : entries_) out.push_back(e.first);
    return out;
}

bool operator==(const Dictionary& a, const Dictionary& b) {
    if (a.size() != b.size()) return false;
    for (const auto& e : a.entries_) {
        const Value* other = b.find(e.first);
        if (!other || !(*other == e.second)) return false;
    }
    return true;
}

Array& Value::mutableArray() {
    auto& p = std::get<std::shared_ptr<Foundation::Array>>(v_);
    if (p.use_count() > 1) p = std::make_shared<Foundation::Array>(*p);
    return *p;
}

Dictionary& Value::mutableDictionary() {
    auto& p = std::get<std::shared_ptr<Foundation::Dictionary>>(v_);
    if (p.use_count() > 1) p = std::make_shared<Foundation::Dictionary>(*p);
    return *p;
}

const Array* Value::arrayOrNull() const {
    auto p = std::get_if<std::shared_ptr<Foundation::Array>>(&v_);
    return p ? p->get() : nullptr;
}

const Dictionary* Value::dictionaryOrNull() const {
    auto p = std::get_if<std::shared_ptr<Foundation::Dictionary>>(&v_);
    return p ? p->get() : nullptr;
}

std::optional<double> Value::numberValue() const {
    switch (type()) {
        case Type::Bool:
            return asBool() ? 1.0 : 0.0;
        case Type::Int:
            return static_cast<double>(asInt());
        case Type::Double:
            return asDouble();
        default:
            return std::nullopt;
    }
}

std::optional<std::int64_t> Value::integerValue() const {
    switch (type()) {
        case Type::Bool:
            return asBool() ? 1 : 0;
        case Type::Int:
            return asInt();
        case Type::Double: {
            double d = asDouble();
            if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return std::nullopt;
            return static_cast<std::int64_t>(d);
        }
        default:
            return std::nullopt;
    }
}

const Value& Value::operator[](std::string_view key) const {
    const auto* d = dictionaryOrNull();
    return d ? (*d)[key] : null();
}

const Value& Value::null() {
    static const Value n;
    return n;
}

std::string Value::debugDescription() const {
    char buf[64];
    switch (type()) {
        case Type::Null:
            return "null";
        case Type::Bool:
            return asBool() ? "true" : "false";
        case Type::Int:
            return std::to_string(asInt());
        case Type::Double:
            std::snprintf(buf, sizeof buf, "%.17g", asDouble());
            return buf;
        case Type::String:
            return "\"" + asString() + "\"";
        case Type::Data:
            return "<" + std::to_string(asData().size()) + " bytes>";
        case Type::Date:
            std::snprintf(buf, sizeof buf, "<date %.3f>", asDate().secondsSince1970);
            return buf;
        case Type::Array: {
            std::string s = "[";
            bool first = true;
            for (const auto& v : asArray()) {
                if (!first) s += ", ";
                first = false;
                s += v.debugDescription();
            }
            return s + "]";
        }
        case Type::Dictionary: {
            std::string s = "{";
            bool first = true;
            for (const auto& [k, v] : asDictionary()) {
                if (!first) s += ", ";
                first = false;
                s += "\"" + k + "\": " + v.debugDescription();
            }
            return s + "}";
        }
        case Type::Object:
            return asObject() ? "<" + asObject()->className() + ">" : "<nil object>";
    }
    return "?";
}

bool operator==(const Value& a, const Value& b) {
    if (a.type() != b.type()) return false;
    switch (a.type()) {
        case Value::Type::Array:
            return a.asArray() == b.asArray();
        case Value::Type::Dictionary:
            return a.asDictionary() == b.asDictionary();
        case Value::Type::Object:
            return a.asObject() == b.asObject();
        default:
            return a.v_ == b.v_;
    }
}

}  // namespace Foundation
