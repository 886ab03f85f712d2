#pragma once
// Internal: the store file's format as the store instance's opening,
// migration, refresh and writes share it: table names, reading the file's
// state and rows, writing rows and class tables. Defined in RealmCoreFile.cpp.
// Not for use outside Platform/ObjectStore.

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "Platform/ObjectStore/detail/Core.h"
#include "Platform/ObjectStore/detail/Sqlite.h"

namespace ObjectStore::detail {

std::string tableName(const std::string& cls);
std::string listTableName(const std::string& cls, const std::string& prop);

void bindValue(Statement& st, int i, const Property& p, const Value& v);
std::vector<const Property*> singleColumns(const ObjectSchema& s);

void setSchemaVersion(sqlite3* db, std::uint64_t version);
void createClassTables(sqlite3* db, const ObjectSchema& s);
void dropClassTables(sqlite3* db, const ObjectSchema& s);
void writeClassSchema(sqlite3* db, const ObjectSchema& s, std::int64_t nextKey);

struct FileState {
    std::uint64_t version = 0;
    Schema schema;
    std::unordered_map<std::string, std::int64_t> nextKeys;
};

std::string notAStore(const std::string& path);
FileState readFileState(sqlite3* db, const std::string& path);

struct LoadedRow {
    std::int64_t key = 0;
    std::vector<Value> values;
};

// Rows of a class in key order, values aligned with the schema's properties.
std::vector<LoadedRow> readRows(sqlite3* db, const ObjectSchema& s);
// The same, each row read straight into the storage `row` gives for its key:
// one default-constructed value per property.
void readRowsInto(sqlite3* db, const ObjectSchema& s, const std::function<Value*(std::int64_t key)>& row);
// How many rows the class's table has.
std::size_t countRows(sqlite3* db, const ObjectSchema& s);
// Reads every row of a class into a record block's columns, in key order;
// `add` is given each record made over them.
void readRecords(sqlite3* db, const std::shared_ptr<RecordBlock>& block, const ObjectSchema& s, Graph* graph,
                 const std::function<void(std::shared_ptr<Record>)>& add);

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
        const ValueRow& values = r.values();
        upsert_->bind(1, static_cast<sqlite3_int64>(r.key));
        for (std::size_t c = 0; c < cols_.size(); ++c) {
            auto i = static_cast<std::size_t>(cols_[c] - schema_.properties.data());
            bindValue(*upsert_, static_cast<int>(c) + 2, *cols_[c], values[i]);
        }
        upsert_->run();
        for (std::size_t i = 0; i < schema_.properties.size(); ++i) {
            const Property& p = schema_.properties[i];
            if (!p.isStored() || !p.isArray) continue;
            if (before && (*before)[i] == values[i]) continue;
            clearList(p, r.key);
            auto& ins = listInsert(p);
            if (auto* a = values[i].arrayOrNull()) {
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
        if (!delete_)
            delete_ = std::make_unique<Statement>(db_, "DELETE FROM " + tableName(schema_.className) + " WHERE _key=?");
        delete_->bind(1, static_cast<sqlite3_int64>(key));
        delete_->run();
        for (auto& p : schema_.properties)
            if (p.isStored() && p.isArray) clearList(p, key);
    }

private:
    void clearList(const Property& p, std::int64_t key) {
        auto& st = listDelete_[p.name];
        if (!st)
            st = std::make_unique<Statement>(
                db_, "DELETE FROM " + listTableName(schema_.className, p.name) + " WHERE owner=?");
        st->bind(1, static_cast<sqlite3_int64>(key));
        st->run();
    }
    Statement& listInsert(const Property& p) {
        auto& st = listInsert_[p.name];
        if (!st)
            st = std::make_unique<Statement>(db_, "INSERT INTO " + listTableName(schema_.className, p.name) +
                                                      "(owner, position, value) VALUES (?, ?, ?)");
        return *st;
    }

    sqlite3* db_;
    const ObjectSchema& schema_;
    std::vector<const Property*> cols_;
    std::unique_ptr<Statement> upsert_, delete_;
    std::map<std::string, std::unique_ptr<Statement>> listDelete_, listInsert_;
};

ErrorCode codeForSql(int rc);

}  // namespace ObjectStore::detail
