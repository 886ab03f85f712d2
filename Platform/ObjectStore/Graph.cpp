#include <algorithm>
#include <stdexcept>

#include "Platform/ObjectStore/detail/Core.h"

namespace ObjectStore::detail {

void fail(ErrorCode code, const std::string& description) { throw RealmError(code, description); }

std::string primaryKeyText(const Value& value) {
    if (auto s = value.stringOrNull()) return *s;
    if (value.isInt()) return std::to_string(value.asInt());
    return {};
}

Value defaultValueFor(const Property& p) {
    if (!p.defaultValue.isNull()) return p.defaultValue;
    if (p.type == PropertyType::LinkingObjects) return {};
    if (p.isArray) return Foundation::Array{};
    if (p.isNullable()) return {};
    switch (p.type) {
        case PropertyType::Int:
            return std::int64_t{0};
        case PropertyType::Bool:
            return false;
        case PropertyType::String:
            return std::string();
        case PropertyType::Data:
            return Foundation::Data{};
        case PropertyType::Date:
            return Foundation::Date{};
        case PropertyType::Float:
        case PropertyType::Double:
            return 0.0;
        default:
            return {};
    }
}

namespace {
[[noreturn]] void badValue(const ObjectSchema& s, const Property& p, const std::string& why) {
    throw std::invalid_argument("Invalid value for property '" + s.className + "." + p.name + "': " + why);
}

Value checkedElement(const ObjectSchema& s, const Property& p, Value v, bool nullable) {
    if (v.isNull()) {
        if (!nullable) badValue(s, p, "it cannot be null");
        return v;
    }
    switch (p.type) {
        case PropertyType::Int:
            if (!v.isInt()) badValue(s, p, "expected an integer, got " + v.debugDescription());
            return v;
        case PropertyType::Bool:
            if (!v.isBool()) badValue(s, p, "expected a Boolean, got " + v.debugDescription());
            return v;
        case PropertyType::String:
            if (!v.isString()) badValue(s, p, "expected text, got " + v.debugDescription());
            return v;
        case PropertyType::Data:
            if (!v.isData()) badValue(s, p, "expected data, got " + v.debugDescription());
            return v;
        case PropertyType::Date:
            if (!v.isDate()) badValue(s, p, "expected a date, got " + v.debugDescription());
            return v;
        case PropertyType::Float:
        case PropertyType::Double:
            if (!v.isNumber() || v.isBool()) badValue(s, p, "expected a number, got " + v.debugDescription());
            return Value(*v.numberValue());
        case PropertyType::Object: {
            auto obj = v.isObject() ? std::dynamic_pointer_cast<Object>(v.asObject()) : nullptr;
            if (!obj) badValue(s, p, "expected an object of class " + p.objectClassName);
            if (obj->className() != p.objectClassName)
                badValue(s, p, "expected an object of class " + p.objectClassName + ", got " + obj->className());
            return v;
        }
        default:
            badValue(s, p, "the property cannot be set");
    }
}
}  // namespace

Value checkedUserValue(const ObjectSchema& s, const Property& p, Value v) {
    if (p.type == PropertyType::LinkingObjects) badValue(s, p, "linking objects cannot be set");
    if (p.isArray) {
        if (v.isNull()) return Foundation::Array{};
        if (!v.isArray()) badValue(s, p, "expected a list");
        Foundation::Array out;
        out.reserve(v.asArray().size());
        for (auto& e : v.asArray()) out.push_back(checkedElement(s, p, e, p.optional));
        return out;
    }
    return checkedElement(s, p, std::move(v), p.isNullable());
}

// --- RowMap -------------------------------------------------------------------

std::size_t RowMap::lowerBound(std::int64_t key) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                               [](const Entry& e, std::int64_t k) { return e.first < k; });
    return static_cast<std::size_t>(it - entries_.begin());
}

RowMap::iterator RowMap::find(std::int64_t key) {
    std::size_t i = lowerBound(key);
    if (i == entries_.size() || entries_[i].first != key || !entries_[i].second) return end();
    return iterator(data() + i, data() + entries_.size());
}

RowMap::const_iterator RowMap::find(std::int64_t key) const {
    std::size_t i = lowerBound(key);
    if (i == entries_.size() || entries_[i].first != key || !entries_[i].second) return end();
    return const_iterator(data() + i, data() + entries_.size());
}

const std::shared_ptr<Record>& RowMap::at(std::int64_t key) const {
    auto it = find(key);
    if (it == end()) throw std::out_of_range("No object with that key.");
    return it->second;
}

