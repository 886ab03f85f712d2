#include "Platform/Foundation/Json.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "Platform/Foundation/Text.h"

namespace Foundation {

using nlohmann::ordered_json;

namespace {
constexpr int kMaxJSONDepth = 512;
}  // namespace

Value valueFromJSON(const ordered_json& json) {
    switch (json.type()) {
        case ordered_json::value_t::null:
        case ordered_json::value_t::discarded:
            return Value();
        case ordered_json::value_t::boolean:
            return Value(json.get<bool>());
        case ordered_json::value_t::number_integer:
            return Value(json.get<std::int64_t>());
        case ordered_json::value_t::number_unsigned: {
            auto u = json.get<std::uint64_t>();
            if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                return Value(static_cast<std::int64_t>(u));
            return Value(static_cast<double>(u));
        }
        case ordered_json::value_t::number_float:
            return Value(json.get<double>());
        case ordered_json::value_t::string:
            return Value(json.get_ref<const std::string&>());
        case ordered_json::value_t::binary: {
            const auto& bin = json.get_binary();
            return Value(Data(bin.begin(), bin.end()));
        }
        case ordered_json::value_t::array: {
            Array array;
            array.reserve(json.size());
            for (const auto& element : json) array.push_back(valueFromJSON(element));
            return Value(std::move(array));
        }
        case ordered_json::value_t::object: {
            Dictionary dictionary;
            for (const auto& [key, element] : json.items()) dictionary.set(key, valueFromJSON(element));
            return Value(std::move(dictionary));
        }
    }
    return Value();
}

ordered_json toJSON(const Value& value) {
    switch (value.type()) {
        case Value::Type::Null:
            return nullptr;
        case Value::Type::Bool:
            return value.asBool();
        case Value::Type::Int:
            return value.asInt();
        case Value::Type::Double: {
            double d = value.asDouble();
            if (!std::isfinite(d)) return nullptr;
            return d;
        }
        case Value::Type::String:
            return value.asString();
        case Value::Type::Data:
            return base64Encode(value.asData());
        case Value::Type::Date:
            return iso8601String(value.asDate());
        case Value::Type::Array: {
            ordered_json array = ordered_json::array();
            for (const auto& element : value.asArray()) array.push_back(toJSON(element));
            return array;
        }
        case Value::Type::Dictionary: {
            ordered_json object = ordered_json::object();
            for (const auto& [key, element] : value.asDictionary()) object[key] = toJSON(element);
            return object;
        }
        case Value::Type::Object: {
            const auto& object = value.asObject();
            if (!object) return nullptr;
            ordered_json fields = ordered_json::object();
            for (const auto& name : object->fieldNames()) fields[name] = toJSON(object->valueForKey(name));
            return fields;
        }
    }
    return nullptr;
}

std::optional<Value> valueFromJSON(std::string_view text, Error* error) {
    try {
        // The conversion recurses: refuse absurd nesting instead of exhausting the stack.
        ordered_json::parser_callback_t limitDepth = [](int depth, ordered_json::parse_event_t, ordered_json&) {
            if (depth > kMaxJSONDepth) throw std::length_error("nesting deeper than 512 levels");
            return true;
        };
        return valueFromJSON(ordered_json::parse(text.begin(), text.end(), limitDepth));
    } catch (const ordered_json::parse_error& e) {
        // e.what() reads "[json.exception.parse_error.101] parse error at line 1, column 2: ..."
        std::string what = e.what();
        if (auto bracket = what.find("] "); bracket != std::string::npos) what.erase(0, bracket + 2);
        reportError(error, makeError(kCocoaErrorDomain, kPropertyListReadCorruptError,
                                     "The data couldn't be read because it isn't in the correct format: " + what,
                                     Dictionary{{"NSJSONSerializationErrorIndex", static_cast<std::int64_t>(e.byte)}}));
    } catch (const std::exception& e) {
        reportError(error, makeError(kCocoaErrorDomain, kPropertyListReadCorruptError,
                                     std::string("The data couldn't be read: ") + e.what()));
    }
    return std::nullopt;
}

std::optional<Value> valueFromJSON(const Data& bytes, Error* error) {
    return valueFromJSON(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), error);
}

std::string jsonString(const Value& value, bool pretty) {
    return toJSON(value).dump(pretty ? 2 : -1, ' ', false, ordered_json::error_handler_t::replace);
}

Data jsonData(const Value& value, bool pretty) {
    std::string text = jsonString(value, pretty);
    return Data(text.begin(), text.end());
}

}  // namespace Foundation
