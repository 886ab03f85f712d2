#pragma once
// Keyed archiving: objects that encode their fields by key, written as a
// property list of object records with class names, and decoded again through
// a registry of class name -> factory.
//
// Format ("VexilKeyedArchiver", version 1) -- a binary property list holding
// one dictionary:
//
//   "$archiver": "VexilKeyedArchiver"
//   "$version":  1
//   "$top":      {"root": <encoded value>, <other top-level keys>...}
//   "$objects":  [<object record>, ...]
//
// An object record is a dictionary: "$class" holds the class name
// (Object::className()), then come the keys the object encoded, in the order it
// encoded them. A key that starts with "$" is stored with one more "$" in
// front (so "$class" cannot be spoofed); the same holds for top-level keys.
//
// An encoded value is
//   Bool, Int, Double, String, Data, Date   the value itself;
//   Array                                   an array of encoded values;
//   Dictionary                              {"$dict": {key: <encoded value>, ...}};
//   null (in an array, a dictionary or as the root)   {"$null": true};
//   an object                               {"$ref": n}, n the index of its record in "$objects".
// Encoding a null value for a key writes nothing (the key is then absent).
// The same object (the same shared_ptr target) met twice is recorded once and
// both places refer to that record; decoding gives back one shared object.
// Cycles can be encoded, but decoding one fails (an object cannot refer to
// itself while its factory is still making it).
//
// Decoding maps each archived class name through the unarchiver's own map,
// then the process-wide map (setClassName), then looks the name up in the
// registry. A factory that gives nullptr makes that object null (as an
// initialiser that fails); the root object failing gives an error.
// Everything else that is wrong -- not a property list, a foreign archive
// (another "$archiver", a newer "$version"), a missing part, a reference out of
// range, an unregistered class, a cycle, nesting deeper than 512 -- fails the
// whole decoding with an Error {NSCocoaErrorDomain, 4864}. Nothing throws.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/Value.h"

namespace Foundation {

class KeyedArchiver;
class KeyedUnarchiver;

// An object that can be archived: it names its class (className()) and writes
// its fields in encodeWithCoder; a factory registered under the same name
// makes it again from a KeyedUnarchiver.
class Coding : public Object {
public:
    virtual void encodeWithCoder(KeyedArchiver& coder) const = 0;
};

using CodingFactory = std::function<std::shared_ptr<Coding>(KeyedUnarchiver& coder)>;

// Registers (or replaces) the factory for a class name; safe from any thread.
void registerCodingClass(const std::string& className, CodingFactory factory);

class KeyedArchiver {
public:
    KeyedArchiver();
    ~KeyedArchiver();
    KeyedArchiver(const KeyedArchiver&) = delete;
    KeyedArchiver& operator=(const KeyedArchiver&) = delete;

    // The archive of `root` (any value; its objects must be Coding objects).
    static std::optional<Data> archivedData(const Value& root, Error* error = nullptr);

    // Inside encodeWithCoder: a field of the object being encoded; outside: a
    // top-level key. A null value writes nothing.
    void encode(const std::string& key, const Value& value);
    // Marks the archive as failed (finishEncoding then gives the error).
    void failWithError(Error error);

    // The archive so far; nothing and the first error when something could not
    // be encoded (an object that is not Coding, a value a property list cannot hold).
    std::optional<Data> finishEncoding(Error* error = nullptr);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class KeyedUnarchiver {
public:
    explicit KeyedUnarchiver(const Data& data);
    ~KeyedUnarchiver();
    KeyedUnarchiver(const KeyedUnarchiver&) = delete;
    KeyedUnarchiver& operator=(const KeyedUnarchiver&) = delete;

    // The root value of the archive, or nothing and an Error.
    static std::optional<Value> unarchivedValue(const Data& data, Error* error = nullptr);
    // The root object when it is a T; nullptr (and an Error) otherwise.
    template <class T>
    static std::shared_ptr<T> unarchivedObject(const Data& data, Error* error = nullptr) {
        auto value = unarchivedValue(data, error);
        if (!value) return nullptr;
        std::shared_ptr<T> object = value->isObject() ? std::dynamic_pointer_cast<T>(value->asObject()) : nullptr;
        if (!object)
            reportError(error, makeError(kCocoaErrorDomain, kCoderReadCorruptError,
                                         "The archive's root object is not of the expected class."));
        return object;
    }

    // Process-wide: records archived as `archivedName` decode as `currentName`.
    static void setClassName(const std::string& archivedName, const std::string& currentName);
    // This unarchiver only (wins over the process-wide map).
    void setClassNameMapping(const std::string& archivedName, const std::string& currentName);

    // The root value (the top-level key "root"); nothing and an Error on failure.
    std::optional<Value> decodeRoot(Error* error = nullptr);

    // Inside a factory: the fields of the object being decoded; outside: the
    // top-level keys. Absent keys give null / 0 / false / nothing.
    bool containsValueForKey(const std::string& key) const;
    Value decodeObjectForKey(const std::string& key);
    // Numbers (and Booleans) converted; anything else 0 / false.
    bool decodeBoolForKey(const std::string& key);
    std::int64_t decodeIntegerForKey(const std::string& key);
    double decodeDoubleForKey(const std::string& key);
    std::optional<std::string> decodeStringForKey(const std::string& key);
    template <class T>
    std::shared_ptr<T> decodeObjectOfClass(const std::string& key) {
        Value value = decodeObjectForKey(key);
        return value.isObject() ? std::dynamic_pointer_cast<T>(value.asObject()) : nullptr;
    }
    // The archived class name of the record being decoded (empty at the top).
    std::string archivedClassName() const;

    // Fails the whole decoding (a factory that finds the archive corrupt).
    void failWithError(Error error);
    const std::optional<Error>& error() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace Foundation