std::pair<RowMap::iterator, bool> RowMap::emplace(std::int64_t key, std::shared_ptr<Record> record) {
    if (entries_.empty() || entries_.back().first < key) {
        entries_.emplace_back(key, std::move(record));
        ++live_;
        return {iterator(data() + entries_.size() - 1, data() + entries_.size()), true};
    }
    std::size_t i = lowerBound(key);
    if (entries_[i].first == key) {
        if (entries_[i].second) return {iterator(data() + i, data() + entries_.size()), false};
        entries_[i].second = std::move(record);  // the hole it left
        ++live_;
        return {iterator(data() + i, data() + entries_.size()), true};
    }
    // A key below the last one that was never here (a reload picking up
    // another connection's object): rare, so the entries are rebuilt.
    Entry extra(key, std::move(record));
    rebuild(&extra);
    ++live_;
    return {find(key), true};
}

std::size_t RowMap::erase(std::int64_t key) {
    auto it = find(key);
    if (it == end()) return 0;
    erase(it);
    if (entries_.size() >= 64 && entries_.size() - live_ >= live_) rebuild(nullptr);
    return 1;
}

RowMap::iterator RowMap::erase(iterator it) {
    it.position()->second.reset();
    --live_;
    return ++it;
}

std::int64_t RowMap::lastKey() const {
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
        if (it->second) return it->first;
    return 0;
}

void RowMap::rebuild(const Entry* extra) {
    std::vector<Entry, LargeAllocator<Entry>> kept;
    kept.reserve(live_ + 1);
    bool placed = !extra;
    for (auto& e : entries_) {
        if (!placed && extra->first < e.first) {
            kept.emplace_back(extra->first, extra->second);
            placed = true;
        }
        if (e.second) kept.emplace_back(e.first, std::move(e.second));
    }
    if (!placed) kept.emplace_back(extra->first, extra->second);
    entries_ = std::move(kept);
}

// --- Table --------------------------------------------------------------------

PrimaryKeyIndex& Table::byPrimaryKey() const {
    if (!primaryKeys_) {
        int pk = schema->primaryKeyIndex();
        auto index = std::make_unique<PrimaryKeyIndex>(pk);
        if (pk >= 0) {
            index->reserve(rows.size());
            // Later rows win a taken key, as they always have.
            for (auto& [key, r] : rows) {
                std::string text = primaryKeyText(r->value(static_cast<std::size_t>(pk)));
                if (Record* taken = index->insert(text, r.get()); taken != r.get()) {
                    index->erase(text, taken);
                    index->insert(text, r.get());
                }
            }
        }
        primaryKeys_ = std::move(index);
    }
    return *primaryKeys_;
}

// --- Graph --------------------------------------------------------------------

Graph::~Graph() = default;

Table* Graph::table(std::string_view className) {
    auto it = tables_.find(std::string(className));
    return it == tables_.end() ? nullptr : &it->second;
}

const Table* Graph::table(std::string_view className) const {
    auto it = tables_.find(std::string(className));
    return it == tables_.end() ? nullptr : &it->second;
}

Table& Graph::addTable(SchemaRef schema) {
    std::string name = schema->className;
    auto [it, inserted] = tables_.try_emplace(name);
    if (inserted) order_.push_back(name);
    Table& t = it->second;
    t.schema = std::move(schema);
    t.wrap = nullptr;
    t.makeDefault = nullptr;
    if (auto* type = registeredObjectType(name);
        type && (type->schema == t.schema || type->schema->sameStoredForm(*t.schema))) {
        t.wrap = type->wrap;
        t.makeDefault = type->makeDefault;
    }
    return t;
}

std::shared_ptr<Record> Graph::lookup(std::string_view className, std::int64_t key) const {
    const Table* t = table(className);
    if (!t) return nullptr;
    auto it = t->rows.find(key);
    return it == t->rows.end() ? nullptr : it->second;
}

std::shared_ptr<Record> Graph::lookupPrimaryKey(std::string_view className, const Value& primaryKey) const {
    const Table* t = table(className);
    if (!t || t->schema->primaryKey.empty()) return nullptr;
    Record* found = t->byPrimaryKey().find(primaryKeyText(primaryKey));
    if (!found) return nullptr;
    return lookup(className, found->key);
}

std::shared_ptr<Object> Graph::handle(const std::shared_ptr<Record>& record) {
    if (!record) return nullptr;
    Binding b{shared_from_this(), record};
    // Handles come in runs of one class (reading a result set): the table of
    // the last one is checked first.
    const Table* t = lastHandleTable_ && lastHandleTable_->schema == record->schema ? lastHandleTable_
                                                                                    : table(record->schema->className);
    lastHandleTable_ = t;
    if (t && t->wrap && t->schema == record->schema) return t->wrap(std::move(b));
    return std::allocate_shared<DynamicObject>(SmallAllocator<DynamicObject>(), std::move(b));
}

