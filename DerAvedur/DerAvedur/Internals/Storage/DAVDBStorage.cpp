#include "DerAvedur/DerAvedur/Internals/Storage/DAVDBStorage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include <sqlite3.h>

#include "DerAvedur/DerAvedur/DAVConstants.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVDBPageReader.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVDBStatement.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVLogger.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "Platform/Foundation/Diagnostics.h"
#include "Platform/Foundation/Dispatch.h"
#include "Platform/Foundation/FileWriting.h"
#include "Platform/Foundation/Text.h"

namespace {

// URI file names must be enabled before SQLite initialises, so this runs with
// the static initialisers of the process.
const int gGlobalConfigurationResult = sqlite3_config(SQLITE_CONFIG_URI, 1);

// How long a statement waits for another connection's lock (the sqlite3 tool,
// another process of the application) before giving up.
constexpr int kBusyTimeoutMilliseconds = 2000;

const char* message(sqlite3* db) { return db ? sqlite3_errmsg(db) : "no database"; }

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

void putBigEndian(std::string& bytes, std::size_t at, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * (size - 1 - i))) & 0xFF);
}

}  // namespace

int DAVDBStorage::globalConfigurationResult() { return gGlobalConfigurationResult; }

bool DAVDBStorage::isCorruption(int result) { return result == SQLITE_CORRUPT || result == SQLITE_NOTADB; }

DAVDBStorage::DAVDBStorage(std::optional<DAVDBSchema> schema, unsigned version, const std::string& filename)
    : DAVDBStorage(std::move(schema), version, filename, true) {}

DAVDBStorage::DAVDBStorage(unsigned version, const std::string& filename)
    : DAVDBStorage(std::nullopt, version, filename, true) {}

DAVDBStorage::DAVDBStorage(std::optional<DAVDBSchema> schema, unsigned version, const std::string& filename,
                           bool configureNow)
    : schema_(std::move(schema)), version_(version), filename_(filename) {
    if (configureNow) initializeDatabase();
}

DAVDBStorage::~DAVDBStorage() { closeConnection(); }

void DAVDBStorage::initializeDatabase() {
    static Foundation::OnceFlag flag;
    Foundation::once(flag, [] {
        if (gGlobalConfigurationResult == SQLITE_OK) {
            DAVLogDebug(kDAVDerAvedurLogTag, "SQLite global configuration successfully updated.");
        } else {
            DAVLogError(kDAVDerAvedurLogTag, "Failed to update SQLite global configuration. Error: %s.",
                        sqlite3_errstr(gGlobalConfigurationResult));
        }
    });
    maxSizeInBytes_ = kDefaultMaxSizeInBytes;
    const int result = configureDatabase();
    if (isCorruption(result)) {
        recoverFromDamage(result);
    } else if (result != SQLITE_OK) {
        DAVLogError(kDAVDerAvedurLogTag, "Failed to initialize database.");
    }
}

