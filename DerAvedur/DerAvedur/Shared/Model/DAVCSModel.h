#pragma once
// The Common Schema model: the extensions container, its extensions and the
// data part of a Common Schema log.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "DerAvedur/DerAvedur/Shared/Model/DAVLog.h"
#include "Platform/Foundation/KeyedArchiver.h"

// A JSON value held by pointer, so that this header needs only the forward
// declarations of the JSON library. It copies deeply and always holds a value
// (an empty object at first).
class DAVOrderedJson {
public:
    DAVOrderedJson();
    DAVOrderedJson(const DAVOrderedJson& other);
    DAVOrderedJson(DAVOrderedJson&& other);
    DAVOrderedJson& operator=(const DAVOrderedJson& other);
    DAVOrderedJson& operator=(DAVOrderedJson&& other);
    ~DAVOrderedJson();

    nlohmann::ordered_json& get() { return *json_; }
    const nlohmann::ordered_json& get() const { return *json_; }
    nlohmann::ordered_json& operator*() { return *json_; }
    const nlohmann::ordered_json& operator*() const { return *json_; }
    nlohmann::ordered_json* operator->() { return json_.get(); }
    const nlohmann::ordered_json* operator->() const { return json_.get(); }

    // The value's own members that callers use on these records.
    nlohmann::ordered_json& operator[](const std::string& key);
    nlohmann::ordered_json& at(const std::string& key);
    const nlohmann::ordered_json& at(const std::string& key) const;
    bool contains(const std::string& key) const;
    std::size_t erase(const std::string& key);
    bool empty() const;
    std::size_t size() const;

private:
    std::unique_ptr<nlohmann::ordered_json> json_;
};

// Base of the Common Schema records: JSON, validity, equality and archiving.
class DAVCSModelObject : public Foundation::Coding, public DAVSerializableObject, public DAVModel {
public:
    bool isValid() const override { return true; }
    // Same class and equal fields.
    virtual bool isEqual(const DAVCSModelObject& other) const;
    virtual void decodeWithCoder(Foundation::KeyedUnarchiver& coder) = 0;
};

class DAVProtocolExtension : public DAVCSModelObject {
public:
    std::optional<std::vector<std::string>> ticketKeys;
    std::optional<std::string> devMake;
    std::optional<std::string> devModel;

    std::string className() const override { return "DAVProtocolExtension"; }
    Foundation::Value serializeToDictionary() const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};

class DAVUserExtension : public DAVCSModelObject {
public:
    std::optional<std::string> localId;
    std::optional<std::string> locale;

    std::string className() const override { return "DAVUserExtension"; }
    Foundation::Value serializeToDictionary() const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};

class DAVDeviceExtension : public DAVCSModelObject {
public:
    std::optional<std::string> localId;

    std::string className() const override { return "DAVDeviceExtension"; }
    Foundation::Value serializeToDictionary() const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};

class DAVOSExtension : public DAVCSModelObject {
public:
    std::optional<std::string> name;
    std::optional<std::string> ver;

    std::string className() const override { return "DAVOSExtension"; }
    Foundation::Value serializeToDictionary() const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};

class DAVAppExtension : public DAVCSModelObject {
public:
    std::optional<std::string> appId;  // JSON "id"
    std::optional<std::string> ver;
    std::optional<std::string> name;
    std::optional<std::string> locale;
    std::optional<std::string> userId;

    std::string className() const override { return "DAVAppExtension"; }
    Foundation::Value serializeToDictionary() const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};

class DAVNetExtension : public DAVCSModelObject {
public:
    std::optional<std::string> provider;

    std::string className() const override { return "DAVNetExtension"; }
    Foundation::Value serializeToDictionary() const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};

class DAVSDKExtension : public DAVCSModelObject {
public:
    std::optional<std::string> libVer;
    std::optional<std::string> epoch;
    std::optional<std::int64_t> seq;
    std::optional<std::string> installId;  // the install id's UUID text

    std::string className() const override { return "DAVSDKExtension"; }
    Foundation::Value serializeToDictionary() const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};

class DAVLocExtension : public DAVCSModelObject {
public:
    std::optional<std::string> tz;

    std::string className() const override { return "DAVLocExtension"; }
    Foundation::Value serializeToDictionary() const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};

// Field metadata ("f": {...}) as the collector reads it.
class DAVMetadataExtension : public DAVCSModelObject {
public:
    DAVOrderedJson metadata;

    std::string className() const override { return "DAVMetadataExtension"; }
    Foundation::Value serializeToDictionary() const override;
    bool isEqual(const DAVCSModelObject& other) const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};

class DAVCSExtensions : public DAVCSModelObject {
public:
    std::shared_ptr<DAVMetadataExtension> metadataExt;
    std::shared_ptr<DAVProtocolExtension> protocolExt;
    std::shared_ptr<DAVUserExtension> userExt;
    std::shared_ptr<DAVDeviceExtension> deviceExt;
    std::shared_ptr<DAVOSExtension> osExt;
    std::shared_ptr<DAVAppExtension> appExt;
    std::shared_ptr<DAVNetExtension> netExt;
    std::shared_ptr<DAVSDKExtension> sdkExt;
    std::shared_ptr<DAVLocExtension> locExt;

    std::string className() const override { return "DAVCSExtensions"; }
    Foundation::Value serializeToDictionary() const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;
};

// The data part: "baseType" and "baseData" first, then the other properties
// in the order they were set.
class DAVCSData : public DAVCSModelObject {
public:
    DAVOrderedJson properties;

    std::string className() const override { return "DAVCSData"; }
    Foundation::Value serializeToDictionary() const override;
    bool isEqual(const DAVCSModelObject& other) const override;
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder) override;

private:
    nlohmann::ordered_json orderedProperties() const;
};