std::shared_ptr<Object> Graph::makeUnmanaged(std::string_view className) {
    Table* t = table(className);
    if (!t) fail(ErrorCode::invalidObject, "Class '" + std::string(className) + "' is not in the store's schema.");
    if (t->makeDefault) return t->makeDefault();
    return std::make_shared<DynamicObject>(t->schema);
}

std::vector<Value> Graph::defaultValues(const Table& t) {
    if (t.makeDefault) {
        auto object = t.makeDefault();
        const auto& defaults = object->record()->values();
        return std::vector<Value>(defaults.begin(), defaults.end());
    }
    std::vector<Value> values;
    values.reserve(t.schema->properties.size());
    for (auto& p : t.schema->properties) values.push_back(defaultValueFor(p));
    return values;
}

Value Graph::userValue(const Property& p, const Value& stored) {
    if (p.type != PropertyType::Object) return stored;
    auto one = [&](const Value& v) -> Value {
        if (!v.isInt()) return {};
        auto obj = handle(lookup(p.objectClassName, v.asInt()));
        return obj ? Value(obj) : Value();
    };
    if (!p.isArray) return one(stored);
    Foundation::Array out;
    if (auto* a = stored.arrayOrNull())
        for (auto& v : *a)
            if (auto u = one(v); !u.isNull()) out.push_back(std::move(u));
    return out;
}

Value Graph::storedValue(const Property& p, const Value& user) {
    if (p.type != PropertyType::Object) return user;
    auto one = [&](const Value& v) -> Value {
        if (v.isNull()) return {};
        auto obj = std::dynamic_pointer_cast<Object>(v.asObject());
        auto& rec = obj->record();
        if (rec->invalidated) fail(ErrorCode::invalidObject, "Object has been deleted or invalidated.");
        if (rec->graph == this) return rec->key;
        if (rec->graph) fail(ErrorCode::invalidObject, "Cannot link to an object of another store.");
        return insert(obj, UpdatePolicy::error)->key;
    };
    if (!p.isArray) return one(user);
    Foundation::Array out;
    for (auto& v : user.asArray()) out.push_back(one(v));
    return out;
}

void Graph::setValue(Record& record, int index, Value stored) {
    willModify(record);
    // A migration may change primary keys: the index is made again on next use.
    if (!primaryKeysFixed() && index == record.schema->primaryKeyIndex())
        if (Table* t = table(record.schema->className)) t->dropPrimaryKeyIndex();
    record.values()[static_cast<std::size_t>(index)] = std::move(stored);
    bumpVersion();
}

