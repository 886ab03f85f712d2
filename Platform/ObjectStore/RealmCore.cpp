// The store instance: the SQLite file, its schema and migration, write
// transactions with an undo log, and change notifications.
//
// File layout (one SQLite database):
//   _vexil_meta(key, value)            "format" = "vexil-objectstore",
//                                      "formatVersion" = 1, "schemaVersion" = n
//   _vexil_class(name, primaryKey, nextKey)
//   _vexil_property(class, position, name, type, optional, list, target, origin)
//   "class_<Class>"(_key INTEGER PRIMARY KEY, one column per stored single
//                   property: integers and Booleans as INTEGER, text as TEXT,
//                   data as BLOB, dates (seconds since 1970) and numbers as
//                   REAL, links as the target's _key; NULL for none)
//   "list_<Class>_<property>"(owner, position, value)  one row per element
// Object keys grow and are never reused, so the natural order of a class is
// the order in which its objects were added.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <set>
#include <sstream>

#include "Platform/ObjectStore/detail/Core.h"
#include "Platform/ObjectStore/detail/Sqlite.h"

namespace ObjectStore {

namespace {
std::atomic<int> gFailCommits{0};
}

void testing::failNextCommits(int count) { gFailCommits = count; }

namespace detail {

namespace {

constexpr const char* kFormat = "vexil-objectstore";
constexpr std::int64_t kFormatVersion = 1;

std::string tableName(const std::string& cls) { return quoted("class_" + cls); }
std::string listTableName(const std::string& cls, const std::string& prop) { return quoted("list_" + cls + "_" + prop); }

bool hasTable(sqlite3* db, const std::string& name) {
    Statement st(db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?");
    st.bind(1, name);
    return st.step();
}

std::string columnType(const Property& p) {
    switch (p.type) {
        case PropertyType::String: return "TEXT";
        case PropertyType::Data: return "BLOB";
        case PropertyType::Date:
        case PropertyType::Float:
        case PropertyType::Double: return "REAL";
        default: return "INTEGER";
    }
}

Value readColumn(const Statement& st, int col, const Property& p) {
    if (st.type(col) == SQLITE_NULL) return {};
    switch (p.type) {
        case PropertyType::Int:
        case PropertyType::Object: return static_cast<std::int64_t>(st.integer(col));
        case PropertyType::Bool: return st.integer(col) != 0;
        case PropertyType::String: return st.text(col);
        case PropertyType::Data: {
            auto* b = static_cast<const std::uint8_t*>(st.blob(col));
            return Foundation::Data(b, b + st.bytes(col));
        }
        case PropertyType::Date: return Foundation::Date{st.real(col)};
        case PropertyType::Float:
        case PropertyType::Double: return st.real(col);
        default: return {};
    }
}

void bindValue(Statement& st, int i, const Property& p, const Value& v) {
    if (v.isNull()) return st.bindNull(i);
    switch (p.type) {
        case PropertyType::Int:
        case PropertyType::Object: return st.bind(i, static_cast<sqlite3_int64>(v.integerValue().value_or(0)));
        case PropertyType::Bool: return st.bind(i, static_cast<sqlite3_int64>(v.isBool() && v.asBool()));
        // The record outlives the statement's step, so the text is not copied.
        case PropertyType::String: return v.isString() ? st.bindStatic(i, v.asString()) : st.bind(i, std::string());
        case PropertyType::Data:
            if (v.isData()) return st.bindBlob(i, v.asData().data(), v.asData().size());
            return st.bindBlob(i, nullptr, 0);
        case PropertyType::Date: return st.bindDouble(i, v.isDate() ? v.asDate().secondsSince1970 : 0.0);
        case PropertyType::Float:
        case PropertyType::Double: return st.bindDouble(i, v.numberValue().value_or(0.0));
        default: return st.bindNull(i);
    }
}

std::vector<const Property*> singleColumns(const ObjectSchema& s) {
    std::vector<const Property*> cols;
    for (auto& p : s.properties)
        if (p.isStored() && !p.isArray) cols.push_back(&p);
    return cols;
}

void createMetaTables(sqlite3* db) {
    exec(db,
         "CREATE TABLE _vexil_meta(key TEXT PRIMARY KEY, value);"
         "CREATE TABLE _vexil_class(name TEXT PRIMARY KEY, primaryKey TEXT NOT NULL, nextKey INTEGER NOT NULL);"
         "CREATE TABLE _vexil_property(class TEXT NOT NULL, position INTEGER NOT NULL, name TEXT NOT NULL,"
         " type TEXT NOT NULL, optional INTEGER NOT NULL, list INTEGER NOT NULL, target TEXT NOT NULL,"
         " origin TEXT NOT NULL, PRIMARY KEY(class, position));");
    Statement st(db, "INSERT INTO _vexil_meta(key, value) VALUES (?, ?)");
    st.bind(1, std::string("format"));
    st.bind(2, std::string(kFormat));
    st.run();
    st.bind(1, std::string("formatVersion"));
    st.bind(2, static_cast<sqlite3_int64>(kFormatVersion));
    st.run();
}

void setSchemaVersion(sqlite3* db, std::uint64_t version) {
    Statement st(db, "INSERT OR REPLACE INTO _vexil_meta(key, value) VALUES ('schemaVersion', ?)");
    st.bind(1, static_cast<sqlite3_int64>(version));
    st.run();
}

void createClassTables(sqlite3* db, const ObjectSchema& s) {
    std::string sql = "CREATE TABLE " + tableName(s.className) + "(_key INTEGER PRIMARY KEY";
    for (auto* p : singleColumns(s)) sql += ", " + quoted(p->name) + " " + columnType(*p);
    sql += ");";
    for (auto& p : s.properties)
        if (p.isStored() && p.isArray)
            sql += "CREATE TABLE " + listTableName(s.className, p.name) +
                   "(owner INTEGER NOT NULL, position INTEGER NOT NULL, value " + columnType(p) +
                   ", PRIMARY KEY(owner, position)) WITHOUT ROWID;";
    exec(db, sql);
}

void dropClassTables(sqlite3* db, const ObjectSchema& s) {
    std::string sql = "DROP TABLE IF EXISTS " + tableName(s.className) + ";";
    for (auto& p : s.properties)
        if (p.isStored() && p.isArray) sql += "DROP TABLE IF EXISTS " + listTableName(s.className, p.name) + ";";
    exec(db, sql);
}

void writeClassSchema(sqlite3* db, const ObjectSchema& s, std::int64_t nextKey) {
    {
        Statement del(db, "DELETE FROM _vexil_property WHERE class=?");
        del.bind(1, s.className);
        del.run();
    }
    Statement cls(db, "INSERT OR REPLACE INTO _vexil_class(name, primaryKey, nextKey) VALUES (?, ?, ?)");
    cls.bind(1, s.className);
    cls.bind(2, s.primaryKey);
    cls.bind(3, static_cast<sqlite3_int64>(nextKey));
    cls.run();
    Statement prop(db,
                   "INSERT INTO _vexil_property(class, position, name, type, optional, list, target, origin)"
                   " VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
    for (std::size_t i = 0; i < s.properties.size(); ++i) {
        const Property& p = s.properties[i];
        prop.bind(1, s.className);
        prop.bind(2, static_cast<sqlite3_int64>(i));
        prop.bind(3, p.name);
        prop.bind(4, std::string(propertyTypeName(p.type)));
        prop.bind(5, static_cast<sqlite3_int64>(p.optional));
        prop.bind(6, static_cast<sqlite3_int64>(p.isArray));
        prop.bind(7, p.objectClassName);
        prop.bind(8, p.linkOriginPropertyName);
        prop.run();
    }
}

struct FileState {
    std::uint64_t version = 0;
    Schema schema;
    std::unordered_map<std::string, std::int64_t> nextKeys;
};

std::string notAStore(const std::string& path) {
    return "The file '" + path + "' is not a store file this program can read.";
}

FileState readFileState(sqlite3* db, const std::string& path) {
    FileState state;
    Foundation::Dictionary meta;
    {
        Statement st(db, "SELECT key, value FROM _vexil_meta");
        while (st.step()) {
            if (st.type(1) == SQLITE_INTEGER) meta.set(st.text(0), static_cast<std::int64_t>(st.integer(1)));
            else meta.set(st.text(0), st.text(1));
        }
    }
    if (meta["format"] != Value(kFormat) || !meta["formatVersion"].isInt() ||
        meta["formatVersion"].asInt() > kFormatVersion || !meta["schemaVersion"].isInt() ||
        meta["schemaVersion"].asInt() < 0)
        fail(ErrorCode::invalidDatabase, notAStore(path));
    state.version = static_cast<std::uint64_t>(meta["schemaVersion"].asInt());
    std::map<std::string, std::shared_ptr<ObjectSchema>> classes;
    std::vector<std::string> order;
    {
        Statement st(db, "SELECT name, primaryKey, nextKey FROM _vexil_class ORDER BY rowid");
        while (st.step()) {
            auto s = std::make_shared<ObjectSchema>();
            s->className = st.text(0);
            s->primaryKey = st.text(1);
            state.nextKeys[s->className] = st.integer(2);
            order.push_back(s->className);
            classes[s->className] = s;
        }
    }
    {
        Statement st(db,
                     "SELECT class, name, type, optional, list, target, origin FROM _vexil_property"
                     " ORDER BY class, position");
        while (st.step()) {
            auto it = classes.find(st.text(0));
            auto type = propertyTypeFromName(st.text(2));
            if (it == classes.end() || !type) fail(ErrorCode::invalidDatabase, notAStore(path));
            Property p;
            p.name = st.text(1);
            p.type = *type;
            p.optional = st.integer(3) != 0;
            p.isArray = st.integer(4) != 0;
            p.objectClassName = st.text(5);
            p.linkOriginPropertyName = st.text(6);
            it->second->properties.push_back(std::move(p));
        }
    }
    for (auto& name : order) {
        if (!classes[name]->validationError().empty()) fail(ErrorCode::invalidDatabase, notAStore(path));
        state.schema.push_back(classes[name]);
    }
    return state;
}

struct LoadedRow {
    std::int64_t key = 0;
    std::vector<Value> values;
};

// Rows of a class in key order, values aligned with the schema's properties.
std::vector<LoadedRow> readRows(sqlite3* db, const ObjectSchema& s) {
    std::vector<LoadedRow> rows;
    auto cols = singleColumns(s);
    std::string sql = "SELECT _key";
    for (auto* p : cols) sql += ", " + quoted(p->name);
    sql += " FROM " + tableName(s.className) + " ORDER BY _key";
    std::vector<int> columnOf(s.properties.size(), -1);
    for (std::size_t c = 0; c < cols.size(); ++c) columnOf[static_cast<std::size_t>(cols[c] - s.properties.data())] = static_cast<int>(c) + 1;
    std::unordered_map<std::int64_t, std::size_t> byKey;
    {
        Statement st(db, sql);
        // Owners are looked up by key only for the list tables below.
        const bool lists =
            std::any_of(s.properties.begin(), s.properties.end(), [](auto& p) { return p.isStored() && p.isArray; });
        while (st.step()) {
            LoadedRow& row = rows.emplace_back();
            row.key = st.integer(0);
            row.values.reserve(s.properties.size());
            for (std::size_t i = 0; i < s.properties.size(); ++i) {
                const Property& p = s.properties[i];
                if (p.type == PropertyType::LinkingObjects) {
                    row.values.emplace_back();
                } else if (p.isArray) {
                    row.values.emplace_back(Foundation::Array{});
                } else {
                    Value& v = row.values.emplace_back(readColumn(st, columnOf[i], p));
                    if (v.isNull() && !p.isNullable()) v = defaultValueFor(p);
                }
            }
            if (lists) byKey.emplace(row.key, rows.size() - 1);
        }
    }
    for (std::size_t i = 0; i < s.properties.size(); ++i) {
        const Property& p = s.properties[i];
        if (!p.isStored() || !p.isArray) continue;
        Statement st(db, "SELECT owner, value FROM " + listTableName(s.className, p.name) + " ORDER BY owner, position");
        while (st.step()) {
            auto it = byKey.find(st.integer(0));
            if (it == byKey.end()) continue;
            Value v = readColumn(st, 1, p);
            if (p.type == PropertyType::Object && v.isNull()) continue;
            rows[it->second].values[i].mutableArray().push_back(std::move(v));
        }
    }
    return rows;
}

// Writes rows of one class; statements prepared once.
class RowWriter {
public:
    RowWriter(sqlite3* db, const ObjectSchema& s) : db_(db), schema_(s), cols_(singleColumns(s)) {
        std::string sql = "INSERT OR REPLACE INTO " + tableName(s.className) + "(_key";
        std::string marks = "?";
        for (auto* p : cols_) {
            sql += ", " + quoted(p->name);
            marks += ", ?";
        }
        upsert_ = std::make_unique<Statement>(db, sql + ") VALUES (" + marks + ")");
    }

    void write(const Record& r, const std::vector<Value>* before) {
        upsert_->bind(1, static_cast<sqlite3_int64>(r.key));
        for (std::size_t c = 0; c < cols_.size(); ++c) {
            auto i = static_cast<std::size_t>(cols_[c] - schema_.properties.data());
            bindValue(*upsert_, static_cast<int>(c) + 2, *cols_[c], r.values[i]);
        }
        upsert_->run();
        for (std::size_t i = 0; i < schema_.properties.size(); ++i) {
            const Property& p = schema_.properties[i];
            if (!p.isStored() || !p.isArray) continue;
            if (before && (*before)[i] == r.values[i]) continue;
            clearList(p, r.key);
            auto& ins = listInsert(p);
            if (auto* a = r.values[i].arrayOrNull()) {
                for (std::size_t pos = 0; pos < a->size(); ++pos) {
                    ins.bind(1, static_cast<sqlite3_int64>(r.key));
                    ins.bind(2, static_cast<sqlite3_int64>(pos));
                    bindValue(ins, 3, p, (*a)[pos]);
                    ins.run();
                }
            }
        }
    }

    void erase(std::int64_t key) {
        if (!delete_) delete_ = std::make_unique<Statement>(db_, "DELETE FROM " + tableName(schema_.className) + " WHERE _key=?");
        delete_->bind(1, static_cast<sqlite3_int64>(key));
        delete_->run();
        for (auto& p : schema_.properties)
            if (p.isStored() && p.isArray) clearList(p, key);
    }

private:
    void clearList(const Property& p, std::int64_t key) {
        auto& st = listDelete_[p.name];
        if (!st) st = std::make_unique<Statement>(db_, "DELETE FROM " + listTableName(schema_.className, p.name) + " WHERE owner=?");
        st->bind(1, static_cast<sqlite3_int64>(key));
        st->run();
    }
    Statement& listInsert(const Property& p) {
        auto& st = listInsert_[p.name];
        if (!st)
            st = std::make_unique<Statement>(
                db_, "INSERT INTO " + listTableName(schema_.className, p.name) + "(owner, position, value) VALUES (?, ?, ?)");
        return *st;
    }

    sqlite3* db_;
    const ObjectSchema& schema_;
    std::vector<const Property*> cols_;
    std::unique_ptr<Statement> upsert_, delete_;
    std::map<std::string, std::unique_ptr<Statement>> listDelete_, listInsert_;
};

// Differences that need a migration, as readable lines; classes the file
// lacks are listed apart (they can be added without one).
std::vector<std::string> schemaDifferences(const Schema& target, const Schema& file, std::vector<SchemaRef>& added) {
    std::vector<std::string> out;
    for (auto& t : target) {
        auto it = std::find_if(file.begin(), file.end(), [&](auto& f) { return f->className == t->className; });
        if (it == file.end()) {
            added.push_back(t);
            continue;
        }
        const ObjectSchema& f = **it;
        for (auto& p : t->properties) {
            const Property* old = f.property(p.name);
            if (!old) out.push_back("Property '" + t->className + "." + p.name + "' has been added.");
            else if (!old->sameStoredForm(p))
                out.push_back("Property '" + t->className + "." + p.name + "' has been changed.");
        }
        for (auto& p : f.properties)
            if (!t->property(p.name)) out.push_back("Property '" + t->className + "." + p.name + "' has been removed.");
        if (f.primaryKey != t->primaryKey)
            out.push_back("Primary key of '" + t->className + "' has changed from '" + f.primaryKey + "' to '" +
                          t->primaryKey + "'.");
    }
    return out;
}

Schema targetSchema(const Configuration& c) {
    Schema s;
    if (c.objectTypes) s = *c.objectTypes;
    else
        for (auto& t : registeredObjectTypes()) s.push_back(t.schema);
    std::set<std::string> names;
    for (auto& cls : s) {
        if (auto e = cls->validationError(); !e.empty()) fail(ErrorCode::fail, "Invalid schema: " + e);
        if (!names.insert(cls->className).second) fail(ErrorCode::fail, "Invalid schema: class '" + cls->className + "' appears twice.");
    }
    auto find = [&](const std::string& name) -> SchemaRef {
        for (auto& cls : s)
            if (cls->className == name) return cls;
        return nullptr;
    };
    for (auto& cls : s)
        for (auto& p : cls->properties) {
            if (p.type == PropertyType::Object && !find(p.objectClassName))
                fail(ErrorCode::fail, "Invalid schema: '" + cls->className + "." + p.name + "' links to the unknown class '" +
                                          p.objectClassName + "'.");
            if (p.type == PropertyType::LinkingObjects) {
                auto origin = find(p.objectClassName);
                const Property* link = origin ? origin->property(p.linkOriginPropertyName) : nullptr;
                if (!link || link->type != PropertyType::Object || link->objectClassName != cls->className)
                    fail(ErrorCode::fail, "Invalid schema: '" + cls->className + "." + p.name +
                                              "' names no link to it in '" + p.objectClassName + "'.");
            }
        }
    return s;
}

// The old form of the objects during a migration: read only.
class OldGraph final : public Graph {
protected:
    void checkWritable() override { throw std::logic_error("The old form of an object cannot be changed."); }
    void willModify(Record&) override { throw std::logic_error("The old form of an object cannot be changed."); }
};

class NewGraph final : public Graph {};

class MigrationImpl final : public Migration {
public:
    MigrationImpl(std::shared_ptr<OldGraph> oldGraph, std::shared_ptr<NewGraph> newGraph, Schema oldSchema, Schema newSchema)
        : old_(std::move(oldGraph)), new_(std::move(newGraph)), oldSchema_(std::move(oldSchema)), newSchema_(std::move(newSchema)) {}

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

ErrorCode codeForSql(int rc) {
    switch (rc & 0xff) {
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
        case SQLITE_FORMAT: return ErrorCode::invalidDatabase;
        default: return ErrorCode::fileAccess;
    }
}

}  // namespace

// --- opening ---------------------------------------------------------------------

std::shared_ptr<RealmCore> RealmCore::open(const Configuration& configuration) {
    std::shared_ptr<RealmCore> core(new RealmCore());
    core->configuration_ = configuration;
    core->path_ = configuration.resolvedPath();
    core->thread_ = std::this_thread::get_id();
    try {
        core->openFile();
        core->prepareSchema();
        core->loadAll();
    } catch (const SqlError& e) {
        if (core->db_) sqlite3_exec(core->db_, "ROLLBACK", nullptr, nullptr, nullptr);
        ErrorCode code = codeForSql(e.code());
        fail(code, code == ErrorCode::invalidDatabase ? notAStore(core->path_)
                                                      : "Unable to open the store at '" + core->path_ + "': " + e.what());
    } catch (const RealmError&) {
        if (core->db_) sqlite3_exec(core->db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    return core;
}

RealmCore::~RealmCore() {
    if (db_) {
        if (inWrite_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close_v2(db_);
    }
}

void RealmCore::openFile() {
    namespace fs = std::filesystem;
    fs::path p(path_);
    std::error_code ec;
    fs::path dir = p.has_parent_path() ? p.parent_path() : fs::current_path(ec);
    if (!fs::is_directory(dir, ec))
        fail(ErrorCode::fileAccess, "Unable to open the store at '" + path_ + "': the directory does not exist.");
    if (fs::is_directory(p, ec)) fail(ErrorCode::fileAccess, "Unable to open the store at '" + path_ + "': it is a directory.");
    int rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        fail(ErrorCode::fileAccess, "Unable to open the store at '" + path_ + "': " + message);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, 5000);
    // Reading the catalogue fails here for a file that is not a database.
    exec(db_, "SELECT count(*) FROM sqlite_master");
    // Nothing is written (the journal mode included) to a database of
    // another program: only an empty one or one of ours.
    if (!hasTable(db_, "_vexil_meta")) {
        Statement st(db_, "SELECT count(*) FROM sqlite_master");
        st.step();
        if (st.integer(0) > 0) fail(ErrorCode::invalidDatabase, notAStore(path_));
    } else {
        Statement st(db_, "SELECT value FROM _vexil_meta WHERE key = 'format'");
        if (!st.step() || st.type(0) != SQLITE_TEXT || st.text(0) != kFormat)
            fail(ErrorCode::invalidDatabase, notAStore(path_));
    }
    exec(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;");
}

void RealmCore::prepareSchema() {
    Schema target = targetSchema(configuration_);
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!hasTable(db_, "_vexil_meta")) {
            {
                Statement st(db_, "SELECT count(*) FROM sqlite_master WHERE type='table'");
                st.step();
                if (st.integer(0) > 0) fail(ErrorCode::invalidDatabase, notAStore(path_));
            }
            exec(db_, "BEGIN IMMEDIATE");
            if (hasTable(db_, "_vexil_meta")) {  // another process was first
                exec(db_, "COMMIT");
                continue;
            }
            createMetaTables(db_);
            setSchemaVersion(db_, configuration_.schemaVersion);
            for (auto& cls : target) {
                createClassTables(db_, *cls);
                writeClassSchema(db_, *cls, 1);
            }
            exec(db_, "COMMIT");
            schema_ = target;
            return;
        }
        FileState state = readFileState(db_, path_);
        if (state.version > configuration_.schemaVersion)
            fail(ErrorCode::schemaVersionNewer,
                 "The store '" + path_ + "' has schema version " + std::to_string(state.version) +
                     ", newer than the version " + std::to_string(configuration_.schemaVersion) +
                     " this program reads. It was left unchanged.");
        if (state.version == configuration_.schemaVersion) {
            std::vector<SchemaRef> added;
            auto diffs = schemaDifferences(target, state.schema, added);
            if (!diffs.empty()) {
                std::string message = "Migration is required due to the following errors:";
                for (auto& d : diffs) message += "\n- " + d;
                fail(ErrorCode::schemaMismatch, message);
            }
            if (!added.empty()) {
                exec(db_, "BEGIN IMMEDIATE");
                for (auto& cls : added)
                    if (!hasTable(db_, "class_" + cls->className)) {
                        createClassTables(db_, *cls);
                        writeClassSchema(db_, *cls, 1);
                    }
                exec(db_, "COMMIT");
            }
            schema_ = target;
            return;
        }
        exec(db_, "BEGIN IMMEDIATE");
        FileState locked = readFileState(db_, path_);
        if (locked.version != state.version) {  // migrated meanwhile by another process
            exec(db_, "ROLLBACK");
            continue;
        }
        migrate(target);
        schema_ = target;
        return;
    }
    fail(ErrorCode::fileAccess, "The store '" + path_ + "' keeps changing while it is opened.");
}

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
            auto r = std::make_shared<Record>();
            r->schema = cls;
            r->graph = oldGraph.get();
            r->key = row.key;
            r->values = std::move(row.values);
            t.rows.emplace(r->key, r);
        }
    }
    for (auto& cls : target) {
        Table& t = newGraph->addTable(cls);
        const Table* oldT = oldGraph->table(cls->className);
        if (!oldT) continue;
        t.nextKey = oldT->nextKey;
        for (auto& [key, oldRec] : oldT->rows) {
            auto r = std::make_shared<Record>();
            r->schema = cls;
            r->graph = newGraph.get();
            r->key = key;
            r->values = newGraph->defaultValues(t);
            for (std::size_t i = 0; i < cls->properties.size(); ++i) {
                const Property& p = cls->properties[i];
                if (p.type == PropertyType::Object && !p.isArray) r->values[i] = Value();  // unmanaged defaults hold no links
                int oi = oldT->schema->indexOf(p.name);
                if (oi < 0 || !carriesOver(oldT->schema->properties[static_cast<std::size_t>(oi)], p)) continue;
                const Value& v = oldRec->values[static_cast<std::size_t>(oi)];
                if (v.isNull() && !p.isNullable()) continue;
                r->values[i] = v;
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
        for (auto& [key, r] : t.rows) {
            for (std::size_t i = 0; i < cls->properties.size(); ++i) {
                const Property& p = cls->properties[i];
                if (p.type != PropertyType::Object) continue;
                auto exists = [&](const Value& v) { return v.isInt() && newGraph->lookup(p.objectClassName, v.asInt()); };
                if (!p.isArray) {
                    if (!r->values[i].isNull() && !exists(r->values[i])) r->values[i] = Value();
                } else if (auto* a = r->values[i].arrayOrNull()) {
                    Foundation::Array kept;
                    for (auto& e : *a)
                        if (exists(e)) kept.push_back(e);
                    r->values[i] = std::move(kept);
                }
            }
            if (pk < 0) continue;
            const Value& v = r->values[static_cast<std::size_t>(pk)];
            if (v.isNull()) fail(ErrorCode::migrationFailed, "The migration left an object of type '" + cls->className + "' without a primary key.");
            if (!index.emplace(primaryKeyText(v), key).second)
                fail(ErrorCode::migrationFailed, "The migration left two objects of type '" + cls->className +
                                                     "' with the primary key '" + primaryKeyText(v) + "'.");
        }
    }
    for (auto& cls : target) {
        auto it = std::find_if(state.schema.begin(), state.schema.end(), [&](auto& f) { return f->className == cls->className; });
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

void RealmCore::loadAll() {
    exec(db_, "BEGIN");
    try {
        FileState state = readFileState(db_, path_);
        if (state.version != configuration_.schemaVersion)
            fail(ErrorCode::schemaMismatch, "The store '" + path_ + "' was changed by another program (schema version " +
                                                std::to_string(state.version) + ").");
        for (auto& cls : schema_) {
            Table& t = addTable(cls);
            t.nextKey = std::max<std::int64_t>(1, state.nextKeys[cls->className]);
            auto rows = readRows(db_, *cls);
            t.rows.reserve(rows.size());
            for (auto& row : rows) {
                auto r = std::make_shared<Record>();
                r->schema = cls;
                r->graph = this;
                r->key = row.key;
                r->values = std::move(row.values);
                t.nextKey = std::max(t.nextKey, r->key + 1);
                t.rows.emplace(r->key, r);
            }
        }
        dataVersion_ = readDataVersion();
        exec(db_, "COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    bumpVersion();
}

std::int64_t RealmCore::readDataVersion() {
    Statement st(db_, "PRAGMA data_version");
    st.step();
    return st.integer(0);
}

SchemaRef RealmCore::objectSchema(std::string_view className) const {
    const Table* t = table(className);
    return t ? t->schema : nullptr;
}

// --- refresh -----------------------------------------------------------------------

// Must run inside a transaction of this connection.
bool RealmCore::reloadIfChanged() {
    std::int64_t dv = readDataVersion();
    if (dv == dataVersion_) return false;
    FileState state = readFileState(db_, path_);
    if (state.version != configuration_.schemaVersion)
        fail(ErrorCode::schemaMismatch, "The store '" + path_ + "' was changed by another program (schema version " +
                                            std::to_string(state.version) + ").");
    std::unordered_map<std::string, std::unordered_set<std::int64_t>> modified;
    for (auto& cls : schema_) {
        Table& t = *table(cls->className);
        auto rows = readRows(db_, *cls);
        std::unordered_map<std::int64_t, LoadedRow*> fresh;
        for (auto& row : rows) fresh.emplace(row.key, &row);
        for (auto it = t.rows.begin(); it != t.rows.end();) {
            if (!fresh.count(it->first)) {
                it->second->invalidated = true;
                it = t.rows.erase(it);
            } else {
                ++it;
            }
        }
        for (auto& row : rows) {
            auto it = t.rows.find(row.key);
            if (it != t.rows.end()) {
                if (it->second->values != row.values) {
                    it->second->values = std::move(row.values);
                    modified[cls->className].insert(row.key);
                }
            } else {
                auto r = std::make_shared<Record>();
                r->schema = cls;
                r->graph = this;
                r->key = row.key;
                r->values = std::move(row.values);
                t.rows.emplace(r->key, r);
            }
        }
        t.dropPrimaryKeyIndex();
        t.nextKey = std::max(t.nextKey, state.nextKeys[cls->className]);
        if (!t.rows.empty()) t.nextKey = std::max(t.nextKey, t.rows.lastKey() + 1);
    }
    dataVersion_ = dv;
    bumpVersion();
    markChanged(modified, {});
    return true;
}

bool RealmCore::refresh() {
    if (inWrite_) return false;
    try {
        exec(db_, "BEGIN");
        bool changed = reloadIfChanged();
        exec(db_, "COMMIT");
        return changed;
    } catch (const std::exception& e) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        Foundation::Error error;
        if (auto* re = dynamic_cast<const RealmError*>(&e)) error = re->error();
        else error = Foundation::Error{ErrorDomain, static_cast<long>(ErrorCode::invalidDatabase), notAStore(path_), {}};
        for (auto& weak : notifiers_)
            if (auto n = weak.lock(); n && !n->dead) {
                std::weak_ptr<Notifier> wn = n;
                n->queue->async([wn, error] {
                    if (auto s = wn.lock()) s->deliverError(error);
                });
            }
        throw RealmError(error);
    }
}

// --- write transactions ----------------------------------------------------------------

void RealmCore::requireThread() const {
    if (std::this_thread::get_id() != thread_)
        fail(ErrorCode::wrongThread, "The store was opened on another thread.");
}

void RealmCore::beginWrite() {
    requireThread();
    if (inWrite_) fail(ErrorCode::alreadyInWriteTransaction, "The store is already in a write transaction.");
    // Pending updates first, so that the commit's skip list hides only its own changes.
    for (int round = 0; round < 8; ++round) {
        bool any = false;
        for (auto& weak : std::vector<std::weak_ptr<Notifier>>(notifiers_))
            if (auto n = weak.lock(); n && !n->dead && n->dirty && n->initialDelivered && !n->delivering &&
                                      deliverableHere(*n)) {
                any = true;
                n->deliverUpdate();
            }
        if (!any) break;
    }
    if (inWrite_) fail(ErrorCode::alreadyInWriteTransaction, "The store is already in a write transaction.");
    try {
        exec(db_, "BEGIN IMMEDIATE");
    } catch (const SqlError& e) {
        fail(ErrorCode::fileAccess, "The store '" + path_ + "' cannot be written: " + e.what());
    }
    try {
        reloadIfChanged();
    } catch (const SqlError& e) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        fail(codeForSql(e.code()), "The store '" + path_ + "' cannot be read: " + e.what());
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    inWrite_ = true;
    undo_.clear();
    undoOrder_.clear();
    nextKeysAtBegin_.clear();
    for (auto& name : order_) nextKeysAtBegin_[name] = tables_.at(name).nextKey;
}

RealmCore::Undo& RealmCore::undoFor(const std::shared_ptr<Record>& record) {
    auto [it, inserted] = undo_.try_emplace(record.get());
    if (inserted) {
        it->second.record = record;
        undoOrder_.push_back(record.get());
    }
    return it->second;
}

void RealmCore::checkWritable() {
    if (!inWrite_) fail(ErrorCode::notInWriteTransaction, "Cannot change the store outside of a write transaction.");
}

void RealmCore::willModify(Record& record) {
    checkWritable();
    Undo* u = nullptr;
    if (auto it = undo_.find(&record); it != undo_.end()) {
        u = &it->second;
    } else {
        auto shared = lookup(record.schema->className, record.key);
        if (!shared || shared.get() != &record) return;
        u = &undoFor(shared);
    }
    if (!u->inserted && !u->oldValues) u->oldValues = record.values;
}

void RealmCore::didInsert(const std::shared_ptr<Record>& record) { undoFor(record).inserted = true; }

void RealmCore::willRemove(const std::shared_ptr<Record>& record) {
    Undo& u = undoFor(record);
    if (!u.inserted && !u.oldValues) u.oldValues = record->values;
    u.removed = true;
}

void RealmCore::writeChanges() {
    std::map<std::string, std::unique_ptr<RowWriter>> writers;
    auto writer = [&](const Record& r) -> RowWriter& {
        auto& w = writers[r.schema->className];
        if (!w) w = std::make_unique<RowWriter>(db_, *r.schema);
        return *w;
    };
    for (Record* raw : undoOrder_) {
        const Undo& u = undo_.at(raw);
        const Record& r = *u.record;
        if (u.inserted && u.removed) continue;
        if (u.removed) writer(r).erase(r.key);
        else if (u.inserted) writer(r).write(r, nullptr);
        else if (u.oldValues && *u.oldValues != r.values) writer(r).write(r, &*u.oldValues);
    }
    Statement next(db_, "UPDATE _vexil_class SET nextKey=? WHERE name=?");
    for (auto& name : order_) {
        std::int64_t k = tables_.at(name).nextKey;
        if (k != nextKeysAtBegin_[name]) {
            next.bind(1, static_cast<sqlite3_int64>(k));
            next.bind(2, name);
            next.run();
        }
    }
}

void RealmCore::commitWrite(const std::vector<NotificationTokenRef>& skip) {
    requireThread();
    if (!inWrite_) fail(ErrorCode::notInWriteTransaction, "There is no write transaction to commit.");
    try {
        if (gFailCommits > 0) {
            --gFailCommits;
            throw SqlError(SQLITE_FULL, "database or disk is full");
        }
        writeChanges();
        exec(db_, "COMMIT");
    } catch (const SqlError& e) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        rollbackMemory();
        fail(ErrorCode::commitFailed, "The store '" + path_ + "' could not be written: " + e.what() + ".");
    }
    // Our own commit leaves data_version as it is for this connection.
    std::unordered_map<std::string, std::unordered_set<std::int64_t>> modified;
    for (Record* raw : undoOrder_) {
        const Undo& u = undo_.at(raw);
        if (!u.inserted && !u.removed && u.oldValues) modified[raw->schema->className].insert(raw->key);
    }
    inWrite_ = false;
    undo_.clear();
    undoOrder_.clear();
    markChanged(modified, skip);
}

void RealmCore::cancelWrite() {
    requireThread();
    if (!inWrite_) fail(ErrorCode::notInWriteTransaction, "There is no write transaction to cancel.");
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    rollbackMemory();
}

void RealmCore::rollbackMemory() {
    for (auto it = undoOrder_.rbegin(); it != undoOrder_.rend(); ++it) {
        Undo& u = undo_.at(*it);
        Record& r = *u.record;
        Table& t = *table(r.schema->className);
        int pk = r.schema->primaryKeyIndex();
        if (u.oldValues) r.values = *u.oldValues;
        if (u.inserted) {
            t.rows.erase(r.key);
            if (pk >= 0 && t.hasPrimaryKeyIndex()) {
                auto& index = t.byPrimaryKey();
                auto found = index.find(primaryKeyText(r.values[static_cast<std::size_t>(pk)]));
                if (found != index.end() && found->second == r.key) index.erase(found);
            }
            r.invalidated = true;
        } else if (u.removed) {
            t.rows.emplace(r.key, u.record);
            if (pk >= 0 && t.hasPrimaryKeyIndex()) t.byPrimaryKey()[primaryKeyText(r.values[static_cast<std::size_t>(pk)])] = r.key;
            r.invalidated = false;
        }
    }
    for (auto& [name, key] : nextKeysAtBegin_)
        if (Table* t = table(name)) t->nextKey = key;
    undo_.clear();
    undoOrder_.clear();
    inWrite_ = false;
    bumpVersion();
}

// --- notifications ----------------------------------------------------------------------

void RealmCore::addNotifier(const std::shared_ptr<Notifier>& notifier) {
    requireThread();
    notifiers_.erase(std::remove_if(notifiers_.begin(), notifiers_.end(), [](auto& w) { return w.expired(); }),
                     notifiers_.end());
    notifiers_.push_back(notifier);
}

bool RealmCore::deliverableHere(const Notifier& n) const {
    if (n.queue == Foundation::DispatchQueue::main()) return Foundation::DispatchQueue::isMainThread();
    return n.queue->isCurrent();
}

void RealmCore::markChanged(const std::unordered_map<std::string, std::unordered_set<std::int64_t>>& modified,
                            const std::vector<NotificationTokenRef>& skip) {
    for (auto& weak : std::vector<std::weak_ptr<Notifier>>(notifiers_)) {
        auto n = weak.lock();
        if (!n || n->dead || !n->initialDelivered) continue;
        bool skipped = std::any_of(skip.begin(), skip.end(), [&](auto& t) { return t && t->notifier() == n; });
        if (skipped) {
            n->baseline = n->currentKeys();
            n->modified.clear();
            n->dirty = false;
            continue;
        }
        n->dirty = true;
        if (auto it = modified.find(n->results->className()); it != modified.end())
            n->modified.insert(it->second.begin(), it->second.end());
        scheduleDelivery(n->queue);
    }
}

void RealmCore::scheduleDelivery(const std::shared_ptr<Foundation::DispatchQueue>& queue) {
    if (std::find(scheduled_.begin(), scheduled_.end(), queue) != scheduled_.end()) return;
    scheduled_.push_back(queue);
    std::weak_ptr<RealmCore> weak = std::static_pointer_cast<RealmCore>(shared_from_this());
    queue->async([weak, queue] {
        if (auto core = weak.lock()) {
            core->scheduled_.erase(std::remove(core->scheduled_.begin(), core->scheduled_.end(), queue), core->scheduled_.end());
            core->deliverPendingOn(queue);
        }
    });
}

void RealmCore::deliverPendingOn(const std::shared_ptr<Foundation::DispatchQueue>& queue) {
    for (auto& weak : std::vector<std::weak_ptr<Notifier>>(notifiers_))
        if (auto n = weak.lock(); n && n->queue == queue) n->deliverUpdate();
}

void RealmCore::deliverPending() {
    for (auto& weak : std::vector<std::weak_ptr<Notifier>>(notifiers_))
        if (auto n = weak.lock(); n && deliverableHere(*n)) n->deliverUpdate();
}

}  // namespace detail
}  // namespace ObjectStore