int DAVDBStorage::configureDatabase() {
    closeConnection();
    // An empty file is what an interrupted first start leaves: still new.
    bool isNew = true;
    if (auto path = DAVUtility::fullURLForPathComponent(filename_)) {
        struct stat info {};
        isNew = ::stat(path->c_str(), &info) != 0 || info.st_size == 0;
    }
    auto url = DAVUtility::createFileAtPathComponent(filename_, std::nullopt, false, false);
    if (!url) return SQLITE_CANTOPEN;
    dbFileURL_ = *url;

    int result = SQLITE_OK;
    sqlite3* db = openDatabaseAtFileURL(dbFileURL_, &result);
    if (!db) return result;
    auto fail = [db](int code) {
        sqlite3_close(db);
        return code;
    };

    // A file that is no database fails here, and so must reach the caller as such.
    pageSize_ = getPageSizeInOpenedDatabase(db, &result);
    if (result != SQLITE_OK) return fail(result);
    if (pageSize_ == 0) {
        DAVLogError(kDAVDerAvedurLogTag, "Failed to get storage page size.");
        return fail(SQLITE_ERROR);
    }
    unsigned storedVersion = versionInOpenedDatabase(db, &result);
    if (result != SQLITE_OK) return fail(result);
    if (schema_) {
        result = createTablesWithSchema(schema_, db);
        if (result != SQLITE_OK) return fail(result);
    }
    if (isNew) {
        DAVLogInfo(kDAVDerAvedurLogTag, "Created \"%s\" database with %lu version.", filename_.c_str(),
                   static_cast<unsigned long>(version_));
        customizeDatabase(db);
    } else if (storedVersion < version_) {
        DAVLogInfo(kDAVDerAvedurLogTag, "Migrating \"%s\" database from version %lu to %lu.", filename_.c_str(),
                   static_cast<unsigned long>(storedVersion), static_cast<unsigned long>(version_));
        migrateDatabase(db, storedVersion);
    }
    result = prepareDatabase(db);
    if (isCorruption(result)) return fail(result);
    result = enableAutoVacuumInOpenedDatabase(db);
    if (isCorruption(result)) return fail(result);
    result = setVersion(version_, db);
    if (isCorruption(result)) return fail(result);
    // The connection stays open; its page limit is set once, here.
    result = setMaxPageCount(maxSizeInBytes_ / pageSize_, db);
    if (isCorruption(result)) return fail(result);
    if (result != SQLITE_OK)
        DAVLogError(kDAVDerAvedurLogTag, "Failed to open database with specified maximum size constraint.");
    db_ = db;
    return SQLITE_OK;
}

void DAVDBStorage::customizeDatabase(sqlite3*) {}

void DAVDBStorage::migrateDatabase(sqlite3*, unsigned) {}

int DAVDBStorage::prepareDatabase(sqlite3*) { return SQLITE_OK; }

std::size_t DAVDBStorage::salvageDatabase(sqlite3*, sqlite3*, std::size_t* unreadable) {
    if (unreadable) *unreadable = 0;
    return 0;
}

sqlite3* DAVDBStorage::connection(int* result) {
    if (db_) {
        *result = SQLITE_OK;
        return db_;
    }
    if (pageSize_ == 0) {
        DAVLogError(kDAVDerAvedurLogTag,
                    "The database was not configured correctly. The page size is expected to be non zero.");
        *result = SQLITE_ERROR;
        return nullptr;
    }
    sqlite3* db = openDatabaseAtFileURL(dbFileURL_, result);
    if (!db) return nullptr;
    *result = setMaxPageCount(maxSizeInBytes_ / pageSize_, db);
    if (isCorruption(*result)) {
        sqlite3_close(db);
        recoverFromDamage(*result);
        return nullptr;
    }
    if (*result != SQLITE_OK)
        DAVLogError(kDAVDerAvedurLogTag, "Failed to open database with specified maximum size constraint.");
    *result = SQLITE_OK;
    db_ = db;
    return db_;
}