std::shared_ptr<Record> Graph::insert(const std::shared_ptr<Object>& object, UpdatePolicy policy) {
    checkWritable();
    auto rec = object->record();
    if (rec->graph == this && !rec->invalidated) return rec;
    if (rec->invalidated) fail(ErrorCode::invalidObject, "Object has been deleted or invalidated.");
    if (rec->graph) fail(ErrorCode::invalidObject, "Object is already managed by another store.");
    const std::string& cls = rec->schema->className;
    Table* t = table(cls);
    if (!t) fail(ErrorCode::invalidObject, "Class '" + cls + "' is not in the store's schema.");
    if (t->schema != rec->schema && !t->schema->sameStoredForm(*rec->schema))
        fail(ErrorCode::invalidObject, "Object of class '" + cls + "' does not have the store's form of the class.");
    const ObjectSchema& schema = *t->schema;
    int pk = schema.primaryKeyIndex();
    if (pk >= 0) {
        const Value& pkValue = rec->values()[static_cast<std::size_t>(pk)];
        if (pkValue.isNull()) fail(ErrorCode::invalidValue, "Object of class '" + cls + "' has no primary key value.");
        auto& index = t->byPrimaryKey();
        // One lookup both finds a taken key and claims a free one for this
        // object (which is in the rows before anything else can fail).
        const std::string pkText = primaryKeyText(pkValue);
        Record* existing = index.insert(pkText, rec.get());
        if (existing != rec.get()) {
            if (policy == UpdatePolicy::error)
                fail(ErrorCode::primaryKeyExists, "Attempting to create an object of type '" + cls +
                                                      "' with an existing primary key value '" + pkText + "'.");
            auto target = t->rows.at(existing->key);
            std::vector<Value> values(rec->values().begin(), rec->values().end());
            for (std::size_t i = 0; i < schema.properties.size(); ++i) {
                const Property& p = schema.properties[i];
                if (!p.isStored() || static_cast<int>(i) == pk) continue;
                setValue(*target, static_cast<int>(i), storedValue(p, values[i]));
            }
            object->bind(shared_from_this(), target);
            return target;
        }
    }
    bool hasLinks = std::any_of(schema.properties.begin(), schema.properties.end(),
                                [](const Property& p) { return p.isStored() && p.type == PropertyType::Object; });
    if (!hasLinks) {
        // Every value moves in as it is: nothing to convert, nothing to copy.
        for (std::size_t i = 0; i < schema.properties.size(); ++i)
            if (!schema.properties[i].isStored()) rec->values()[i] = Value();
        rec->schema = t->schema;
        rec->graph = this;
        rec->key = t->nextKey++;
        t->rows.emplace(rec->key, rec);
        didInsert(rec);
        object->bind(shared_from_this(), rec);
        bumpVersion();
        return rec;
    }
    // Register before converting links, so cycles of unmanaged objects end here.
    std::vector<Value> userValues(std::make_move_iterator(rec->values().begin()),
                                  std::make_move_iterator(rec->values().end()));
    for (Value& v : rec->values()) v = Value();
    rec->schema = t->schema;
    rec->graph = this;
    rec->key = t->nextKey++;
    t->rows.emplace(rec->key, rec);
    didInsert(rec);
    for (std::size_t i = 0; i < schema.properties.size(); ++i) {
        const Property& p = schema.properties[i];
        if (!p.isStored()) continue;
        // Only links change form; every other value moves in as it is.
        rec->values()[i] = p.type == PropertyType::Object ? storedValue(p, userValues[i]) : std::move(userValues[i]);
    }
    object->bind(shared_from_this(), rec);
    bumpVersion();
    return rec;
}

void Graph::remove(const std::shared_ptr<Record>& record) {
    if (!record || record->graph != this || record->invalidated)
        fail(ErrorCode::invalidObject, "Object has been deleted or invalidated, or is not managed by this store.");
    checkWritable();
    const std::string cls = record->schema->className;
    Table* t = table(cls);
    willRemove(record);
    t->rows.erase(record->key);
    int pk = t->schema->primaryKeyIndex();
    if (pk >= 0 && t->hasPrimaryKeyIndex())
        t->byPrimaryKey().erase(primaryKeyText(record->value(static_cast<std::size_t>(pk))), record.get());
    record->invalidated = true;
    // Links to the object become none; lists lose it.
    for (auto& name : order_) {
        Table& origin = tables_.at(name);
        const auto& props = origin.schema->properties;
        for (std::size_t i = 0; i < props.size(); ++i) {
            const Property& p = props[i];
            if (p.type != PropertyType::Object || p.objectClassName != cls) continue;
            for (auto& [key, row] : origin.rows) {
                // Read without making the row's values; only a row that
                // changes needs them.
                const Value v = row->value(i);
                if (!p.isArray) {
                    if (v.isInt() && v.asInt() == record->key) setValue(*row, static_cast<int>(i), Value());
                } else if (auto* a = v.arrayOrNull()) {
                    Value target(record->key);
                    if (std::find(a->begin(), a->end(), target) == a->end()) continue;
                    Foundation::Array kept;
                    for (auto& e : *a)
                        if (e != target) kept.push_back(e);
                    setValue(*row, static_cast<int>(i), std::move(kept));
                }
            }
        }
    }
    bumpVersion();
}

std::vector<std::shared_ptr<Record>> Graph::backlinks(const Record& target, const std::string& originClass,
                                                      int propertyIndex) const {
    std::vector<std::shared_ptr<Record>> out;
    const Table* origin = table(originClass);
    if (!origin || propertyIndex < 0 || target.invalidated) return out;
    const Property& p = origin->schema->properties[static_cast<std::size_t>(propertyIndex)];
    Value key(target.key);
    for (auto& [k, row] : origin->rows) {
        const Value v = row->value(static_cast<std::size_t>(propertyIndex));
        if (!p.isArray ? v == key
                       : (v.isArray() && std::find(v.asArray().begin(), v.asArray().end(), key) != v.asArray().end()))
            out.push_back(row);
    }
    return out;
}

void Graph::checkWritable() {}
void Graph::willModify(Record&) {}
void Graph::didInsert(const std::shared_ptr<Record>&) {}
void Graph::willRemove(const std::shared_ptr<Record>&) {}

}  // namespace ObjectStore::detail
