#include "Platform/ObjectStore/Schema.h"

#include <cctype>
#include <mutex>
#include <set>

namespace ObjectStore {

namespace {
constexpr std::pair<PropertyType, std::string_view> kTypeNames[] = {
    {PropertyType::Int, "int"},
    {PropertyType::Bool, "bool"},
    {PropertyType::String, "string"},
    {PropertyType::Data, "data"},
    {PropertyType::Date, "date"},
    {PropertyType::Float, "float"},
    {PropertyType::Double, "double"},
    {PropertyType::Object, "object"},
    {PropertyType::LinkingObjects, "linkingObjects"},
    {PropertyType::Any, "any"},
};

bool isIdentifier(std::string_view s) {
    if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
    for (char c : s)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
    return true;
}

struct Registry {
    std::mutex mutex;
    std::vector<ObjectType> types;
};
Registry& registry() {
    static Registry r;
    return r;
}
}  // namespace

std::string_view propertyTypeName(PropertyType type) {
    for (auto& [t, n] : kTypeNames)
        if (t == type) return n;
    return "?";
}

std::optional<PropertyType> propertyTypeFromName(std::string_view name) {
    for (auto& [t, n] : kTypeNames)
        if (n == name) return t;
    return std::nullopt;
}

bool Property::sameStoredForm(const Property& o) const {
    return name == o.name && type == o.type && optional == o.optional && isArray == o.isArray &&
           objectClassName == o.objectClassName && linkOriginPropertyName == o.linkOriginPropertyName;
}

Property Property::make(std::string name, PropertyType type, Foundation::Value defaultValue) {
    Property p;
    p.name = std::move(name);
    p.type = type;
    p.defaultValue = std::move(defaultValue);
    return p;
}

Property Property::makeOptional(std::string name, PropertyType type, Foundation::Value defaultValue) {
    Property p = make(std::move(name), type, std::move(defaultValue));
    p.optional = true;
    return p;
}

Property Property::makeLink(std::string name, std::string targetClass) {
    Property p = make(std::move(name), PropertyType::Object);
    p.optional = true;
    p.objectClassName = std::move(targetClass);
    return p;
}

Property Property::makeList(std::string name, PropertyType type, std::string targetClass) {
    Property p = make(std::move(name), type);
    p.isArray = true;
    p.objectClassName = std::move(targetClass);
    return p;
}

Property Property::makeLinkingObjects(std::string name, std::string originClass, std::string originProperty) {
    Property p = make(std::move(name), PropertyType::LinkingObjects);
    p.isArray = true;
    p.objectClassName = std::move(originClass);
    p.linkOriginPropertyName = std::move(originProperty);
    return p;
}

const Property* ObjectSchema::property(std::string_view name) const {
    for (auto& p : properties)
        if (p.name == name) return &p;
    return nullptr;
}

int ObjectSchema::indexOf(std::string_view name) const {
    for (std::size_t i = 0; i < properties.size(); ++i)
        if (properties[i].name == name) return static_cast<int>(i);
    return -1;
}

bool ObjectSchema::sameStoredForm(const ObjectSchema& o) const {
    if (className != o.className || primaryKey != o.primaryKey || properties.size() != o.properties.size())
        return false;
    for (std::size_t i = 0; i < properties.size(); ++i)
        if (!properties[i].sameStoredForm(o.properties[i])) return false;
    return true;
}

std::string ObjectSchema::validationError() const {
    if (!isIdentifier(className)) return "Invalid class name '" + className + "'.";
    std::set<std::string> seen;
    for (auto& p : properties) {
        if (!isIdentifier(p.name) || p.name[0] == '_')
            return "Invalid property name '" + className + "." + p.name + "'.";
        if (!seen.insert(p.name).second) return "Duplicate property '" + className + "." + p.name + "'.";
        if (p.type == PropertyType::Any)
            return "Property '" + className + "." + p.name + "' of type any is not supported.";
        if ((p.type == PropertyType::Object || p.type == PropertyType::LinkingObjects) && p.objectClassName.empty())
            return "Property '" + className + "." + p.name + "' names no linked class.";
        if (p.type == PropertyType::LinkingObjects && p.linkOriginPropertyName.empty())
            return "Property '" + className + "." + p.name + "' names no origin property.";
        if (p.type == PropertyType::Object && p.isArray && p.optional)
            return "List of objects '" + className + "." + p.name + "' cannot be optional.";
    }
    if (!primaryKey.empty()) {
        const Property* pk = property(primaryKey);
        if (!pk) return "Primary key '" + primaryKey + "' of '" + className + "' is not a property.";
        if (pk->isArray || (pk->type != PropertyType::String && pk->type != PropertyType::Int))
            return "Primary key '" + className + "." + primaryKey + "' must be text or an integer.";
    }
    return {};
}

void registerObjectType(ObjectType type) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto& t : r.types)
        if (t.schema->className == type.schema->className) {
            t = std::move(type);
            return;
        }
    r.types.push_back(std::move(type));
}

const ObjectType* registeredObjectType(std::string_view className) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto& t : r.types)
        if (t.schema->className == className) return &t;
    return nullptr;
}

std::vector<ObjectType> registeredObjectTypes() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return r.types;
}

}  // namespace ObjectStore