void DAVDBStorage::closeConnection() {
    if (!db_) return;
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

int DAVDBStorage::executeQueryUsingBlock(const std::function<int(sqlite3* db)>& block) {
    int result = SQLITE_OK;
    sqlite3* db = connection(&result);
    if (!db) return result;
    result = block(db);
    // A block never leaves a transaction open behind it.
    if (!sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (isCorruption(result)) recoverFromDamage(result);
    return result;
}

std::optional<std::string> DAVDBStorage::setAside() {
    if (dbFileURL_.empty() || !exists(dbFileURL_)) return std::nullopt;
    // A journal belongs to its file: it moves along, so that it is played back
    // into the damaged copy and never into the new file.
    const auto target = Foundation::setFileAside(dbFileURL_, {"-journal", "-wal", "-shm"});
    if (!target) return std::nullopt;
    setAsideFiles_.push_back(*target);
    return target;
}

void DAVDBStorage::recoverFromDamage(int result) {
    if (recovering_) return;
    recovering_ = true;
    // The damaged file is kept as found: what this connection wrote stays in
    // its write-ahead log, which moves along, instead of being copied in.
    if (db_) sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    closeConnection();
    const std::optional<std::string> aside = setAside();
    const int configured = aside ? configureDatabase() : SQLITE_CANTOPEN;
    std::string line;
    if (!aside) {
        line = Foundation::format("The database \"%s\" is damaged (SQLite result %d) and could not be set aside.",
                                  filename_.c_str(), result);
    } else if (configured != SQLITE_OK) {
        line = Foundation::format(
            "The database \"%s\" is damaged (SQLite result %d); it was set aside as \"%s\", and no new one could be "
            "made (SQLite result %d).",
            filename_.c_str(), result, aside->c_str(), configured);
    } else {
        std::size_t unreadable = 0;
        const std::size_t salvaged = salvageFrom(*aside, &unreadable);
        line = Foundation::format(
            "The database \"%s\" is damaged (SQLite result %d); it was set aside as \"%s\" and a new one is used; "
            "%zu row(s) salvaged, %zu part(s) could not be read.",
            filename_.c_str(), result, aside->c_str(), salvaged, unreadable);
    }
    // One line, naming the kept file, through the logger and where a person sees it.
    DAVLogError(kDAVDerAvedurLogTag, "%s", line.c_str());
    if (!DAVLogger::defaultHandlerShows(DAVLogLevelError))
        Foundation::systemLog(std::string("[") + kDAVDerAvedurLogTag + "] " + line);
    recovering_ = false;
}

namespace {

std::optional<std::string> readWholeFile(const std::string& path) {
    FILE* in = std::fopen(path.c_str(), "rb");
    if (!in) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) bytes.append(buffer, n);
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed) return std::nullopt;
    return bytes;
}

bool writeWholeFile(const std::string& path, const std::string& bytes) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && written;
}

// The statements a reading of the schema needs: whether the file reads as a database at all.
int probeSchema(sqlite3* db) {
    int result = SQLITE_OK;
    DAVDBStorage::querySingleValue("SELECT count(*) FROM \"sqlite_master\"", db, &result);
    return result;
}

}  // namespace

