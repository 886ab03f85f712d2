#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "DerAvedur/DerAvedur/Internals/Storage/DAVDBStorage.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurTestSupport.h"

namespace {

const DAVDBSchema kSchema = {
    {"items",
     {{"id", {"INTEGER", "PRIMARY", "KEY", "AUTOINCREMENT"}},
      {"name", {"TEXT", "NOT", "NULL"}},
      {"size", {"INTEGER"}}}},
    {"extra", {{"value", {"TEXT"}}}},
};

std::string component() { return "db-tests/" + DAVTest::uniqueName("db") + ".sqlite"; }

// Records the hooks a subclass receives.
class HookedStorage : public DAVDBStorage {
public:
    HookedStorage(unsigned version, const std::string& file) : DAVDBStorage(kSchema, version, file, false) {
        initializeDatabase();
    }
    std::vector<std::string> calls;

protected:
    void customizeDatabase(sqlite3*) override { calls.push_back("customize"); }
    void migrateDatabase(sqlite3*, unsigned fromVersion) override {
        calls.push_back("migrate from " + std::to_string(fromVersion));
    }
};

std::int64_t pragma(const std::string& path, const std::string& name) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    std::int64_t value = -1;
    if (sqlite3_prepare_v2(db, ("PRAGMA " + name).c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        value = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return value;
}

TEST(DBStorage, CreatesVersionsAndMigratesTheFile) {
    const std::string file = component();
    {
        HookedStorage storage(3, file);
        EXPECT_EQ(storage.calls, std::vector<std::string>{"customize"});
        EXPECT_EQ(storage.dbFileURL(), DAVUtility::sdkDirectory() + "/" + file);
        EXPECT_EQ(storage.maxSizeInBytes(), 10485760);
        EXPECT_EQ(storage.pageSize(), 4096);
        EXPECT_EQ(pragma(storage.dbFileURL(), "user_version"), 3);
        EXPECT_EQ(pragma(storage.dbFileURL(), "auto_vacuum"), 1);
    }
    {
        HookedStorage same(3, file);
        EXPECT_TRUE(same.calls.empty());
    }
    HookedStorage newer(5, file);
    EXPECT_EQ(newer.calls, std::vector<std::string>{"migrate from 3"});
    EXPECT_EQ(pragma(newer.dbFileURL(), "user_version"), 5);
    EXPECT_EQ(DAVDBStorage::columnsQueryFromColumnsSchema(kSchema[0].second),
              "\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, \"name\" TEXT NOT NULL, \"size\" INTEGER");
    auto indexes = DAVDBStorage::columnsIndexes(kSchema);
    EXPECT_EQ(indexes["items"]["size"], 2u);
    EXPECT_EQ(indexes["extra"]["value"], 0u);
}

TEST(DBStorage, StatementsBindValuesAndReadSixtyFourBitIntegers) {
    DAVDBStorage storage(kSchema, 1, component());
    const std::int64_t big = (std::int64_t{1} << 40) + 7;
    DAVStorageBindableArray values;
    values.addString("it's \"quoted\"; DROP TABLE items; --");
    values.addNumber(big);
    EXPECT_EQ(storage.executeNonSelectionQuery("INSERT INTO \"items\" (\"name\", \"size\") VALUES (?, ?)", &values),
              SQLITE_OK);
    DAVStorageBindableArray nullName;
    nullName.addString(std::nullopt);
    nullName.addNumber(1);
    EXPECT_EQ(storage.executeNonSelectionQuery("INSERT INTO \"items\" (\"name\", \"size\") VALUES (?, ?)", &nullName),
              SQLITE_CONSTRAINT);

    auto rows = storage.executeSelectionQuery("SELECT * FROM \"items\"");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][1].asString(), "it's \"quoted\"; DROP TABLE items; --");
    EXPECT_EQ(rows[0][2].asInt(), big);
    DAVStorageBindableArray condition;
    condition.addNumber(big);
    EXPECT_EQ(storage.countEntriesForTable("items", "\"size\" = ?", &condition), 1u);
    EXPECT_EQ(storage.countEntriesForTable("items", std::nullopt), 1u);

    DAVTest::MessageRecorder recorder;
    EXPECT_TRUE(storage.executeSelectionQuery("SELECT * FROM \"missing\"").empty());
    EXPECT_TRUE(recorder.containsPrefix(DAVLogLevelError, "Failed to prepare SQLite statement, result=1\n\t"));
    auto real = storage.executeSelectionQuery("SELECT 1.5, NULL");
    ASSERT_EQ(real.size(), 1u);
    EXPECT_TRUE(real[0][0].isNull());
    EXPECT_TRUE(recorder.contains(DAVLogLevelError,
                                  "Could not retrieve column value at index 0 from statement: unknown type 2."));
    EXPECT_TRUE(real[0][1].isNull());
}

TEST(DBStorage, TablesAreCreatedAndDroppedOnlyWhenNeeded) {
    DAVDBStorage storage(kSchema, 1, component());
    EXPECT_TRUE(storage.createTable("extra", {{"value", {"TEXT"}}}));  // exists: nothing to do
    EXPECT_TRUE(storage.createTable("more", {{"a", {"INTEGER"}}}));
    EXPECT_TRUE(storage.dropTable("more"));
    EXPECT_TRUE(storage.dropTable("more"));
    EXPECT_EQ(storage.countEntriesForTable("sqlite_master", "\"name\" = 'more'"), 0u);
}

