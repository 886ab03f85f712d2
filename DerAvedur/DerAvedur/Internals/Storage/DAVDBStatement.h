#pragma once
// The one owner of a prepared statement in the SDK's databases: finalised when
// it goes out of scope, so no path (errors and early returns included) leaks
// one and keeps the file busy. A failed prepare is not logged here: only the
// caller knows whether it is an error or an expected probe (salvaging).

#include <sqlite3.h>

#include <string>

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"

class DAVDBStatement {
public:
    DAVDBStatement(sqlite3* db, const std::string& sql) : db_(db) {
        result_ = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &statement_, nullptr);
    }
    ~DAVDBStatement() { sqlite3_finalize(statement_); }
    DAVDBStatement(const DAVDBStatement&) = delete;
    DAVDBStatement& operator=(const DAVDBStatement&) = delete;

    sqlite3_stmt* get() const { return statement_; }
    // The result of preparing it.
    int prepared() const { return result_; }
    // Steps once and resets for the next use; SQLITE_OK for a finished step.
    int run() {
        int result = sqlite3_step(statement_);
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
        if (result == SQLITE_DONE) return SQLITE_OK;
        if (result != SQLITE_FULL)
            DAVLogError(kDAVDerAvedurLogTag, "Could not execute the statement, result=%d\n\t%s", result,
                        sqlite3_errmsg(db_));
        return result;
    }
    // Finalises before the scope ends, for a caller that wants the result or
    // must have the statement gone first (before a COMMIT).
    int finalize() {
        int result = sqlite3_finalize(statement_);
        statement_ = nullptr;
        return result;
    }

private:
    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
    int result_;
};