// The kept file is never written: a copy of it (with its journals) is read.
// First through SQLite, the write-ahead log played into the copy, and when
// the header hides everything, with a header rebuilt from the values this
// store creates files with; then page by page, for the rows no readable
// tree reaches (a damaged interior page, a file cut short).
std::size_t DAVDBStorage::salvageFrom(const std::string& aside, std::size_t* unreadable) {
    *unreadable = 0;
    const std::string copy = aside + ".salvage";
    const char* const companions[] = {"-wal", "-journal"};
    auto removeCopy = [&] {
        for (const char* suffix : {"", "-wal", "-journal", "-shm"}) ::unlink((copy + suffix).c_str());
    };
    removeCopy();
    auto original = readWholeFile(aside);
    if (!original || !writeWholeFile(copy, *original)) {
        removeCopy();
        *unreadable = 1;
        return 0;
    }
    bool withWal = false;
    for (const char* suffix : companions) {
        if (auto bytes = readWholeFile(aside + suffix)) {
            writeWholeFile(copy + suffix, *bytes);
            withWal = withWal || std::string(suffix) == "-wal";
        }
    }

    std::size_t salvaged = 0;
    std::size_t unreadableInTrees = 0;
    int code = SQLITE_OK;
    sqlite3* damaged = openDatabaseAtFileURL(copy, &code);
    if (damaged && isCorruption(probeSchema(damaged))) {
        sqlite3_close(damaged);
        damaged = nullptr;
        std::string bytes = *original;
        if (rebuildHeader(bytes, withWal) && writeWholeFile(copy, bytes)) damaged = openDatabaseAtFileURL(copy, &code);
    }
    if (damaged) {
        sqlite3_wal_checkpoint_v2(damaged, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
        salvaged += salvageDatabase(damaged, db_, &unreadableInTrees);
        sqlite3_close(damaged);
    } else {
        unreadableInTrees = 1;
    }

    std::size_t pageSize = static_cast<std::size_t>(pageSize_);
    std::size_t reserved = 0;
    if (auto bytes = readWholeFile(copy)) {
        std::size_t named = 0;
        if (DAVDBPageReader::headerValues(*bytes, &named, &reserved)) pageSize = named;
        salvaged += salvagePages(DAVDBPageReader(*bytes, pageSize, reserved), db_);
    }
    *unreadable = unreadableInTrees;
    removeCopy();
    return salvaged;
}

std::size_t DAVDBStorage::salvagePages(const DAVDBPageReader&, sqlite3*) { return 0; }

// The first 100 bytes as this store writes them: its page size, UTF-8,
// schema format 4, its version; the page count of the whole file, so that
// a count naming pages the file no longer has is not believed.
bool DAVDBStorage::rebuildHeader(std::string& bytes, bool writeAheadLog) const {
    if (pageSize_ < 512 || pageSize_ > 65536) return false;
    const auto pageSize = static_cast<std::size_t>(pageSize_);
    if (bytes.size() < pageSize) return false;
    bytes.resize(bytes.size() / pageSize * pageSize);  // a torn last page is left out
    std::string header(100, '\0');
    header.replace(0, 16, std::string("SQLite format 3\0", 16));
    putBigEndian(header, 16, pageSize_ == 65536 ? 1 : static_cast<std::uint32_t>(pageSize_), 2);
    header[18] = header[19] = writeAheadLog ? 2 : 1;
    header[21] = 64;
    header[22] = 32;
    header[23] = 32;
    putBigEndian(header, 24, 1, 4);  // change counter ...
    putBigEndian(header, 28, static_cast<std::uint32_t>(bytes.size() / pageSize), 4);
    putBigEndian(header, 40, 1, 4);        // schema cookie
    putBigEndian(header, 44, 4, 4);        // schema format
    putBigEndian(header, 56, 1, 4);        // UTF-8
    putBigEndian(header, 60, version_, 4);  // user_version
    putBigEndian(header, 92, 1, 4);        // ... for which the page count holds
    putBigEndian(header, 96, static_cast<std::uint32_t>(SQLITE_VERSION_NUMBER), 4);
    bytes.replace(0, 100, header);
    return true;
}

int DAVDBStorage::executeNonSelectionQuery(const std::string& query, const DAVStorageBindableArray* values) {
    return executeQueryUsingBlock([&](sqlite3* db) { return executeNonSelectionQuery(query, db, values); });
}

std::vector<DAVDBRow> DAVDBStorage::executeSelectionQuery(const std::string& query,
                                                          const DAVStorageBindableArray* values) {
    std::vector<DAVDBRow> rows;
    executeQueryUsingBlock([&](sqlite3* db) {
        int result = SQLITE_OK;
        rows = executeSelectionQuery(query, db, values, &result);
        return result;
    });
    return rows;
}

std::size_t DAVDBStorage::countEntriesForTable(const std::string& table, const std::optional<std::string>& condition,
                                               const DAVStorageBindableArray* values) {
    std::string query = "SELECT COUNT(*) FROM \"" + table + "\" ";
    if (condition && !condition->empty()) query += "WHERE " + *condition;
    std::vector<DAVDBRow> rows = executeSelectionQuery(query, values);
    if (rows.empty() || rows.front().empty()) return 0;
    auto count = rows.front().front().integerValue();
    return count && *count > 0 ? static_cast<std::size_t>(*count) : 0;
}

bool DAVDBStorage::createTable(const std::string& table, const DAVDBColumnsSchema& columnsSchema) {
    int result = executeQueryUsingBlock([&](sqlite3* db) {
        int code = SQLITE_OK;
        if (tableExists(table, db, &code) || code != SQLITE_OK) return code;
        return executeNonSelectionQuery(
            "CREATE TABLE \"" + table + "\" (" + columnsQueryFromColumnsSchema(columnsSchema) + ");", db);
    });
    if (result == SQLITE_OK) {
        DAVLogVerbose(kDAVDerAvedurLogTag, "Table %s has been created", table.c_str());
        return true;
    }
    DAVLogError(kDAVDerAvedurLogTag, "Failed to create table %s", table.c_str());
    return false;
}

bool DAVDBStorage::dropTable(const std::string& table) {
    int result = executeQueryUsingBlock([&](sqlite3* db) {
        int code = SQLITE_OK;
        if (!tableExists(table, db, &code)) return code;
        return executeNonSelectionQuery("DROP TABLE \"" + table + "\";", db);
    });
    if (result == SQLITE_OK) {
        DAVLogVerbose(kDAVDerAvedurLogTag, "Table %s has been deleted", table.c_str());
        return true;
    }
    DAVLogError(kDAVDerAvedurLogTag, "Failed to delete table %s", table.c_str());
    return false;
}

void DAVDBStorage::dropDatabase() {
    if (dbFileURL_.empty()) return;
    closeConnection();
    // A journal left beside a deleted file would be played back into the new one.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) ::unlink((dbFileURL_ + suffix).c_str());
    if (DAVUtility::deleteFileAtURL(dbFileURL_)) {
        DAVLogVerbose(kDAVDerAvedurLogTag, "Database %s has been deleted.", dbFileURL_.c_str());
    } else {
        DAVLogError(kDAVDerAvedurLogTag, "Failed to delete database.");
    }
}

void DAVDBStorage::setMaxStorageSize(std::int64_t sizeInBytes,
                                     const std::function<void(bool success)>& completionHandler) {
    auto complete = [&](bool success) {
        if (completionHandler) completionHandler(success);
    };
    int result = SQLITE_OK;
    sqlite3* db = connection(&result);
    if (!db) {
        complete(false);
        return;
    }
    bool success = false;
    std::int64_t pageCount = getPageCountInOpenedDatabase(db);
    DAVLogDebug(kDAVDerAvedurLogTag, "Found %lld pages in the database.", static_cast<long long>(pageCount));
    std::int64_t requestedPages = sizeInBytes / pageSize_ + (sizeInBytes % pageSize_ > 0 ? 1 : 0);
    if (requestedPages < pageCount) {
        DAVLogWarning(kDAVDerAvedurLogTag,
                      "Cannot change database size to %lld bytes as it would cause a loss of data. Maximum database "
                      "size will not be changed.",
                      static_cast<long long>(sizeInBytes));
    } else if ((result = setMaxPageCount(requestedPages, db)) != SQLITE_OK) {
        DAVLogError(kDAVDerAvedurLogTag, "Could not change maximum database size to %lld bytes. SQLite error code: %i",
                    static_cast<long long>(sizeInBytes), result);
    } else {
        std::int64_t currentMax = getMaxPageCountInOpenedDatabase(db);
        if (currentMax != requestedPages) {
            DAVLogError(kDAVDerAvedurLogTag,
                        "Could not change maximum database size to %lld bytes, current maximum size is %lld bytes.",
                        static_cast<long long>(sizeInBytes), static_cast<long long>(currentMax * pageSize_));
        } else {
            maxSizeInBytes_ = requestedPages * pageSize_;
            if (maxSizeInBytes_ == sizeInBytes) {
                DAVLogInfo(kDAVDerAvedurLogTag, "Changed maximum database size to %lld bytes.",
                           static_cast<long long>(maxSizeInBytes_));
            } else {
                DAVLogInfo(kDAVDerAvedurLogTag, "Changed maximum database size to %lld bytes (next multiple of 4KiB).",
                           static_cast<long long>(maxSizeInBytes_));
            }
            success = true;
        }
    }
    complete(success);
}

// --- statements ------------------------------------------------------------------

int DAVDBStorage::executeQuery(const std::string& query, sqlite3* db, const DAVStorageBindableArray* values,
                               const std::function<int(sqlite3_stmt*)>& body) {
    DAVDBStatement statement(db, query);
    int result = statement.prepared();
    if (result != SQLITE_OK) {
        DAVLogError(kDAVDerAvedurLogTag, "Failed to prepare SQLite statement, result=%d\n\t%s", result, message(db));
        return result;
    }
    if (values) {
        result = values->bindAllValuesWithStatement(statement.get(), db);
        if (result != SQLITE_OK) return result;
    }
    result = body(statement.get());
    int finalized = statement.finalize();
    if (finalized != SQLITE_OK && result == SQLITE_OK) {
        DAVLogError(kDAVDerAvedurLogTag, "Failed to finalize SQLite statement, result=%d\n\t%s", finalized,
                    message(db));
    }
    return result;
}

int DAVDBStorage::executeNonSelectionQuery(const std::string& query, sqlite3* db,
                                           const DAVStorageBindableArray* values) {
    return executeQuery(query, db, values, [db](sqlite3_stmt* statement) {
        int result = sqlite3_step(statement);
        if (result == SQLITE_DONE) return SQLITE_OK;
        if (isCorruption(result)) {
            DAVLogError(kDAVDerAvedurLogTag, "A database file is corrupted, result=%d\n\t%s", result, message(db));
        } else if (result == SQLITE_FULL) {
            DAVLogDebug(kDAVDerAvedurLogTag, "Query failed with error: %d\n\t%s", result, message(db));
        } else {
            DAVLogError(kDAVDerAvedurLogTag, "Could not execute the statement, result=%d\n\t%s", result, message(db));
        }
        return result;
    });
}

std::vector<DAVDBRow> DAVDBStorage::executeSelectionQuery(const std::string& query, sqlite3* db,
                                                          const DAVStorageBindableArray* values, int* result) {
    std::vector<DAVDBRow> rows;
    int code = executeQuery(query, db, values, [&](sqlite3_stmt* statement) {
        int step;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            const int count = sqlite3_column_count(statement);
            DAVDBRow row;
            row.reserve(static_cast<std::size_t>(count));
            for (int i = 0; i < count; ++i) row.push_back(columnValueFromStatement(statement, i));
            if (!row.empty()) rows.push_back(std::move(row));
        }
        if (step != SQLITE_DONE) {
            DAVLogError(kDAVDerAvedurLogTag, "Query failed with error: %d\n\t%s", step, message(db));
            return step;
        }
        return SQLITE_OK;
    });
    if (result) *result = code;
    return rows;
}

