#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "DerAvedur/DerAvedur/Shared/Model/DAVCommonSchemaLog.h"
#include "DerAvedur/DerAvedur/Shared/Model/DAVLogWithProperties.h"
#include "DerAvedur/DerAvedur/Internals/Storage/DAVLogDBStorage.h"
#include "DerAvedur/DerAvedur/Shared/Util/DAVUtility.h"
#include "DerAvedurTestSupport.h"
#include "Platform/Foundation/Diagnostics.h"

namespace {

std::shared_ptr<DAVLogWithProperties> makeLog(const std::string& marker, std::size_t padding = 0) {
    auto log = std::make_shared<DAVLogWithProperties>();
    log->setType("event");
    log->setTimestamp(Foundation::Date{1700000000.5});
    log->setDevice(DAVTest::makeDevice());
    log->properties.set("marker", Foundation::Value(marker));
    if (padding) log->properties.set("padding", Foundation::Value(std::string(padding, 'p')));
    return log;
}

std::shared_ptr<DAVCommonSchemaLog> makeCommonSchemaLog(const std::string& marker, const std::string& token) {
    auto log = makeLog(marker)->toCommonSchemaLogForTargetToken(token, DAVFlagsNormal);
    log->name = marker;
    return log;
}

std::string markerOf(const std::shared_ptr<DAVLog>& log) {
    if (auto withProperties = std::dynamic_pointer_cast<DAVLogWithProperties>(log))
        return withProperties->properties["marker"].asString();
    if (auto cs = std::dynamic_pointer_cast<DAVCommonSchemaLog>(log)) return cs->name.value_or("");
    return "?";
}

struct Batch {
    std::vector<std::string> markers;
    std::vector<std::shared_ptr<DAVLog>> logs;
    std::optional<std::string> batchId;
    bool more = false;
};

Batch load(DAVLogDBStorage& storage, const std::string& groupId, std::size_t limit,
           const std::optional<std::vector<std::string>>& excluded = std::nullopt) {
    Batch batch;
    int calls = 0;
    batch.more = storage.loadLogsWithGroupId(
        groupId, limit, excluded,
        [&](const std::vector<std::shared_ptr<DAVLog>>& logs, const std::optional<std::string>& batchId) {
            ++calls;
            batch.logs = logs;
            batch.batchId = batchId;
        });
    EXPECT_EQ(calls, 1);
    for (const auto& log : batch.logs) batch.markers.push_back(markerOf(log));
    return batch;
}

// Raw access to the file, as the sqlite3 tool would have it.
class RawDatabase {
public:
    explicit RawDatabase(const std::string& path) { EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK); }
    ~RawDatabase() { sqlite3_close(db_); }
    std::vector<std::vector<std::string>> rows(const std::string& query) {
        std::vector<std::vector<std::string>> out;
        sqlite3_stmt* statement = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, query.c_str(), -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(db_);
        while (sqlite3_step(statement) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                const unsigned char* text = sqlite3_column_text(statement, i);
                row.push_back(text ? reinterpret_cast<const char*>(text) : "<null>");
            }
            out.push_back(row);
        }
        sqlite3_finalize(statement);
        return out;
    }
    void exec(const std::string& sql) {
        EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    }

private:
    sqlite3* db_ = nullptr;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string testFile() { return "store-tests/" + DAVTest::uniqueName("logs") + ".sqlite"; }

TEST(LogStore, LogsSqliteIsAPlainDatabaseOfVersionFive) {
    std::filesystem::remove(DAVUtility::sdkDirectory() + "/Logs.sqlite");
    DAVLogDBStorage storage;
    EXPECT_EQ(storage.dbFileURL(), DAVUtility::sdkDirectory() + "/Logs.sqlite");
    ASSERT_TRUE(storage.saveLog(makeLog("one"), "Analytics", DAVFlagsNormal));

    RawDatabase raw(storage.dbFileURL());
    EXPECT_EQ(raw.rows("PRAGMA user_version")[0][0], "5");
    EXPECT_EQ(raw.rows("SELECT sql FROM sqlite_master WHERE name = 'logs'")[0][0],
              "CREATE TABLE \"logs\" (\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, \"groupId\" TEXT NOT NULL, \"log\" "
              "TEXT NOT NULL, \"targetToken\" TEXT, \"targetKey\" TEXT, \"priority\" INTEGER)");
    EXPECT_EQ(raw.rows("SELECT sql FROM sqlite_master WHERE name = 'ix_logs_priority'")[0][0],
              "CREATE INDEX \"ix_logs_priority\" ON \"logs\" (\"priority\")");
    auto rows = raw.rows("SELECT id, groupId, targetToken, targetKey, priority FROM logs");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "Analytics", "<null>", "<null>", "1"}));
    // The log column is base64 text of one line.
    std::string text = raw.rows("SELECT log FROM logs")[0][0];
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_TRUE(Foundation::base64DecodeStrict(text).has_value());
}

