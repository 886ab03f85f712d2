#include "Platform/Foundation/KeyedArchiver.h"

#include <mutex>

#include "Platform/Foundation/PropertyList.h"

namespace Foundation {
namespace {

constexpr const char* kArchiverName = "VexilKeyedArchiver";
constexpr std::int64_t kArchiveVersion = 1;
constexpr int kMaxDepth = 512;

std::string escapedKey(const std::string& key) { return !key.empty() && key.front() == '$' ? "$" + key : key; }

Error corrupt(const std::string& what) {
    return makeError(kCocoaErrorDomain, kCoderReadCorruptError,
                     "The data couldn't be read because it isn't in the correct format: " + what);
}

Error invalid(const std::string& what) {
    return makeError(kCocoaErrorDomain, kCoderInvalidValueError, "The archive could not be written: " + what);
}

struct Registry {
    std::mutex mutex;
    std::unordered_map<std::string, CodingFactory> factories;
    std::unordered_map<std::string, std::string> classNames;  // archived -> current
};

Registry& registry() {
    static Registry instance;
    return instance;
}

}  // namespace

void registerCodingClass(const std::string& className, CodingFactory factory) {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.factories[className] = std::move(factory);
}

// --- archiver -------------------------------------------------------------------------

struct KeyedArchiver::Impl {
    KeyedArchiver* owner = nullptr;
    Dictionary top;
    std::vector<Dictionary> records;
    std::unordered_map<const Object*, std::size_t> recordOf;
    std::vector<std::shared_ptr<Object>> keepAlive;  // so no address is reused while archiving
    long current = -1;                               // record being encoded; -1: the top level
    int depth = 0;
    std::optional<Error> error;

    void fail(Error e) {
        if (!error) error = std::move(e);
    }

    Value encodeValue(const Value& value);
    Value encodeObject(const std::shared_ptr<Object>& object);
};

Value KeyedArchiver::Impl::encodeValue(const Value& value) {
    if (error) return Value(false);
    switch (value.type()) {
        case Value::Type::Null:
            return Value(Dictionary{{"$null", true}});
        case Value::Type::Array: {
            if (depth >= kMaxDepth) {
                fail(invalid("nesting deeper than 512 levels"));
                return Value(false);
            }
            ++depth;
            Array out;
            out.reserve(value.asArray().size());
            for (const auto& element : value.asArray()) out.push_back(encodeValue(element));
            --depth;
            return Value(std::move(out));
        }
        case Value::Type::Dictionary: {
            if (depth >= kMaxDepth) {
                fail(invalid("nesting deeper than 512 levels"));
                return Value(false);
            }
            ++depth;
            Dictionary out;
            for (const auto& [key, element] : value.asDictionary()) out.set(key, encodeValue(element));
            --depth;
            return Value(Dictionary{{"$dict", Value(std::move(out))}});
        }
        case Value::Type::Object:
            return encodeObject(value.asObject());
        default:
            return value;
    }
}

Value KeyedArchiver::Impl::encodeObject(const std::shared_ptr<Object>& object) {
    if (!object) return Value(Dictionary{{"$null", true}});
    if (auto found = recordOf.find(object.get()); found != recordOf.end())
        return Value(Dictionary{{"$ref", static_cast<std::int64_t>(found->second)}});
    auto* coding = dynamic_cast<const Coding*>(object.get());
    std::string name = object->className();
    if (!coding) {
        fail(invalid("an object of class " + name + " does not support keyed coding"));
        return Value(false);
    }
    if (name.empty()) {
        fail(invalid("an object without a class name"));
        return Value(false);
    }
    if (depth >= kMaxDepth) {
        fail(invalid("nesting deeper than 512 levels"));
        return Value(false);
    }
    // The record exists (and is known) before its fields are encoded, so
    // references back to it, cycles included, find it.
    std::size_t index = records.size();
    records.emplace_back();
    records[index].set("$class", name);
    recordOf.emplace(object.get(), index);
    keepAlive.push_back(object);
    long saved = current;
    current = static_cast<long>(index);
    ++depth;
    try {
        coding->encodeWithCoder(*owner);
    } catch (const std::exception& e) {
        fail(invalid("an object of class " + name + " failed to encode: " + e.what()));
    }
    --depth;
    current = saved;
    return Value(Dictionary{{"$ref", static_cast<std::int64_t>(index)}});
}

KeyedArchiver::KeyedArchiver() : impl_(std::make_unique<Impl>()) { impl_->owner = this; }
KeyedArchiver::~KeyedArchiver() = default;

void KeyedArchiver::encode(const std::string& key, const Value& value) {
    if (value.isNull() || impl_->error) return;
    Value encoded = impl_->encodeValue(value);  // may add records: index them only afterwards
    if (impl_->current < 0)
        impl_->top.set(escapedKey(key), std::move(encoded));
    else
        impl_->records[static_cast<std::size_t>(impl_->current)].set(escapedKey(key), std::move(encoded));
}

void KeyedArchiver::failWithError(Error error) { impl_->fail(std::move(error)); }

std::optional<Data> KeyedArchiver::finishEncoding(Error* error) {
    if (!impl_->error) {
        Array objects;
        objects.reserve(impl_->records.size());
        for (const auto& record : impl_->records) objects.emplace_back(record);
        Dictionary archive;
        archive.set("$archiver", kArchiverName);
        archive.set("$version", kArchiveVersion);
        archive.set("$top", Value(impl_->top));
        archive.set("$objects", Value(std::move(objects)));
        Error plistError;
        Data bytes = propertyListData(Value(std::move(archive)), PropertyListFormat::Binary, &plistError);
        if (!bytes.empty()) return bytes;
        impl_->fail(invalid(plistError.description));
    }
    reportError(error, *impl_->error);
    return std::nullopt;
}

std::optional<Data> KeyedArchiver::archivedData(const Value& root, Error* error) {
    KeyedArchiver archiver;
    if (root.isNull())
        archiver.impl_->top.set("root", Dictionary{{"$null", true}});
    else
        archiver.encode("root", root);
    return archiver.finishEncoding(error);
}

// --- unarchiver --------------------------------------------------------------------------

struct KeyedUnarchiver::Impl {
    enum class State { Pending, Decoding, Done };

