#pragma once
// Custom properties of the installation, sent once in a "customProperties"
// log. Keys start with a letter and hold letters, digits, "-" and "_" (at
// most 128 characters); text values hold at most 128 characters; at most 60
// properties. Bad keys and values are refused with an error message.

#include <mutex>
#include <string>

#include "DerAvedur/DerAvedur/Shared/Model/DAVAbstractLog.h"
#include "Platform/Foundation/Value.h"

class DAVCustomProperties {
public:
    static constexpr std::size_t kMaxPropertiesCount = 60;
    static constexpr std::size_t kMaxPropertyKeyLength = 128;
    static constexpr std::size_t kMaxPropertyValueLength = 128;

    DAVCustomProperties& setString(const std::string& value, const std::string& key);
    DAVCustomProperties& setNumber(double value, const std::string& key);
    DAVCustomProperties& setBool(bool value, const std::string& key);
    DAVCustomProperties& setDate(Foundation::Date value, const std::string& key);
    // The key is sent as cleared.
    DAVCustomProperties& clearPropertyForKey(const std::string& key);

    // Key to value, in the order set; a null value clears the key.
    Foundation::Dictionary propertiesImmutableCopy() const;

private:
    bool isValidKey(const std::string& key) const;
    void set(const std::string& key, Foundation::Value value);

    mutable std::mutex lock_;
    Foundation::Dictionary properties_;
};

class DAVCustomPropertiesLog : public DAVAbstractLog {
public:
    DAVCustomPropertiesLog();

    Foundation::Dictionary properties;

    std::string className() const override { return "DAVCustomPropertiesLog"; }
    // "properties": [{"name", "type": "clear" | "string" | "number" | "boolean" | "dateTime", "value"}].
    Foundation::Value serializeToDictionary() const override;
    bool isEqual(const DAVAbstractLog& other) const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;

    // Registers the class for unarchiving, once per process.
    static void registerCodingClass();
};