TEST(LogStore, BatchesComeInPriorityThenAgeOrderAndSurviveReopening) {
    const std::string file = testFile();
    {
        DAVLogDBStorage storage(file);
        EXPECT_FALSE(storage.saveLog(nullptr, "Analytics", DAVFlagsNormal));
        ASSERT_TRUE(storage.saveLog(makeLog("n1"), "Analytics", DAVFlagsNormal));
        ASSERT_TRUE(storage.saveLog(makeLog("c1"), "Analytics", DAVFlagsCritical));
        ASSERT_TRUE(storage.saveLog(makeLog("n2"), "Analytics", DAVFlagsNormal | 0x100));
        ASSERT_TRUE(storage.saveLog(makeLog("c2"), "Analytics", DAVFlagsCritical));
        ASSERT_TRUE(storage.saveLog(makeLog("other"), "Crashes", DAVFlagsNormal));
        EXPECT_EQ(storage.countLogs(), 5u);
        Batch first = load(storage, "Analytics", 3);
        EXPECT_EQ(first.markers, (std::vector<std::string>{"c1", "c2", "n1"}));
        EXPECT_TRUE(first.more);
        ASSERT_TRUE(first.batchId);
        EXPECT_TRUE(Foundation::isUUIDString(*first.batchId));
    }
    // Batches live in memory only: after a restart every stored log loads again.
    DAVLogDBStorage reopened(file);
    EXPECT_EQ(reopened.countLogs(), 5u);
    Batch again = load(reopened, "Analytics", 10);
    EXPECT_EQ(again.markers, (std::vector<std::string>{"c1", "c2", "n1", "n2"}));
    EXPECT_FALSE(again.more);
    auto loaded = std::dynamic_pointer_cast<DAVLogWithProperties>(again.logs[0]);
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(loaded->isEqual(*makeLog("c1")));
}

TEST(LogStore, LoadingSkipsLogsHandedOutUntilTheirBatchIsDeleted) {
    DAVLogDBStorage storage(testFile());
    for (int i = 0; i < 51; ++i)
        ASSERT_TRUE(storage.saveLog(makeLog("l" + std::to_string(i)), "Analytics", DAVFlagsNormal));
    Batch first = load(storage, "Analytics", 50);
    EXPECT_EQ(first.logs.size(), 50u);
    EXPECT_TRUE(first.more);
    Batch second = load(storage, "Analytics", 50);
    EXPECT_EQ(second.markers, std::vector<std::string>{"l50"});
    EXPECT_FALSE(second.more);
    Batch empty = load(storage, "Analytics", 50);
    EXPECT_TRUE(empty.logs.empty());
    EXPECT_FALSE(empty.batchId);
    EXPECT_EQ(storage.batches().size(), 2u);

    storage.deleteLogsWithBatchId(*first.batchId, "Analytics");
    EXPECT_EQ(storage.countLogs(), 1u);
    EXPECT_EQ(storage.batches().size(), 1u);
    // An unknown batch or the right id under another group deletes nothing.
    storage.deleteLogsWithBatchId(*second.batchId, "Crashes");
    storage.deleteLogsWithBatchId("no-such-batch", "Analytics");
    EXPECT_EQ(storage.countLogs(), 1u);

    // The largest limit is accepted.
    ASSERT_TRUE(storage.saveLog(makeLog("late"), "Analytics", DAVFlagsNormal));
    Batch all = load(storage, "Analytics", SIZE_MAX);
    EXPECT_EQ(all.markers, std::vector<std::string>{"late"});
    EXPECT_FALSE(all.more);
}

TEST(LogStore, BatchesAreMatchedByExactGroupId) {
    DAVLogDBStorage storage(testFile());
    for (const char* group : {"Analytics", "Analytics_critical", "Analytics/one"})
        for (int i = 0; i < 2; ++i)
            ASSERT_TRUE(storage.saveLog(makeLog(std::string(group) + std::to_string(i)), group, DAVFlagsNormal));

    Batch critical = load(storage, "Analytics_critical", 10);
    Batch collector = load(storage, "Analytics/one", 10);
    ASSERT_EQ(critical.logs.size(), 2u);
    ASSERT_EQ(collector.logs.size(), 2u);

    // Deleting the "Analytics" group forgets only its own batches ...
    auto deleted = storage.deleteLogsWithGroupId("Analytics");
    EXPECT_EQ(deleted.size(), 2u);
    EXPECT_EQ(storage.countLogs(), 4u);
    // ... so the logs in flight of the other groups stay handed out.
    EXPECT_TRUE(load(storage, "Analytics_critical", 10).logs.empty());
    EXPECT_TRUE(load(storage, "Analytics/one", 10).logs.empty());

    // A batch id given with a group that only begins the same way deletes nothing.
    storage.deleteLogsWithBatchId(*critical.batchId, "Analytics");
    EXPECT_EQ(storage.countLogs(), 4u);
    storage.deleteLogsWithBatchId(*critical.batchId, "Analytics_critical");
    EXPECT_EQ(storage.countLogs(), 2u);
}

TEST(LogStore, DeletingAGroupReturnsItsLogs) {
    DAVLogDBStorage storage(testFile());
    ASSERT_TRUE(storage.saveLog(makeLog("a"), "DerAvedur", DAVFlagsNormal));
    ASSERT_TRUE(storage.saveLog(makeLog("b"), "DerAvedur", DAVFlagsNormal));
    ASSERT_TRUE(storage.saveLog(makeLog("c"), "Crashes", DAVFlagsNormal));
    load(storage, "DerAvedur", 1);
    auto deleted = storage.deleteLogsWithGroupId("DerAvedur");
    ASSERT_EQ(deleted.size(), 2u);
    EXPECT_EQ(markerOf(deleted[0]), "a");
    EXPECT_EQ(markerOf(deleted[1]), "b");
    EXPECT_TRUE(storage.batches().empty());
    EXPECT_EQ(storage.countLogs(), 1u);
}