    Value archive;  // keeps the parsed property list alive
    const Dictionary* top = nullptr;
    const Array* objects = nullptr;
    std::vector<State> states;
    std::vector<Value> decoded;
    long current = -1;
    int depth = 0;
    std::unordered_map<std::string, std::string> classNames;
    std::optional<Error> error;

    void fail(Error e) {
        if (!error) error = std::move(e);
    }
    const Dictionary* currentFields() const {
        if (error) return nullptr;
        if (current < 0) return top;
        return &(*objects)[static_cast<std::size_t>(current)].asDictionary();
    }
    void parse(const Data& data);
    Value decodeValue(const Value& encoded, KeyedUnarchiver& owner);
    Value decodeRecord(std::int64_t index, KeyedUnarchiver& owner);
    std::string currentName(const std::string& archivedName) const;
};

void KeyedUnarchiver::Impl::parse(const Data& data) {
    Error plistError;
    auto value = valueFromPropertyList(data, &plistError);
    if (!value) return fail(corrupt("not a keyed archive (" + plistError.description + ")"));
    archive = std::move(*value);
    const Dictionary* root = archive.dictionaryOrNull();
    if (!root) return fail(corrupt("not a keyed archive (no dictionary at the top)"));
    const Value& archiver = (*root)["$archiver"];
    if (!archiver.isString()) return fail(corrupt("not a keyed archive (no \"$archiver\")"));
    if (archiver.asString() != kArchiverName)
        return fail(corrupt("a foreign keyed archive (\"$archiver\" is \"" + archiver.asString() + "\")"));
    const Value& version = (*root)["$version"];
    if (!version.isInt()) return fail(corrupt("a keyed archive without a version"));
    if (version.asInt() != kArchiveVersion)
        return fail(corrupt("a keyed archive of version " + std::to_string(version.asInt()) +
                            " (this program reads version 1)"));
    top = (*root)["$top"].dictionaryOrNull();
    objects = (*root)["$objects"].arrayOrNull();
    if (!top || !objects) return fail(corrupt("a keyed archive without \"$top\" or \"$objects\""));
    for (const auto& record : *objects) {
        const Dictionary* fields = record.dictionaryOrNull();
        if (!fields || !(*fields)["$class"].isString() || (*fields)["$class"].asString().empty())
            return fail(corrupt("an object record without a class name"));
    }
    states.assign(objects->size(), State::Pending);
    decoded.assign(objects->size(), Value());
}

std::string KeyedUnarchiver::Impl::currentName(const std::string& archivedName) const {
    if (auto found = classNames.find(archivedName); found != classNames.end()) return found->second;
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (auto found = r.classNames.find(archivedName); found != r.classNames.end()) return found->second;
    return archivedName;
}

Value KeyedUnarchiver::Impl::decodeValue(const Value& encoded, KeyedUnarchiver& owner) {
    if (error) return Value();
    switch (encoded.type()) {
        case Value::Type::Array: {
            if (depth >= kMaxDepth) {
                fail(corrupt("nesting deeper than 512 levels"));
                return Value();
            }
            ++depth;
            Array out;
            out.reserve(encoded.asArray().size());
            for (const auto& element : encoded.asArray()) out.push_back(decodeValue(element, owner));
            --depth;
            return Value(std::move(out));
        }
        case Value::Type::Dictionary: {
            const Dictionary& marker = encoded.asDictionary();
            if (marker.size() == 1) {
                const auto& [name, payload] = *marker.begin();
                if (name == "$null") return Value();
                if (name == "$ref" && payload.isInt()) return decodeRecord(payload.asInt(), owner);
                if (name == "$dict" && payload.isDictionary()) {
                    if (depth >= kMaxDepth) {
                        fail(corrupt("nesting deeper than 512 levels"));
                        return Value();
                    }
                    ++depth;
                    Dictionary out;
                    for (const auto& [key, element] : payload.asDictionary()) out.set(key, decodeValue(element, owner));
                    --depth;
                    return Value(std::move(out));
                }
            }
            fail(corrupt("a dictionary that is neither \"$ref\", \"$dict\" nor \"$null\""));
            return Value();
        }
        case Value::Type::Null:
        case Value::Type::Object:
            fail(corrupt("an unexpected value"));
            return Value();
        default:
            return encoded;
    }
}

Value KeyedUnarchiver::Impl::decodeRecord(std::int64_t index, KeyedUnarchiver& owner) {
    if (index < 0 || static_cast<std::uint64_t>(index) >= objects->size()) {
        fail(corrupt("an object reference out of range (" + std::to_string(index) + ")"));
        return Value();
    }
    auto slot = static_cast<std::size_t>(index);
    if (states[slot] == State::Done) return decoded[slot];
    if (states[slot] == State::Decoding) {
        fail(corrupt("an object that refers to itself while it is decoded"));
        return Value();
    }
    if (depth >= kMaxDepth) {
        fail(corrupt("nesting deeper than 512 levels"));
        return Value();
    }
    const std::string& archivedName = (*objects)[slot]["$class"].asString();
    std::string name = currentName(archivedName);
    CodingFactory factory;
    {
        auto& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        if (auto found = r.factories.find(name); found != r.factories.end()) factory = found->second;
    }
    if (!factory) {
        fail(corrupt("cannot decode an object of class " + archivedName +
                     (name == archivedName ? "" : " (read as " + name + ")") + ": no such class is registered"));
        return Value();
    }
    states[slot] = State::Decoding;
    long saved = current;
    current = static_cast<long>(slot);
    ++depth;
    std::shared_ptr<Coding> object;
    try {
        object = factory(owner);
    } catch (const std::exception& e) {
        fail(corrupt("an object of class " + archivedName + " failed to decode: " + e.what()));
    }
    --depth;
    current = saved;
    states[slot] = State::Done;
    if (object) decoded[slot] = Value(std::shared_ptr<Object>(std::move(object)));
    return error ? Value() : decoded[slot];
}

KeyedUnarchiver::KeyedUnarchiver(const Data& data) : impl_(std::make_unique<Impl>()) { impl_->parse(data); }
KeyedUnarchiver::~KeyedUnarchiver() = default;

void KeyedUnarchiver::setClassName(const std::string& archivedName, const std::string& currentName) {
    auto& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.classNames[archivedName] = currentName;
}

void KeyedUnarchiver::setClassNameMapping(const std::string& archivedName, const std::string& currentName) {
    impl_->classNames[archivedName] = currentName;
}

std::optional<Value> KeyedUnarchiver::decodeRoot(Error* error) {
    if (!impl_->error && !impl_->top->contains("root")) impl_->fail(corrupt("a keyed archive without a root"));
    std::optional<Value> result;
    if (!impl_->error) {
        const Value* encoded = impl_->top->find("root");
        bool rootIsObject = encoded->isDictionary() && encoded->asDictionary().contains("$ref");
        Value value = impl_->decodeValue(*encoded, *this);
        if (!impl_->error && rootIsObject && value.isNull())
            impl_->fail(corrupt("the root object could not be decoded"));
        if (!impl_->error) result = std::move(value);
    }
    if (!result) reportError(error, *impl_->error);
    return result;
}

std::optional<Value> KeyedUnarchiver::unarchivedValue(const Data& data, Error* error) {
    KeyedUnarchiver unarchiver(data);
    return unarchiver.decodeRoot(error);
}

bool KeyedUnarchiver::containsValueForKey(const std::string& key) const {
    const Dictionary* fields = impl_->currentFields();
    return fields && fields->contains(escapedKey(key));
}

Value KeyedUnarchiver::decodeObjectForKey(const std::string& key) {
    const Dictionary* fields = impl_->currentFields();
    if (!fields) return Value();
    const Value* encoded = fields->find(escapedKey(key));
    if (!encoded) return Value();
    Value value = *encoded;  // the fields may be reached again while decoding nested objects
    return impl_->decodeValue(value, *this);
}

bool KeyedUnarchiver::decodeBoolForKey(const std::string& key) {
    auto number = decodeObjectForKey(key).numberValue();
    return number && *number != 0;
}

std::int64_t KeyedUnarchiver::decodeIntegerForKey(const std::string& key) {
    return decodeObjectForKey(key).integerValue().value_or(0);
}

double KeyedUnarchiver::decodeDoubleForKey(const std::string& key) {
    return decodeObjectForKey(key).numberValue().value_or(0.0);
}

std::optional<std::string> KeyedUnarchiver::decodeStringForKey(const std::string& key) {
    Value value = decodeObjectForKey(key);
    if (!value.isString()) return std::nullopt;
    return value.asString();
}

std::string KeyedUnarchiver::archivedClassName() const {
    if (impl_->error || impl_->current < 0) return {};
    return (*impl_->objects)[static_cast<std::size_t>(impl_->current)]["$class"].asString();
}

void KeyedUnarchiver::failWithError(Error error) { impl_->fail(std::move(error)); }

const std::optional<Error>& KeyedUnarchiver::error() const { return impl_->error; }

}  // namespace Foundation
