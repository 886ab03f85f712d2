#include "Nimbus/RecordMapping.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>

#include "Nimbus/Nimbus.h"
#include "Nimbus/NimbusAsset.h"

namespace Nimbus {

using CloudKit::CKAsset;
using CloudKit::CKReference;
using Foundation::Value;
using ObjectStore::Object;
using ObjectStore::ObjectSchema;
using ObjectStore::Property;
using ObjectStore::PropertyType;

namespace {

[[noreturn]] void preconditionFailure(const char* message) {
    std::fprintf(stderr, "%s\n", message);
    std::abort();
}

bool isAssetClass(const std::string& className) { return className == NimbusAsset::objectSchema()->className; }

// Booleans travel as numbers.
Value recordValue(const Value& v) {
    if (v.isBool()) return Value(v.asBool() ? 1 : 0);
    if (v.isArray()) {
        Foundation::Array out;
        for (const auto& e : v.asArray()) out.push_back(recordValue(e));
        return out;
    }
    return v;
}

// A record value read as the property's kind, or nothing when it is not of that kind.
std::optional<Value> asKind(PropertyType type, const Value& v) {
    switch (type) {
        case PropertyType::Int:
            if (v.isInt()) return v;
            if (v.isDouble()) {
                double d = v.asDouble();
                if (std::isfinite(d) && std::trunc(d) == d && d >= -9.2e18 && d <= 9.2e18)
                    return Value(static_cast<std::int64_t>(d));
            }
            return std::nullopt;
        case PropertyType::Bool:
            if (v.isBool()) return v;
            if (auto n = v.numberValue(); n && (*n == 0 || *n == 1)) return Value(*n == 1);
            return std::nullopt;
        case PropertyType::String:
            if (v.isString()) return v;
            return std::nullopt;
        case PropertyType::Data:
            if (v.isData()) return v;
            return std::nullopt;
        case PropertyType::Date:
            if (v.isDate()) return v;
            return std::nullopt;
        case PropertyType::Float:
        case PropertyType::Double:
            if (v.isNumber()) return Value(*v.numberValue());
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

std::optional<Foundation::Data> assetBytes(const CKAsset& asset) {
    if (asset.inlineData()) return asset.inlineData();
    std::ifstream in(asset.fileURL(), std::ios::binary);
    if (!in) return std::nullopt;
    Foundation::Data data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return data;
}

// Assigning never fails the conversion: a value the store refuses is no value.
bool assign(Object& object, const std::string& name, Value value) {
    try {
        object.setValue(name, std::move(value));
        return true;
    } catch (const std::invalid_argument&) {
        return false;
    }
}

ObjectStore::SchemaRef schemaOfClass(const std::string& className, const std::shared_ptr<ObjectStore::Realm>& store) {
    if (store) {
        if (auto s = store->objectSchema(className)) return s;
    }
    if (const auto* type = ObjectStore::registeredObjectType(className)) return type->schema;
    return nullptr;
}

}  // namespace

CKRecordZoneID zoneIDForRecordType(const std::string& recordType) {
    return CKRecordZoneID(recordType + "sZone", CloudKit::CKCurrentUserDefaultName);
}

bool isRecordConvertibleClass(const ObjectSchema& schema) {
    const Property* key = schema.primaryKeyProperty();
    return key && !key->isArray && (key->type == PropertyType::String || key->type == PropertyType::Int);
}

CKRecordID recordIDOf(const Object& object) {
    const ObjectSchema& schema = object.objectSchema();
    const Property* key = schema.primaryKeyProperty();
    if (!key) preconditionFailure("You should set a primary key on your Realm object");
    Value v = object.value(key->name);
    std::string name;
    if (const auto* text = v.stringOrNull()) {
        name = *text;
    } else if (v.isInt()) {
        name = std::to_string(v.asInt());
    } else {
        preconditionFailure("Primary key should be String or Int");
    }
    return CKRecordID(name, zoneIDForRecordType(schema.className));
}

bool isDeletedObject(const Object& object) {
    const Property* p = object.objectSchema().property("isDeleted");
    if (!p || p->type != PropertyType::Bool || p->isArray) return false;
    Value v = object.value("isDeleted");
    return v.isBool() && v.asBool();
}

CKRecord recordOf(const Object& object) {
    const ObjectSchema& schema = object.objectSchema();
    CKRecord record(schema.className, recordIDOf(object));
    for (const Property& p : schema.properties) {
        if (p.type == PropertyType::LinkingObjects || p.type == PropertyType::Any) continue;
        if (p.isArray) {
            if (p.type == PropertyType::Object) continue;
            Value list = object.value(p.name);
            // An empty list has no field; naming the key still clears a field
            // the server holds from before.
            const auto* items = list.arrayOrNull();
            record.setObject(p.name, items && !items->empty() ? recordValue(list) : Value());
            continue;
        }
        if (p.type == PropertyType::Object) {
            auto linked = object.linkedObject(p.name);
            Value field;
            if (isAssetClass(p.objectClassName)) {
                if (linked) {
                    Value fileName = linked->value("uniqueFileName");
                    if (const auto* text = fileName.stringOrNull())
                        field = CKAsset::make(NimbusAsset::assetDirectory() + "/" + *text);
                }
            } else if (linked && isRecordConvertibleClass(linked->objectSchema())) {
                field = CKReference::make(recordIDOf(*linked), CloudKit::CKReferenceAction::none);
            }
            record.setObject(p.name, field);
            continue;
        }
        record.setObject(p.name, recordValue(object.value(p.name)));
    }
    return record;
}

std::optional<Value> primaryKeyFromRecordName(const CKRecordID& recordID, const ObjectSchema& schema) {
    const Property* key = schema.primaryKeyProperty();
    if (!key || key->isArray) return std::nullopt;
    const std::string& name = recordID.recordName;
    if (key->type == PropertyType::String) return Value(name);
    if (key->type != PropertyType::Int) return std::nullopt;
    std::size_t start = (!name.empty() && (name[0] == '-' || name[0] == '+')) ? 1 : 0;
    if (start == name.size()) return std::nullopt;
    for (std::size_t i = start; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
    errno = 0;
    char* end = nullptr;
    long long n = std::strtoll(name.c_str(), &end, 10);
    if (errno == ERANGE || !end || *end) return std::nullopt;
    return Value(static_cast<std::int64_t>(n));
}

std::shared_ptr<Object> objectFromRecord(const std::string& className, const CKRecord& record,
                                         const std::shared_ptr<ObjectStore::Realm>& store,
                                         std::vector<UnresolvedLink>* unresolved) {
    std::shared_ptr<Object> object;
    if (const auto* type = ObjectStore::registeredObjectType(className)) {
        object = type->makeDefault();
    } else if (auto schema = schemaOfClass(className, store)) {
        object = std::make_shared<ObjectStore::DynamicObject>(schema);
    }
    if (!object) return nullptr;

    for (const Property& p : object->objectSchema().properties) {
        const Value field = record.objectForKey(p.name);
        if (p.type == PropertyType::LinkingObjects || p.type == PropertyType::Any) {
            debugLog("Other types will be supported in the future.");
            continue;
        }
        if (p.isArray) {
            Foundation::Array rebuilt;
            bool readable = p.type != PropertyType::Object && p.type != PropertyType::Date && field.isArray();
            if (readable) {
                for (const auto& e : field.asArray()) {
                    auto v = asKind(p.type, e);
                    if (!v) {
                        readable = false;
                        break;
                    }
                    rebuilt.push_back(*v);
                }
            }
            assign(*object, p.name, readable ? Value(std::move(rebuilt)) : Value(Foundation::Array{}));
            continue;
        }
        if (p.type == PropertyType::Object) {
            Value linked;
            if (auto asset = CKAsset::from(field)) {
                if (isAssetClass(p.objectClassName)) {
                    if (auto bytes = assetBytes(*asset))
                        linked = NimbusAsset::create(record.recordID().recordName, p.name, *bytes, true);
                }
            } else if (auto ref = CKReference::from(field)) {
                if (auto target = schemaOfClass(p.objectClassName, store)) {
                    if (auto key = primaryKeyFromRecordName(ref->recordID(), *target)) {
                        auto found = store ? store->object(p.objectClassName, *key) : nullptr;
                        if (found) {
                            linked = found;
                        } else if (unresolved) {
                            unresolved->push_back(UnresolvedLink{p.name, p.objectClassName, *key});
                        }
                    }
                }
            }
            assign(*object, p.name, linked);
            continue;
        }
        if (auto v = asKind(p.type, field)) {
            if (assign(*object, p.name, *v)) continue;
        }
        if (p.optional) assign(*object, p.name, Value());
    }
    return object;
}

}  // namespace Nimbus