Foundation::Value DAVDBStorage::columnValueFromStatement(sqlite3_stmt* statement, int index) {
    const int type = sqlite3_column_type(statement, index);
    switch (type) {
        case SQLITE_INTEGER:
            return Foundation::Value(static_cast<std::int64_t>(sqlite3_column_int64(statement, index)));
        case SQLITE_TEXT: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
            const int length = sqlite3_column_bytes(statement, index);
            return Foundation::Value(std::string(text ? text : "", text ? static_cast<std::size_t>(length) : 0));
        }
        case SQLITE_NULL:
            return Foundation::Value();
        default:
            DAVLogError(kDAVDerAvedurLogTag,
                        "Could not retrieve column value at index %d from statement: unknown type %d.", index, type);
            return Foundation::Value();
    }
}

std::int64_t DAVDBStorage::querySingleValue(const std::string& query, sqlite3* db, int* result) {
    std::vector<DAVDBRow> rows = executeSelectionQuery(query, db, nullptr, result);
    if (rows.empty() || rows.front().empty()) return 0;
    return rows.front().front().integerValue().value_or(0);
}

bool DAVDBStorage::tableExists(const std::string& table, sqlite3* db, int* result) {
    DAVStorageBindableArray values;
    values.addString(table);
    int code = SQLITE_OK;
    std::vector<DAVDBRow> rows = executeSelectionQuery(
        "SELECT COUNT(*) FROM \"sqlite_master\" WHERE \"type\"='table' AND \"name\"=?;", db, &values, &code);
    if (result) *result = code;
    return !rows.empty() && !rows.front().empty() && rows.front().front().integerValue().value_or(0) > 0;
}

