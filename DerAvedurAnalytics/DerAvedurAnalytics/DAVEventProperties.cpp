#include "DerAvedurAnalytics/DerAvedurAnalytics/DAVEventProperties.h"

#include <algorithm>
#include <cmath>

#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedurAnalytics/DerAvedurAnalytics/Internals/DAVAnalyticsConstants.h"

DAVEventProperties::DAVEventProperties(const Foundation::Dictionary& strings) {
    for (const auto& [key, value] : strings)
        if (value.isString() && acceptsKey(key))
            setTypedProperty(std::make_shared<DAVStringTypedProperty>(key, value.asString()));
}

DAVEventProperties::DAVEventProperties(const DAVEventProperties& other) : Foundation::Coding() {
    properties_ = other.properties();
}

bool DAVEventProperties::acceptsKey(const std::string& key) const {
    if (!key.empty()) return true;
    DAVLogError(kDAVAnalyticsLogTag, "Key must not be null or empty.");
    return false;
}

void DAVEventProperties::setString(std::string value, const std::string& key) {
    if (acceptsKey(key)) setTypedProperty(std::make_shared<DAVStringTypedProperty>(key, std::move(value)));
}

void DAVEventProperties::setDouble(double value, const std::string& key) {
    if (!acceptsKey(key)) return;
    if (!std::isfinite(value)) {
        DAVLogError(kDAVAnalyticsLogTag, "Double value for property '%s' must be finite.", key.c_str());
        return;
    }
    setTypedProperty(std::make_shared<DAVDoubleTypedProperty>(key, value));
}

void DAVEventProperties::setInt64(std::int64_t value, const std::string& key) {
    if (acceptsKey(key)) setTypedProperty(std::make_shared<DAVLongTypedProperty>(key, value));
}

void DAVEventProperties::setBool(bool value, const std::string& key) {
    if (acceptsKey(key)) setTypedProperty(std::make_shared<DAVBooleanTypedProperty>(key, value));
}

void DAVEventProperties::setDate(Foundation::Date value, const std::string& key) {
    if (acceptsKey(key)) setTypedProperty(std::make_shared<DAVDateTimeTypedProperty>(key, value));
}

void DAVEventProperties::setTypedProperty(std::shared_ptr<DAVTypedProperty> property) {
    if (!property) return;
    std::lock_guard<std::mutex> guard(lock_);
    auto existing = std::find_if(properties_.begin(), properties_.end(),
                                 [&](const auto& entry) { return entry->name == property->name; });
    if (existing != properties_.end())
        *existing = std::move(property);
    else
        properties_.push_back(std::move(property));
}

void DAVEventProperties::removePropertyForKey(const std::string& key) {
    std::lock_guard<std::mutex> guard(lock_);
    std::erase_if(properties_, [&](const auto& entry) { return entry->name == key; });
}

bool DAVEventProperties::isEmpty() const {
    std::lock_guard<std::mutex> guard(lock_);
    return properties_.empty();
}

std::size_t DAVEventProperties::count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return properties_.size();
}

std::vector<std::shared_ptr<DAVTypedProperty>> DAVEventProperties::properties() const {
    std::lock_guard<std::mutex> guard(lock_);
    return properties_;
}

std::shared_ptr<DAVTypedProperty> DAVEventProperties::propertyForKey(const std::string& key) const {
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& entry : properties_)
        if (entry->name == key) return entry;
    return nullptr;
}

Foundation::Array DAVEventProperties::serializeToArray() const {
    Foundation::Array array;
    for (const auto& property : properties()) array.push_back(property->serializeToDictionary());
    return array;
}

bool DAVEventProperties::isEqual(const DAVEventProperties& other) const {
    auto mine = properties();
    auto theirs = other.properties();
    return std::equal(mine.begin(), mine.end(), theirs.begin(), theirs.end(),
                      [](const auto& a, const auto& b) { return a->isEqual(*b); });
}

void DAVEventProperties::encodeWithCoder(Foundation::KeyedArchiver& coder) const {
    Foundation::Array array;
    for (const auto& property : properties()) array.emplace_back(property);
    coder.encode("properties", Foundation::Value(std::move(array)));
}

void DAVEventProperties::decodeWithCoder(Foundation::KeyedUnarchiver& coder) {
    Foundation::Value value = coder.decodeObjectForKey("properties");
    std::vector<std::shared_ptr<DAVTypedProperty>> decoded;
    if (const auto* array = value.arrayOrNull())
        for (const auto& entry : *array)
            if (entry.isObject())
                if (auto property = std::dynamic_pointer_cast<DAVTypedProperty>(entry.asObject()))
                    decoded.push_back(std::move(property));
    std::lock_guard<std::mutex> guard(lock_);
    properties_ = std::move(decoded);
}
