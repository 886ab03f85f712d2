#pragma once
// One typed event property: a name and a value of one of five kinds. The
// ingestion reads them as {"type", "name", "value"}.

#include <cstdint>
#include <memory>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "DerAvedur/DerAvedur/Shared/Model/DAVLog.h"
#include "Platform/Foundation/KeyedArchiver.h"

class DAVTypedProperty : public Foundation::Coding, public DAVSerializableObject {
public:
    // A property of no known kind (as an archive of the base class decodes).
    DAVTypedProperty() = default;

    std::string type;
    std::string name;

    std::string className() const override { return "DAVTypedProperty"; }
    Foundation::Value serializeToDictionary() const override;
    // Same class, name and value.
    virtual bool isEqual(const DAVTypedProperty& other) const;
    // A property of the same kind and value under another name.
    virtual std::shared_ptr<DAVTypedProperty> copyWithName(const std::string& newName) const;
    // The value as the collector's data part holds it.
    virtual nlohmann::ordered_json jsonValue() const;

    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    virtual void decodeWithCoder(Foundation::KeyedUnarchiver& coder);

protected:
    explicit DAVTypedProperty(std::string typeName) : type(std::move(typeName)) {}
};

class DAVStringTypedProperty : public DAVTypedProperty {
public:
    std::string value;

    DAVStringTypedProperty() : DAVTypedProperty("string") {}
    DAVStringTypedProperty(std::string name, std::string value);
    std::string className() const override { return "DAVStringTypedProperty"; }
    bool isEqual(const DAVTypedProperty& other) const override;
    std::shared_ptr<DAVTypedProperty> copyWithName(const std::string& newName) const override;
    nlohmann::ordered_json jsonValue() const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};

class DAVBooleanTypedProperty : public DAVTypedProperty {
public:
    bool value = false;

    DAVBooleanTypedProperty() : DAVTypedProperty("boolean") {}
    DAVBooleanTypedProperty(std::string name, bool value);
    std::string className() const override { return "DAVBooleanTypedProperty"; }
    bool isEqual(const DAVTypedProperty& other) const override;
    std::shared_ptr<DAVTypedProperty> copyWithName(const std::string& newName) const override;
    nlohmann::ordered_json jsonValue() const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};

class DAVLongTypedProperty : public DAVTypedProperty {
public:
    std::int64_t value = 0;

    DAVLongTypedProperty() : DAVTypedProperty("long") {}
    DAVLongTypedProperty(std::string name, std::int64_t value);
    std::string className() const override { return "DAVLongTypedProperty"; }
    bool isEqual(const DAVTypedProperty& other) const override;
    std::shared_ptr<DAVTypedProperty> copyWithName(const std::string& newName) const override;
    nlohmann::ordered_json jsonValue() const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};

class DAVDoubleTypedProperty : public DAVTypedProperty {
public:
    double value = 0;

    DAVDoubleTypedProperty() : DAVTypedProperty("double") {}
    DAVDoubleTypedProperty(std::string name, double value);
    std::string className() const override { return "DAVDoubleTypedProperty"; }
    bool isEqual(const DAVTypedProperty& other) const override;
    std::shared_ptr<DAVTypedProperty> copyWithName(const std::string& newName) const override;
    nlohmann::ordered_json jsonValue() const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};

class DAVDateTimeTypedProperty : public DAVTypedProperty {
public:
    Foundation::Date value;

    DAVDateTimeTypedProperty() : DAVTypedProperty("dateTime") {}
    DAVDateTimeTypedProperty(std::string name, Foundation::Date value);
    std::string className() const override { return "DAVDateTimeTypedProperty"; }
    bool isEqual(const DAVTypedProperty& other) const override;
    std::shared_ptr<DAVTypedProperty> copyWithName(const std::string& newName) const override;
    // ISO 8601 text in UTC with milliseconds.
    nlohmann::ordered_json jsonValue() const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};