unsigned DAVDBStorage::versionInOpenedDatabase(sqlite3* db, int* result) {
    return static_cast<unsigned>(querySingleValue("PRAGMA user_version", db, result));
}

int DAVDBStorage::setVersion(unsigned version, sqlite3* db) {
    return executeNonSelectionQuery("PRAGMA user_version = " + std::to_string(version), db);
}

int DAVDBStorage::enableAutoVacuumInOpenedDatabase(sqlite3* db) {
    int result = SQLITE_OK;
    std::int64_t mode = querySingleValue("PRAGMA auto_vacuum", db, &result);
    if (result != SQLITE_OK) return result;
    if (mode == 1) return SQLITE_OK;
    DAVLogDebug(kDAVDerAvedurLogTag, "Vacuuming database and enabling auto_vacuum");
    result = executeNonSelectionQuery("PRAGMA auto_vacuum = FULL;", db);
    if (result != SQLITE_OK) return result;
    return executeNonSelectionQuery("VACUUM;", db);
}

std::string DAVDBStorage::columnsQueryFromColumnsSchema(const DAVDBColumnsSchema& columnsSchema) {
    std::string query;
    for (const auto& [column, words] : columnsSchema) {
        if (!query.empty()) query += ", ";
        query += "\"" + column + "\" ";
        for (std::size_t i = 0; i < words.size(); ++i) query += (i ? " " : "") + words[i];
    }
    return query;
}

