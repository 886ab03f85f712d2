#include "Platform/Foundation/PropertyList.h"

#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace Foundation {
namespace {

// Seconds between 1970-01-01 and 2001-01-01, libplist's date origin.
constexpr double kReferenceDateOffset = 978307200.0;
constexpr int kMaxDepth = 512;

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

struct Failure {
    std::string description;
};

Error readError(std::string description) {
    return makeError(kCocoaErrorDomain, kPropertyListReadCorruptError,
                     "The data couldn't be read because it isn't in the correct format: " + description);
}

// --- Value -> plist -----------------------------------------------------------

plist_t makeNode(const Value& value, int depth);

plist_t makeDate(Date date) {
    double t = date.secondsSince1970 - kReferenceDateOffset;
    if (!std::isfinite(t) || t < std::numeric_limits<std::int32_t>::min() ||
        t >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        throw Failure{"a date outside the years 1932 to 2069"};
    double whole = std::trunc(t);
    auto sec = static_cast<std::int32_t>(whole);
    auto usec = static_cast<std::int32_t>(std::llround((t - whole) * 1e6));
    if (usec >= 1'000'000) {
        ++sec;
        usec -= 1'000'000;
    }
    if (usec <= -1'000'000) {
        --sec;
        usec += 1'000'000;
    }
    return plist_new_date(sec, usec);
}

plist_t makeNode(const Value& value, int depth) {
    if (depth > kMaxDepth) throw Failure{"nesting deeper than 512 levels"};
    switch (value.type()) {
        case Value::Type::Null:
            throw Failure{"a null value"};
        case Value::Type::Object:
            throw Failure{"an object reference"};
        case Value::Type::Bool:
            return plist_new_bool(value.asBool() ? 1 : 0);
        case Value::Type::Int:
            return plist_new_uint(static_cast<std::uint64_t>(value.asInt()));
        case Value::Type::Double:
            return plist_new_real(value.asDouble());
        case Value::Type::String:
            return plist_new_string(value.asString().c_str());
        case Value::Type::Data: {
            const auto& bytes = value.asData();
            return plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        }
        case Value::Type::Date:
            return makeDate(value.asDate());
        case Value::Type::Array: {
            PlistPtr array(plist_new_array());
            for (const auto& element : value.asArray())
                plist_array_append_item(static_cast<plist_t>(array.get()), makeNode(element, depth + 1));
            return array.release();
        }
        case Value::Type::Dictionary: {
            PlistPtr dict(plist_new_dict());
            for (const auto& [key, element] : value.asDictionary())
                plist_dict_set_item(static_cast<plist_t>(dict.get()), key.c_str(), makeNode(element, depth + 1));
            return dict.release();
        }
    }
    throw Failure{"an unknown value"};
}

// --- plist -> Value -----------------------------------------------------------

std::uint64_t bigEndian(const std::uint8_t* bytes, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = (value << 8) | bytes[i];
    return value;
}

// libplist 2.2 stops the program (an assertion) when a binary string object
// holds U+0000, as a value or as a dictionary key. Such input is refused here
// first: walk the offset table and look into every ASCII (0x5n) and UTF-16
// (0x6n) string object. Anything else that is malformed is left to libplist,
// which rejects it cleanly.
bool binaryStringsHoldNoNul(const Data& data) {
    const std::size_t size = data.size();
    if (size < 8 + 32) return true;
    const std::uint8_t* trailer = data.data() + size - 32;
    const std::size_t offsetSize = trailer[6];
    const std::uint64_t objectCount = bigEndian(trailer + 8, 8);
    const std::uint64_t tableOffset = bigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || tableOffset >= size || objectCount > (size - tableOffset) / offsetSize)
        return true;
    for (std::uint64_t i = 0; i < objectCount; ++i) {
        std::uint64_t offset = bigEndian(data.data() + tableOffset + i * offsetSize, offsetSize);
        if (offset >= size) continue;
        std::uint8_t marker = data[offset];
        unsigned kind = marker >> 4;
        if (kind != 5 && kind != 6) continue;
        std::uint64_t length = marker & 0x0f;
        std::uint64_t position = offset + 1;
        if (length == 0x0f) {  // the length follows as an integer object 0x1n of 2^n bytes
            if (position >= size || (data[position] >> 4) != 1) continue;
            std::size_t intSize = std::size_t{1} << (data[position] & 0x0f);
            if (intSize > 8 || position + 1 + intSize > size) continue;
            length = bigEndian(data.data() + position + 1, intSize);
            position += 1 + intSize;
        }
        std::uint64_t unit = kind == 5 ? 1 : 2;
        if (length > (size - position) / unit) continue;
        for (std::uint64_t at = position; at < position + length * unit; at += unit)
            if (data[at] == 0 && (unit == 1 || data[at + 1] == 0)) return false;
    }
    return true;
}

Value makeValue(plist_t node, int depth) {
    if (!node) throw Failure{"a missing element"};
    if (depth > kMaxDepth) throw Failure{"nesting deeper than 512 levels"};
    switch (plist_get_node_type(node)) {
        case PLIST_BOOLEAN: {
            std::uint8_t b = 0;
            plist_get_bool_val(node, &b);
            return Value(b != 0);
        }
        case PLIST_UINT: {
            std::uint64_t u = 0;
            plist_get_uint_val(node, &u);
            return Value(static_cast<std::int64_t>(u));
        }
        case PLIST_REAL: {
            double d = 0;
            plist_get_real_val(node, &d);
            return Value(d);
        }
        case PLIST_STRING: {
            std::uint64_t length = 0;
            const char* text = plist_get_string_ptr(node, &length);
            return Value(text ? std::string(text, length) : std::string());
        }
        case PLIST_KEY: {
            char* text = nullptr;
            plist_get_key_val(node, &text);
            std::string result = text ? text : "";
            std::free(text);
            return Value(std::move(result));
        }
        case PLIST_DATA: {
            char* bytes = nullptr;
            std::uint64_t length = 0;
            plist_get_data_val(node, &bytes, &length);
            Data result(reinterpret_cast<std::uint8_t*>(bytes),
                        reinterpret_cast<std::uint8_t*>(bytes) + (bytes ? length : 0));
            std::free(bytes);
            return Value(std::move(result));
        }
        case PLIST_DATE: {
            std::int32_t sec = 0, usec = 0;
            plist_get_date_val(node, &sec, &usec);
            // libplist hands back the fraction of a negative time as a positive count.
            double fraction = std::abs(static_cast<double>(usec)) / 1e6;
            double t = sec < 0 ? sec - fraction : sec + fraction;
            return Value(Date{t + kReferenceDateOffset});
        }
        case PLIST_ARRAY: {
            Array array;
            std::uint32_t count = plist_array_get_size(node);
            array.reserve(count);
            for (std::uint32_t i = 0; i < count; ++i)
                array.push_back(makeValue(plist_array_get_item(node, i), depth + 1));
            return Value(std::move(array));
        }
        case PLIST_DICT: {
            Dictionary dict;
            plist_dict_iter iter = nullptr;
            plist_dict_new_iter(node, &iter);
            std::unique_ptr<void, decltype(&std::free)> iterGuard(iter, &std::free);
            for (;;) {
                char* key = nullptr;
                plist_t element = nullptr;
                plist_dict_next_item(node, iter, &key, &element);
                if (!element) {
                    std::free(key);
                    break;
                }
                std::string name = key ? key : "";
                std::free(key);
                dict.set(std::move(name), makeValue(element, depth + 1));
            }
            return Value(std::move(dict));
        }
        case PLIST_UID: {
            std::uint64_t uid = 0;
            plist_get_uid_val(node, &uid);
            return Value(Dictionary{{"CF$UID", static_cast<std::int64_t>(uid)}});
        }
        default:
            throw Failure{"an element of an unknown type"};
    }
}

}  // namespace

