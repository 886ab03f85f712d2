#pragma once
// Internal: small RAII helpers over the SQLite C interface.

#include <sqlite3.h>

#include <stdexcept>
#include <string>

namespace ObjectStore::detail {

class SqlError : public std::runtime_error {
public:
    SqlError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
    int code() const { return code_; }

private:
    int code_;
};

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) : db_(db) {
        int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr);
        if (rc != SQLITE_OK) throw SqlError(rc, sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // True for a row, false when done.
    bool step() {
        int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw SqlError(rc, sqlite3_errmsg(db_));
    }
    void run() {
        step();
        reset();
    }
    void reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    void bind(int i, sqlite3_int64 v) { check(sqlite3_bind_int64(stmt_, i, v)); }
    void bind(int i, const std::string& v) {
        check(sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
    }
    // The text must stay unchanged until the statement is reset.
    void bindStatic(int i, const std::string& v) {
        check(sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC));
    }
    void bindDouble(int i, double v) { check(sqlite3_bind_double(stmt_, i, v)); }
    void bindBlob(int i, const void* data, std::size_t size) {
        check(sqlite3_bind_blob(stmt_, i, size ? data : "", static_cast<int>(size), SQLITE_TRANSIENT));
    }
    void bindNull(int i) { check(sqlite3_bind_null(stmt_, i)); }

    int type(int col) const { return sqlite3_column_type(stmt_, col); }
    sqlite3_int64 integer(int col) const { return sqlite3_column_int64(stmt_, col); }
    double real(int col) const { return sqlite3_column_double(stmt_, col); }
    std::string text(int col) const {
        auto p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
    }
    // The text of a column as UTF-8, valid until the next step; bytes() gives its length.
    const char* textData(int col) const { return reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col)); }
    const void* blob(int col) const { return sqlite3_column_blob(stmt_, col); }
    int bytes(int col) const { return sqlite3_column_bytes(stmt_, col); }

private:
    void check(int rc) {
        if (rc != SQLITE_OK) throw SqlError(rc, sqlite3_errmsg(db_));
    }
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
};

inline void exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        std::string message = err ? err : sqlite3_errstr(rc);
        sqlite3_free(err);
        throw SqlError(rc, message);
    }
}

inline std::string quoted(const std::string& identifier) { return "\"" + identifier + "\""; }

}  // namespace ObjectStore::detail