TEST(LogStore, TheTargetTokenIsStoredEncryptedAndComesBackOnLoad) {
    DAVLogDBStorage storage(testFile());
    const std::string token = "keyA-0123456789abcdef-secret";
    ASSERT_TRUE(storage.saveLog(makeCommonSchemaLog("cs", token), "Analytics/one", DAVFlagsCritical));

    RawDatabase raw(storage.dbFileURL());
    auto row = raw.rows("SELECT targetToken, targetKey, priority, log FROM logs")[0];
    EXPECT_EQ(row[1], "keyA");
    EXPECT_EQ(row[2], "2");
    EXPECT_EQ(row[0].find("secret"), std::string::npos);
    EXPECT_EQ(row[0].find(token), std::string::npos);
    auto archived = Foundation::base64DecodeStrict(row[3]);
    ASSERT_TRUE(archived);
    EXPECT_EQ(std::string(archived->begin(), archived->end()).find("secret"), std::string::npos);

    Batch batch = load(storage, "Analytics/one", 10);
    ASSERT_EQ(batch.logs.size(), 1u);
    EXPECT_EQ(batch.logs[0]->transmissionTargetTokens(), std::set<std::string>{token});
}

TEST(LogStore, ExcludedTargetKeysHoldBackTheirLogsAndThoseWithoutKey) {
    DAVLogDBStorage storage(testFile());
    ASSERT_TRUE(storage.saveLog(makeCommonSchemaLog("a1", "keyA-t"), "G", DAVFlagsNormal));
    ASSERT_TRUE(storage.saveLog(makeCommonSchemaLog("b1", "keyB-t"), "G", DAVFlagsNormal));
    ASSERT_TRUE(storage.saveLog(makeLog("plain"), "G", DAVFlagsNormal));
    ASSERT_TRUE(storage.saveLog(makeCommonSchemaLog("c1", "keyC-t"), "G", DAVFlagsNormal));

    EXPECT_EQ(load(storage, "G", 10, std::vector<std::string>{"keyA", "keyC"}).markers, std::vector<std::string>{"b1"});
    EXPECT_EQ(load(storage, "G", 10, std::vector<std::string>{}).markers,
              (std::vector<std::string>{"a1", "plain", "c1"}));
}

TEST(LogStore, UndecodableRowsAreDeletedAndBadTokensReported) {
    DAVLogDBStorage storage(testFile());
    ASSERT_TRUE(storage.saveLog(makeLog("good"), "G", DAVFlagsNormal));
    ASSERT_TRUE(storage.saveLog(makeCommonSchemaLog("badtoken", "keyA-t"), "G", DAVFlagsNormal));
    ASSERT_TRUE(storage.saveLog(makeCommonSchemaLog("emptytoken", "keyB-t"), "G", DAVFlagsNormal));
    {
        RawDatabase raw(storage.dbFileURL());
        raw.exec("INSERT INTO logs (groupId, log, priority) VALUES ('G', 'bm90IGFuIGFyY2hpdmU=', 1)");
        raw.exec("INSERT INTO logs (groupId, log, priority) VALUES ('G', '%%% not base64 %%%', 1)");
        raw.exec("UPDATE logs SET targetToken = 'AAAA' || substr(targetToken, 5) WHERE id = 2");
        raw.exec("UPDATE logs SET targetToken = '' WHERE id = 3");
    }
    DAVTest::MessageRecorder recorder;
    Batch batch = load(storage, "G", 10);
    EXPECT_EQ(batch.markers, (std::vector<std::string>{"good", "badtoken", "emptytoken"}));
    EXPECT_TRUE(batch.logs[1]->transmissionTargetTokens().empty());
    EXPECT_TRUE(recorder.contains(DAVLogLevelError, "Deserialization failed for log with Id 4"));
    EXPECT_TRUE(recorder.contains(DAVLogLevelError, "Deserialization failed for log with Id 5"));
    EXPECT_TRUE(recorder.contains(DAVLogLevelError, "Failed to decrypt the target token for log with Id 2."));
    EXPECT_TRUE(recorder.contains(DAVLogLevelError, "Unexpected empty target token for log with Id 3."));
    EXPECT_EQ(storage.countLogs(), 3u);
}

// Transactions committed to the write-ahead log: its valid frames that end a commit.
std::size_t commits(const std::string& path) {
    const std::string wal = readFile(path + "-wal");
    if (wal.size() < 32) return 0;
    auto word = [&](std::size_t at) {
        const auto* b = reinterpret_cast<const unsigned char*>(wal.data() + at);
        return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3];
    };
    const std::size_t pageSize = word(8);
    std::size_t count = 0;
    for (std::size_t frame = 32; frame + 24 + pageSize <= wal.size(); frame += 24 + pageSize) {
        if (word(frame + 8) != word(16) || word(frame + 12) != word(20)) break;  // an earlier generation
        count += word(frame + 4) != 0;
    }
    return count;
}

