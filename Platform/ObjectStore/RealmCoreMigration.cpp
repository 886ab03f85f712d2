// Migrating a store file to a new schema: the old and new object graphs the
// migration block sees, and rewriting the file's tables from them.

#include <algorithm>

#include "Platform/ObjectStore/detail/Core.h"
#include "Platform/ObjectStore/detail/RealmFile.h"
#include "Platform/ObjectStore/detail/Sqlite.h"

namespace ObjectStore {
namespace detail {

namespace {

// The old form of the objects during a migration: read only.
class OldGraph final : public Graph {
protected:
    void checkWritable() override { throw std::logic_error("The old form of an object cannot be changed."); }
    void willModify(Record&) override { throw std::logic_error("The old form of an object cannot be changed."); }
};

class NewGraph final : public Graph {};

class MigrationImpl final : public Migration {
public:
    MigrationImpl(std::shared_ptr<OldGraph> oldGraph, std::shared_ptr<NewGraph> newGraph, Schema oldSchema,
                  Schema newSchema)
        : old_(std::move(oldGraph)),
          new_(std::move(newGraph)),
          oldSchema_(std::move(oldSchema)),
          newSchema_(std::move(newSchema)) {}

    const Schema& oldSchema() const override { return oldSchema_; }
    const Schema& newSchema() const override { return newSchema_; }

    void enumerateObjects(const std::string& className, const EnumerateBlock& block) override {
        const Table* oldT = old_->table(className);
        Table* newT = new_->table(className);
        if (oldT) {
            std::vector<std::shared_ptr<Record>> rows;
            for (auto& [k, r] : oldT->rows) rows.push_back(r);
            for (auto& r : rows) {
                std::shared_ptr<Object> n;
                if (newT)
                    if (auto it = newT->rows.find(r->key); it != newT->rows.end()) n = new_->handle(it->second);
                block(old_->handle(r), n);
            }
        } else if (newT) {
            std::vector<std::shared_ptr<Record>> rows;
            for (auto& [k, r] : newT->rows) rows.push_back(r);
            for (auto& r : rows)
                if (!r->invalidated) block(nullptr, new_->handle(r));
        }
    }

    std::shared_ptr<Object> create(const std::string& className, const Foundation::Dictionary& values) override {
        auto obj = new_->makeUnmanaged(className);
        for (auto& [k, v] : values) obj->setValue(k, v);
        new_->insert(obj, UpdatePolicy::modified);
        return obj;
    }

    void deleteObject(const std::shared_ptr<Object>& newObject) override {
        if (newObject && newObject->record()->graph == new_.get() && !newObject->record()->invalidated)
            new_->remove(newObject->record());
    }

private:
    std::shared_ptr<OldGraph> old_;
    std::shared_ptr<NewGraph> new_;
    Schema oldSchema_, newSchema_;
};

// An old value carries over when both forms store it the same way (optional
// may differ: a none for a required property gives the new default).
bool carriesOver(const Property& from, const Property& to) {
    return from.type == to.type && from.isArray == to.isArray && from.objectClassName == to.objectClassName &&
           to.isStored();
}

}  // namespace

// Runs inside BEGIN IMMEDIATE; commits on success. Any failure leaves the
// file as it was (the caller rolls back).
void RealmCore::migrate(const Schema& target) {
    FileState state = readFileState(db_, path_);
    auto oldGraph = std::make_shared<OldGraph>();
    auto newGraph = std::make_shared<NewGraph>();
    for (auto& cls : state.schema) {
        Table& t = oldGraph->addTable(cls);
        t.nextKey = state.nextKeys[cls->className];
        for (auto& row : readRows(db_, *cls)) {
            auto r = std::allocate_shared<Record>(SmallAllocator<Record>());
            r->schema = cls;
            r->graph = oldGraph.get();
            r->key = row.key;
            r->assign(std::move(row.values));
            t.rows.emplace(r->key, r);
        }
    }
    for (auto& cls : target) {
        Table& t = newGraph->addTable(cls);
        const Table* oldT = oldGraph->table(cls->className);
        if (!oldT) continue;
        t.nextKey = oldT->nextKey;
        for (auto& [key, oldRec] : oldT->rows) {
            auto r = std::allocate_shared<Record>(SmallAllocator<Record>());
            r->schema = cls;
            r->graph = newGraph.get();
            r->key = key;
            r->assign(newGraph->defaultValues(t));
            auto& values = r->values();
            for (std::size_t i = 0; i < cls->properties.size(); ++i) {
                const Property& p = cls->properties[i];
                if (p.type == PropertyType::Object && !p.isArray)
                    values[i] = Value();  // unmanaged defaults hold no links
                int oi = oldT->schema->indexOf(p.name);
                if (oi < 0 || !carriesOver(oldT->schema->properties[static_cast<std::size_t>(oi)], p)) continue;
                const Value& v = oldRec->values()[static_cast<std::size_t>(oi)];
                if (v.isNull() && !p.isNullable()) continue;
                values[i] = v;
            }
            t.rows.emplace(key, r);
        }
    }
    if (configuration_.migrationBlock) {
        MigrationImpl migration(oldGraph, newGraph, state.schema, target);
        try {
            configuration_.migrationBlock(migration, state.version);
        } catch (const RealmError&) {
            throw;
        } catch (const std::exception& e) {
            fail(ErrorCode::migrationFailed, std::string("The store could not be migrated: ") + e.what());
        }
    }
    // Primary keys must be unique; links must point at stored objects.
    for (auto& cls : target) {
        Table& t = *newGraph->table(cls->className);
        t.dropPrimaryKeyIndex();
        auto& index = t.byPrimaryKey();  // made from the rows, checked again below
        index.clear();
        int pk = cls->primaryKeyIndex();
        index.reserve(t.rows.size());
        for (auto& [key, rec] : t.rows) {
            Record* r = rec.get();
            auto& values = r->values();
            for (std::size_t i = 0; i < cls->properties.size(); ++i) {
                const Property& p = cls->properties[i];
                if (p.type != PropertyType::Object) continue;
                auto exists = [&](const Value& v) {
                    return v.isInt() && newGraph->lookup(p.objectClassName, v.asInt());
                };
                if (!p.isArray) {
                    if (!values[i].isNull() && !exists(values[i])) values[i] = Value();
                } else if (auto* a = values[i].arrayOrNull()) {
                    Foundation::Array kept;
                    for (auto& e : *a)
                        if (exists(e)) kept.push_back(e);
                    values[i] = std::move(kept);
                }
            }
            if (pk < 0) continue;
            const Value& v = values[static_cast<std::size_t>(pk)];
            if (v.isNull())
                fail(ErrorCode::migrationFailed,
                     "The migration left an object of type '" + cls->className + "' without a primary key.");
            if (index.insert(primaryKeyText(v), r) != r)
                fail(ErrorCode::migrationFailed, "The migration left two objects of type '" + cls->className +
                                                     "' with the primary key '" + primaryKeyText(v) + "'.");
        }
    }
    for (auto& cls : target) {
        auto it = std::find_if(state.schema.begin(), state.schema.end(),
                               [&](auto& f) { return f->className == cls->className; });
        if (it != state.schema.end()) dropClassTables(db_, **it);
        createClassTables(db_, *cls);
        Table& t = *newGraph->table(cls->className);
        writeClassSchema(db_, *cls, t.nextKey);
        RowWriter writer(db_, *cls);
        for (auto& [key, r] : t.rows) writer.write(*r, nullptr);
    }
    setSchemaVersion(db_, configuration_.schemaVersion);
    exec(db_, "COMMIT");
}

}  // namespace detail
}  // namespace ObjectStore