std::optional<Value> valueFromPropertyList(const Data& data, Error* error, PropertyListFormat* format) {
    if (data.empty()) {
        reportError(error, readError("empty data"));
        return std::nullopt;
    }
    if (data.size() > std::numeric_limits<std::uint32_t>::max()) {
        reportError(error, readError("more than 4 GB"));
        return std::nullopt;
    }
    bool binary = data.size() >= 8 && std::memcmp(data.data(), "bplist00", 8) == 0;
    if (binary && !binaryStringsHoldNoNul(data)) {
        reportError(error, readError("a binary property list with a NUL character in a string"));
        return std::nullopt;
    }
    plist_t root = nullptr;
    const char* bytes = reinterpret_cast<const char*>(data.data());
    auto length = static_cast<std::uint32_t>(data.size());
    if (binary)
        plist_from_bin(bytes, length, &root);
    else
        plist_from_xml(bytes, length, &root);
    PlistPtr guard(root);
    if (!root) {
        reportError(error, readError(binary ? "a corrupt or truncated binary property list"
                                            : "not a property list (XML or binary)"));
        return std::nullopt;
    }
    try {
        Value value = makeValue(root, 0);
        if (format) *format = binary ? PropertyListFormat::Binary : PropertyListFormat::XML;
        return value;
    } catch (const Failure& failure) {
        reportError(error, readError(failure.description));
    } catch (const std::exception& e) {
        reportError(error, readError(e.what()));
    }
    return std::nullopt;
}

Data propertyListData(const Value& value, PropertyListFormat format, Error* error) {
    PlistPtr root;
    try {
        root.reset(makeNode(value, 0));
    } catch (const Failure& failure) {
        reportError(error, makeError(kCocoaErrorDomain, kPropertyListWriteInvalidError,
                                     "Property list invalid for format: " + failure.description));
        return {};
    }
    char* bytes = nullptr;
    std::uint32_t length = 0;
    if (format == PropertyListFormat::Binary) {
        plist_to_bin(static_cast<plist_t>(root.get()), &bytes, &length);
    } else {
        plist_to_xml(static_cast<plist_t>(root.get()), &bytes, &length);
    }
    if (!bytes) {
        reportError(error,
                    makeError(kCocoaErrorDomain, kPropertyListWriteInvalidError, "Property list could not be encoded"));
        return {};
    }
    Data result(reinterpret_cast<std::uint8_t*>(bytes), reinterpret_cast<std::uint8_t*>(bytes) + length);
    if (format == PropertyListFormat::Binary)
        plist_to_bin_free(bytes);
    else
        plist_to_xml_free(bytes);
    return result;
}

}  // namespace Foundation