int DAVDBStorage::createTablesWithSchema(const std::optional<DAVDBSchema>& schema, sqlite3* db) {
    if (!schema) return SQLITE_OK;
    std::vector<std::string> statements;
    for (const auto& [table, columns] : *schema) {
        int result = SQLITE_OK;
        if (tableExists(table, db, &result)) continue;
        if (result != SQLITE_OK) return result;
        statements.push_back("CREATE TABLE \"" + table + "\" (" + columnsQueryFromColumnsSchema(columns) + ");");
    }
    for (const std::string& statement : statements) {
        int result = executeNonSelectionQuery(statement, db);
        if (result != SQLITE_OK) {
            DAVLogError(kDAVDerAvedurLogTag, "Failed to create tables with schema with error \"%d\".", result);
            return result;
        }
    }
    return SQLITE_OK;
}

std::map<std::string, std::map<std::string, std::size_t>> DAVDBStorage::columnsIndexes(const DAVDBSchema& schema) {
    std::map<std::string, std::map<std::string, std::size_t>> indexes;
    for (const auto& [table, columns] : schema) {
        auto& positions = indexes[table];
        for (std::size_t i = 0; i < columns.size(); ++i) positions[columns[i].first] = i;
    }
    return indexes;
}

std::string DAVDBStorage::fileURIForPath(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : path) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~' || c == '/') {
            uri.push_back(static_cast<char>(c));
        } else {
            uri.push_back('%');
            uri.push_back(hex[c >> 4]);
            uri.push_back(hex[c & 0xF]);
        }
    }
    return uri;
}

sqlite3* DAVDBStorage::openDatabaseAtFileURL(const std::string& path, int* result) {
    sqlite3* db = nullptr;
    int code = SQLITE_CANTOPEN;
    if (!path.empty())
        code = sqlite3_open_v2(fileURIForPath(path).c_str(), &db,
                               SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI, nullptr);
    if (code != SQLITE_OK) {
        DAVLogError(kDAVDerAvedurLogTag, "Failed to open database with result: %d.", code);
        if (db) sqlite3_close(db);
        if (result) *result = code;
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMilliseconds);
    if (result) *result = SQLITE_OK;
    return db;
}

std::int64_t DAVDBStorage::getPageSizeInOpenedDatabase(sqlite3* db, int* result) {
    return querySingleValue("PRAGMA page_size;", db, result);
}

std::int64_t DAVDBStorage::getPageCountInOpenedDatabase(sqlite3* db, int* result) {
    return querySingleValue("PRAGMA page_count;", db, result);
}

std::int64_t DAVDBStorage::getMaxPageCountInOpenedDatabase(sqlite3* db, int* result) {
    return querySingleValue("PRAGMA max_page_count;", db, result);
}

// The pragma answers with a row (the limit now in force), so it runs as a selection.
int DAVDBStorage::setMaxPageCount(std::int64_t count, sqlite3* db) {
    int result = SQLITE_OK;
    executeSelectionQuery("PRAGMA max_page_count = " + std::to_string(count), db, nullptr, &result);
    return result;
}