TEST(LogStore, LogsSavedTogetherAreCommittedInOneTransaction) {
    DAVLogDBStorage storage(testFile());
    std::vector<DAVLogToStore> logs;
    for (int i = 0; i < 100; ++i) logs.push_back({makeLog("t" + std::to_string(i)), DAVFlagsNormal});
    logs.push_back({nullptr, DAVFlagsNormal});
    const std::size_t before = commits(storage.dbFileURL());
    auto stored = storage.saveLogs(logs, "G", nullptr);
    EXPECT_EQ(commits(storage.dbFileURL()), before + 1);
    EXPECT_EQ(std::count(stored.begin(), stored.end(), true), 100);
    EXPECT_FALSE(stored.back());
    EXPECT_EQ(load(storage, "G", 1000).markers.size(), 100u);
}

TEST(LogStore, ABatchIsReadThroughAnIndexWithoutSortingTheBacklog) {
    DAVLogDBStorage storage(testFile());
    RawDatabase raw(storage.dbFileURL());
    EXPECT_EQ(raw.rows("SELECT sql FROM sqlite_master WHERE name = 'ix_logs_groupId_priority_id'")[0][0],
              "CREATE INDEX \"ix_logs_groupId_priority_id\" ON \"logs\" (\"groupId\", \"priority\" DESC, \"id\")");
    std::string plan;
    for (const auto& row :
         raw.rows("EXPLAIN QUERY PLAN SELECT * FROM \"logs\" WHERE \"groupId\" = 'G' AND \"id\" NOT IN "
                  "(1, 2) ORDER BY \"priority\" DESC, \"id\" ASC LIMIT 51"))
        plan += row.back() + "\n";
    EXPECT_NE(plan.find("USING INDEX ix_logs_groupId_priority_id"), std::string::npos) << plan;
    EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << plan;
}

TEST(LogStore, AnEarlierFileGainsTheIndexAndStaysReadable) {
    const std::string file = testFile();
    auto path = *DAVUtility::fullURLForPathComponent(file);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    {
        RawDatabase raw(path);
        raw.exec(
            "CREATE TABLE \"logs\" (\"id\" INTEGER PRIMARY KEY AUTOINCREMENT, \"groupId\" TEXT NOT NULL, \"log\" "
            "TEXT NOT NULL, \"targetToken\" TEXT, \"targetKey\" TEXT, \"priority\" INTEGER)");
        raw.exec("CREATE INDEX \"ix_logs_priority\" ON \"logs\" (\"priority\")");
        raw.exec("PRAGMA user_version = 5");
    }
    DAVLogDBStorage storage(file);
    ASSERT_TRUE(storage.saveLog(makeLog("kept"), "G", DAVFlagsNormal));
    RawDatabase raw(path);
    EXPECT_EQ(raw.rows("SELECT count(*) FROM sqlite_master WHERE type = 'index'")[0][0], "2");
    EXPECT_EQ(raw.rows("SELECT groupId, priority FROM logs")[0], (std::vector<std::string>{"G", "1"}));
}

// --- capacity -------------------------------------------------------------------

std::int64_t fileSize(const std::string& path) { return static_cast<std::int64_t>(std::filesystem::file_size(path)); }

TEST(LogStoreCapacity, ALogAsLargeAsTheWholeDatabaseIsRefused) {
    DAVLogDBStorage storage(testFile());
    storage.setMaxStorageSize(24576, nullptr);
    ASSERT_EQ(storage.maxSizeInBytes(), 24576);
    // Find the padding whose base64 archive is exactly the maximum size: one
    // padding byte adds about 4/3 base64 bytes, so start from the estimate.
    auto base64Size = [](std::size_t padding) {
        auto data = DAVUtility::archiveKeyedData(Foundation::Value(makeLog("big", padding)));
        return static_cast<long>(Foundation::base64Encode(*data).size());
    };
    const long estimate = 17000 + (24576 - base64Size(17000)) * 3 / 4;
    std::shared_ptr<DAVLogWithProperties> exact;
    for (long padding = estimate - 12; padding <= estimate + 12 && !exact; ++padding)
        if (base64Size(static_cast<std::size_t>(padding)) == 24576)
            exact = makeLog("big", static_cast<std::size_t>(padding));
    ASSERT_TRUE(exact);
    DAVTest::MessageRecorder recorder;
    EXPECT_FALSE(storage.saveLog(exact, "G", DAVFlagsCritical));
    EXPECT_TRUE(recorder.contains(
        DAVLogLevelError,
        "Log is too large (24576 bytes) to store in database. Current maximum database size is 24576 bytes."));
    EXPECT_EQ(storage.countLogs(), 0u);
}

