#pragma once
// The typed properties of one event, in the order they were first set.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/Model/DAVTypedProperty.h"
#include "Platform/Foundation/KeyedArchiver.h"
#include "Platform/Foundation/Value.h"

class DAVEventProperties : public Foundation::Coding {
public:
    DAVEventProperties() = default;
    // Every text value of the dictionary as a string property (others are skipped).
    explicit DAVEventProperties(const Foundation::Dictionary& strings);
    DAVEventProperties(const DAVEventProperties& other);
    DAVEventProperties& operator=(const DAVEventProperties&) = delete;

    std::string className() const override { return "DAVEventProperties"; }

    // Setting a key again replaces its value and keeps its place. An empty key
    // is refused with an error message, as is a double that is not finite
    // (JSON cannot carry it).
    void setString(std::string value, const std::string& key);
    void setDouble(double value, const std::string& key);
    void setInt64(std::int64_t value, const std::string& key);
    void setBool(bool value, const std::string& key);
    void setDate(Foundation::Date value, const std::string& key);
    void removePropertyForKey(const std::string& key);

    bool isEmpty() const;
    std::size_t count() const;
    // A snapshot in order.
    std::vector<std::shared_ptr<DAVTypedProperty>> properties() const;
    std::shared_ptr<DAVTypedProperty> propertyForKey(const std::string& key) const;
    // Adds or replaces by the property's name; nullptr is ignored.
    void setTypedProperty(std::shared_ptr<DAVTypedProperty> property);

    // [{"type", "name", "value"}, ...]
    Foundation::Array serializeToArray() const;
    bool isEqual(const DAVEventProperties& other) const;

    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    void decodeWithCoder(Foundation::KeyedUnarchiver& coder);

private:
    bool acceptsKey(const std::string& key) const;

    mutable std::mutex lock_;
    std::vector<std::shared_ptr<DAVTypedProperty>> properties_;
};
