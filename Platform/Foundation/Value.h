#pragma once
// The one dynamic value type: property lists, JSON, user defaults, keyed
// archives and template contexts all share it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace Foundation {

class Value;

using Data = std::vector<std::uint8_t>;

// A point in time: seconds since 1970-01-01 00:00:00 UTC.
struct Date {
    double secondsSince1970 = 0;
    friend bool operator==(const Date&, const Date&) = default;
    friend auto operator<=>(const Date&, const Date&) = default;
};

// An object reference inside a Value: answers key-value lookups and lists its
// fields. Templates read objects through this; archives encode them by class.
class Object {
public:
    virtual ~Object() = default;
    virtual std::string className() const = 0;
    // The value for a key; a null Value when the object has no such key.
    virtual Value valueForKey(const std::string& key) const;
    // The value for a key as the object stores it, for readers that only look
    // (templates read fields this way without copying them); nullptr when the
    // object keeps no such value, and readers then ask valueForKey. Where it
    // answers, it answers what valueForKey would give.
    virtual const Value* storedValueForKey(std::string_view) const { return nullptr; }
    // Field names in declaration order, for mirroring.
    virtual std::vector<std::string> fieldNames() const { return {}; }
};

// Insertion-ordered dictionary with text keys. Setting an existing key keeps
// its position.
class Dictionary {
public:
    using Entry = std::pair<std::string, Value>;

    Dictionary() = default;
    Dictionary(std::initializer_list<Entry> entries);

    bool contains(std::string_view key) const { return find(key) != nullptr; }
    const Value* find(std::string_view key) const;
    Value* find(std::string_view key);
    // The value for the key; a null Value when absent.
    const Value& operator[](std::string_view key) const;
    // Inserts a null value at the end when absent.
    Value& operator[](std::string_view key);
    void set(std::string key, Value value);
    bool erase(std::string_view key);
    // Room for `count` entries, for a dictionary whose size is known.
    void reserve(std::size_t count);

    std::size_t size() const;  // defined below Value, which must be complete first
    bool empty() const;
    std::vector<std::string> keys() const;
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }
    auto begin() { return entries_.begin(); }
    auto end() { return entries_.end(); }

    friend bool operator==(const Dictionary& a, const Dictionary& b);

private:
    std::vector<Entry> entries_;
};

using Array = std::vector<Value>;

class Value {
public:
    enum class Type { Null, Bool, Int, Double, String, Data, Date, Array, Dictionary, Object };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(std::int64_t{i}) {}
    Value(unsigned i) : v_(std::int64_t{i}) {}
    Value(long i) : v_(std::int64_t{i}) {}
    Value(long long i) : v_(std::int64_t{i}) {}
    Value(unsigned long i) : v_(static_cast<std::int64_t>(i)) {}
    Value(unsigned long long i) : v_(static_cast<std::int64_t>(i)) {}
    Value(double d) : v_(d) {}
    Value(float f) : v_(double{f}) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(Foundation::Data d) : v_(std::move(d)) {}
    Value(Foundation::Date d) : v_(d) {}
    Value(Foundation::Array a) : v_(std::make_shared<Foundation::Array>(std::move(a))) {}
    Value(Foundation::Dictionary d) : v_(std::make_shared<Foundation::Dictionary>(std::move(d))) {}
    Value(std::shared_ptr<Object> o) : v_(std::move(o)) {}
    template <class T, class = std::enable_if_t<std::is_base_of_v<Object, T>>>
    Value(std::shared_ptr<T> o) : v_(std::shared_ptr<Object>(std::move(o))) {}

    Type type() const { return static_cast<Type>(v_.index()); }
    bool isNull() const { return type() == Type::Null; }
    bool isBool() const { return type() == Type::Bool; }
    bool isInt() const { return type() == Type::Int; }
    bool isDouble() const { return type() == Type::Double; }
    bool isNumber() const { return isInt() || isDouble(); }
    bool isString() const { return type() == Type::String; }
    bool isData() const { return type() == Type::Data; }
    bool isDate() const { return type() == Type::Date; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }
    bool isObject() const { return type() == Type::Object; }

    // Exact accessors: throw std::bad_variant_access on the wrong type.
    bool asBool() const { return std::get<bool>(v_); }
    std::int64_t asInt() const { return std::get<std::int64_t>(v_); }
    double asDouble() const { return std::get<double>(v_); }
    const std::string& asString() const { return std::get<std::string>(v_); }
    const Foundation::Data& asData() const { return std::get<Foundation::Data>(v_); }
    Foundation::Date asDate() const { return std::get<Foundation::Date>(v_); }
    const Foundation::Array& asArray() const { return *std::get<std::shared_ptr<Foundation::Array>>(v_); }
    const Foundation::Dictionary& asDictionary() const {
        return *std::get<std::shared_ptr<Foundation::Dictionary>>(v_);
    }
    const std::shared_ptr<Object>& asObject() const { return std::get<std::shared_ptr<Object>>(v_); }
    // Mutable access copies shared storage first (values behave as values).
    Foundation::Array& mutableArray();
    Foundation::Dictionary& mutableDictionary();

    // Pointer accessors: nullptr on the wrong type.
    const std::string* stringOrNull() const { return std::get_if<std::string>(&v_); }
    const Foundation::Array* arrayOrNull() const;
    const Foundation::Dictionary* dictionaryOrNull() const;

    // Numeric view of Bool, Int and Double (nothing for other types).
    std::optional<double> numberValue() const;
    std::optional<std::int64_t> integerValue() const;

    // Dictionary member or null Value (also for non-dictionaries).
    const Value& operator[](std::string_view key) const;

    // A short description for diagnostics ("null", "true", "12", "\"text\"", ...).
    std::string debugDescription() const;

    friend bool operator==(const Value& a, const Value& b);
    friend bool operator!=(const Value& a, const Value& b) { return !(a == b); }

    static const Value& null();

private:
    std::variant<std::monostate, bool, std::int64_t, double, std::string, Foundation::Data, Foundation::Date,
                 std::shared_ptr<Foundation::Array>, std::shared_ptr<Foundation::Dictionary>, std::shared_ptr<Object>>
        v_;
};

inline std::size_t Dictionary::size() const { return entries_.size(); }
inline bool Dictionary::empty() const { return entries_.empty(); }
inline void Dictionary::reserve(std::size_t count) { entries_.reserve(count); }

}  // namespace Foundation