TEST(LogStoreCapacity, EvictionDropsLowestPriorityOldestFirstAndKeepsTheFileWithinItsMaximum) {
    DAVLogDBStorage storage(testFile());
    const std::int64_t maximum = 40960;
    storage.setMaxStorageSize(maximum, nullptr);
    ASSERT_EQ(storage.maxSizeInBytes(), maximum);

    // Two critical logs first, then normal logs until the store is full.
    ASSERT_TRUE(storage.saveLog(makeLog("c0", 1500), "G", DAVFlagsCritical));
    ASSERT_TRUE(storage.saveLog(makeLog("c1", 1500), "Other", DAVFlagsCritical));
    DAVTest::MessageRecorder recorder;
    int stored = 0;
    for (; stored < 200 && !recorder.containsPrefix(DAVLogLevelDebug, "Deleted a log with id"); ++stored)
        ASSERT_TRUE(storage.saveLog(makeLog("n" + std::to_string(stored), 1500), "G", DAVFlagsNormal));
    ASSERT_LT(stored, 200) << "the store never filled up";
    EXPECT_LE(fileSize(storage.dbFileURL()), maximum);

    // The first eviction took the oldest normal log, never a critical one.
    Batch batch = load(storage, "G", 1000);
    ASSERT_GE(batch.markers.size(), 2u);
    EXPECT_EQ(batch.markers[0], "c0");
    EXPECT_EQ(std::find(batch.markers.begin(), batch.markers.end(), "n0"), batch.markers.end());
    EXPECT_NE(std::find(batch.markers.begin(), batch.markers.end(), "n1"), batch.markers.end());
    storage.releaseLogsWithBatchId(*batch.batchId, "G");

    // A critical log evicts normal logs (of any group) before critical ones;
    // the round is told at warning level.
    recorder.clear();
    const std::size_t before = storage.countLogs();
    ASSERT_TRUE(storage.saveLog(makeLog("c2", 3000), "G", DAVFlagsCritical));
    EXPECT_TRUE(recorder.containsPrefix(DAVLogLevelWarning, "Log storage was over capacity, "));
    EXPECT_LE(storage.countLogs(), before);
    Batch afterCritical = load(storage, "Other", 10);
    EXPECT_EQ(afterCritical.markers, std::vector<std::string>{"c1"});
    EXPECT_LE(fileSize(storage.dbFileURL()), maximum);
}

TEST(LogStoreCapacity, EvictedLogsAreHandedBackAndLogsInFlightAreKept) {
    DAVLogDBStorage storage(testFile());
    storage.setMaxStorageSize(40960, nullptr);
    std::vector<DAVLogToStore> first;
    for (int i = 0; i < 4; ++i) first.push_back({makeLog("a" + std::to_string(i), 1500), DAVFlagsNormal});
    std::vector<DAVEvictedLog> none;
    storage.saveLogs(first, "A", &none);
    ASSERT_TRUE(none.empty());
    Batch inFlight = load(storage, "A", 3);
    ASSERT_EQ(inFlight.markers, (std::vector<std::string>{"a0", "a1", "a2"}));

    DAVTest::MessageRecorder recorder;
    std::vector<DAVLogToStore> more;
    for (int i = 0; i < 30; ++i) more.push_back({makeLog("b" + std::to_string(i), 1500), DAVFlagsNormal});
    std::vector<DAVEvictedLog> evicted;
    auto stored = storage.saveLogs(more, "B", &evicted);
    EXPECT_EQ(std::count(stored.begin(), stored.end(), true), 30);
    ASSERT_FALSE(evicted.empty());
    // Oldest first, never a log in flight; one warning for the round.
    EXPECT_EQ(evicted[0].groupId, "A");
    EXPECT_EQ(markerOf(evicted[0].log), "a3");
    for (const auto& entry : evicted) EXPECT_NE(markerOf(entry.log).substr(0, 2), "a0");
    std::size_t warnings = 0;
    for (const auto& message : recorder.messages())
        warnings +=
            message.level == DAVLogLevelWarning && message.text.rfind("Log storage was over capacity, ", 0) == 0;
    EXPECT_EQ(warnings, 1u);
    EXPECT_TRUE(recorder.contains(DAVLogLevelWarning, "Log storage was over capacity, " +
                                                          std::to_string(evicted.size()) +
                                                          " oldest log(s) with equal or lower priority deleted."));
    storage.deleteLogsWithBatchId(*inFlight.batchId, "A");
    EXPECT_EQ(storage.countLogs() + evicted.size(), 34u - 3u);
}

TEST(LogStoreCapacity, ANormalLogCannotEvictCriticalOnes) {
    DAVLogDBStorage storage(testFile());
    storage.setMaxStorageSize(24576, nullptr);
    DAVTest::MessageRecorder recorder;
    int stored = 0;
    while (stored < 100 && storage.saveLog(makeLog("c" + std::to_string(stored), 1500), "G", DAVFlagsCritical)) {
        if (recorder.containsPrefix(DAVLogLevelDebug, "Deleted a log with id")) break;
        ++stored;
    }
    ASSERT_LT(stored, 100);
    const std::size_t count = storage.countLogs();
    recorder.clear();
    EXPECT_FALSE(storage.saveLog(makeLog("normal", 1500), "G", DAVFlagsNormal));
    EXPECT_TRUE(recorder.contains(
        DAVLogLevelError, "Storage is full and no logs with equal or lower priority exist; discarding the log."));
    EXPECT_FALSE(recorder.containsPrefix(DAVLogLevelDebug, "Deleted a log with id"));
    EXPECT_EQ(storage.countLogs(), count);
}

// --- reliability ------------------------------------------------------------------