TEST(DBStorage, MaximumSizeIsKeptInWholePages) {
    // One plain table: the file holds three pages (header, pointer map, table).
    DAVDBStorage storage(DAVDBSchema{{"t", {{"v", {"TEXT"}}}}}, 1, component());
    DAVTest::MessageRecorder recorder;
    std::vector<bool> answers;
    auto record = [&](bool success) { answers.push_back(success); };

    storage.setMaxStorageSize(10485760, record);
    EXPECT_EQ(storage.maxSizeInBytes(), 10485760);
    EXPECT_TRUE(recorder.contains(DAVLogLevelInfo, "Changed maximum database size to 10485760 bytes."));
    EXPECT_EQ(storage.maxSizeInBytes() / storage.pageSize(), 2560);

    storage.setMaxStorageSize(10000, record);
    EXPECT_EQ(storage.maxSizeInBytes(), 12288);
    EXPECT_TRUE(
        recorder.contains(DAVLogLevelInfo, "Changed maximum database size to 12288 bytes (next multiple of 4KiB)."));

    // Below what the file holds already: refused, the old maximum stays.
    storage.setMaxStorageSize(8192, record);
    EXPECT_EQ(storage.maxSizeInBytes(), 12288);
    EXPECT_TRUE(recorder.contains(DAVLogLevelWarning,
                                  "Cannot change database size to 8192 bytes as it would cause a loss of data. Maximum "
                                  "database size will not be changed."));
    EXPECT_EQ(answers, (std::vector<bool>{true, true, false}));
}

TEST(DBStorage, SizeCompletionIsCalledWhenTheFileCannotBeOpened) {
    // Something that is no file holds the database's place from the start.
    const std::string file = component();
    std::filesystem::create_directories(*DAVUtility::fullURLForPathComponent(file));
    DAVDBStorage storage(kSchema, 1, file);
    int calls = 0;
    bool answer = true;
    storage.setMaxStorageSize(50000, [&](bool success) {
        ++calls;
        answer = success;
    });
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(answer);
    EXPECT_EQ(storage.maxSizeInBytes(), 10485760);
}

TEST(DBStorage, ACorruptOrForeignFileIsSetAsideAndRebuiltEmpty) {
    const std::pair<const char*, std::string> contents[] = {
        {"text", std::string("this is not a database, just some text that is long enough to have a header") +
                     std::string(4096, 'x')},
        {"bad header", std::string("SQLite format 3") + std::string(1, '\0') + std::string(8000, '\x7f')},
    };
    for (const auto& [label, bytes] : contents) {
        const std::string file = component();
        auto path = DAVUtility::fullURLForPathComponent(file);
        std::filesystem::create_directories(std::filesystem::path(*path).parent_path());
        std::ofstream(*path, std::ios::binary) << bytes;
        DAVTest::MessageRecorder recorder;
        DAVDBStorage storage(kSchema, 2, file);
        EXPECT_FALSE(recorder.containsPrefix(DAVLogLevelError, "Failed to initialize database.")) << label;
        EXPECT_EQ(storage.pageSize(), 4096) << label;
        DAVStorageBindableArray values;
        values.addString("after");
        values.addNumber(1);
        EXPECT_EQ(storage.executeNonSelectionQuery("INSERT INTO \"items\" (\"name\", \"size\") VALUES (?, ?)", &values),
                  SQLITE_OK)
            << label;
        EXPECT_EQ(storage.countEntriesForTable("items", std::nullopt), 1u) << label;
        EXPECT_EQ(pragma(storage.dbFileURL(), "user_version"), 2) << label;
        // The old file is set aside, never deleted.
        ASSERT_EQ(storage.setAsideFiles().size(), 1u) << label;
        std::ifstream aside(storage.setAsideFiles()[0], std::ios::binary);
        EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(aside), {}) == bytes) << label;
        EXPECT_TRUE(recorder.containsPrefix(DAVLogLevelError, "The database \"" + file + "\" is damaged")) << label;
    }
}

TEST(DBStorage, FileNamesNeedingEscapesWorkAsUris) {
    const std::string file = "db-tests/" + DAVTest::uniqueName("odd name") + "/a?b#c%d&e=f.sqlite";
    DAVDBStorage storage(kSchema, 1, file);
    EXPECT_EQ(storage.dbFileURL(), DAVUtility::sdkDirectory() + "/" + file);
    DAVStorageBindableArray values;
    values.addString("x");
    values.addNumber(1);
    EXPECT_EQ(storage.executeNonSelectionQuery("INSERT INTO \"items\" (\"name\", \"size\") VALUES (?, ?)", &values),
              SQLITE_OK);
    // Exactly that file holds the data, and no stray file appeared beside it.
    EXPECT_EQ(pragma(storage.dbFileURL(), "user_version"), 1);
    std::size_t files = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(storage.dbFileURL()).parent_path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1u);
    EXPECT_EQ(DAVDBStorage::fileURIForPath("/a b/c?d#%"), "file:///a%20b/c%3Fd%23%25");
}

TEST(DBStorage, DropDatabaseRemovesTheFile) {
    DAVDBStorage storage(kSchema, 1, component());
    ASSERT_TRUE(std::filesystem::exists(storage.dbFileURL()));
    DAVTest::MessageRecorder recorder;
    storage.dropDatabase();
    EXPECT_FALSE(std::filesystem::exists(storage.dbFileURL()));
    EXPECT_TRUE(recorder.contains(DAVLogLevelVerbose, "Database " + storage.dbFileURL() + " has been deleted."));
}

}  // namespace
