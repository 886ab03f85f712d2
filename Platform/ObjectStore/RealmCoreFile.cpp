// The store file: its format and schema, and opening a store instance on it.
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
#include <filesystem>
#include <set>
#include <sstream>

#include "Platform/ObjectStore/detail/Core.h"
#include "Platform/ObjectStore/detail/RealmFile.h"
#include "Platform/ObjectStore/detail/Sqlite.h"

namespace ObjectStore {
namespace detail {

namespace {

constexpr const char* kFormat = "vexil-objectstore";
constexpr std::int64_t kFormatVersion = 1;

}  // namespace

std::string tableName(const std::string& cls) { return quoted("class_" + cls); }
std::string listTableName(const std::string& cls, const std::string& prop) {
    return quoted("list_" + cls + "_" + prop);
}

namespace {

bool hasTable(sqlite3* db, const std::string& name) {
    Statement st(db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?");
    st.bind(1, name);
    return st.step();
}

std::string columnType(const Property& p) {
    switch (p.type) {
        case PropertyType::String:
            return "TEXT";
        case PropertyType::Data:
            return "BLOB";
        case PropertyType::Date:
        case PropertyType::Float:
        case PropertyType::Double:
            return "REAL";
        default:
            return "INTEGER";
    }
}

Value readColumn(const Statement& st, int col, const Property& p) {
    if (st.type(col) == SQLITE_NULL) return {};
    switch (p.type) {
        case PropertyType::Int:
        case PropertyType::Object:
            return static_cast<std::int64_t>(st.integer(col));
        case PropertyType::Bool:
            return st.integer(col) != 0;
        case PropertyType::String:
            return st.text(col);
        case PropertyType::Data: {
            auto* b = static_cast<const std::uint8_t*>(st.blob(col));
            return Foundation::Data(b, b + st.bytes(col));
        }
        case PropertyType::Date:
            return Foundation::Date{st.real(col)};
        case PropertyType::Float:
        case PropertyType::Double:
            return st.real(col);
        default:
            return {};
    }
}

}  // namespace

void bindValue(Statement& st, int i, const Property& p, const Value& v) {
    if (v.isNull()) return st.bindNull(i);
    switch (p.type) {
        case PropertyType::Int:
        case PropertyType::Object:
            return st.bind(i, static_cast<sqlite3_int64>(v.integerValue().value_or(0)));
        case PropertyType::Bool:
            return st.bind(i, static_cast<sqlite3_int64>(v.isBool() && v.asBool()));
        // The record outlives the statement's step, so the text is not copied.
        case PropertyType::String:
            return v.isString() ? st.bindStatic(i, v.asString()) : st.bind(i, std::string());
        case PropertyType::Data:
            if (v.isData()) return st.bindBlob(i, v.asData().data(), v.asData().size());
            return st.bindBlob(i, nullptr, 0);
        case PropertyType::Date:
            return st.bindDouble(i, v.isDate() ? v.asDate().secondsSince1970 : 0.0);
        case PropertyType::Float:
        case PropertyType::Double:
            return st.bindDouble(i, v.numberValue().value_or(0.0));
        default:
            return st.bindNull(i);
    }
}

std::vector<const Property*> singleColumns(const ObjectSchema& s) {
    std::vector<const Property*> cols;
    for (auto& p : s.properties)
        if (p.isStored() && !p.isArray) cols.push_back(&p);
    return cols;
}

namespace {

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

}  // namespace

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

std::string notAStore(const std::string& path) {
    return "The file '" + path + "' is not a store file this program can read.";
}

FileState readFileState(sqlite3* db, const std::string& path) {
    FileState state;
    Foundation::Dictionary meta;
    {
        Statement st(db, "SELECT key, value FROM _vexil_meta");
        while (st.step()) {
            if (st.type(1) == SQLITE_INTEGER)
                meta.set(st.text(0), static_cast<std::int64_t>(st.integer(1)));
            else
                meta.set(st.text(0), st.text(1));
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

// The rows' query in key order, and each property's result column (-1: not a column of the table).
struct RowQuery {
    std::string sql;
    std::vector<int> columnOf;
};

RowQuery rowQuery(const ObjectSchema& s) {
    RowQuery q;
    auto cols = singleColumns(s);
    q.sql = "SELECT _key";
    for (auto* p : cols) q.sql += ", " + quoted(p->name);
    q.sql += " FROM " + tableName(s.className) + " ORDER BY _key";
    q.columnOf.assign(s.properties.size(), -1);
    for (std::size_t c = 0; c < cols.size(); ++c)
        q.columnOf[static_cast<std::size_t>(cols[c] - s.properties.data())] = static_cast<int>(c) + 1;
    return q;
}

void readRowsInto(sqlite3* db, const ObjectSchema& s, const std::function<Value*(std::int64_t key)>& row) {
    auto [sql, columnOf] = rowQuery(s);
    // Owners are looked up by key only for the list tables below.
    const bool lists =
        std::any_of(s.properties.begin(), s.properties.end(), [](auto& p) { return p.isStored() && p.isArray; });
    std::unordered_map<std::int64_t, Value*> byKey;
    {
        Statement st(db, sql);
        while (st.step()) {
            const std::int64_t key = st.integer(0);
            Value* values = row(key);
            for (std::size_t i = 0; i < s.properties.size(); ++i) {
                const Property& p = s.properties[i];
                if (p.type == PropertyType::LinkingObjects) continue;
                if (p.isArray) {
                    values[i] = Value(Foundation::Array{});
                } else {
                    Value& v = values[i] = readColumn(st, columnOf[i], p);
                    if (v.isNull() && !p.isNullable()) v = defaultValueFor(p);
                }
            }
            if (lists) byKey.emplace(key, values);
        }
    }
    for (std::size_t i = 0; i < s.properties.size(); ++i) {
        const Property& p = s.properties[i];
        if (!p.isStored() || !p.isArray) continue;
        Statement st(db,
                     "SELECT owner, value FROM " + listTableName(s.className, p.name) + " ORDER BY owner, position");
        while (st.step()) {
            auto it = byKey.find(st.integer(0));
            if (it == byKey.end()) continue;
            Value v = readColumn(st, 1, p);
            if (p.type == PropertyType::Object && v.isNull()) continue;
            it->second[i].mutableArray().push_back(std::move(v));
        }
    }
}

std::vector<LoadedRow> readRows(sqlite3* db, const ObjectSchema& s) {
    std::vector<LoadedRow> rows;
    readRowsInto(db, s, [&](std::int64_t key) {
        LoadedRow& row = rows.emplace_back();
        row.key = key;
        row.values.resize(s.properties.size());
        return row.values.data();
    });
    return rows;
}

void readRecords(sqlite3* db, const std::shared_ptr<RecordBlock>& block, const ObjectSchema& s, Graph* graph,
                 const std::function<void(std::shared_ptr<Record>)>& add) {
    auto [sql, columnOf] = rowQuery(s);
    ColumnSet& columns = block->columns();
    {
        Statement st(db, sql);
        while (st.step()) {
            columns.append(st, columnOf);
            add(RecordBlock::make(block, graph, st.integer(0)));
        }
    }
    for (std::size_t i = 0; i < s.properties.size(); ++i) {
        const Property& p = s.properties[i];
        if (!p.isStored() || !p.isArray) continue;
        Statement st(db,
                     "SELECT owner, value FROM " + listTableName(s.className, p.name) + " ORDER BY owner, position");
        // Owners come in key order, as the rows do: one pass finds them.
        std::size_t row = 0;
        while (st.step()) {
            const std::int64_t owner = st.integer(0);
            while (row < block->size() && block->at(row).key < owner) ++row;
            if (row == block->size()) break;
            if (block->at(row).key != owner) continue;
            Value v = readColumn(st, 1, p);
            if (p.type == PropertyType::Object && v.isNull()) continue;
            columns.appendListValue(row, i, std::move(v));
        }
    }
}

std::size_t countRows(sqlite3* db, const ObjectSchema& s) {
    Statement st(db, "SELECT count(*) FROM " + tableName(s.className));
    return st.step() ? static_cast<std::size_t>(st.integer(0)) : 0;
}

namespace {

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
            if (!old)
                out.push_back("Property '" + t->className + "." + p.name + "' has been added.");
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
    if (c.objectTypes)
        s = *c.objectTypes;
    else
        for (auto& t : registeredObjectTypes()) s.push_back(t.schema);
    std::set<std::string> names;
    for (auto& cls : s) {
        if (auto e = cls->validationError(); !e.empty()) fail(ErrorCode::fail, "Invalid schema: " + e);
        if (!names.insert(cls->className).second)
            fail(ErrorCode::fail, "Invalid schema: class '" + cls->className + "' appears twice.");
    }
    auto find = [&](const std::string& name) -> SchemaRef {
        for (auto& cls : s)
            if (cls->className == name) return cls;
        return nullptr;
    };
    for (auto& cls : s)
        for (auto& p : cls->properties) {
            if (p.type == PropertyType::Object && !find(p.objectClassName))
                fail(ErrorCode::fail, "Invalid schema: '" + cls->className + "." + p.name +
                                          "' links to the unknown class '" + p.objectClassName + "'.");
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

}  // namespace

ErrorCode codeForSql(int rc) {
    switch (rc & 0xff) {
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
        case SQLITE_FORMAT:
            return ErrorCode::invalidDatabase;
        default:
            return ErrorCode::fileAccess;
    }
}

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
        fail(code, code == ErrorCode::invalidDatabase
                       ? notAStore(core->path_)
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
    if (fs::is_directory(p, ec))
        fail(ErrorCode::fileAccess, "Unable to open the store at '" + path_ + "': it is a directory.");
    int rc =
        sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
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
            fail(ErrorCode::schemaVersionNewer, "The store '" + path_ + "' has schema version " +
                                                    std::to_string(state.version) + ", newer than the version " +
                                                    std::to_string(configuration_.schemaVersion) +
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

void RealmCore::loadAll() {
    exec(db_, "BEGIN");
    try {
        FileState state = readFileState(db_, path_);
        if (state.version != configuration_.schemaVersion)
            fail(ErrorCode::schemaMismatch, "The store '" + path_ +
                                                "' was changed by another program (schema version " +
                                                std::to_string(state.version) + ").");
        // The text of a class takes no more room than the file does: its
        // area is reserved at that size and filled as far as the text goes.
        std::size_t fileBytes = 0;
        {
            Statement pages(db_, "PRAGMA page_count");
            Statement pageSize(db_, "PRAGMA page_size");
            if (pages.step() && pageSize.step())
                fileBytes = static_cast<std::size_t>(pages.integer(0)) * static_cast<std::size_t>(pageSize.integer(0));
        }
        for (auto& cls : schema_) {
            Table& t = addTable(cls);
            t.nextKey = std::max<std::int64_t>(1, state.nextKeys[cls->className]);
            // Records and columns in one block: no allocation per row.
            const std::size_t count = countRows(db_, *cls);
            auto block = std::make_shared<RecordBlock>(cls, count, count ? fileBytes + 4096 : 0);
            t.rows.reserve(count);
            readRecords(db_, block, *cls, this, [&](std::shared_ptr<Record> r) {
                t.nextKey = std::max(t.nextKey, r->key + 1);
                const std::int64_t key = r->key;
                t.rows.emplace(key, std::move(r));
            });
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

}  // namespace detail
}  // namespace ObjectStore