TEST(LogStoreReliability, AFileThatIsNoDatabaseIsSetAsideAndANewOneUsed) {
    const std::string file = testFile();
    auto path = DAVUtility::fullURLForPathComponent(file);
    std::filesystem::create_directories(std::filesystem::path(*path).parent_path());
    const std::string bytes(10000, '\x42');
    std::ofstream(*path, std::ios::binary) << bytes;
    DAVTest::MessageRecorder recorder;
    DAVLogDBStorage storage(file);
    ASSERT_TRUE(storage.saveLog(makeLog("fresh"), "G", DAVFlagsNormal));
    EXPECT_EQ(load(storage, "G", 5).markers, std::vector<std::string>{"fresh"});
    // Nothing is deleted without a word: the old bytes wait under a timestamped name.
    ASSERT_EQ(storage.setAsideFiles().size(), 1u);
    EXPECT_EQ(storage.setAsideFiles()[0].rfind(*path + ".damaged-", 0), 0u);
    EXPECT_EQ(storage.setAsideFiles()[0].size(), path->size() + std::string(".damaged-20231114-221320").size());
    EXPECT_TRUE(readFile(storage.setAsideFiles()[0]) == bytes);
    EXPECT_TRUE(recorder.containsPrefix(
        DAVLogLevelError, "The database \"" + file + "\" is damaged (SQLite result 26); it was set aside as \""));
}

// The offset of a page in the middle of the "logs" table's leaves.
std::size_t middleLeafPage(const std::string& bytes, std::size_t pageSize) {
    std::vector<std::size_t> leaves;
    for (std::size_t page = 1; (page + 1) * pageSize <= bytes.size(); ++page) {
        const auto* header = reinterpret_cast<const unsigned char*>(bytes.data() + page * pageSize);
        const unsigned cells = header[3] << 8 | header[4];
        if (header[0] == 0x0D && cells >= 2) leaves.push_back(page);
    }
    return leaves.empty() ? 0 : leaves[leaves.size() / 2] * pageSize;
}

TEST(LogStoreReliability, ADamagedPageIsSetAsideAndTheReadableLogsSalvaged) {
    const std::string original = testFile();
    std::vector<std::string> markers;
    {
        DAVLogDBStorage storage(original);
        std::vector<DAVLogToStore> logs;
        for (int i = 0; i < 60; ++i) {
            markers.push_back("m" + std::to_string(i));
            logs.push_back({i % 3
                                ? std::shared_ptr<DAVLog>(makeLog(markers.back()))
                                : std::shared_ptr<DAVLog>(makeCommonSchemaLog(markers.back(), "key-" + markers.back())),
                            DAVFlagsNormal});
        }
        auto stored = storage.saveLogs(logs, "G", nullptr);
        ASSERT_EQ(std::count(stored.begin(), stored.end(), true), 60);
    }
    // A copy of the real store with one leaf of the table overwritten.
    const std::string copy = testFile();
    const std::string copyPath = *DAVUtility::fullURLForPathComponent(copy);
    std::string bytes = readFile(*DAVUtility::fullURLForPathComponent(original));
    const std::size_t damaged = middleLeafPage(bytes, 4096);
    ASSERT_GT(damaged, 0u);
    std::fill(bytes.begin() + static_cast<long>(damaged), bytes.begin() + static_cast<long>(damaged + 4096), '\xff');
    std::ofstream(copyPath, std::ios::binary) << bytes;

    DAVTest::MessageRecorder recorder;
    DAVLogDBStorage storage(copy);
    Batch batch = load(storage, "G", 100);
    ASSERT_EQ(storage.setAsideFiles().size(), 1u);
    EXPECT_TRUE(readFile(storage.setAsideFiles()[0]).substr(damaged, 4096) == std::string(4096, '\xff'));
    EXPECT_TRUE(
        recorder.containsPrefix(DAVLogLevelError, "The database \"" + copy + "\" is damaged (SQLite result 11)"));
    // Only the logs of the damaged page are gone; the rest load, in order, tokens and all.
    EXPECT_GE(batch.markers.size(), 50u);
    EXPECT_LT(batch.markers.size(), 60u);
    EXPECT_TRUE(std::is_sorted(
        batch.markers.begin(), batch.markers.end(),
        [](const std::string& a, const std::string& b) { return std::stoi(a.substr(1)) < std::stoi(b.substr(1)); }));
    for (std::size_t i = 0; i < batch.logs.size(); ++i) {
        if (std::dynamic_pointer_cast<DAVCommonSchemaLog>(batch.logs[i])) {
            EXPECT_EQ(batch.logs[i]->transmissionTargetTokens(), std::set<std::string>{"key-" + batch.markers[i]});
        }
    }
    EXPECT_EQ(storage.countLogs(), batch.markers.size());
    // And the store goes on.
    ASSERT_TRUE(storage.saveLog(makeLog("after"), "G", DAVFlagsNormal));
    storage.deleteLogsWithBatchId(*batch.batchId, "G");
    EXPECT_EQ(load(storage, "G", 100).markers, std::vector<std::string>{"after"});
    RawDatabase raw(storage.dbFileURL());
    EXPECT_EQ(raw.rows("PRAGMA integrity_check")[0][0], "ok");
}

