#pragma once
// The object database's schema: persistent classes made of ordered, typed
// properties, with an optional primary key, links to other classes, lists and
// linking objects (the objects of another class whose link points here).
//
// Every persistent C++ type registers its schema once (see `registerObjectType`
// and `ObjectTypeRegistration`); a store configuration without explicit object
// types uses every registered type.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Foundation/Value.h"

namespace ObjectStore {

class Object;
struct Binding;

enum class PropertyType { Int, Bool, String, Data, Date, Float, Double, Object, LinkingObjects, Any };

std::string_view propertyTypeName(PropertyType type);
std::optional<PropertyType> propertyTypeFromName(std::string_view name);

struct Property {
    std::string name;
    PropertyType type = PropertyType::Int;
    bool optional = false;
    bool isArray = false;                // a list of values (or of objects)
    std::string objectClassName;         // Object and LinkingObjects: the class linked
    std::string linkOriginPropertyName;  // LinkingObjects: the link property in objectClassName
    // The value a new object gets when its class supplies no constructor of
    // its own (dynamic objects, properties added by a migration). Null means
    // the type's zero value (or none for optionals and links).
    Foundation::Value defaultValue;

    // Stored in the file (linking objects are computed).
    bool isStored() const { return type != PropertyType::LinkingObjects; }
    bool isLink() const { return type == PropertyType::Object; }
    bool isNullable() const { return optional || (type == PropertyType::Object && !isArray); }

    // Same stored form: name, type, optionality, list-ness and targets
    // (default values are not part of the stored schema).
    bool sameStoredForm(const Property& other) const;

    static Property make(std::string name, PropertyType type, Foundation::Value defaultValue = {});
    static Property makeOptional(std::string name, PropertyType type, Foundation::Value defaultValue = {});
    static Property makeLink(std::string name, std::string targetClass);
    static Property makeList(std::string name, PropertyType type, std::string targetClass = {});
    static Property makeLinkingObjects(std::string name, std::string originClass, std::string originProperty);
};

struct ObjectSchema {
    std::string className;
    std::vector<Property> properties;
    std::string primaryKey;  // empty: none

    const Property* property(std::string_view name) const;
    // Position of a property, or -1.
    int indexOf(std::string_view name) const;
    const Property* primaryKeyProperty() const { return primaryKey.empty() ? nullptr : property(primaryKey); }
    int primaryKeyIndex() const { return primaryKey.empty() ? -1 : indexOf(primaryKey); }

    bool sameStoredForm(const ObjectSchema& other) const;
    // Empty when the schema is well formed, else what is wrong with it.
    std::string validationError() const;
};

using SchemaRef = std::shared_ptr<const ObjectSchema>;
using Schema = std::vector<SchemaRef>;

// What the store needs to know of a C++ persistent type.
struct ObjectType {
    SchemaRef schema;
    // A new unmanaged object with the type's defaults (a fresh identity).
    std::function<std::shared_ptr<Object>()> makeDefault;
    // A handle of the type over a stored object.
    std::function<std::shared_ptr<Object>(Binding)> wrap;
};

void registerObjectType(ObjectType type);
// The registered type of that class name, or nullptr.
const ObjectType* registeredObjectType(std::string_view className);
// Every registered type, in registration order.
std::vector<ObjectType> registeredObjectTypes();

}  // namespace ObjectStore
