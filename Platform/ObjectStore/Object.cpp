#include "Platform/ObjectStore/Object.h"

#include <stdexcept>

#include "Platform/ObjectStore/detail/Core.h"

namespace ObjectStore {

using detail::Record;
using Foundation::Value;

Object::Object(SchemaRef schema) : record_(std::allocate_shared<Record>(detail::SmallAllocator<Record>())) {
    record_->schema = std::move(schema);
    const auto& properties = record_->schema->properties;
    detail::ValueRow values(properties.size());
    for (std::size_t i = 0; i < properties.size(); ++i) values[i] = detail::defaultValueFor(properties[i]);
    record_->values() = std::move(values);
}

Object::Object(Binding binding) : graph_(std::move(binding.graph)), record_(std::move(binding.record)) {}

Object::~Object() = default;

std::string Object::className() const { return record_->schema->className; }

Value Object::valueForKey(const std::string& key) const {
    if (objectSchema().indexOf(key) < 0) return {};
    return value(key);
}

std::vector<std::string> Object::fieldNames() const {
    std::vector<std::string> names;
    for (auto& p : objectSchema().properties) names.push_back(p.name);
    return names;
}

const ObjectSchema& Object::objectSchema() const { return *record_->schema; }
const SchemaRef& Object::schemaRef() const { return record_->schema; }
bool Object::isManaged() const { return record_->graph != nullptr; }
bool Object::isInvalidated() const { return record_->invalidated; }

std::shared_ptr<Realm> Object::realm() const {
    auto core = std::dynamic_pointer_cast<detail::RealmCore>(graph_);
    return core ? std::make_shared<Realm>(core) : nullptr;
}

bool Object::isSameObject(const Object& other) const { return record_ == other.record_; }

namespace {
int indexOrThrow(const ObjectSchema& schema, std::string_view key) {
    int i = schema.indexOf(key);
    if (i < 0)
        throw std::invalid_argument("Class '" + schema.className + "' has no property '" + std::string(key) + "'.");
    return i;
}
}  // namespace

Value Object::value(std::string_view key) const {
    int i = indexOrThrow(objectSchema(), key);
    const Property& p = objectSchema().properties[static_cast<std::size_t>(i)];
    if (p.type == PropertyType::LinkingObjects) {
        Foundation::Array out;
        for (auto& o : getLinkingObjects(i).objects()) out.push_back(Value(o));
        return out;
    }
    if (record_->graph) return graph_->userValue(p, record_->value(static_cast<std::size_t>(i)));
    return record_->value(static_cast<std::size_t>(i));
}

void Object::setValue(std::string_view key, Value value) { set(indexOrThrow(objectSchema(), key), std::move(value)); }

std::shared_ptr<Object> Object::linkedObject(std::string_view key) const {
    return getLink(indexOrThrow(objectSchema(), key));
}

List Object::list(std::string_view key) const {
    int i = indexOrThrow(objectSchema(), key);
    if (!objectSchema().properties[static_cast<std::size_t>(i)].isArray ||
        objectSchema().properties[static_cast<std::size_t>(i)].type == PropertyType::LinkingObjects)
        throw std::invalid_argument("Property '" + className() + "." + std::string(key) + "' is not a list.");
    return List(graph_, record_, i);
}

AnyResults Object::linkingObjects(std::string_view key) const {
    return getLinkingObjects(indexOrThrow(objectSchema(), key));
}

const Value& Object::get(int index) const { return record_->values()[static_cast<std::size_t>(index)]; }

void Object::set(int index, Value value) {
    const ObjectSchema& schema = objectSchema();
    const Property& p = schema.properties[static_cast<std::size_t>(index)];
    Value checked = detail::checkedUserValue(schema, p, std::move(value));
    if (!record_->graph) {
        record_->values()[static_cast<std::size_t>(index)] = std::move(checked);
        return;
    }
    if (record_->invalidated) detail::fail(ErrorCode::invalidObject, "Object has been deleted or invalidated.");
    if (index == schema.primaryKeyIndex() && record_->graph->primaryKeysFixed() &&
        checked != record_->value(static_cast<std::size_t>(index)))
        detail::fail(ErrorCode::invalidValue, "The primary key of a stored object cannot be changed.");
    graph_->setValue(*record_, index, graph_->storedValue(p, checked));
}

// The typed reads take one value (from a load's columns, for a record still
// reading them) and copy nothing else.
std::string Object::getString(int index) const {
    if (auto t = record_->text(static_cast<std::size_t>(index))) return std::string(*t);
    return std::string();
}

std::optional<std::string> Object::getOptionalString(int index) const {
    if (auto t = record_->text(static_cast<std::size_t>(index))) return std::string(*t);
    return std::nullopt;
}

std::int64_t Object::getInt(int index) const {
    return record_->value(static_cast<std::size_t>(index)).integerValue().value_or(0);
}
bool Object::getBool(int index) const {
    Value v = record_->value(static_cast<std::size_t>(index));
    return v.isBool() && v.asBool();
}
double Object::getDouble(int index) const {
    return record_->value(static_cast<std::size_t>(index)).numberValue().value_or(0.0);
}
Foundation::Date Object::getDate(int index) const {
    Value v = record_->value(static_cast<std::size_t>(index));
    return v.isDate() ? v.asDate() : Foundation::Date{};
}

std::shared_ptr<Object> Object::getLink(int index) const {
    const Property& p = objectSchema().properties[static_cast<std::size_t>(index)];
    if (p.type != PropertyType::Object || p.isArray)
        throw std::invalid_argument("Property '" + className() + "." + p.name + "' is not a link.");
    Value stored = record_->value(static_cast<std::size_t>(index));
    Value v = record_->graph ? graph_->userValue(p, stored) : stored;
    return v.isObject() ? std::dynamic_pointer_cast<Object>(v.asObject()) : nullptr;
}

void Object::setLink(int index, const std::shared_ptr<Object>& target) { set(index, target ? Value(target) : Value()); }

List Object::getList(int index) const { return List(graph_, record_, index); }

AnyResults Object::getLinkingObjects(int index) const {
    const Property& p = objectSchema().properties[static_cast<std::size_t>(index)];
    if (p.type != PropertyType::LinkingObjects)
        throw std::invalid_argument("Property '" + className() + "." + p.name + "' is not linking objects.");
    auto q = std::make_shared<detail::Query>();
    q->graph = record_->graph ? graph_ : nullptr;
    if (q->graph) {
        if (const auto* origin = q->graph->table(p.objectClassName)) {
            q->schema = origin->schema;
            q->backlinkTarget = record_;
            q->backlinkProperty = origin->schema->indexOf(p.linkOriginPropertyName);
        }
    }
    if (!q->schema) {
        // Unmanaged, or the origin class is not stored: an empty result set.
        auto empty = std::make_shared<ObjectSchema>();
        empty->className = p.objectClassName;
        q->schema = empty;
        q->graph = nullptr;
    }
    return AnyResults(q);
}

// --- List -----------------------------------------------------------------------

List::List(std::shared_ptr<detail::Graph> graph, std::shared_ptr<Record> record, int index)
    : graph_(std::move(graph)), record_(std::move(record)), index_(index) {}

Foundation::Array List::current() const {
    const Property& p = record_->schema->properties[static_cast<std::size_t>(index_)];
    const Value stored = record_->value(static_cast<std::size_t>(index_));
    Value user = record_->graph ? graph_->userValue(p, stored) : stored;
    return user.isArray() ? user.asArray() : Foundation::Array{};
}

void List::store(Foundation::Array values) {
    const ObjectSchema& schema = *record_->schema;
    const Property& p = schema.properties[static_cast<std::size_t>(index_)];
    Value checked = detail::checkedUserValue(schema, p, Value(std::move(values)));
    if (!record_->graph) {
        record_->values()[static_cast<std::size_t>(index_)] = std::move(checked);
        return;
    }
    if (record_->invalidated) detail::fail(ErrorCode::invalidObject, "Object has been deleted or invalidated.");
    graph_->setValue(*record_, index_, graph_->storedValue(p, checked));
}

std::size_t List::count() const {
    const Value v = record_->value(static_cast<std::size_t>(index_));
    return v.isArray() ? v.asArray().size() : 0;
}

Value List::at(std::size_t index) const {
    auto values = current();
    if (index >= values.size()) throw std::out_of_range("List index out of range.");
    return values[index];
}

std::shared_ptr<Object> List::objectAt(std::size_t index) const {
    Value v = at(index);
    return v.isObject() ? std::dynamic_pointer_cast<Object>(v.asObject()) : nullptr;
}

void List::append(Value value) {
    auto values = current();
    values.push_back(std::move(value));
    store(std::move(values));
}

void List::insert(std::size_t index, Value value) {
    auto values = current();
    if (index > values.size()) throw std::out_of_range("List index out of range.");
    values.insert(values.begin() + static_cast<std::ptrdiff_t>(index), std::move(value));
    store(std::move(values));
}

void List::remove(std::size_t index) {
    auto values = current();
    if (index >= values.size()) throw std::out_of_range("List index out of range.");
    values.erase(values.begin() + static_cast<std::ptrdiff_t>(index));
    store(std::move(values));
}

void List::removeAll() { store({}); }

}  // namespace ObjectStore