// A damaged header hides every page: the store reads a copy whose header is
// rebuilt from the values it creates files with.
TEST(LogStoreReliability, ADamagedHeaderIsRebuiltAndTheLogsSalvaged) {
    const std::string original = testFile();
    {
        DAVLogDBStorage storage(original);
        std::vector<DAVLogToStore> logs;
        for (int i = 0; i < 60; ++i) logs.push_back({makeLog("m" + std::to_string(i)), DAVFlagsNormal});
        auto stored = storage.saveLogs(logs, "G", nullptr);
        ASSERT_EQ(std::count(stored.begin(), stored.end(), true), 60);
    }
    const std::string bytes = readFile(*DAVUtility::fullURLForPathComponent(original));
    std::string random(100, '\0');
    for (std::size_t i = 0; i < random.size(); ++i) random[i] = static_cast<char>((i * 7919 + 13) % 251);
    const struct {
        const char* name;
        std::string header;
    } cases[] = {{"ones", std::string(100, '\xff')}, {"zeros", std::string(100, '\0')}, {"random", random}};
    for (const auto& damage : cases) {
        SCOPED_TRACE(damage.name);
        const std::string copy = testFile();
        std::string damaged = bytes;
        damaged.replace(0, 100, damage.header);
        std::ofstream(*DAVUtility::fullURLForPathComponent(copy), std::ios::binary) << damaged;
        DAVTest::MessageRecorder recorder;
        DAVLogDBStorage storage(copy);
        ASSERT_EQ(storage.setAsideFiles().size(), 1u);
        EXPECT_TRUE(readFile(storage.setAsideFiles()[0]) == damaged);
        EXPECT_TRUE(recorder.containsPrefix(DAVLogLevelError, "The database \"" + copy + "\" is damaged"));
        EXPECT_EQ(storage.countLogs(), 60u);
        EXPECT_EQ(load(storage, "G", 100).markers.size(), 60u);
        EXPECT_FALSE(std::filesystem::exists(storage.setAsideFiles()[0] + ".salvage"));
    }
}

// Every kind of damage gives back the logs of every page that can still be
// read, whatever tree or header led to them, and each set-aside says so in
// exactly one line naming the kept file: to the SDK's logger, at error
// level, and on standard error.
TEST(LogStoreReliability, EveryKindOfDamageGivesBackTheLogsOfEveryReadablePage) {
    constexpr std::size_t kCount = 240;
    constexpr std::size_t kPage = 4096;
    const std::string original = testFile();
    const std::string path = *DAVUtility::fullURLForPathComponent(original);
    std::vector<DAVLogToStore> logs;
    for (std::size_t i = 0; i < kCount; ++i) logs.push_back({makeLog("m" + std::to_string(i)), DAVFlagsNormal});
    {
        DAVLogDBStorage storage(original);
        auto stored = storage.saveLogs(logs, "G", nullptr);
        ASSERT_EQ(std::count(stored.begin(), stored.end(), true), static_cast<long>(kCount));
    }
    const std::string bytes = readFile(path);
    const std::size_t pages = bytes.size() / kPage;
    // Where each log lies: the page holding its row's archive text.
    std::map<std::string, std::size_t> pageOf;
    std::size_t root = 0;
    {
        RawDatabase raw(path);
        for (const auto& row : raw.rows("SELECT id, log FROM logs")) {
            const std::size_t at = bytes.find(row[1]);
            ASSERT_NE(at, std::string::npos) << "the row of log " << row[0] << " spills over its page";
            pageOf["m" + std::to_string(std::stoll(row[0]) - 1)] = at / kPage;
        }
        root = std::stoul(raw.rows("SELECT rootpage FROM sqlite_master WHERE name = 'logs'")[0][0]) - 1;
    }
    ASSERT_EQ(pageOf.size(), kCount);
    const std::size_t leaf = middleLeafPage(bytes, kPage) / kPage;
    ASSERT_GT(leaf, 0u);
    ASSERT_NE(leaf, root);
    std::string noise(200, '\0');
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919 + 13) % 251);

    // The same logs as a killed launch leaves them: the file and its write-ahead log.
    std::string walBytes, walFile;
    {
        const std::string live = testFile();
        DAVLogDBStorage storage(live);
        auto stored = storage.saveLogs(logs, "G", nullptr);
        ASSERT_EQ(std::count(stored.begin(), stored.end(), true), static_cast<long>(kCount));
        walFile = readFile(storage.dbFileURL());
        walBytes = readFile(storage.dbFileURL() + "-wal");
        ASSERT_GT(walBytes.size(), kCount * 1000);
    }

    struct Damage {
        const char* name;
        std::function<void(std::string&)> apply;
        std::set<std::size_t> lostPages;  // and every page past the end of the damaged file
        bool exact = true;                // false: the rows of lost pages may partly come back
        bool killed = false;              // the killed launch's files, read through their log: nothing to set aside
    };
    const Damage cases[] = {
        {"the first 100 bytes overwritten", [&](std::string& b) { b.replace(0, 100, noise.substr(0, 100)); }, {}},
        {"cut to one page", [&](std::string& b) { b.resize(kPage); }, {}},
        {"cut to half", [&](std::string& b) { b.resize(pages / 2 * kPage); }, {}},
        {"random bytes written into the tree's root and a leaf",
         [&](std::string& b) {
             b.replace(root * kPage, noise.size(), noise);
             b.replace(leaf * kPage + 8, noise.size(), noise);
         },
         {leaf},
         false},
        {"a damaged page in the middle",
         [&](std::string& b) { std::fill(b.begin() + static_cast<long>(leaf * kPage),
                                         b.begin() + static_cast<long>((leaf + 1) * kPage), '\xff'); },
         {leaf}},
        {"the first 100 bytes overwritten after a kill: the write-ahead log holds the first page too",
         [&](std::string& b) { b.replace(0, 100, noise.substr(0, 100)); }, {}, true, true},
    };
    for (const Damage& damage : cases) {
        SCOPED_TRACE(damage.name);
        const std::string copy = testFile();
        const std::string copyPath = *DAVUtility::fullURLForPathComponent(copy);
        std::string damaged = damage.killed ? walFile : bytes;
        damage.apply(damaged);
        std::ofstream(copyPath, std::ios::binary) << damaged;
        if (damage.killed) std::ofstream(copyPath + "-wal", std::ios::binary) << walBytes;
        std::set<std::string> expected;
        for (const auto& [marker, page] : pageOf)
            if (damage.killed || ((page + 1) * kPage <= damaged.size() && !damage.lostPages.count(page)))
                expected.insert(marker);

        DAVTest::MessageRecorder recorder;
        Foundation::DiagnosticsCapture capture;
        DAVLogDBStorage storage(copy);
        const Batch all = load(storage, "G", 10 * kCount);
        const std::set<std::string> loaded(all.markers.begin(), all.markers.end());
        EXPECT_EQ(loaded.size(), all.markers.size()) << "a log came back twice";
        for (const std::string& marker : expected) EXPECT_TRUE(loaded.count(marker)) << marker << " is lost";
        for (const std::string& marker : loaded) EXPECT_TRUE(pageOf.count(marker)) << marker << " was never stored";
        if (damage.exact) {
            EXPECT_EQ(loaded.size(), expected.size());
        }

        if (damage.killed) {
            EXPECT_TRUE(storage.setAsideFiles().empty());
            continue;
        }
        ASSERT_EQ(storage.setAsideFiles().size(), 1u);
        const std::string kept = storage.setAsideFiles()[0];
        std::size_t logged = 0;
        for (const auto& message : recorder.messages())
            if (message.text.find(kept) != std::string::npos) {
                ++logged;
                EXPECT_EQ(message.level, DAVLogLevelError);
                const std::string salvaged = damage.exact ? std::to_string(loaded.size()) + " row(s) salvaged"
                                                          : " row(s) salvaged";
                EXPECT_NE(message.text.find(salvaged), std::string::npos) << message.text;
            }
        EXPECT_EQ(logged, 1u);
        const auto lines = capture.systemLogLines();
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [&](const std::string& line) { return line.find(kept) != std::string::npos; }),
                  1);
        EXPECT_TRUE(readFile(kept) == damaged) << "the kept file was changed";
        EXPECT_FALSE(std::filesystem::exists(kept + ".salvage"));
        RawDatabase raw(storage.dbFileURL());
        EXPECT_EQ(raw.rows("PRAGMA integrity_check")[0][0], "ok");
    }
}

