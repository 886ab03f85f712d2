#pragma once
// One SQLite database file of the SDK: created from a schema description,
// versioned and migrated, kept within a maximum size. One connection is kept
// open from configuration on, with its busy timeout and page limit set once.
// A file that reports damage (at start or by any later statement) is set
// aside under a timestamped name, never deleted nor written: what can still be
// read of a copy of it (through SQLite, then page by page) is salvaged into a
// new file, and the store goes on with that.
// No lock of its own: callers serialise access (the channel group's queue).

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DerAvedur/DerAvedur/Internals/Storage/DAVStorageBindableArray.h"
#include "Platform/Foundation/Value.h"

class DAVDBPageReader;

// Column name -> constraint words, in column order.
using DAVDBColumnsSchema = std::vector<std::pair<std::string, std::vector<std::string>>>;
// Table name -> its columns, in table order.
using DAVDBSchema = std::vector<std::pair<std::string, DAVDBColumnsSchema>>;
// Column values of one row: Int (64-bit), String or null.
using DAVDBRow = std::vector<Foundation::Value>;

class DAVDBStorage {
public:
    static constexpr std::int64_t kDefaultMaxSizeInBytes = 10485760;

    // Configures the database at once: creates, migrates or (when corrupt)
    // rebuilds the file "<SDK directory>/<filename>".
    DAVDBStorage(std::optional<DAVDBSchema> schema, unsigned version, const std::string& filename);
    DAVDBStorage(unsigned version, const std::string& filename);
    virtual ~DAVDBStorage();
    DAVDBStorage(const DAVDBStorage&) = delete;
    DAVDBStorage& operator=(const DAVDBStorage&) = delete;

    const std::string& dbFileURL() const { return dbFileURL_; }
    std::int64_t maxSizeInBytes() const { return maxSizeInBytes_; }
    std::int64_t pageSize() const { return pageSize_; }
    const std::optional<DAVDBSchema>& schema() const { return schema_; }

    // Runs the block on the kept connection (reopened if it was lost). A
    // damage result sets the file aside and salvages it before returning.
    int executeQueryUsingBlock(const std::function<int(sqlite3* db)>& block);
    int executeNonSelectionQuery(const std::string& query, const DAVStorageBindableArray* values = nullptr);
    // Never fails: rows of a failed query are simply absent.
    std::vector<DAVDBRow> executeSelectionQuery(const std::string& query,
                                                const DAVStorageBindableArray* values = nullptr);
    std::size_t countEntriesForTable(const std::string& table, const std::optional<std::string>& condition,
                                     const DAVStorageBindableArray* values = nullptr);
    bool createTable(const std::string& table, const DAVDBColumnsSchema& columnsSchema);
    bool dropTable(const std::string& table);
    void dropDatabase();
    // Rounds up to whole pages; refuses a size below the data already stored.
    // The completion is always called, after the file is closed.
    void setMaxStorageSize(std::int64_t sizeInBytes, const std::function<void(bool success)>& completionHandler);

    // --- statements inside an opened database ------------------------------
    static int executeNonSelectionQuery(const std::string& query, sqlite3* db,
                                        const DAVStorageBindableArray* values = nullptr);
    static std::vector<DAVDBRow> executeSelectionQuery(const std::string& query, sqlite3* db,
                                                       const DAVStorageBindableArray* values = nullptr,
                                                       int* result = nullptr);
    // Prepares, binds, runs `body` and finalizes; returns the body's result.
    static int executeQuery(const std::string& query, sqlite3* db, const DAVStorageBindableArray* values,
                            const std::function<int(sqlite3_stmt*)>& body);
    static bool tableExists(const std::string& table, sqlite3* db, int* result = nullptr);
    static unsigned versionInOpenedDatabase(sqlite3* db, int* result);
    static int setVersion(unsigned version, sqlite3* db);
    static int enableAutoVacuumInOpenedDatabase(sqlite3* db);
    static int createTablesWithSchema(const std::optional<DAVDBSchema>& schema, sqlite3* db);
    static std::string columnsQueryFromColumnsSchema(const DAVDBColumnsSchema& columnsSchema);
    static std::map<std::string, std::map<std::string, std::size_t>> columnsIndexes(const DAVDBSchema& schema);
    // "file://" and the percent-encoded path; nullptr (and the code) on failure.
    static sqlite3* openDatabaseAtFileURL(const std::string& path, int* result);
    static std::int64_t getPageSizeInOpenedDatabase(sqlite3* db, int* result = nullptr);
    static std::int64_t getPageCountInOpenedDatabase(sqlite3* db, int* result = nullptr);
    static std::int64_t getMaxPageCountInOpenedDatabase(sqlite3* db, int* result = nullptr);
    // The first column of the first row as an integer, 0 when there is none.
    static std::int64_t querySingleValue(const std::string& query, sqlite3* db, int* result = nullptr);
    static int setMaxPageCount(std::int64_t count, sqlite3* db);
    static Foundation::Value columnValueFromStatement(sqlite3_stmt* statement, int index);
    static std::string fileURIForPath(const std::string& path);
    // The result of enabling URI file names, once per process.
    static int globalConfigurationResult();
    static bool isCorruption(int result);
    // Where the damaged files of this store were set aside, oldest first.
    const std::vector<std::string>& setAsideFiles() const { return setAsideFiles_; }

protected:
    // For subclasses whose hooks must run: construct with `configureNow`
    // false, then call `initializeDatabase()` at the end of their own constructor.
    DAVDBStorage(std::optional<DAVDBSchema> schema, unsigned version, const std::string& filename, bool configureNow);
    void initializeDatabase();

    // The file was just created.
    virtual void customizeDatabase(sqlite3* db);
    // The stored version is lower than the wanted one.
    virtual void migrateDatabase(sqlite3* db, unsigned fromVersion);
    // Every configuration, new file or not, after creation and migration.
    virtual int prepareDatabase(sqlite3* db);
    // Copies what can be read of a damaged file into the new one; returns
    // the rows saved and counts the stretches that could not be read.
    virtual std::size_t salvageDatabase(sqlite3* damaged, sqlite3* fresh, std::size_t* unreadable);
    // After that, copies the rows found page by page that the new file does
    // not hold yet; returns how many.
    virtual std::size_t salvagePages(const DAVDBPageReader& pages, sqlite3* fresh);

private:
    int configureDatabase();
    sqlite3* connection(int* result);
    void closeConnection();
    // Moves the file (and its journal) aside, makes a new one, salvages,
    // and says so in one line naming the kept file.
    void recoverFromDamage(int result);
    std::optional<std::string> setAside();
    // What can be read of the kept file, copied into the new one; the rows copied.
    std::size_t salvageFrom(const std::string& aside, std::size_t* unreadable);
    // The first 100 bytes rebuilt from the values this store creates files with.
    bool rebuildHeader(std::string& bytes, bool writeAheadLog) const;

    std::optional<DAVDBSchema> schema_;
    unsigned version_;
    std::string filename_;
    std::string dbFileURL_;
    std::int64_t maxSizeInBytes_ = kDefaultMaxSizeInBytes;
    std::int64_t pageSize_ = 0;
    sqlite3* db_ = nullptr;
    bool recovering_ = false;
    std::vector<std::string> setAsideFiles_;
};