TEST(LogStoreReliability, AnOlderSchemaLosesItsLogsTable) {
    const std::string file = testFile();
    auto path = *DAVUtility::fullURLForPathComponent(file);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    {
        RawDatabase raw(path);
        raw.exec("CREATE TABLE logs (id INTEGER PRIMARY KEY, groupId TEXT, log TEXT, priority INTEGER)");
        raw.exec("INSERT INTO logs (groupId, log, priority) VALUES ('G', 'old', 1)");
        raw.exec("PRAGMA user_version = 4");
    }
    DAVLogDBStorage storage(file);
    EXPECT_EQ(storage.countLogs(), 0u);
    ASSERT_TRUE(storage.saveLog(makeCommonSchemaLog("new", "k-t"), "G", DAVFlagsNormal));
    RawDatabase raw(path);
    EXPECT_EQ(raw.rows("PRAGMA user_version")[0][0], "5");
    EXPECT_EQ(raw.rows("SELECT count(*) FROM sqlite_master WHERE name = 'ix_logs_priority'")[0][0], "1");
    EXPECT_EQ(raw.rows("SELECT targetKey FROM logs")[0][0], "k");
}

TEST(LogStoreReliability, AProcessKilledWhileStoringLeavesEveryCommittedLogReadable) {
    const std::string file = testFile();
    auto storage = std::make_unique<DAVLogDBStorage>(file);
    DAVLogger::setLogHandler(nullptr);

    int progress[2];
    ASSERT_EQ(::pipe(progress), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(progress[0]);
        // Store until killed, telling the parent after every committed log.
        for (std::uint32_t i = 0; i < 100000; ++i) {
            if (!storage->saveLog(makeLog("k" + std::to_string(i)), "G", DAVFlagsNormal)) ::_exit(2);
            if (::write(progress[1], &i, sizeof i) != sizeof i) ::_exit(3);
        }
        ::_exit(0);
    }
    ::close(progress[1]);
    std::uint32_t lastCommitted = 0;
    std::uint32_t received = 0;
    bool killed = false;
    std::uint32_t value = 0;
    while (::read(progress[0], &value, sizeof value) == sizeof value) {
        lastCommitted = value;
        if (++received == 150 && !killed) {
            ::kill(child, SIGKILL);
            killed = true;
        }
    }
    ::close(progress[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    DAVLogger::resetForTesting();
    ASSERT_TRUE(killed);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended before it was killed";

    storage.reset();
    DAVLogDBStorage reopened(file);
    RawDatabase raw(reopened.dbFileURL());
    EXPECT_EQ(raw.rows("PRAGMA integrity_check")[0][0], "ok");
    Batch all = load(reopened, "G", 1000000);
    ASSERT_GE(all.markers.size(), lastCommitted + 1);
    for (std::uint32_t i = 0; i <= lastCommitted; ++i) EXPECT_EQ(all.markers[i], "k" + std::to_string(i));
}

}  // namespace
